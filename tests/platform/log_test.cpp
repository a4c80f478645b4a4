// The program's log: which lines each level lets through, the level from the environment, the
// once-only form, the line format on standard error and the capture hook itself.
#include "platform/log/log_testing.h"

#include <rimeholt/log.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using rh::LogLevel;
using rh::testing::LogCapture;
using rh::testing::LoggedLine;

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (had_) {
            setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

private:
    std::string name_, old_;
    bool had_ = false;
};

// The level in force, told by what it lets through.
LogLevel LevelInForce() {
    if (rh::LogEnabled(LogLevel::Trace)) return LogLevel::Trace;
    return rh::LogEnabled(LogLevel::Warning) ? LogLevel::Warning : LogLevel::Error;
}

TEST(Log, EachLevelLetsThroughItselfAndTheMoreSerious) {
    struct Row {
        LogLevel chosen;
        std::vector<LoggedLine> expected;
    };
    const Row rows[] = {
        {LogLevel::Error, {{LogLevel::Error, "e 1"}}},
        {LogLevel::Warning, {{LogLevel::Error, "e 1"}, {LogLevel::Warning, "w 2"}}},
        {LogLevel::Trace, {{LogLevel::Error, "e 1"}, {LogLevel::Warning, "w 2"}, {LogLevel::Trace, "t 3"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.chosen));
        LogCapture capture(row.chosen);
        rh::LogError("e %d", 1);
        rh::LogWarning("w %d", 2);
        rh::LogTrace("t %d", 3);
        EXPECT_EQ(capture.lines(), row.expected);
    }
}

TEST(Log, LevelComesFromTheEnvironment) {
    struct Row {
        const char* value;  // null: not set
        LogLevel level;
        bool complaint;
    };
    const Row rows[] = {
        {nullptr, LogLevel::Warning, false},  {"", LogLevel::Warning, false},
        {"error", LogLevel::Error, false},    {"warning", LogLevel::Warning, false},
        {"trace", LogLevel::Trace, false},    {"TRACE", LogLevel::Trace, false},
        {"Error", LogLevel::Error, false},    {"verbose", LogLevel::Warning, true},
        {"1", LogLevel::Warning, true},       {"trace ", LogLevel::Warning, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value != nullptr ? row.value : "(unset)");
        ScopedEnv env("RIMEHOLT_LOG", row.value);
        LogCapture capture(LogLevel::Trace);
        rh::testing::ForgetLogLevel();
        EXPECT_EQ(LevelInForce(), row.level);
        if (row.complaint) {
            EXPECT_EQ(capture.lines(),
                      (std::vector<LoggedLine>{{LogLevel::Warning, "RIMEHOLT_LOG=\"" + std::string(row.value) +
                                                                       "\" is not error, warning or trace; "
                                                                       "warning is used"}}));
        } else {
            EXPECT_TRUE(capture.lines().empty());
        }
        // The value is read once: a later change does not count until the level is forgotten.
        setenv("RIMEHOLT_LOG", "error", 1);
        EXPECT_EQ(LevelInForce(), row.level);
    }
}

void WarnEveryFrame(int frame, int* formatted) {
    RH_LOG_ONCE(LogLevel::Warning, "frame %d: odd (%d)", frame, ++*formatted);
}

void WarnElsewhere() { RH_LOG_ONCE(LogLevel::Warning, "elsewhere"); }

TEST(Log, OnceOnlyLinesAreSaidOncePerCallSite) {
    LogCapture capture(LogLevel::Warning);
    int formatted = 0;
    for (int frame = 1; frame <= 3; ++frame) WarnEveryFrame(frame, &formatted);
    WarnElsewhere();
    WarnElsewhere();
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"frame 1: odd (1)", "elsewhere"}));
    EXPECT_EQ(formatted, 1) << "the arguments are evaluated only when the line is said";
}

TEST(Log, OnceOnlyLineDroppedByTheLevelIsSaidWhenTheLevelAllowsIt) {
    LogCapture capture(LogLevel::Error);
    int formatted = 0;
    WarnEveryFrame(1, &formatted);
    rh::testing::SetLogLevel(LogLevel::Warning);
    WarnEveryFrame(2, &formatted);
    WarnEveryFrame(3, &formatted);
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"frame 2: odd (1)"}));
}

TEST(Log, OnceOnlyHoldsAcrossThreads) {
    LogCapture capture(LogLevel::Warning);
    std::vector<std::thread> threads;
    std::vector<int> formatted(8, 0);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&formatted, i] {
            for (int frame = 0; frame < 100; ++frame) WarnEveryFrame(frame, &formatted[i]);
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(capture.lines().size(), 1u);
}

TEST(Log, TextsBecomeWholeLines) {
    LogCapture capture(LogLevel::Trace);
    rh::LogWarning("ends with a newline\n");
    rh::LogWarning("two newlines\n\n");
    rh::LogError("%s", "");
    const std::string longText(1000, 'x');
    rh::LogTrace("[%s]", longText.c_str());
    const char raw[] = "raw bytes\n";
    rh::LogText(LogLevel::Trace, raw, sizeof raw - 1);
    rh::LogText(LogLevel::Trace, raw, 3);
    rh::LogAt(LogLevel::Error, "at %s", "error");
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"ends with a newline", "two newlines\n", "",
                                                         "[" + longText + "]", "raw bytes", "raw", "at error"}));
}

TEST(Log, LinesGoToStandardErrorWithTheirLevel) {
    rh::testing::SetLogLevel(LogLevel::Warning);
    ::testing::internal::CaptureStderr();
    rh::LogError("no OpenGL: %s", "none");
    rh::LogWarning("unknown value %u\n", 7u);
    rh::LogTrace("not shown");
    const std::string text = ::testing::internal::GetCapturedStderr();
    rh::testing::ForgetLogLevel();
    EXPECT_EQ(text, "rimeholt: error: no OpenGL: none\nrimeholt: warning: unknown value 7\n");
}

TEST(Log, CaptureEndsBackOnStandardErrorWithTheEnvironmentsLevel) {
    ScopedEnv env("RIMEHOLT_LOG", "error");
    {
        LogCapture capture(LogLevel::Trace);
        rh::LogWarning("captured");
        EXPECT_EQ(capture.texts(), std::vector<std::string>{"captured"});
    }
    EXPECT_EQ(LevelInForce(), LogLevel::Error);
    ::testing::internal::CaptureStderr();
    rh::LogError("after");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "rimeholt: error: after\n");
}

}  // namespace
