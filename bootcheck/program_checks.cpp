#include "program_checks.hpp"

#include "check_text.hpp"
#include "program_file.hpp"
#include "pe_image.hpp"

#include <boost/filesystem/operations.hpp>
#include <fstream>
#include <vector>

namespace fs = boost::filesystem;

// programElsewhere: a path of the Windows machine that --windows does not judge.
enum ProgramState { programFound, programMissing, programFolder, programNotExecutable, programElsewhere };

// A path of the Windows machine outside the app folder is not judged here.
static ProgramState probeFile(const std::string& program) {
    std::string path = localPath(program);
    if (path.empty()) {
        return programElsewhere;
    }
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
static ProgramState probeProgram(const std::string& program, const std::string& appDir, std::string& file) {
    file = programFileName(program);
    if (hasFolderPart(program)) {
        return probeFile(file);
    }
    for (const std::string& folder : programSearchFolders(appDir)) {
        std::string candidate = folder + (isFileSeparator(folder.back()) ? "" : fileSep) + file;
        boost::system::error_code ignored;
        if (fs::is_regular_file(localPath(candidate), ignored)) {
            file = candidate;
            return probeFile(candidate);
        }
    }
    return programMissing;
}

// The Subsystem field of a PE image's optional header; 0 for a file that is
// no PE image. The headers of a real program lie in its first pages.
static unsigned peSubsystem(const std::string& path) {
    std::ifstream file(localPath(path).c_str(), std::ios::binary);
    std::vector<uint8_t> start(64 * 1024);
    file.read(reinterpret_cast<char*>(start.data()), static_cast<std::streamsize>(start.size()));
    start.resize(static_cast<size_t>(file.gcount()));
    PeHeaders headers;
    PeProblem problem = readPeHeaders(start, headers);
    bool optionalHeader = problem != peNoMz && problem != peNoPe && (headers.magic == 0x10B || headers.magic == 0x20B);
    return optionalHeader ? headers.subsystem : 0;
}

static std::string javaSample() {
    return programFileName(std::string(REP_APP_DIR) + "jre" + folderSeparator() + "bin" + folderSeparator() + "java");
}

void checkJava(BootFileReport& report, const std::string& value, const std::string& javaWord, long line,
               const std::string& appDir) {
    std::string program = report.arguments.empty() ? std::string() : report.arguments[0];
    std::string file;
    ProgramState state = probeProgram(program, appDir, file);
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
            longerExists = longerExists || probeProgram(piece, appDir, pieceFile) == programFound;
        }
        if (state == programFound && longerExists) {
            addFinding(report, line, BC115,
                       std::string("the java value holds a blank and no quotes, and the launcher leaves it ") +
                           "unquoted (it does not begin with " + REP_APP_DIR + " or " + REP_PARENT_DIR + ", and as written it names no file), " +
                           "so the system runs " + inQuotes(shownPath(file)) + ", another program (CWE-428), with the rest of " +
                           "the value as its arguments; put the path in quotes without trailing blanks, such as " +
                           "value=\"&quot;" + javaSample() + "&quot;\"");
        } else if (state != programFound || longerExists) {
            addFinding(report, line, BC207,
                       "the java value holds a blank and no quotes, so the program is " + inQuotes(shownPath(program)) +
                           " (a file planted at " + inQuotes(shownPath(programFileName(program))) + " would run: CWE-428) " +
                           "and the rest of the value becomes java's arguments; put the path in quotes, such as " +
                           "value=\"&quot;" + javaSample() + "&quot;\"");
        }
    }
    if (!program.empty() && hasFolderPart(program) && !isAbsolutePath(program)) {
        addFinding(report, line, BC208,
                   "the java path " + inQuotes(shownPath(program)) + " is relative, so it is looked up from the folder the " +
                       "launcher is started in, not from the app folder; write value=\"" + REP_APP_DIR +
                       shownPath(program.compare(0, 2, std::string(".") + folderSeparator()) == 0 ? program.substr(2) : program) + "\"");
    }
    std::string sample = javaSample();
    if (trimmed(value).empty()) {
        addFinding(report, line, BC110,
                   "the java value is empty, so the program is " + inQuotes(shownPath(program)) +
                       ", which the launcher cannot start: it shows a box with this file's path; write value=" +
                       inQuotes(sample));
    } else if (state == programMissing && quotedByLauncher) {
        addFinding(report, line, BC114,
                   "the java program " + inQuotes(shownPath(file)) + " does not exist; the launcher quotes its path, since " +
                       "the app folder holds a blank, so no other program runs: it shows a box with this file's " +
                       "path; write the path of java, such as value=" + inQuotes(sample));
    } else if (state == programMissing) {
        std::string where = hasFolderPart(program) ? "does not exist" : "is not found where the system searches (PATH)";
        addFinding(report, line, BC110,
                   "the java program " + inQuotes(shownPath(file)) + " " + where + ", so the launcher cannot start it and " +
                       "shows a box with this file's path; write the path of java, such as value=" + inQuotes(sample));
    } else if (state == programFolder) {
        addFinding(report, line, BC111,
                   "the java program " + inQuotes(shownPath(file)) + " is a folder, so the launcher cannot start it and " +
                       "shows a box with this file's path; name the java program inside it, such as value=" + inQuotes(sample));
    } else if (state == programNotExecutable) {
        addFinding(report, line, BC112,
                   "the java program " + inQuotes(shownPath(file)) + " is not an executable file, so the launcher cannot start it " +
                       "and shows a box with this file's path; name the java program itself");
    }
    if ((state == programFound || state == programNotExecutable) && peSubsystem(file) == PE_SUBSYSTEM_CONSOLE) {
        std::string javaw = std::string(REP_APP_DIR) + "jre" + folderSeparator() + "bin" + folderSeparator() + "javaw.exe";
        addFinding(report, line, BC217,
                   "the java program " + inQuotes(shownPath(file)) + " is a console program, so Windows opens a console " +
                       "window beside the app for as long as it runs; for an app with windows of its own write " +
                       "javaw.exe, such as value=" + inQuotes(javaw) + " (java.exe suits a console app, or " +
                       "seeing java's output)");
    }
}

