#include "tests/support/fifo_watch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace rh::testing {

namespace {

// Far longer than any open that does not wait can take, however loaded the machine.
constexpr std::chrono::seconds kGrace{20};

}  // namespace

FifoWatch::FifoWatch(std::string path) : path_(std::move(path)) {
    if (mkfifo(path_.c_str(), 0600) != 0) {
        throw std::runtime_error("cannot make the FIFO " + path_ + ": " + std::strerror(errno));
    }
    thread_ = std::thread([this] { Watch(); });
}

FifoWatch::~FifoWatch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    done_.notify_all();
    thread_.join();
}

bool FifoWatch::Unblocked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return unblocked_;
}

void FifoWatch::Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (done_.wait_for(lock, kGrace, [this] { return stopping_; })) return;
    // Opened for reading and writing, the FIFO has both ends at once without waiting, which
    // releases an opener blocked on either side; it stays open until the watch ends, so a
    // released reader sees the end of the data rather than waiting again.
    unblocked_ = true;
    const int fd = open(path_.c_str(), O_RDWR | O_NONBLOCK);
    done_.wait(lock, [this] { return stopping_; });
    if (fd >= 0) close(fd);
}

}  // namespace rh::testing
