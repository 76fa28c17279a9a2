#pragma once

#include <string>

// Where update.exe keeps its files in an app folder, and how the launcher
// hands over to it. The launcher, update and makesetup all ask here.
//
// Relative paths ("updater/update-url.txt") use "/" as the manifests do;
// the ...Of functions give full paths below appDir (which ends in fileSep).

// The files makesetup installs beside update.exe.
extern const char updateProgramName[];     // "updater/update.exe"
extern const char updateKeyName[];         // "updater/update-key.pem": the public key manifests must be signed with
extern const char updateUrlName[];         // "updater/update-url.txt": the feed's URL, one line
extern const char updateInstalledName[];   // "updater/update-installed.txt": the installed version's manifest
// What update.exe writes: its working folder (never in a manifest, never
// swept) and the outcome the app reads after the restart.
extern const char updateStateName[];       // "updater/update-state"
extern const char lastUpdateName[];        // "updater/last-update.txt"
// The installer's record of what it installed, at the top of the app folder;
// an update rewrites its files and code folders.
extern const char installerManifestName[];  // "install-manifest.txt"

std::string updateStateDirOf(const std::string& appDir);
// The journal of a swap in progress or on trial: while it exists, the launcher
// runs the updater before it starts the app and after the app ended.
std::string updateJournalOf(const std::string& appDir);

// Whether relative (a manifest's path, "/" between names) is one of the
// update's own files that no update replaces or removes: the state folder and
// last-update.txt.
bool isUpdateOwnFile(const std::string& relative);

// The hand-over: the launcher runs the updater through its boot file as
// always, with LAUNCHER_UPDATE_STEP set to what it is asked to do.
extern const char updateStepVariable[];    // "LAUNCHER_UPDATE_STEP"
extern const char updateStepFinish[];      // "finish": before the app starts, finish or undo a swap
extern const char updateStepEnded[];       // "ended": the app ended; see the two below
extern const char appExitCodeVariable[];   // "LAUNCHER_APP_EXIT_CODE": its exit code
extern const char appSecondsVariable[];    // "LAUNCHER_APP_SECONDS": how long it ran, whole seconds
// Unset (the app exited 21): look for an update and install it.
