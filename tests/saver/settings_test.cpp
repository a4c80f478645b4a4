// The configuration's layers: the code's defaults, the settings script (built in, or a disk
// file in the working folder that replaces it whole) and the user's registry values, kept in
// the registry file under a private configuration folder.

#include "saver/saver_app.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class SaverSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.Enter();
        setenv("XDG_CONFIG_HOME", scratch_.Path("config").c_str(), 1);
        savedPath_ = g_registryPath;
    }
    void TearDown() override {
        g_registryPath = savedPath_;
        unsetenv("XDG_CONFIG_HOME");
    }
    void WriteRegistry(const std::string& key, const std::string& values) {
        scratch_.Write("config/rimeholt/registry", "REGEDIT4\n\n[HKEY_CURRENT_USER\\" + key + "]\n" + values);
    }
    std::string ReadRegistry() {
        std::ifstream in(scratch_.Path("config/rimeholt/registry"));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void LoadAll(SaverApp& app) {
        app.LoadConfig();
        app.LoadAppSettings();
        EXPECT_TRUE(app.LoadRegistrySettings());
    }

    rh::testing::ScratchDir scratch_{"rh_saver_settings"};
    String savedPath_;
};

constexpr float kByte = 0.003921569f;

TEST_F(SaverSettingsTest, BuiltInScriptOnly) {
    SaverApp app;
    LoadAll(app);
    EXPECT_NEAR(app.ambient.r, 225 * kByte, 1e-6f);
    EXPECT_NEAR(app.bgColor.b, 150 * kByte, 1e-6f);
    EXPECT_EQ(app.bgColor.a, 1.0f);
    EXPECT_TRUE(app.fogEnable);
    EXPECT_NEAR(app.fogColor.g, 120 * kByte, 1e-6f);
    EXPECT_EQ(app.nearPlane, 1.0f);
    EXPECT_EQ(app.farPlane, 5500.0f);
    EXPECT_EQ(app.fogStart, -500.0f);
    EXPECT_EQ(app.fogEnd, 3000.0f);
    EXPECT_FLOAT_EQ(app.fov, 75.0f * 0.0055555557f * 3.1415927f);
    EXPECT_EQ(app.camSpeed, 2.0f);
    ASSERT_EQ(app.remainingPaths().count(), 20);
    EXPECT_STREQ(app.remainingPaths().first()->element.Text(), "c01.cam");
    EXPECT_STREQ(app.remainingPaths().Current().Text(), "c20.cam") << "the cursor rests on the last name";
    EXPECT_STREQ(g_registryPath.Text(), "Software\\\\LARCHMERE Studio\\\\Glintwold 3D ScreenSaver");
    const SaverApp::Settings& s = app.settings();
    EXPECT_FALSE(s.exitOnMouseMove) << "the script's 0 over the code's 1";
    EXPECT_TRUE(s.useDesktop);
    EXPECT_FALSE(s.showFps);
    EXPECT_TRUE(s.showTime);
    EXPECT_FALSE(s.hours24);
    EXPECT_EQ(s.volume, 80);
    EXPECT_EQ(s.width, 800);
    EXPECT_EQ(s.depth, 32);
}

TEST_F(SaverSettingsTest, DiskScriptReplacesTheBuiltInOne) {
    scratch_.Write("CustomData/settings.txt", "Gamma = 7\n");
    SaverApp app;
    LoadAll(app);
    EXPECT_EQ(app.settings().gamma, 7);
    EXPECT_TRUE(app.settings().exitOnMouseMove) << "the code's default: the built-in 0 is not read";
    EXPECT_FALSE(app.fogEnable);
    EXPECT_FLOAT_EQ(app.fov, 1.0471976f);
    EXPECT_NEAR(app.bgColor.r, 100.0f / 255.0f, 1e-6f);
    EXPECT_EQ(app.remainingPaths().count(), 0);
    EXPECT_STREQ(g_registryPath.Text(), savedPath_.Text()) << "no RegPath: the path stays";
}

