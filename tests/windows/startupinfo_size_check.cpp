// Compiled in both Windows builds: CreateProcessA reads the size field of the
// startup record, which must be the record's real size, 68 bytes on 32-bit.
#include <windows.h>

#ifdef _WIN64
static_assert(sizeof(STARTUPINFOA) == 104, "64-bit STARTUPINFOA is 104 bytes");
#else
static_assert(sizeof(STARTUPINFOA) == 68, "32-bit STARTUPINFOA is 68 bytes");
#endif
