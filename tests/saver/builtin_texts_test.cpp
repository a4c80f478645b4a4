// The built-in settings script (resource 239) and message texts (resource 229), parsed as the
// saver parses them: every key the saver reads is present, with the value and form its reader
// expects.

#include "core/files/file_ref.h"
#include "core/files/stream.h"
#include "core/script/line_script.h"
#include "core/script/script_node.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Parses a "MemFile" resource in the line dialect.
std::unique_ptr<ScriptNode> ParseResource(int32_t id) {
    auto root = std::make_unique<ScriptNode>();
    std::unique_ptr<Stream> stream(FileRef::Resource(id).OpenFile(1));
    EXPECT_NE(stream, nullptr) << "resource " << id;
    if (stream != nullptr) {
        EXPECT_TRUE(ParseLineScript(stream.get(), root.get(), nullptr)) << "resource " << id;
    }
    return root;
}

std::vector<std::string> Elements(const ScriptNode* node) {
    std::vector<std::string> out;
    for (int i = 0; i < node->count(); ++i) {
        const ScriptNode* element = node->Child(std::to_string(i).c_str());
        out.push_back(element != nullptr ? element->value.Text() : "<missing>");
    }
    return out;
}

TEST(BuiltinSettings, EveryKeyTheSaverReadsHasItsValueAndForm) {
    auto root = ParseResource(239);
    // Scalars: integers must read whole through AsInt, numbers through AsDouble.
    struct Scalar {
        const char* key;
        double value;
        bool integer;
    };
    const Scalar scalars[] = {
        {"FogEnable", 1, true},     {"NearPlane", 1, false},   {"FarPlane", 5500, false},
        {"FogStart", -500, false},  {"FogEnd", 3000, false},   {"Fov", 75, false},
        {"CamSpeed", 2, false},     {"BlinkPeriod", 2000, false}, {"SpecularPower", 60, false},
        {"DT", 0.1, false},         {"UseShaders", 1, true},   {"UseDesktop", 1, true},
        {"ShowFps", 0, true},       {"Width", 800, true},      {"Height", 600, true},
        {"Depth", 32, true},        {"Adapter", 0, true},      {"Gamma", 0, true},
        {"Volume", 80, true},       {"Music", 1, true},        {"ExitOnMM", 0, true},
        {"ShowTime", 1, true},      {"b24h", 0, true},
    };
    for (const Scalar& s : scalars) {
        const ScriptNode* node = root->Child(s.key);
        ASSERT_NE(node, nullptr) << s.key;
        EXPECT_EQ(node->kind, ScriptNode::kText) << s.key;
        if (s.integer) {
            int32_t parsed = 0;
            EXPECT_TRUE(node->value.ToInt(parsed)) << s.key << " is not wholly an integer";
            EXPECT_EQ(node->AsInt(), static_cast<int32_t>(s.value)) << s.key;
        } else {
            EXPECT_DOUBLE_EQ(node->AsDouble(), s.value) << s.key;
        }
    }

    struct Array {
        const char* key;
        std::vector<std::string> elements;
    };
    std::vector<std::string> paths;
    for (int i = 1; i <= 20; ++i) paths.push_back((i < 10 ? "c0" : "c") + std::to_string(i) + ".cam");
    const Array arrays[] = {
        {"Ambient", {"225", "225", "225"}},
        {"BgColor", {"120", "120", "150"}},
        {"FogColor", {"120", "120", "150"}},
        {"SpecularDir", {"0", "-1", "0"}},
        {"Animations", paths},
    };
    for (const Array& a : arrays) {
        const ScriptNode* node = root->Child(a.key);
        ASSERT_NE(node, nullptr) << a.key;
        EXPECT_EQ(node->kind, ScriptNode::kArray) << a.key;
        EXPECT_EQ(Elements(node), a.elements) << a.key;
    }

    // The line dialect keeps unquoted text literally, so the path keeps its doubled
    // backslashes; the saver writes and reads its values under that same path.
    const ScriptNode* regPath = root->Child("RegPath");
    ASSERT_NE(regPath, nullptr);
    EXPECT_STREQ(regPath->value.Text(), "Software\\\\LARCHMERE Studio\\\\Glintwold 3D ScreenSaver");

    // The maker has no web site: "Visit..." opens this program's README.
    const ScriptNode* url = root->Child("main_web_site_url");
    ASSERT_NE(url, nullptr);
    std::string address = url->value.Text();
    EXPECT_EQ(address.rfind("file:///", 0), 0u) << address;
    EXPECT_NE(address.find("README.md"), std::string::npos) << address;

    for (const char* key : {"download_dx9_url", "Loader_LD", "Loader_RD", "Loader_LU", "Loader_RU"}) {
        EXPECT_NE(root->Child(key), nullptr) << key;
    }
}

