// The program's one log: graded lines on standard error.
//
// Three levels, from the most to the least serious; the chosen level lets its own lines and
// the more serious ones through. At "warning" (the default) errors and warnings appear and
// trace lines are dropped. RIMEHOLT_LOG=error|warning|trace in the environment chooses the
// level (read once, at the first line; letters in any case); any other value keeps the default
// and says so once.
//
// - error: something the program needed did not happen (no OpenGL context, a dialog that
//   cannot be built); the caller fails.
// - warning: an oddity the program recovers from (an unknown state value, a missing bitmap).
//   Where it could repeat every frame, write it with RH_LOG_ONCE.
// - trace: what a run chose and went through (mode, device settings, resets, losses), for
//   whoever debugs a run.
//
// Each line goes out whole as "rimeholt: LEVEL: text\n"; a text's own trailing newline is
// dropped, so callers may end their texts either way. The functions may be called from any
// thread, and during static initialisation and exit: the log's state is constant-initialised.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>

namespace rh {

enum class LogLevel : int { Error = 0, Warning = 1, Trace = 2 };

// Whether a line of this level would be written now.
bool LogEnabled(LogLevel level);

// printf-style texts.
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogAt(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogAtV(LogLevel level, const char* format, va_list arguments) __attribute__((format(printf, 2, 0)));

// A text that is already a line (no formatting): length bytes from text.
void LogText(LogLevel level, const char* text, std::size_t length);

// One call site's "already said" mark, for RH_LOG_ONCE. Constant-initialised, so a static one
// costs no guard.
class LogOnceFlag {
public:
    constexpr LogOnceFlag() = default;
    // True the first time it is asked while lines of this level are written; false after. A
    // line dropped by the level does not use the flag up.
    bool Claim(LogLevel level);

private:
    std::atomic<unsigned> said_{0};
};

}  // namespace rh

// Writes the line the first time this call site runs with the level enabled, never again:
// for warnings that would otherwise repeat every frame. The arguments are evaluated only then.
#define RH_LOG_ONCE(level, ...)                                              \
    do {                                                                     \
        static ::rh::LogOnceFlag rh_log_once_flag_;                          \
        if (rh_log_once_flag_.Claim(level)) ::rh::LogAt(level, __VA_ARGS__); \
    } while (false)
