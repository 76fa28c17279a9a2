#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One app per app folder and user session, when the main application's boot
// file says <item key="singleInstance" value="forward"/>: the first launcher
// owns the folder for its whole launch cycle and gives every start the inbox
// folder in LAUNCHER_INBOX; a later launcher leaves its working directory and
// arguments there as one request and starts nothing.

// The boot file's key and its two values; each unit has its own copy, as of
// the seven keys.
const std::string singleInstanceKey = "singleInstance";
const std::string singleInstanceForward = "forward";
const std::string singleInstanceIgnore = "ignore";

// Names in the inbox. The app handles the files whose names end in
// requestSuffix and nothing else there; processIdFile holds the running
// child's process id in decimal.
extern const wchar_t inboxVariable[];
extern const wchar_t requestSuffix[];
extern const wchar_t processIdFile[];

enum AppFolderRole {
    roleAlone,      // the boot file does not ask, or the inbox cannot be used: start as always
    roleOwner,      // the first launcher: it runs the cycle, its children get LAUNCHER_INBOX
    roleForwarded,  // the running app has the request: start nothing
};

// Whether the boot file at configPath says singleInstance=forward. Read
// without a diagnostic line; a file that cannot be read says no, and its
// launch reports it as ever.
bool singleInstanceWanted(const std::string& configPath);

// For the launcher's folder (appDirUtf8): roleAlone when the boot file at
// configPath does not ask. Otherwise the first launcher becomes the owner; a
// later one writes its request, lets the running app take the foreground and
// gets roleForwarded. A launcher that finds the owner ending looks again
// within a second and forwards to whichever launcher owns the folder by then,
// or becomes the owner itself. Writes a diagnostic line for each role but the
// first.
AppFolderRole takeAppFolderRole(const std::string& configPath, const std::vector<std::wstring>& arguments);

// What the launch cycle tells the owner; for the other roles nothing. Before
// the app is started: the requests there are now are the ones it finds at
// its start.
void noteAppStarting();
// A child (the app or the updater) runs: its process id goes into the inbox.
void noteChildStarted(DWORD processId);
// The child has ended: its process id goes, and so do the requests the app
// found at its start that are still there.
void noteChildEnded();

// At the end of the cycle: true when requests came while the app ran or the
// cycle ended, so the app is to start once more and find them; otherwise the
// owner gives up the folder, and the next launcher becomes the owner.
bool requestsWaiting();

// The owner gives up the folder (before a box, and at the launcher's end);
// requests that came during the cycle stay for the next owner's app.
void leaveAppFolder();

// The text that names the folder's owner and inbox: the same for every
// spelling of one folder that Windows takes as the same (case, a short name),
// different for different folders, and no backslash in it.
std::wstring appFolderId(const std::wstring& appFolder);

// A request's bytes: UTF-8, the working directory and then each argument, each
// followed by one NUL byte.
std::string requestText(const std::wstring& workingDir, const std::vector<std::wstring>& arguments);

// The name of the request with this number; names sort as their numbers do.
std::wstring requestName(unsigned long long number);
// The number in a request's name; 0 for any other name.
unsigned long long requestNumber(const std::wstring& name);
