// The clock's millisecond source, replaceable so that tests can drive time by hand instead of
// sleeping. Engine code never calls this: the engine clock always reads timeGetTime.
#pragma once

#include <cstdint>

// A 32-bit millisecond counter that only moves forward and wraps at 2^32, as timeGetTime does.
// Any smaller reading than the one before is taken as a wrap.
using MillisecondSource = uint32_t (*)();

// Makes `source` the clock's source (null: timeGetTime again) and starts the clock afresh:
// not frozen, no wraps counted, so ClockNow equals the source's reading until it wraps.
void SetClockSource(MillisecondSource source);
