// Window classes and the windows made by CreateWindowExA, each over an SDL window.

#include "platform/win32/sdl_window.h"

#include "platform/win32/foreign_window.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <strings.h>

namespace rh::win32 {
namespace {

const char kHandleKey[] = "rh.hwnd";

std::list<WindowClass>& Classes() {
    static std::list<WindowClass> classes;
    return classes;
}

WindowClass* FindClass(LPCSTR name) {
    if (name == nullptr) return nullptr;
    for (WindowClass& c : Classes()) {
        if (IS_INTRESOURCE(name) ? c.atom == LOWORD(name) : strcasecmp(c.name.c_str(), name) == 0)
            return &c;
    }
    return nullptr;
}

// Windows hands out class atoms from 0xC000 up.
ATOM NextAtom() {
    static ATOM next = 0xC000;
    return next++;
}

std::string Utf8Title(std::string_view ansi) { return Utf8FromWide(WideFromAnsi(ansi)); }

std::vector<SdlWindow*>& MutableSdlWindows() {
    static std::vector<SdlWindow*> windows;
    return windows;
}

}  // namespace

const std::vector<SdlWindow*>& SdlWindows() { return MutableSdlWindows(); }

void SetGlPixelFormat(int alphaBits) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alphaBits);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
}

SDL_Window* CreateGlWindow(const char* title, int x, int y, int width, int height, unsigned flags) {
    // Under X11 the window's visual is chosen here, so the pixel format the device's context
    // needs (RGBA8, D24S8, double-buffered, GL 2.1 compatibility) must be asked for now; a
    // display without it gets the nearest format it has, first without alpha, then SDL's own.
    //
    // SDL's offscreen driver gives a window a GL buffer of the size it is made with, for good:
    // a window that grows later (to a full-screen mode) would draw into a buffer cut short. There
    // the window is made at least as large as the desktop and then given its size, so its
    // buffer has room for any size up to the desktop's, as a window on a screen has.
    int madeWidth = width;
    int madeHeight = height;
    const char* driver = SDL_GetCurrentVideoDriver();
    SDL_Rect desktop{};
    if (driver != nullptr && std::strcmp(driver, "offscreen") == 0 && SDL_GetDisplayBounds(0, &desktop) == 0) {
        madeWidth = std::max(width, desktop.w);
        madeHeight = std::max(height, desktop.h);
    }
    SDL_Window* window = nullptr;
    for (int attempt = 0; attempt < 3 && window == nullptr; ++attempt) {
        SDL_GL_ResetAttributes();
        if (attempt < 2) SetGlPixelFormat(attempt == 0 ? 8 : 0);
        window = SDL_CreateWindow(title, x, y, madeWidth, madeHeight, flags | SDL_WINDOW_OPENGL);
    }
    if (window != nullptr && (madeWidth != width || madeHeight != height)) SDL_SetWindowSize(window, width, height);
    return window;
}

SdlWindow* SdlWindowFromHandle(HWND hwnd) { return dynamic_cast<SdlWindow*>(LiveWindow(hwnd)); }

SDL_Window* SdlWindowOf(HWND hwnd) {
    SdlWindow* w = SdlWindowFromHandle(hwnd);
    return w != nullptr ? w->sdl() : nullptr;
}

HWND WindowFromSdlWindow(SDL_Window* window) {
    if (window == nullptr) return nullptr;
    // Compared against the live set: the data pointer is only trusted once it names a window.
    HWND hwnd = static_cast<HWND>(SDL_GetWindowData(window, kHandleKey));
    SdlWindow* w = SdlWindowFromHandle(hwnd);
    return w != nullptr && w->sdl() == window ? hwnd : nullptr;
}

SdlWindow::SdlWindow(WindowClass* windowClass, HWND__* parent, DWORD style, DWORD exStyle,
                     int id, RECT rect)
    : HWND__(parent, id, style, exStyle), class_(windowClass), rect_(rect) {
    ++class_->windows;
    MutableSdlWindows().push_back(this);
}

SdlWindow::~SdlWindow() {
    auto& all = MutableSdlWindows();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    ForgetWindow(this);
    WindowsChanged();  // before SDL lets go of the window, not only when the handle dies
    if (sdl_ != nullptr) {
        SDL_SetWindowData(sdl_, kHandleKey, nullptr);
        SDL_DestroyWindow(sdl_);
    }
    --class_->windows;
}

