#include <rimeholt/log.h>

#include "platform/log/log_testing.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace rh {
namespace {

constexpr int kLevelUnread = -1;
constexpr LogLevel kDefaultLevel = LogLevel::Warning;

// Everything here is constant-initialised, so lines may be written by other globals'
// constructors and exit handlers.
constinit std::atomic<int> g_level{kLevelUnread};
// A once-only flag has said its line when it holds the current generation; flags start at 0.
constinit std::atomic<unsigned> g_onceGeneration{1};
constinit std::mutex g_sinkMutex;
constinit testing::LogSink g_sink = nullptr;
constinit void* g_sinkContext = nullptr;

const char* LevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Error: return "error";
        case LogLevel::Warning: return "warning";
        case LogLevel::Trace: return "trace";
    }
    return "?";
}

bool ParseLevel(const char* text, LogLevel* level) {
    for (LogLevel candidate : {LogLevel::Error, LogLevel::Warning, LogLevel::Trace}) {
        if (strcasecmp(text, LevelName(candidate)) == 0) {
            *level = candidate;
            return true;
        }
    }
    return false;
}

LogLevel CurrentLevel() {
    const int level = g_level.load(std::memory_order_relaxed);
    if (level != kLevelUnread) return static_cast<LogLevel>(level);
    const char* text = std::getenv("RIMEHOLT_LOG");
    LogLevel chosen = kDefaultLevel;
    const bool known = text == nullptr || *text == '\0' || ParseLevel(text, &chosen);
    int expected = kLevelUnread;
    // Only the thread that settles the level complains, so a bad value is reported once.
    if (g_level.compare_exchange_strong(expected, static_cast<int>(chosen)) && !known) {
        LogWarning("RIMEHOLT_LOG=\"%s\" is not error, warning or trace; warning is used", text);
    }
    return static_cast<LogLevel>(g_level.load(std::memory_order_relaxed));
}

void Emit(LogLevel level, const char* text, std::size_t length) {
    if (length > 0 && text[length - 1] == '\n') --length;
    {
        std::lock_guard<std::mutex> lock(g_sinkMutex);
        if (g_sink != nullptr) {
            g_sink(g_sinkContext, level, std::string_view(text, length));
            return;
        }
    }
    // One write per line, so lines from several threads do not interleave.
    std::string line = "rimeholt: ";
    line += LevelName(level);
    line += ": ";
    line.append(text, length);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

bool LogEnabled(LogLevel level) { return static_cast<int>(level) <= static_cast<int>(CurrentLevel()); }

void LogText(LogLevel level, const char* text, std::size_t length) {
    if (LogEnabled(level)) Emit(level, text, length);
}

void LogAtV(LogLevel level, const char* format, va_list arguments) {
    if (!LogEnabled(level)) return;
    char small[256];
    va_list again;
    va_copy(again, arguments);
    const int needed = std::vsnprintf(small, sizeof small, format, arguments);
    if (needed < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        va_end(again);
        Emit(level, small, static_cast<std::size_t>(needed));
        return;
    }
    std::string large(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    Emit(level, large.data(), static_cast<std::size_t>(needed));
}

void LogAt(LogLevel level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    LogAtV(level, format, arguments);
    va_end(arguments);
}

#define RH_LOG_DEFINE_LEVEL(name, level)   \
    void name(const char* format, ...) {   \
        va_list arguments;                 \
        va_start(arguments, format);       \
        LogAtV(level, format, arguments);  \
        va_end(arguments);                 \
    }
RH_LOG_DEFINE_LEVEL(LogError, LogLevel::Error)
RH_LOG_DEFINE_LEVEL(LogWarning, LogLevel::Warning)
RH_LOG_DEFINE_LEVEL(LogTrace, LogLevel::Trace)
#undef RH_LOG_DEFINE_LEVEL

bool LogOnceFlag::Claim(LogLevel level) {
    if (!LogEnabled(level)) return false;
    const unsigned generation = g_onceGeneration.load(std::memory_order_relaxed);
    return said_.exchange(generation, std::memory_order_relaxed) != generation;
}

namespace testing {

void SetLogSink(LogSink sink, void* context) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_sink = sink;
    g_sinkContext = context;
}

void SetLogLevel(LogLevel level) { g_level.store(static_cast<int>(level)); }

void ForgetLogLevel() { g_level.store(kLevelUnread); }

void ForgetLogOnce() { g_onceGeneration.fetch_add(1); }

}  // namespace testing
}  // namespace rh
