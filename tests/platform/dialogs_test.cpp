// Conformance tests of the dialog engine: real GTK dialogs on the display server, built from
// the templates in data/dialog_resources.rc and driven from the layer's test hook the way a
// user drives them (button clicks, keys) or a program does (messages).

#include "platform/win32/dialogs_testing.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using rh::win32::DialogKey;
using rh::win32::ProcessPendingEvents;
using rh::win32::SimulateDialogKey;

// Templates and control ids of data/dialog_resources.rc.
constexpr int kMainDialog = 200;
constexpr int kPlainDialog = 201;
constexpr int kControlsDialog = 202;
constexpr int kDamagedDialog = 203;
constexpr int kText = 100, kCheck = 101, kRadioA = 102, kRadioB = 103, kRadioC = 104;
constexpr int kManualCheck = 105, kApply = 300;
constexpr int kGroup = 400, kCombo = 401, kTrackbar = 402, kPicture = 403, kSortedCombo = 404;
constexpr int kMissingPicture = 405;

// What a dialog returns when the test left it open: a fault, not a hang.
constexpr INT_PTR kLeftOpen = 4242;

struct Command {
    int id;
    int code;
    HWND from;
    UINT checkedAtCommand;  // the sender's check state when its WM_COMMAND arrived
};

struct Notification {
    UINT msg;  // WM_HSCROLL or WM_NOTIFY
    HWND from;
    UINT_PTR idFrom;
    UINT code;
    LRESULT positionThen;
};

// Everything the recording procedure saw. It ends the dialog with 1000 + id on IDOK and
// IDCANCEL, as dialog procedures commonly do.
struct Record {
    std::vector<UINT> messages;
    HWND dialog = nullptr;
    WPARAM initWParam = 0;
    LPARAM initLParam = 0;
    HWND firstTabStop = nullptr;
    std::vector<Command> commands;
    std::vector<Notification> notifications;
    bool ended = false;
};

Record* g_record = nullptr;

INT_PTR CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Record& r = *g_record;
    r.messages.push_back(msg);
    switch (msg) {
        case WM_INITDIALOG:
            r.dialog = hwnd;
            r.initWParam = wParam;
            r.initLParam = lParam;
            r.firstTabStop = GetDlgItem(hwnd, kCheck);
            return TRUE;
        case WM_COMMAND: {
            int id = LOWORD(wParam);
            r.commands.push_back(Command{id, HIWORD(wParam), reinterpret_cast<HWND>(lParam),
                                         IsDlgButtonChecked(hwnd, id)});
            if (id == IDOK || id == IDCANCEL) {
                r.ended = EndDialog(hwnd, 1000 + id) != FALSE;
                return TRUE;
            }
            return FALSE;
        }
        case WM_HSCROLL:
            r.notifications.push_back(Notification{
                msg, reinterpret_cast<HWND>(lParam), 0, LOWORD(wParam),
                SendMessageA(reinterpret_cast<HWND>(lParam), TBM_GETPOS, 0, 0)});
            return FALSE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            r.notifications.push_back(
                Notification{msg, header->hwndFrom, header->idFrom, header->code,
                             SendMessageA(header->hwndFrom, TBM_GETPOS, 0, 0)});
            return FALSE;
        }
        default:
            return FALSE;
    }
}

class DialogTest : public testing::Test {
protected:
    void SetUp() override { g_record = &record_; }
    void TearDown() override {
        rh::win32::SetDialogShownHook(nullptr);
        g_record = nullptr;
    }

    // Runs a template with the recording procedure; act runs once the dialog is shown.
    INT_PTR Run(int templateId, const std::function<void(HWND)>& act, LPARAM param = 0,
                HWND owner = nullptr) {
        record_ = Record{};
        shown_ = false;
        rh::win32::SetDialogShownHook([this, act](HWND dialog, int) {
            shown_ = true;
            ProcessPendingEvents();  // let the display server activate the new dialog
            act(dialog);
            ProcessPendingEvents();
            if (!record_.ended) EndDialog(dialog, kLeftOpen);
        });
        return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), owner,
                               RecordingProc, param);
    }

    static void Click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

    static std::string Text(HWND hwnd) {
        char buffer[256] = "sentinel";
        GetWindowTextA(hwnd, buffer, sizeof buffer);
        return buffer;
    }

    Record record_;
    bool shown_ = false;
};

