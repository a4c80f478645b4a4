// The one way tests get a folder of their own on disk: a fresh, empty folder under $TMPDIR
// (else /tmp), removed with everything in it when the owner goes, so tests never meet each
// other's files, whatever runs beside them.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace rh::testing {

class ScratchDir {
public:
    // Makes the folder, its name starting with `tag`; throws std::runtime_error when it cannot
    // (a test that gets no folder fails rather than writing somewhere else).
    explicit ScratchDir(std::string_view tag = "rh");
    // Puts the previous working directory back (when this folder was entered), then removes the
    // folder and everything in it.
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The folder's absolute path, without a trailing '/'.
    const std::string& path() const { return path_; }
    // path() + "/" + relative.
    std::string Path(std::string_view relative) const;
    // Writes `contents` to the relative path, making the folders on the way; the full path.
    // Throws std::runtime_error when it cannot.
    std::string Write(std::string_view relative, std::string_view contents) const;
    // Makes the folder the working directory until this object goes, so that names relative to
    // the working directory resolve inside it. Throws std::runtime_error when it cannot.
    void Enter();

private:
    std::string path_;
    std::string previous_;  // the working directory before Enter; empty when not entered
};

// A test whose working directory is a fresh scratch folder.
class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.emplace("rh_vfs");
        scratch_->Enter();
        dir_ = scratch_->path();
    }
    void TearDown() override { scratch_.reset(); }
    // Writes `contents` to a path relative to the scratch folder, making its folders.
    void WriteFile(const std::string& path, const std::string& contents) {
        scratch_->Write(path, contents);
    }

    std::optional<ScratchDir> scratch_;
    std::string dir_;
};

}  // namespace rh::testing
