#include "value_checks.hpp"

#include "check_text.hpp"
#include "code_page.hpp"
#include "program_file.hpp"
#include "utf8.hpp"

#include "boot_reading.hpp"
#include "launcher_args.hpp"
#include "java.hpp"
#include "single_instance.hpp"

#include <boost/filesystem/operations.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace fs = boost::filesystem;

static const std::map<std::string, std::string> keyAliases = {
    {"classpath", jop_cp},     {"class-path", jop_cp},    {"class_path", jop_cp},
    {"mainclass", jop_main},   {"main-class", jop_main},  {"main_class", jop_main},
    {"javapath", jop_java},    {"java-path", jop_java},   {"java_path", jop_java},
    {"java.exe", jop_java},    {"javaexe", jop_java},     {"jvm", jop_java},
    {"arg", jop_args},         {"arguments", jop_args},   {"jvmargs", jop_args},
    {"jvm-args", jop_args},    {"vmargs", jop_args},      {"vmoptions", jop_args},
    {"launcher-args", launcherArgsKey}, {"launcher_args", launcherArgsKey}, {"launcherarg", launcherArgsKey},
    {"launcherarguments", launcherArgsKey}, {"forwardargs", launcherArgsKey},
};

static std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string probableKey(const std::string& key) {
    std::string plain = lowered(trimmed(key));
    plain.erase(0, plain.find_first_not_of('-'));
    std::vector<std::string> known = bootKeys;
    known.push_back(launcherArgsKey);
    known.push_back(singleInstanceKey);
    for (const std::string& wanted : known) {
        std::string wantedPlain = lowered(wanted);
        wantedPlain.erase(0, wantedPlain.find_first_not_of('-'));
        if (plain == wantedPlain) {
            return wanted;
        }
    }
    std::map<std::string, std::string>::const_iterator alias = keyAliases.find(plain);
    return alias == keyAliases.end() ? std::string() : alias->second;
}

bool isJvmSize(const std::string& value) {
    size_t digits = 0;
    while (digits < value.size() && std::isdigit(static_cast<unsigned char>(value[digits]))) {
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    return digits == value.size() ||
           (digits + 1 == value.size() && std::string("kKmMgGtT").find(value[digits]) != std::string::npos);
}

// Bytes of a size in the JVM's syntax; saturates rather than overflowing.
unsigned long long jvmSizeBytes(const std::string& value) {
    const unsigned long long limit = ~0ULL;
    unsigned long long number = 0;
    size_t i = 0;
    for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])); ++i) {
        unsigned digit = static_cast<unsigned>(value[i] - '0');
        number = number > (limit - digit) / 10 ? limit : number * 10 + digit;
    }
    int shift = 0;
    if (i < value.size()) {
        shift = 10 * static_cast<int>(std::string("kmgt").find(static_cast<char>(std::tolower(value[i]))) + 1);
    }
    return number > (limit >> shift) ? limit : number << shift;
}

static bool isIdentifierStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// A binary class name: identifiers joined by dots (java accepts slashes too).
bool isClassName(const std::string& name) {
    bool atStart = true;
    for (char c : name) {
        if (c == '.' || c == '/') {
            if (atStart) {
                return false;
            }
            atStart = true;
        } else if (atStart ? isIdentifierStart(c) : (isIdentifierStart(c) || std::isdigit(static_cast<unsigned char>(c)))) {
            atStart = false;
        } else {
            return false;
        }
    }
    return !atStart;
}

