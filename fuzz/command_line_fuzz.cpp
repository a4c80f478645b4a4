// Any command line gives a defined mode and number.

#include "platform/win32/win32_testing.h"
#include "saver/entry.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The command line is a C string: it ends at the first zero byte.
    std::string line(reinterpret_cast<const char*>(data), size);
    line.resize(line.find('\0') == std::string::npos ? line.size() : line.find('\0'));
    rh::win32::SetCommandLine(line);
    LONG number = -1;
    SaverMode mode = ParseCommandLine(&number);
    if (static_cast<int>(mode) < 0 || static_cast<int>(mode) > 4) std::abort();
    return 0;
}