TEST_F(DialogTest, InitDialogComesFirstWithTheFocusControlAndTheParameter) {
    INT_PTR result = Run(kMainDialog, [](HWND d) { Click(d, IDOK); }, 0x5150);
    EXPECT_EQ(result, 1000 + IDOK);
    ASSERT_FALSE(record_.messages.empty());
    EXPECT_EQ(record_.messages.front(), WM_INITDIALOG);
    EXPECT_EQ(record_.initLParam, 0x5150);
    // The first enabled tab stop: the check box (the static text before it is not one).
    EXPECT_NE(record_.firstTabStop, nullptr);
    EXPECT_EQ(record_.initWParam, reinterpret_cast<WPARAM>(record_.firstTabStop));
    EXPECT_EQ(record_.messages.back(), static_cast<UINT>(WM_DESTROY));
}

TEST_F(DialogTest, ButtonClicksSendTheirCommandAndEndDialogGivesTheResult) {
    for (int id : {IDOK, IDCANCEL}) {
        HWND button = nullptr;
        INT_PTR result = Run(kMainDialog, [&](HWND d) {
            button = GetDlgItem(d, id);
            Click(d, id);
        });
        EXPECT_EQ(result, 1000 + id) << "button " << id;
        ASSERT_EQ(record_.commands.size(), 1u) << "button " << id;
        EXPECT_EQ(record_.commands[0].id, id);
        EXPECT_EQ(record_.commands[0].code, BN_CLICKED);
        EXPECT_EQ(record_.commands[0].from, button);
        EXPECT_NE(button, nullptr);
    }
}

TEST_F(DialogTest, KeysGoToTheButtonTheDialogManagerChooses) {
    struct Case {
        const char* what;
        int templateId;
        std::vector<DialogKey> keys;
        int expectedId;
        bool fromAControl;  // lParam names the button, or is null when there is none
    };
    const Case cases[] = {
        {"Enter, focus on a check box: the default push button", kMainDialog, {DialogKey::Enter},
         IDOK, true},
        {"Esc: Cancel", kMainDialog, {DialogKey::Escape}, IDCANCEL, true},
        {"Enter without a default push button: IDOK", kPlainDialog, {DialogKey::Enter}, IDOK,
         false},
        {"Esc without a Cancel button: IDCANCEL", kPlainDialog, {DialogKey::Escape}, IDCANCEL,
         false},
        {"Enter on the focused push button: that button", kPlainDialog,
         {DialogKey::Tab, DialogKey::Enter}, kApply, true},
    };
    for (const Case& c : cases) {
        Run(c.templateId, [&](HWND d) {
            for (DialogKey key : c.keys) {
                EXPECT_TRUE(SimulateDialogKey(d, key)) << c.what;
                ProcessPendingEvents();
            }
        });
        ASSERT_FALSE(record_.commands.empty()) << c.what;
        const Command& first = record_.commands.front();
        EXPECT_EQ(first.id, c.expectedId) << c.what;
        EXPECT_EQ(first.code, BN_CLICKED) << c.what;
        EXPECT_EQ(first.from != nullptr, c.fromAControl) << c.what;
    }
}

TEST_F(DialogTest, TheCloseMessageBecomesCancel) {
    INT_PTR result = Run(kMainDialog, [](HWND d) { SendMessageA(d, WM_CLOSE, 0, 0); });
    EXPECT_EQ(result, 1000 + IDCANCEL);
    ASSERT_EQ(record_.commands.size(), 1u);
    EXPECT_EQ(record_.commands[0].id, IDCANCEL);
}

TEST_F(DialogTest, AutoButtonsChangeStateBeforeTheirCommand) {
    Run(kMainDialog, [](HWND d) {
        Click(d, kCheck);
        Click(d, kCheck);
        Click(d, kManualCheck);
        // The focus starts on the check box (the procedure answered TRUE); Space presses it
        // through GTK's own click.
        SimulateDialogKey(d, DialogKey::Space);
        ProcessPendingEvents();
        Click(d, IDOK);
    });
    struct Expected {
        int id;
        UINT checked;
    };
    const Expected expected[] = {
        {kCheck, BST_CHECKED},
        {kCheck, BST_UNCHECKED},
        {kManualCheck, BST_UNCHECKED},  // BS_CHECKBOX leaves its state to the program
        {kCheck, BST_CHECKED},
        {IDOK, BST_UNCHECKED},
    };
    ASSERT_EQ(record_.commands.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(record_.commands[i].id, expected[i].id) << "command " << i;
        EXPECT_EQ(record_.commands[i].checkedAtCommand, expected[i].checked) << "command " << i;
    }
}

