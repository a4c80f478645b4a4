// The saver's settings in the registry: loading them (open for reading, fifteen four-byte
// queries, close) and saving them (open for writing, fifteen sets, close, which merges into
// the file and replaces it with fsync and rename unless nothing changed), on a file of the saver's size in a folder
// under $TMPDIR (default /tmp); and the file's parse and write-out alone, in memory.

#include "platform/win32/registry_file.h"

#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr const char* kPath = "Software\\\\Larchmere Studio\\\\Rimeholt 3D Screensaver";
constexpr const char* kValues[] = {"UseShaders", "SnowQuality", "UseDesktop", "ShowFps", "Width",
                                   "Height",     "Depth",       "Adapter",    "Gamma",   "Volume",
                                   "Music",      "Sound",       "ExitOnMM",   "ShowTime", "TimeStyle"};

// A folder of its own as XDG_CONFIG_HOME, holding the saver's values.
class Store {
public:
    Store() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/rh-registry-bench-XXXXXX";
        folder_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
        setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
        Save();
    }
    ~Store() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    // first: the first value's value, which a save that must write changes each time.
    static bool Save(DWORD first = 1) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        DWORD value = first;
        for (const char* name : kValues) {
            RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
            value += 7;
        }
        return RegCloseKey(key) == ERROR_SUCCESS;
    }
    std::string File() const { return folder_ + "/rimeholt/registry"; }

private:
    std::string folder_;
};

void BM_LoadSettings(benchmark::State& state) {
    Store store;
    for (auto _ : state) {
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr);
        DWORD sum = 0;
        for (const char* name : kValues) {
            DWORD value = 0;
            DWORD size = sizeof value;
            if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS) {
                sum += value;
            }
        }
        RegCloseKey(key);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_LoadSettings)->Unit(benchmark::kMicrosecond);

// Every save changes a value, so every close replaces the file.
void BM_SaveSettings(benchmark::State& state) {
    Store store;
    DWORD first = 100;
    for (auto _ : state) {
        if (!Store::Save(++first)) state.SkipWithError("the registry could not be written");
    }
}
BENCHMARK(BM_SaveSettings)->Unit(benchmark::kMicrosecond);

// The settings dialog's OK without a change: the file is read and compared, not written.
void BM_SaveUnchangedSettings(benchmark::State& state) {
    Store store;
    for (auto _ : state) {
        if (!Store::Save()) state.SkipWithError("the registry could not be written");
    }
}
BENCHMARK(BM_SaveUnchangedSettings)->Unit(benchmark::kMicrosecond);

void BM_ParseAndWriteInMemory(benchmark::State& state) {
    Store store;
    std::string bytes;
    {
        FILE* f = std::fopen(store.File().c_str(), "rb");
        char buffer[4096];
        size_t n = 0;
        while (f != nullptr && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
        if (f != nullptr) std::fclose(f);
    }
    for (auto _ : state) {
        rh::win32::RegistryHive hive = rh::win32::RegistryHive::Parse(bytes, nullptr);
        std::string out = hive.Serialize();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ParseAndWriteInMemory)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
