// WinMain: the DirectX check, the mode from the command line and the hand-over to the
// application.

#include "saver/entry.h"

#include "core/time/clock.h"
#include "saver/log.h"
#include "saver/saver_app.h"

#include <rimeholt/log.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

// On this platform the missing piece is the OpenGL driver that the Direct3D layer draws with.
const char* const g_directXDownloadAddress = "https://wiki.debian.org/GraphicsCard";

namespace {

// The start line carries the local time as day/month/year, hours:minutes:seconds.
void LogStart() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char line[64];
    std::snprintf(line, sizeof line, ">>Log started %u/%u/%u, %u:%02u:%02u ", t.wDay, t.wMonth,
                  t.wYear, t.wHour, t.wMinute, t.wSecond);
    Log(line);
}

const char* ModeName(SaverMode mode) {
    switch (mode) {
        case SaverMode::FullScreen: return "full screen";
        case SaverMode::Preview: return "preview";
        case SaverMode::Test: return "test";
        case SaverMode::Settings: return "settings";
        case SaverMode::Password: return "password";
    }
    return "?";
}

}  // namespace

SaverMode ParseCommandLine(LONG* number) {
    *number = 0;
    const char* p = GetCommandLineA();
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p != '\0') ++p;
    } else {
        while (*p != '\0' && *p != ' ') ++p;
        if (*p != '\0') ++p;
    }
    while (*p != '\0' && *p != '/' && *p != '-') ++p;
    if (*p == '\0') return SaverMode::Settings;

    SaverMode mode;
    switch (p[1]) {
        case 'a': case 'A': mode = SaverMode::Password; break;
        case 'c': case 'C': mode = SaverMode::Settings; break;
        case 'p': case 'P': mode = SaverMode::Preview; break;
        case 't': case 'T': return SaverMode::Test;
        default: return SaverMode::FullScreen;
    }
    const char* digits = p + 2;
    while (*digits != '\0' && (*digits < '0' || *digits > '9')) ++digits;
    if (*digits != '\0') {
        // A window handle number is a 32-bit long on the original platform, whose atol
        // saturates on overflow; glibc's long is 64-bit, so clamp to the same range.
        long value = std::atol(digits);
        *number = static_cast<LONG>(value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : value);
    }
    return mode;
}

INT_PTR CALLBACK NoDirectXDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            SetWindowPos(dialog, nullptr, 300, 300, 390, 131, 0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

void SeedRandomFromClock() { srand(static_cast<unsigned>(static_cast<int64_t>(ClockNow()) % 32768)); }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    LogStart();

    DWORD version = 0;
    char versionText[10];
    if (FAILED(GetDirectXVersion(&version, versionText, sizeof versionText)) ||
        version < kRequiredDirectXVersion) {
        Log("DX version < 9 \n");
        rh::LogTrace("DirectX version \"%s\": 9.0 or later is required", versionText);
        INT_PTR choice = DialogBoxParamA(instance, MAKEINTRESOURCEA(107), nullptr, NoDirectXDlgProc, 0);
        if (choice == IDOK) {
            ShellExecuteA(nullptr, "open", g_directXDownloadAddress, nullptr, nullptr, SW_SHOWNORMAL);
        }
        // The saver could not run: that is a failure, whichever button was chosen.
        return 0;
    }
    Log("DX version ok\n");
    rh::LogTrace("DirectX version %s", versionText);

    LONG number = 0;
    SaverMode mode = ParseCommandLine(&number);
    char line[48];
    std::snprintf(line, sizeof line, "Running in mode: %d\n", static_cast<int>(mode));
    Log(line);
    rh::LogTrace("Mode: %s (number %d)", ModeName(mode), static_cast<int>(number));

    SaverApp* app = GetSaverApp();
    SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, TRUE, nullptr, 0);
    SeedRandomFromClock();

    if (!app->Create(instance, mode, number)) {
        SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, nullptr, 0);
        // The application is deleted on this way out too, so nothing outlives WinMain.
        DeleteSaverApp();
        return 0;
    }
    int result = mode == SaverMode::Settings ? 1 : app->Run();

    SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, nullptr, 0);
    DeleteSaverApp();
    Log("\n<<Log closed");
    return result;
}
