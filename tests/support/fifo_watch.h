// A FIFO for tests of code that must never wait on one. Opening a FIFO the ordinary way blocks
// until its other end is opened, so code that does so would hang the test run for good. The
// watch makes the FIFO and, should the code under test still be blocked after a generous grace
// period, opens the other end itself: the blocked call returns, and the test fails on what the
// code answered and on Unblocked() instead of never ending.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace rh::testing {

class FifoWatch {
public:
    // Makes a FIFO at `path` (throws std::runtime_error when it cannot) and starts watching.
    explicit FifoWatch(std::string path);
    // Stops watching; the FIFO stays (its folder's owner removes it).
    ~FifoWatch();
    FifoWatch(const FifoWatch&) = delete;
    FifoWatch& operator=(const FifoWatch&) = delete;

    const std::string& path() const { return path_; }
    // True once the watch had to open the other end because something waited on the FIFO.
    bool Unblocked();

private:
    void Watch();

    std::string path_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool stopping_ = false;
    bool unblocked_ = false;
    std::thread thread_;
};

}  // namespace rh::testing
