#include "saver/music.h"

#include "core/types/byte_buffer.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kLibraryResourceId = 123;
constexpr const char* kLibraryResourceType = "BASS";
constexpr DWORD kFrequency = 44100;
constexpr DWORD kMaxPlaybacks = 20;

SoundLibrary g_library;
int g_lastVolume = -1;

void ForgetLibrary() {
    const SoundLibrary empty;
    g_library = empty;
}

void DeleteTempFile() {
    if (g_library.tempFileName[0] != '\0') DeleteFileA(g_library.tempFileName);
    g_library.tempFileName[0] = '\0';
}

// The library's file holds executable code: it must not outlive the process, also when the
// program ends on a way that skips UnloadSoundLibrary.
void RemoveLeftoverFile() {
    if (g_library.tempFileName[0] != '\0') DeleteFileA(g_library.tempFileName);
}

template <typename Function>
bool Bind(const char* name, Function* out) {
    *out = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(g_library.module, name)));
    return *out != nullptr;
}

bool WriteImage(const char* name, const void* image, DWORD size) {
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, image, size, &written, nullptr) && written == size;
    return CloseHandle(file) && ok;
}

}  // namespace

const SoundLibrary& TheSoundLibrary() { return g_library; }

void LoadSoundLibrary() {
    if (g_library.module != nullptr) return;
    g_lastVolume = -1;
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(kLibraryResourceId), kLibraryResourceType);
    if (resource == nullptr) return;
    const DWORD size = SizeofResource(nullptr, resource);
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* image = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (image == nullptr || size == 0) return;

    char folder[MAX_PATH];
    const DWORD folderLength = GetTempPathA(MAX_PATH, folder);
    if (folderLength == 0 || folderLength >= MAX_PATH) return;
    if (GetTempFileNameA(folder, "bas", 0, g_library.tempFileName) == 0) {
        g_library.tempFileName[0] = '\0';
        return;
    }
    static const bool registered = std::atexit(RemoveLeftoverFile) == 0;
    (void)registered;

    if (WriteImage(g_library.tempFileName, image, size)) g_library.module = LoadLibraryA(g_library.tempFileName);
    if (g_library.module != nullptr && Bind("BASS_Init", &g_library.Init) &&
        Bind("BASS_Set3DFactors", &g_library.Set3DFactors) && Bind("BASS_Apply3D", &g_library.Apply3D) &&
        Bind("BASS_SetConfig", &g_library.SetConfig) && Bind("BASS_SampleLoad", &g_library.SampleLoad) &&
        Bind("BASS_SampleGetChannel", &g_library.SampleGetChannel) &&
        Bind("BASS_ChannelPlay", &g_library.ChannelPlay)) {
        return;
    }
    if (g_library.module != nullptr) FreeLibrary(g_library.module);
    DeleteTempFile();
    ForgetLibrary();
}

void StartSound(HWND window) {
    if (g_library.module == nullptr) return;
    if (!g_library.Init(1, kFrequency, BASS_DEVICE_3D, window, nullptr)) {
        g_library.Init(0, kFrequency, 0, window, nullptr);
    }
    g_library.Set3DFactors(-1.0f, 0.1f, -1.0f);
    g_library.Apply3D();
    g_library.SetConfig(BASS_CONFIG_GVOL_SAMPLE, 0);
    g_lastVolume = 0;
}

int LoadMusic(FileRef file, DWORD flags) {
    if (g_library.module == nullptr) return 0;
    ByteBuffer bytes;
    if (!file.ReadWholeFile(bytes)) return 0;
    return static_cast<int>(g_library.SampleLoad(TRUE, bytes.Data(), 0, static_cast<DWORD>(bytes.Size()),
                                                 kMaxPlaybacks, flags));
}

void PlayMusic(int sample) {
    if (g_library.module == nullptr || sample == 0) return;
    g_library.ChannelPlay(g_library.SampleGetChannel(static_cast<HSAMPLE>(sample), TRUE), TRUE);
}

void SetMusicVolume(int volume) {
    if (g_library.module == nullptr) return;
    g_library.SetConfig(BASS_CONFIG_GVOL_SAMPLE, static_cast<DWORD>(volume));
    g_lastVolume = volume;
}

int LastMusicVolume() { return g_lastVolume; }

int MusicFadeVolume(int volume, DWORD elapsedMs) {
    double f = static_cast<double>(elapsedMs) * 0.00025;
    if (f > 1.0) f = 1.0;
    return static_cast<int>(volume * f);
}

void UnloadSoundLibrary() {
    if (g_library.module == nullptr) return;
    FreeLibrary(g_library.module);
    DeleteTempFile();
    ForgetLibrary();
}

void ShutdownMusic(SaverMode mode, int volume, bool music) {
    if ((mode == SaverMode::FullScreen || mode == SaverMode::Test) && volume != 0 && music) SetMusicVolume(0);
    UnloadSoundLibrary();
}
