// Hooks for tests of the Windows family and of the programs over it: what the process was
// started with, what it told the desktop, and the clock its timers run on. Layer code and
// tests only; the engine never calls them.
#pragma once

#include <cstdint>
#include <string>

namespace rh::win32 {

// Replaces what GetCommandLineA answers.
void SetCommandLine(std::string commandLine);

// SPI_SETSCREENSAVERRUNNING: the flag as last set, and whether the desktop's screensaver is
// being held off now.
bool ScreensaverRunningFlag();
bool DesktopScreensaverInhibited();

// A millisecond reading that never goes back.
using TimerClock = uint64_t (*)();
// Makes `clock` the time that SetTimer counts from and that decides when WM_TIMER falls due,
// so that tests move time by hand instead of sleeping; null gives back the system's monotonic
// clock. Timers already running keep their due times, read on the clock they were set by.
void SetTimerClock(TimerClock clock);

}  // namespace rh::win32
