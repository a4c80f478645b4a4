// Hooks for tests that check what the program logs. Not for the program.
#pragma once

#include <rimeholt/log.h>

#include <string>
#include <string_view>
#include <vector>

namespace rh::testing {

// Receives each line that passes the level: the text alone, without prefix or newline. Called
// with the log's lock held, so it must not log itself.
using LogSink = void (*)(void* context, LogLevel level, std::string_view text);

// Sends every line to sink instead of standard error; a null sink restores standard error.
void SetLogSink(LogSink sink, void* context);

// Chooses the level as RIMEHOLT_LOG would, until the next call or ForgetLogLevel.
void SetLogLevel(LogLevel level);

// Forgets the level chosen so far: the next line reads RIMEHOLT_LOG again, as the first one does.
void ForgetLogLevel();

// Lets every RH_LOG_ONCE call site say its line once more.
void ForgetLogOnce();

struct LoggedLine {
    LogLevel level;
    std::string text;
    bool operator==(const LoggedLine&) const = default;
};

// Collects the lines written at the given level while it lives, instead of standard error.
// It starts with every once-only line unsaid, so tests do not depend on each other's order;
// at its end the level is read from the environment again and lines go to standard error.
// One at a time: captures do not nest.
class LogCapture {
public:
    explicit LogCapture(LogLevel level) {
        ForgetLogOnce();
        SetLogLevel(level);
        SetLogSink(&LogCapture::Collect, this);
    }
    ~LogCapture() {
        SetLogSink(nullptr, nullptr);
        ForgetLogLevel();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<LoggedLine>& lines() const { return lines_; }
    // The texts alone, in order.
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const LoggedLine& line : lines_) result.push_back(line.text);
        return result;
    }
    void clear() { lines_.clear(); }

private:
    static void Collect(void* self, LogLevel level, std::string_view text) {
        static_cast<LogCapture*>(self)->lines_.push_back(LoggedLine{level, std::string(text)});
    }

    std::vector<LoggedLine> lines_;
};

}  // namespace rh::testing
