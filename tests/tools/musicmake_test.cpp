// The music maker's loop, as the build wrote it and the saver reaches it: the same bytes every
// time, a file our audio library decodes to exactly the loop, joined at the seam without a
// click, at a level that neither clips nor whispers, and packed into the media archive.
// With RH_MUSIC_TEST_IMAGES set, the decoded loop's sonogram is written there as a PNG.

#include "core/files/archive/archive_file_source.h"
#include "core/files/file_ref.h"
#include "core/types/byte_buffer.h"
#include "platform/audio/sample_decode.h"
#include "tests/support/ogg_vorbis.h"
#include "tests/support/png_file.h"
#include "tools/musicmake/music_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace mm = rh::musicmake;

const std::string kMusicFile = std::string(RH_MEDIA_DIR) + "/Media/rimeholt.ogg";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double Decibels(double level) { return 20.0 * std::log10(level); }

// Made once for the whole suite: a render and an encode take a few seconds.
class MusicMaker : public testing::Test {
protected:
    static void SetUpTestSuite() {
        built_ = new std::string(ReadFile(kMusicFile));
        decoded_ = new std::optional<rh::audio::DecodedSample>(
            rh::audio::DecodeOggVorbis(built_->data(), built_->size()));
    }
    static void TearDownTestSuite() {
        delete built_;
        delete decoded_;
    }
    static std::string* built_;
    static std::optional<rh::audio::DecodedSample>* decoded_;
};
std::string* MusicMaker::built_ = nullptr;
std::optional<rh::audio::DecodedSample>* MusicMaker::decoded_ = nullptr;

// The maker gives the same bytes every run, and the build's file is exactly those.
TEST_F(MusicMaker, DeterministicAndBuilt) {
    const std::string made = mm::MakeMusic();
    ASSERT_FALSE(made.empty());
    EXPECT_EQ(made, mm::MakeMusic());
    EXPECT_TRUE(made == *built_) << "the build's file differs from the maker's bytes";
    // Small enough to carry in the program: under 700 KB for the 90 s.
    EXPECT_LT(made.size(), 700u * 1024u);
}

// Our audio library's decoder reads the file to the loop's length exactly, at its rate and
// channels: a frame more or less would be a gap or a jump every time the music repeats.
TEST_F(MusicMaker, DecodesToTheLoop) {
    ASSERT_TRUE(decoded_->has_value());
    const rh::audio::DecodedSample& sample = **decoded_;
    EXPECT_EQ(sample.rate, mm::kSampleRate);
    EXPECT_EQ(sample.channels, mm::kChannels);
    EXPECT_EQ(sample.FrameCount(), mm::kLoopFrames);
    // The same samples as libvorbisfile's own decode of the file on disk.
    const rh::testing::Decoded reference = rh::testing::DecodeOggFile(kMusicFile);
    EXPECT_EQ(reference.channels, mm::kChannels);
    EXPECT_TRUE(reference.samples == sample.frames);
    const double seconds = double(sample.FrameCount()) / double(sample.rate);
    EXPECT_GE(seconds, 60.0);
    EXPECT_LE(seconds, 120.0);
}

// The largest step between neighbouring samples of a channel over [from, to) frames.
template <typename Sample>
double LargestStep(const std::vector<Sample>& frames, int channels, int channel, size_t from, size_t to) {
    double largest = 0.0;
    for (size_t i = from + 1; i < to; ++i) {
        largest = std::max(largest, std::abs(double(frames[i * channels + channel]) -
                                             double(frames[(i - 1) * channels + channel])));
    }
    return largest;
}

// A click at the seam is a step from the last frame to the first that is larger than the
// music's steps around it. Checked on the rendered loop and on what the decoder gives.
template <typename Sample>
void ExpectSmoothSeam(const std::vector<Sample>& frames, int channels, const char* what) {
    const size_t count = frames.size() / channels;
    const size_t near = mm::kSampleRate / 10;  // 0.1 s either side
    for (int c = 0; c < channels; ++c) {
        const double seam = std::abs(double(frames[c]) - double(frames[(count - 1) * channels + c]));
        const double around = std::max(LargestStep(frames, channels, c, 0, near),
                                       LargestStep(frames, channels, c, count - near, count));
        EXPECT_LE(seam, around) << what << ", channel " << c;
        EXPECT_LE(seam, LargestStep(frames, channels, c, 0, count)) << what << ", channel " << c;
    }
}

TEST_F(MusicMaker, TheSeamDoesNotClick) {
    const std::vector<float> rendered = mm::RenderLoop();
    ASSERT_EQ(rendered.size(), mm::kLoopFrames * mm::kChannels);
    ExpectSmoothSeam(rendered, mm::kChannels, "rendered");
    ASSERT_TRUE(decoded_->has_value());
    ExpectSmoothSeam((*decoded_)->frames, mm::kChannels, "decoded");
    // The loop's two ends carry sound (the tails wrap round): a silent join would hide a gap.
    const auto level = [&](size_t from, size_t to) {
        double sum = 0.0;
        for (size_t i = from * 2; i < to * 2; ++i) sum += double(rendered[i]) * rendered[i];
        return std::sqrt(sum / double((to - from) * 2));
    };
    EXPECT_GT(Decibels(level(0, 4410)), -50.0);
    EXPECT_GT(Decibels(level(mm::kLoopFrames - 4410, mm::kLoopFrames)), -50.0);
}

