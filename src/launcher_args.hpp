#pragma once

#include <string>
#include <vector>

// The launcher's own arguments, forwarded to java when a boot file asks for it
// with <item key="launcherArgs" value="append"/>.

// The boot file's key and its two values; each unit has its own copy, as of
// the seven keys, so tables built at start-up can use them.
const std::string launcherArgsKey = "launcherArgs";
const std::string launcherArgsAppend = "append";
const std::string launcherArgsIgnore = "ignore";
// Windows refuses a command line of this many characters or more.
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

ForwardedArgument forwardedArgument(const std::wstring& argument);

// argument in quotes, so that java's splitter gives it back as one word,
// blanks, quotes, backslashes, "*" and "?" included, and expands no wildcard.
std::string quoteForJava(const std::string& argument);

// The length of an ANSI command line in the characters Windows counts.
size_t commandLineCharacters(const std::string& commandLine);

// Notes which LAUNCHER_ARGC and LAUNCHER_ARGn variables the launcher was
// given, before any start changes them.
void rememberGivenEnvironment();
// Sets the variables for a child: LAUNCHER_ARGC and LAUNCHER_ARG1..n holding
// arguments exactly when forward is true, the launcher's own environment
// otherwise. No other LAUNCHER_ARGn reaches a child that gets arguments.
void prepareChildEnvironment(bool forward, const std::vector<std::wstring>& arguments);
