#include "saver/dialogs.h"

#include "core/text/string.h"
#include "render/device_enumeration.h"
#include "render/format_facts.h"

#include <cstdio>
#include <vector>

namespace {

SettingsDialogHost* g_host = nullptr;
HWND g_settingsDialog = nullptr;

// The compact layout, in pixels of a Windows dialog whose base units are 6 x 13 ("MS Shell
// Dlg" 8): the window's size and where Restore Defaults, OK and Cancel go, closing the empty
// band below the web site group. They are turned into this dialog's pixels through its own
// base units, so a wider font keeps the proportions.
constexpr int kWindowsBaseX = 6;
constexpr int kWindowsBaseY = 13;
constexpr int kCompactWidth = 590;
constexpr int kCompactHeight = 425;
struct ButtonPlace {
    int id;
    int x;
    int y;
};
constexpr ButtonPlace kCompactButtons[] = {
    {kRestoreDefaultsButton, 18, 357}, {IDOK, 378, 357}, {IDCANCEL, 474, 357}};

// MulDiv's rounding, half away from zero (all values here are positive).
int Scale(int value, int numerator, int denominator) {
    return (value * numerator + denominator / 2) / denominator;
}

void ApplyCompactLayout(HWND dialog) {
    RECT units{0, 0, 4, 8};
    if (!MapDialogRect(dialog, &units)) return;
    int baseX = units.right, baseY = units.bottom;
    SetWindowPos(dialog, nullptr, 0, 0, Scale(kCompactWidth, baseX, kWindowsBaseX),
                 Scale(kCompactHeight, baseY, kWindowsBaseY), SWP_NOMOVE | SWP_NOZORDER);
    for (const ButtonPlace& b : kCompactButtons) {
        SetWindowPos(GetDlgItem(dialog, b.id), nullptr, Scale(b.x, baseX, kWindowsBaseX),
                     Scale(b.y, baseY, kWindowsBaseY), 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
}

void SetTitleFromMessage(SettingsDialogHost* host, HWND dialog, const char* key) {
    if (host == nullptr) return;
    if (const char* title = host->MessageText(key)) SetWindowTextA(dialog, title);
}

void Enable(HWND dialog, int id, bool enable) { EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE); }

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void Check(HWND dialog, int id, bool on) { CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED); }

void SetGammaLabel(HWND dialog, int32_t gamma) {
    char text[32];
    GammaLabelText(gamma, text, sizeof text);
    SetDlgItemTextA(dialog, kGammaLabel, text);
}

void SetUpTrackbar(HWND dialog, int id, int minimum, int maximum, int position) {
    HWND bar = GetDlgItem(dialog, id);
    PostMessageA(bar, TBM_SETRANGEMAX, TRUE, maximum);
    PostMessageA(bar, TBM_SETRANGEMIN, TRUE, minimum);
    PostMessageA(bar, TBM_SETPOS, TRUE, position);
}

// The control initialisation; false when Direct3D is missing (the dialog has then ended).
bool InitControls(SettingsDialogHost& host, HWND dialog, bool centre) {
    SettingsDialogValues& v = host.DialogValues();
    IDirect3D9* direct3d = host.CreateDirect3D();
    if (direct3d == nullptr) {
        const char* text = host.MessageText("Mes_Error_CantInitD3D");
        const char* title = host.MessageText("Mes_Error_Title");
        MessageBoxA(nullptr, text != nullptr ? text : "Cannot initialize D3D, please reinstall DX9",
                    title != nullptr ? title : "Error", MB_OK);
        EndDialog(dialog, 0);
        return false;
    }
    SetUpTrackbar(dialog, kGammaTrackbar, -100, 100, v.gamma);
    SetGammaLabel(dialog, v.gamma);
    SetUpTrackbar(dialog, kVolumeTrackbar, 0, 100, v.volume);

    CheckRadioButton(dialog, k12hRadio, k24hRadio, v.hours24 ? k24hRadio : k12hRadio);
    Check(dialog, kShowTimeCheck, v.showTime);
    Enable(dialog, k12hRadio, v.showTime);
    Enable(dialog, k24hRadio, v.showTime);

    Check(dialog, kMusicCheck, v.music);
    Check(dialog, kSoundCheck, v.sound);  // no such control: nothing happens
    Check(dialog, kShowFpsCheck, v.showFps);
    Check(dialog, kExitOnMouseCheck, v.exitOnMouseMove);
    Check(dialog, kUseDesktopCheck, v.useDesktop);
    Enable(dialog, kModeList, !v.useDesktop);

    D3DDISPLAYMODE& desktop = host.DesktopMode();
    host.QueryDesktopMode(&desktop);
    if (centre) {
        SetWindowPos(dialog, nullptr, (static_cast<int>(desktop.Width) - 530) / 2,
                     (static_cast<int>(desktop.Height) - 440) / 2, 0, 0, SWP_NOSIZE);
    }
    Enable(dialog, kVolumeTrackbar, v.music);

    DeviceEnumeration& enumeration = host.Enumeration();
    enumeration.SetDirect3D(direct3d);
    enumeration.Enumerate();
    FillModeList(dialog, enumeration.Adapters(), v, desktop);
    // The records stay with the enumeration; the object it asked goes.
    enumeration.SetDirect3D(nullptr);
    host.ReleaseDirect3D();
    return true;
}

void RestoreDefaults(SettingsDialogValues& v) {
    v.useDesktop = true;
    v.showFps = false;
    v.width = 800;
    v.height = 600;
    v.depth = 32;
    v.adapter = 0;
    v.gamma = 0;
    v.volume = 80;
    v.music = true;
    v.sound = true;
    v.exitOnMouseMove = true;
    v.showTime = true;
    v.hours24 = false;
}

int32_t TrackbarPosition(HWND dialog, int id) {
    return static_cast<int32_t>(SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0));
}

}  // namespace

