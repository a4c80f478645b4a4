// MessageBoxA: a small modal dialog of the layer's own dialog engine (a text and an OK
// button), so that it measures, places and answers keys as every other dialog does.

#include "platform/win32/dialogs_local.h"
#include "platform/win32/dialogs_testing.h"

#include <algorithm>
#include <memory>
#include <string>

namespace rh::win32 {
namespace {

INT_PTR CALLBACK MessageBoxProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) return TRUE;
    // With only an OK button, Esc and the close box answer OK as well.
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    return FALSE;
}

// The layout in dialog units: the text's lines measured in average characters (4 units each,
// the dialog engine then grows the window for a wider font), wrapped at 60 characters.
DialogTemplate MessageBoxTemplate(const std::string& text, const std::string& caption) {
    constexpr int kMargin = 7, kMaxChars = 60, kLine = 8;
    int lines = 0, widest = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        int chars = static_cast<int>(end - start);
        lines += std::max(1, (chars + kMaxChars - 1) / kMaxChars);
        widest = std::max(widest, std::min(chars, kMaxChars));
        start = end + 1;
    }
    int textWidth = std::max(widest * 4 + 8, 60);
    int textHeight = lines * kLine + 2;

    DialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
    t.title = WideFromAnsi(caption);
    t.hasFont = true;
    t.pointSize = 8;
    t.faceName = u"MS Shell Dlg";

    DialogItemTemplate label;
    label.style = WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
    label.x = kMargin;
    label.y = kMargin;
    label.cx = static_cast<int16_t>(textWidth);
    label.cy = static_cast<int16_t>(textHeight);
    label.id = 0xFFFF;
    label.windowClass.isOrdinal = true;
    label.windowClass.ordinal = kStaticAtom;
    label.title.text = WideFromAnsi(text);

    DialogItemTemplate ok;
    ok.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
    ok.cx = 50;
    ok.cy = 14;
    ok.x = static_cast<int16_t>(kMargin + (textWidth - ok.cx) / 2);
    ok.y = static_cast<int16_t>(kMargin + textHeight + kMargin);
    ok.id = IDOK;
    ok.windowClass.isOrdinal = true;
    ok.windowClass.ordinal = kButtonAtom;
    ok.title.text = u"OK";

    t.cx = static_cast<int16_t>(textWidth + 2 * kMargin);
    t.cy = static_cast<int16_t>(ok.y + ok.cy + kMargin);
    t.items = {label, ok};
    return t;
}

}  // namespace
}  // namespace rh::win32

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    // Only the OK box is offered; a box the layer cannot show answers 0, as a failed call does.
    if ((type & 0xF) != MB_OK) return 0;
    HWND__* ownerWindow = nullptr;
    if (owner != nullptr) {
        ownerWindow = rh::win32::LiveWindow(owner);
        if (ownerWindow == nullptr) return 0;
        ownerWindow = ownerWindow->Root();
    }
    if (!rh::win32::GtkReady()) return 0;
    rh::win32::DialogTemplate t = rh::win32::MessageBoxTemplate(text != nullptr ? text : "",
                                                                caption != nullptr ? caption : "Error");
    auto dialog = std::make_unique<rh::win32::Dialog>(t, rh::win32::kMessageBoxTemplateId, ownerWindow,
                                                      rh::win32::MessageBoxProc, nullptr);
    if (!dialog->Build(t)) return 0;
    return static_cast<int>(dialog->Run(0));
}
