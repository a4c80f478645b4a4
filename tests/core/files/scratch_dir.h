// A fresh directory under /tmp that is the working directory while a test runs, so that names
// relative to the working directory resolve inside it.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class ScratchDirTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/rh_vfs_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        char previous[PATH_MAX];
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        previous_ = previous;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(previous_.c_str()), 0);
        std::filesystem::remove_all(dir_);
    }
    // Writes `contents` to the relative path, making its directories.
    static void WriteFile(const std::string& path, const std::string& contents) {
        const std::filesystem::path p(path);
        if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
        std::ofstream(path, std::ios::binary) << contents;
    }

    std::string dir_;
    std::string previous_;
};
