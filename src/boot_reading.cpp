#include "boot_reading.hpp"

#include "base.hpp"
#include "base_win.hpp"
#include "const.hpp"
#include "file.hpp"
#include "java.hpp"
#include "single_instance.hpp"
#include "text_classes.hpp"

#include <stdexcept>

const std::vector<std::string> bootKeys = {jop_java, jop_Xmn, jop_Xms, jop_Xmx, jop_cp, jop_args, jop_main};

static bool isExistingFile(const std::string& path) {
    char* pathChars = stringToChar(path);
    int exists = fileExists(pathChars);
    delete[] pathChars;
    return exists == TRUE;
}

const char folderQuoteRefusal[] = "the launcher's folder holds a double quote, so no quoting names the java program";

StartInputs launcherStartInputs(const std::vector<std::wstring>& launcherArgs) {
    return StartInputs{appDir, parentDir, launcherArgs, 0};
}

std::string replacePlaceholders(const std::string& javaValue, size_t& programEnd, const StartInputs& start) {
    std::string javaPath;
    bool leadingFolder = false;
    programEnd = std::string::npos;
    for (size_t i = 0; i < javaValue.size();) {
        const std::string* folder = NULL;
        size_t tokenLength = 0;
        if (javaValue.compare(i, sizeof REP_APP_DIR - 1, REP_APP_DIR) == 0) {
            folder = &start.appDir;
            tokenLength = sizeof REP_APP_DIR - 1;
        } else if (javaValue.compare(i, sizeof REP_PARENT_DIR - 1, REP_PARENT_DIR) == 0) {
            folder = &start.parentDir;
            tokenLength = sizeof REP_PARENT_DIR - 1;
        }
        if (folder != NULL) {
            // A quote in the folder would end or start quoting inside the path.
            if (folder->find('"') != std::string::npos) {
                throw std::runtime_error(folderQuoteRefusal);
            }
            leadingFolder = leadingFolder || i == 0;
            javaPath += *folder;
            i += tokenLength;
            continue;
        }
        if (leadingFolder && programEnd == std::string::npos && isWordBlank(javaValue[i])) {
            programEnd = javaPath.size();
        }
        javaPath += javaValue[i++];
    }
    if (leadingFolder && programEnd == std::string::npos) {
        programEnd = javaPath.size();
    }
    return javaPath;
}

std::string quoteJavaPath(const std::string& javaPath, size_t programEnd) {
    bool hasBlank = javaPath.find_first_of(" \t") != std::string::npos;
    if (javaPath.find('"') == std::string::npos && hasBlank) {
#ifdef _WIN32
        // CreateProcessA also tries the name with ".exe" appended.
        bool names = isExistingFile(javaPath) || isExistingFile(javaPath + ".exe");
#else
        bool names = isExistingFile(javaPath);
#endif
        if (names) {
            return '"' + javaPath + '"';
        }
    }
    // Unquoted, a blank in the inserted folder would end the program name there
    // and the system would run whatever that shorter name finds.
    if (programEnd != std::string::npos && programEnd <= javaPath.size()) {
        std::string program = javaPath.substr(0, programEnd);
        if (program.find_first_of(" \t") != std::string::npos) {
            return '"' + program + '"' + javaPath.substr(programEnd);
        }
    }
    return javaPath;
}

// A key beyond the seven: a file without it, or with an item that lacks its
// value, reads as it always has. Empty when no item gives it or error says why
// it could not be read.
static std::string optionalValue(const boost::property_tree::ptree& pt, const std::string& key,
                                 BootReading& reading, BootError& error) {
    std::string value;
    int& item = reading.valueItems[key] = -1;
    if (!findXmlValue(pt, key, value, error, &item) || value.empty()) {
        return "";
    }
    return reading.values[key] = value;
}

BootReading readBootFile(const std::string& configPath, const StartInputs& start, const XmlInspector& inspect) {
    BootReading reading{BootError{bootRead, "", 0}, {}, {}, "", false, BootError{bootRead, "", 0},
                        BootError{bootRead, "", 0}, {}, "", 0, {}};
    boost::property_tree::ptree pt;
    if (!readBootTree(configPath, pt, reading.error, inspect)) {
        return reading;
    }
    // The first failure decides; the later keys are still looked up, so a
    // checker knows which item each one would come from.
    for (const std::string& key : bootKeys) {
        BootError error;
        int& item = reading.valueItems[key] = -1;
        if (!findXmlValue(pt, key, reading.values[key], error, &item) && reading.error.failure == bootRead) {
            reading.error = error;
        }
    }
    reading.forwardsArguments =
        optionalValue(pt, launcherArgsKey, reading, reading.forwardingError) == launcherArgsAppend;
    optionalValue(pt, singleInstanceKey, reading, reading.singleInstanceError);
    if (reading.error.failure != bootRead) {
        return reading;
    }
    std::map<std::string, std::string> ansi;
    for (const std::string& key : bootKeys) {
        ansi[key] = utf8ToAnsi(reading.values[key], start.codePage);
    }

    // Converted before the folders go in: they are in the ANSI code page already.
    size_t programEnd;
    std::string javaPath;
    try {
        javaPath = replacePlaceholders(ansi[jop_java], programEnd, start);
    } catch (const std::runtime_error& e) {
        reading.error = BootError{bootFolderQuote, e.what(), 0};
        return reading;
    }
    reading.program = quoteJavaPath(javaPath, programEnd);
    std::string javaOption = jop_Xmn + ansi[jop_Xmn] + " " + jop_Xms + ansi[jop_Xms] + " " + jop_Xmx + ansi[jop_Xmx];
    reading.commandLine =
        reading.program + " " + javaOption + " -cp " + ansi[jop_cp] + " " + ansi[jop_args] + " " + ansi[jop_main];
    if (reading.forwardsArguments) {
        for (const std::wstring& argument : start.launcherArgs) {
            reading.arguments.push_back(forwardedArgument(argument, start.codePage));
            reading.commandLine += " " + quoteForJava(reading.arguments.back().ansi, start.codePage);
        }
        reading.childVariables = launcherVariables(start.launcherArgs);
    }
    reading.commandLineLength = commandLineUnits(reading.commandLine, start.codePage);
    return reading;
}
