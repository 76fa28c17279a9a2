#pragma once

#include "base_win.hpp"
#include "main.hpp"
#include "test_files.hpp"

// Boot files read in a scratch directory by a launcher in /opt/app/, with a
// command line left by an earlier read that a failed read must keep.
class BootFileTest : public ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        appDir = "/opt/app/";
        parentDir = "/opt/app/";
        javaCommandLine = "previous";
    }
};
