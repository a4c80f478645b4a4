// Windows user interface: system parameters, windows, dialogs and their controls.
//
// Window calls are made from the one user-interface thread. A handle that does not name a live
// window of this process (never created, or already destroyed) makes every call fail the way
// the documentation gives for an invalid handle (FALSE, 0 or null); it is never dereferenced.
#pragma once

#include "win32/shell32.h"
#include "win32/types.h"

// ---- System parameters ---------------------------------------------------------------------
#define SPI_SETSCREENSAVERRUNNING 0x0061
// SPI_SETSCREENSAVERRUNNING keeps the flag and, while it is set, holds off the desktop's own
// screensaver and power saving. Other actions answer FALSE.
BOOL WINAPI SystemParametersInfoA(UINT action, UINT uiParam, LPVOID pvParam, UINT winIni);

// ---- Messages ------------------------------------------------------------------------------
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_SETCURSOR 0x0020
#define WM_NOTIFY 0x004E
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_NCHITTEST 0x0084
#define WM_KEYFIRST 0x0100
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_SYSCHAR 0x0106
#define WM_KEYLAST 0x0109
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_HSCROLL 0x0114
#define WM_VSCROLL 0x0115
#define WM_MOUSEFIRST 0x0200
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_MBUTTONDOWN 0x0207
#define WM_MBUTTONUP 0x0208
#define WM_MOUSEWHEEL 0x020A
#define WM_XBUTTONDOWN 0x020B
#define WM_XBUTTONUP 0x020C
#define WM_MOUSEHWHEEL 0x020E
#define WM_MOUSELAST 0x020E
#define WM_POWERBROADCAST 0x0218
#define WM_ENTERSIZEMOVE 0x0231
#define WM_EXITSIZEMOVE 0x0232
#define WM_USER 0x0400

// WM_ACTIVATE: LOWORD(wParam).
#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define WA_CLICKACTIVE 2

// WM_SIZE: wParam; lParam is MAKELPARAM(client width, client height).
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SIZE_MAXIMIZED 2

// WM_SYSCOMMAND: wParam (the low four bits are the system's own).
#define SC_SIZE 0xF000
#define SC_MOVE 0xF010
#define SC_MINIMIZE 0xF020
#define SC_MAXIMIZE 0xF030
#define SC_NEXTWINDOW 0xF040
#define SC_PREVWINDOW 0xF050
#define SC_CLOSE 0xF060
#define SC_KEYMENU 0xF100
#define SC_RESTORE 0xF120
#define SC_SCREENSAVE 0xF140
#define SC_MONITORPOWER 0xF170

// WM_NCHITTEST answer and LOWORD(lParam) of WM_SETCURSOR: the point is in the client area.
#define HTCLIENT 1

// WM_POWERBROADCAST: wParam.
#define PBT_APMQUERYSUSPEND 0x0000
#define PBT_APMRESUMESUSPEND 0x0007

// Mouse messages: LOWORD(wParam) holds the buttons and keys down; lParam is
// MAKELPARAM(x, y) as signed 16-bit client coordinates (WM_MOUSEWHEEL: screen coordinates,
// HIWORD(wParam) the signed rotation in multiples of WHEEL_DELTA, positive away from the
// user). WM_XBUTTON*: HIWORD(wParam) is XBUTTON1 or XBUTTON2.
#define MK_LBUTTON 0x0001
#define MK_RBUTTON 0x0002
#define MK_SHIFT 0x0004
#define MK_CONTROL 0x0008
#define MK_MBUTTON 0x0010
#define MK_XBUTTON1 0x0020
#define MK_XBUTTON2 0x0040
#define XBUTTON1 0x0001
#define XBUTTON2 0x0002
#define WHEEL_DELTA 120

#define MAKEWPARAM(lo, hi) ((WPARAM)(DWORD)MAKELONG(lo, hi))
#define MAKELPARAM(lo, hi) ((LPARAM)(DWORD)MAKELONG(lo, hi))

#define IDOK 1
#define IDCANCEL 2

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

// What WM_NOTIFY points to in its lParam.
typedef struct tagNMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
} NMHDR, *LPNMHDR;

#define NM_RELEASEDCAPTURE ((UINT)(0u - 16u))

// ---- Window styles -------------------------------------------------------------------------
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_VSCROLL 0x00200000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_MINIMIZE 0x20000000L
#define WS_MAXIMIZE 0x01000000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)

