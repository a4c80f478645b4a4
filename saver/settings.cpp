// The saver's configuration in three layers (the code's defaults, the settings script, the
// user's registry values) and the message texts that title the window and the dialogs.

#include "core/files/file_ref.h"
#include "core/files/stream.h"
#include "core/script/line_script.h"
#include "saver/saver_app.h"

#include <windows.h>

#include <memory>
#include <string>

namespace {

// Message keys and the dialog controls that show them, in the order they are applied.
struct ControlText {
    const char* key;
    int32_t control;
};
constexpr ControlText kControlTexts[] = {
    {"Mes_Button_OK", 1},
    {"Mes_Button_Cancel", 2},
    {"Mes_Settings_UseShaders", 31008},
    {"Mes_Settings_LessSnow", 1010},
    {"Mes_Settings_NormalSnow", 11013},
    {"Mes_Settings_LotsSnow", 1014},
    {"Mes_About_Quorrin", 1035},
    {"Mes_About_Text", 21016},
    {"Mes_About_Copyright", 1017},
    {"Mes_About_Programmer", 1018},
    {"Mes_About_Designer", 1019},
    {"Mes_Settings_UseDesktop", 11012},
    {"Mes_Settings_Box_Mode", 1016},
    {"Mes_Settings_Box_Sound", 11017},
    {"Mes_Settings_Box_Graphics", 21018},
    {"Mes_Settings_Box_Products", 1022},
    {"Mes_Settings_Box_Quality", 1026},
    {"Mes_Settings_Box_Misc", 11019},
    {"Mes_Settings_MusicVolume", 11023},
    {"Mes_Settings_EnableMusic", 1021},
    {"Mes_Settings_ExitOnMouse", 1045},
    {"Mes_Settings_ShowFPS", 1044},
    {"Mes_Settings_Gamma", 11106},
    {"Mes_Settings_ShowTime", 1119},
    {"Mes_Settings_24h", 1112},
    {"Mes_Settings_12h", 1111},
    {"Mes_Settings_Products", 1025},
    {"Mes_Settings_Button_About", 1062},
    {"Mes_Settings_Button_RestoreDefs", 1063},
    {"Mes_Settings_Button_Visit", 1061},
};

constexpr float kColorScale = 0.003921569f;  // 1/255

// A colour key: the array's elements "0", "1" and "2" as integers 0..255 for red, green and
// blue. An element the array lacks leaves its channel as it was.
void ReadColor(const ScriptNode& tree, const char* key, ArgbColor* color) {
    const ScriptNode* node = tree.Child(key);
    if (node == nullptr) return;
    float* channels[3] = {&color->r, &color->g, &color->b};
    for (int i = 0; i < 3; ++i) {
        const ScriptNode* element = node->Child(std::to_string(i).c_str());
        if (element != nullptr) *channels[i] = static_cast<float>(element->AsInt()) * kColorScale;
    }
}

void ReadNumber(const ScriptNode& tree, const char* key, float* out) {
    if (const ScriptNode* node = tree.Child(key)) *out = static_cast<float>(node->AsDouble());
}

void ReadInt(const ScriptNode& tree, const char* key, int32_t* out) {
    if (const ScriptNode* node = tree.Child(key)) *out = node->AsInt();
}

void ReadBool(const ScriptNode& tree, const char* key, bool* out) {
    if (const ScriptNode* node = tree.Child(key)) *out = node->AsInt() != 0;
}

void ReadText(const ScriptNode& tree, const char* key, String* out) {
    if (const ScriptNode* node = tree.Child(key)) *out = node->value;
}

// A four-byte value; true when the registry answered it (any type: a four-byte REG_BINARY
// or text reads as its bytes). A larger value is refused and leaves the field alone.
bool QueryDword(HKEY key, const char* name, DWORD* out) {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) {
        return false;
    }
    *out = value;
    return true;
}

void QueryBool(HKEY key, const char* name, bool* out) {
    DWORD value = 0;
    if (QueryDword(key, name, &value)) *out = value != 0;
}

void QueryInt(HKEY key, const char* name, int32_t* out) {
    DWORD value = 0;
    if (QueryDword(key, name, &value)) *out = static_cast<int32_t>(value);
}

void SetDword(HKEY key, const char* name, DWORD value) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

std::unique_ptr<Stream> OpenForReading(FileRef locator) {
    return std::unique_ptr<Stream>(locator.OpenFile(1));
}

}  // namespace

