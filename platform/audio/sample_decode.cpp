// libvorbisfile reads the file through memory callbacks, so the decode happens on the bytes
// without a copy unless the stream is asked to keep one.

#include "platform/audio/sample_decode.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>

namespace rh::audio {
namespace {

struct MemorySource {
    const unsigned char* data;
    size_t size;
    size_t position;
};

size_t ReadMemory(void* out, size_t size, size_t count, void* source) {
    auto* s = static_cast<MemorySource*>(source);
    if (size == 0) return 0;
    const size_t items = std::min(count, (s->size - s->position) / size);
    std::memcpy(out, s->data + s->position, items * size);
    s->position += items * size;
    return items;
}

int SeekMemory(void* source, ogg_int64_t offset, int whence) {
    auto* s = static_cast<MemorySource*>(source);
    ogg_int64_t base = 0;
    if (whence == SEEK_CUR) base = static_cast<ogg_int64_t>(s->position);
    else if (whence == SEEK_END) base = static_cast<ogg_int64_t>(s->size);
    else if (whence != SEEK_SET) return -1;
    if (offset > static_cast<ogg_int64_t>(s->size) - base || offset < -base) return -1;
    s->position = static_cast<size_t>(base + offset);
    return 0;
}

long TellMemory(void* source) { return static_cast<long>(static_cast<MemorySource*>(source)->position); }

}  // namespace

// Kept at one address: libvorbisfile holds a pointer to the source.
struct VorbisStream::State {
    std::vector<unsigned char> copy;
    MemorySource source{};
    OggVorbis_File file{};
    bool open = false;
    ~State() {
        if (open) ov_clear(&file);
    }
};

VorbisStream::~VorbisStream() = default;

std::unique_ptr<VorbisStream> VorbisStream::Open(const void* bytes, size_t size, bool keepCopy) {
    if (bytes == nullptr || size == 0) return nullptr;
    std::unique_ptr<VorbisStream> stream(new VorbisStream);
    stream->state_ = std::make_unique<State>();
    State& s = *stream->state_;
    const auto* data = static_cast<const unsigned char*>(bytes);
    if (keepCopy) {
        s.copy.assign(data, data + size);
        data = s.copy.data();
    }
    s.source = MemorySource{data, size, 0};
    const ov_callbacks callbacks{ReadMemory, SeekMemory, nullptr, TellMemory};
    if (ov_open_callbacks(&s.source, &s.file, nullptr, 0, callbacks) != 0) return nullptr;
    s.open = true;

    const vorbis_info* info = ov_info(&s.file, 0);
    if (info == nullptr || info->channels < 1 || info->channels > 2 || info->rate < kMinSampleRate ||
        info->rate > kMaxSampleRate) {
        return nullptr;
    }
    stream->rate_ = info->rate;
    stream->channels_ = info->channels;
    // A file read from memory is seekable, so libvorbisfile has found every link's headers
    // already: a chained file of mixed formats is refused here rather than halfway through.
    const long links = ov_streams(&s.file);
    for (long i = 1; i < links; ++i) {
        const vorbis_info* link = ov_info(&s.file, static_cast<int>(i));
        if (link == nullptr || link->channels != info->channels || link->rate != info->rate) return nullptr;
    }
    const ogg_int64_t total = ov_pcm_total(&s.file, -1);
    if (total > 0) {
        if (static_cast<uint64_t>(total) > stream->MaxFrames()) return nullptr;
        stream->expectedFrames_ = static_cast<uint64_t>(total);
    }
    return stream;
}

long VorbisStream::Next(int16_t* out, size_t frames) {
    // 16-bit signed values in the host's byte order.
    const int bigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 1 : 0;
    const size_t bytes = std::min<size_t>(frames * static_cast<size_t>(channels_) * sizeof(int16_t), 1 << 20);
    for (;;) {
        int link = 0;
        const long got = ov_read(&state_->file, reinterpret_cast<char*>(out), static_cast<int>(bytes), bigEndian, 2,
                                 1, &link);
        if (got == OV_HOLE) continue;
        if (got <= 0) return got == 0 ? 0 : -1;
        const vorbis_info* linkInfo = ov_info(&state_->file, link);
        if (linkInfo == nullptr || linkInfo->channels != channels_ || linkInfo->rate != rate_) return -1;
        // ov_read hands out whole frames; anything else would be a broken decoder.
        return got / static_cast<long>(channels_ * sizeof(int16_t));
    }
}

std::optional<DecodedSample> DecodeOggVorbis(const void* bytes, size_t size) {
    auto stream = VorbisStream::Open(bytes, size, false);
    if (!stream) return std::nullopt;
    DecodedSample sample;
    sample.rate = stream->Rate();
    sample.channels = stream->Channels();
    sample.frames.reserve(stream->ExpectedFrames() * static_cast<size_t>(sample.channels));
    const uint64_t maxFrames = stream->MaxFrames();
    int16_t block[8192];
    const size_t blockFrames = sizeof block / sizeof block[0] / static_cast<size_t>(sample.channels);
    for (;;) {
        const long got = stream->Next(block, blockFrames);
        if (got == 0) break;
        if (got < 0) return std::nullopt;
        const size_t values = static_cast<size_t>(got) * static_cast<size_t>(sample.channels);
        const size_t old = sample.frames.size();
        if ((old + values) / sample.channels > maxFrames) return std::nullopt;
        sample.frames.resize(old + values);
        std::memcpy(sample.frames.data() + old, block, values * sizeof(int16_t));
    }
    if (sample.frames.empty()) return std::nullopt;
    return sample;
}

}  // namespace rh::audio
