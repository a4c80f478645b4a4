// The process entry. Windows programs start in WinMain with the command line's arguments; the
// program's exit status follows Linux convention: 0 when WinMain returns 1 (its normal end),
// 1 for any other result.

#include "platform/win32/win32_local.h"

#include <windows.h>

int main(int argc, char** argv) {
    rh::win32::SetCommandLine(rh::win32::BuildCommandLine(argc, argv));
    LPSTR arguments = const_cast<LPSTR>(rh::win32::SkipProgramName(GetCommandLineA()));
    int result = WinMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWNORMAL);
    return result == 1 ? 0 : 1;
}
