// The settings and about dialogs from the program's own templates, run on the display server
// with a recording application behind them and driven the way a user drives them.

#include "saver/dialogs.h"
#include "saver/entry.h"

#include "platform/win32/dialogs_testing.h"
#include "render/device_enumeration.h"
#include "tests/render/support/fake_direct3d.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using rh::win32::ProcessPendingEvents;

// The application as the dialogs see it: its fields, its messages and what it was asked to do.
class RecordingHost final : public SettingsDialogHost {
public:
    SettingsDialogValues values;
    SceneDialogValues scene;
    rh::test::FakeDirect3D direct3d;
    bool direct3dMissing = false;
    DeviceEnumeration enumeration;
    D3DDISPLAYMODE desktop{};
    std::map<std::string, std::string> messages = {{"Mes_Settings_Title", "Settings title"},
                                                   {"Mes_About_Title", "About title"}};
    int saves = 0;
    SettingsDialogValues saved;
    SceneDialogValues savedScene;
    int appSettingsLoads = 0;
    bool direct3dHeld = false;

    SettingsDialogValues& DialogValues() override { return values; }
    const char* MessageText(const char* key) override {
        auto it = messages.find(key);
        return it != messages.end() ? it->second.c_str() : nullptr;
    }
    void ApplyDialogTexts(HWND dialog) override {
        if (GetDlgItem(dialog, kMusicCheck) != nullptr) SetDlgItemTextA(dialog, kMusicCheck, "Music from texts");
    }
    bool SaveRegistrySettings() override {
        ++saves;
        saved = values;
        savedScene = scene;
        return true;
    }
    void LoadAppSettings() override { ++appSettingsLoads; }
    const char* WebSiteAddress() override { return "https://example.org/rimeholt"; }
    IDirect3D9* CreateDirect3D() override {
        if (direct3dMissing) return nullptr;
        direct3dHeld = true;
        return &direct3d;
    }
    void ReleaseDirect3D() override { direct3dHeld = false; }
    DeviceEnumeration& Enumeration() override { return enumeration; }
    bool QueryDesktopMode(D3DDISPLAYMODE* mode) override {
        *mode = direct3d.adapters[0].desktop;
        return true;
    }
    D3DDISPLAYMODE& DesktopMode() override { return desktop; }
    INT_PTR SettingsDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) override {
        return SceneSettingsDlgProc(*this, scene, dialog, msg, wParam, lParam);
    }
    HINSTANCE Instance() override { return GetModuleHandleA(nullptr); }
};

class SettingsDialogTest : public testing::Test {
protected:
    void SetUp() override {
        // Two adapters: the first offers a mode under 640 x 480, one mode at several refresh
        // rates and 16-bit modes; the second repeats a mode of the first and adds its own.
        host_.direct3d.adapters.clear();
        rh::test::FakeAdapter first;
        first.desktop = {1024, 768, 60, D3DFMT_X8R8G8B8};
        for (D3DFORMAT f : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
            for (auto [w, h, hz] : {std::tuple{320u, 240u, 60u}, {640u, 480u, 60u}, {800u, 600u, 60u},
                                    {800u, 600u, 75u}, {800u, 600u, 85u}, {1024u, 768u, 60u}}) {
                first.modes.push_back(D3DDISPLAYMODE{w, h, hz, f});
            }
        }
        rh::test::FakeAdapter second;
        second.modes = {D3DDISPLAYMODE{1024, 768, 60, D3DFMT_X8R8G8B8},
                        D3DDISPLAYMODE{1280, 1024, 60, D3DFMT_X8R8G8B8}};
        host_.direct3d.adapters = {first, second};
        SetSettingsDialogHost(&host_);
    }
    void TearDown() override {
        rh::win32::SetDialogShownHook(nullptr);
        SetSettingsDialogHost(nullptr);
    }

