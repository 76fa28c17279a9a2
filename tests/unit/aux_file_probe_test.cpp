// The marker-file writer and the file-lock probe: createFile, fileLock.
#include "const.hpp"
#include "file.hpp"
#include "file_util.hpp"
#include "test_files.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/interprocess/sync/file_lock.hpp>

#include <string>
#include <vector>

namespace {

std::string readFile(const boost::filesystem::path& path) {
    std::ifstream in(path.string(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CreateFile : public ScratchDirTest {};

TEST_F(CreateFile, LeavesExactlyTheNineDigits) {
    writeFile(dir / "longer", "an older and much longer content\n");
    writeFile(dir / "empty", "");
    for (const char* name : {"new", "longer", "empty"}) {
        testing::internal::CaptureStdout();
        int result = createFile(path(name).c_str());
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, TRUE) << name;
        EXPECT_EQ(out, "") << name;
        EXPECT_EQ(readFile(dir / name), "123456789") << name;
    }
}

TEST_F(CreateFile, UnwritablePathPrintsCannotOpen) {
    boost::filesystem::create_directory(dir / "a-directory");
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"missing directory", path("missing") + "/marker"},
        {"path is a directory", path("a-directory")},
        {"empty path", ""},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        int result = createFile(c.second.c_str());
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, FALSE) << c.first;
        EXPECT_EQ(out, "cannot open\n") << c.first;
    }
    EXPECT_FALSE(boost::filesystem::exists(dir / "missing"));
}

// A forked process, so its fcntl record lock really competes with ours.
class LockHolder {
public:
    explicit LockHolder(const std::string& filePath) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(release) != 0) {
            return;
        }
        pid = fork();
        if (pid == 0) {
            close(ready[0]);
            close(release[1]);
            int fd = open(filePath.c_str(), O_RDWR);
            struct flock whole = {};
            whole.l_type = F_WRLCK;
            whole.l_whence = SEEK_SET;
            char ok = fd >= 0 && fcntl(fd, F_SETLKW, &whole) == 0 ? 'y' : 'n';
            if (write(ready[1], &ok, 1) == 1) {
                char any;
                while (read(release[0], &any, 1) > 0) {
                }
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        char ok = 'n';
        holding = read(ready[0], &ok, 1) == 1 && ok == 'y';
        close(ready[0]);
    }
    ~LockHolder() {
        close(release[1]);
        if (pid > 0) {
            waitpid(pid, NULL, 0);
        }
    }

    bool holding = false;

private:
    int release[2] = {-1, -1};
    pid_t pid = -1;
};

// Whether another process could take a write lock on the whole file right now.
bool anotherProcessCanLock(const std::string& filePath) {
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(filePath.c_str(), O_RDWR);
        struct flock whole = {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        _exit(fd >= 0 && fcntl(fd, F_SETLK, &whole) == 0 ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

struct LockOutcome {
    int result;
    std::string out;
};

LockOutcome probe(const std::string& filePath) {
    testing::internal::CaptureStdout();
    int result = fileLock(filePath.c_str());
    return {result, testing::internal::GetCapturedStdout()};
}

class FileLock : public ScratchDirTest {};

TEST_F(FileLock, LocksAFreeFileAndLeavesItFree) {
    writeFile(dir / "app.lock", "");
    LockOutcome r = probe(path("app.lock"));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, "file locked.\n");
    EXPECT_TRUE(anotherProcessCanLock(path("app.lock")));
}

TEST_F(FileLock, FailsWhileAnotherProcessHoldsTheLock) {
    writeFile(dir / "app.lock", "");
    {
        LockHolder holder(path("app.lock"));
        ASSERT_TRUE(holder.holding);
        ASSERT_FALSE(anotherProcessCanLock(path("app.lock")));
        LockOutcome r = probe(path("app.lock"));
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.out, "lock is failed.\n");
    }
    LockOutcome r = probe(path("app.lock"));
    EXPECT_EQ(r.out, "file locked.\n") << "after the other process let go";
}

TEST_F(FileLock, MissingFilePrintsTheLibrarysReason) {
    std::string missing = path("no-such.lock");
    std::string reason;
    try {
        boost::interprocess::file_lock lock(missing.c_str());
    } catch (const std::exception& e) {
        reason = e.what();
    }
    ASSERT_EQ(reason, "No such file or directory");
    LockOutcome r = probe(missing);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, reason + "\n");
    EXPECT_FALSE(boost::filesystem::exists(missing)) << "the probe must not create the file";
}

}  // namespace