TEST_F(DialogTest, AutoRadioButtonsUncheckOnlyTheirOwnGroup) {
    struct Step {
        const char* what;
        std::function<void(HWND)> act;
        UINT a, b, c;  // check states of A and B (one group) and C (the next group)
    };
    const Step steps[] = {
        {"click A", [](HWND d) { Click(d, kRadioA); }, 1, 0, 0},
        {"click C, other group", [](HWND d) { Click(d, kRadioC); }, 1, 0, 1},
        {"click B", [](HWND d) { Click(d, kRadioB); }, 0, 1, 1},
        {"click B again", [](HWND d) { Click(d, kRadioB); }, 0, 1, 1},
        {"BM_SETCHECK has no group logic",
         [](HWND d) { EXPECT_TRUE(CheckDlgButton(d, kRadioA, BST_CHECKED)); }, 1, 1, 1},
        {"CheckRadioButton over A..C",
         [](HWND d) { EXPECT_TRUE(CheckRadioButton(d, kRadioA, kRadioC, kRadioB)); }, 0, 1, 0},
        {"unchecking leaves the group empty",
         [](HWND d) { CheckDlgButton(d, kRadioB, BST_UNCHECKED); }, 0, 0, 0},
    };
    Run(kMainDialog, [&](HWND d) {
        for (const Step& s : steps) {
            s.act(d);
            EXPECT_EQ(IsDlgButtonChecked(d, kRadioA), s.a) << s.what;
            EXPECT_EQ(IsDlgButtonChecked(d, kRadioB), s.b) << s.what;
            EXPECT_EQ(IsDlgButtonChecked(d, kRadioC), s.c) << s.what;
        }
        Click(d, IDOK);
    });
    // Each click reached the procedure with the button already checked.
    for (const Command& c : record_.commands) {
        if (c.id != IDOK) {
            EXPECT_EQ(c.checkedAtCommand, static_cast<UINT>(BST_CHECKED)) << c.id;
        }
    }
}

bool Near(const RECT& a, const RECT& b, LONG tolerance) {
    return std::labs(a.left - b.left) <= tolerance && std::labs(a.top - b.top) <= tolerance &&
           std::labs(a.right - b.right) <= tolerance && std::labs(a.bottom - b.bottom) <= tolerance;
}

