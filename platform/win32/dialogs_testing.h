// Hooks for driving modal dialogs from tests, inside the layer only. A modal dialog blocks its
// caller, so a test acts from the hook, which runs inside the dialog's modal loop.
#pragma once

#include <windows.h>

#include <functional>

namespace rh::win32 {

// Called once per modal dialog, from its modal loop, after the dialog's window is mapped:
// the dialog's handle and the template id (0 for a template named by text). An empty
// function removes the hook. The hook must eventually end the dialog (EndDialog or a
// simulated button or key), or DialogBoxParamA never returns.
// The template id a message box (MessageBoxA) reports to the hook.
constexpr int kMessageBoxTemplateId = -1;
using DialogShownHook = std::function<void(HWND dialog, int templateId)>;
void SetDialogShownHook(DialogShownHook hook);

// Keys the simulated user can press.
enum class DialogKey { Enter, Escape, Space, Tab, Right };

// Sends the key to the dialog's window through the display server, as a user's key press
// would arrive; it is handled once the modal loop runs again (return from the hook, or
// ProcessPendingEvents). False for an invalid dialog or when the key cannot be sent.
bool SimulateDialogKey(HWND dialog, DialogKey key);

// Runs the GTK event loop until the display server has answered every pending request and
// no event is left to handle.
void ProcessPendingEvents();

// The window's rectangle as the display server has it now (after ProcessPendingEvents), for
// checking that the layer's answers reach the real window.
bool GetNativeWindowRect(HWND dialog, RECT* rect);

// What the display server and GTK show, for checking that no control is cut off: the size of
// the dialog's client area (its top-level window without the frame), and where a control's
// widget was actually allocated in it, which can exceed the control's own rectangle when the
// widget needs more room.
bool GetNativeClientSize(HWND dialog, int* width, int* height);
bool GetNativeControlRect(HWND control, RECT* inClient);

// The size in pixels the control's text needs in the control's own font, laid out as the
// control shows it: wrapped at wrapWidth pixels when wrapWidth > 0, else on one line. False for
// a control without a text label.
bool MeasureControlText(HWND control, int wrapWidth, int* width, int* height);

// Where the control's text label was allocated, in the dialog's client area; false for a
// control without a text label.
bool GetNativeLabelRect(HWND control, RECT* inClient);

// The dialog's base units in pixels (the font's average character width and height).
bool GetDialogBaseUnits(HWND dialog, int* baseX, int* baseY);

}  // namespace rh::win32
