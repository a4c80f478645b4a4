// Program entry: the mode from the command line, the DirectX version check and WinMain.

#include "platform/log/log_testing.h"
#include "platform/win32/dialogs_testing.h"
#include "platform/win32/win32_testing.h"
#include "saver/entry.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/version_block.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using rh::testing::VersionWord;

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (had_) {
            setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

private:
    std::string name_, old_;
    bool had_ = false;
};

// A scratch folder standing in for the system directory.
class SystemDir {
public:
    void Add(const char* name, uint32_t ms, uint32_t ls) {
        ASSERT_TRUE(rh::testing::WriteFileWithVersion(scratch_.Path(name), ms, ls));
    }
    void AddWithoutVersion(const char* name) { scratch_.Write(name, "MZ no version information here"); }
    const std::string& path() const { return scratch_.path(); }

private:
    rh::testing::ScratchDir scratch_{"rh_sysdir"};
};

TEST(ParseCommandLine, ModesAndNumbers) {
    struct Case {
        const char* line;
        SaverMode mode;
        LONG number;
    };
    const Case cases[] = {
        {"saver", SaverMode::Settings, 0},
        {"", SaverMode::Settings, 0},
        {"saver no switches here", SaverMode::Settings, 0},
        {"saver /s", SaverMode::FullScreen, 0},
        {"saver /S", SaverMode::FullScreen, 0},
        {"saver -x", SaverMode::FullScreen, 0},
        {"saver /", SaverMode::FullScreen, 0},
        {"saver /t", SaverMode::Test, 0},
        {"saver /T 99", SaverMode::Test, 0},
        {"saver /p 1234", SaverMode::Preview, 1234},
        {"saver /P:1234", SaverMode::Preview, 1234},
        {"saver -p1234", SaverMode::Preview, 1234},
        {"saver /p", SaverMode::Preview, 0},
        {"saver /c:5678", SaverMode::Settings, 5678},
        {"saver /c", SaverMode::Settings, 0},
        {"saver /a", SaverMode::Password, 0},
        {"saver /a 77", SaverMode::Password, 77},
        // The scan starts after the program name, quoted or up to the first blank.
        {"\"C:\\my-saver\\x/y.scr\" /p 5", SaverMode::Preview, 5},
        {"\"C:\\my-saver\\x.scr\"", SaverMode::Settings, 0},
        {"C:\\my-saver\\x.scr", SaverMode::Settings, 0},
        {"\"unterminated -quote /s", SaverMode::Settings, 0},
        {"saver text-with-dash /s", SaverMode::FullScreen, 0},
        // A 32-bit handle number saturates like the original runtime's atol.
        {"saver /p 99999999999", SaverMode::Preview, 2147483647},
        {"saver /p 4294967296", SaverMode::Preview, 2147483647},
    };
    for (const Case& c : cases) {
        rh::win32::SetCommandLine(c.line);
        LONG number = -1;
        EXPECT_EQ(ParseCommandLine(&number), c.mode) << c.line;
        EXPECT_EQ(number, c.number) << c.line;
    }
}

TEST(ParseCommandLine, AnyLengthIsFine) {
    std::string line = "saver " + std::string(100000, '/') + "p" + std::string(100000, 'x') + "42";
    rh::win32::SetCommandLine(line);
    LONG number = 0;
    EXPECT_EQ(ParseCommandLine(&number), SaverMode::FullScreen);  // "//": the letter after is '/'
    rh::win32::SetCommandLine("saver /p" + std::string(100000, ' ') + "42");
    EXPECT_EQ(ParseCommandLine(&number), SaverMode::Preview);
    EXPECT_EQ(number, 42);
}

TEST(DirectXVersion, FromTheDiagnosticProvider) {
    struct Case {
        const char* forced;
        DWORD packed;
        const char* text;
    };
    const Case cases[] = {
        {"9.0c", 0x90003, "9.0c"},
        {"9.0", 0x90000, "9.0"},
        {"8.1b", (((8u * 256) + 1) << 8) + 2, "8.1b"},
        {"9.0C", 0x90003, "9.0c"},
    };
    for (const Case& c : cases) {
        ScopedEnv env("RIMEHOLT_DXDIAG_VERSION", c.forced);
        DWORD packed = 1;
        char text[10] = "junk";
        ASSERT_EQ(GetDirectXVersion(&packed, text, sizeof text), S_OK) << c.forced;
        EXPECT_EQ(packed, c.packed) << c.forced;
        EXPECT_STREQ(text, c.text) << c.forced;
        EXPECT_EQ(GetDirectXVersion(nullptr, nullptr, 0), S_OK);
    }
}

TEST(DirectXVersion, TextIsCutToTheBufferAndAlwaysTerminated) {
    ScopedEnv env("RIMEHOLT_DXDIAG_VERSION", "9.0c");
    char text[3] = {'x', 'x', 'x'};
    DWORD packed = 0;
    ASSERT_EQ(GetDirectXVersion(&packed, text, sizeof text), S_OK);
    EXPECT_STREQ(text, "9.");
    char one[1] = {'x'};
    ASSERT_EQ(GetDirectXVersion(&packed, one, 1), S_OK);
    EXPECT_EQ(one[0], '\0');
    char untouched[2] = {'x', 'x'};
    ASSERT_EQ(GetDirectXVersion(&packed, untouched, 0), S_OK);
    EXPECT_EQ(untouched[0], 'x');
}