void checkValueText(BootFileReport& report, const std::string& key, const std::string& value, long line,
                    unsigned codePage) {
    std::string label = "the " + key + " value";
    if (value.find_first_of("\r\n") != std::string::npos) {
        addFinding(report, line, BC209,
                   label + " holds a line end, which stays inside a word of the command line; keep the value on one line");
    }
    if (value.find('\t') != std::string::npos) {
        addFinding(report, line, BC209,
                   label + " holds a tab, which splits words like a blank; write a blank or nothing");
    }
    if (!value.empty() && (isXmlBlank(value.front()) || isXmlBlank(value.back()))) {
        addFinding(report, line, BC210,
                   label + " " + inQuotes(value) + " has leading or trailing blanks, which the launcher keeps; remove them");
    }
    std::vector<std::pair<std::string, uint32_t> > characters;
    bool utf8 = true;
    for (size_t i = 0; i < value.size();) {
        uint32_t codePoint;
        size_t length = decodeUtf8(reinterpret_cast<const unsigned char*>(value.data()) + i, value.size() - i,
                                   codePoint);
        if (length == 0) {
            utf8 = false;
            break;
        }
        if (length > 1) {
            characters.push_back(std::make_pair(value.substr(i, length), codePoint));
        }
        i += length;
    }
    if (!utf8) {
        addFinding(report, line, BC211,
                   label + " holds bytes outside ASCII that are not UTF-8; the launcher passes them unchanged, " +
                       "so Windows reads them in its ANSI code page and they mean something else on a Windows " +
                       "with another one; save the boot file as UTF-8");
        return;
    }
    if (codePage == 0) {
        return;
    }
    std::string missing;
    std::vector<std::string> named;
    for (const std::pair<std::string, uint32_t>& character : characters) {
        if (std::find(named.begin(), named.end(), character.first) != named.end() ||
            codePageHolds(codePage, character.first)) {
            continue;
        }
        named.push_back(character.first);
        char number[16];
        std::snprintf(number, sizeof number, "U+%04lX", static_cast<unsigned long>(character.second));
        missing += (missing.empty() ? "" : ", ") + inQuotes(character.first) + " (" + number + ")";
    }
    if (!missing.empty()) {
        addFinding(report, line, BC215,
                   label + " holds characters that code page " + std::to_string(codePage) +
                       " cannot hold: " + missing + "; java reads its command line in that code page, so it " +
                       "receives \"?\" in their place; use characters of that code page");
    }
}

// &name; for a name other than the five the reader decodes reaches java as written.
void checkEntities(BootFileReport& report, const std::string& key, const std::string& rawValue, long line) {
    static const char* const decoded[] = {"lt;", "gt;", "amp;", "quot;", "apos;"};
    for (size_t amp = rawValue.find('&'); amp != std::string::npos; amp = rawValue.find('&', amp + 1)) {
        size_t end = amp + 1;
        while (end < rawValue.size() && (std::isalnum(static_cast<unsigned char>(rawValue[end])) ||
                                          rawValue[end] == '_' || rawValue[end] == '-' || rawValue[end] == '.')) {
            ++end;
        }
        if (end == amp + 1 || end >= rawValue.size() || rawValue[end] != ';') {
            continue;
        }
        std::string name = rawValue.substr(amp + 1, end - amp);
        bool known = false;
        for (const char* entity : decoded) {
            known = known || name == entity;
        }
        if (!known) {
            std::string reference = rawValue.substr(amp, end - amp + 1);
            addFinding(report, line, BC216,
                       "the " + key + " value holds " + inQuotes(reference) + ", an entity reference the reader " +
                           "does not decode, so java receives it as written; write the character itself, or " +
                           "&amp;" + reference.substr(1) + " to keep the text");
        }
    }
}

void checkHeap(BootFileReport& report, const std::map<std::string, std::string>& values,
                      const std::map<std::string, long>& lines) {
    for (const std::string& key : {jop_Xmn, jop_Xms, jop_Xmx}) {
        const std::string& value = values.at(key);
        if (value.empty()) {
            addFinding(report, lines.at(key), BC203,
                       key + " is empty, so java receives the bare option " + inQuotes(key) +
                           " and refuses to start; write a size such as " + inQuotes(key == jop_Xmn ? "16m" : "64m"));
        } else if (!isJvmSize(value)) {
            addFinding(report, lines.at(key), BC203,
                       key + " value " + inQuotes(value) + " is not a JVM size, so java refuses to start; " +
                           "write digits with an optional k, m, g or t, such as \"512m\"");
        }
    }
    const std::string& xmx = values.at(jop_Xmx);
    if (!isJvmSize(xmx)) {
        return;
    }
    for (const std::string& key : {jop_Xms, jop_Xmn}) {
        const std::string& value = values.at(key);
        if (isJvmSize(value) && jvmSizeBytes(value) > jvmSizeBytes(xmx)) {
            std::string effect = key == jop_Xms ? "java refuses to start" : "java shrinks the young generation to fit";
            addFinding(report, lines.at(key), BC204,
                       key + " " + value + " is larger than -Xmx " + xmx + ", so " + effect + "; make " + key +
                           " at most " + xmx);
        }
    }
}

void checkMainClass(BootFileReport& report, const std::string& value, long line) {
    std::string name = trimmed(value);
    name = name.substr(0, name.find_first_of(" \t"));
    if (name.empty()) {
        addFinding(report, line, BC205,
                   "no main class: the command line ends without one, so java prints its usage and ends with 1, " +
                       std::string("which the launcher reports with a box showing this file's path; ") +
                       "write value=\"com.example.Main\" in the item with key \"main\"");
    } else if (!isClassName(name) || endsWith(name, ".class") || endsWith(name, ".java")) {
        std::string hint = endsWith(name, ".class") || endsWith(name, ".java")
                               ? "leave out the " + inQuotes(name.substr(name.rfind('.'))) + " ending"
                               : std::string("write the class's full name with dots, such as \"com.example.Main\"");
        addFinding(report, line, BC205,
                   "main class " + inQuotes(name) + " is not a Java class name, so java cannot load it; " + hint);
    }
}

