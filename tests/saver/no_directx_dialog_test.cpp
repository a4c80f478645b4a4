// When the graphics check fails, WinMain shows dialog 107 and opens the download address only
// on its OK button. Runs the real GTK dialog (under Xvfb in the test command).

#include "platform/win32/dialogs_testing.h"
#include "platform/win32/win32_testing.h"
#include "saver/entry.h"
#include "tests/support/recording_opener.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct DialogVisit {
    int templateId = 0;
    RECT rect = {};
    std::string text;
};

// Runs WinMain with the check failing; `act` ends the dialog once it is shown.
int RunWithMissingDirectX(const std::function<void(HWND)>& act, DialogVisit* visit) {
    setenv("RIMEHOLT_DXDIAG_VERSION", "8.1b", 1);
    rh::win32::SetCommandLine("rimeholt /s");
    rh::win32::SetDialogShownHook([&](HWND dialog, int templateId) {
        visit->templateId = templateId;
        GetWindowRect(dialog, &visit->rect);
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
    EXPECT_EQ(visit.rect.right - visit.rect.left, 390);
    EXPECT_EQ(visit.rect.bottom - visit.rect.top, 131);
    EXPECT_EQ(visit.text,
              "DirectX 9 is required for the screensaver to work properly. Click button \"Download "
              "DirectX 9\" to download it from Microsoft's website");
}

}  // namespace
