// Layer-private parts of the Windows family, shared by its sources, the entry point and the
// conformance tests. The hooks that tests of programs may use are in win32_testing.h.
#pragma once

#include "platform/win32/win32_testing.h"

#include <string>

namespace rh::win32 {

// Builds the Windows-style command line from argv: the program path, double-quoted when it
// holds a blank, then the arguments joined with blanks.
std::string BuildCommandLine(int argc, const char* const* argv);

// The arguments part of a command line, as WinMain receives it: what follows the program path
// and the blanks after it.
const char* SkipProgramName(const char* commandLine);

// Whether the handle names an event made by CreateEventA and not yet closed.
bool IsOpenEvent(void* handle);

// What CloseHandle does for each kind of handle: true when the handle named an open object of
// that kind, which is then closed.
bool CloseEvent(void* handle);
bool CloseMapping(void* handle);
bool CloseFile(void* handle);

}  // namespace rh::win32
