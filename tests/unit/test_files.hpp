#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include "base.hpp"
#include "file.hpp"

#include <boost/filesystem.hpp>
#include <fstream>
#include <memory>
#include <string>

// A fresh directory per test, removed afterwards.
inline boost::filesystem::path makeScratchDir() {
    boost::filesystem::path dir = boost::filesystem::temp_directory_path() /
                                  boost::filesystem::unique_path("launcher-test-%%%%-%%%%-%%%%");
    boost::filesystem::create_directories(dir);
    return dir;
}

inline void writeFile(const boost::filesystem::path& path, const std::string& content) {
    boost::filesystem::create_directories(path.parent_path());
    std::ofstream out(path.string(), std::ios::binary);
    out << content;
}

// fileExists on a path, through the writable copy it takes.
inline int fileExistsAt(const std::string& path) {
    std::unique_ptr<char[]> filePath(stringToChar(path));
    return fileExists(filePath.get());
}

class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override { dir = makeScratchDir(); }
    void TearDown() override { boost::filesystem::remove_all(dir); }
    std::string path(const std::string& name) const { return (dir / name).string(); }

    boost::filesystem::path dir;
};

// The line execute writes once a child has started: the launcher's own process id.
inline std::string processIdLine() {
    return "execute:processId==" + std::to_string(GetCurrentProcessId()) + "\n";
}
