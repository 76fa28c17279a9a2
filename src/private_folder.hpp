#pragma once

#include <string>

// Folders of the current user alone, for what other users must neither read
// nor plant (the inbox of a running app, which may lie in a shared temp
// folder).

// Whether path is a folder, not a link to one, owned by this user, and letting
// in nobody else (the system and administrators aside).
bool isPrivateFolder(const std::wstring& path);

// Makes the folder at path, owned by this user and open to this user only
// (mode 0700 natively). False when it cannot, or something is there already.
bool makePrivateFolder(const std::wstring& path);

// Removes what path names, as itself: a link or a file, or a folder with the
// files in it; never what a link points to.
void removeFolderEntry(const std::wstring& path);
