#include "check_boot_file.hpp"

#include "boot_layout.hpp"
#include "code_page.hpp"
#include "program_file.hpp"
#include "quiet_output.hpp"
#include "report.hpp"
#include "posix/command_line.hpp"

#include "base.hpp"
#include "base_win.hpp"
#include "const.hpp"
#include "java.hpp"
#include "main.hpp"
#include "xml_util.hpp"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ios>
#include <map>

namespace fs = boost::filesystem;

unsigned checkedCodePage = 0;

static const std::vector<std::string> wantedKeys = {jop_java, jop_Xmn, jop_Xms, jop_Xmx,
                                                    jop_cp,   jop_args, jop_main};

// Windows refuses a command line of 32,767 characters or more (terminator included).
static const size_t longestCommandLine = 32766;

static const std::map<std::string, std::string> keyAliases = {
    {"classpath", jop_cp},     {"class-path", jop_cp},    {"class_path", jop_cp},
    {"mainclass", jop_main},   {"main-class", jop_main},  {"main_class", jop_main},
    {"javapath", jop_java},    {"java-path", jop_java},   {"java_path", jop_java},
    {"java.exe", jop_java},    {"javaexe", jop_java},     {"jvm", jop_java},
    {"arg", jop_args},         {"arguments", jop_args},   {"jvmargs", jop_args},
    {"jvm-args", jop_args},    {"vmargs", jop_args},      {"vmoptions", jop_args},
};

static std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

static bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

static std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

static std::string trimmed(const std::string& text) {
    size_t start = 0;
    size_t end = text.size();
    while (start < end && isBlank(text[start])) {
        ++start;
    }
    while (end > start && isBlank(text[end - 1])) {
        --end;
    }
    return text.substr(start, end - start);
}

// One of the seven keys that key differs from only in case, blanks or dashes,
// or that it is a common alias of; empty when none.
static std::string probableKey(const std::string& key) {
    std::string plain = lowered(trimmed(key));
    plain.erase(0, plain.find_first_not_of('-'));
    for (const std::string& wanted : wantedKeys) {
        std::string wantedPlain = lowered(wanted);
        wantedPlain.erase(0, wantedPlain.find_first_not_of('-'));
        if (plain == wantedPlain) {
            return wanted;
        }
    }
    std::map<std::string, std::string>::const_iterator alias = keyAliases.find(plain);
    return alias == keyAliases.end() ? std::string() : alias->second;
}

