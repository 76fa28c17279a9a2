// Stand-in for the java executable in end-to-end tests. Next to itself it
// appends one record per call to calls.log (working directory and arguments)
// and takes its exit code from the first line of exit_codes (0 when none).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#define getcwd _getcwd
#else
#include <unistd.h>
#endif

static std::string ownDirectory(const char* argv0) {
    std::string path = argv0;
    size_t sep = path.find_last_of("/\\");
    return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

static int nextExitCode(const std::string& codesPath) {
    std::ifstream in(codesPath);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    in.close();
    if (lines.empty()) {
        return 0;
    }
    std::ofstream out(codesPath, std::ios::trunc);
    for (size_t i = 1; i < lines.size(); ++i) {
        out << lines[i] << '\n';
    }
    return std::atoi(lines[0].c_str());
}

int main(int argc, char* argv[]) {
    std::string dir = ownDirectory(argv[0]);
    char cwd[4096] = "";
    if (getcwd(cwd, sizeof cwd) == NULL) {
        cwd[0] = '\0';
    }
    std::ofstream log(dir + "calls.log", std::ios::app | std::ios::binary);
    log << "call\ncwd=" << cwd << '\n';
    for (int i = 0; i < argc; ++i) {
        log << "arg=" << argv[i] << '\n';
    }
    log.close();
    return nextExitCode(dir + "exit_codes");
}