    // Runs the settings dialog; act runs once it is shown (and again for nested dialogs, with
    // their template id) and must end it.
    INT_PTR Run(const std::function<void(HWND, int)>& act) {
        rh::win32::SetDialogShownHook([act](HWND dialog, int templateId) {
            ProcessPendingEvents();
            act(dialog, templateId);
            ProcessPendingEvents();
        });
        return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kSettingsDialogTemplate), nullptr,
                               SettingsDlgThunk, 0);
    }

    static std::vector<std::string> ModeTexts(HWND dialog) {
        std::vector<std::string> texts;
        LRESULT count = SendDlgItemMessageA(dialog, kModeList, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            char text[64] = {};
            SendDlgItemMessageA(dialog, kModeList, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            texts.push_back(text);
        }
        return texts;
    }
    static std::string Selected(HWND dialog) {
        LRESULT i = SendDlgItemMessageA(dialog, kModeList, CB_GETCURSEL, 0, 0);
        if (i < 0) return "";
        char text[64] = {};
        SendDlgItemMessageA(dialog, kModeList, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        return text;
    }
    static std::string Text(HWND dialog, int id) {
        char text[128] = {};
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }
    static bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
    static bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
    static void Click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }
    static LRESULT Position(HWND dialog, int id) { return SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0); }
    // A trackbar moved as the user moves it: the position, then the notification it sends.
    static void MoveTrackbar(HWND dialog, int id, int position) {
        HWND bar = GetDlgItem(dialog, id);
        SendMessageA(bar, TBM_SETPOS, TRUE, position);
        NMHDR header{bar, static_cast<UINT_PTR>(id), NM_RELEASEDCAPTURE};
        SendMessageA(dialog, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&header));
    }

    RecordingHost host_;
};

TEST_F(SettingsDialogTest, ControlsStartFromTheSettingsAndCancelWritesNothing) {
    host_.values.gamma = -40;
    host_.values.volume = 35;
    host_.values.music = false;
    host_.values.showTime = false;
    host_.values.hours24 = true;
    host_.values.useDesktop = false;
    host_.values.showFps = true;
    host_.values.exitOnMouseMove = false;
    host_.values.width = 1024;
    host_.values.height = 768;
    host_.values.depth = 16;
    host_.scene = {2, false};
    bool checked = false;
    INT_PTR result = Run([&](HWND d, int) {
        checked = true;
        char title[64] = {};
        GetWindowTextA(d, title, sizeof title);
        EXPECT_STREQ(title, "Settings title");
        EXPECT_EQ(Text(d, kMusicCheck), "Music from texts");
        EXPECT_EQ(Position(d, kGammaTrackbar), -40);
        EXPECT_EQ(Text(d, kGammaLabel), "60%");
        EXPECT_EQ(Position(d, kVolumeTrackbar), 35);
        EXPECT_FALSE(Enabled(d, kVolumeTrackbar));  // Music off
        EXPECT_FALSE(Checked(d, kMusicCheck));
        EXPECT_TRUE(Checked(d, kShowFpsCheck));
        EXPECT_FALSE(Checked(d, kExitOnMouseCheck));
        EXPECT_FALSE(Checked(d, kShowTimeCheck));
        EXPECT_TRUE(Checked(d, k24hRadio));
        EXPECT_FALSE(Checked(d, k12hRadio));
        EXPECT_FALSE(Enabled(d, k24hRadio));
        EXPECT_FALSE(Enabled(d, k12hRadio));
        EXPECT_FALSE(Checked(d, kUseDesktopCheck));
        EXPECT_TRUE(Enabled(d, kModeList));
        EXPECT_TRUE(Checked(d, kLotsSnowRadio));
        EXPECT_FALSE(Checked(d, kNormalSnowRadio));
        EXPECT_FALSE(Checked(d, kShadersCheck));
        // One entry per text, nothing under 640 x 480, the second adapter's copy skipped.
        EXPECT_EQ(ModeTexts(d), (std::vector<std::string>{"640x480x32bit", "640x480x16bit", "800x600x32bit",
                                                          "800x600x16bit", "1024x768x32bit", "1024x768x16bit",
                                                          "1280x1024x32bit"}));
        EXPECT_EQ(Selected(d), "1024x768x16bit");
        EXPECT_FALSE(host_.direct3dHeld);
        Click(d, IDCANCEL);
    });
    EXPECT_TRUE(checked);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(host_.saves, 0);
    EXPECT_EQ(SettingsDialogWindow(), nullptr);
    EXPECT_EQ(host_.desktop.Width, 1024u);
}

