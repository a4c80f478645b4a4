// Conformance of the registry calls (what the saver's settings rely on) and of their file:
// where it lives, its layout, what survives damage and concurrent writers.

#include <windows.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr char kPath[] = "Software\\Larchmere Studio\\Rimeholt 3D Screensaver";

// A scratch folder as XDG_CONFIG_HOME for each test; the environment is put back afterwards.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        Save("XDG_CONFIG_HOME", &savedXdg_);
        Save("HOME", &savedHome_);
        std::string pattern = (fs::temp_directory_path() / "rh-registry-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    }

    void TearDown() override {
        Restore("XDG_CONFIG_HOME", savedXdg_);
        Restore("HOME", savedHome_);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    static void Save(const char* name, std::optional<std::string>* saved) {
        const char* v = std::getenv(name);
        if (v != nullptr) *saved = v;
    }
    static void Restore(const char* name, const std::optional<std::string>& saved) {
        if (saved) {
            setenv(name, saved->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }

    fs::path File() const { return fs::path(root_) / "rimeholt" / "registry"; }

    void WriteFile(const std::string& bytes, const fs::path& at = {}) const {
        fs::path path = at.empty() ? File() : at;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    static std::string ReadFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static HKEY Open(const char* path, REGSAM access, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, access, nullptr, &key, disposition),
                  ERROR_SUCCESS)
            << path;
        return key;
    }

    static void SetDword(HKEY key, const char* name, DWORD value) {
        EXPECT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
                  ERROR_SUCCESS)
            << name;
    }

    // The value's bytes and type, read as the saver reads them; nullopt when it is absent.
    static std::optional<std::string> Query(HKEY key, const char* name, DWORD* type = nullptr) {
        DWORD size = 0;
        if (RegQueryValueExA(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
        std::string bytes(size, '\0');
        EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(bytes.data()), &size),
                  ERROR_SUCCESS);
        return bytes;
    }

    // Opens the saver's key for reading, reads one value, closes.
    std::optional<std::string> ReadBack(const char* name, const char* path = kPath) {
        HKEY key = Open(path, KEY_READ);
        std::optional<std::string> bytes = Query(key, name);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        return bytes;
    }

    static std::string Dword(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

    std::string root_;
    std::optional<std::string> savedXdg_, savedHome_;
};

TEST_F(RegistryTest, AMissingKeyIsCreatedEvenForReadingInAPrivateFile) {
    DWORD disposition = 0;
    HKEY key = Open(kPath, KEY_READ, &disposition);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
    EXPECT_EQ(Query(key, "Width"), std::nullopt);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    key = Open(kPath, KEY_READ, &disposition);
    EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    // Its ancestors exist too.
    key = Open("Software\\Larchmere Studio", KEY_READ, &disposition);
    EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    struct stat folder{}, file{};
    ASSERT_EQ(stat(File().parent_path().c_str(), &folder), 0);
    ASSERT_EQ(stat(File().c_str(), &file), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadFile(File()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Larchmere Studio\\Rimeholt 3D Screensaver]\n\n");
}

TEST_F(RegistryTest, AccessDecidesWhatAHandleMayDo) {
    HKEY writer = Open(kPath, KEY_WRITE);
    SetDword(writer, "Width", 1024);
    DWORD size = 4;
    DWORD value = 0;
    EXPECT_EQ(RegQueryValueExA(writer, "Width", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_ACCESS_DENIED)
        << "KEY_WRITE has no KEY_QUERY_VALUE";
    EXPECT_EQ(RegCloseKey(writer), ERROR_SUCCESS);

    HKEY reader = Open(kPath, KEY_READ);
    value = 7;
    EXPECT_EQ(RegSetValueExA(reader, "Width", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(Query(reader, "Width"), Dword(1024)) << "the refused set changed nothing";
    EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);
    EXPECT_EQ(ReadBack("Width"), Dword(1024));
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirCaseAndEmptyPathNamesAreDropped) {
    HKEY key = Open("Software\\Larchmere Studio\\Rimeholt 3D Screensaver", KEY_WRITE);
    SetDword(key, "ExitOnMM", 1);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // The built-in settings' path has doubled backslashes; others may lead or trail.
    for (const char* path : {"Software\\\\Larchmere Studio\\\\Rimeholt 3D Screensaver",
                             "\\SOFTWARE\\larchmere studio\\RIMEHOLT 3d screensaver\\", "software\\\\\\LARCHMERE Studio\\Rimeholt 3D ScreenSaver"}) {
        DWORD disposition = 0;
        key = Open(path, KEY_READ | KEY_WRITE, &disposition);
        EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY}) << path;
        EXPECT_EQ(Query(key, "exitonmm"), Dword(1)) << path;
        SetDword(key, "EXITONMM", 1);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
    EXPECT_EQ(ReadFile(File()),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Larchmere Studio\\Rimeholt 3D Screensaver]\n"
              "\"ExitOnMM\"=dword:00000001\n\n");
}

TEST_F(RegistryTest, QueriesAnswerSizesAndTypesAsStored) {
    HKEY key = Open(kPath, KEY_WRITE);
    SetDword(key, "Width", 0x1E);
    EXPECT_EQ(RegSetValueExA(key, "Flag", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_SUCCESS);
    const BYTE four[] = {0x20, 0x03, 0, 0};
    EXPECT_EQ(RegSetValueExA(key, "Packed", 0, REG_BINARY, four, 4), ERROR_SUCCESS);
    const BYTE eight[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(RegSetValueExA(key, "Wide", 0, REG_BINARY, eight, 8), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    key = Open(kPath, KEY_READ);
    struct Case {
        const char* name;
        DWORD type;
        std::string bytes;
    };
    const Case cases[] = {
        {"Width", REG_DWORD, Dword(30)},
        {"Flag", REG_SZ, std::string("1\0", 2)},  // the size counts the terminator
        {"Packed", REG_BINARY, Dword(800)},      // the type is reported, never checked
        {"Wide", REG_BINARY, std::string("\1\2\3\4\5\6\7\10", 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DWORD size = static_cast<DWORD>(c.bytes.size());
        DWORD type = 0xBAD;
        DWORD answered = 0;
        EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, nullptr, &answered), ERROR_SUCCESS) << "null data";
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(answered, size);

        // What the saver does: a four-byte buffer, whatever the value is.
        BYTE buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), BYTE{0xCC});
        answered = 4;
        LONG result = RegQueryValueExA(key, c.name, nullptr, nullptr, buffer, &answered);
        EXPECT_EQ(answered, size);
        if (size <= 4) {
            EXPECT_EQ(result, ERROR_SUCCESS);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), c.bytes);
            EXPECT_EQ(buffer[size], 0xCC) << "nothing written past the value";
        } else {
            EXPECT_EQ(result, ERROR_MORE_DATA);
        }
        answered = sizeof buffer;
        EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, nullptr, buffer, &answered), ERROR_SUCCESS);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), answered), c.bytes);
    }

    // An absent value leaves every output as it was.
    DWORD type = 0xBAD;
    DWORD size = 4;
    DWORD value = 0x5A5A5A5A;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, 0xBADu);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(value, 0x5A5A5A5Au);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, BadHandlesAndArgumentsAreRefused) {
    HKEY foreign = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    DWORD size = 4;
    BYTE data[4] = {};
    EXPECT_EQ(RegQueryValueExA(foreign, "Width", nullptr, nullptr, data, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExA(foreign, "Width", 0, REG_DWORD, data, 4), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(foreign), ERROR_INVALID_HANDLE);
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(foreign, "A", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "A", 0, nullptr, 0, KEY_READ, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, std::string(256, 'x').c_str(), 0, nullptr, 0, KEY_READ, nullptr,
                              &key, nullptr),
              ERROR_INVALID_PARAMETER)
        << "a key name over 255 characters";

    key = Open(kPath, KEY_READ | KEY_WRITE);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Width", &reserved, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(key, "Width", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "Width", 0, REG_DWORD, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "closed twice";
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST_F(RegistryTest, TheFileIsTheEditorsExportLayoutInUtf8) {
    HKEY key = Open(kPath, KEY_WRITE);
    SetDword(key, "Gamma", static_cast<DWORD>(-100));
    const char title[] = "Say \"caf\xE9\" C:\\";  // code-page byte 0xE9 is U+00E9
    EXPECT_EQ(RegSetValueExA(key, "Title", 0, REG_SZ, reinterpret_cast<const BYTE*>(title), sizeof title),
              ERROR_SUCCESS);
    const BYTE blob[] = {0x01, 0x02, 0xFF};
    EXPECT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, 3), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(File()),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Larchmere Studio\\Rimeholt 3D Screensaver]\n"
              "\"Gamma\"=dword:ffffff9c\n"
              "\"Title\"=\"Say \\\"caf\xC3\xA9\\\" C:\\\\\"\n"
              "\"Blob\"=hex:01,02,ff\n"
              "@=\"\"\n\n");
    EXPECT_EQ(ReadBack("Title"), std::string(title, sizeof title));
}

