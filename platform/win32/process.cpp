#include "platform/win32/win32_local.h"

#include <windows.h>

#include <cstdlib>

namespace rh::win32 {
namespace {

std::string& CommandLineStorage() {
    static std::string line;
    return line;
}

}  // namespace

std::string BuildCommandLine(int argc, const char* const* argv) {
    std::string line;
    if (argc > 0 && argv[0] != nullptr) {
        std::string program = argv[0];
        line = program.find(' ') != std::string::npos ? "\"" + program + "\"" : program;
    }
    for (int i = 1; i < argc; ++i) {
        line += ' ';
        line += argv[i] != nullptr ? argv[i] : "";
    }
    return line;
}

void SetCommandLine(std::string commandLine) { CommandLineStorage() = std::move(commandLine); }

const char* SkipProgramName(const char* p) {
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

}  // namespace rh::win32

LPSTR WINAPI GetCommandLineA(void) { return rh::win32::CommandLineStorage().data(); }

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    // Linux has no Windows system directory. Its closest counterpart holds the system's shared
    // libraries, which carry no Windows version information; RIMEHOLT_SYSTEM_DIR lets tests
    // point it at files of their own.
    const char* dir = std::getenv("RIMEHOLT_SYSTEM_DIR");
    if (dir == nullptr || *dir == '\0') dir = "/usr/lib";
    UINT length = 0;
    while (dir[length] != '\0') ++length;
    if (buffer == nullptr || size <= length) return length + 1;
    for (UINT i = 0; i <= length; ++i) buffer[i] = dir[i];
    return length;
}
