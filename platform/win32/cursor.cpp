// The pointer: its shape, the ShowCursor count, its position and the key state, kept from the
// input the layer has read.

#include "platform/win32/sdl_window.h"

#include <SDL.h>

#include <array>

// A system cursor handle: one shared object per IDC_* id, made into an SDL cursor when first
// shown.
struct HICON__ {
    WORD id;
    SDL_SystemCursor shape;
    SDL_Cursor* sdl;
};

namespace rh::win32 {
namespace {

HICON__ g_cursors[] = {
    {32512, SDL_SYSTEM_CURSOR_ARROW, nullptr},    {32513, SDL_SYSTEM_CURSOR_IBEAM, nullptr},
    {32514, SDL_SYSTEM_CURSOR_WAIT, nullptr},     {32515, SDL_SYSTEM_CURSOR_CROSSHAIR, nullptr},
    {32642, SDL_SYSTEM_CURSOR_SIZENWSE, nullptr}, {32643, SDL_SYSTEM_CURSOR_SIZENESW, nullptr},
    {32644, SDL_SYSTEM_CURSOR_SIZEWE, nullptr},   {32645, SDL_SYSTEM_CURSOR_SIZENS, nullptr},
    {32646, SDL_SYSTEM_CURSOR_SIZEALL, nullptr},  {32649, SDL_SYSTEM_CURSOR_HAND, nullptr},
};

struct PointerState {
    int showCount = 0;  // Windows starts at 0 when a mouse is installed
    HCURSOR current = &g_cursors[0];
    bool known = false;
    POINT screen{};
    std::array<bool, 256> keys{};
};

PointerState& State() {
    static PointerState state;
    return state;
}

}  // namespace

void NoteCursor(HWND, POINT screen) {
    State().known = true;
    State().screen = screen;
}

void NoteKey(int virtualKey, bool down) {
    if (virtualKey > 0 && virtualKey < 256) State().keys[virtualKey] = down;
}

bool KeyDown(int virtualKey) {
    return virtualKey > 0 && virtualKey < 256 && State().keys[virtualKey];
}

void ApplyCursorVisibility() {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return;
    PointerState& s = State();
    bool visible = s.showCount >= 0 && s.current != nullptr;
    if (visible) {
        if (s.current->sdl == nullptr) s.current->sdl = SDL_CreateSystemCursor(s.current->shape);
        if (s.current->sdl != nullptr) SDL_SetCursor(s.current->sdl);
    }
    SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

}  // namespace rh::win32

using rh::win32::State;

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    if (instance != nullptr || !IS_INTRESOURCE(name)) return nullptr;
    for (HICON__& c : rh::win32::g_cursors) {
        if (c.id == LOWORD(name)) return &c;
    }
    return nullptr;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    HCURSOR previous = State().current;
    State().current = cursor;
    if (cursor != previous) rh::win32::ApplyCursorVisibility();
    return previous;
}

HCURSOR WINAPI GetCursor() {
    return State().current;
}

int WINAPI ShowCursor(BOOL show) {
    int& count = State().showCount;
    count += show != FALSE ? 1 : -1;
    // Only crossing between 0 and -1 changes what is seen.
    if (count == 0 || count == -1) rh::win32::ApplyCursorVisibility();
    return count;
}

BOOL WINAPI GetCursorPos(LPPOINT point) {
    if (point == nullptr) return FALSE;
    if (!State().known && SDL_WasInit(SDL_INIT_VIDEO) != 0) {
        int x = 0, y = 0;
        SDL_GetGlobalMouseState(&x, &y);
        *point = POINT{x, y};
        return TRUE;
    }
    *point = State().screen;
    return TRUE;
}

SHORT WINAPI GetAsyncKeyState(int virtualKey) {
    return rh::win32::KeyDown(virtualKey) ? static_cast<SHORT>(0x8000) : 0;
}