// Peak under -1 dBFS after decoding (no clipping anywhere), and a level one can leave running:
// the RMS of both channels within 1 dB of the maker's chosen level, each channel's between -30
// and -12 dBFS, no long silence; and no quiet introduction: the first four seconds are within
// 6 dB of the whole.
TEST_F(MusicMaker, Level) {
    ASSERT_TRUE(decoded_->has_value());
    const std::vector<int16_t>& frames = (*decoded_)->frames;
    int peak = 0;
    double sum[2] = {0.0, 0.0};
    for (size_t i = 0; i < frames.size(); ++i) {
        peak = std::max(peak, std::abs(int(frames[i])));
        sum[i % 2] += double(frames[i]) * frames[i];
    }
    EXPECT_LT(Decibels(peak / 32768.0), -1.0);
    const double whole = Decibels(std::sqrt((sum[0] + sum[1]) / double(frames.size())) / 32768.0);
    EXPECT_NEAR(whole, mm::kLevelDb, 1.0);
    double start = 0.0;
    const size_t startSamples = size_t(4 * mm::kSampleRate) * mm::kChannels;
    for (size_t i = 0; i < startSamples; ++i) start += double(frames[i]) * frames[i];
    EXPECT_NEAR(Decibels(std::sqrt(start / double(startSamples)) / 32768.0), whole, 6.0) << "the first four seconds";
    for (int c = 0; c < 2; ++c) {
        const double rms = std::sqrt(sum[c] / double(frames.size() / 2)) / 32768.0;
        EXPECT_GT(Decibels(rms), -30.0) << "channel " << c;
        EXPECT_LT(Decibels(rms), -12.0) << "channel " << c;
    }
    // Every second of the loop carries sound.
    const size_t second = size_t(mm::kSampleRate) * mm::kChannels;  // samples of one second
    for (size_t start = 0; start + second <= frames.size(); start += second) {
        double s = 0.0;
        for (size_t i = start; i < start + second; ++i) s += double(frames[i]) * frames[i];
        EXPECT_GT(Decibels(std::sqrt(s / double(second)) / 32768.0), -45.0) << "at " << start / second << " s";
    }
}

// The saver finds the music in the media archive the build packed, under its media root.
TEST_F(MusicMaker, InTheMediaArchive) {
    const std::string archive = ReadFile(RH_MEDIA_ARCHIVE);
    ASSERT_FALSE(archive.empty());
    ArchiveFileSource media;
    ASSERT_TRUE(media.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));
    ByteBuffer bytes;
    ASSERT_TRUE(FileRef::Member(&media, "Media/rimeholt.ogg").ReadWholeFile(bytes));
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(bytes.Data()), bytes.Size()) == *built_);
}

// The encoder's own checker finds nothing wrong with the file.
TEST_F(MusicMaker, OgginfoFindsNoError) {
    if (std::system("command -v ogginfo >/dev/null 2>&1") != 0) GTEST_SKIP() << "ogginfo is not installed";
    FILE* pipe = popen(("ogginfo '" + kMusicFile + "' 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string report;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) report += line;
    EXPECT_EQ(pclose(pipe), 0) << report;
    for (const char* bad : {"WARNING", "Warning", "ERROR", "Error"}) {
        EXPECT_EQ(report.find(bad), std::string::npos) << report;
    }
    EXPECT_NE(report.find("Playback length: 1m:30.000s"), std::string::npos) << report;
}

// In-place radix-2 transform; the size is a power of two.
void Fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> root = std::polar(1.0, -2.0 * M_PI / double(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w = 1.0;
            for (size_t j = 0; j < len / 2; ++j) {
                const std::complex<double> u = a[i + j], v = a[i + j + len / 2] * w;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
                w *= root;
            }
        }
    }
}

// A sonogram of the decoded loop (left channel): time across, 60 Hz to 8 kHz up on a
// logarithmic scale (so notes keep their spacing), level from -80 dB (black) to 0 dB.
TEST_F(MusicMaker, SonogramPicture) {
    const std::string folder = rh::testing::PictureFolder("RH_MUSIC_TEST_IMAGES");
    if (folder.empty()) GTEST_SKIP() << "RH_MUSIC_TEST_IMAGES is not set";
    ASSERT_TRUE(decoded_->has_value());
    const std::vector<int16_t>& frames = (*decoded_)->frames;
    const size_t count = frames.size() / 2;
    constexpr int kWidth = 1200, kHeight = 400, kWindow = 4096;
    std::vector<uint32_t> pixels(size_t(kWidth) * kHeight);
    std::vector<double> power(kWindow / 2);
    for (int x = 0; x < kWidth; ++x) {
        const size_t start = std::min(count - kWindow, count * size_t(x) / kWidth);
        std::vector<std::complex<double>> bins(kWindow);
        for (int n = 0; n < kWindow; ++n) {
            const double hann = 0.5 - 0.5 * std::cos(2.0 * M_PI * n / kWindow);
            bins[n] = hann * frames[(start + n) * 2] / 32768.0;
        }
        Fft(bins);
        for (int k = 0; k < kWindow / 2; ++k) power[k] = std::norm(bins[k]);
        for (int y = 0; y < kHeight; ++y) {
            const double hertz = 60.0 * std::pow(8000.0 / 60.0, double(kHeight - 1 - y) / (kHeight - 1));
            const int k = std::min(kWindow / 2 - 1, int(std::lround(hertz * kWindow / mm::kSampleRate)));
            const double db = 10.0 * std::log10(power[k] / (kWindow * kWindow / 16.0) + 1e-12);
            const double v = std::clamp((db + 80.0) / 80.0, 0.0, 1.0);
            const uint32_t r = uint32_t(255 * std::sqrt(v)), g = uint32_t(255 * v * v), b = uint32_t(255 * v * (1 - v) * 2);
            pixels[size_t(y) * kWidth + x] = 0xff000000u | (r << 16) | (std::min(g, 255u) << 8) | std::min(b, 255u);
        }
    }
    EXPECT_TRUE(rh::testing::WritePngFile(folder + "/music_sonogram.png", kWidth, kHeight, pixels));
}

}  // namespace
