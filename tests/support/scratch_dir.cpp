#include "tests/support/scratch_dir.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace rh::testing {

namespace {

std::string TempRoot() {
    const char* root = std::getenv("TMPDIR");
    if (root == nullptr || root[0] == '\0') return "/tmp";
    std::string path = root;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

ScratchDir::ScratchDir(std::string_view tag) {
    std::string pattern = TempRoot() + "/" + std::string(tag) + "_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch folder " + pattern);
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) {
        ADD_FAILURE() << "cannot return to " << previous_;
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::Path(std::string_view relative) const {
    return path_ + "/" + std::string(relative);
}

std::string ScratchDir::Write(std::string_view relative, std::string_view contents) const {
    const std::filesystem::path path = Path(relative);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
    return path.string();
}

void ScratchDir::Enter() {
    if (previous_.empty()) {
        char previous[PATH_MAX];
        if (getcwd(previous, sizeof previous) == nullptr) Fail("cannot read the working directory");
        previous_ = previous;
    }
    if (chdir(path_.c_str()) != 0) Fail("cannot enter " + path_);
}

}  // namespace rh::testing
