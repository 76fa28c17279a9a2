#include "platform.hpp"

#include "owned_file.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string readWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes) {
    Descriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat info;
    if (file.fd < 0 || fstat(file.fd, &info) != 0) {
        return errorText();
    }
    if (S_ISDIR(info.st_mode)) {
        return "it is a folder";
    }
    if (!S_ISREG(info.st_mode)) {
        return "it is not a regular file";
    }
    if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        return "it is larger than " + std::to_string(maxBytes >> 20) + " MiB";
    }
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = read(file.fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got < 0 ? errorText() : "it became shorter while being read";
        }
        done += static_cast<size_t>(got);
    }
    return "";
}

std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                                const std::string& modelPath) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "/." + name + ".seticon-XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    struct stat model;
    mode_t mode = stat(path.c_str(), &model) == 0 || stat(modelPath.c_str(), &model) == 0 ? model.st_mode & 07777
                                                                                            : 0644;
    Descriptor file{mkstemp(temporary.data())};
    if (file.fd < 0) {
        return errorText();
    }
    std::string problem;
    size_t done = 0;
    while (problem.empty() && done < bytes.size()) {
        ssize_t wrote = write(file.fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno != EINTR) {
            problem = errorText();
        }
        done += wrote > 0 ? static_cast<size_t>(wrote) : 0;
    }
    if (problem.empty() && (fchmod(file.fd, mode) != 0 || fsync(file.fd) != 0)) {
        problem = errorText();
    }
    if (problem.empty() && rename(temporary.data(), path.c_str()) != 0) {
        problem = errorText();
    }
    if (!problem.empty()) {
        unlink(temporary.data());
    }
    return problem;
}

void printLine(FILE* stream, const std::string& line) {
    std::fputs((line + "\n").c_str(), stream);
    std::fflush(stream);
}
