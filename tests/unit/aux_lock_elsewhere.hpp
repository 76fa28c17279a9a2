// A competitor for a file lock: another process on POSIX, where record locks
// belong to the process, and another handle on Windows, where they belong to
// the handle. Either way fileLock's own lock must lose against it.
#pragma once

#include <string>

// Takes the lock on the whole file and keeps it until unlockElsewhere; false if it could not.
bool lockElsewhere(const std::string& filePath);
void unlockElsewhere();

// Whether a competitor could take the lock right now (it lets go at once).
bool canLockElsewhere(const std::string& filePath);
