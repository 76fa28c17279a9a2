#pragma once

#include <string>

// Command line assembled from the most recent boot file that was read successfully.
extern std::string javaCommandLine;
// Exit code by which the main application asks for an update.
extern int EXIT_doUpdate;

int launchMainApp();
int launchUpdater();
int launchJava(std::string currentDir, std::string configPath, int doWait);
// Runs the command line updaterPath in the current directory and waits; returns execute's result.
int moduleUpdate(const std::string& updaterPath);
void readBootXml(const std::string& configPath);
// The text of the error readBootXml throws when a placeholder would insert a
// folder that holds a double quote.
extern const char folderQuoteRefusal[];
// The java value with ${APP_DIR} and ${PARENT_DIR} replaced in one left-to-right
// pass; inserted text is never scanned again. For a value that begins with a
// placeholder, programEnd is where the value's own first blank or tab stands in
// the result (its end when there is none); npos for any other value. Throws
// when a folder it inserts holds a double quote.
std::string replacePlaceholders(const std::string& javaValue, size_t& programEnd);
// The java path as the first word of the command line. A path holding no double
// quote and a blank or tab that as a whole names an existing file (on Windows
// also with ".exe" appended) is quoted whole. Otherwise, with programEnd from
// replacePlaceholders, the part before programEnd is quoted when it holds a
// blank or tab. Anything else stays unchanged.
std::string quoteJavaPath(const std::string& javaPath, size_t programEnd = std::string::npos);
