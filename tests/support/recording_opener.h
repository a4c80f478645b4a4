// A stand-in for the desktop's opener: an `xdg-open` script put first on PATH that appends
// each address it is given to a log file, so tests can see what the program opened.
#pragma once

#include "tests/support/scratch_dir.h"

#include <string>
#include <vector>

namespace rh::testing {

class RecordingOpener {
public:
    RecordingOpener();
    ~RecordingOpener();
    RecordingOpener(const RecordingOpener&) = delete;
    RecordingOpener& operator=(const RecordingOpener&) = delete;

    // The addresses opened so far. Waits (up to a generous limit) until `count` have arrived,
    // since the opener runs detached from the caller.
    std::vector<std::string> WaitForOpened(size_t count) const;
    // The addresses opened so far, without waiting.
    std::vector<std::string> Opened() const;

private:
    ScratchDir dir_{"rh_opener"};
    std::string log_;
    std::string oldPath_;
};

}  // namespace rh::testing
