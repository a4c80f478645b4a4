// The engine clock: every engine timing reads ClockNow, in milliseconds. The clock can be
// frozen so that everything drawn in one pass reads one time. On it stand IntervalTimer (time
// since a start, and whether an interval has passed) and RandomIntervalScheduler (event times
// spaced by random interval lengths; the particle emitters spawn on them).
//
// One thread: the clock state is plain globals without locks.
#pragma once

#include "core/containers/linked_list.h"
#include "core/types/random_value.h"

#include <cstdint>

// The frozen time while the clock is frozen; otherwise the multimedia timer (timeGetTime)
// extended to 64 bits. Until the 32-bit timer first wraps (after about 49.7 days) this is the
// timer's own value; at each wrap the high half counts up, so the clock never goes back. The
// wraps are seen by reading the timer, which every frame does, at least once per wrap period.
uint64_t ClockNow();

// true: freezes the clock at the current time, unless it is frozen already (freezing twice
// keeps the first frozen time). false: releases it; the clock answers the real time again, with
// no offset for the frozen span. Releasing a clock that is not frozen does nothing.
void FreezeClock(bool freeze);

// Measures the time since a start. Times are ClockNow milliseconds; distances are signed, so a
// start later than now gives a negative Elapsed.
class IntervalTimer {
public:
    // Starts now.
    IntervalTimer() : start_(ClockNow()) {}

    // Any time: a start of 0 makes the next Check with a reachable interval fire.
    void SetStart(uint64_t start) { start_ = start; }
    // Restarts now and returns the new start.
    uint64_t Reset();
    // ClockNow - start.
    int64_t Elapsed() const;
    // False while now is less than `interval` away from the start in either direction;
    // otherwise the timer restarts at now and the answer is true. A start in the future counts
    // as far as one in the past.
    bool Check(int64_t interval);

    uint64_t start() const { return start_; }

private:
    uint64_t start_;
};

// Turns a random interval length into a stream of event times: the events fall at the start
// plus the running sum of the drawn lengths, with fractional milliseconds carried from call to
// call. The lengths are drawn with RandomValue::Sample, so each drawn event takes its place in
// the process's rand sequence.
class RandomIntervalScheduler {
public:
    // nextTime() while stopped.
    static constexpr int64_t kStopped = -1;
    // Generate's `now` that means ClockNow.
    static constexpr int64_t kClockNow = -1;
    // The most events one Generate call consumes. A call that finds more due (a stall, such as
    // a suspended machine, or an interval far below a millisecond) drops the rest of the
    // backlog and counts on from `now`. Far above what one frame ever has due.
    static constexpr int32_t kMaxEventsPerCall = 10000;

    // Stopped, with the constant interval 0.
    RandomIntervalScheduler() = default;

    // The distribution of interval lengths, in milliseconds.
    void SetInterval(const RandomValue& interval) { interval_ = interval; }
    const RandomValue& interval() const { return interval_; }

    // Counts from ClockNow, with nothing carried and no interval drawn yet.
    void Start();

    // Appends to `due` the times of the events that have come due by `now` (kClockNow: read
    // ClockNow), in time order, each after the list's cursor (LinkedList::Append). Once the list
    // holds `maxCount` entries further due events are dropped, but consumed all the same.
    // A stopped scheduler does nothing. A drawn length that is not positive (zero, negative or
    // NaN) ends the call's events; the next call draws again. At most kMaxEventsPerCall events
    // are consumed per call (see there).
    void Generate(LinkedList<int64_t>& due, int32_t maxCount, int64_t now = kClockNow);

    // The time from which the next interval is counted; kStopped while stopped.
    int64_t nextTime() const { return nextTime_; }
    // Milliseconds counted past nextTime() that are not yet in it: a fraction between calls.
    float accumulated() const { return accumulated_; }
    // The length drawn for the next event; -1.0 when none is drawn.
    float current() const { return current_; }

private:
    static constexpr float kNotDrawn = -1.0f;

    RandomValue interval_;
    int64_t nextTime_ = kStopped;
    float accumulated_ = 0.0f;
    float current_ = kNotDrawn;
};
