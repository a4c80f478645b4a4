// Windows user interface: system parameters, windows, dialogs and their controls.
//
// Window calls are made from the one user-interface thread. A handle that does not name a live
// window of this process (never created, or already destroyed) makes every call fail the way
// the documentation gives for an invalid handle (FALSE, 0 or null); it is never dereferenced.
#pragma once

#include "win32/types.h"

// ---- System parameters ---------------------------------------------------------------------
#define SPI_SETSCREENSAVERRUNNING 0x0061
// SPI_SETSCREENSAVERRUNNING keeps the flag and, while it is set, holds off the desktop's own
// screensaver and power saving. Other actions answer FALSE.
BOOL WINAPI SystemParametersInfoA(UINT action, UINT uiParam, LPVOID pvParam, UINT winIni);

// ---- Messages ------------------------------------------------------------------------------
#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_CLOSE 0x0010
#define WM_NOTIFY 0x004E
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_HSCROLL 0x0114
#define WM_VSCROLL 0x0115
#define WM_USER 0x0400

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

#define WS_EX_DLGMODALFRAME 0x00000001L
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

// Places a window. For a top-level window (a dialog) x, y is the top-left corner of the whole
// window in screen pixels and cx, cy its whole size, frame included; for a control they are
// relative to its dialog's client area. SWP_NOMOVE/SWP_NOSIZE keep position/size; with
// SWP_NOZORDER insertAfter is ignored, otherwise it is HWND_TOP, HWND_BOTTOM, HWND_TOPMOST,
// HWND_NOTOPMOST or a live window to go behind (a window is never put behind its own
// owner). FALSE for an invalid hwnd or insertAfter. The new rectangle is answered by
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
// it from the running modal loop. FALSE for an invalid hwnd. A message whose window is gone
// by the time it is delivered is dropped.
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