bool SdlWindow::Open(std::string_view ansiTitle) {
    text_ = WideFromAnsi(ansiTitle);
    RECT r = ScreenRect();
    // Every window can carry the Direct3D device's GL context. Without a caption it is bare,
    // as a WS_POPUP or WS_CHILD window has no frame on Windows.
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if ((style() & WS_CAPTION) != WS_CAPTION) flags |= SDL_WINDOW_BORDERLESS;
    if ((style() & WS_THICKFRAME) != 0) flags |= SDL_WINDOW_RESIZABLE;
    if (parent() != nullptr || (exStyle() & WS_EX_TOOLWINDOW) != 0) flags |= SDL_WINDOW_SKIP_TASKBAR;
    if ((exStyle() & WS_EX_TOPMOST) != 0) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    std::string title = Utf8Title(ansiTitle);
    int width = std::max<int>(1, r.right - r.left), height = std::max<int>(1, r.bottom - r.top);
    sdl_ = CreateGlWindow(title.c_str(), r.left, r.top, width, height, flags);
    WindowsChanged();
    if (sdl_ == nullptr) return false;
    SDL_SetWindowData(sdl_, kHandleKey, this);
    return true;
}

bool SdlWindow::OpenInForeignParent(uint32_t parentXid, std::string_view ansiTitle) {
    text_ = WideFromAnsi(ansiTitle);
    RECT r = ScreenRect();
    uint32_t child = CreateForeignChild(parentXid, r.left, r.top, std::max<int>(1, r.right - r.left),
                                        std::max<int>(1, r.bottom - r.top));
    if (child == 0) return false;
    sdl_ = SDL_CreateWindowFrom(reinterpret_cast<const void*>(static_cast<uintptr_t>(child)));
    WindowsChanged();
    if (sdl_ == nullptr) return false;
    foreignParent_ = parentXid;
    SDL_SetWindowData(sdl_, kHandleKey, this);
    return true;
}

void CheckForeignParents() {
    std::vector<SdlWindow*> orphans;
    for (SdlWindow* w : SdlWindows()) {
        if (w->foreignParent() != 0 && !w->destroying() && ForeignWindowGone(w->foreignParent())) orphans.push_back(w);
    }
    for (SdlWindow* w : orphans) {
        HWND hwnd = w;
        if (LiveWindow(hwnd) != nullptr) DestroyWindow(hwnd);
    }
}

LRESULT SdlWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    return class_->wc.lpfnWndProc(this, msg, wParam, lParam);
}

LRESULT SdlWindow::Default(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_NCCREATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(this);
            return 0;
        case WM_SYSCOMMAND:
            // The low four bits belong to the system.
            if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(this, WM_CLOSE, 0, 0);
            else if ((wParam & 0xFFF0) == SC_MINIMIZE) Show(SW_MINIMIZE);
            else if ((wParam & 0xFFF0) == SC_RESTORE) Show(SW_RESTORE);
            return 0;
        case WM_SYSKEYDOWN:
            // Alt+F4 closes the window through the system menu command, as on Windows.
            if (wParam == VK_F4 && (lParam & (1 << 29)) != 0)
                SendMessageA(this, WM_SYSCOMMAND, SC_CLOSE, 0);
            return 0;
        case WM_PAINT:
            Validate();
            return 0;
        case WM_NCHITTEST:
            return HTCLIENT;
        case WM_SETCURSOR:
            // Without a class cursor the program sets the shape itself.
            if (LOWORD(lParam) == HTCLIENT && class_->wc.hCursor != nullptr) {
                SetCursor(class_->wc.hCursor);
                return TRUE;
            }
            return FALSE;
        default:
            return HWND__::Handle(msg, wParam, lParam);
    }
}

bool SdlWindow::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    QueueMessage(this, msg, wParam, lParam);
    return true;
}

RECT SdlWindow::ScreenRect() const {
    RECT r = rect_;
    if (parent() != nullptr) {
        RECT origin = parent()->ClientScreenRect();
        r.left += origin.left;
        r.right += origin.left;
        r.top += origin.top;
        r.bottom += origin.top;
    }
    return r;
}

