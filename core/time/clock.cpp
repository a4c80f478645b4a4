#include "core/time/clock.h"

#include <mmsystem.h>

uint64_t ClockNow() { return static_cast<uint64_t>(timeGetTime()); }