TEST_F(RegistryTest, ValuesTheTextFormCannotCarryRoundTripAsHex) {
    struct Case {
        const char* what;
        const char* name;
        DWORD type;
        std::string bytes;
    };
    const Case cases[] = {
        {"text with a line break", "Lines", REG_SZ, std::string("a\nb\0", 4)},
        {"text without a terminator", "Open", REG_SZ, "abc"},
        {"text with an inner terminator", "Two", REG_SZ, std::string("a\0b\0", 4)},
        {"a short dword", "Short", REG_DWORD, "\1\2"},
        {"another type", "Multi", 7, std::string("a\0\0", 3)},
        {"empty binary", "Empty", REG_BINARY, ""},
        {"a name with quotes and a backslash", "say \"x\\y\"", REG_DWORD, Dword(5)},
        {"a code-page name", "caf\xE9", REG_DWORD, Dword(6)},
    };
    HKEY key = Open(kPath, KEY_WRITE);
    for (const Case& c : cases) {
        EXPECT_EQ(RegSetValueExA(key, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.bytes.data()),
                                 static_cast<DWORD>(c.bytes.size())),
                  ERROR_SUCCESS)
            << c.what;
    }
    EXPECT_EQ(RegSetValueExA(key, "two\nlines", 0, REG_DWORD, reinterpret_cast<const BYTE*>("1234"), 4),
              ERROR_INVALID_PARAMETER)
        << "a name the file cannot carry";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    key = Open(kPath, KEY_READ);
    for (const Case& c : cases) {
        DWORD type = 0;
        EXPECT_EQ(Query(key, c.name, &type), c.bytes) << c.what;
        EXPECT_EQ(type, c.type) << c.what;
    }
    EXPECT_EQ(Query(key, "CAF\xC9"), Dword(6)) << "code-page letters compare without case too";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, AHandWrittenFileIsReadAndWhatDoesNotParseIsLeftOut) {
    WriteFile(
        "\xEF\xBB\xBFREGEDIT4\r\n\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\Software\\\\Larchmere Studio\\Rimeholt 3D Screensaver]\r\n"
        "\"Width\"=dword:00000400\r\n"
        "\"Depth\" = dword:10\r\n"
        "\"Broken\"=dword:xyz\r\n"
        "\"Name\"=\"caf\xC3\xA9 \xE2\x82\xAC\"\r\n"
        "\"Wrapped\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "@=\"default\"\r\n"
        "not a value line\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
        "\"Height\"=dword:00000300\r\n"
        "[HKEY_CURRENT_USER\\Software\\Larchmere Studio\\Rimeholt 3D Screensaver]\r\n"
        "\"Music\"=dword:00000000\r\n");
    ::testing::internal::CaptureStderr();
    HKEY key = Open(kPath, KEY_READ);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Query(key, "Width"), Dword(1024));
    EXPECT_EQ(Query(key, "Depth"), Dword(16));
    EXPECT_EQ(Query(key, "Broken"), std::nullopt);
    EXPECT_EQ(Query(key, "Name"), std::string("caf\xE9 ?\0", 7)) << "UTF-8 in, code page out";
    EXPECT_EQ(Query(key, "Wrapped"), std::string("\1\2\3\4"));
    EXPECT_EQ(Query(key, nullptr), std::string("default\0", 8));
    EXPECT_EQ(Query(key, "Height"), std::nullopt) << "another root's values are not ours";
    EXPECT_EQ(Query(key, "Music"), Dword(0)) << "a section met twice adds to the key";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    // One line says what was left out.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("4 line(s)"), std::string::npos) << log;
}