std::string Show(const RECT& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ")-(" +
           std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

TEST_F(DialogTest, SetWindowPosPlacesTheDialogAndItsControls) {
    struct Step {
        const char* what;
        HWND insertAfter;
        int x, y, cx, cy;
        UINT flags;
        RECT expected;
    };
    const Step steps[] = {
        {"move and size", HWND_TOP, 120, 80, 400, 300, 0, {120, 80, 520, 380}},
        {"move only", nullptr, 200, 150, 1, 1, SWP_NOSIZE | SWP_NOZORDER, {200, 150, 600, 450}},
        {"size only", nullptr, 5, 5, 350, 250, SWP_NOMOVE | SWP_NOZORDER, {200, 150, 550, 400}},
        {"z-order only", HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE, {200, 150, 550, 400}},
    };
    Run(kMainDialog, [&](HWND d) {
        for (const Step& s : steps) {
            EXPECT_TRUE(SetWindowPos(d, s.insertAfter, s.x, s.y, s.cx, s.cy, s.flags)) << s.what;
            RECT rect{}, client{};
            EXPECT_TRUE(GetWindowRect(d, &rect));
            EXPECT_TRUE(GetClientRect(d, &client));
            // Answered at once, as Windows does: the window where it was put, the client area
            // the size it was given (a window manager's frame comes on top)...
            RECT placed{rect.left, rect.top, rect.left + client.right, rect.top + client.bottom};
            EXPECT_TRUE(Near(placed, s.expected, 0)) << s.what << ": " << Show(placed);
            // ...and the real window follows.
            ProcessPendingEvents();
            RECT native{};
            EXPECT_TRUE(GetWindowRect(d, &rect));
            EXPECT_TRUE(rh::win32::GetNativeWindowRect(d, &native));
            EXPECT_TRUE(Near(native, rect, 2)) << s.what << ": " << Show(native) << " vs " << Show(rect);
        }
        // A control's position is relative to the dialog's client area.
        HWND ok = GetDlgItem(d, IDOK);
        EXPECT_TRUE(SetWindowPos(ok, nullptr, 10, 20, 80, 30, SWP_NOZORDER));
        POINT origin{10, 20};
        EXPECT_TRUE(ClientToScreen(d, &origin));
        RECT rect{};
        EXPECT_TRUE(GetWindowRect(ok, &rect));
        EXPECT_TRUE(Near(rect, RECT{origin.x, origin.y, origin.x + 80, origin.y + 30}, 0))
            << Show(rect);
        Click(d, IDOK);  // the moved button still works
    });
    EXPECT_EQ(record_.commands.size(), 1u);
}

// The documented conversion, rounding as MulDiv does.
int ToPixels(int units, int base, int divisor) { return (units * base + divisor / 2) / divisor; }

TEST_F(DialogTest, DialogUnitsBecomePixelsWithTheDialogFontsMetrics) {
    Run(kMainDialog, [](HWND d) {
        int baseX = 0, baseY = 0;
        ASSERT_TRUE(rh::win32::GetDialogBaseUnits(d, &baseX, &baseY));
        // An 8-point interface font: a few pixels wide, a dozen or so high.
        EXPECT_GE(baseX, 4);
        EXPECT_LE(baseX, 12);
        EXPECT_GE(baseY, 10);
        EXPECT_LE(baseY, 24);
        EXPECT_GT(baseY, baseX);
        RECT client{};
        EXPECT_TRUE(GetClientRect(d, &client));
        EXPECT_EQ(client.right, ToPixels(200, baseX, 4));
        EXPECT_EQ(client.bottom, ToPixels(120, baseY, 8));
        // The OK button of the template: 36, 96, 60 x 14 dialog units.
        RECT ok{};
        EXPECT_TRUE(GetWindowRect(GetDlgItem(d, IDOK), &ok));
        POINT origin{0, 0};
        ClientToScreen(d, &origin);
        EXPECT_EQ(ok.left - origin.x, ToPixels(36, baseX, 4));
        EXPECT_EQ(ok.top - origin.y, ToPixels(96, baseY, 8));
        EXPECT_EQ(ok.right - ok.left, ToPixels(60, baseX, 4));
        EXPECT_EQ(ok.bottom - ok.top, ToPixels(14, baseY, 8));
        // The real window has the client size.
        ProcessPendingEvents();
        RECT window{}, native{};
        GetWindowRect(d, &window);
        EXPECT_TRUE(rh::win32::GetNativeWindowRect(d, &native));
        EXPECT_TRUE(Near(native, window, 2)) << Show(native) << " vs " << Show(window);
    });
}

// A size given to SetWindowPos is the least the client area gets: it grows to hold every
// control (and the template's margin of 7 dialog units past them), also when the program moves
// a control out, and goes back to the asked size when the control comes back in.
TEST_F(DialogTest, TheClientAreaAlwaysHoldsEveryControl) {
    Run(kMainDialog, [](HWND d) {
        int baseX = 0, baseY = 0;
        ASSERT_TRUE(rh::win32::GetDialogBaseUnits(d, &baseX, &baseY));
        const LONG marginX = ToPixels(7, baseX, 4), marginY = ToPixels(7, baseY, 8);
        POINT origin{0, 0};
        ClientToScreen(d, &origin);
        // How far right and down the controls reach, in the client area.
        auto reach = [&](LONG* right, LONG* bottom) {
            *right = *bottom = 0;
            for (int id : {kText, kCheck, kRadioA, kRadioB, kRadioC, kManualCheck, IDOK, IDCANCEL}) {
                RECT r{};
                GetWindowRect(GetDlgItem(d, id), &r);
                *right = std::max(*right, r.right - origin.x);
                *bottom = std::max(*bottom, r.bottom - origin.y);
            }
        };
        LONG right = 0, bottom = 0;
        reach(&right, &bottom);
        struct Step {
            const char* what;
            int id;  // 0: the dialog
            int x, y, cx, cy;
            UINT flags;
            bool grows;  // beyond the size the dialog was given last
        };
        const Step steps[] = {
            {"smaller than the controls", 0, 0, 0, 40, 30, SWP_NOMOVE | SWP_NOZORDER, true},
            {"larger than the controls", 0, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER, false},
            {"a button moved out", IDOK, 470, 390, 60, 20, SWP_NOZORDER, true},
            {"the button moved back", IDOK, 10, 10, 60, 20, SWP_NOZORDER, false},
        };
        LONG askedWidth = 0, askedHeight = 0;
        for (const Step& s : steps) {
            SetWindowPos(s.id == 0 ? d : GetDlgItem(d, s.id), nullptr, s.x, s.y, s.cx, s.cy, s.flags);
            if (s.id == 0) askedWidth = s.cx, askedHeight = s.cy;
            reach(&right, &bottom);
            RECT client{};
            GetClientRect(d, &client);
            EXPECT_EQ(client.right, std::max(askedWidth, right + marginX)) << s.what;
            EXPECT_EQ(client.bottom, std::max(askedHeight, bottom + marginY)) << s.what;
            EXPECT_EQ(client.right > askedWidth || client.bottom > askedHeight, s.grows) << s.what;
            // The window the display server shows has that client size.
            ProcessPendingEvents();
            int width = 0, height = 0;
            EXPECT_TRUE(rh::win32::GetNativeClientSize(d, &width, &height));
            EXPECT_EQ(width, client.right) << s.what;
            EXPECT_EQ(height, client.bottom) << s.what;
        }
    });
}

TEST_F(DialogTest, MissingOrDamagedTemplatesFailWithoutCallingTheProcedure) {
    int stale = 0;
    struct Case {
        const char* what;
        LPCSTR name;
        HWND owner;
    };
    const Case cases[] = {
        {"no such template", MAKEINTRESOURCEA(999), nullptr},
        {"no such named template", "NOSUCH", nullptr},
        {"a damaged template", MAKEINTRESOURCEA(kDamagedDialog), nullptr},
        {"an owner that is not a window", MAKEINTRESOURCEA(kMainDialog),
         reinterpret_cast<HWND>(&stale)},
    };
    bool hookCalled = false;
    rh::win32::SetDialogShownHook([&](HWND d, int) {
        hookCalled = true;
        EndDialog(d, kLeftOpen);
    });
    for (const Case& c : cases) {
        record_ = Record{};
        EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), c.name, c.owner, RecordingProc, 0), -1)
            << c.what;
        EXPECT_TRUE(record_.messages.empty()) << c.what;
    }
    EXPECT_FALSE(hookCalled);
}

