#pragma once

#include "boot_layout.hpp"

#include "xml_util.hpp"
#include "findings.hpp"

#include <map>
#include <string>
#include <vector>

// Checks on the values of a boot file: sizes, main class, class path, text,
// entities and the length of the command line they make.

// One of the seven keys that key differs from only in case, blanks or dashes,
// or that it is a common alias of; empty when none.
std::string probableKey(const std::string& key);
// A size in the JVM's syntax: digits with an optional k, m, g or t.
bool isJvmSize(const std::string& value);
// Bytes of a size in the JVM's syntax; saturates rather than overflowing.
unsigned long long jvmSizeBytes(const std::string& value);
// A binary class name: identifiers joined by dots (java accepts slashes too).
bool isClassName(const std::string& name);

// Line ends, tabs, blanks around, bytes that are not UTF-8, and characters
// that codePage (0: none) cannot hold.
void checkValueText(BootFileReport& report, const std::string& key, const std::string& value, long line,
                    unsigned codePage);
void checkEntities(BootFileReport& report, const std::string& key, const std::string& rawValue, long line);
void checkHeap(BootFileReport& report, const std::map<std::string, std::string>& values,
               const std::map<std::string, long>& lines);
void checkMainClass(BootFileReport& report, const std::string& value, long line);
void checkClassPath(BootFileReport& report, const std::string& value, long line);
// length in the UTF-16 units Windows counts.
void checkCommandLineLength(BootFileReport& report, size_t length);
// launcherArgs as the launcher read it: failure, and last, the item that
// failed (an item without a value) or the one whose value it took; a value
// other than "append" and "ignore".
void checkLauncherArgs(BootFileReport& report, const BootError& failure, const BootItem* last);
// BC118 for a singleInstance item the launcher cannot use (failure and last as
// for checkLauncherArgs); BC218 for the item in the updater's boot file, which
// does not decide.
void checkSingleInstance(BootFileReport& report, const BootError& failure, const BootItem* last, bool updater);
