// The marker-file writer and the file-lock probe: createFile, fileLock.
#include "aux_lock_elsewhere.hpp"
#include "const.hpp"
#include "file.hpp"
#include "file_util.hpp"
#include "test_files.hpp"

#include <boost/interprocess/sync/file_lock.hpp>

#include <iterator>
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
        {"missing directory", (dir / "missing" / "marker").string()},
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

struct LockOutcome {
    int result;
    std::string out;
};

LockOutcome probe(const std::string& filePath) {
    testing::internal::CaptureStdout();
    int result = fileLock(filePath.c_str());
    return {result, testing::internal::GetCapturedStdout()};
}

class FileLock : public ScratchDirTest {
protected:
    void TearDown() override {
        unlockElsewhere();
        ScratchDirTest::TearDown();
    }
};

TEST_F(FileLock, LocksAFreeFileAndLeavesItFree) {
    writeFile(dir / "app.lock", "");
    LockOutcome r = probe(path("app.lock"));
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, "file locked.\n");
    EXPECT_TRUE(canLockElsewhere(path("app.lock")));
}

TEST_F(FileLock, FailsWhileTheLockIsHeldElsewhere) {
    writeFile(dir / "app.lock", "");
    ASSERT_TRUE(lockElsewhere(path("app.lock")));
    ASSERT_FALSE(canLockElsewhere(path("app.lock")));
    LockOutcome held = probe(path("app.lock"));
    EXPECT_EQ(held.result, 0);
    EXPECT_EQ(held.out, "lock is failed.\n");

    unlockElsewhere();
    LockOutcome freed = probe(path("app.lock"));
    EXPECT_EQ(freed.result, 0);
    EXPECT_EQ(freed.out, "file locked.\n") << "once the holder let go";
}

TEST_F(FileLock, MissingFilePrintsTheLibrarysReason) {
    std::string missing = path("no-such.lock");
    std::string reason;
    try {
        boost::interprocess::file_lock lock(missing.c_str());
    } catch (const std::exception& e) {
        reason = e.what();
    }
    ASSERT_FALSE(reason.empty());
    LockOutcome r = probe(missing);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, reason + "\n");
    EXPECT_FALSE(boost::filesystem::exists(missing)) << "the probe must not create the file";
}

}  // namespace