static bool isJvmSize(const std::string& value) {
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
static unsigned long long jvmSizeBytes(const std::string& value) {
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
static bool isClassName(const std::string& name) {
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

static bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

static bool isFolderSeparator(char c) {
    return c == fileSep[0] || c == '/';
}

enum ProgramState { programFound, programMissing, programFolder, programNotExecutable };

static ProgramState probeFile(const std::string& path) {
    boost::system::error_code ignored;
    fs::file_status status = fs::status(path, ignored);
    if (!fs::exists(status)) {
        return programMissing;
    }
    if (fs::is_directory(status)) {
        return programFolder;
    }
    return isExecutableFile(path) ? programFound : programNotExecutable;
}

// What the system makes of the program word: the file it would run and its state.
static ProgramState probeProgram(const std::string& program, std::string& file) {
    file = programFileName(program);
    if (hasFolderPart(program)) {
        return probeFile(file);
    }
    for (const std::string& folder : programSearchFolders(appDir)) {
        std::string candidate = folder + (isFolderSeparator(folder.back()) ? "" : fileSep) + file;
        boost::system::error_code ignored;
        if (fs::is_regular_file(candidate, ignored)) {
            file = candidate;
            return probeFile(candidate);
        }
    }
    return programMissing;
}

enum ReadingOutcome { readingDone, readingUnreadable, readingRefused, readingLookupFailed, readingFolderQuote };

struct LauncherReading {
    ReadingOutcome outcome;
    std::string message;
    long line;
    std::map<std::string, std::string> values;
};

static void readAsLauncher(const std::string& configPath, LauncherReading& reading) {
    try {
        readBootXml(configPath);
        boost::property_tree::ptree tree = readConfigXml(configPath);
        for (const std::string& key : wantedKeys) {
            reading.values[key] = getXmlValue(tree, key);
        }
    } catch (const boost::property_tree::xml_parser_error& e) {
        bool unreadable = e.message() == "cannot open file" || e.message() == "read error" ||
                          e.message() == "not a regular file";
        reading.outcome = unreadable ? readingUnreadable : readingRefused;
        reading.message = e.message();
        reading.line = static_cast<long>(e.line());
    } catch (const boost::property_tree::ptree_bad_path& e) {
        reading.outcome = readingLookupFailed;
        reading.message = e.what();
    } catch (const std::ios_base::failure& e) {
        reading.outcome = readingUnreadable;
        reading.message = e.what();
    } catch (const std::exception& e) {
        reading.outcome = std::strcmp(e.what(), folderQuoteRefusal) == 0 ? readingFolderQuote : readingRefused;
        reading.message = e.what();
    }
}

static const char configurationErrorBox[] = "the launcher shows the configuration-error box and starts nothing";

static const BootItem* lastItemWithKey(const BootLayout& layout, const std::string& key);

static void reportReadingFailure(BootFileReport& report, const LauncherReading& reading, const BootLayout& layout) {
    bool lookup = reading.outcome == readingLookupFailed;
    if (reading.outcome == readingFolderQuote) {
        const BootItem* java = lastItemWithKey(layout, jop_java);
        addFinding(report, java != NULL ? java->valueLine : 0, "BC116",
                   "the app folder " + inQuotes(appDir) + " holds a double quote, which no quoting of the java " +
                       "path can carry, so " + configurationErrorBox + "; move the app to a folder without " +
                       "\" in its name");
    } else if (reading.outcome == readingUnreadable) {
        addFinding(report, 0, "BC101",
                   "cannot read the boot file (" + reading.message + "), so " + configurationErrorBox +
                       "; create it or make it readable");
    } else if (reading.outcome == readingRefused && reading.line > 0) {
        addFinding(report, reading.line, "BC102",
                   "the XML reader stops here: " + reading.message + "; " + configurationErrorBox +
                       "; correct the file at this line");
    } else if (lookup && reading.message == "No such node (boot)") {
        long line = layout.topElements.empty() ? 0 : layout.topElements[0].line;
        std::string found = layout.topElements.empty() ? "" : " (the top-level element is <" + layout.topElements[0].name + ">)";
        addFinding(report, line, "BC103",
                   "no top-level <boot> element" + found + ", so " + configurationErrorBox +
                       "; put the items inside <boot> ... </boot>");
    } else if (lookup && reading.message == "No such node (<xmlattr>.key)") {
        long line = 0;
        for (const BootItem& item : layout.items) {
            line = line == 0 && !item.hasKey ? item.line : line;
        }
        addFinding(report, line, "BC104",
                   std::string("this <item> has no key attribute, and one such item anywhere in <boot> makes ") +
                       "the launcher reject the file: it shows the configuration-error box; add key=\"...\" or remove the item");
    } else if (lookup && reading.message == "No such node (<xmlattr>.value)") {
        // The lookups run key by key in this order, each over all items.
        for (const std::string& key : wantedKeys) {
            for (const BootItem& item : layout.items) {
                if (item.hasKey && item.key == key && !item.hasValue) {
                    addFinding(report, item.line, "BC105",
                               "the item with key " + inQuotes(key) + " has no value attribute, so " +
                                   configurationErrorBox + " (also when a later item has one); add value=\"...\"");
                    return;
                }
            }
        }
        addFinding(report, 0, "BC105", std::string("an item with a wanted key has no value attribute, so ") +
                                           configurationErrorBox + "; add value=\"...\"");
    } else {
        addFinding(report, 0, "BC102",
                   "the launcher's reader refuses the file: " + reading.message + "; " + configurationErrorBox);
    }
}

static const BootItem* lastItemWithKey(const BootLayout& layout, const std::string& key) {
    const BootItem* last = NULL;
    for (const BootItem& item : layout.items) {
        if (item.hasKey && item.key == key) {
            last = &item;
        }
    }
    return last;
}

static void checkLayout(BootFileReport& report, const BootLayout& layout) {
    if (layout.mismatchLine != 0) {
        addFinding(report, layout.mismatchLine, "BC212",
                   "end tag </" + layout.mismatchName + "> does not match the element it closes; the reader " +
                       "accepts it, so the file may not say what you meant; write the matching end tag");
    }
    if (layout.topElements.size() > 1) {
        bool usedSeen = false;
        for (const TopElement& element : layout.topElements) {
            if (!usedSeen && element.line == layout.bootLine && element.name == "boot") {
                usedSeen = true;
            } else if (element.name == "boot") {
                addFinding(report, element.line, "BC213",
                           "a second top-level <boot> is ignored: the launcher reads only the first one (line " +
                               std::to_string(layout.bootLine) + "); move its items into that one");
            } else {
                addFinding(report, element.line, "BC213",
                           "the top-level element <" + element.name + "> is ignored: the launcher reads only " +
                               "<boot>; a boot file has that one top-level element");
            }
        }
    }
    for (const BootItem& item : layout.items) {
        if (!item.hasKey) {
            continue;
        }
        bool wanted = false;
        for (const std::string& key : wantedKeys) {
            wanted = wanted || item.key == key;
        }
        std::string meant = wanted ? std::string() : probableKey(item.key);
        if (meant.empty()) {
            continue;
        }
        const BootItem* used = lastItemWithKey(layout, meant);
        std::string effect = used == NULL ? "; as it stands, " + meant + " is empty"
                                          : "; the item with key " + inQuotes(meant) + " on line " +
                                                std::to_string(used->line) + " is the one used";
        addFinding(report, item.keyLine, "BC201",
                   "key " + inQuotes(item.key) + " is not read (keys are exact and case-sensitive)" + effect +
                       "; write key=" + inQuotes(meant));
    }
    for (const std::string& key : wantedKeys) {
        const BootItem* last = lastItemWithKey(layout, key);
        for (const BootItem& item : layout.items) {
            if (item.hasKey && item.key == key && &item != last) {
                addFinding(report, item.line, "BC202",
                           "key " + inQuotes(key) + " is given again on line " + std::to_string(last->line) +
                               ", and the last one wins (" + inQuotes(last->value) + "); remove the item you do not mean");
            }
        }
    }
}

static void checkValueText(BootFileReport& report, const std::string& key, const std::string& value, long line) {
    std::string label = "the " + key + " value";
    if (value.find_first_of("\r\n") != std::string::npos) {
        addFinding(report, line, "BC209",
                   label + " holds a line end, which stays inside a word of the command line; keep the value on one line");
    }
    if (value.find('\t') != std::string::npos) {
        addFinding(report, line, "BC209",
                   label + " holds a tab, which splits words like a blank; write a blank or nothing");
    }
    if (!value.empty() && (isBlank(value.front()) || isBlank(value.back()))) {
        addFinding(report, line, "BC210",
                   label + " " + inQuotes(value) + " has leading or trailing blanks, which the launcher keeps; remove them");
    }
    std::vector<std::string> characters;
    bool utf8 = true;
    for (size_t i = 0; i < value.size();) {
        size_t length = static_cast<unsigned char>(value[i]) < 0x80 ? 1 : utf8Length(value, i);
        if (length == 0) {
            utf8 = false;
            break;
        }
        if (length > 1) {
            characters.push_back(value.substr(i, length));
        }
        i += length;
    }
    if (!utf8) {
        addFinding(report, line, "BC211",
                   label + " holds bytes outside ASCII that are not UTF-8; the launcher passes them unchanged, " +
                       "so Windows reads them in its ANSI code page and they mean something else on a Windows " +
                       "with another one; save the boot file as UTF-8");
        return;
    }
    if (checkedCodePage == 0) {
        return;
    }
    std::string missing;
    std::vector<std::string> named;
    for (const std::string& character : characters) {
        if (std::find(named.begin(), named.end(), character) != named.end() ||
            codePageHolds(checkedCodePage, character)) {
            continue;
        }
        named.push_back(character);
        unsigned long codePoint = static_cast<unsigned char>(character[0]) & (0x7F >> character.size());
        for (size_t k = 1; k < character.size(); ++k) {
            codePoint = codePoint << 6 | (static_cast<unsigned char>(character[k]) & 0x3F);
        }
        char number[16];
        std::snprintf(number, sizeof number, "U+%04lX", codePoint);
        missing += (missing.empty() ? "" : ", ") + inQuotes(character) + " (" + number + ")";
    }
    if (!missing.empty()) {
        addFinding(report, line, "BC215",
                   label + " holds characters that code page " + std::to_string(checkedCodePage) +
                       " cannot hold: " + missing + "; java reads its command line in that code page, so it " +
                       "receives \"?\" in their place; use characters of that code page");
    }
}

// &name; for a name other than the five the reader decodes reaches java as written.
static void checkEntities(BootFileReport& report, const std::string& key, const std::string& rawValue, long line) {
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
            addFinding(report, line, "BC216",
                       "the " + key + " value holds " + inQuotes(reference) + ", an entity reference the reader " +
                           "does not decode, so java receives it as written; write the character itself, or " +
                           "&amp;" + reference.substr(1) + " to keep the text");
        }
    }
}

static void checkHeap(BootFileReport& report, const std::map<std::string, std::string>& values,
                      const std::map<std::string, long>& lines) {
    for (const std::string& key : {jop_Xmn, jop_Xms, jop_Xmx}) {
        const std::string& value = values.at(key);
        if (value.empty()) {
            addFinding(report, lines.at(key), "BC203",
                       key + " is empty, so java receives the bare option " + inQuotes(key) +
                           " and refuses to start; write a size such as " + inQuotes(key == jop_Xmn ? "16m" : "64m"));
        } else if (!isJvmSize(value)) {
            addFinding(report, lines.at(key), "BC203",
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
            addFinding(report, lines.at(key), "BC204",
                       key + " " + value + " is larger than -Xmx " + xmx + ", so " + effect + "; make " + key +
                           " at most " + xmx);
        }
    }
}

static void checkMainClass(BootFileReport& report, const std::string& value, long line) {
    std::string name = trimmed(value);
    name = name.substr(0, name.find_first_of(" \t"));
    if (name.empty()) {
        addFinding(report, line, "BC205",
                   "no main class: the command line ends without one, so java prints its usage and ends with 1, " +
                       std::string("which the launcher reports with a box showing this file's path; ") +
                       "write value=\"com.example.Main\" in the item with key \"main\"");
    } else if (!isClassName(name) || endsWith(name, ".class") || endsWith(name, ".java")) {
        std::string hint = endsWith(name, ".class") || endsWith(name, ".java")
                               ? "leave out the " + inQuotes(name.substr(name.rfind('.'))) + " ending"
                               : std::string("write the class's full name with dots, such as \"com.example.Main\"");
        addFinding(report, line, "BC205",
                   "main class " + inQuotes(name) + " is not a Java class name, so java cannot load it; " + hint);
    }
}

static void checkClassPath(BootFileReport& report, const std::string& value, long line) {
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
                                 ? "java takes the next word " + inQuotes(arguments[option + 1]) + " as the class path"
                                 : std::string("-cp is the last word and java refuses to start");
        addFinding(report, line, "BC214",
                   "the -cp value is empty, so " + effect + "; write the class path, such as \"lib" + fileSep + "app.jar\"");
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
            bool wildcard = entry == "*" || (endsWith(entry, "*") && isFolderSeparator(entry[entry.size() - 2]));
            std::string target = wildcard ? entry.substr(0, entry.size() - 1) : entry;
            if (!isAbsolutePath(target)) {
                target = report.workingDirectory + fileSep + target;
            }
            boost::system::error_code ignored;
            bool present = wildcard ? fs::is_directory(target, ignored) : fs::exists(target, ignored);
            if (!present) {
                std::string hint = entry.find("${") != std::string::npos
                                       ? "placeholders are replaced only in the java value, so write the path relative to that folder"
                                       : std::string("correct the name, or write it relative to that folder");
                addFinding(report, line, "BC206",
                           "class-path entry " + inQuotes(entry) + " does not exist in " + report.workingDirectory +
                               ", the folder the launcher starts java in; " + hint);
            }
        }
        if (end == std::string::npos) {
            return;
        }
        start = end + 1;
    }
}