void SdlWindow::ApplyRect() {
    RECT r = ScreenRect();
    SDL_SetWindowPosition(sdl_, r.left, r.top);
    SDL_SetWindowSize(sdl_, std::max<int>(1, r.right - r.left), std::max<int>(1, r.bottom - r.top));
    for (HWND__* child : children()) {
        if (SdlWindow* c = dynamic_cast<SdlWindow*>(child)) c->ApplyRect();
    }
}

void SdlWindow::SendSize(WPARAM kind) {
    LPARAM size = kind == SIZE_MINIMIZED ? 0 : MAKELPARAM(rect_.right - rect_.left, rect_.bottom - rect_.top);
    SendMessageA(this, WM_SIZE, kind, size);
}

bool SdlWindow::Place(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    RECT old = rect_;
    if ((flags & SWP_NOMOVE) == 0) {
        rect_.right += x - rect_.left;
        rect_.bottom += y - rect_.top;
        rect_.left = x;
        rect_.top = y;
    }
    if ((flags & SWP_NOSIZE) == 0) {
        rect_.right = rect_.left + std::max(0, cx);
        rect_.bottom = rect_.top + std::max(0, cy);
    }
    if ((flags & SWP_NOZORDER) == 0) {
        if (insertAfter == HWND_TOPMOST) SDL_SetWindowAlwaysOnTop(sdl_, SDL_TRUE);
        else if (insertAfter == HWND_NOTOPMOST) SDL_SetWindowAlwaysOnTop(sdl_, SDL_FALSE);
        else if (insertAfter == HWND_TOP && (flags & SWP_NOACTIVATE) == 0) SDL_RaiseWindow(sdl_);
    }
    bool moved = old.left != rect_.left || old.top != rect_.top;
    bool sized = old.right - old.left != rect_.right - rect_.left ||
                 old.bottom - old.top != rect_.bottom - rect_.top;
    if (moved || sized) ApplyRect();
    if ((flags & SWP_SHOWWINDOW) != 0) Show(SW_SHOW);
    if ((flags & SWP_HIDEWINDOW) != 0) Show(SW_HIDE);
    // Windows sends these from within SetWindowPos.
    HWND self = this;
    if (moved) SendMessageA(self, WM_MOVE, 0, MAKELPARAM(rect_.left, rect_.top));
    if (sized && LiveWindow(self) != nullptr) SendSize(maximized_ ? SIZE_MAXIMIZED : SIZE_RESTORED);
    return true;
}

bool SdlWindow::Show(int command) {
    bool wasVisible = visible_;
    SetStyle(command == SW_HIDE ? style() & ~DWORD(WS_VISIBLE) : style() | WS_VISIBLE);
    switch (command) {
        case SW_HIDE:
            SDL_HideWindow(sdl_);
            visible_ = false;
            return wasVisible;
        case SW_MINIMIZE:
        case SW_SHOWMINIMIZED:
            SDL_ShowWindow(sdl_);
            SDL_MinimizeWindow(sdl_);
            visible_ = true;
            if (!minimized_) OnMinimized();
            return wasVisible;
        case SW_SHOWMAXIMIZED:
            SDL_ShowWindow(sdl_);
            SDL_MaximizeWindow(sdl_);
            break;
        case SW_RESTORE:
            SDL_ShowWindow(sdl_);
            SDL_RestoreWindow(sdl_);
            if (minimized_ || maximized_) OnRestored();
            break;
        default:
            SDL_ShowWindow(sdl_);
            break;
    }
    visible_ = true;
    if (!wasVisible) needsPaint_ = true;
    return wasVisible;
}

void SdlWindow::OnTextChanged() {
    if (sdl_ != nullptr) SDL_SetWindowTitle(sdl_, Utf8FromWide(text_).c_str());
}

void SdlWindow::OnMoved(int x, int y) {
    // Only a window without a parent is moved by the display server; children follow it.
    if (parent() != nullptr || (x == rect_.left && y == rect_.top)) return;
    rect_.right += x - rect_.left;
    rect_.bottom += y - rect_.top;
    rect_.left = x;
    rect_.top = y;
    for (HWND__* child : children()) {
        if (SdlWindow* c = dynamic_cast<SdlWindow*>(child)) c->ApplyRect();
    }
    SendMessageA(this, WM_MOVE, 0, MAKELPARAM(x, y));
}

