// The window object behind every HWND of the layer: dialogs and their controls now, the
// top-level windows of the message queue later. An HWND is a pointer to one of these; the
// registry of live windows lets every entry point reject a stale or foreign handle without
// touching the memory it points to. (Once a destroyed window's memory holds a new window, the
// old handle names the new one, as a reused handle value does on Windows.)
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

struct HWND__ {
public:
    // Registers the window as live; a child joins its parent's list of children.
    explicit HWND__(HWND__* parent = nullptr, int id = 0, DWORD style = 0, DWORD exStyle = 0);
    // Unregisters it: from here on its handle is invalid for every call.
    virtual ~HWND__();
    HWND__(const HWND__&) = delete;
    HWND__& operator=(const HWND__&) = delete;

    // The window procedure. The base answers the messages DefWindowProc answers for any
    // window (text, enabling) and 0 for the rest.
    virtual LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);

    // Queues a message for delivery from the event loop that serves this kind of window.
    virtual bool Post(UINT msg, WPARAM wParam, LPARAM lParam) = 0;

    // SetWindowPos after the handles were checked: x, y, cx, cy as SetWindowPos documents
    // for this kind of window; insertAfter is null (HWND_TOP), a special value or live.
    virtual bool Place(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) = 0;
    // Whole window in screen pixels (right and bottom exclusive).
    virtual RECT ScreenRect() const = 0;
    // The client area in screen pixels.
    virtual RECT ClientScreenRect() const = 0;

    HWND__* parent() const { return parent_; }
    const std::vector<HWND__*>& children() const { return children_; }
    int id() const { return id_; }
    DWORD style() const { return style_; }
    DWORD exStyle() const { return exStyle_; }
    bool enabled() const { return enabled_; }
    const std::u16string& text() const { return text_; }

    // The top-level window this one belongs to (itself when it has no parent).
    HWND__* Root();
    // The first child whose id matches in its low 16 bits, or null.
    HWND__* FindChild(int id) const;

    // EnableWindow after the handle was checked: returns whether it was disabled before.
    bool SetEnabled(bool enable);

    // SetWindowLongA: the values are kept and read back; nothing else changes with them.
    void SetStyle(DWORD style) { style_ = style; }
    void SetExStyle(DWORD exStyle) { exStyle_ = exStyle; }
    void SetId(int id) { id_ = id; }
    LONG userData() const { return userData_; }
    void SetUserData(LONG value) { userData_ = value; }

protected:
    // Called after the text or the enabled state changed, to show it.
    virtual void OnTextChanged() {}
    virtual void OnEnabledChanged() {}

    std::u16string text_;

private:
    HWND__* parent_;
    std::vector<HWND__*> children_;
    int id_;
    DWORD style_;
    DWORD exStyle_;
    bool enabled_;
    LONG userData_ = 0;
};

namespace rh::win32 {

// The live window behind a handle, or null when the handle names none (never created,
// destroyed, or not a window of this process); the handle is only compared, never read.
HWND__* LiveWindow(HWND hwnd);

// Moves WindowGeneration on (sdl_window_local.h): a window died or its SDL window changed.
void WindowsChanged();

// Says on stderr, once per process, that no display can be opened; every later attempt to
// open one stays silent. NoDisplay tells whether it was said.
void ReportNoDisplay();
bool NoDisplay();

// Window texts are UTF-16 as on Windows; the *A calls convert through the current code page,
// where bytes 0-255 are code points 0-255 and anything else becomes '?'.
std::u16string WideFromAnsi(std::string_view ansi);
std::string AnsiFromWide(std::u16string_view wide);
std::string Utf8FromWide(std::u16string_view wide);
std::u16string WideFromUtf8(std::string_view utf8);

}  // namespace rh::win32
