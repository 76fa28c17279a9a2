#pragma once

// Probes whether filePath can be locked within about a second and releases it
// again; prints "file locked." or the reason it could not. Returns OK.
int fileLock(const char* filePath);