#define WS_EX_DLGMODALFRAME 0x00000001L
#define WS_EX_TOPMOST 0x00000008L
#define WS_EX_TOOLWINDOW 0x00000080L
#define WS_EX_CLIENTEDGE 0x00000200L
#define WS_EX_STATICEDGE 0x00020000L

#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define DS_CENTER 0x0800L

// ---- Windows -------------------------------------------------------------------------------
#define HWND_TOP ((HWND)0)
#define HWND_BOTTOM ((HWND)1)
#define HWND_TOPMOST ((HWND)(LONG_PTR)-1)
#define HWND_NOTOPMOST ((HWND)(LONG_PTR)-2)

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080

// Places a window. For a top-level window (a dialog, a window made by CreateWindowExA) x, y
// is the top-left corner of the whole window in screen pixels and cx, cy its whole size, frame
// included; for a control or a WS_CHILD window they are relative to its parent's client area.
// A window made by CreateWindowExA receives WM_MOVE and WM_SIZE before the call returns when
// its place or size changed; SWP_SHOWWINDOW/SWP_HIDEWINDOW show or hide it.
// SWP_NOMOVE/SWP_NOSIZE keep position/size; with SWP_NOZORDER insertAfter is ignored,
// otherwise it is HWND_TOP, HWND_BOTTOM, HWND_TOPMOST, HWND_NOTOPMOST or a live window to go
// behind (a window is never put behind its own owner; among windows made by CreateWindowExA
// only HWND_TOPMOST/HWND_NOTOPMOST and raising with HWND_TOP are kept). FALSE for an invalid hwnd or insertAfter. The new rectangle is answered by
// GetWindowRect at once, as on Windows, even before the display server has applied it.
BOOL WINAPI SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);

// Whole window rectangle in screen pixels (right and bottom exclusive).
BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect);
// Client area in client coordinates: left and top are 0.
BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect);
// Client coordinates of hwnd to screen pixels, in place.
BOOL WINAPI ClientToScreen(HWND hwnd, LPPOINT point);

// Synchronous: the window's procedure handles the message before the call returns; for a
// dialog that is the dialog procedure, then the dialog manager's default handling when the
// procedure answers FALSE. 0 for an invalid hwnd.
LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues the message for the window and returns at once; dialogs and their controls receive
// it from the running modal loop, windows made by CreateWindowExA from PeekMessageA or
// GetMessageA. A null hwnd posts a thread message (hwnd null in the MSG). FALSE for an invalid
// hwnd. A message whose window is gone by the time it is delivered is dropped.
BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

BOOL WINAPI IsWindow(HWND hwnd);
// The dialog of a control; null for a top-level window or an invalid hwnd.
HWND WINAPI GetParent(HWND hwnd);

// Enables or disables mouse and keyboard input (a disabled control is drawn greyed). Returns
// nonzero when the window was disabled before the call, 0 when it was enabled or hwnd is
// invalid. Sends WM_ENABLE when the state changes.
BOOL WINAPI EnableWindow(HWND hwnd, BOOL enable);
BOOL WINAPI IsWindowEnabled(HWND hwnd);

// Window text through WM_SETTEXT/WM_GETTEXT: a dialog's title or a control's text. Texts are
// in the current code page (bytes 0-255 are code points 0-255); characters it cannot hold
// read back as '?'. In a button or static text, '&' underlines the next character and "&&"
// shows one '&'. GetWindowTextA copies at most maxCount - 1 characters, always terminates
// (for maxCount > 0) and returns the characters copied.
BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text);
int WINAPI GetWindowTextA(HWND hwnd, LPSTR text, int maxCount);
int WINAPI GetWindowTextLengthA(HWND hwnd);

// ---- Window classes and top-level windows --------------------------------------------------
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_DBLCLKS 0x0008

typedef struct tagWNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
} WNDCLASSA, *LPWNDCLASSA;

// What WM_NCCREATE and WM_CREATE point to in their lParam.
typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;

// A class name is a text (compared case-insensitively) or the atom RegisterClassA returned,
// as MAKEINTRESOURCEA(atom). Returns the class atom, 0 when the name is taken, the procedure
// or the name is missing. The extra bytes are not kept.
ATOM WINAPI RegisterClassA(const WNDCLASSA* wndClass);
// FALSE when there is no such class or a window of it still exists.
BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance);

#define CW_USEDEFAULT ((int)0x80000000)

