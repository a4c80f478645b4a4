#include "tests/support/recording_opener.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace rh::testing {

RecordingOpener::RecordingOpener() {
    log_ = dir_.Path("opened.log");
    const std::string script =
        dir_.Write("xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log_ + "'\n");
    chmod(script.c_str(), 0755);
    const char* path = std::getenv("PATH");
    oldPath_ = path != nullptr ? path : "";
    setenv("PATH", (dir_.path() + ":" + oldPath_).c_str(), 1);
}

RecordingOpener::~RecordingOpener() { setenv("PATH", oldPath_.c_str(), 1); }

std::vector<std::string> RecordingOpener::Opened() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> RecordingOpener::WaitForOpened(size_t count) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::vector<std::string> lines = Opened();
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines = Opened();
    }
    return lines;
}

}  // namespace rh::testing