TEST_F(RegistryTest, ADamagedFileReadsAsAbsentAndIsKeptBeforeItIsReplaced) {
    const std::string cases[] = {
        "not a registry file\n\"Width\"=dword:00000400\n",
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"Width\"=dword:00000400\n" + std::string(2, '\0'),
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"Width\"=dword:00000400\n" + std::string(2u << 20, ';'),
    };
    for (const std::string& damaged : cases) {
        SCOPED_TRACE(damaged.substr(0, 20));
        fs::remove(File().parent_path() / "registry.bad");
        WriteFile(damaged);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(ReadBack("Width", "A"), std::nullopt);
        // Opening made the key, which replaced the file; the damaged one was kept first.
        EXPECT_EQ(ReadFile(File().parent_path() / "registry.bad"), damaged);
        HKEY key = Open("A", KEY_WRITE);
        SetDword(key, "Height", 600);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(ReadBack("Height", "A"), Dword(600));

        // The next write replaces a sound file: the kept one stays as it was.
        key = Open("A", KEY_WRITE);
        SetDword(key, "Height", 480);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(ReadFile(File().parent_path() / "registry.bad"), damaged);
    }
}

TEST_F(RegistryTest, EachOpenReadsTheFileAndEachCloseMergesWithIt) {
    HKEY first = Open(kPath, KEY_READ | KEY_WRITE);
    SetDword(first, "Width", 1024);

    // Meanwhile another handle (or program) writes, and a user edits the file by hand.
    HKEY second = Open(kPath, KEY_WRITE);
    SetDword(second, "Height", 768);
    SetDword(second, "Width", 640);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
    std::string file = ReadFile(File());
    file += "[HKEY_CURRENT_USER\\Software\\Other]\n\"Edited\"=dword:00000001\n";
    WriteFile(file);
    EXPECT_EQ(ReadBack("Edited", "Software\\Other"), Dword(1)) << "a new open reads the file as it is now";

    EXPECT_EQ(Query(first, "Width"), Dword(1024)) << "a handle sees its own changes";
    EXPECT_EQ(Query(first, "Height"), std::nullopt) << "and the file as it was when it opened";
    EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);

    EXPECT_EQ(ReadBack("Width"), Dword(1024)) << "the last close wins for a value both set";
    EXPECT_EQ(ReadBack("Height"), Dword(768));
    EXPECT_EQ(ReadBack("Edited", "Software\\Other"), Dword(1));
    for (const auto& entry : fs::directory_iterator(File().parent_path())) {
        EXPECT_EQ(entry.path().filename(), "registry") << "no temporary file is left behind";
    }
}