void SdlWindow::OnResized(int width, int height, bool endOfUserResize) {
    HWND self = this;
    if (width != rect_.right - rect_.left || height != rect_.bottom - rect_.top) {
        rect_.right = rect_.left + width;
        rect_.bottom = rect_.top + height;
        SendSize(maximized_ ? SIZE_MAXIMIZED : SIZE_RESTORED);
    }
    // The user's drag of the frame ends with this, as the modal size loop ends on Windows.
    if (endOfUserResize && LiveWindow(self) != nullptr) SendMessageA(self, WM_EXITSIZEMOVE, 0, 0);
}

void SdlWindow::OnMinimized() {
    minimized_ = true;
    SendSize(SIZE_MINIMIZED);
}

void SdlWindow::OnMaximized() {
    minimized_ = false;
    maximized_ = true;
    SendSize(SIZE_MAXIMIZED);
}

void SdlWindow::OnRestored() {
    minimized_ = false;
    maximized_ = false;
    needsPaint_ = true;
    SendSize(SIZE_RESTORED);
}

void SdlWindow::OnFocus(bool gained) {
    HWND self = this;
    WPARAM state = MAKEWPARAM(gained ? WA_ACTIVE : WA_INACTIVE, minimized_ ? 1 : 0);
    // Activation comes before the keyboard focus arrives, and the focus leaves after it.
    SendMessageA(self, WM_ACTIVATE, state, 0);
    if (LiveWindow(self) != nullptr) SendMessageA(self, gained ? WM_SETFOCUS : WM_KILLFOCUS, 0, 0);
}

}  // namespace rh::win32

using rh::win32::LiveWindow;
using rh::win32::SdlWindow;
using rh::win32::SdlWindowFromHandle;

ATOM WINAPI RegisterClassA(const WNDCLASSA* wndClass) {
    if (wndClass == nullptr || wndClass->lpfnWndProc == nullptr || wndClass->lpszClassName == nullptr ||
        IS_INTRESOURCE(wndClass->lpszClassName) || wndClass->lpszClassName[0] == '\0' ||
        rh::win32::FindClass(wndClass->lpszClassName) != nullptr)
        return 0;
    rh::win32::WindowClass c;
    c.name = wndClass->lpszClassName;
    c.atom = rh::win32::NextAtom();
    c.wc = *wndClass;
    c.wc.lpszClassName = nullptr;  // the caller's text need not outlive the call
    c.wc.lpszMenuName = nullptr;
    rh::win32::Classes().push_back(std::move(c));
    return rh::win32::Classes().back().atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
    rh::win32::WindowClass* c = rh::win32::FindClass(className);
    if (c == nullptr || c->windows > 0) return FALSE;
    rh::win32::Classes().remove_if([c](const rh::win32::WindowClass& k) { return &k == c; });
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                            int x, int y, int cx, int cy, HWND parentHandle, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    rh::win32::WindowClass* c = rh::win32::FindClass(className);
    if (c == nullptr || !rh::win32::EnsureSdlVideo()) return nullptr;
    rh::win32::ApplyCursorVisibility();
    // A child needs a parent: one of ours, or another program's X window named by its number
    // (a host's preview area); anything else fails, as on Windows.
    SdlWindow* parent = (style & WS_CHILD) != 0 ? SdlWindowFromHandle(parentHandle) : nullptr;
    uint32_t foreignParent = 0;
    if ((style & WS_CHILD) != 0 && parent == nullptr) {
        foreignParent = rh::win32::ForeignWindowId(parentHandle);
        if (foreignParent == 0) return nullptr;
    }
    // Windows puts a pop-up window given CW_USEDEFAULT at the origin.
    if (x == CW_USEDEFAULT) x = y = 0;
    if (cx == CW_USEDEFAULT) {
        cx = 640;
        cy = 480;
    }
    int id = parent != nullptr ? static_cast<int>(reinterpret_cast<INT_PTR>(menu)) : 0;
    auto* w = new SdlWindow(c, parent, style & ~DWORD(WS_VISIBLE), exStyle, id,
                            RECT{x, y, x + std::max(0, cx), y + std::max(0, cy)});
    const char* title = windowName != nullptr ? windowName : "";
    if (foreignParent != 0 ? !w->OpenInForeignParent(foreignParent, title) : !w->Open(title)) {
        delete w;
        return nullptr;
    }
    CREATESTRUCTA create{param, instance, menu, parent, cy, cx, y, x, static_cast<LONG>(style),
                         title, IS_INTRESOURCE(className) ? nullptr : className, exStyle};
    HWND hwnd = w;
    if (w->Handle(WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)) == 0 ||
        LiveWindow(hwnd) == nullptr ||
        w->Handle(WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1 ||
        LiveWindow(hwnd) == nullptr) {
        if (LiveWindow(hwnd) != nullptr) DestroyWindow(hwnd);
        return nullptr;
    }
    if ((style & WS_VISIBLE) != 0) w->Show(SW_SHOW);
    return hwnd;
}

