// Layer-private parts of the Windows family, shared by its sources, the entry point and the
// conformance tests.
#pragma once

#include <string>

namespace rh::win32 {

// Builds the Windows-style command line from argv: the program path, double-quoted when it
// holds a blank, then the arguments joined with blanks.
std::string BuildCommandLine(int argc, const char* const* argv);

// Replaces what GetCommandLineA answers.
void SetCommandLine(std::string commandLine);

// The arguments part of a command line, as WinMain receives it: what follows the program path
// and the blanks after it.
const char* SkipProgramName(const char* commandLine);

// SPI_SETSCREENSAVERRUNNING: the flag as last set, and whether the desktop's screensaver is
// being held off now.
bool ScreensaverRunningFlag();
bool DesktopScreensaverInhibited();

}  // namespace rh::win32