TEST_F(RegistryTest, SavingTheSameValuesLeavesTheFileAlone) {
    HKEY key = Open(kPath, KEY_WRITE);
    SetDword(key, "Width", 800);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    struct stat before{}, after{};
    ASSERT_EQ(stat(File().c_str(), &before), 0);
    key = Open(kPath, KEY_WRITE);
    SetDword(key, "WIDTH", 800);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_EQ(stat(File().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "not replaced";
    key = Open(kPath, KEY_WRITE);
    SetDword(key, "Width", 1024);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_EQ(stat(File().c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "a change replaces it";
    EXPECT_EQ(ReadBack("Width"), Dword(1024));
}

TEST_F(RegistryTest, TheFileFollowsXdgConfigHomeOrHome) {
    setenv("HOME", root_.c_str(), 1);
    for (const char* xdg : {"relative/config", ""}) {
        setenv("XDG_CONFIG_HOME", xdg, 1);
        HKEY key = Open(kPath, KEY_WRITE);
        SetDword(key, "Width", 1);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_TRUE(fs::exists(fs::path(root_) / ".config" / "rimeholt" / "registry")) << "XDG_CONFIG_HOME=" << xdg;
        EXPECT_FALSE(fs::exists("relative"));
    }
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ReadBack("Width"), Dword(1));
}

TEST_F(RegistryTest, AFolderThatCannotBeWrittenRefusesToCreateOrWrite) {
    WriteFile("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Present]\n\"Width\"=dword:00000001\n");
    // A folder below a plain file can be neither made nor written, whoever runs the test.
    std::string blocked = root_ + "/plain";
    WriteFile("", blocked);
    setenv("XDG_CONFIG_HOME", (blocked + "/config").c_str(), 1);
    HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x77));
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);

    // An existing key can still be read where its file is; writing it fails at the close.
    setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    key = Open("Software\\Present", KEY_READ | KEY_WRITE);
    SetDword(key, "Width", 2);
    std::string folder = File().parent_path().string();
    fs::rename(folder, root_ + "/moved");
    WriteFile("", folder);  // the folder is now a plain file
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RegCloseKey(key), ERROR_ACCESS_DENIED);
    ::testing::internal::GetCapturedStderr();
}

}  // namespace