void checkClassPath(BootFileReport& report, const std::string& value, long line) {
    const std::vector<std::string>& arguments = report.arguments;
    size_t option = 1;
    while (option < arguments.size() && arguments[option] != "-cp") {
        ++option;
    }
    if (option >= arguments.size()) {
        return;
    }
    if (trimmed(value).empty()) {
        std::string effect = option + 1 < arguments.size()
                                 ? "java takes the next word " + inQuotes(shownPath(arguments[option + 1])) + " as the class path"
                                 : std::string("-cp is the last word and java refuses to start");
        addFinding(report, line, BC214,
                   "the -cp value is empty, so " + effect + "; write the class path, such as \"lib" + folderSeparator() + "app.jar\"");
        return;
    }
    if (option + 1 >= arguments.size()) {
        return;
    }
    std::string classPath = arguments[option + 1];
    size_t start = 0;
    for (;;) {
        size_t end = classPath.find(classPathSeparator, start);
        std::string entry = classPath.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!entry.empty()) {
            char beforeStar = entry.size() > 1 ? entry[entry.size() - 2] : 0;
            bool wildcard = entry == "*" || (endsWith(entry, "*") &&
                                             (isFileSeparator(beforeStar) || beforeStar == folderSeparator()[0]));
            std::string target = wildcard ? entry.substr(0, entry.size() - 1) : entry;
            if (!isAbsolutePath(target)) {
                target = report.workingDirectory + fileSep + target;
            }
            // An entry on a drive of the Windows machine is not judged here.
            std::string local = localPath(target);
            boost::system::error_code ignored;
            bool present = local.empty() || (wildcard ? fs::is_directory(local, ignored) : fs::exists(local, ignored));
            if (!present) {
                std::string hint = entry.find("${") != std::string::npos
                                       ? "placeholders are replaced only in the java value, so write the path relative to that folder"
                                       : std::string("correct the name, or write it relative to that folder");
                addFinding(report, line, BC206,
                           "class-path entry " + inQuotes(shownPath(entry)) + " does not exist in " +
                               shownPath(report.workingDirectory) +
                               ", the folder the launcher starts java in; " + hint);
            }
        }
        if (end == std::string::npos) {
            return;
        }
        start = end + 1;
    }
}


void checkCommandLineLength(BootFileReport& report, size_t length) {
    if (length >= commandLineLimit) {
        addFinding(report, 0, BC113,
                   "the command line is " + std::to_string(length) + " characters long; Windows " +
                       "refuses 32,767 or more, so the launcher cannot start java there; shorten the class path " +
                       "(a folder/* wildcard) or the args");
    }
}

void checkLauncherArgs(BootFileReport& report, const BootError& failure, const BootItem* last) {
    const char* effect = "the launcher ignores it and passes none of its own arguments to java";
    if (failure.failure == bootItemWithoutValue && last != NULL) {
        addFinding(report, last->line, BC117,
                   "the item with key " + inQuotes(launcherArgsKey) + " has no value attribute, so " + effect +
                       "; write value=\"append\" or remove the item");
        return;
    }
    if (last != NULL && last->value != launcherArgsAppend && last->value != launcherArgsIgnore) {
        addFinding(report, last->valueLine, BC117,
                   "launcherArgs value " + inQuotes(last->value) + " is neither \"append\" nor \"ignore\", so " +
                       effect + "; write value=\"append\"");
    }
}

void checkSingleInstance(BootFileReport& report, const BootError& failure, const BootItem* last, bool updater) {
    if (last == NULL) {
        return;
    }
    if (updater) {
        addFinding(report, last->line, BC218,
                   "the updater's boot file does not decide singleInstance: the launcher reads it from the main "
                   "application's boot file only; remove the item here and write it there");
    } else if (failure.failure == bootItemWithoutValue) {
        addFinding(report, last->line, BC118,
                   "the item with key " + inQuotes(singleInstanceKey) + " has no value attribute, so the launcher " +
                       "ignores it and every launch starts another app; write value=\"forward\" or remove the item");
    } else if (last->value != singleInstanceForward && last->value != singleInstanceIgnore) {
        addFinding(report, last->valueLine, BC118,
                   "singleInstance value " + inQuotes(last->value) + " is neither \"forward\" nor \"ignore\", so " +
                       "the launcher ignores it and every launch starts another app; write value=\"forward\", " +
                       "and only for an app that reads its inbox");
    }
}
