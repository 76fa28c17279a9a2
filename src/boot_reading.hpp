#pragma once

#include "launcher_args.hpp"
#include "xml_util.hpp"

#include <map>
#include <string>
#include <vector>

// The seven keys of a boot file, in the order the launcher looks them up.
extern const std::vector<std::string> bootKeys;

// What a start reads a boot file with: the launcher passes its own, a checker
// the ones of the launcher it stands for.
struct StartInputs {
    std::string appDir;     // what ${APP_DIR} stands for
    std::string parentDir;  // what ${PARENT_DIR} stands for
    std::vector<std::wstring> launcherArgs;
    unsigned codePage;      // the ANSI code page java reads its command line in; 0: the system's
};

// The inputs of a start of this launcher: its folder and arguments, the system's code page.
StartInputs launcherStartInputs(const std::vector<std::wstring>& launcherArgs);

// What reading one boot file decided, for the launcher and for bootcheck,
// which prints it and works none of it out again.
struct BootReading {
    BootError error;                            // failure bootRead when a command line was made
    std::map<std::string, std::string> values;  // each key's value as the file gives it (UTF-8);
                                                // the optional keys only where an item gives them
    std::map<std::string, int> valueItems;      // the item each value comes from (BootError::item's
                                                // count), for each key looked up; -1: none
    std::string program;                        // the java path as the command line begins with it
    bool forwardsArguments;                     // launcherArgs is "append"
    BootError forwardingError;                  // why launcherArgs could not be read (bootRead: it could);
                                                // the launcher then forwards nothing
    BootError singleInstanceError;              // likewise for singleInstance: every start is then alone
    std::vector<ForwardedArgument> arguments;   // the launcher's, as they follow the main class
    std::string commandLine;                    // ANSI text in the inputs' code page
    size_t commandLineLength;                   // in the UTF-16 units Windows counts
    // The LAUNCHER_* variables the child gets, when the file forwards arguments.
    std::vector<std::pair<std::wstring, std::wstring> > childVariables;
};

// Reads configPath as the launcher does, with the placeholders standing for
// the inputs' folders, and assembles the Java command line in the inputs'
// code page, launcherArgs after the main class when the file asks for them.
// inspect, when given, sees the parsed document. Writes nothing.
BootReading readBootFile(const std::string& configPath, const StartInputs& start,
                         const XmlInspector& inspect = XmlInspector());

// The text of the error replacePlaceholders throws when a placeholder would
// insert a folder that holds a double quote.
extern const char folderQuoteRefusal[];
// The java value with ${APP_DIR} and ${PARENT_DIR} replaced by start's folders
// in one left-to-right pass; inserted text is never scanned again. For a value that begins with a
// placeholder, programEnd is where the value's own first blank or tab stands in
// the result (its end when there is none); npos for any other value. Throws
// std::runtime_error when a folder it inserts holds a double quote.
std::string replacePlaceholders(const std::string& javaValue, size_t& programEnd, const StartInputs& start);
// The java path as the first word of the command line. A path holding no double
// quote and a blank or tab that as a whole names an existing file (on Windows
// also with ".exe" appended) is quoted whole. Otherwise, with programEnd from
// replacePlaceholders, the part before programEnd is quoted when it holds a
// blank or tab. Anything else stays unchanged.
std::string quoteJavaPath(const std::string& javaPath, size_t programEnd = std::string::npos);
