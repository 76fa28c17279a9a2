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