TEST_F(SettingsDialogTest, ClicksTrackbarMovesAndOkWriteTheValues) {
    host_.values.gamma = 500;  // out of range: the trackbar clamps, the field stays until moved
    host_.scene.snowQuality = 7;
    INT_PTR result = Run([&](HWND d, int) {
        EXPECT_EQ(Position(d, kGammaTrackbar), 100);
        EXPECT_EQ(host_.values.gamma, 500);
        EXPECT_FALSE(Checked(d, kLessSnowRadio) || Checked(d, kNormalSnowRadio) || Checked(d, kLotsSnowRadio));
        MoveTrackbar(d, kGammaTrackbar, -100);
        EXPECT_EQ(Text(d, kGammaLabel), "0%");
        MoveTrackbar(d, kVolumeTrackbar, 55);
        Click(d, kShowFpsCheck);
        Click(d, kExitOnMouseCheck);
        Click(d, k24hRadio);
        Click(d, kShadersCheck);
        Click(d, kUseDesktopCheck);
        EXPECT_TRUE(Enabled(d, kModeList));
        // The second adapter's own mode: OK stores its size with adapter 0.
        SendDlgItemMessageA(d, kModeList, CB_SETCURSEL, 6, 0);
        Click(d, kLessSnowRadio);
        Click(d, IDOK);
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(host_.saves, 1);
    const SettingsDialogValues& v = host_.saved;
    EXPECT_EQ(v.gamma, -100);
    EXPECT_EQ(v.volume, 55);
    EXPECT_TRUE(v.showFps);
    EXPECT_FALSE(v.exitOnMouseMove);
    EXPECT_TRUE(v.hours24);
    EXPECT_FALSE(v.useDesktop);
    EXPECT_EQ(v.width, 1280);
    EXPECT_EQ(v.height, 1024);
    EXPECT_EQ(v.depth, 32);
    EXPECT_EQ(v.adapter, 0);
    EXPECT_FALSE(host_.savedScene.useShaders);
    EXPECT_EQ(host_.savedScene.snowQuality, 0);
}

TEST_F(SettingsDialogTest, GammaLabelsAreTheValuePlusOneHundred) {
    for (auto [gamma, label] : {std::pair{-100, "0%"}, {0, "100%"}, {100, "200%"}, {500, "600%"}}) {
        char text[16];
        GammaLabelText(gamma, text, sizeof text);
        EXPECT_STREQ(text, label) << gamma;
    }
}

TEST_F(SettingsDialogTest, TheStoredModeIsSelectedElseTheDesktopsElse800x600x16) {
    struct Case {
        const char* name;
        int32_t width, height, depth, adapter;
        D3DDISPLAYMODE desktop;
        const char* selected;
    } cases[] = {
        {"stored", 800, 600, 32, 0, {1024, 768, 60, D3DFMT_X8R8G8B8}, "800x600x32bit"},
        // Listed with the first adapter's record: the second adapter's copy is never selected.
        {"stored on the second adapter", 1024, 768, 32, 1, {640, 480, 60, D3DFMT_R5G6B5}, "640x480x16bit"},
        {"desktop", 1600, 1200, 32, 0, {1024, 768, 60, D3DFMT_R5G6B5}, "1024x768x16bit"},
        {"fallback", 1600, 1200, 32, 0, {1920, 1080, 60, D3DFMT_X8R8G8B8}, "800x600x16bit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host_.values.width = c.width;
        host_.values.height = c.height;
        host_.values.depth = c.depth;
        host_.values.adapter = c.adapter;
        host_.direct3d.adapters[0].desktop = c.desktop;
        Run([&](HWND d, int) {
            EXPECT_EQ(Selected(d), c.selected);
            Click(d, IDCANCEL);
        });
    }
    // Nothing selectable: OK keeps the stored mode and saves the rest.
    host_.direct3d.adapters[0].modes = {D3DDISPLAYMODE{1024, 768, 60, D3DFMT_X8R8G8B8}};
    host_.direct3d.adapters[0].desktop = {1920, 1080, 60, D3DFMT_X8R8G8B8};
    host_.direct3d.adapters.resize(1);
    host_.values.width = 1600;
    host_.values.adapter = 3;
    Run([&](HWND d, int) {
        EXPECT_EQ(Selected(d), "");
        Click(d, IDOK);
    });
    ASSERT_EQ(host_.saves, 1);
    EXPECT_EQ(host_.saved.width, 1600);
    EXPECT_EQ(host_.saved.adapter, 3);
}

TEST_F(SettingsDialogTest, UncheckingMusicWithSoundOnLeavesTheVolumeEnabled) {
    Run([&](HWND d, int) {
        EXPECT_TRUE(Enabled(d, kVolumeTrackbar));
        Click(d, kMusicCheck);
        EXPECT_FALSE(host_.values.music);
        EXPECT_TRUE(Enabled(d, kVolumeTrackbar));
        Click(d, kShowTimeCheck);
        EXPECT_FALSE(Enabled(d, k12hRadio));
        Click(d, IDCANCEL);
    });
}

TEST_F(SettingsDialogTest, RestoreDefaultsKeepsThePlaceAndTheAboutDialogSitsBesideIt) {
    host_.values = SettingsDialogValues{false, false, false, true, false, false, 10, true, 50, 1, 640, 480, 16};
    host_.scene = {0, false};
    RECT settingsRect{}, aboutRect{};
    std::string aboutTitle;
    Run([&](HWND d, int templateId) {
        if (templateId == kAboutDialogTemplate) {
            GetWindowRect(d, &aboutRect);
            char title[64] = {};
            GetWindowTextA(d, title, sizeof title);
            aboutTitle = title;
            SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
            return;
        }
        SetWindowPos(d, nullptr, 100, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        ProcessPendingEvents();
        RECT before{};
        GetWindowRect(d, &before);
        Click(d, kRestoreDefaultsButton);
        ProcessPendingEvents();
        GetWindowRect(d, &settingsRect);
        EXPECT_EQ(settingsRect.left, before.left);
        EXPECT_EQ(settingsRect.top, before.top);
        EXPECT_TRUE(Checked(d, kNormalSnowRadio));
        EXPECT_FALSE(Checked(d, kLessSnowRadio));
        EXPECT_TRUE(Checked(d, kShadersCheck));
        EXPECT_EQ(Position(d, kVolumeTrackbar), 80);
        EXPECT_TRUE(Checked(d, kUseDesktopCheck));
        Click(d, kAboutButton);
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(host_.appSettingsLoads, 1);
    EXPECT_EQ(host_.saves, 0);  // nothing is saved until OK
    EXPECT_TRUE(host_.values.useDesktop);
    EXPECT_EQ(host_.values.volume, 80);
    EXPECT_EQ(host_.values.width, 800);
    EXPECT_EQ(host_.values.depth, 32);
    EXPECT_EQ(host_.scene.snowQuality, 1);
    EXPECT_EQ(aboutTitle, "About title");
    EXPECT_EQ(aboutRect.left, settingsRect.left + 140);
    EXPECT_EQ(aboutRect.top, settingsRect.top + 150);
}

TEST_F(SettingsDialogTest, VisitHandsTheAddressToTheDesktopsOpener) {
    char dir[] = "/tmp/rh_visit_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string record = std::string(dir) + "/opened";
    std::string script = std::string(dir) + "/xdg-open";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\necho \"$1\" > " << record << "\n";
    }
    chmod(script.c_str(), 0755);
    std::string savedPath = std::getenv("PATH");
    setenv("PATH", (std::string(dir) + ":" + savedPath).c_str(), 1);
    Run([&](HWND d, int) {
        Click(d, kVisitButton);
        Click(d, IDCANCEL);
    });
    setenv("PATH", savedPath.c_str(), 1);
    std::string opened;
    for (int i = 0; i < 100 && opened.empty(); ++i) {
        std::ifstream in(record);
        std::getline(in, opened);
        if (opened.empty()) usleep(20000);
    }
    EXPECT_EQ(opened, "https://example.org/rimeholt");
    unlink(record.c_str());
    unlink(script.c_str());
    rmdir(dir);
}

TEST_F(SettingsDialogTest, WithoutDirect3DAMessageBoxShowsAndTheDialogEndsWithZero) {
    host_.direct3dMissing = true;
    host_.messages["Mes_Error_Title"] = "Trouble";
    int boxes = 0;
    INT_PTR result = Run([&](HWND d, int templateId) {
        EXPECT_EQ(templateId, rh::win32::kMessageBoxTemplateId);
        ++boxes;
        char title[64] = {};
        GetWindowTextA(d, title, sizeof title);
        EXPECT_STREQ(title, "Trouble");
        rh::win32::SimulateDialogKey(d, rh::win32::DialogKey::Enter);
    });
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(host_.saves, 0);
}

// Every control of the saver's dialogs lies inside the client area and every text fits its
// control, at the text scales desktops commonly use; dialog 113 with its compact layout.
TEST_F(SettingsDialogTest, EveryControlAndTextFitsAtCommonTextScales) {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    struct Dialog {
        int templateId;
        DLGPROC proc;
        std::vector<int> ids;  // 0xFFFF: the first control without an id of its own
        std::vector<int> wrapping;  // multi-line texts: checked wrapped at the label's width
    } dialogs[] = {
        {kSettingsDialogTemplate, SettingsDlgThunk,
         {1016, kModeList, kUseDesktopCheck, 11017, kVolumeCaption, kVolumeTrackbar, kMusicCheck, 21018, 11106,
          kGammaLabel, kGammaTrackbar, 1026, kLessSnowRadio, kNormalSnowRadio, kLotsSnowRadio, kShadersCheck, 0xFFFF,
          11019, kShowFpsCheck, kExitOnMouseCheck, kShowTimeCheck, k24hRadio, k12hRadio, 1022, 1025, kVisitButton,
          kAboutButton, kRestoreDefaultsButton, IDOK, IDCANCEL},
         {kVolumeCaption, 11106, kGammaLabel, kShadersCheck, 1025}},
        {kAboutDialogTemplate, AboutDlgProc, {0xFFFF, 21016, 1019, 1018, 1035, 1017, 11015, IDOK},
         {21016, 1019, 1018, 1035, 1017, 11015}},
        {107, NoDirectXDlgProc, {0xFFFF, IDOK, IDCANCEL}, {0xFFFF}},
    };
    // Texts as long as the message texts give them.
    host_.messages["Mes_About_Copyright"] = "Copyright (C) Larchmere Studio. All rights reserved.";
    std::vector<int> fontHeights;  // of dialog 113 at each scale: the scale reaches the dialogs
    for (double scale : {1.0, 1.25, 1.5}) {
        g_object_set(gtk_settings_get_default(), "gtk-xft-dpi", static_cast<int>(96 * 1024 * scale), nullptr);
        for (const Dialog& dialog : dialogs) {
            SCOPED_TRACE(testing::Message() << "dialog " << dialog.templateId << " at scale " << scale);
            bool shown = false;
            rh::win32::SetDialogShownHook([&](HWND d, int templateId) {
                if (templateId != dialog.templateId) return;
                shown = true;
                ProcessPendingEvents();
                if (templateId == kAboutDialogTemplate) SetDlgItemTextA(d, 1017, host_.messages["Mes_About_Copyright"].c_str());
                ProcessPendingEvents();
                int cw = 0, ch = 0;
                ASSERT_TRUE(rh::win32::GetNativeClientSize(d, &cw, &ch));
                if (templateId == kSettingsDialogTemplate) {
                    int baseX = 0, baseY = 0;
                    rh::win32::GetDialogBaseUnits(d, &baseX, &baseY);
                    fontHeights.push_back(baseY);
                }
                for (int id : dialog.ids) {
                    SCOPED_TRACE(testing::Message() << "control " << id);
                    HWND control = GetDlgItem(d, id);
                    ASSERT_NE(control, nullptr);
                    RECT r;
                    ASSERT_TRUE(rh::win32::GetNativeControlRect(control, &r));
                    EXPECT_GE(r.left, 0);
                    EXPECT_GE(r.top, 0);
                    EXPECT_LE(r.right, cw);
                    EXPECT_LE(r.bottom, ch);
                    RECT label;
                    if (!rh::win32::GetNativeLabelRect(control, &label)) continue;
                    bool wraps = std::find(dialog.wrapping.begin(), dialog.wrapping.end(), id) != dialog.wrapping.end();
                    int tw = 0, th = 0;
                    ASSERT_TRUE(rh::win32::MeasureControlText(control, wraps ? label.right - label.left : 0, &tw, &th));
                    EXPECT_LE(tw, label.right - label.left);
                    EXPECT_LE(th, label.bottom - label.top);
                    EXPECT_LE(label.right, cw);
                    EXPECT_LE(label.bottom, ch);
                }
                EndDialog(d, IDCANCEL);
            });
            DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(dialog.templateId), nullptr, dialog.proc, 0);
            EXPECT_TRUE(shown);
        }
    }
    g_object_set(gtk_settings_get_default(), "gtk-xft-dpi", 96 * 1024, nullptr);
    ASSERT_EQ(fontHeights.size(), 3u);
    EXPECT_LT(fontHeights[0], fontHeights[1]);
    EXPECT_LT(fontHeights[1], fontHeights[2]);
}

}  // namespace

#include "saver/preview.h"

namespace {

// With RH_SCREENSHOT_DIR set: the settings dialog, the about dialog and the preview window
// saved as PNG files of the whole screen (ImageMagick's import), to be looked at.
LRESULT CALLBACK PreviewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PaintPreview(hwnd, GetModuleHandleA(nullptr));
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Snap(const std::string& name) {
    ProcessPendingEvents();
    usleep(300000);
    ProcessPendingEvents();
    std::string command = "import -window root '" + std::string(std::getenv("RH_SCREENSHOT_DIR")) + "/" + name + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST_F(SettingsDialogTest, Screenshots) {
    if (std::getenv("RH_SCREENSHOT_DIR") == nullptr) GTEST_SKIP() << "RH_SCREENSHOT_DIR not set";
    Run([&](HWND d, int templateId) {
        if (templateId == kAboutDialogTemplate) {
            Snap("about_dialog.png");
            RECT about{}, settings{};
            rh::win32::GetNativeWindowRect(d, &about);
            rh::win32::GetNativeWindowRect(SettingsDialogWindow(), &settings);
            // Where the display server put it, not only what the layer answers.
            EXPECT_EQ(about.left, settings.left + 140);
            EXPECT_EQ(about.top, settings.top + 150);
            SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
            return;
        }
        SendDlgItemMessageA(d, kUseDesktopCheck, BM_CLICK, 0, 0);
        Snap("settings_dialog.png");
        SendDlgItemMessageA(d, kAboutButton, BM_CLICK, 0, 0);
        SendDlgItemMessageA(d, IDCANCEL, BM_CLICK, 0, 0);
    });
    WNDCLASSA wc{};
    wc.lpfnWndProc = PreviewProc;
    wc.lpszClassName = "RhPreviewShot";
    RegisterClassA(&wc);
    // Larger than the picture at one place and smaller at another: unscaled, clipped.
    HWND big = CreateWindowExA(0, "RhPreviewShot", "preview", WS_POPUP | WS_VISIBLE, 20, 20, 200, 150, nullptr,
                               nullptr, nullptr, nullptr);
    HWND small = CreateWindowExA(0, "RhPreviewShot", "preview", WS_POPUP | WS_VISIBLE, 260, 20, 100, 60, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_NE(big, nullptr);
    ASSERT_NE(small, nullptr);
    for (int i = 0; i < 20; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        usleep(20000);
    }
    Snap("preview.png");
    DestroyWindow(big);
    DestroyWindow(small);
    UnregisterClassA("RhPreviewShot", nullptr);
}

}  // namespace