void SetSettingsDialogHost(SettingsDialogHost* host) { g_host = host; }

HWND SettingsDialogWindow() { return g_settingsDialog; }

void GammaLabelText(int32_t gamma, char* out, size_t size) {
    std::snprintf(out, size, "%d%%", static_cast<int>(gamma) + 100);
}

LRESULT GetSelectedItemData(HWND dialog, int controlId) {
    LRESULT index = SendDlgItemMessageA(dialog, controlId, CB_GETCURSEL, 0, 0);
    if (index < 0) return 0;
    return SendDlgItemMessageA(dialog, controlId, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
}

bool ComboHasText(HWND dialog, int controlId, const char* text) {
    LRESULT count = SendDlgItemMessageA(dialog, controlId, CB_GETCOUNT, 0, 0);
    std::vector<char> buffer;
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendDlgItemMessageA(dialog, controlId, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0 || length >= 200) continue;
        buffer.assign(static_cast<size_t>(length) + 1, '\0');
        SendDlgItemMessageA(dialog, controlId, CB_GETLBTEXT, static_cast<WPARAM>(i),
                            reinterpret_cast<LPARAM>(buffer.data()));
        if (TextEqualsString(text, String(buffer.data()))) return true;
    }
    return false;
}

void FillModeList(HWND dialog, LinkedList<AdapterInfo*>& adapters, const SettingsDialogValues& values,
                  const D3DDISPLAYMODE& desktop) {
    SendDlgItemMessageA(dialog, kModeList, CB_RESETCONTENT, 0, 0);
    bool found = false;
    auto* adapterNode = adapters.first();
    for (int32_t a = 0; a < adapters.count(); ++a, adapterNode = adapterNode->next) {
        AdapterInfo* adapter = adapterNode->element;
        auto* modeNode = adapter->displayModes.first();
        for (int32_t m = 0; m < adapter->displayModes.count(); ++m, modeNode = modeNode->next) {
            D3DDISPLAYMODE* mode = &modeNode->element;
            if (mode->Width < 640 || mode->Height < 480) continue;
            int bits = FormatBits(mode->Format);
            char text[64];
            std::snprintf(text, sizeof text, "%ux%ux%dbit", mode->Width, mode->Height, bits);
            if (ComboHasText(dialog, kModeList, text)) continue;
            LRESULT index = SendDlgItemMessageA(dialog, kModeList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
            SendDlgItemMessageA(dialog, kModeList, CB_SETITEMDATA, static_cast<WPARAM>(index),
                                reinterpret_cast<LPARAM>(mode));
            if (static_cast<int32_t>(mode->Width) == values.width &&
                static_cast<int32_t>(mode->Height) == values.height && bits == values.depth &&
                static_cast<int32_t>(adapter->adapter) == values.adapter) {
                SendDlgItemMessageA(dialog, kModeList, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
                found = true;
            } else if (!found) {
                if (mode->Width == desktop.Width && mode->Height == desktop.Height &&
                    mode->Format == desktop.Format) {
                    SendDlgItemMessageA(dialog, kModeList, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
                    found = true;
                } else if (mode->Width == 800 && mode->Height == 600 && bits == 16) {
                    SendDlgItemMessageA(dialog, kModeList, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
                }
            }
        }
    }
}

INT_PTR CALLBACK SettingsDlgThunk(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (g_host == nullptr) return FALSE;
    return static_cast<BYTE>(g_host->SettingsDlgProc(dialog, msg, wParam, lParam));
}

BOOL SaverSettingsDlgProc(SettingsDialogHost& host, HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    SettingsDialogValues& v = host.DialogValues();
    switch (msg) {
        case WM_INITDIALOG:
            SetTitleFromMessage(&host, dialog, "Mes_Settings_Title");
            host.ApplyDialogTexts(dialog);
            g_settingsDialog = dialog;
            ApplyCompactLayout(dialog);
            InitControls(host, dialog, true);
            return TRUE;
        case WM_DESTROY:
            // The handle would name nothing once the dialog is gone.
            if (g_settingsDialog == dialog) g_settingsDialog = nullptr;
            return FALSE;
        case WM_NOTIFY:
            if (wParam == kVolumeTrackbar) {
                v.volume = TrackbarPosition(dialog, kVolumeTrackbar);
            } else if (wParam == kGammaTrackbar) {
                v.gamma = TrackbarPosition(dialog, kGammaTrackbar);
                SetGammaLabel(dialog, v.gamma);
            }
            return FALSE;
        case WM_COMMAND:
            break;
        default:
            return FALSE;
    }
    (void)lParam;
    switch (LOWORD(wParam)) {
        case kMusicCheck:
        case kSoundCheck: {
            bool music = LOWORD(wParam) == kMusicCheck;
            bool& field = music ? v.music : v.sound;
            field = Checked(dialog, LOWORD(wParam));
            Check(dialog, LOWORD(wParam), field);
            Enable(dialog, kVolumeTrackbar, v.music || v.sound);
            Enable(dialog, kVolumeCaption, v.music || v.sound);
            break;
        }
        case kVolumeTrackbar:
            v.volume = TrackbarPosition(dialog, kVolumeTrackbar);
            break;
        case kShowFpsCheck:
            v.showFps = Checked(dialog, kShowFpsCheck);
            break;
        case kShowTimeCheck:
            v.showTime = Checked(dialog, kShowTimeCheck);
            Enable(dialog, k12hRadio, v.showTime);
            Enable(dialog, k24hRadio, v.showTime);
            break;
        case k24hRadio:
            v.hours24 = Checked(dialog, k24hRadio);
            break;
        case k12hRadio:
            v.hours24 = !Checked(dialog, k12hRadio);
            break;
        case kExitOnMouseCheck:
            v.exitOnMouseMove = Checked(dialog, kExitOnMouseCheck);
            break;
        case kUseDesktopCheck:
            v.useDesktop = Checked(dialog, kUseDesktopCheck);
            Check(dialog, kUseDesktopCheck, v.useDesktop);
            Enable(dialog, kModeList, !v.useDesktop);
            break;
        case IDOK:
            if (auto* mode = reinterpret_cast<const D3DDISPLAYMODE*>(GetSelectedItemData(dialog, kModeList))) {
                v.width = static_cast<int32_t>(mode->Width);
                v.height = static_cast<int32_t>(mode->Height);
                v.depth = FormatBits(mode->Format);
                v.adapter = 0;
            }
            host.SaveRegistrySettings();
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 2);
            return TRUE;
        case kAboutButton:
            DialogBoxParamA(host.Instance(), MAKEINTRESOURCEA(kAboutDialogTemplate), dialog, AboutDlgProc, 0);
            break;
        case kVisitButton:
            ShellExecuteA(nullptr, "open", host.WebSiteAddress(), nullptr, nullptr, SW_SHOWNORMAL);
            break;
        case kRestoreDefaultsButton:
            RestoreDefaults(v);
            host.LoadAppSettings();
            InitControls(host, dialog, false);
            break;
        default:
            break;
    }
    return FALSE;
}

BOOL SceneSettingsDlgProc(SettingsDialogHost& host, SceneDialogValues& scene, HWND dialog, UINT msg,
                          WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        Check(dialog, kShadersCheck, scene.useShaders);
        int radio = scene.snowQuality == 0 ? kLessSnowRadio
                    : scene.snowQuality == 1 ? kNormalSnowRadio
                    : scene.snowQuality == 2 ? kLotsSnowRadio
                                             : 0;
        if (radio != 0) Check(dialog, radio, true);
    } else if (msg == WM_COMMAND) {
        struct SnowButton {
            int id;
            int32_t quality;
        };
        static constexpr SnowButton kSnow[] = {{kLessSnowRadio, 0}, {kNormalSnowRadio, 1}, {kLotsSnowRadio, 2}};
        int id = LOWORD(wParam);
        for (const SnowButton& pressed : kSnow) {
            if (pressed.id != id) continue;
            scene.snowQuality = pressed.quality;
            for (const SnowButton& other : kSnow) {
                if (other.id != id) Check(dialog, other.id, false);
            }
        }
        if (id == kShadersCheck) scene.useShaders = Checked(dialog, kShadersCheck);
        if (id == kRestoreDefaultsButton) {
            scene.snowQuality = 1;
            scene.useShaders = true;
            Check(dialog, kNormalSnowRadio, true);
            Check(dialog, kShadersCheck, true);
            Check(dialog, kLessSnowRadio, false);
            Check(dialog, kLotsSnowRadio, false);
        }
    }
    return SaverSettingsDlgProc(host, dialog, msg, wParam, lParam);
}

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) {
        SetTitleFromMessage(g_host, dialog, "Mes_About_Title");
        if (g_host != nullptr) g_host->ApplyDialogTexts(dialog);
        if (g_settingsDialog != nullptr) {
            RECT r;
            if (GetWindowRect(g_settingsDialog, &r)) {
                SetWindowPos(dialog, g_settingsDialog, r.left + 140, r.top + 150, 0, 0, SWP_NOSIZE);
            }
        }
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}
