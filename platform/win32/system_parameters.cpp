// SystemParametersInfoA: only the screensaver-running flag.

#include "platform/win32/win32_local.h"

#include <windows.h>

#include <SDL.h>

namespace {

bool g_screensaverRunning = false;
bool g_videoHeld = false;

}  // namespace

BOOL WINAPI SystemParametersInfoA(UINT action, UINT uiParam, LPVOID pvParam, UINT) {
    if (action != SPI_SETSCREENSAVERRUNNING) return FALSE;
    // The previous state goes to pvParam, as on Windows.
    if (pvParam != nullptr) *static_cast<BOOL*>(pvParam) = g_screensaverRunning ? TRUE : FALSE;
    bool running = uiParam != 0;
    if (running == g_screensaverRunning) return TRUE;
    g_screensaverRunning = running;
    // While our saver runs, the desktop's own screensaver and power saving must stay away.
    // SDL inhibits them only with its video subsystem up; without a display the flag is kept all
    // the same.
    if (running) {
        g_videoHeld = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        if (g_videoHeld) SDL_DisableScreenSaver();
    } else if (g_videoHeld) {
        SDL_EnableScreenSaver();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        g_videoHeld = false;
    }
    return TRUE;
}

namespace rh::win32 {

bool ScreensaverRunningFlag() { return g_screensaverRunning; }

bool DesktopScreensaverInhibited() { return g_videoHeld && !SDL_IsScreenSaverEnabled(); }

}  // namespace rh::win32
