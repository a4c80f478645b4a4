// When the graphics check fails, WinMain shows dialog 107 and opens the download address only
// on its OK button. Runs the real GTK dialog (under Xvfb in the test command).

#include "platform/win32/dialogs_testing.h"
#include "platform/win32/win32_testing.h"
#include "saver/entry.h"
#include "tests/support/recording_opener.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct DialogVisit {
    int templateId = 0;
    RECT rect = {};
    RECT client = {};
    std::string text;
};

// Runs WinMain with the check failing; `act` ends the dialog once it is shown.
int RunWithMissingDirectX(const std::function<void(HWND)>& act, DialogVisit* visit) {
    setenv("RIMEHOLT_DXDIAG_VERSION", "8.1b", 1);
    rh::win32::SetCommandLine("rimeholt /s");
    rh::win32::SetDialogShownHook([&](HWND dialog, int templateId) {
        visit->templateId = templateId;
        GetWindowRect(dialog, &visit->rect);
        GetClientRect(dialog, &visit->client);
        char text[256] = {};
        GetDlgItemTextA(dialog, -1, text, sizeof text);
        visit->text = text;
        act(dialog);
    });
    int result = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>("/s"), SW_SHOWNORMAL);
    rh::win32::SetDialogShownHook(nullptr);
    unsetenv("RIMEHOLT_DXDIAG_VERSION");
    return result;
}

TEST(NoDirectXDialog, ChoicesAndWhatTheyOpen) {
    struct Case {
        const char* what;
        std::function<void(HWND)> act;
        bool opens;
    };
    const Case cases[] = {
        {"OK button", [](HWND d) { SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0); }, true},
        {"Enter presses the default button", [](HWND d) { rh::win32::SimulateDialogKey(d, rh::win32::DialogKey::Enter); }, true},
        {"Cancel button", [](HWND d) { SendDlgItemMessageA(d, IDCANCEL, BM_CLICK, 0, 0); }, false},
        {"Escape cancels", [](HWND d) { rh::win32::SimulateDialogKey(d, rh::win32::DialogKey::Escape); }, false},
    };
    for (const Case& c : cases) {
        rh::testing::RecordingOpener opener;
        DialogVisit visit;
        // The saver could not run, so WinMain reports failure whichever button ends the dialog.
        EXPECT_EQ(RunWithMissingDirectX(c.act, &visit), 0) << c.what;
        EXPECT_EQ(visit.templateId, 107) << c.what;
        if (c.opens) {
            auto opened = opener.WaitForOpened(1);
            ASSERT_EQ(opened.size(), 1u) << c.what;
            EXPECT_EQ(opened[0], g_directXDownloadAddress) << c.what;
        } else {
            EXPECT_TRUE(opener.Opened().empty()) << c.what;
        }
        EXPECT_FALSE(rh::win32::ScreensaverRunningFlag()) << c.what;
    }
}

TEST(NoDirectXDialog, PlacedAt300By300WithTheTemplateText) {
    DialogVisit visit;
    RunWithMissingDirectX([](HWND d) { SendDlgItemMessageA(d, IDCANCEL, BM_CLICK, 0, 0); }, &visit);
    EXPECT_EQ(visit.rect.left, 300);
    EXPECT_EQ(visit.rect.top, 300);
    // The forced size is the client area's (a window manager's frame comes on top); at the
    // default text size the controls need no more.
    EXPECT_EQ(visit.client.right, 390);
    EXPECT_EQ(visit.client.bottom, 131);
    EXPECT_EQ(visit.text,
              "DirectX 9 is required for the screensaver to work properly. Click button \"Download "
              "DirectX 9\" to download it from Microsoft's website");
}

// Dialog 107 is forced to 390 x 131 pixels, but its controls sit where dialog units of the real
// font put them: with larger text they reach further, and the dialog must grow to hold them.
// Checks the layer's rectangles and what GTK and the display server actually show. Runs in its
// own process, since GTK reads the text scale once.
[[noreturn]] void ShowAtTextScaleAndCheck(const char* scale) {
    setenv("GDK_DPI_SCALE", scale, 1);
    int problems = 0;
    auto problem = [&](const char* what, int id, const RECT& r, int width, int height) {
        std::fprintf(stderr, "%s: control %d at (%ld, %ld)-(%ld, %ld) outside the client area %d x %d\n", what, id,
                     static_cast<long>(r.left), static_cast<long>(r.top), static_cast<long>(r.right),
                     static_cast<long>(r.bottom), width, height);
        ++problems;
    };
    DialogVisit visit;
    RunWithMissingDirectX(
        [&](HWND d) {
            rh::win32::ProcessPendingEvents();
            int baseX = 0, baseY = 0;
            rh::win32::GetDialogBaseUnits(d, &baseX, &baseY);
            std::fprintf(stderr, "baseY=%d\n", baseY);
            RECT client{};
            GetClientRect(d, &client);
            // The forced size is the least the client area gets.
            if (client.right < 390 || client.bottom < 131) {
                std::fprintf(stderr, "client area %ld x %ld is below 390 x 131\n", static_cast<long>(client.right),
                             static_cast<long>(client.bottom));
                ++problems;
            }
            int nativeWidth = 0, nativeHeight = 0;
            if (!rh::win32::GetNativeClientSize(d, &nativeWidth, &nativeHeight)) ++problems;
            POINT origin{0, 0};
            ClientToScreen(d, &origin);
            for (int id : {-1, IDOK, IDCANCEL}) {  // the text, the download and the cancel button
                HWND control = GetDlgItem(d, id);
                RECT r{};
                if (control == nullptr || !GetWindowRect(control, &r)) {
                    std::fprintf(stderr, "control %d is missing\n", id);
                    ++problems;
                    continue;
                }
                r = RECT{r.left - origin.x, r.top - origin.y, r.right - origin.x, r.bottom - origin.y};
                if (r.left < 0 || r.top < 0 || r.right > client.right || r.bottom > client.bottom) {
                    problem("layer", id, r, client.right, client.bottom);
                }
                RECT shown{};
                if (!rh::win32::GetNativeControlRect(control, &shown) || shown.left < 0 || shown.top < 0 ||
                    shown.right > nativeWidth || shown.bottom > nativeHeight) {
                    problem("shown", id, shown, nativeWidth, nativeHeight);
                }
            }
            SendDlgItemMessageA(d, IDCANCEL, BM_CLICK, 0, 0);
        },
        &visit);
    std::exit(visit.templateId == 107 && problems == 0 ? 0 : 1);
}

TEST(NoDirectXDialog, EveryControlFitsAtEveryTextScale) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* const scales[] = {"1.0", "1.25", "1.5"};
    int baseY[3] = {};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(std::string("GDK_DPI_SCALE=") + scales[i]);
        auto readBaseY = [&baseY, i](const std::string& errors) {
            size_t at = errors.find("baseY=");
            if (at != std::string::npos) baseY[i] = std::atoi(errors.c_str() + at + 6);
            return at != std::string::npos;
        };
        EXPECT_EXIT(ShowAtTextScaleAndCheck(scales[i]), testing::ExitedWithCode(0), testing::Truly(readBaseY));
    }
    // The scale reached the dialog font, so the larger cases really had more to hold.
    if (HasFailure()) return;
    EXPECT_GT(baseY[1], baseY[0]);
    EXPECT_GT(baseY[2], baseY[1]);
}

}  // namespace