TEST(BuiltinMessages, EveryTextOfTheTitleAndTheDialogs) {
    auto root = ParseResource(229);
    struct Message {
        const char* key;
        const char* text;  // null: our own wording, only required to be present
    };
    const Message messages[] = {
        {"AppName", "Glintwold 3D Screensaver"},
        {"Mes_Settings_Title", "Glintwold 3D Screensaver Configuration"},
        {"Mes_About_Title", "About"},
        {"Mes_Error_CantInitD3D", "Cannot initialize D3D, please reinstall DX9"},
        {"Mes_Error_Title", "Error"},
        {"Mes_Button_OK", "OK"},
        {"Mes_Button_Cancel", "Cancel"},
        {"Mes_Settings_UseShaders", "Use Shaders (Disable on slower video cards)"},
        {"Mes_Settings_LessSnow", "Light snow"},
        {"Mes_Settings_NormalSnow", "Normal snow"},
        {"Mes_Settings_LotsSnow", "Heavy snow"},
        {"Mes_About_Quorrin", nullptr},
        {"Mes_About_Text", "Glintwold 3D Screensaver"},
        {"Mes_About_Copyright", nullptr},
        {"Mes_About_Programmer", nullptr},
        {"Mes_About_Designer", nullptr},
        {"Mes_Settings_UseDesktop", "Use Desktop Settings"},
        {"Mes_Settings_Box_Mode", "Video Mode"},
        {"Mes_Settings_Box_Sound", "Sound Control"},
        {"Mes_Settings_Box_Graphics", "Graphics"},
        {"Mes_Settings_Box_Products", "Products"},
        {"Mes_Settings_Box_Quality", "Quality"},
        {"Mes_Settings_Box_Misc", "Misc Options"},
        {"Mes_Settings_MusicVolume", "Volume"},
        {"Mes_Settings_EnableMusic", "Enable Music"},
        {"Mes_Settings_ExitOnMouse", "Exit on Mouse Move"},
        {"Mes_Settings_ShowFPS", "Show FPS"},
        {"Mes_Settings_Gamma", "Gamma Control:"},
        {"Mes_Settings_ShowTime", "Show Time"},
        {"Mes_Settings_24h", "24h format"},
        {"Mes_Settings_12h", "12h format"},
        {"Mes_Settings_Products", "Visit our official web-site for more great 3D screensavers"},
        {"Mes_Settings_Button_About", "About..."},
        {"Mes_Settings_Button_RestoreDefs", "Restore Defaults"},
        {"Mes_Settings_Button_Visit", "Visit..."},
        {"Mes_Settings_EnableSound", "Enable SFX"},
        {"Mes_NODX_Title", nullptr},
        {"Mes_NODX_Text", nullptr},
        {"Mes_NODX_Button_Download", nullptr},
    };
    for (const Message& m : messages) {
        const ScriptNode* node = root->Child(m.key);
        ASSERT_NE(node, nullptr) << m.key;
        EXPECT_EQ(node->kind, ScriptNode::kText) << m.key;
        EXPECT_GT(node->value.length(), 0) << m.key;
        if (m.text != nullptr) {
            EXPECT_STREQ(node->value.Text(), m.text) << m.key;
        }
    }
    // Credit lines name the maker, never persons.
    for (const char* key : {"Mes_About_Quorrin", "Mes_About_Copyright", "Mes_About_Programmer",
                            "Mes_About_Designer"}) {
        EXPECT_NE(std::string(root->Child(key)->value.Text()).find("Larchmere Studio"), std::string::npos)
            << key;
    }
}

}  // namespace
