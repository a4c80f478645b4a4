// The audio library's decoder and mixer, driven in process: what it plays is libvorbisfile's
// own decode of the file scaled by the sample volume, at the output's rate, with a seamless loop
// and the sample's limit of channels.

#include "platform/audio/mixer.h"
#include "platform/audio/sample_decode.h"
#include "tests/support/ogg_vorbis.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using rh::audio::DecodedSample;
using rh::audio::DecodeOggVorbis;
using rh::audio::Mixer;
using rh::testing::Decoded;

struct Sound {
    std::string file;   // the Ogg Vorbis bytes
    Decoded reference;  // libvorbisfile's decode of them, read from disk
    size_t Frames() const { return reference.samples.size() / reference.channels; }
};

Sound MakeSound(long rate, int channels, size_t frames, double hertz = 440.0) {
    Sound s;
    s.file = rh::testing::EncodeOggVorbis(rh::testing::ToneFrames(rate, channels, frames, hertz), rate, channels);
    rh::testing::ScratchDir scratch("rh_ogg");
    s.reference = rh::testing::DecodeOggFile(scratch.Write("tone.ogg", s.file));
    return s;
}

const Sound& StereoTone() {
    static const Sound sound = MakeSound(44100, 2, 30000);
    return sound;
}

DecodedSample Decode(const std::string& file) {
    auto sample = DecodeOggVorbis(file.data(), file.size());
    if (!sample) ADD_FAILURE() << "the test file does not decode";
    return sample ? std::move(*sample) : DecodedSample{};
}

// Mixes `frames` frames in blocks of `block`, as the output callback asks for them.
std::vector<int16_t> MixFrames(Mixer& mixer, size_t frames, size_t block = 1024) {
    std::vector<int16_t> out(frames * 2);
    for (size_t done = 0; done < frames; done += block) {
        mixer.Mix(out.data() + done * 2, std::min(block, frames - done));
    }
    return out;
}

// Plays the sample on a fresh channel after the volume has settled.
uint32_t Start(Mixer& mixer, uint32_t sample, int volume) {
    mixer.SetVolume(volume);
    int16_t settle[64 * 2];
    mixer.Mix(settle, 64);
    const uint32_t channel = mixer.GetChannel(sample);
    EXPECT_NE(channel, 0u);
    EXPECT_TRUE(mixer.Play(channel, true));
    return channel;
}

TEST(AudioDecode, MemoryDecodeEqualsLibvorbisfileFromDisk) {
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        const Sound sound = MakeSound(22050, channels, 9000);
        const DecodedSample sample = Decode(sound.file);
        EXPECT_EQ(sample.rate, 22050);
        EXPECT_EQ(sample.channels, channels);
        EXPECT_EQ(sample.frames, sound.reference.samples);
    }
}

TEST(AudioDecode, RefusesWhatItCannotPlay) {
    const std::string tone = StereoTone().file;
    const std::string threeChannels =
        rh::testing::EncodeOggVorbis(rh::testing::ToneFrames(44100, 3, 4000, 300), 44100, 3);
    ASSERT_FALSE(threeChannels.empty());
    // Two links of differing rates, one after the other: a chained file.
    const std::string chained =
        tone + rh::testing::EncodeOggVorbis(rh::testing::ToneFrames(22050, 2, 4000, 300), 22050, 2, 0.4f, 77);
    // Silence a second longer than the limit: small as a file, 19 MB once decoded.
    const std::string tooLong = rh::testing::EncodeOggVorbis(std::vector<float>(8000 * (20 * 60 + 1)), 8000, 1, -0.1f);
    ASSERT_FALSE(tooLong.empty());
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"over 20 minutes", tooLong},
        {"empty", ""},
        {"not Ogg", std::string(5000, 'x')},
        {"headers cut short", tone.substr(0, 200)},
        {"three channels", threeChannels},
        {"links of differing rates", chained},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(DecodeOggVorbis(c.bytes.data(), c.bytes.size()).has_value());
    }
}