TEST_F(DialogTest, StaleAndForeignHandlesFailSafely) {
    HWND staleDialog = nullptr, staleControl = nullptr;
    Run(kMainDialog, [&](HWND d) {
        staleDialog = d;
        staleControl = GetDlgItem(d, kCheck);
        // While alive: EndDialog wants a dialog, and SetWindowPos a live insert-after window.
        EXPECT_FALSE(EndDialog(staleControl, 5));
        int foreign = 0;
        EXPECT_FALSE(SetWindowPos(d, reinterpret_cast<HWND>(&foreign), 0, 0, 10, 10, 0));
        Click(d, IDOK);
    });
    ASSERT_NE(staleControl, nullptr);
    int local = 0;
    struct Case {
        const char* what;
        HWND hwnd;
    };
    const Case cases[] = {
        {"a destroyed dialog", staleDialog},
        {"a control of a destroyed dialog", staleControl},
        {"a pointer that was never a window", reinterpret_cast<HWND>(&local)},
    };
    for (const Case& c : cases) {
        HWND h = c.hwnd;
        EXPECT_FALSE(IsWindow(h)) << c.what;
        EXPECT_EQ(SendMessageA(h, WM_GETTEXTLENGTH, 0, 0), 0) << c.what;
        EXPECT_EQ(SendMessageA(h, BM_CLICK, 0, 0), 0) << c.what;
        EXPECT_FALSE(PostMessageA(h, WM_COMMAND, IDOK, 0)) << c.what;
        EXPECT_FALSE(EndDialog(h, 1)) << c.what;
        EXPECT_FALSE(SetWindowPos(h, nullptr, 1, 2, 3, 4, SWP_NOZORDER)) << c.what;
        RECT rect{7, 7, 7, 7};
        EXPECT_FALSE(GetWindowRect(h, &rect)) << c.what;
        EXPECT_EQ(rect.left, 7) << c.what;
        EXPECT_EQ(GetDlgItem(h, IDOK), nullptr) << c.what;
        EXPECT_EQ(SendDlgItemMessageA(h, IDOK, BM_CLICK, 0, 0), 0) << c.what;
        EXPECT_FALSE(SetWindowTextA(h, "x")) << c.what;
        EXPECT_EQ(Text(h), "") << c.what;
        EXPECT_FALSE(EnableWindow(h, FALSE)) << c.what;
        EXPECT_FALSE(IsWindowEnabled(h)) << c.what;
        EXPECT_EQ(IsDlgButtonChecked(h, kCheck), 0u) << c.what;
        EXPECT_FALSE(CheckRadioButton(h, kRadioA, kRadioC, kRadioB)) << c.what;
        EXPECT_EQ(GetParent(h), nullptr) << c.what;
    }
}

