// The registry file as the registry calls read it, from arbitrary bytes, and what they write
// back. The file lives in a scratch folder that is XDG_CONFIG_HOME for the whole run.
//
// Input: a byte giving the third value's type, 4 bytes of a REG_DWORD, a length byte and that
// many bytes of REG_SZ text (a terminator is added), a length byte and that many bytes of the
// third value, then the file's bytes. Besides what ASan and UBSan see, these abort:
// - the file written back for what was read does not read back the same, or has lines that do
//   not parse;
// - opening "Software\Fuzz" for reading and writing, setting the three values and closing does
//   not succeed, or a fresh open does not read back what was set;
// - a value of another key that the file held (when it was not damaged) is lost or changed by
//   that close.

#include <windows.h>

#include "fuzz/fuzz_input.h"
#include "platform/win32/registry_file.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using fuzz_input::Check;
using rh::win32::RegistryHive;
using rh::win32::RegistryParseReport;
using rh::win32::RegistryValue;

constexpr char kKey[] = "Software\\Fuzz";

std::string Query(HKEY key, const char* name, DWORD* type) {
    DWORD size = 0;
    Check(RegQueryValueExA(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS);
    std::string bytes(size, '\0');
    DWORD room = size;
    Check(RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(bytes.data()), &room) ==
          ERROR_SUCCESS);
    Check(room == size);
    return bytes;
}

bool SameValue(const RegistryValue& a, const RegistryValue& b) {
    return a.type == b.type && a.ApiBytes() == b.ApiBytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        setenv("XDG_CONFIG_HOME", fuzz_input::ScratchDir::Path().c_str(), 1);
        setenv("RIMEHOLT_LOG", "error", 1);
        return true;
    }();
    (void)quiet;

    fuzz_input::Reader in(data, size);
    const DWORD thirdType = in.Byte();
    const std::string dword = in.Bytes(4) + std::string(4, '\0');
    std::string text = in.Text();
    text += '\0';
    const std::string third = in.Text();
    const std::string file = in.Rest();

    // In memory: what is written for a hive reads back as the same hive.
    RegistryParseReport report;
    RegistryHive hive = RegistryHive::Parse(file, &report);
    const std::string written = hive.Serialize();
    if (written.size() <= rh::win32::kRegistryFileCap) {
        RegistryParseReport again;
        RegistryHive reread = RegistryHive::Parse(written, &again);
        Check(!again.damaged && again.skippedLines == 0);
        Check(reread.Serialize() == written);
    }

    // Through the calls, on disk.
    const std::filesystem::path folder = std::filesystem::path(fuzz_input::ScratchDir::Path()) / "rimeholt";
    std::error_code ignored;
    std::filesystem::remove(folder / "registry.bad", ignored);
    fuzz_input::ScratchDir::WriteFile("rimeholt/registry", file);

    HKEY key = nullptr;
    Check(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) ==
          ERROR_SUCCESS);
    DWORD type = 0;
    DWORD room = 0;
    RegQueryValueExA(key, "Dword", nullptr, &type, nullptr, &room);
    Check(RegSetValueExA(key, "Dword", 0, REG_DWORD, reinterpret_cast<const BYTE*>(dword.data()), 4) ==
          ERROR_SUCCESS);
    Check(RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                         static_cast<DWORD>(text.size())) == ERROR_SUCCESS);
    Check(RegSetValueExA(key, "Third", 0, thirdType, reinterpret_cast<const BYTE*>(third.data()),
                         static_cast<DWORD>(third.size())) == ERROR_SUCCESS);
    // A file near the cap may grow past it with the values: then nothing can be written.
    const bool roomy = written.size() + 2048 < rh::win32::kRegistryFileCap;
    LONG closed = RegCloseKey(key);
    Check(!roomy || closed == ERROR_SUCCESS);
    if (closed != ERROR_SUCCESS) return 0;

    Check(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr) ==
          ERROR_SUCCESS);
    Check(Query(key, "Dword", &type) == dword.substr(0, 4) && type == REG_DWORD);
    Check(Query(key, "Text", &type) == text && type == REG_SZ);
    Check(Query(key, "Third", &type) == third && type == thirdType);
    Check(RegCloseKey(key) == ERROR_SUCCESS);

    // Every other key's values are as the file had them.
    if (!report.damaged) {
        std::string now;
        {
            FILE* f = std::fopen((folder / "registry").c_str(), "rb");
            Check(f != nullptr);
            char buffer[65536];
            size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) now.append(buffer, n);
            std::fclose(f);
        }
        RegistryHive after = RegistryHive::Parse(now, nullptr);
        const std::string ours = rh::win32::FoldRegistryName(kKey);
        for (const rh::win32::RegistryKey& before : hive.keys()) {
            if (rh::win32::FoldRegistryName(before.path) == ours) continue;
            const rh::win32::RegistryKey* kept = after.Find(before.path);
            Check(kept != nullptr && kept->values.size() == before.values.size());
            for (size_t i = 0; i < before.values.size(); ++i) Check(SameValue(kept->values[i], before.values[i]));
        }
    }
    return 0;
}
