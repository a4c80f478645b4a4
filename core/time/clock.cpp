#include "core/time/clock.h"

#include "core/time/clock_source.h"

#include <mmsystem.h>

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// The global clock

namespace {

uint32_t ReadTimeGetTime() { return timeGetTime(); }

// Constant-initialised, so the clock may be read while other globals are being constructed.
constinit MillisecondSource g_source = &ReadTimeGetTime;
constinit uint32_t g_lastReading = 0;
constinit uint64_t g_wrapBase = 0;  // 2^32 times the wraps seen
constinit bool g_frozen = false;
constinit uint64_t g_frozenTime = 0;

// The source's reading with the wraps seen so far in the high half. The 32-bit timer wraps
// after about 49.7 days; widening it alone would make the clock jump back by 2^32 there, and
// every timer started before the wrap would see a start far in the future.
uint64_t ReadExtended() {
    const uint32_t reading = g_source();
    if (reading < g_lastReading) g_wrapBase += uint64_t{1} << 32;
    g_lastReading = reading;
    return g_wrapBase + reading;
}

}  // namespace

void SetClockSource(MillisecondSource source) {
    g_source = source != nullptr ? source : &ReadTimeGetTime;
    g_lastReading = 0;
    g_wrapBase = 0;
    g_frozen = false;
    g_frozenTime = 0;
}

uint64_t ClockNow() { return g_frozen ? g_frozenTime : ReadExtended(); }

void FreezeClock(bool freeze) {
    if (freeze && !g_frozen) g_frozenTime = ReadExtended();
    g_frozen = freeze;
}

// ---------------------------------------------------------------------------------------------
// IntervalTimer

uint64_t IntervalTimer::Reset() {
    start_ = ClockNow();
    return start_;
}

// The differences are taken modulo 2^64 and read as signed, so no operation can overflow.
int64_t IntervalTimer::Elapsed() const { return static_cast<int64_t>(ClockNow() - start_); }

bool IntervalTimer::Check(int64_t interval) {
    const uint64_t now = ClockNow();
    const int64_t since = static_cast<int64_t>(now - start_);
    const int64_t until = static_cast<int64_t>(start_ - now);
    if (since < interval && until < interval) return false;
    start_ = now;
    return true;
}

// ---------------------------------------------------------------------------------------------
// RandomIntervalScheduler

namespace {

// trunc(x) for x >= 0, saturated where int64 ends (a length from a file may be huge).
int64_t WholeMilliseconds(float x) {
    constexpr float kLimit = 9.0e18f;  // below 2^63, so the conversion is always defined
    return x < kLimit ? static_cast<int64_t>(x) : INT64_MAX;
}

// Zero ends the call's events as the interval "never" would; a negative length or a NaN,
// which data files can give, would otherwise hold the event loop on one spot for ever.
bool UsableLength(float length) { return length > 0.0f; }

}  // namespace

void RandomIntervalScheduler::Start() {
    nextTime_ = static_cast<int64_t>(ClockNow());
    accumulated_ = 0.0f;
    current_ = kNotDrawn;
}

void RandomIntervalScheduler::Generate(LinkedList<int64_t>& due, int32_t maxCount, int64_t now) {
    if (nextTime_ == kStopped) return;
    if (now == kClockNow) now = static_cast<int64_t>(ClockNow());
    if (current_ == kNotDrawn) current_ = interval_.Sample();
    if (!UsableLength(current_)) {
        current_ = kNotDrawn;
        return;
    }

    // nextTime_ >= 0 here and stays put in the loop, so `now - nextTime_` cannot overflow and
    // every appended time lies between nextTime_ and now.
    int32_t consumed = 0;
    while (now >= nextTime_ && WholeMilliseconds(current_ + accumulated_) <= now - nextTime_) {
        if (consumed == kMaxEventsPerCall) {
            // The rest of the backlog goes; counting resumes at now with the drawn length.
            nextTime_ = now;
            accumulated_ = 0.0f;
            return;
        }
        ++consumed;
        accumulated_ = current_ + accumulated_;
        if (due.count() < maxCount) due.Append(nextTime_ + WholeMilliseconds(accumulated_));
        current_ = interval_.Sample();
        if (!UsableLength(current_)) {
            current_ = kNotDrawn;
            break;
        }
    }

    // Only the fraction is carried, so no fractional millisecond is ever lost.
    const int64_t whole = WholeMilliseconds(accumulated_);
    nextTime_ += whole;
    accumulated_ -= static_cast<float>(whole);
}
