// Starting and awaiting children through execute.
#include "process_util.hpp"
#include "test_files.hpp"

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>

#include <vector>

namespace {

struct Outcome {
    int result;
    std::string out;
    std::string err;
};

Outcome run(std::string commandLine, const char* currentDir = NULL, int doWait = 1) {
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int result = execute(buffer.data(), currentDir, doWait);
    Outcome r{result, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    return r;
}

TEST(Execute, ReturnsTheChildsExitCode) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"/bin/sh -c \"exit 0\"", 0},
        {"/bin/sh -c \"exit 21\"", 21},
        {"/bin/sh -c \"exit 5\"", 5},
        {"sh -c \"exit 200\"", 200},
        {"/bin/sh -c \"kill -KILL $$\"", 128 + SIGKILL},
        {"/bin/sh -c \"kill -TERM $$\"", 128 + SIGTERM},
    };
    for (const auto& c : cases) {
        Outcome r = run(c.first);
        EXPECT_EQ(r.result, c.second) << c.first;
        EXPECT_EQ(r.out, processIdLine() + "result=WAIT_OBJECT_0\n") << c.first;
        EXPECT_EQ(r.err, "") << c.first;
    }
}

TEST(Execute, WithoutWaitingReturnsAtOnce) {
    Outcome r = run("/bin/sh -c \"exit 7\"", NULL, 0);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, processIdLine());
    EXPECT_EQ(WaitForSingleObject(childProcess, INFINITE), WAIT_OBJECT_0);
}

class ExecuteIn : public ScratchDirTest {};

TEST_F(ExecuteIn, ChildRunsInTheGivenDirectory) {
    Outcome r = run("/bin/sh -c \"pwd > where\"", dir.string().c_str());
    EXPECT_EQ(r.result, 0);
    std::ifstream where((dir / "where").string());
    std::string line;
    std::getline(where, line);
    EXPECT_EQ(boost::filesystem::canonical(line), boost::filesystem::canonical(dir));
}

TEST_F(ExecuteIn, RelativeProgramIsFoundFromTheLaunchersDirectory) {
    writeFile(dir / "bin" / "tool", "#!/bin/sh\nexit 9\n");
    boost::filesystem::permissions(dir / "bin" / "tool", boost::filesystem::owner_all);
    boost::filesystem::create_directory(dir / "work");
    boost::filesystem::path here = boost::filesystem::current_path();
    boost::filesystem::current_path(dir);
    Outcome r = run("bin/tool", (dir / "work").string().c_str());
    boost::filesystem::current_path(here);
    EXPECT_EQ(r.result, 9);
}

TEST_F(ExecuteIn, UnstartableChildrenFailWithoutABox) {
    writeFile(dir / "not-executable", "#!/bin/sh\nexit 0\n");
    boost::filesystem::permissions(dir / "not-executable", boost::filesystem::owner_read);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing program", path("no-such-java") + " -version"},
        {"missing program on PATH", "no-such-java-on-path -version"},
        {"not executable", path("not-executable")},
        {"empty command line", ""},
    };
    for (const auto& c : cases) {
        HANDLE before = childProcess;
        Outcome r = run(c.second);
        EXPECT_EQ(r.result, 1) << c.first;
        EXPECT_EQ(r.out, "execute:createProcessResult==0\n") << c.first;
        EXPECT_EQ(r.err, "") << c.first;
        EXPECT_EQ(childProcess, before) << c.first;
        errno = 0;
        EXPECT_EQ(waitpid(-1, NULL, WNOHANG), -1) << c.first << ": a failed start left a child";
        EXPECT_EQ(errno, ECHILD) << c.first;
    }
    Outcome r = run("/bin/sh -c \"exit 0\"", path("missing-dir").c_str());
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.out, "execute:createProcessResult==0\n");
}

}  // namespace