TEST(AudioDecode, LinksOfOneFormatPlayAsOne) {
    // libvorbisfile's own link scan passes over a first link of only a few kilobytes (its
    // file reader does too), so the first link here is a few seconds long.
    const Sound a = MakeSound(44100, 2, 100000);
    Sound b;
    b.file = rh::testing::EncodeOggVorbis(rh::testing::ToneFrames(44100, 2, 5000, 700.0), 44100, 2, 0.4f, 77);
    rh::testing::ScratchDir scratch("rh_ogg");
    b.reference = rh::testing::DecodeOggFile(scratch.Write("b.ogg", b.file));
    ASSERT_EQ(a.reference.samples.size(), 100000u * 2);
    ASSERT_EQ(b.reference.samples.size(), 5000u * 2);
    const std::string chained = a.file + b.file;
    const DecodedSample sample = Decode(chained);
    std::vector<int16_t> expected = a.reference.samples;
    expected.insert(expected.end(), b.reference.samples.begin(), b.reference.samples.end());
    EXPECT_EQ(sample.frames, expected);
}

// At the sample's own rate the output is the decode times volume / 100, to 16-bit rounding,
// and silence after the end.
TEST(AudioMixer, PlaysTheDecodeScaledByTheVolume) {
    const Sound& sound = StereoTone();
    const size_t frames = sound.Frames();
    for (int volume : {100, 50, 0}) {
        SCOPED_TRACE(volume);
        Mixer mixer(44100);
        const uint32_t sample = mixer.AddSample(Decode(sound.file), 20, 0);
        ASSERT_NE(sample, 0u);
        const uint32_t channel = Start(mixer, sample, volume);
        const std::vector<int16_t> out = MixFrames(mixer, frames + 3000);
        int worst = 0;
        for (size_t i = 0; i < frames * 2; ++i) {
            const double expected = sound.reference.samples[i] * volume / 100.0;
            worst = std::max(worst, static_cast<int>(std::ceil(std::abs(out[i] - expected))));
        }
        EXPECT_LE(worst, 1);
        for (size_t i = frames * 2; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << "after the end, at " << i;
        EXPECT_FALSE(mixer.IsPlaying(channel));
    }
}

TEST(AudioMixer, ALoopingSampleRepeatsWithoutAGap) {
    const Sound& sound = StereoTone();
    const size_t frames = sound.Frames();
    Mixer mixer(44100);
    const uint32_t sample = mixer.AddSample(Decode(sound.file), 20, rh::audio::kSampleLoop);
    const uint32_t channel = Start(mixer, sample, 100);
    // Blocks that do not divide the length, so the seam falls inside a block.
    const std::vector<int16_t> out = MixFrames(mixer, frames * 5 / 2, 1000);
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(out[i], sound.reference.samples[i % (frames * 2)]) << "frame " << i / 2;
    }
    EXPECT_TRUE(mixer.IsPlaying(channel));
}

