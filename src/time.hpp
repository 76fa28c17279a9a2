#pragma once

// Prints the local date and time, with the daylight-saving flag, on standard output. Returns 0.
int getYYYYMMDDhhmmss();
