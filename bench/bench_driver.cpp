// Times the launcher against its children run directly and watches it while it
// waits. Each measurement prints rows of a Markdown table:
//   overhead REPS LABEL CWD -- LAUNCHER... -- CHILD... [-- FLOOR...]
//   cycles REPS CYCLES COUNTER APPDIR -- LAUNCHER... -- MAIN... -- UPDATER...
//   waiting WINDOW_MS CWD -- LAUNCHER... [-- FLOOR...]
// FLOOR is the least a launcher can do with the same child: start it and wait.
// Commands run with standard input and output on /dev/null; the sides of a
// comparison take turns in the same loop so drift hits all alike.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

typedef std::vector<std::string> Command;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "bench_driver: %s\n", message.c_str());
    std::exit(2);
}

double nowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

pid_t spawnCommand(const Command& command, const std::string& cwd) {
    std::vector<char*> argv;
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(NULL);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &actions, NULL, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        fail("cannot start " + command[0] + ": " + std::strerror(rc));
    }
    return pid;
}

int waitExit(pid_t pid) {
    int status;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

int runCommand(const Command& command, const std::string& cwd) {
    return waitExit(spawnCommand(command, cwd));
}

void expectExit(const Command& command, int got, int wanted) {
    if (got != wanted) {
        fail(command[0] + " ended with " + std::to_string(got) + ", expected " +
             std::to_string(wanted));
    }
}

struct Spread {
    double median, p10, p90;
};

Spread spreadOf(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    size_t n = samples.size();
    return {n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2,
            samples[n / 10], samples[n - 1 - n / 10]};
}

std::string describe(const Spread& s, int decimals) {
    char text[96];
    std::snprintf(text, sizeof text, "%.*f ms (p10 %.*f, p90 %.*f)", decimals, s.median, decimals,
                  s.p10, decimals, s.p90);
    return text;
}

// Splits "a b -- c d -- e" into {{a, b}, {c, d}, {e}}.
std::vector<Command> splitCommands(char** begin, char** end) {
    std::vector<Command> commands;
    for (char** p = begin; p != end; ++p) {
        if (std::strcmp(*p, "--") == 0) {
            commands.emplace_back();
        } else if (!commands.empty()) {
            commands.back().push_back(*p);
        }
    }
    for (const Command& command : commands) {
        if (command.empty()) {
            fail("empty command");
        }
    }
    return commands;
}

void writeCounter(const std::string& path, long value) {
    std::ofstream out(path, std::ios::trunc);
    out << value << '\n';
    if (!out) {
        fail("cannot write " + path);
    }
}

long readCounter(const std::string& path) {
    std::ifstream in(path);
    long value = -1;
    in >> value;
    return value;
}

int overhead(int reps, const std::string& label, const std::string& cwd,
             const std::vector<Command>& commands) {
    if (commands.size() != 2 && commands.size() != 3) {
        fail("overhead needs a launcher, a child and optionally a floor command");
    }
    const size_t sides = commands.size();
    for (int i = 0; i < 3; ++i) {
        for (const Command& command : commands) {
            expectExit(command, runCommand(command, cwd), 0);
        }
    }
    // times[side][round]; each round starts with another side, in turn.
    std::vector<std::vector<double>> times(sides);
    for (int i = 0; i < reps; ++i) {
        for (size_t turn = 0; turn < sides; ++turn) {
            size_t side = (turn + static_cast<size_t>(i)) % sides;
            double start = nowMs();
            expectExit(commands[side], runCommand(commands[side], cwd), 0);
            times[side].push_back(nowMs() - start);
        }
    }
    auto differences = [&](size_t from, size_t to) {
        std::vector<double> result;
        for (int i = 0; i < reps; ++i) {
            result.push_back(times[from][i] - times[to][i]);
        }
        return spreadOf(result);
    };
    Spread l = spreadOf(times[0]), d = spreadOf(times[1]), o = differences(0, 1);
    std::printf("| launch overhead, %s | %.2f ms, ratio %.2f | launcher %s; child alone %s; "
                "%d rounds |\n",
                label.c_str(), o.median, l.median / d.median, describe(l, 2).c_str(),
                describe(d, 2).c_str(), reps);
    if (sides == 3) {
        Spread f = spreadOf(times[2]), lf = differences(0, 2), fd = differences(2, 1);
        std::printf("| launcher / spawn-and-wait floor, %s | ratio %.3f | floor %s; launcher "
                    "minus floor %.3f ms, floor minus child alone %.3f ms (medians of the "
                    "rounds' differences); same rounds as above |\n",
                    label.c_str(), l.median / f.median, describe(f, 2).c_str(), lf.median,
                    fd.median);
    }
    return 0;
}

int cycles(int reps, long cycleCount, const std::string& counter, const std::string& appDir,
           const std::vector<Command>& commands) {
    if (commands.size() != 3) {
        fail("cycles needs a launcher, a main and an updater command");
    }
    const Command& launcher = commands[0];
    const Command& mainApp = commands[1];
    const Command& updater = commands[2];
    const std::string updaterDir = appDir + "/updater";
    std::vector<double> viaLauncher, direct;
    for (int i = 0; i < reps; ++i) {
        writeCounter(counter, cycleCount);
        double start = nowMs();
        expectExit(launcher, runCommand(launcher, appDir), 0);
        viaLauncher.push_back(nowMs() - start);
        if (readCounter(counter) != 0) {
            fail("the launcher did not run all " + std::to_string(cycleCount) + " cycles");
        }

        writeCounter(counter, cycleCount);
        long mainRuns = 0;
        start = nowMs();
        for (;;) {
            ++mainRuns;
            if (runCommand(mainApp, appDir) != 21) {
                break;
            }
            expectExit(updater, runCommand(updater, updaterDir), 0);
        }
        direct.push_back(nowMs() - start);
        if (mainRuns != cycleCount + 1) {
            fail("the children ran " + std::to_string(mainRuns) + " main launches");
        }
    }
    Spread l = spreadOf(viaLauncher), d = spreadOf(direct);
    std::printf("| %ld update cycles (21/0) | ratio %.3f, %.1f us per cycle | launcher %s; "
                "children back to back %s; %d runs each |\n",
                cycleCount, l.median / d.median, (l.median - d.median) * 1e3 / cycleCount,
                describe(l, 0).c_str(), describe(d, 0).c_str(), reps);
    return 0;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool isWaitingForChild(pid_t pid) {
    std::string wchan = readFile("/proc/" + std::to_string(pid) + "/wchan");
    return wchan == "do_wait";
}

// Nanoseconds the process has spent on a CPU, and its user+system clock ticks.
void cpuTime(pid_t pid, unsigned long long& ns, unsigned long long& ticks) {
    std::istringstream schedstat(readFile("/proc/" + std::to_string(pid) + "/schedstat"));
    schedstat >> ns;
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
        }
    }
    ticks = utime + stime;
}