// A sample at half the output rate: every second output frame is a frame of the sample, and the
// last frame of the sample is played too.
TEST(AudioMixer, ResamplesToTheOutputRateKeepingEveryFrame) {
    const Sound sound = MakeSound(22050, 2, 9001);
    const size_t frames = sound.Frames();
    Mixer mixer(44100);
    const uint32_t sample = mixer.AddSample(Decode(sound.file), 20, 0);
    const uint32_t channel = Start(mixer, sample, 100);
    const std::vector<int16_t> out = MixFrames(mixer, frames * 2 + 1000);
    for (size_t k = 0; k < frames; ++k) {
        for (int c = 0; c < 2; ++c) {
            ASSERT_EQ(out[k * 4 + c], sound.reference.samples[k * 2 + c]) << "frame " << k;
        }
    }
    for (size_t i = frames * 4; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << "after the end, at " << i;
    EXPECT_FALSE(mixer.IsPlaying(channel));

    // To a device that took 48 kHz: the length scales with the rates.
    const Sound& tone = StereoTone();
    Mixer faster(48000);
    Start(faster, faster.AddSample(Decode(tone.file), 20, 0), 100);
    const std::vector<int16_t> up = MixFrames(faster, tone.Frames() * 2);
    size_t played = 0;
    for (size_t i = 0; i < up.size(); ++i) {
        if (up[i] != 0) played = i / 2 + 1;
    }
    const double expected = tone.Frames() * 48000.0 / 44100.0;
    EXPECT_NEAR(static_cast<double>(played), expected, 2.0);
}

TEST(AudioMixer, AMonoSampleSoundsOnBothSides) {
    const Sound sound = MakeSound(44100, 1, 5000);
    Mixer mixer(44100);
    Start(mixer, mixer.AddSample(Decode(sound.file), 20, 0), 100);
    const std::vector<int16_t> out = MixFrames(mixer, sound.Frames());
    for (size_t i = 0; i < sound.Frames(); ++i) {
        ASSERT_EQ(out[i * 2], sound.reference.samples[i]);
        ASSERT_EQ(out[i * 2 + 1], sound.reference.samples[i]);
    }
}

// A change of volume is reached over one block, not at once, and then holds.
TEST(AudioMixer, AVolumeChangeRampsOverOneBlock) {
    const Sound& sound = StereoTone();
    Mixer mixer(44100);
    Start(mixer, mixer.AddSample(Decode(sound.file), 20, rh::audio::kSampleLoop), 100);
    MixFrames(mixer, 1024);
    mixer.SetVolume(0);
    const std::vector<int16_t> ramp = MixFrames(mixer, 1024);
    const std::vector<int16_t> after = MixFrames(mixer, 1024);
    for (size_t i = 0; i < 1024 * 2; ++i) {
        const double expected = sound.reference.samples[1024 * 2 + i] * (1.0 - static_cast<double>(i / 2 + 1) / 1024);
        ASSERT_NEAR(ramp[i], expected, 1.0) << "frame " << i / 2;
        ASSERT_EQ(after[i], 0);
    }
}

TEST(AudioMixer, VolumeIsClampedToTheScale) {
    const struct {
        int set, kept;
    } cases[] = {{250, 100}, {101, 100}, {100, 100}, {37, 37}, {0, 0}, {-1, 0}, {-100000, 0}};
    Mixer mixer(44100);
    for (const auto& c : cases) {
        mixer.SetVolume(c.set);
        EXPECT_EQ(mixer.Volume(), c.kept) << c.set;
    }
}

// At most the sample's maximum of channels play at once; one that ended is handed out again,
// under a new handle.
TEST(AudioMixer, ChannelsUpToTheSamplesMaximum) {
    const Sound sound = MakeSound(44100, 2, 3000);
    Mixer mixer(44100);
    const uint32_t sample = mixer.AddSample(Decode(sound.file), 2, 0);
    const uint32_t a = mixer.GetChannel(sample);
    const uint32_t a2 = mixer.GetChannel(sample);
    EXPECT_NE(a2, a) << "a channel that is not playing is handed out again, under a new handle";
    EXPECT_FALSE(mixer.Play(a, true));
    ASSERT_TRUE(mixer.Play(a2, true));
    const uint32_t b = mixer.GetChannel(sample);
    ASSERT_TRUE(mixer.Play(b, true));
    EXPECT_NE(a2, b);
    EXPECT_EQ(mixer.GetChannel(sample), 0u) << "both play";

    MixFrames(mixer, sound.Frames() + 10);
    const uint32_t c = mixer.GetChannel(sample);
    EXPECT_NE(c, 0u);
    EXPECT_FALSE(mixer.Play(a2, true)) << "its slot went to a new handle";
    EXPECT_TRUE(mixer.Play(c, true));

    EXPECT_EQ(mixer.GetChannel(0), 0u);
    EXPECT_EQ(mixer.GetChannel(sample + 1), 0u);
    EXPECT_FALSE(mixer.Play(12345, true));
    EXPECT_EQ(mixer.AddSample(Decode(sound.file), 0, 0), 0u) << "a maximum of 0 plays nothing";
}

}  // namespace
