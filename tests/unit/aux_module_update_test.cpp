// Running an updater command line in the current directory: moduleUpdate.
#include "main.hpp"
#include "test_files.hpp"

#include <windows.h>

#include <string>
#include <vector>

namespace {

class ModuleUpdate : public ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        here = boost::filesystem::current_path();
        boost::filesystem::current_path(dir);
    }
    void TearDown() override {
        boost::filesystem::current_path(here);
        ScratchDirTest::TearDown();
    }

    boost::filesystem::path here;
};

TEST_F(ModuleUpdate, RunsTheChildHereAndReturnsItsExitCode) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"/bin/sh -c \"pwd > where; exit 0\"", 0},
        {"/bin/sh -c \"pwd > where; exit 3\"", 3},
        {"/bin/sh -c \"pwd > where; exit 21\"", 21},
        {"/bin/sh -c \"pwd > where; exit 4\" " + std::string(5000, 'x'), 4},
    };
    for (const auto& c : cases) {
        boost::filesystem::remove(dir / "where");
        testing::internal::CaptureStdout();
        int result = moduleUpdate(c.first);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, c.second) << c.first;
        EXPECT_EQ(out, "moduleUpdate#1:commandLine=" + c.first + "\n" + processIdLine() +
                           "result=WAIT_OBJECT_0\nmoduleUpdate#2:retCode=" +
                           std::to_string(c.second) + "\n")
            << c.first;
        std::ifstream where((dir / "where").string());
        std::string line;
        std::getline(where, line);
        EXPECT_EQ(boost::filesystem::canonical(line), boost::filesystem::canonical(dir)) << c.first;
    }
}

TEST_F(ModuleUpdate, UnstartableChildGivesOne) {
    testing::internal::CaptureStdout();
    int result = moduleUpdate("no-such-updater --install");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out,
              "moduleUpdate#1:commandLine=no-such-updater --install\n"
              "execute:createProcessResult==0\n"
              "moduleUpdate#2:retCode=1\n");
}

}  // namespace
