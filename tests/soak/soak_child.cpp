// Stand-in java for the long-run tests. Its role is its last argument, where
// the launcher puts the main class; its settings come as key=value arguments:
//   Cycle    counts its launches in the file "launches" next to itself and
//            ends with 21 while the count is at most cycles=N, then with 0.
//            At the launch numbers in pauses=A,B,... it writes the number to
//            the fifo "ready" and blocks until a byte arrives on the fifo "go".
//   Signal   kills itself with signal=N.
//   Orphan   leaves a grandchild behind that keeps standard output open and
//            sleeps; its pid goes to "grandchild.pid" before this one ends.
//   anything else ends with 0.
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

namespace {

std::string ownDir;

std::string setting(int argc, char* argv[], const std::string& key) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], (key + "=").c_str(), key.size() + 1) == 0) {
            return argv[i] + key.size() + 1;
        }
    }
    return "";
}

[[noreturn]] void fail(const std::string& what) {
    std::perror(what.c_str());
    std::exit(99);
}

long countLaunch() {
    std::string path = ownDir + "launches";
    long count = 0;
    if (FILE* in = std::fopen(path.c_str(), "r")) {
        if (std::fscanf(in, "%ld", &count) != 1) {
            count = 0;
        }
        std::fclose(in);
    }
    ++count;
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == NULL || std::fprintf(out, "%ld\n", count) < 0 || std::fclose(out) != 0) {
        fail(path);
    }
    return count;
}

bool isPause(const std::string& pauses, long launch) {
    std::istringstream list(pauses);
    for (std::string item; std::getline(list, item, ',');) {
        if (!item.empty() && std::atol(item.c_str()) == launch) {
            return true;
        }
    }
    return false;
}

void waitForGo(long launch) {
    int ready = open((ownDir + "ready").c_str(), O_WRONLY);
    std::string line = std::to_string(launch) + "\n";
    if (ready < 0 || write(ready, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        fail("ready");
    }
    close(ready);
    int go = open((ownDir + "go").c_str(), O_RDONLY);
    char byte;
    if (go < 0 || read(go, &byte, 1) != 1) {
        fail("go");
    }
    close(go);
}

int cycle(int argc, char* argv[]) {
    long launch = countLaunch();
    if (isPause(setting(argc, argv, "pauses"), launch)) {
        waitForGo(launch);
    }
    return launch <= std::atol(setting(argc, argv, "cycles").c_str()) ? 21 : 0;
}

int killSelf(int argc, char* argv[]) {
    kill(getpid(), std::atoi(setting(argc, argv, "signal").c_str()));
    return 99;  // only reached when the signal does not end the process
}

int leaveGrandchild() {
    int started[2];
    if (pipe(started) != 0) {
        fail("pipe");
    }
    pid_t pid = fork();
    if (pid < 0) {
        fail("fork");
    }
    if (pid == 0) {
        close(started[0]);
        FILE* out = std::fopen((ownDir + "grandchild.pid").c_str(), "w");
        if (out == NULL || std::fprintf(out, "%d\n", static_cast<int>(getpid())) < 0 ||
            std::fclose(out) != 0) {
            fail("grandchild.pid");
        }
        close(started[1]);
        // Bounded, so a test that dies early leaves nothing behind for long.
        sleep(120);
        _exit(0);
    }
    close(started[1]);
    char byte;
    while (read(started[0], &byte, 1) > 0) {
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string self = argv[0];
    ownDir = self.substr(0, self.find_last_of('/') + 1);
    std::string role = argv[argc - 1];
    if (role == "Cycle") {
        return cycle(argc, argv);
    }
    if (role == "Signal") {
        return killSelf(argc, argv);
    }
    if (role == "Orphan") {
        return leaveGrandchild();
    }
    return 0;
}
