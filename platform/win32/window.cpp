// The window base shared by every kind of HWND, the registry of live windows, and the user32
// calls that work on any window.

#include "platform/win32/window_local.h"

#include "platform/win32/foreign_window.h"

#include "platform/win32/sdl_window.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unordered_set>

namespace rh::win32 {
namespace {

// Only the user-interface thread creates and calls windows, so the set needs no lock.
std::unordered_set<const HWND__*>& Registry() {
    static std::unordered_set<const HWND__*> live;
    return live;
}

void AppendUtf8(std::string* out, uint32_t cp) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Starts at 1 so that 0 can mean "never checked" to those who remember it.
std::atomic<uint64_t> windowGeneration{1};

}  // namespace

uint64_t WindowGeneration() { return windowGeneration.load(std::memory_order_acquire); }

void WindowsChanged() { windowGeneration.fetch_add(1, std::memory_order_acq_rel); }

HWND__* LiveWindow(HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    return Registry().count(hwnd) != 0 ? hwnd : nullptr;
}

std::u16string WideFromAnsi(std::string_view ansi) {
    std::u16string out;
    out.reserve(ansi.size());
    for (char c : ansi) out.push_back(static_cast<unsigned char>(c));
    return out;
}

std::string AnsiFromWide(std::u16string_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        char16_t c = wide[i];
        if (c <= 0xFF) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        // A surrogate pair is one character, so one default character.
        if (IsHighSurrogate(c) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) ++i;
        out.push_back('?');
    }
    return out;
}

std::string Utf8FromWide(std::u16string_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t cp = wide[i];
        if (IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[i + 1] - 0xDC00u);
            ++i;
        } else if (IsHighSurrogate(wide[i]) || IsLowSurrogate(wide[i])) {
            cp = 0xFFFD;
        }
        AppendUtf8(&out, cp);
    }
    return out;
}

std::u16string WideFromUtf8(std::string_view utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2
                  : (c & 0xF8) == 0xF0 ? 3 : -1;
        uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1Fu) : extra == 2 ? (c & 0x0Fu) : (c & 0x07u);
        ++i;
        for (int k = 0; k < extra; ++k, ++i) {
            if (i >= utf8.size() || (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
                extra = -1;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3Fu);
        }
        if (extra < 0 || cp > 0x10FFFF) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

}  // namespace rh::win32

using rh::win32::LiveWindow;

HWND__::HWND__(HWND__* parent, int id, DWORD style, DWORD exStyle)
    : parent_(parent), id_(id), style_(style), exStyle_(exStyle),
      enabled_((style & WS_DISABLED) == 0) {
    rh::win32::Registry().insert(this);
    if (parent_ != nullptr) parent_->children_.push_back(this);
}

HWND__::~HWND__() {
    rh::win32::Registry().erase(this);
    rh::win32::WindowsChanged();
    if (parent_ != nullptr) {
        auto& siblings = parent_->children_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    for (HWND__* child : children_) child->parent_ = nullptr;
}

LRESULT HWND__::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_SETTEXT: {
            const char* text = reinterpret_cast<const char*>(lParam);
            text_ = rh::win32::WideFromAnsi(text != nullptr ? text : "");
            OnTextChanged();
            return TRUE;
        }
        case WM_GETTEXT: {
            char* buffer = reinterpret_cast<char*>(lParam);
            if (wParam == 0 || buffer == nullptr) return 0;
            std::string ansi = rh::win32::AnsiFromWide(text_);
            size_t n = std::min<size_t>(ansi.size(), wParam - 1);
            std::memcpy(buffer, ansi.data(), n);
            buffer[n] = '\0';
            return static_cast<LRESULT>(n);
        }
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(rh::win32::AnsiFromWide(text_).size());
        default:
            return 0;
    }
}

HWND__* HWND__::Root() {
    HWND__* w = this;
    while (w->parent_ != nullptr) w = w->parent_;
    return w;
}