namespace {

void SendDestroy(SdlWindow* w, UINT msg) {
    // Parents hear WM_DESTROY before their children; WM_NCDESTROY goes children first.
    HWND self = w;
    if (msg == WM_DESTROY) SendMessageA(self, msg, 0, 0);
    std::vector<HWND__*> children = w->children();
    for (HWND__* child : children) {
        if (SdlWindow* c = dynamic_cast<SdlWindow*>(LiveWindow(child))) SendDestroy(c, msg);
    }
    if (msg == WM_NCDESTROY && LiveWindow(self) != nullptr) SendMessageA(self, msg, 0, 0);
}

void DeleteTree(SdlWindow* w) {
    std::vector<HWND__*> children = w->children();
    for (HWND__* child : children) {
        if (SdlWindow* c = dynamic_cast<SdlWindow*>(LiveWindow(child))) DeleteTree(c);
    }
    delete w;
}

void MarkTree(SdlWindow* w) {
    w->MarkDestroying();
    for (HWND__* child : w->children()) {
        if (SdlWindow* c = dynamic_cast<SdlWindow*>(child)) MarkTree(c);
    }
}

}  // namespace

BOOL WINAPI DestroyWindow(HWND hwnd) {
    SdlWindow* w = SdlWindowFromHandle(hwnd);
    if (w == nullptr || w->destroying()) return FALSE;
    MarkTree(w);
    SDL_HideWindow(w->sdl());
    SendDestroy(w, WM_DESTROY);
    SendDestroy(w, WM_NCDESTROY);
    if (SdlWindowFromHandle(hwnd) == w) DeleteTree(w);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (SdlWindow* w = SdlWindowFromHandle(hwnd)) return w->Default(msg, wParam, lParam);
    HWND__* other = LiveWindow(hwnd);
    return other != nullptr ? other->HWND__::Handle(msg, wParam, lParam) : 0;
}

LONG WINAPI GetWindowLongA(HWND hwnd, int index) {
    HWND__* w = LiveWindow(hwnd);
    if (w == nullptr) return 0;
    switch (index) {
        case GWL_STYLE: return static_cast<LONG>(w->style());
        case GWL_EXSTYLE: return static_cast<LONG>(w->exStyle());
        case GWL_ID: return w->id();
        case GWL_USERDATA: return w->userData();
        default: return 0;
    }
}

LONG WINAPI SetWindowLongA(HWND hwnd, int index, LONG value) {
    HWND__* w = LiveWindow(hwnd);
    if (w == nullptr) return 0;
    LONG previous = GetWindowLongA(hwnd, index);
    switch (index) {
        case GWL_STYLE: w->SetStyle(static_cast<DWORD>(value)); break;
        case GWL_EXSTYLE: w->SetExStyle(static_cast<DWORD>(value)); break;
        case GWL_ID: w->SetId(value); break;
        case GWL_USERDATA: w->SetUserData(value); break;
        default: return 0;
    }
    return previous;
}

BOOL WINAPI AdjustWindowRect(LPRECT rect, DWORD, BOOL) { return rect != nullptr ? TRUE : FALSE; }

BOOL WINAPI ScreenToClient(HWND hwnd, LPPOINT point) {
    HWND__* w = LiveWindow(hwnd);
    if (w == nullptr || point == nullptr) return FALSE;
    RECT client = w->ClientScreenRect();
    point->x -= client.left;
    point->y -= client.top;
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hwnd, int showCommand) {
    SdlWindow* w = SdlWindowFromHandle(hwnd);
    if (w == nullptr) return FALSE;
    return w->Show(showCommand) ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
    SdlWindow* w = SdlWindowFromHandle(hwnd);
    if (w == nullptr) return FALSE;
    if (w->needsPaint()) SendMessageA(hwnd, WM_PAINT, 0, 0);
    return TRUE;
}
