// The saver's music: the library from the program's resources through a temporary file that
// exists, owner-only, exactly while the library is loaded; silence when it cannot be written;
// the music file loaded as a looping sample; the fade-in's volumes.

#include "saver/music.h"
#include "tests/support/ogg_vorbis.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <string>
#include <vector>

namespace {

// The temporary files in a folder (test folders made meanwhile live there too).
std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

class SaverMusic : public testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("TMPDIR")) oldTmp_ = old;
        setenv("TMPDIR", temp_.path().c_str(), 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    void TearDown() override {
        UnloadSoundLibrary();
        if (oldTmp_.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", oldTmp_.c_str(), 1);
    }

    rh::testing::ScratchDir temp_{"rh_music_tmp"};
    std::string oldTmp_;
};

TEST_F(SaverMusic, TheLibraryFileLivesExactlyWhileLoaded) {
    LoadSoundLibrary();
    const SoundLibrary& library = TheSoundLibrary();
    ASSERT_NE(library.module, nullptr);
    const std::string file = library.tempFileName;
    EXPECT_EQ(file.rfind(temp_.path() + "/bas", 0), 0u) << file;
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_GT(st.st_size, 0);
    LoadSoundLibrary();  // a second call keeps the one library
    EXPECT_EQ(FilesIn(temp_.path()).size(), 1u);

    StartSound(nullptr);
    EXPECT_EQ(library.SetConfig(BASS_CONFIG_GVOL_SAMPLE, 0), 0u);
    // Music off: nothing is loaded, and the end still unloads and deletes.
    ShutdownMusic(SaverMode::FullScreen, 80, false);
    EXPECT_EQ(library.module, nullptr);
    EXPECT_TRUE(FilesIn(temp_.path()).empty());
}

TEST_F(SaverMusic, AnUnwritableTemporaryFolderRunsSilent) {
    setenv("TMPDIR", temp_.Path("missing").c_str(), 1);
    LoadSoundLibrary();
    EXPECT_EQ(TheSoundLibrary().module, nullptr);
    EXPECT_EQ(TheSoundLibrary().tempFileName[0], '\0');
    // Every later step goes on without sound.
    StartSound(nullptr);
    EXPECT_EQ(LoadMusic(FileRef(temp_.Path("any.ogg").c_str()), BASS_SAMPLE_LOOP), 0);
    PlayMusic(1);
    SetMusicVolume(50);
    ShutdownMusic(SaverMode::FullScreen, 50, true);
    EXPECT_TRUE(FilesIn(temp_.path()).empty());
}

TEST_F(SaverMusic, LoadsTheMusicAsALoopingSample) {
    rh::testing::ScratchDir media("rh_music_media");
    const std::string music = media.Write(
        "rimeholt.ogg",
        rh::testing::EncodeOggVorbis(rh::testing::ToneFrames(44100, 2, 20000, 440.0), 44100, 2));
    const std::string damaged = media.Write("damaged.ogg", std::string(3000, 'x'));
    EXPECT_EQ(LoadMusic(FileRef(music.c_str()), BASS_SAMPLE_LOOP), 0) << "no library loaded yet";

    LoadSoundLibrary();
    StartSound(nullptr);
    const int sample = LoadMusic(FileRef(music.c_str()), BASS_SAMPLE_LOOP);
    EXPECT_NE(sample, 0);
    PlayMusic(sample);
    EXPECT_EQ(LoadMusic(FileRef(media.Path("missing.ogg").c_str()), BASS_SAMPLE_LOOP), 0);
    EXPECT_EQ(LoadMusic(FileRef(damaged.c_str()), BASS_SAMPLE_LOOP), 0);

    // The fade sets the library's volume; the end silences it before unloading.
    SetMusicVolume(MusicFadeVolume(80, 500));
    EXPECT_EQ(TheSoundLibrary().SetConfig(BASS_CONFIG_GVOL_SAMPLE, MusicFadeVolume(80, 500)), 10u);
    ShutdownMusic(SaverMode::Test, 80, true);
    EXPECT_TRUE(FilesIn(temp_.path()).empty());
}

// What the device plays while the saver fades in: SDL's disk driver writes the mixed output to
// a file in real time, the fade is driven by the wall clock as the frame loop drives it, and
// the output's loudness, a steady tone, follows the volume up to 80 over four seconds.
TEST_F(SaverMusic, TheOutputRisesToTheVolumeOverFourSeconds) {
    rh::testing::ScratchDir media("rh_music_fade");
    const std::string music = media.Write(
        "rimeholt.ogg", rh::testing::EncodeOggVorbis(rh::testing::ToneFrames(44100, 2, 44100, 441.0), 44100, 2));
    const std::string capture = media.Path("output.raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    LoadSoundLibrary();
    StartSound(nullptr);
    const int sample = LoadMusic(FileRef(music.c_str()), BASS_SAMPLE_LOOP);
    ASSERT_NE(sample, 0);
    PlayMusic(sample);
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        if (elapsed > 5000) break;
        SetMusicVolume(MusicFadeVolume(80, static_cast<DWORD>(elapsed)));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ShutdownMusic(SaverMode::Test, 80, true);
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    std::ifstream in(capture, std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> out(raw.size() / 2);
    std::memcpy(out.data(), raw.data(), out.size() * 2);
    // The loudness of each half second from the first sound on, against the full tone's.
    size_t first = 0;
    while (first < out.size() && out[first] == 0) ++first;
    const size_t window = 44100;  // half a second of stereo values
    std::vector<double> rms;
    for (size_t w = first; w + window <= out.size(); w += window) {
        double sum = 0.0;
        for (size_t i = w; i < w + window; ++i) sum += static_cast<double>(out[i]) * out[i];
        rms.push_back(std::sqrt(sum / window));
    }
    ASSERT_GE(rms.size(), 8u) << "less than four seconds of music captured";
    const std::vector<float> tone = rh::testing::ToneFrames(44100, 2, 44100, 441.0);
    double toneSum = 0.0;
    for (float v : tone) toneSum += static_cast<double>(v) * 32767.0 * v * 32767.0;
    const double full = std::sqrt(toneSum / tone.size());
    // Half second k holds volumes rising from 10k to 10(k + 1), capped at 80. The device's
    // thread may run a block behind or ahead of the wall clock on a busy machine, so each half
    // second may sound like either neighbour.
    const auto share = [&](double k) { return std::clamp(10.0 * k, 0.0, 80.0) / 100.0 * full; };
    for (size_t k = 0; k < rms.size() && k < 10; ++k) {
        EXPECT_GT(rms[k], share(k - 1.0) * 0.9 - 0.01 * full) << "half second " << k;
        EXPECT_LT(rms[k], share(k + 2.0) * 1.1 + 0.01 * full) << "half second " << k;
        if (k > 0) {
            EXPECT_GE(rms[k], rms[k - 1] * 0.97) << "the output falls at half second " << k;
        }
    }
    EXPECT_LT(rms[0], 0.25 * full) << "the music starts quietly";
    EXPECT_NEAR(rms.back(), 0.8 * full, 0.06 * full) << "at the volume from four seconds on";
}

TEST(MusicFade, RisesToTheVolumeOverFourSeconds) {
    const struct {
        int volume;
        DWORD elapsed;
        int expected;
    } cases[] = {
        {80, 0, 0},     {80, 500, 10},  {80, 2000, 40},   {80, 3999, 79}, {80, 4000, 80},
        {80, 60000, 80}, {100, 1234, 30}, {0, 5000, 0},    {250, 4000, 250}, {-1, 4000, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MusicFadeVolume(c.volume, c.elapsed), c.expected) << c.volume << " at " << c.elapsed << " ms";
    }
}

}  // namespace