static const unsigned consoleSubsystem = 3;  // IMAGE_SUBSYSTEM_WINDOWS_CUI

// The Subsystem field of a PE image's optional header (at the same offset in
// PE32 and PE32+); 0 for a file that is no PE image.
static unsigned peSubsystem(const std::string& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    unsigned char dos[64] = {};
    if (!file.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
        return 0;
    }
    unsigned long peOffset = dos[0x3C] | dos[0x3D] << 8 | dos[0x3E] << 16 | static_cast<unsigned long>(dos[0x3F]) << 24;
    // Signature (4), file header (20), then the optional header's Subsystem at 68.
    unsigned char header[4 + 20 + 70] = {};
    if (!file.seekg(static_cast<std::streamoff>(peOffset)) || !file.read(reinterpret_cast<char*>(header), sizeof header) ||
        std::memcmp(header, "PE\0\0", 4) != 0) {
        return 0;
    }
    unsigned magic = header[24] | header[25] << 8;
    if (magic != 0x10B && magic != 0x20B) {
        return 0;
    }
    return header[24 + 68] | header[24 + 69] << 8;
}

static std::string javaSample() {
    return programFileName(std::string("${APP_DIR}jre") + fileSep + "bin" + fileSep + "java");
}

// The java word as the launcher wrote it: the command line less what follows it.
static std::string javaWordOf(const std::string& commandLine, const std::map<std::string, std::string>& values) {
    // The launcher converts each value before joining them.
    std::string rest = " " + jop_Xmn + utf8ToAnsi(values.at(jop_Xmn)) + " " + jop_Xms + utf8ToAnsi(values.at(jop_Xms)) +
                       " " + jop_Xmx + utf8ToAnsi(values.at(jop_Xmx)) + " -cp " + utf8ToAnsi(values.at(jop_cp)) + " " +
                       utf8ToAnsi(values.at(jop_args)) + " " + utf8ToAnsi(values.at(jop_main));
    return endsWith(commandLine, rest) ? commandLine.substr(0, commandLine.size() - rest.size()) : std::string();
}

