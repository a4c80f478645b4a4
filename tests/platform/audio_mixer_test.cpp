// The audio library's decoder and mixer, driven in process: what it plays is libvorbisfile's
// own decode of the file scaled by the sample volume, at the output's rate, with a seamless loop
// and the sample's limit of channels.

#include "platform/audio/mixer.h"
#include "platform/audio/sample_decode.h"
#include "tests/support/ogg_vorbis.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using rh::audio::DecodedSample;
using rh::audio::DecodeOggVorbis;
using rh::audio::Mixer;
using rh::audio::VorbisStream;
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
        // All of these are known from the headers, before any sound is decoded.
        EXPECT_EQ(VorbisStream::Open(c.bytes.data(), c.bytes.size(), true), nullptr);
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

// ---- Samples decoded behind the load ----

std::unique_ptr<VorbisStream> OpenStream(const std::string& file) {
    auto stream = VorbisStream::Open(file.data(), file.size(), true);
    if (!stream) ADD_FAILURE() << "the test file does not open";
    return stream;
}

// Until the sample's decoder has at least `frames` frames (it is held there), or has ended.
void AwaitDecoded(const Mixer& mixer, uint32_t sample, uint64_t frames) {
    while (mixer.DecodedFrames(sample) < frames) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A channel that plays ahead of the decoder waits, silent, where the decoded sound ends and goes
// on from that very frame once more is decoded: after the wait the output is the output of the
// same sample decoded whole, shifted by the wait. Looping and resampling as with a whole sample.
TEST(AudioStream, AChannelAheadOfTheDecoderWaitsAndGoesOnWhereItStopped) {
    const Sound& tone = StereoTone();
    const Sound half = MakeSound(22050, 2, 9001);
    const struct {
        const char* name;
        const Sound& sound;
        uint32_t flags;
    } cases[] = {
        {"at the output's rate", tone, 0},
        {"looping", tone, rh::audio::kSampleLoop},
        {"at half the output's rate", half, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t frames = c.sound.Frames();
        const long rate = c.sound.reference.rate;
        const size_t outFrames = frames * 44100 / static_cast<size_t>(rate);
        Mixer whole(44100);
        Start(whole, whole.AddSample(Decode(c.sound.file), 20, c.flags), 100);
        const std::vector<int16_t> expected = MixFrames(whole, outFrames * 3);

        Mixer mixer(44100);
        mixer.HoldDecoders(0);
        const uint32_t sample = mixer.AddStream(OpenStream(c.sound.file), 20, c.flags);
        ASSERT_NE(sample, 0u);
        const uint32_t channel = Start(mixer, sample, 100);
        EXPECT_EQ(mixer.DecodedFrames(sample), 0u);
        for (int16_t v : MixFrames(mixer, 3000)) ASSERT_EQ(v, 0) << "nothing is decoded yet";
        EXPECT_TRUE(mixer.IsPlaying(channel)) << "it waits";

        mixer.HoldDecoders(frames / 3);
        AwaitDecoded(mixer, sample, frames / 3);
        const uint64_t ready = mixer.DecodedFrames(sample);
        ASSERT_LT(ready, frames);
        const std::vector<int16_t> before = MixFrames(mixer, outFrames);
        // It plays up to the last decoded frame but one (the one it would lead into), then waits.
        const size_t played = static_cast<size_t>(ready - 1) * 44100 / static_cast<size_t>(rate);
        for (size_t i = 0; i < played * 2; ++i) ASSERT_EQ(before[i], expected[i]) << "frame " << i / 2;
        for (size_t i = played * 2; i < before.size(); ++i) ASSERT_EQ(before[i], 0) << "waiting, frame " << i / 2;
        EXPECT_TRUE(mixer.IsPlaying(channel));

        mixer.HoldDecoders(Mixer::kNoHold);
        EXPECT_EQ(mixer.SampleLength(sample), frames);
        const std::vector<int16_t> after = MixFrames(mixer, outFrames * 2);
        for (size_t i = 0; i < after.size(); ++i) {
            ASSERT_EQ(after[i], expected[played * 2 + i]) << "frame " << i / 2 << " after the wait";
        }
        EXPECT_EQ(mixer.IsPlaying(channel), c.flags == rh::audio::kSampleLoop);
    }
}

// A length query waits for the decode to end; the mixer goes, with its decoders, whether they
// run, are held, or have ended.
TEST(AudioStream, QueriesAndTheMixersEndWhileDecoding) {
    const Sound& tone = StereoTone();
    {
        Mixer mixer(44100);
        mixer.HoldDecoders(0);
        const uint32_t sample = mixer.AddStream(OpenStream(tone.file), 20, 0);
        auto length = std::async(std::launch::async, [&] { return mixer.SampleLength(sample); });
        EXPECT_EQ(mixer.DecodedFrames(sample), 0u);
        mixer.HoldDecoders(Mixer::kNoHold);
        EXPECT_EQ(length.get(), tone.Frames());
        EXPECT_EQ(mixer.DecodedFrames(sample), tone.Frames());
        EXPECT_EQ(mixer.SampleLength(sample + 1), 0u) << "an unknown sample";
        EXPECT_EQ(mixer.AddStream(OpenStream(tone.file), 0, 0), 0u) << "a maximum of 0 plays nothing";
    }
    for (bool held : {true, false}) {
        SCOPED_TRACE(held);
        Mixer mixer(44100);
        if (held) mixer.HoldDecoders(1000);
        for (int i = 0; i < 3; ++i) Start(mixer, mixer.AddStream(OpenStream(tone.file), 20, 0), 100);
        MixFrames(mixer, 2048);
    }
}

// Damage after the headers is found only by the decode behind the load: the sample keeps what
// decoded before it (the length the whole decode of the same bytes gives), and plays and loops
// on that; with nothing decoded (which the whole decode refuses) a channel of it ends at once.
TEST(AudioStream, AStreamDamagedAfterItsHeadersPlaysWhatDecodes) {
    const Sound small = MakeSound(44100, 2, 60000);
    const Sound large = MakeSound(44100, 2, 200000);
    std::string corrupted = large.file;
    for (size_t i = corrupted.size() / 2; i < corrupted.size() / 2 + 64; ++i) corrupted[i] ^= 0x5A;
    const struct {
        const char* name;
        std::string bytes;
        bool sound;  // whether anything before the damage decodes
    } cases[] = {
        {"cut in the middle", large.file.substr(0, large.file.size() / 2), true},
        {"a page damaged in the middle", corrupted, true},
        // libvorbisfile finds no length in the few pages left and decodes nothing.
        {"cut within its first pages", small.file.substr(0, small.file.size() / 2), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto decoded = DecodeOggVorbis(c.bytes.data(), c.bytes.size());
        ASSERT_EQ(decoded.has_value(), c.sound);
        const size_t length = decoded ? decoded->FrameCount() : 0;
        EXPECT_LT(length, large.Frames());
        std::vector<int16_t> expected(std::max<size_t>(length, 5000) * 2 * 2, 0);
        if (decoded) {
            Mixer whole(44100);
            Start(whole, whole.AddSample(*decoded, 20, rh::audio::kSampleLoop), 100);
            expected = MixFrames(whole, length * 2);
        }

        Mixer mixer(44100);
        const uint32_t sample = mixer.AddStream(OpenStream(c.bytes), 20, rh::audio::kSampleLoop);
        ASSERT_NE(sample, 0u) << "the headers are whole";
        EXPECT_EQ(mixer.SampleLength(sample), length);
        const uint32_t channel = Start(mixer, sample, 100);
        EXPECT_EQ(MixFrames(mixer, expected.size() / 2), expected);
        EXPECT_EQ(mixer.IsPlaying(channel), c.sound);
    }
}

}  // namespace
