// The settings dialog (template 113) and the about dialog (template 106). The dialog procedures work on the application through
// SettingsDialogHost, which the saver application implements.
#pragma once

#include "core/containers/linked_list.h"

#include <d3d9.h>
#include <windows.h>

#include <cstdint>

class DeviceEnumeration;
struct AdapterInfo;

// The application's setting fields the dialog shows and changes (the registry values).
struct SettingsDialogValues {
    bool useDesktop = true;
    bool exitOnMouseMove = true;
    bool showTime = true;
    bool hours24 = false;
    bool music = true;
    bool sound = true;
    int32_t volume = 80;
    bool showFps = false;
    int32_t gamma = 0;
    int32_t adapter = 0;
    int32_t width = 800;
    int32_t height = 600;
    int32_t depth = 32;
};

// The scene application's own fields: the snow amount and the shader switch.
struct SceneDialogValues {
    int32_t snowQuality = 1;
    bool useShaders = true;
};

// What the dialogs need of the application.
class SettingsDialogHost {
public:
    virtual ~SettingsDialogHost() = default;
    virtual SettingsDialogValues& DialogValues() = 0;
    // The message text of key, or null when the message texts have no such key.
    virtual const char* MessageText(const char* key) = 0;
    // Gives the dialog's controls their message texts.
    virtual void ApplyDialogTexts(HWND dialog) = 0;
    // Writes the setting fields to the registry.
    virtual bool SaveRegistrySettings() = 0;
    // Reads the settings script's application keys again (after Restore Defaults).
    virtual void LoadAppSettings() = 0;
    // The settings key "main_web_site_url".
    virtual const char* WebSiteAddress() = 0;
    // Makes the framework's Direct3D object and answers it (null when Direct3D 9 cannot be
    // had); ReleaseDirect3D releases it and clears the framework's pointer.
    virtual IDirect3D9* CreateDirect3D() = 0;
    virtual void ReleaseDirect3D() = 0;
    // The framework's device enumeration (its mode records outlive the dialog).
    virtual DeviceEnumeration& Enumeration() = 0;
    // Adapter 0's current mode into *mode; false when Direct3D cannot tell.
    virtual bool QueryDesktopMode(D3DDISPLAYMODE* mode) = 0;
    // The process-wide desktop mode the settings dialog refreshes and the start-up copies.
    virtual D3DDISPLAYMODE& DesktopMode() = 0;
    // The application's virtual dialog procedure: the saver's (SaverSettingsDlgProc) or the
    // scene application's (SceneSettingsDlgProc).
    virtual INT_PTR SettingsDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    virtual HINSTANCE Instance() = 0;
};

// The application the dialog procedures serve; set before DialogBoxParamA, null after.
void SetSettingsDialogHost(SettingsDialogHost* host);
// The settings dialog's window while it is open (set at its initialisation), else null.
HWND SettingsDialogWindow();

// Control ids of the settings dialog.
enum SettingsControl : int {
    kModeList = 1011,
    kUseDesktopCheck = 11012,
    kVolumeCaption = 11023,
    kVolumeTrackbar = 1020,
    kMusicCheck = 1021,
    kSoundCheck = 11022,  // not in the template
    kGammaLabel = 11118,
    kGammaTrackbar = 1046,
    kLessSnowRadio = 1010,
    kNormalSnowRadio = 11013,
    kLotsSnowRadio = 1014,
    kShadersCheck = 31008,
    kShowFpsCheck = 1044,
    kExitOnMouseCheck = 1045,
    kShowTimeCheck = 1119,
    k24hRadio = 1112,
    k12hRadio = 1111,
    kVisitButton = 1061,
    kAboutButton = 1062,
    kRestoreDefaultsButton = 1063,
};
constexpr int kSettingsDialogTemplate = 113;
constexpr int kAboutDialogTemplate = 106;

// The dialog procedure given to DialogBoxParamA for template 113: the host's SettingsDlgProc,
// its result as a byte.
INT_PTR CALLBACK SettingsDlgThunk(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
// The saver's handling of the common controls.
BOOL SaverSettingsDlgProc(SettingsDialogHost& host, HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
// The scene application's: the snow and shader controls first, then SaverSettingsDlgProc,
// whose result it answers.
BOOL SceneSettingsDlgProc(SettingsDialogHost& host, SceneDialogValues& scene, HWND dialog, UINT msg,
                          WPARAM wParam, LPARAM lParam);
// The procedure of template 106.
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// The item data of the combo box's selected item; 0 when nothing is selected.
LRESULT GetSelectedItemData(HWND dialog, int controlId);
// Whether an item's text equals text byte for byte; items of 200 or more characters are skipped.
bool ComboHasText(HWND dialog, int controlId, const char* text);

// Fills the mode list from the adapters' modes (step 8 of the control initialisation):
// "WxHxBITSbit" from 640 x 480 up, each text once, the stored mode selected, else the desktop's,
// else 800 x 600 x 16.
void FillModeList(HWND dialog, LinkedList<AdapterInfo*>& adapters, const SettingsDialogValues& values,
                  const D3DDISPLAYMODE& desktop);
// "N%" for the gamma label: gamma + 100.
void GammaLabelText(int32_t gamma, char* out, size_t size);
