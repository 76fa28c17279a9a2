#pragma once

#include <string>
#include <utility>
#include <vector>

// The launcher's own arguments, forwarded to java when a boot file asks for it
// with <item key="launcherArgs" value="append"/>.

// The boot file's key and its two values; each unit has its own copy, as of
// the seven keys, so tables built at start-up can use them.
const std::string launcherArgsKey = "launcherArgs";
const std::string launcherArgsAppend = "append";
const std::string launcherArgsIgnore = "ignore";
// Windows refuses a command line of this many UTF-16 units or more.
const size_t commandLineLimit = 32767;

// The launcher's arguments after its program name: on Windows from the wide
// command line, split as CommandLineToArgvW splits it (the CRT's narrow argv
// has already lost what the ANSI code page lacks); elsewhere argv's bytes.
std::vector<std::wstring> launcherArguments(int argc, char* argv[]);

// The words of a Windows command line as CommandLineToArgvW gives them,
// the program name first.
std::vector<std::wstring> splitWindowsCommandLine(const std::wstring& commandLine);

// How an argument goes onto the java command line, which java (javaw.exe or
// java.exe) reads in the ANSI code page.
enum ArgumentForm {
    argumentExact,      // converts exactly
    argumentShortName,  // the short (8.3) name of the file or folder it names
    argumentLossy,      // "?" for what the code page lacks
};

struct ForwardedArgument {
    std::string ansi;  // the text java reads
    ArgumentForm form;
};

// The form argument takes in codePage (0: the system's ANSI code page).
ForwardedArgument forwardedArgument(const std::wstring& argument, unsigned codePage = 0);

// argument, ANSI text in codePage, in quotes, so that java's splitter gives it
// back as one word, blanks, quotes, backslashes, "*" and "?" included, and
// expands no wildcard.
std::string quoteForJava(const std::string& argument, unsigned codePage = 0);

// Whether c starts a double-byte character in codePage: its next byte is no
// backslash or quote, whatever its value.
bool isLeadByte(unsigned codePage, char c);

// The length of a command line, ANSI text in codePage, in the UTF-16 units
// Windows counts against commandLineLimit.
size_t commandLineUnits(const std::string& commandLine, unsigned codePage = 0);

// LAUNCHER_ARGC and LAUNCHER_ARG1..n holding arguments exactly: what a child
// that gets forwarded arguments finds in its environment.
std::vector<std::pair<std::wstring, std::wstring> > launcherVariables(const std::vector<std::wstring>& arguments);

// Notes which LAUNCHER_ARGC and LAUNCHER_ARGn variables the launcher was
// given, before any start changes them.
void rememberGivenEnvironment();
// Sets the variables for a child: LAUNCHER_ARGC and LAUNCHER_ARG1..n holding
// arguments exactly when forward is true, the launcher's own environment
// otherwise. No other LAUNCHER_ARGn reaches a child that gets arguments.
void prepareChildEnvironment(bool forward, const std::vector<std::wstring>& arguments);