// Makes a window of a registered class. The window procedure receives WM_NCCREATE (FALSE
// fails the call) and WM_CREATE (-1 fails it) before this returns, both with a CREATESTRUCTA.
// Every window made here is a desktop window of its own, shown without the display server's
// frame unless the style asks for WS_CAPTION: a WS_POPUP window sits at x, y in screen pixels
// with size cx, cy (CW_USEDEFAULT: a default place and size). A WS_CHILD of a window made here
// is placed over its parent's client area (x, y relative to it) and moves with nothing else; a
// WS_CHILD whose parent is not a window of this process (a foreign number) gets x, y, cx, cy
// in screen pixels and no parent. WS_VISIBLE shows it and queues WM_PAINT. Null when the class
// is unknown, no display can be opened or the procedure refuses.
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                            int x, int y, int cx, int cy, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param);
// Sends WM_DESTROY to the window, then to its children (parents first), before it returns;
// then the windows, their queued messages and their timers are gone. FALSE for an invalid
// handle, a dialog or a control (those end with EndDialog).
BOOL WINAPI DestroyWindow(HWND hwnd);

// The default handling: WM_CLOSE destroys the window; WM_SYSCOMMAND SC_CLOSE sends WM_CLOSE;
// WM_SYSKEYDOWN VK_F4 with Alt down sends WM_SYSCOMMAND SC_CLOSE (Alt+F4); WM_PAINT validates
// the window; WM_NCCREATE answers TRUE; WM_NCHITTEST answers HTCLIENT; WM_SETCURSOR in the
// client area sets the class cursor; the text messages keep the window text; others answer 0.
LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

#define GWL_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_USERDATA (-21)
// GWL_STYLE, GWL_EXSTYLE, GWL_ID and GWL_USERDATA of any window. SetWindowLongA returns the
// previous value; both answer 0 for an invalid handle or index. A new style is kept and read
// back; the window's look changes only through the calls that place or show it.
LONG WINAPI GetWindowLongA(HWND hwnd, int index);
LONG WINAPI SetWindowLongA(HWND hwnd, int index, LONG value);

// Whole-window rectangle for a client rectangle. Windows made here have no frame of their own
// (the display server's decorations of a WS_CAPTION window lie outside what the layer
// reckons), so the rectangle is left as it is; FALSE only for a null rect.
BOOL WINAPI AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu);

// Screen pixels to hwnd's client coordinates, in place.
BOOL WINAPI ScreenToClient(HWND hwnd, LPPOINT point);

#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_RESTORE 9
// Shows, hides, minimises, maximises or restores a window made by CreateWindowExA; returns
// whether it was visible before. Showing queues WM_PAINT.
BOOL WINAPI ShowWindow(HWND hwnd, int showCommand);
// Sends WM_PAINT at once when the window needs painting.
BOOL WINAPI UpdateWindow(HWND hwnd);

// ---- The message queue ---------------------------------------------------------------------
typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define PM_NOYIELD 0x0002

// One queue for the user-interface thread. Retrieval order, as on Windows: posted messages and
// input (FIFO), then WM_QUIT, then WM_PAINT for a window that needs painting, then WM_TIMER
// for a due timer. Activation, focus, size and close requests are sent to the procedures while
// the queue is read. hwnd null takes every message, thread messages included; hwnd
// (HWND)-1 only thread messages (hwnd null); a window takes its own and its children's
// messages and never a thread message such as WM_QUIT. minFilter..maxFilter limits the message
// numbers (both 0: all; WM_QUIT passes any range). WM_PAINT stays until the window is
// validated, whatever the flags. PeekMessageA returns FALSE when nothing matches, at once.
BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT minFilter, UINT maxFilter, UINT removeFlags);
// Waits for a matching message and removes it: 0 for WM_QUIT, -1 for an invalid hwnd or msg,
// nonzero otherwise.
BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT minFilter, UINT maxFilter);
// For WM_KEYDOWN/WM_SYSKEYDOWN last retrieved from the queue, queues the characters the key
// typed (WM_CHAR/WM_SYSCHAR, in the current code page) to be retrieved next. Nonzero for any
// key message, 0 for others.
BOOL WINAPI TranslateMessage(const MSG* msg);
// Calls the procedure of msg->hwnd (WM_TIMER with a timer procedure in lParam: that procedure)
// and returns its answer; 0 for a thread message or a window that is gone.
LRESULT WINAPI DispatchMessageA(const MSG* msg);
// Makes the queue answer WM_QUIT with wParam exitCode once the posted messages are read.
void WINAPI PostQuitMessage(int exitCode);

typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
// Starts or restarts timer id of hwnd: WM_TIMER (wParam id, lParam proc) is retrieved once
// each time the interval has passed and nothing of higher priority waits; it never piles up.
// Returns id (a new nonzero id when hwnd is null), 0 for an invalid hwnd.
UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
// FALSE when there is no such timer.
BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id);

// ---- Cursor and key state ------------------------------------------------------------------
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_IBEAM MAKEINTRESOURCEA(32513)
#define IDC_WAIT MAKEINTRESOURCEA(32514)
#define IDC_CROSS MAKEINTRESOURCEA(32515)
#define IDC_SIZENWSE MAKEINTRESOURCEA(32642)
#define IDC_SIZENESW MAKEINTRESOURCEA(32643)
#define IDC_SIZEWE MAKEINTRESOURCEA(32644)
#define IDC_SIZENS MAKEINTRESOURCEA(32645)
#define IDC_SIZEALL MAKEINTRESOURCEA(32646)
#define IDC_HAND MAKEINTRESOURCEA(32649)

// Only the system cursors: instance must be null and name one of IDC_*; null otherwise. The
// handle is shared and needs no freeing.
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
// Makes cursor the pointer's shape (null: no pointer) and returns the previous one. The pointer
// is seen only while the ShowCursor count is 0 or more.
HCURSOR WINAPI SetCursor(HCURSOR cursor);
// The pointer's current shape, as last given to SetCursor (the arrow at start).
HCURSOR WINAPI GetCursor();
// Adds 1 (TRUE) or takes 1 (FALSE) from the display count, which starts at 0, and returns the
// new count; the pointer is hidden while the count is below 0.
int WINAPI ShowCursor(BOOL show);
// The pointer in screen pixels, as of the last input read; ScreenToClient of it gives exactly
// the coordinates of the last WM_MOUSEMOVE of the window under the pointer.
BOOL WINAPI GetCursorPos(LPPOINT point);

#define VK_LBUTTON 0x01
#define VK_RBUTTON 0x02
#define VK_MBUTTON 0x04
#define VK_XBUTTON1 0x05
#define VK_XBUTTON2 0x06
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_PAUSE 0x13
#define VK_CAPITAL 0x14
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_SNAPSHOT 0x2C
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
// '0'..'9' and 'A'..'Z' are their own VK codes.
#define VK_LWIN 0x5B
#define VK_RWIN 0x5C
#define VK_APPS 0x5D
#define VK_NUMPAD0 0x60
#define VK_NUMPAD1 0x61
#define VK_NUMPAD2 0x62
#define VK_NUMPAD3 0x63
#define VK_NUMPAD4 0x64
#define VK_NUMPAD5 0x65
#define VK_NUMPAD6 0x66
#define VK_NUMPAD7 0x67
#define VK_NUMPAD8 0x68
#define VK_NUMPAD9 0x69
#define VK_MULTIPLY 0x6A
#define VK_ADD 0x6B
#define VK_SUBTRACT 0x6D
#define VK_DECIMAL 0x6E
#define VK_DIVIDE 0x6F
#define VK_F1 0x70
#define VK_F2 0x71
#define VK_F3 0x72
#define VK_F4 0x73
#define VK_F5 0x74
#define VK_F6 0x75
#define VK_F7 0x76
#define VK_F8 0x77
#define VK_F9 0x78
#define VK_F10 0x79
#define VK_F11 0x7A
#define VK_F12 0x7B
#define VK_NUMLOCK 0x90
#define VK_SCROLL 0x91
#define VK_OEM_1 0xBA
#define VK_OEM_PLUS 0xBB
#define VK_OEM_COMMA 0xBC
#define VK_OEM_MINUS 0xBD
#define VK_OEM_PERIOD 0xBE
#define VK_OEM_2 0xBF
#define VK_OEM_3 0xC0
#define VK_OEM_4 0xDB
#define VK_OEM_5 0xDC
#define VK_OEM_6 0xDD
#define VK_OEM_7 0xDE
#define VK_OEM_102 0xE2

// Whether the key or mouse button is down as of the last input read: the sign bit is set
// while it is down. Keyboard keys WM_KEYDOWN reports take their VK codes here too.
SHORT WINAPI GetAsyncKeyState(int virtualKey);

// ---- Injected input ------------------------------------------------------------------------

