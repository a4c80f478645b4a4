// Small Ogg Vorbis files made at test time with libvorbisenc, and libvorbisfile's own decode of
// them (read from a disk file, not memory), for tests, fuzz seeds and benchmarks of audio.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rh::testing {

// `frames` frames of a tone: a sine of `hertz` on the first channel, a quieter one an octave up
// on the second, amplitude about half scale.
std::vector<float> ToneFrames(long rate, int channels, size_t frames, double hertz);

// The frames encoded (VBR at `quality`, -0.1 to 1.0) as a whole Ogg Vorbis file with a fixed
// stream serial; empty when libvorbisenc refuses the rate or channel count.
std::string EncodeOggVorbis(const std::vector<float>& interleaved, long rate, int channels,
                            float quality = 0.4f, int serial = 0x5eed);

struct Decoded {
    long rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
};

// libvorbisfile's 16-bit decode of a file on disk (ov_fopen), the independent reference the
// audio library's memory decode is compared with. channels 0 when it cannot be read.
Decoded DecodeOggFile(const std::string& path);

}  // namespace rh::testing