TEST_F(DialogTest, WindowTextRoundTripsThroughTheCodePage) {
    Run(kMainDialog, [](HWND d) {
        char buffer[64] = "sentinel";
        // The template's text as written, '&' included.
        EXPECT_EQ(GetDlgItemTextA(d, kText, buffer, sizeof buffer), 12u);
        EXPECT_STREQ(buffer, "Static &text");
        EXPECT_EQ(Text(d), "Test dialog");

        EXPECT_TRUE(SetDlgItemTextA(d, kText, "caf\xE9"));  // a byte above 127 is one character
        EXPECT_EQ(GetWindowTextLengthA(GetDlgItem(d, kText)), 4);
        EXPECT_EQ(GetDlgItemTextA(d, kText, buffer, sizeof buffer), 4u);
        EXPECT_STREQ(buffer, "caf\xE9");
        EXPECT_EQ(GetDlgItemTextA(d, kText, buffer, 3), 2u);  // cut, and terminated
        EXPECT_STREQ(buffer, "ca");

        EXPECT_TRUE(SetWindowTextA(d, "New title"));
        EXPECT_EQ(Text(d), "New title");
        EXPECT_TRUE(SetDlgItemTextA(d, IDOK, "&Go"));
        EXPECT_EQ(Text(GetDlgItem(d, IDOK)), "&Go");

        EXPECT_FALSE(SetDlgItemTextA(d, 999, "x"));
        EXPECT_EQ(GetDlgItemTextA(d, 999, buffer, sizeof buffer), 0u);
        EXPECT_STREQ(buffer, "");
        Click(d, IDOK);
    });
}

TEST_F(DialogTest, DisabledButtonsIgnoreClicksAndKeys) {
    INT_PTR result = Run(kMainDialog, [](HWND d) {
        HWND ok = GetDlgItem(d, IDOK), cancel = GetDlgItem(d, IDCANCEL);
        EXPECT_FALSE(EnableWindow(ok, FALSE));  // it was enabled
        EXPECT_TRUE(EnableWindow(ok, FALSE));   // now it was disabled
        EXPECT_FALSE(IsWindowEnabled(ok));
        Click(d, IDOK);
        SimulateDialogKey(d, DialogKey::Enter);  // the default button is disabled
        EnableWindow(cancel, FALSE);
        SimulateDialogKey(d, DialogKey::Escape);
        ProcessPendingEvents();
        SendMessageA(d, WM_CLOSE, 0, 0);
        EXPECT_TRUE(EnableWindow(cancel, TRUE));  // it was disabled
        EXPECT_TRUE(IsWindowEnabled(cancel));
        SendMessageA(d, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(result, 1000 + IDCANCEL);
    ASSERT_EQ(record_.commands.size(), 1u);
    EXPECT_EQ(record_.commands[0].id, IDCANCEL);
}

TEST_F(DialogTest, PostedMessagesArriveFromTheModalLoop) {
    INT_PTR result = Run(kMainDialog, [](HWND d) {
        EXPECT_TRUE(PostMessageA(GetDlgItem(d, kCheck), BM_SETCHECK, BST_CHECKED, 0));
        EXPECT_EQ(IsDlgButtonChecked(d, kCheck), 0u);  // not yet
        ProcessPendingEvents();
        EXPECT_EQ(IsDlgButtonChecked(d, kCheck), 1u);
        EXPECT_TRUE(PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
    });
    EXPECT_EQ(result, 1000 + IDOK);
}

TEST(DialogWithoutDisplayTest, FailsWithoutCallingTheProcedure) {
    // A fresh process, so that no display is open yet and none can be.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            Record record;
            g_record = &record;
            INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr),
                                             MAKEINTRESOURCEA(kMainDialog), nullptr,
                                             RecordingProc, 0);
            std::exit(result == -1 && record.messages.empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

INT_PTR CALLBACK EndAtOnceProc(HWND hwnd, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) EndDialog(hwnd, 7);
    return FALSE;
}

TEST_F(DialogTest, EndDialogDuringInitDialogNeverShowsTheDialog) {
    bool shown = false;
    rh::win32::SetDialogShownHook([&](HWND d, int) {
        shown = true;
        EndDialog(d, kLeftOpen);
    });
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kMainDialog), nullptr,
                              EndAtOnceProc, 0),
              7);
    EXPECT_FALSE(shown);
}