static void checkJava(BootFileReport& report, const std::string& value, const std::string& javaWord, long line) {
    std::string program = report.arguments.empty() ? std::string() : report.arguments[0];
    std::string file;
    ProgramState state = probeProgram(program, file);
    // Quotes the value does not begin with are the launcher's: around the whole
    // path, or around the part a leading placeholder starts.
    bool quotedByLauncher = !javaWord.empty() && javaWord[0] == '"' && (value.empty() || value[0] != '"');
    std::string path = trimmed(javaWord);

    if (!quotedByLauncher && path.find('"') == std::string::npos && path.find_first_of(" \t") != std::string::npos) {
        // The blank belongs to the path when a longer piece of the value names a program.
        std::vector<std::string> pieces;
        for (size_t blank = path.find_first_of(" \t", program.size() + 1); blank != std::string::npos;
             blank = path.find_first_of(" \t", blank + 1)) {
            pieces.push_back(path.substr(0, blank));
        }
        pieces.push_back(path);
        bool longerExists = false;
        for (const std::string& piece : pieces) {
            std::string pieceFile;
            longerExists = longerExists || probeProgram(piece, pieceFile) == programFound;
        }
        if (state == programFound && longerExists) {
            addFinding(report, line, "BC115",
                       "the java value holds a blank and no quotes, and the launcher leaves it unquoted (it does not " +
                           std::string("begin with ${APP_DIR} or ${PARENT_DIR}, and as written it names no file), ") +
                           "so the system runs " + inQuotes(file) + ", another program (CWE-428), with the rest of " +
                           "the value as its arguments; put the path in quotes without trailing blanks, such as " +
                           "value=\"&quot;" + javaSample() + "&quot;\"");
        } else if (state != programFound || longerExists) {
            addFinding(report, line, "BC207",
                       "the java value holds a blank and no quotes, so the program is " + inQuotes(program) +
                           " (a file planted at " + inQuotes(programFileName(program)) + " would run: CWE-428) " +
                           "and the rest of the value becomes java's arguments; put the path in quotes, such as " +
                           "value=\"&quot;" + javaSample() + "&quot;\"");
        }
    }
    if (!program.empty() && hasFolderPart(program) && !isAbsolutePath(program)) {
        addFinding(report, line, "BC208",
                   "the java path " + inQuotes(program) + " is relative, so it is looked up from the folder the " +
                       "launcher is started in, not from the app folder; write value=\"${APP_DIR}" +
                       (program.compare(0, 2, std::string(".") + fileSep) == 0 ? program.substr(2) : program) + "\"");
    }
    std::string sample = javaSample();
    if (trimmed(value).empty()) {
        addFinding(report, line, "BC110",
                   "the java value is empty, so the program is " + inQuotes(program) +
                       ", which the launcher cannot start: it shows a box with this file's path; write value=" +
                       inQuotes(sample));
    } else if (state == programMissing && quotedByLauncher) {
        addFinding(report, line, "BC114",
                   "the java program " + inQuotes(file) + " does not exist; the launcher quotes its path, since " +
                       "the app folder holds a blank, so no other program runs: it shows a box with this file's " +
                       "path; write the path of java, such as value=" + inQuotes(sample));
    } else if (state == programMissing) {
        std::string where = hasFolderPart(program) ? "does not exist" : "is not found where the system searches (PATH)";
        addFinding(report, line, "BC110",
                   "the java program " + inQuotes(file) + " " + where + ", so the launcher cannot start it and " +
                       "shows a box with this file's path; write the path of java, such as value=" + inQuotes(sample));
    } else if (state == programFolder) {
        addFinding(report, line, "BC111",
                   "the java program " + inQuotes(file) + " is a folder, so the launcher cannot start it and " +
                       "shows a box with this file's path; name the java program inside it, such as value=" + inQuotes(sample));
    } else if (state == programNotExecutable) {
        addFinding(report, line, "BC112",
                   "the java program " + inQuotes(file) + " is not an executable file, so the launcher cannot start it " +
                       "and shows a box with this file's path; name the java program itself");
    }
    if ((state == programFound || state == programNotExecutable) && peSubsystem(file) == consoleSubsystem) {
        std::string javaw = std::string("${APP_DIR}jre") + fileSep + "bin" + fileSep + "javaw.exe";
        addFinding(report, line, "BC217",
                   "the java program " + inQuotes(file) + " is a console program, so Windows opens a console " +
                       "window beside the app for as long as it runs; for an app with windows of its own write " +
                       "javaw.exe, such as value=" + inQuotes(javaw) + " (java.exe suits a console app, or " +
                       "seeing java's output)");
    }
}

