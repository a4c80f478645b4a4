// Whole Ogg Vorbis files decoded from memory into 16-bit samples (layer-private).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace rh::audio {

// Limits of what a sample may hold: the rates Vorbis streams are made at in practice, and a
// length that bounds the memory a small damaged file can claim.
constexpr long kMinSampleRate = 1000;
constexpr long kMaxSampleRate = 384000;
constexpr uint64_t kMaxSampleSeconds = 20 * 60;

struct DecodedSample {
    long rate = 0;
    int channels = 0;              // 1 or 2
    std::vector<int16_t> frames;   // interleaved, channels values per frame
    size_t FrameCount() const { return channels == 0 ? 0 : frames.size() / channels; }
};

// Decodes the whole file with libvorbisfile; the bytes are read during the call only. Nothing
// for data libvorbisfile cannot open or decode (a hole in the stream is skipped, as players
// do), a stream of more than two channels, links of differing rates or channel counts, a rate
// outside the limits, more than kMaxSampleSeconds of sound, or no sound at all.
std::optional<DecodedSample> DecodeOggVorbis(const void* bytes, size_t size);

}  // namespace rh::audio