TEST_F(DialogTest, AModalDialogDisablesItsOwnerUntilItEnds) {
    INT_PTR nested = 0;
    bool ownerEnabledDuring = true;
    INT_PTR result = Run(kMainDialog, [&](HWND owner) {
        rh::win32::SetDialogShownHook([&](HWND inner, int templateId) {
            EXPECT_EQ(templateId, kPlainDialog);
            ownerEnabledDuring = IsWindowEnabled(owner) != FALSE;
            // Placing it relative to its owner, with the owner as insert-after window.
            RECT ownerRect{};
            GetWindowRect(owner, &ownerRect);
            EXPECT_TRUE(SetWindowPos(inner, owner, ownerRect.left + 140, ownerRect.top + 150, 0, 0,
                                     SWP_NOSIZE));
            RECT innerRect{};
            GetWindowRect(inner, &innerRect);
            EXPECT_EQ(innerRect.left, ownerRect.left + 140);
            EXPECT_EQ(innerRect.top, ownerRect.top + 150);
            EndDialog(inner, 55);
        });
        nested = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kPlainDialog), owner,
                                 RecordingProc, 0);
        record_.ended = false;  // the inner dialog's procedure shares the record
        EXPECT_TRUE(IsWindowEnabled(owner));
        Click(owner, IDOK);
    });
    EXPECT_EQ(nested, 55);
    EXPECT_FALSE(ownerEnabledDuring);
    EXPECT_EQ(result, 1000 + IDOK);
}

TEST_F(DialogTest, TrackbarKeepsItsPositionInRangeAndReportsTheUsersMoves) {
    struct Step {
        const char* what;
        UINT msg;
        LPARAM value;
        LRESULT min, max, pos;
    };
    const Step steps[] = {
        {"lower minimum", TBM_SETRANGEMIN, -100, -100, 100, 0},
        {"position above the range", TBM_SETPOS, 150, -100, 100, 100},
        {"position below the range", TBM_SETPOS, -150, -100, 100, -100},
        {"minimum raised past the position", TBM_SETRANGEMIN, 0, 0, 100, 0},
        {"both ends", TBM_SETRANGE, MAKELPARAM(10, 20), 10, 20, 10},
    };
    HWND bar = nullptr;
    Run(kControlsDialog, [&](HWND d) {
        bar = GetDlgItem(d, kTrackbar);
        EXPECT_EQ(SendMessageA(bar, TBM_GETRANGEMIN, 0, 0), 0);
        EXPECT_EQ(SendMessageA(bar, TBM_GETRANGEMAX, 0, 0), 100);
        for (const Step& s : steps) {
            SendMessageA(bar, s.msg, TRUE, s.value);
            EXPECT_EQ(SendMessageA(bar, TBM_GETRANGEMIN, 0, 0), s.min) << s.what;
            EXPECT_EQ(SendMessageA(bar, TBM_GETRANGEMAX, 0, 0), s.max) << s.what;
            EXPECT_EQ(SendMessageA(bar, TBM_GETPOS, 0, 0), s.pos) << s.what;
        }
        EXPECT_TRUE(record_.notifications.empty()) << "the program's own changes notify nothing";
        // The trackbar is the first tab stop, so it has the focus: the user moves it a step.
        SimulateDialogKey(d, DialogKey::Right);
        ProcessPendingEvents();
        EXPECT_EQ(SendMessageA(bar, TBM_GETPOS, 0, 0), 11);
    });
    ASSERT_EQ(record_.notifications.size(), 2u);
    const Notification& scroll = record_.notifications[0];
    EXPECT_EQ(scroll.msg, static_cast<UINT>(WM_HSCROLL));
    EXPECT_EQ(scroll.from, bar);
    EXPECT_EQ(scroll.code, static_cast<UINT>(TB_THUMBTRACK));
    const Notification& notify = record_.notifications[1];
    EXPECT_EQ(notify.msg, static_cast<UINT>(WM_NOTIFY));
    EXPECT_EQ(notify.from, bar);
    EXPECT_EQ(notify.idFrom, static_cast<UINT_PTR>(kTrackbar));
    EXPECT_EQ(notify.code, NM_RELEASEDCAPTURE);
    EXPECT_EQ(notify.positionThen, 11);
}