BootFileReport checkBootFile(const std::string& role, const std::string& configPath,
                             const std::string& workingDirectory) {
    BootFileReport report{role, configPath, workingDirectory, {}, false, "", {}};

    // The launcher's reader writes the file's path on standard output; that
    // line is the launcher's diagnostic, not bootcheck's.
    int console = quietStandardOutput();
    LauncherReading reading{readingDone, "", 0, {}};
    readAsLauncher(configPath, reading);
    restoreStandardOutput(console);
    std::string commandLine = javaCommandLine;

    BootLayout layout{false, {}, 0, {}, 0, ""};
    // Only a file the reader parsed is parsed again: it is known to stay within the reader's limits.
    if (reading.outcome == readingDone || reading.outcome == readingLookupFailed ||
        reading.outcome == readingFolderQuote) {
        layout = readBootLayout(configPath);
    }
    if (reading.outcome != readingDone) {
        reportReadingFailure(report, reading, layout);
    }
    if (layout.parsed) {
        checkLayout(report, layout);
    }
    if (reading.outcome != readingDone) {
        return report;
    }

    report.started = true;
    report.commandLine = commandLine;
    report.arguments = splitCommandLine(commandLine.c_str());
    std::map<std::string, long> lines;
    for (const std::string& key : wantedKeys) {
        const BootItem* item = lastItemWithKey(layout, key);
        lines[key] = item != NULL ? item->valueLine : layout.bootLine;
        checkValueText(report, key, reading.values[key], lines[key]);
        if (item != NULL) {
            checkEntities(report, key, item->rawValue, lines[key]);
        }
    }
    checkJava(report, reading.values[jop_java], javaWordOf(commandLine, reading.values), lines[jop_java]);
    checkHeap(report, reading.values, lines);
    checkClassPath(report, reading.values[jop_cp], lines[jop_cp]);
    checkMainClass(report, reading.values[jop_main], lines[jop_main]);
    if (commandLine.size() > longestCommandLine) {
        addFinding(report, 0, "BC113",
                   "the command line is " + std::to_string(commandLine.size()) + " characters long; Windows " +
                       "refuses 32,767 or more, so the launcher cannot start java there; shorten the class path " +
                       "(a folder/* wildcard) or the args");
    }
    return report;
}
