// Windows made by CreateWindowExA: each one a desktop window of its own made with SDL, the
// window classes they belong to, and the queue state the message calls share.
#pragma once

#include "platform/win32/sdl_window_local.h"
#include "platform/win32/window_local.h"

#include <cstdint>
#include <string>

struct SDL_Window;

namespace rh::win32 {

// A class as RegisterClassA left it.
struct WindowClass {
    std::string name;
    ATOM atom = 0;
    WNDCLASSA wc{};
    int windows = 0;  // live windows of the class; UnregisterClassA waits for 0
};

class SdlWindow final : public HWND__ {
public:
    // parent is null or a live SdlWindow; rect is relative to the parent's client area, or in
    // screen pixels without a parent.
    SdlWindow(WindowClass* windowClass, HWND__* parent, DWORD style, DWORD exStyle, int id,
              RECT rect);
    ~SdlWindow() override;

    // Makes the SDL window (hidden unless WS_VISIBLE). False when SDL cannot.
    bool Open(std::string_view ansiTitle);
    // Makes the window an X child of another program's window (its rect then relative to that
    // window) instead; false when the number names no X window or SDL cannot adopt the child.
    bool OpenInForeignParent(uint32_t parentXid, std::string_view ansiTitle);
    // The X window id of the other program's parent window, 0 for none.
    uint32_t foreignParent() const { return foreignParent_; }

    // The class's window procedure. The window may be destroyed by the time it returns.
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override;
    // DefWindowProcA for this window. The window may be destroyed by the time it returns.
    LRESULT Default(UINT msg, WPARAM wParam, LPARAM lParam);

    bool Post(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool Place(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) override;
    RECT ScreenRect() const override;
    RECT ClientScreenRect() const override { return ScreenRect(); }

    SDL_Window* sdl() const { return sdl_; }
    WindowClass* windowClass() const { return class_; }
    bool visible() const { return visible_; }
    bool minimized() const { return minimized_; }
    bool maximized() const { return maximized_; }

    // ShowWindow after the handle was checked; returns whether it was visible before.
    bool Show(int command);

    // Whether WM_PAINT is due: set when shown or exposed, cleared by validation.
    bool needsPaint() const { return needsPaint_ && visible_; }
    void Invalidate() { needsPaint_ = true; }
    void Validate() { needsPaint_ = false; }

    // Set once DestroyWindow started on it, so a second call from WM_DESTROY does nothing.
    bool destroying() const { return destroying_; }
    void MarkDestroying() { destroying_ = true; }

    // What the display server did to the window, reported from SDL window events; each sends
    // the messages Windows sends for it.
    void OnMoved(int x, int y);
    void OnResized(int width, int height, bool endOfUserResize);
    void OnMinimized();
    void OnMaximized();
    void OnRestored();
    void OnFocus(bool gained);

protected:
    void OnTextChanged() override;

private:
    // Moves and sizes the SDL window (and the children over it) to the current rectangle.
    void ApplyRect();
    void SendSize(WPARAM kind);

    WindowClass* class_;
    SDL_Window* sdl_ = nullptr;
    RECT rect_;  // relative to the parent's client area, or screen pixels without a parent
    bool visible_ = false;
    bool minimized_ = false;
    bool maximized_ = false;
    bool needsPaint_ = false;
    bool destroying_ = false;
    uint32_t foreignParent_ = 0;
};

// Destroys the windows whose foreign parent window the display server has destroyed, as
// Windows destroys children with their parent. Called as events are read.
void CheckForeignParents();

// An SDL window with SDL_WINDOW_OPENGL and the layer's GL pixel format (SetGlPixelFormat), or
// the nearest format the display has; null when SDL cannot make one.
SDL_Window* CreateGlWindow(const char* title, int x, int y, int width, int height, unsigned flags);

// The SdlWindow a live handle names, or null (stale, null, a dialog or a control).
SdlWindow* SdlWindowFromHandle(HWND hwnd);
// Every live SdlWindow, oldest first.
const std::vector<SdlWindow*>& SdlWindows();

// ---- The queue, shared by the message calls and the SDL event translation ----------------
// Queues a posted or input message; typed is what the key typed, for TranslateMessage.
void QueueMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, std::string typed = {});
// Queues WM_MOUSEMOVE from the pointer: like Windows, the queue keeps only the newest move
// while no other input for the window follows it.
void QueueMouseMove(HWND hwnd, WPARAM keys, LPARAM point);
// Attaches text typed to the newest queued key-down of hwnd that has none yet; false when
// there is none, so the text goes as WM_CHAR of its own.
bool AttachTypedText(HWND hwnd, const std::string& typed);
// Drops the window's queued messages and timers (DestroyWindow).
void ForgetWindow(HWND hwnd);
// Milliseconds for MSG::time, as GetTickCount counts them.
DWORD MessageTime();

// ---- Keys ------------------------------------------------------------------------------------
// What Windows reports for a key: its VK code, its scan code (set 1) and whether the
// scan code is an extended one (bit 24 of lParam).
struct KeyCodes {
    int vk = 0;
    int scan = 0;
    bool extended = false;
};
// The key behind an SDL scancode and keycode; vk 0 for a key Windows has no code for. Letters
// and digits follow the layout's label, as VK codes do; other keys follow their position on a
// US keyboard.
KeyCodes KeyFromSdl(int scancode, int keycode);
// The SDL scancode of a VK code's key on a US keyboard (the left one of a pair, the main block's
// Enter); SDL_SCANCODE_UNKNOWN (0) for a code without a key here.
int SdlScancodeFromVk(int vk);
// The window that last gained the keyboard focus and still has it, or null.
HWND FocusWindow();

// ---- Input state, kept from the events as they are read ------------------------------------
// The pointer in screen pixels and the window it is over (null when over none of ours).
void NoteCursor(HWND over, POINT screen);
void NoteKey(int virtualKey, bool down);
bool KeyDown(int virtualKey);
// Applies the class cursor or null to the pointer shape, with the ShowCursor count.
void ApplyCursorVisibility();

}  // namespace rh::win32