TEST_F(DialogTest, ComboBoxKeepsItemsDataAndSelection) {
    auto text = [](const char* s) { return reinterpret_cast<LPARAM>(s); };
    struct Step {
        const char* what;
        int id;
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT expected;
    };
    const Step steps[] = {
        {"empty", kCombo, CB_GETCOUNT, 0, 0, 0},
        {"nothing selected", kCombo, CB_GETCURSEL, 0, 0, CB_ERR},
        {"add", kCombo, CB_ADDSTRING, 0, text("800x600x16bit"), 0},
        {"add at the end", kCombo, CB_ADDSTRING, 0, text("1024x768x32bit"), 1},
        {"item data", kCombo, CB_SETITEMDATA, 1, 0xABCD, TRUE},
        {"item data back", kCombo, CB_GETITEMDATA, 1, 0, 0xABCD},
        {"other item's data", kCombo, CB_GETITEMDATA, 0, 0, 0},
        {"text length", kCombo, CB_GETLBTEXTLEN, 1, 0, 14},
        {"select", kCombo, CB_SETCURSEL, 1, 0, 1},
        {"selected", kCombo, CB_GETCURSEL, 0, 0, 1},
        {"insert before the selection", kCombo, CB_INSERTSTRING, 0, text("640x480x8bit"), 0},
        {"the selection moves along", kCombo, CB_GETCURSEL, 0, 0, 2},
        {"select out of range", kCombo, CB_SETCURSEL, 9, 0, CB_ERR},
        {"no selection then", kCombo, CB_GETCURSEL, 0, 0, CB_ERR},
        {"data out of range", kCombo, CB_GETITEMDATA, 3, 0, CB_ERR},
        {"text out of range", kCombo, CB_GETLBTEXTLEN, static_cast<WPARAM>(-1), 0, CB_ERR},
        {"delete", kCombo, CB_DELETESTRING, 0, 0, 2},
        {"data follows its item", kCombo, CB_GETITEMDATA, 1, 0, 0xABCD},
        {"empty again", kCombo, CB_RESETCONTENT, 0, 0, CB_OKAY},
        {"count after reset", kCombo, CB_GETCOUNT, 0, 0, 0},
        {"sorted: b", kSortedCombo, CB_ADDSTRING, 0, text("b"), 0},
        {"sorted: C after b", kSortedCombo, CB_ADDSTRING, 0, text("C"), 1},
        {"sorted: a first", kSortedCombo, CB_ADDSTRING, 0, text("a"), 0},
    };
    Run(kControlsDialog, [&](HWND d) {
        for (const Step& s : steps) {
            EXPECT_EQ(SendDlgItemMessageA(d, s.id, s.msg, s.wParam, s.lParam), s.expected) << s.what;
        }
        char buffer[32] = "sentinel";
        EXPECT_EQ(SendDlgItemMessageA(d, kSortedCombo, CB_GETLBTEXT, 2, text(buffer)), 1);
        EXPECT_STREQ(buffer, "C");
        // A drop-down list's window text is its selected item.
        SendDlgItemMessageA(d, kSortedCombo, CB_SETCURSEL, 1, 0);
        EXPECT_EQ(Text(GetDlgItem(d, kSortedCombo)), "b");
        Click(d, IDOK);
    });
    // The program's own changes send no CBN_SELCHANGE.
    ASSERT_EQ(record_.commands.size(), 1u);
    EXPECT_EQ(record_.commands[0].id, IDOK);
}

TEST_F(DialogTest, StaticsAndGroupBoxesShowTheirContent) {
    Run(kControlsDialog, [](HWND d) {
        // A bitmap static takes the picture's size (6 x 4 pixels) plus its sunken edge.
        RECT picture{};
        EXPECT_TRUE(GetWindowRect(GetDlgItem(d, kPicture), &picture));
        EXPECT_GE(picture.right - picture.left, 6);
        EXPECT_LE(picture.right - picture.left, 10);
        EXPECT_GE(picture.bottom - picture.top, 4);
        EXPECT_LE(picture.bottom - picture.top, 8);
        // A missing picture leaves an empty control; the dialog still runs.
        EXPECT_NE(GetDlgItem(d, kMissingPicture), nullptr);
        EXPECT_EQ(Text(GetDlgItem(d, kGroup)), "Group");
        EXPECT_EQ(GetParent(GetDlgItem(d, kGroup)), d);
        EXPECT_EQ(GetDlgCtrlID(GetDlgItem(d, kGroup)), kGroup);
        Click(d, IDOK);
    });
    EXPECT_EQ(record_.commands.size(), 1u);
}

}  // namespace
