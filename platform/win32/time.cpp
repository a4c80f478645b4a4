// timeGetTime and GetLocalTime over POSIX clocks, with two test switches: RIMEHOLT_CLOCK_SCALE
// (a whole number 1..1000) makes the multimedia timer run that many times faster, so that a
// long run (a soak) passes in a fraction of its time; RIMEHOLT_LOCAL_TIME ("H:MM:SS") holds the
// local time of day still, so that pictures showing the clock can be compared.

#include <mmsystem.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

uint64_t ClockScale() {
    static const uint64_t scale = [] {
        const char* text = std::getenv("RIMEHOLT_CLOCK_SCALE");
        if (text == nullptr) return uint64_t{1};
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        return end != text && *end == '\0' && value >= 1 && value <= 1000 ? static_cast<uint64_t>(value) : uint64_t{1};
    }();
    return scale;
}

}  // namespace

DWORD WINAPI timeGetTime(void) {
    // Like the multimedia timer, milliseconds since the system started, in 32 bits that wrap.
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms * ClockScale());
}

void WINAPI GetLocalTime(LPSYSTEMTIME out) {
    if (out == nullptr) return;
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    localtime_r(&ts.tv_sec, &local);
    out->wYear = static_cast<WORD>(local.tm_year + 1900);
    out->wMonth = static_cast<WORD>(local.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    out->wDay = static_cast<WORD>(local.tm_mday);
    out->wHour = static_cast<WORD>(local.tm_hour);
    out->wMinute = static_cast<WORD>(local.tm_min);
    out->wSecond = static_cast<WORD>(local.tm_sec);
    out->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
    if (const char* fixed = std::getenv("RIMEHOLT_LOCAL_TIME")) {
        unsigned h = 0, m = 0, s = 0;
        if (std::sscanf(fixed, "%u:%u:%u", &h, &m, &s) == 3 && h < 24 && m < 60 && s < 60) {
            out->wHour = static_cast<WORD>(h);
            out->wMinute = static_cast<WORD>(m);
            out->wSecond = static_cast<WORD>(s);
            out->wMilliseconds = 0;
        }
    }
}
