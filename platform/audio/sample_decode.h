// Ogg Vorbis files decoded from memory into 16-bit samples (layer-private): whole, or as a
// stream whose headers are checked at once and whose sound is decoded block by block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// An Ogg Vorbis file opened with libvorbisfile and its headers checked: one or two channels,
// every link of one rate and channel count, the rate within the limits, and a length (from the
// stream's own account, where it gives one) within kMaxSampleSeconds. The sound is read by Next.
class VorbisStream {
public:
    // Nothing when libvorbisfile cannot open the bytes or the headers fail the checks above.
    // With keepCopy the stream reads its own copy of the bytes, so the caller's may go once
    // Open returns; without, they must outlive the stream.
    static std::unique_ptr<VorbisStream> Open(const void* bytes, size_t size, bool keepCopy);
    ~VorbisStream();
    VorbisStream(const VorbisStream&) = delete;
    VorbisStream& operator=(const VorbisStream&) = delete;

    long Rate() const { return rate_; }
    int Channels() const { return channels_; }
    // The frames the headers promise (0 when they do not say); the decode may differ from it.
    uint64_t ExpectedFrames() const { return expectedFrames_; }
    uint64_t MaxFrames() const { return kMaxSampleSeconds * static_cast<uint64_t>(rate_); }

    // Decodes the next whole frames into out (room for `frames` frames, at least one):
    // how many frames it wrote, 0 at the end of the stream, -1 for a fault (a block that does
    // not decode, or a link whose format differs from the first one's). A hole is passed over.
    long Next(int16_t* out, size_t frames);

private:
    struct State;
    VorbisStream() = default;
    std::unique_ptr<State> state_;
    long rate_ = 0;
    int channels_ = 0;
    uint64_t expectedFrames_ = 0;
};

// Decodes the whole file with libvorbisfile; the bytes are read during the call only. Nothing
// for a file VorbisStream::Open refuses, a block that does not decode (a hole in the stream is
// skipped, as players do), more than kMaxSampleSeconds of sound, or no sound at all.
std::optional<DecodedSample> DecodeOggVorbis(const void* bytes, size_t size);

}  // namespace rh::audio