TEST(DirectXVersion, FromTheSystemFilesWhenTheProviderFails) {
    struct File {
        const char* name;
        uint32_t ms, ls;
    };
    struct Case {
        const char* what;
        std::vector<File> files;
        HRESULT result;
        const char* text;
        DWORD packed;
    };
    const Case cases[] = {
        {"no files: no version found", {}, E_FAIL, "", 0},
        {"a readable d3d9.dll is 9.0", {{"d3d9.dll", VersionWord(1, 0), VersionWord(0, 0)}}, S_OK, "9.0", 0x90000},
        {"DirectX 7.0a",
         {{"ddraw.dll", VersionWord(4, 7), VersionWord(0, 700)}, {"dinput.dll", VersionWord(4, 7), VersionWord(0, 716)}},
         S_OK, "7.0a", 0x70001},
        {"ddraw below its first row passes nothing", {{"ddraw.dll", VersionWord(4, 2), VersionWord(0, 94)}}, E_FAIL, "", 0},
        {"5.x ddraw counts as 8.0 only by its own row",
         {{"ddraw.dll", VersionWord(5, 1), VersionWord(2258, 400)}}, S_OK, "8.0", 0x80000},
        {"8.1b stays below the threshold",
         {{"ddraw.dll", VersionWord(5, 1), VersionWord(2258, 400)},
          {"d3d8.dll", VersionWord(5, 1), VersionWord(2600, 901)},
          {"mpg2splt.ax", VersionWord(6, 3), VersionWord(1, 885)}},
         S_OK, "8.1b", 0x80102},
        {"later rows overwrite: d3d9 after dpnet",
         {{"dpnet.dll", VersionWord(4, 9), VersionWord(0, 134)}, {"d3d9.dll", VersionWord(5, 3), VersionWord(0, 1)}},
         S_OK, "9.0", 0x90000},
        {"a 4.x d3d8 row does not apply to a 5.x file",
         {{"d3d8.dll", VersionWord(5, 0), VersionWord(0, 0)}}, E_FAIL, "", 0},
    };
    ScopedEnv noProvider("RIMEHOLT_DXDIAG_VERSION", "none");
    for (const Case& c : cases) {
        SystemDir dir;
        for (const File& f : c.files) dir.Add(f.name, f.ms, f.ls);
        dir.AddWithoutVersion("dxdiagn.dll");
        ScopedEnv system("RIMEHOLT_SYSTEM_DIR", dir.path().c_str());
        DWORD packed = 123;
        char text[10] = "junk";
        EXPECT_EQ(GetDirectXVersion(&packed, text, sizeof text), c.result) << c.what;
        EXPECT_STREQ(text, c.text) << c.what;
        EXPECT_EQ(packed, c.packed) << c.what;
    }
}

TEST(FileVersion, ReadsTheFixedVersionOrFails) {
    SystemDir dir;
    dir.Add("with.dll", VersionWord(5, 1), VersionWord(2600, 881));
    dir.AddWithoutVersion("without.dll");
    ULONGLONG version = 7;
    EXPECT_EQ(GetFileVersion((dir.path() + "/with.dll").c_str(), &version), S_OK);
    EXPECT_EQ(version, (ULONGLONG(VersionWord(5, 1)) << 32) | VersionWord(2600, 881));

    version = 7;
    EXPECT_EQ(GetFileVersion((dir.path() + "/without.dll").c_str(), &version), E_FAIL);
    EXPECT_EQ(GetFileVersion((dir.path() + "/missing.dll").c_str(), &version), E_FAIL);
    EXPECT_EQ(version, 7u);
    EXPECT_EQ(GetFileVersion(nullptr, &version), E_INVALIDARG);
    EXPECT_EQ(GetFileVersion("x", nullptr), E_INVALIDARG);
}

// Each mode runs to its end; at trace level the run tells the version found and the mode chosen.
// The modes that end by themselves: the settings dialog (Cancel pressed as soon as it shows),
// the password switch, which has no window to show, and a preview without a host window to
// show in. Full screen, the test mode and a hosted preview run until their host ends them; the
// program's process tests show that.
TEST(WinMain, ModesThatEndByThemselvesClearTheScreensaverFlag) {
    struct Row {
        const char* line;
        const char* traced;
        int result;
    };
    const Row rows[] = {
        {"saver /c", "Mode: settings (number 0)", 1},
        {"saver /a", "Mode: password (number 0)", 0},
        {"saver", "Mode: settings (number 0)", 1},
        {"saver /p", "Mode: preview (number 0)", 0},
        {"saver /p 1234", "Mode: preview (number 1234)", 0},
    };
    int dialogsShown = 0;
    rh::win32::SetDialogShownHook([&](HWND dialog, int) {
        ++dialogsShown;
        EndDialog(dialog, IDCANCEL);
    });
    ScopedEnv env("RIMEHOLT_DXDIAG_VERSION", "9.0c");
    rh::testing::ScratchDir config("rh_entry_config");
    ScopedEnv configHome("XDG_CONFIG_HOME", config.path().c_str());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        rh::testing::LogCapture capture(rh::LogLevel::Trace);
        rh::win32::SetCommandLine(row.line);
        EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL), row.result);
        EXPECT_FALSE(rh::win32::ScreensaverRunningFlag());
        EXPECT_EQ(capture.texts(), (std::vector<std::string>{"DirectX version 9.0c", row.traced}));
    }
    rh::win32::SetDialogShownHook(nullptr);
    EXPECT_EQ(dialogsShown, 2) << "the settings dialog showed for /c and for no switch";
}

}  // namespace