TEST_F(SaverSettingsTest, RegistryOverridesTheScript) {
    WriteRegistry("Software\\LARCHMERE Studio\\Glintwold 3D ScreenSaver",
                  "\"Gamma\"=dword:fffffffb\n"
                  "\"Width\"=hex:00,04,00,00\n"
                  "\"Height\"=hex:01,02,03,04,05,06,07,08\n"
                  "\"Volume\"=\"1\"\n"
                  "\"ExitOnMM\"=dword:00000001\n"
                  "\"TimeStyle\"=dword:00000002\n"
                  "\"Music\"=dword:00000000\n");
    SaverApp app;
    LoadAll(app);
    const SaverApp::Settings& s = app.settings();
    EXPECT_EQ(s.gamma, -5);
    EXPECT_EQ(s.width, 1024) << "four bytes of REG_BINARY read as a number";
    EXPECT_EQ(s.height, 600) << "an eight-byte value is ignored";
    EXPECT_EQ(s.volume, 49) << "the text \"1\": its byte, the rest of the buffer zero";
    EXPECT_TRUE(s.exitOnMouseMove);
    EXPECT_TRUE(s.hours24) << "any non-zero value is on";
    EXPECT_FALSE(s.music);
    EXPECT_EQ(s.depth, 32) << "absent: as the script set it";
}

TEST_F(SaverSettingsTest, SavedValuesReadBack) {
    {
        SaverApp app;
        LoadAll(app);
        SaverApp::Settings& s = app.settings();
        s.gamma = -50;
        s.width = 1280;
        s.hours24 = true;
        s.sound = false;
        s.exitOnMouseMove = true;
        ASSERT_TRUE(app.SaveRegistrySettings());
    }
    const std::string text = ReadRegistry();
    EXPECT_NE(text.find("\"Gamma\"=dword:ffffffce"), std::string::npos) << text;
    EXPECT_NE(text.find("\"TimeStyle\"=dword:00000001"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Sound\"=dword:00000000"), std::string::npos) << text;
    SaverApp again;
    LoadAll(again);
    EXPECT_EQ(again.settings().gamma, -50);
    EXPECT_EQ(again.settings().width, 1280);
    EXPECT_TRUE(again.settings().hours24);
    EXPECT_FALSE(again.settings().sound);
    EXPECT_TRUE(again.settings().exitOnMouseMove);
}

// Values no dialog would store are taken as they are, without range checks, and nothing
// breaks: short colour arrays leave the missing channels, long ones give their first three.
TEST_F(SaverSettingsTest, OddScriptValues) {
    scratch_.Write("CustomData/settings.txt",
                   "Fov = nan\nNearPlane = 0\nFarPlane = -3\nWidth = 0\nDepth = 7\nGamma = -1000\n"
                   "BgColor = array(10,20)\nAmbient = array(" +
                       [] {
                           std::string items;
                           for (int i = 0; i < 300; ++i) items += (i ? "," : "") + std::to_string(i % 256);
                           return items;
                       }() +
                       ")\nWidth = 12px\nCamSpeed = 3.5km\n");
    SaverApp app;
    LoadAll(app);
    EXPECT_TRUE(std::isnan(app.fov) || app.fov == 0.0f);
    EXPECT_EQ(app.nearPlane, 0.0f);
    EXPECT_EQ(app.farPlane, -3.0f);
    EXPECT_EQ(app.settings().width, 0) << "integers are all or nothing";
    EXPECT_EQ(app.settings().depth, 7);
    EXPECT_EQ(app.settings().gamma, -1000);
    EXPECT_EQ(app.camSpeed, 3.5f) << "numbers by their prefix";
    EXPECT_NEAR(app.bgColor.r, 10 * kByte, 1e-6f);
    EXPECT_NEAR(app.bgColor.g, 20 * kByte, 1e-6f);
    EXPECT_EQ(app.bgColor.b, 0.0f) << "the code's default blue stays";
    EXPECT_NEAR(app.ambient.b, 2 * kByte, 1e-6f);
}

TEST_F(SaverSettingsTest, MessagesFillTheControlMap) {
    SaverApp app;
    app.LoadMessages();
    EXPECT_STREQ(g_title.Text(), "Glintwold 3D Screensaver");
    const auto& map = app.controlMap();
    ASSERT_EQ(map.count(), 30);
    EXPECT_STREQ(String(map.first()->key).Text(), "Mes_Button_OK");
    EXPECT_EQ(map.first()->value, 1);
    EXPECT_STREQ(String(map.first()->prev->key).Text(), "Mes_Settings_Button_Visit") << "table order";
    EXPECT_EQ(map.first()->prev->value, 1061);
    int32_t id = 0;
    EXPECT_NE(map.Find(WideString("Mes_Settings_ShowFPS"), id), nullptr);
    EXPECT_EQ(id, 1044);
}

}  // namespace
