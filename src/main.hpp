#pragma once

#include <string>
#include <vector>

// Command line assembled from the most recent boot file that was read successfully.
extern std::string javaCommandLine;
// Exit code by which the main application asks for an update.
extern int EXIT_doUpdate;
// The launcher's own arguments, and whether the most recent boot file read
// successfully appends them to its command line.
extern std::vector<std::wstring> launcherArgs;
extern bool javaTakesLauncherArgs;

int launchMainApp();
int launchUpdater();
int launchJava(std::string currentDir, std::string configPath, int doWait);
// Runs the command line updaterPath in the current directory and waits; returns execute's result.
int moduleUpdate(const std::string& updaterPath);
void readBootXml(const std::string& configPath);