#define INPUT_KEYBOARD 1
#define KEYEVENTF_KEYUP 0x0002

typedef struct tagKEYBDINPUT {
    WORD wVk;
    WORD wScan;
    DWORD dwFlags;
    DWORD time;
    ULONG_PTR dwExtraInfo;
} KEYBDINPUT, *PKEYBDINPUT, *LPKEYBDINPUT;

typedef struct tagINPUT {
    DWORD type;
    union {
        KEYBDINPUT ki;
        // The mouse record, the largest of the union on Windows, which the layer does not
        // offer: it gives INPUT its documented size.
        struct {
            LONG position[2];
            DWORD dataFlagsTime[3];
            ULONG_PTR extraInfo;
        } reservedMouse;
    };
} INPUT, *PINPUT, *LPINPUT;

static_assert(sizeof(void*) != 8 || (sizeof(KEYBDINPUT) == 24 && sizeof(INPUT) == 40 && offsetof(INPUT, ki) == 8),
              "KEYBDINPUT and INPUT keep their 64-bit Windows layout");

// A key typed for this process only (nothing reaches the desktop or other programs): it
// arrives as the keyboard would deliver it to the window with the keyboard focus, as
// WM_KEYDOWN/WM_KEYUP (WM_SYSKEY* where Windows says so) and as DirectInput records. Keys are
// named by their virtual-key code; the scan code and the extra information are ignored.
// KEYEVENTF_KEYUP releases the key.
void WINAPI keybd_event(BYTE virtualKey, BYTE scan, DWORD flags, ULONG_PTR extraInfo);
// keybd_event for each INPUT_KEYBOARD record in order; answers how many were delivered,
// stopping at the first of another type. 0 when size is not sizeof(INPUT).
UINT WINAPI SendInput(UINT count, LPINPUT inputs, int size);

// ---- Dialogs -------------------------------------------------------------------------------
// Builds the dialog from its template resource (RT_DIALOG), runs it modally and returns the
// value given to EndDialog, or -1 when the template is missing or damaged or no display can
// be opened (the procedure is then never called).
//
// Dialog units become pixels with the dialog font's metrics ("MS Shell Dlg" and the other
// Windows interface faces are the desktop's sans font at the template's size): horizontal
// base unit = average width of "A".."Z" "a".."z", vertical = the font's height; x pixels =
// x * horizontal / 4, y pixels = y * vertical / 8. WM_INITDIALOG reaches the procedure first,
// with wParam the first enabled tab-stop control and lParam = initParam; when it answers
// TRUE that control gets the focus. EndDialog during WM_INITDIALOG ends the dialog before it
// is shown. While the dialog runs, its owner (or the owner's top-level window) is disabled.
//
// The dialog manager: Enter sends WM_COMMAND for the focused push button, else for the
// default push button (BS_DEFPUSHBUTTON), else IDOK; Esc and the close box (through WM_CLOSE)
// send WM_COMMAND IDCANCEL; a disabled target button makes the key do nothing. Button
// clicks send WM_COMMAND (LOWORD control id, HIWORD BN_CLICKED, lParam the button); auto
// check boxes and auto radio buttons change their state before that message. WM_DESTROY
// reaches the procedure when the dialog is taken down after EndDialog.
INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                               DLGPROC dialogProc, LPARAM initParam);
// Makes DialogBoxParamA return result once the procedure returns. FALSE when dialog is not
// a live modal dialog.
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
// Null when the dialog has no control with that id (ids compare in their low 16 bits, as the
// template stores them).
HWND WINAPI GetDlgItem(HWND dialog, int id);
int WINAPI GetDlgCtrlID(HWND control);
// SendMessageA to GetDlgItem(dialog, id); 0 when there is no such control.
LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
// Like GetWindowTextA; an empty text (and 0) when there is no such control.
UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int maxCount);

// ---- Buttons -------------------------------------------------------------------------------
// Button styles: the low four bits are the kind.
#define BS_PUSHBUTTON 0x0L
#define BS_DEFPUSHBUTTON 0x1L
#define BS_CHECKBOX 0x2L
#define BS_AUTOCHECKBOX 0x3L
#define BS_RADIOBUTTON 0x4L
#define BS_3STATE 0x5L
#define BS_AUTO3STATE 0x6L
#define BS_GROUPBOX 0x7L
#define BS_AUTORADIOBUTTON 0x9L
#define BS_TYPEMASK 0xFL
#define BS_MULTILINE 0x2000L

#define BN_CLICKED 0

