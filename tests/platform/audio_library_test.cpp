// The audio library as the program uses it: taken from the program's own resource table,
// written to a temporary file, loaded from there and bound by name; device 1 plays into SDL's
// disk driver, whose file is compared with libvorbisfile's own decode; device 0 is silent and
// accepts everything; unloading stops and forgets everything.

#include "tests/support/ogg_vorbis.h"
#include "tests/support/scratch_dir.h"

#include <bass.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The seven entry points, bound by name as the program binds them.
struct SoundLibrary {
    HMODULE module = nullptr;
    std::string file;
    BASS_Init_Function Init = nullptr;
    BASS_Set3DFactors_Function Set3DFactors = nullptr;
    BASS_Apply3D_Function Apply3D = nullptr;
    BASS_SetConfig_Function SetConfig = nullptr;
    BASS_SampleLoad_Function SampleLoad = nullptr;
    BASS_SampleGetChannel_Function SampleGetChannel = nullptr;
    BASS_ChannelPlay_Function ChannelPlay = nullptr;
};

template <typename Function>
void Bind(HMODULE module, const char* name, Function* out) {
    *out = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    EXPECT_NE(*out, nullptr) << name;
}

class AudioLibrary : public testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("TMPDIR")) oldTmp_ = old;
        setenv("TMPDIR", scratch_.path().c_str(), 1);
    }
    void TearDown() override {
        if (library_.module != nullptr) Unload();
        if (oldTmp_.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", oldTmp_.c_str(), 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }

    // The library's way from the resource to a loaded module.
    void Load() {
        HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(123), "BASS");
        ASSERT_NE(resource, nullptr);
        const DWORD size = SizeofResource(nullptr, resource);
        const void* image = LockResource(LoadResource(nullptr, resource));
        ASSERT_NE(image, nullptr);
        char folder[MAX_PATH];
        ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
        char name[MAX_PATH];
        ASSERT_NE(GetTempFileNameA(folder, "bas", 0, name), 0u);
        HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, image, size, &written, nullptr));
        ASSERT_TRUE(CloseHandle(file));
        library_.file = name;
        library_.module = LoadLibraryA(name);
        ASSERT_NE(library_.module, nullptr) << dlerror();
        Bind(library_.module, "BASS_Init", &library_.Init);
        Bind(library_.module, "BASS_Set3DFactors", &library_.Set3DFactors);
        Bind(library_.module, "BASS_Apply3D", &library_.Apply3D);
        Bind(library_.module, "BASS_SetConfig", &library_.SetConfig);
        Bind(library_.module, "BASS_SampleLoad", &library_.SampleLoad);
        Bind(library_.module, "BASS_SampleGetChannel", &library_.SampleGetChannel);
        Bind(library_.module, "BASS_ChannelPlay", &library_.ChannelPlay);
    }

    // FreeLibrary without any call of the library first: it must leave the process, and its
    // file can go.
    void Unload() {
        EXPECT_TRUE(FreeLibrary(library_.module));
        library_.module = nullptr;
        EXPECT_EQ(dlopen(library_.file.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "still mapped after unloading";
        EXPECT_TRUE(DeleteFileA(library_.file.c_str()));
    }

    rh::testing::ScratchDir scratch_{"rh_audio"};
    std::string oldTmp_;
    SoundLibrary library_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Tone {
    std::string file;
    rh::testing::Decoded reference;
};

const Tone& TheTone() {
    static const Tone tone = [] {
        Tone t;
        t.file = rh::testing::EncodeOggVorbis(rh::testing::ToneFrames(44100, 2, 22050, 330.0), 44100, 2);
        rh::testing::ScratchDir scratch("rh_ogg");
        t.reference = rh::testing::DecodeOggFile(scratch.Write("tone.ogg", t.file));
        return t;
    }();
    return tone;
}

// Where `expected` begins in `out` (both interleaved stereo): the first frame from which the
// next 2000 frames agree to 1; npos when none does.
size_t FindStart(const std::vector<int16_t>& out, const std::vector<double>& expected) {
    const size_t span = 2000 * 2;
    for (size_t at = 0; at + span <= out.size(); at += 2) {
        size_t i = 0;
        while (i < span && std::abs(out[at + i] - expected[i]) <= 1.0) ++i;
        if (i == span) return at;
    }
    return std::string::npos;
}

// The captured output is libvorbisfile's decode x volume / 100 (to 16-bit rounding), round and
// round the loop, until the unload cuts it off.
TEST_F(AudioLibrary, PlaysALoopIntoTheDeviceAtTheSampleVolume) {
    const Tone& tone = TheTone();
    for (int volume : {100, 50, 0}) {
        SCOPED_TRACE(volume);
        const std::string capture = scratch_.Path("output" + std::to_string(volume) + ".raw");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
        Load();
        struct stat st;
        ASSERT_EQ(stat(library_.file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        ASSERT_TRUE(library_.Init(1, 44100, BASS_DEVICE_3D, nullptr, nullptr));
        EXPECT_TRUE(library_.Set3DFactors(-1.0f, 0.1f, -1.0f));
        library_.Apply3D();
        EXPECT_EQ(library_.SetConfig(BASS_CONFIG_GVOL_SAMPLE, volume), static_cast<DWORD>(volume));
        const HSAMPLE sample = library_.SampleLoad(TRUE, tone.file.data(), 0, static_cast<DWORD>(tone.file.size()),
                                                   20, BASS_SAMPLE_LOOP);
        ASSERT_NE(sample, 0u);
        const HCHANNEL channel = library_.SampleGetChannel(sample, TRUE);
        ASSERT_NE(channel, 0u);
        // A few blocks for the volume's ramp to pass before the music starts.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(library_.ChannelPlay(channel, TRUE));
        // The disk driver runs in real time: long enough for the loop to come round twice.
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        Unload();

        const std::string raw = ReadAll(capture);
        std::vector<int16_t> out(raw.size() / 2);
        std::memcpy(out.data(), raw.data(), out.size() * 2);
        ASSERT_GT(out.size(), tone.reference.samples.size() * 2);
        if (volume == 0) {
            for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << "frame " << i / 2;
            continue;
        }
        const size_t loop = tone.reference.samples.size();
        std::vector<double> expected(loop);
        for (size_t i = 0; i < loop; ++i) expected[i] = tone.reference.samples[i] * volume / 100.0;
        const size_t start = FindStart(out, expected);
        ASSERT_NE(start, std::string::npos) << "the music is not in the output";
        ASSERT_GT(out.size() - start, loop * 2) << "the loop did not come round within the capture";
        for (size_t i = 0; i < start; ++i) ASSERT_EQ(out[i], 0) << "before the start, frame " << i / 2;
        // The last block may be cut by the unload.
        const size_t checked = out.size() - start - 4096;
        for (size_t i = 0; i < checked; ++i) {
            ASSERT_NEAR(out[start + i], expected[i % loop], 1.0) << "frame " << i / 2 << " after the start";
        }
    }
}

TEST_F(AudioLibrary, DeviceZeroAcceptsEverythingAndUnloadingForgetsIt) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Load();
        const Tone& tone = TheTone();
        const DWORD size = static_cast<DWORD>(tone.file.size());
        EXPECT_EQ(library_.SampleLoad(TRUE, tone.file.data(), 0, size, 20, 0), 0u) << "before BASS_Init";
        // A second unload-free run would find the first one's device still open.
        ASSERT_TRUE(library_.Init(0, 44100, 0, nullptr, nullptr));
        EXPECT_FALSE(library_.Init(0, 44100, 0, nullptr, nullptr)) << "already open";
        EXPECT_TRUE(library_.Set3DFactors(-1.0f, 0.1f, -1.0f));
        library_.Apply3D();

        const struct {
            DWORD option, value, kept;
        } configs[] = {
            {BASS_CONFIG_GVOL_SAMPLE, 0, 0},
            {BASS_CONFIG_GVOL_SAMPLE, 50, 50},
            {BASS_CONFIG_GVOL_SAMPLE, 250, 100},
            {BASS_CONFIG_GVOL_SAMPLE, static_cast<DWORD>(-1), 0},
            {99, 5, static_cast<DWORD>(-1)},
        };
        for (const auto& c : configs) {
            EXPECT_EQ(library_.SetConfig(c.option, c.value), c.kept) << c.option << " " << c.value;
        }

        std::string damaged = tone.file;
        for (size_t i = 0; i < 64; ++i) damaged[i] ^= 0x5A;
        EXPECT_EQ(library_.SampleLoad(TRUE, damaged.data(), 0, size, 20, 0), 0u);
        EXPECT_EQ(library_.SampleLoad(FALSE, "music.ogg", 0, 0, 20, 0), 0u) << "only memory is read";

        // The offset counts into the buffer.
        const std::string padded = "pad" + tone.file;
        const HSAMPLE sample = library_.SampleLoad(TRUE, padded.data(), 3, size, 1, BASS_SAMPLE_LOOP);
        ASSERT_NE(sample, 0u);
        const HCHANNEL channel = library_.SampleGetChannel(sample, TRUE);
        ASSERT_NE(channel, 0u);
        EXPECT_TRUE(library_.ChannelPlay(channel, TRUE));
        EXPECT_EQ(library_.SampleGetChannel(sample, TRUE), 0u) << "one playback at most";
        EXPECT_FALSE(library_.ChannelPlay(channel + 1000, TRUE));
        Unload();
    }
}

// A load answers once the headers are checked and decodes the sound behind it: a sample may be
// played at once, and unloading the library straight after stops the decode and still takes
// every byte of the library out of the process (its thread must not outlive its code).
TEST_F(AudioLibrary, PlayingAndUnloadingWhileASampleDecodes) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    static const std::string longTone = rh::testing::EncodeOggVorbis(
        rh::testing::ToneFrames(44100, 2, 44100 * 20, 330.0), 44100, 2, -0.1f);
    for (int device : {1, 0}) {
        SCOPED_TRACE(device);
        Load();
        ASSERT_TRUE(library_.Init(device, 44100, 0, nullptr, nullptr));
        library_.SetConfig(BASS_CONFIG_GVOL_SAMPLE, 100);
        const HSAMPLE sample = library_.SampleLoad(TRUE, longTone.data(), 0, static_cast<DWORD>(longTone.size()),
                                                   20, BASS_SAMPLE_LOOP);
        ASSERT_NE(sample, 0u);
        EXPECT_TRUE(library_.ChannelPlay(library_.SampleGetChannel(sample, TRUE), TRUE));
        Unload();
    }
}

// The program's fallback: when the output cannot be opened, device 0 still can.
TEST_F(AudioLibrary, NoOutputFailsDeviceOneAndLeavesDeviceZero) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    Load();
    EXPECT_FALSE(library_.Init(1, 44100, BASS_DEVICE_3D, nullptr, nullptr));
    EXPECT_FALSE(library_.Init(2, 44100, 0, nullptr, nullptr)) << "no such device";
    EXPECT_TRUE(library_.Init(0, 44100, 0, nullptr, nullptr));
    const Tone& tone = TheTone();
    EXPECT_NE(library_.SampleLoad(TRUE, tone.file.data(), 0, static_cast<DWORD>(tone.file.size()), 20, 0), 0u);
}

}  // namespace