HWND__* HWND__::FindChild(int id) const {
    for (HWND__* child : children_) {
        if ((child->id_ & 0xFFFF) == (id & 0xFFFF)) return child;
    }
    return nullptr;
}

bool HWND__::SetEnabled(bool enable) {
    bool wasDisabled = !enabled_;
    if (enabled_ == enable) return wasDisabled;
    enabled_ = enable;
    style_ = enable ? (style_ & ~DWORD(WS_DISABLED)) : (style_ | DWORD(WS_DISABLED));
    OnEnabledChanged();
    Handle(WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND__* w = LiveWindow(hwnd);
    return w != nullptr ? w->Handle(msg, wParam, lParam) : 0;
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Without a window the message belongs to the thread, as PostThreadMessage would post it.
    if (hwnd == nullptr) {
        rh::win32::QueueMessage(nullptr, msg, wParam, lParam);
        return TRUE;
    }
    HWND__* w = LiveWindow(hwnd);
    return w != nullptr && w->Post(msg, wParam, lParam) ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    HWND__* w = LiveWindow(hwnd);
    if (w == nullptr) return FALSE;
    if ((flags & SWP_NOZORDER) == 0) {
        bool special = insertAfter == HWND_TOP || insertAfter == HWND_BOTTOM ||
                       insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST;
        if (!special && (LiveWindow(insertAfter) == nullptr || insertAfter == hwnd)) return FALSE;
    }
    return w->Place(insertAfter, x, y, cx, cy, flags) ? TRUE : FALSE;
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
    HWND__* w = LiveWindow(hwnd);
    if (w == nullptr || rect == nullptr) return FALSE;
    *rect = w->ScreenRect();
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
    HWND__* w = LiveWindow(hwnd);
    if (rect == nullptr) return FALSE;
    if (w == nullptr) {
        // Another program's window, named by its X window id (a host's preview area).
        int width = 0, height = 0;
        uint32_t xid = rh::win32::ForeignWindowId(hwnd);
        if (xid == 0 || !rh::win32::ForeignWindowSize(xid, &width, &height)) return FALSE;
        *rect = RECT{0, 0, width, height};
        return TRUE;
    }
    RECT r = w->ClientScreenRect();
    *rect = RECT{0, 0, r.right - r.left, r.bottom - r.top};
    return TRUE;
}

BOOL WINAPI ClientToScreen(HWND hwnd, LPPOINT point) {
    HWND__* w = LiveWindow(hwnd);
    if (w == nullptr || point == nullptr) return FALSE;
    RECT client = w->ClientScreenRect();
    point->x += client.left;
    point->y += client.top;
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) { return LiveWindow(hwnd) != nullptr ? TRUE : FALSE; }

HWND WINAPI GetParent(HWND hwnd) {
    HWND__* w = LiveWindow(hwnd);
    return w != nullptr ? w->parent() : nullptr;
}

BOOL WINAPI EnableWindow(HWND hwnd, BOOL enable) {
    HWND__* w = LiveWindow(hwnd);
    return w != nullptr && w->SetEnabled(enable != FALSE) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hwnd) {
    HWND__* w = LiveWindow(hwnd);
    return w != nullptr && w->enabled() ? TRUE : FALSE;
}

BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text) {
    if (LiveWindow(hwnd) == nullptr) return FALSE;
    return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR text, int maxCount) {
    if (text != nullptr && maxCount > 0) text[0] = '\0';
    if (LiveWindow(hwnd) == nullptr || text == nullptr || maxCount <= 0) return 0;
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(maxCount),
                                         reinterpret_cast<LPARAM>(text)));
}

int WINAPI GetWindowTextLengthA(HWND hwnd) {
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

int WINAPI GetDlgCtrlID(HWND control) {
    HWND__* w = LiveWindow(control);
    return w != nullptr && w->parent() != nullptr ? w->id() : 0;
}