std::string statusField(pid_t pid, const std::string& name) {
    std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, name.size() + 1, name + ":") == 0) {
            size_t start = line.find_first_not_of(" \t", name.size() + 1);
            return line.substr(start);
        }
    }
    fail("no " + name + " in /proc status");
}

struct WaitingFigures {
    unsigned long long ns, ticks;
    std::string hwm, rss;
};

// Starts the command, lets it settle into its wait for the child and watches it
// for the window; the child must still be running when the window closes.
WaitingFigures watchWaiting(long windowMs, const std::string& cwd, const Command& command) {
    pid_t pid = spawnCommand(command, cwd);
    double deadline = nowMs() + 10000;
    while (!isWaitingForChild(pid)) {
        if (nowMs() > deadline) {
            fail(command[0] + " never waited for a child");
        }
        usleep(1000);
    }
    unsigned long long ns0, ticks0, ns1, ticks1;
    cpuTime(pid, ns0, ticks0);
    usleep(static_cast<useconds_t>(windowMs * 1000));
    cpuTime(pid, ns1, ticks1);
    WaitingFigures figures = {ns1 - ns0, ticks1 - ticks0, statusField(pid, "VmHWM"),
                              statusField(pid, "VmRSS")};
    if (!isWaitingForChild(pid)) {
        fail("the child ended before the measuring window closed");
    }
    expectExit(command, waitExit(pid), 0);
    return figures;
}

int waiting(long windowMs, const std::string& cwd, const std::vector<Command>& commands) {
    if (commands.size() != 1 && commands.size() != 2) {
        fail("waiting needs a launcher and optionally a floor command");
    }
    WaitingFigures launcher = watchWaiting(windowMs, cwd, commands[0]);
    std::string floor;
    if (commands.size() == 2) {
        WaitingFigures f = watchWaiting(windowMs, cwd, commands[1]);
        floor = "; spawn-and-wait floor VmHWM " + f.hwm + ", VmRSS " + f.rss;
    }
    std::printf("| CPU time while waiting | %llu ns | over %.1f s of a child's sleep "
                "(/proc schedstat; %llu clock ticks) |\n",
                launcher.ns, windowMs / 1e3, launcher.ticks);
    std::printf("| peak resident memory while waiting | %s | VmHWM; VmRSS %s%s |\n",
                launcher.hwm.c_str(), launcher.rss.c_str(), floor.c_str());
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string mode = argc > 1 ? argv[1] : "";
    char** end = argv + argc;
    if (mode == "overhead" && argc > 5) {
        return overhead(std::atoi(argv[2]), argv[3], argv[4], splitCommands(argv + 5, end));
    }
    if (mode == "cycles" && argc > 6) {
        return cycles(std::atoi(argv[2]), std::atol(argv[3]), argv[4], argv[5],
                      splitCommands(argv + 6, end));
    }
    if (mode == "waiting" && argc > 4) {
        return waiting(std::atol(argv[2]), argv[3], splitCommands(argv + 4, end));
    }
    std::fprintf(stderr,
                 "usage: bench_driver overhead REPS LABEL CWD -- LAUNCHER... -- CHILD... "
                 "[-- FLOOR...]\n"
                 "       bench_driver cycles REPS CYCLES COUNTER APPDIR -- LAUNCHER... -- MAIN... "
                 "-- UPDATER...\n"
                 "       bench_driver waiting WINDOW_MS CWD -- LAUNCHER... [-- FLOOR...]\n");
    return 2;
}