#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
// Simulates the user clicking the button: an enabled button changes its state as a click
// would and sends WM_COMMAND BN_CLICKED to its dialog; a disabled one does nothing.
#define BM_CLICK 0x00F5

#define BST_UNCHECKED 0x0000
#define BST_CHECKED 0x0001
#define BST_INDETERMINATE 0x0002

// BM_SETCHECK on a check box or radio button; only that button changes (no group logic).
BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check);
// BM_GETCHECK; 0 when there is no such control.
UINT WINAPI IsDlgButtonChecked(HWND dialog, int id);
// Checks button checkId and unchecks the other buttons whose ids lie in firstId..lastId.
BOOL WINAPI CheckRadioButton(HWND dialog, int firstId, int lastId, int checkId);

// ---- Static controls -----------------------------------------------------------------------
#define SS_LEFT 0x0L
#define SS_CENTER 0x1L
#define SS_RIGHT 0x2L
#define SS_LEFTNOWORDWRAP 0xCL
#define SS_BITMAP 0xEL
#define SS_TYPEMASK 0x1FL
#define SS_NOPREFIX 0x80L
#define SS_CENTERIMAGE 0x200L
#define SS_SUNKEN 0x1000L
// A bitmap static (SS_BITMAP) shows the RT_BITMAP resource its template title names by
// ordinal, at the bitmap's own size; with SS_CENTERIMAGE centred in the control instead.

// ---- Combo boxes ---------------------------------------------------------------------------
#define CBS_SIMPLE 0x1L
#define CBS_DROPDOWN 0x2L
#define CBS_DROPDOWNLIST 0x3L
#define CBS_SORT 0x100L
#define CBS_HASSTRINGS 0x200L

#define CB_ERR (-1)
#define CB_OKAY 0

#define CB_ADDSTRING 0x0143
#define CB_DELETESTRING 0x0144
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_GETLBTEXTLEN 0x0149
#define CB_INSERTSTRING 0x014A
#define CB_RESETCONTENT 0x014B
#define CB_SETCURSEL 0x014E
#define CB_GETITEMDATA 0x0150
#define CB_SETITEMDATA 0x0151

// Sent as WM_COMMAND when the user (not CB_SETCURSEL) changes the selection.
#define CBN_SELCHANGE 1

// Combo box messages, as documented: CB_ADDSTRING (0, text) returns the new index (sorted
// in place with CBS_SORT, case-insensitively); CB_INSERTSTRING (index or -1 for the end,
// text); CB_DELETESTRING (index) returns the count left; CB_SETCURSEL (index) returns it,
// or CB_ERR and no selection for -1 or an index out of range; CB_GETCURSEL returns CB_ERR
// when nothing is selected; CB_GETLBTEXT (index, buffer) copies the item with its
// terminator and returns its length; CB_GETLBTEXTLEN (index); CB_SETITEMDATA (index, value)
// and CB_GETITEMDATA (index) keep one pointer-sized value per item; CB_RESETCONTENT empties
// the list. An index out of range answers CB_ERR.

// ---- Trackbars -----------------------------------------------------------------------------
#define TRACKBAR_CLASSA "msctls_trackbar32"

#define TBS_HORZ 0x0000
#define TBS_AUTOTICKS 0x0001
#define TBS_VERT 0x0002
#define TBS_NOTICKS 0x0010

#define TBM_GETPOS (WM_USER)
#define TBM_GETRANGEMIN (WM_USER + 1)
#define TBM_GETRANGEMAX (WM_USER + 2)
#define TBM_SETPOS (WM_USER + 5)
#define TBM_SETRANGE (WM_USER + 6)
#define TBM_SETRANGEMIN (WM_USER + 7)
#define TBM_SETRANGEMAX (WM_USER + 8)

#define TB_THUMBPOSITION 4
#define TB_THUMBTRACK 5
#define TB_ENDTRACK 8

// A trackbar's range starts as 0..100 at position 0. TBM_SETPOS (redraw, position) and the
// range messages (redraw, value; TBM_SETRANGE: MAKELPARAM(min, max)) keep the position
// inside the range. When the user moves the thumb, the dialog receives WM_HSCROLL
// (TBS_VERT: WM_VSCROLL) with LOWORD(wParam) TB_THUMBTRACK and lParam the trackbar, then
// WM_NOTIFY with NM_RELEASEDCAPTURE from the trackbar (Windows trackbars notify their
// parent whenever they change).
