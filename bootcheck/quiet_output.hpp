#pragma once

// While bootcheck runs the launcher's reader, the launcher's own diagnostic
// lines (written through stdio or std::cout) go to the null device, so
// bootcheck's output holds only its own lines. Returns what restoring needs.
int quietStandardOutput();
void restoreStandardOutput(int saved);
