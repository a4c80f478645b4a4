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

#include <cstdlib>
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
