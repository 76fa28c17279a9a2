#pragma once

#include "launcher_args.hpp"
#include "xml_util.hpp"

#include <map>
#include <string>
#include <vector>

// The seven keys of a boot file, in the order the launcher looks them up.
extern const std::vector<std::string> bootKeys;

// What reading one boot file found, for the launcher and for bootcheck.
struct BootReading {
    BootError error;                            // failure bootRead when a command line was made
    std::map<std::string, std::string> values;  // each key's value as the file gives it (UTF-8);
                                                // launcherArgs only where an item gives it
    std::string program;                        // the java path as the command line begins with it
    bool forwardsArguments;                     // launcherArgs is "append"
    std::vector<ForwardedArgument> arguments;   // the launcher's, as they follow the main class
    std::string commandLine;
};

// Reads configPath as the launcher does, with the placeholders standing for
// the globals appDir and parentDir, and assembles the Java command line in the
// ANSI code page, launcherArgs after the main class when the file asks for
// them. inspect, when given, sees the parsed document.
BootReading readBootFile(const std::string& configPath,
                         const std::vector<std::wstring>& launcherArgs = std::vector<std::wstring>(),
                         const XmlInspector& inspect = XmlInspector());

// The text of the error replacePlaceholders throws when a placeholder would
// insert a folder that holds a double quote.
extern const char folderQuoteRefusal[];
// The java value with ${APP_DIR} and ${PARENT_DIR} replaced in one left-to-right
// pass; inserted text is never scanned again. For a value that begins with a
// placeholder, programEnd is where the value's own first blank or tab stands in
// the result (its end when there is none); npos for any other value. Throws
// std::runtime_error when a folder it inserts holds a double quote.
std::string replacePlaceholders(const std::string& javaValue, size_t& programEnd);
// The java path as the first word of the command line. A path holding no double
// quote and a blank or tab that as a whole names an existing file (on Windows
// also with ".exe" appended) is quoted whole. Otherwise, with programEnd from
// replacePlaceholders, the part before programEnd is quoted when it holds a
// blank or tab. Anything else stays unchanged.
std::string quoteJavaPath(const std::string& javaPath, size_t programEnd = std::string::npos);