void SaverApp::LoadConfig() {
    std::unique_ptr<Stream> stream = OpenForReading(FileRef("CustomData/settings.txt"));
    if (stream == nullptr) stream = OpenForReading(FileRef::Resource(239));
    if (stream == nullptr) return;
    ParseLineScript(stream.get(), &settingsTree_, nullptr);
    const ScriptNode& tree = settingsTree_;

    ReadColor(tree, "Ambient", &ambient);
    ReadColor(tree, "BgColor", &bgColor);
    ReadBool(tree, "FogEnable", &fogEnable);
    ReadColor(tree, "FogColor", &fogColor);
    ReadNumber(tree, "NearPlane", &nearPlane);
    ReadNumber(tree, "FarPlane", &farPlane);
    ReadNumber(tree, "FogStart", &fogStart);
    ReadNumber(tree, "FogEnd", &fogEnd);
    if (const ScriptNode* node = tree.Child("Fov")) {
        fov = static_cast<float>(node->AsDouble()) * 0.0055555557f * 3.1415927f;
    }
    ReadNumber(tree, "CamSpeed", &camSpeed);
    if (const ScriptNode* node = tree.Child("Animations")) {
        for (int32_t i = 0; i < node->count(); ++i) {
            if (const ScriptNode* name = node->Child(std::to_string(i).c_str())) paths_.Add(name->value);
        }
    }
    LoadSceneSettings();
}

void SaverApp::LoadAppSettings() {
    const ScriptNode& tree = settingsTree_;
    ReadText(tree, "RegPath", &g_registryPath);
    ReadText(tree, "main_web_site_url", &g_makerAddress);
    ReadBool(tree, "UseDesktop", &settings_.useDesktop);
    ReadBool(tree, "ShowFps", &settings_.showFps);
    ReadInt(tree, "Width", &settings_.width);
    ReadInt(tree, "Height", &settings_.height);
    ReadInt(tree, "Depth", &settings_.depth);
    ReadInt(tree, "Gamma", &settings_.gamma);
    ReadInt(tree, "Adapter", &settings_.adapter);
    ReadInt(tree, "Volume", &settings_.volume);
    ReadBool(tree, "Music", &settings_.music);
    ReadBool(tree, "ExitOnMM", &settings_.exitOnMouseMove);
    ReadBool(tree, "ShowTime", &settings_.showTime);
    ReadBool(tree, "b24h", &settings_.hours24);
}

bool SaverApp::LoadRegistrySettings() {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, g_registryPath.Text(), 0, nullptr, 0, KEY_READ, nullptr, &key,
                        &disposition) != ERROR_SUCCESS) {
        return false;
    }
    QueryBool(key, "UseDesktop", &settings_.useDesktop);
    QueryBool(key, "ShowFps", &settings_.showFps);
    QueryInt(key, "Width", &settings_.width);
    QueryInt(key, "Height", &settings_.height);
    QueryInt(key, "Depth", &settings_.depth);
    QueryInt(key, "Adapter", &settings_.adapter);
    QueryInt(key, "Gamma", &settings_.gamma);
    QueryInt(key, "Volume", &settings_.volume);
    QueryBool(key, "Music", &settings_.music);
    QueryBool(key, "Sound", &settings_.sound);
    QueryBool(key, "ExitOnMM", &settings_.exitOnMouseMove);
    QueryBool(key, "ShowTime", &settings_.showTime);
    QueryBool(key, "TimeStyle", &settings_.hours24);
    RegCloseKey(key);
    return true;
}

bool SaverApp::SaveRegistrySettings() {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, g_registryPath.Text(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        &disposition) != ERROR_SUCCESS) {
        return false;
    }
    SetDword(key, "UseDesktop", settings_.useDesktop ? 1 : 0);
    SetDword(key, "ShowFps", settings_.showFps ? 1 : 0);
    SetDword(key, "Width", static_cast<DWORD>(settings_.width));
    SetDword(key, "Height", static_cast<DWORD>(settings_.height));
    SetDword(key, "Depth", static_cast<DWORD>(settings_.depth));
    SetDword(key, "Adapter", static_cast<DWORD>(settings_.adapter));
    SetDword(key, "Gamma", static_cast<DWORD>(settings_.gamma));
    SetDword(key, "Volume", static_cast<DWORD>(settings_.volume));
    SetDword(key, "Music", settings_.music ? 1 : 0);
    SetDword(key, "Sound", settings_.sound ? 1 : 0);
    SetDword(key, "ExitOnMM", settings_.exitOnMouseMove ? 1 : 0);
    SetDword(key, "ShowTime", settings_.showTime ? 1 : 0);
    SetDword(key, "TimeStyle", settings_.hours24 ? 1 : 0);
    RegCloseKey(key);
    return true;
}

void SaverApp::LoadMessages() {
    std::unique_ptr<Stream> stream = OpenForReading(FileRef::Resource(229));
    if (stream == nullptr) return;
    ParseLineScript(stream.get(), &messageTree_, nullptr);
    ReadText(messageTree_, "AppName", &g_title);
    for (const ControlText& entry : kControlTexts) {
        controlMap_.Insert(WideString(entry.key), entry.control, 1);
    }
    OnMessagesLoaded();
}

void SaverApp::ApplyDialogTexts(HWND dialog) {
    auto* node = controlMap_.first();
    for (int32_t i = 0; i < controlMap_.count(); ++i, node = node->next) {
        const String key(node->key);
        if (const ScriptNode* text = messageTree_.Child(key.Text())) {
            SetDlgItemTextA(dialog, node->value, text->value.Text());
        }
    }
}
