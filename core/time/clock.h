// The engine clock: every engine timing reads ClockNow.
#pragma once

#include <cstdint>

// Milliseconds from the multimedia timer, widened to 64 bits with a zero high half.
uint64_t ClockNow();
