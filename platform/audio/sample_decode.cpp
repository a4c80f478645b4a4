// libvorbisfile reads the file through memory callbacks, so the whole decode happens on the
// caller's bytes without a copy.

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

// ov_clear on every way out.
struct OpenFile {
    OggVorbis_File file;
    bool open = false;
    ~OpenFile() {
        if (open) ov_clear(&file);
    }
};

}  // namespace

std::optional<DecodedSample> DecodeOggVorbis(const void* bytes, size_t size) {
    if (bytes == nullptr || size == 0) return std::nullopt;
    MemorySource source{static_cast<const unsigned char*>(bytes), size, 0};
    const ov_callbacks callbacks{ReadMemory, SeekMemory, nullptr, TellMemory};
    OpenFile f;
    if (ov_open_callbacks(&source, &f.file, nullptr, 0, callbacks) != 0) return std::nullopt;
    f.open = true;

    const vorbis_info* info = ov_info(&f.file, 0);
    if (info == nullptr || info->channels < 1 || info->channels > 2 || info->rate < kMinSampleRate ||
        info->rate > kMaxSampleRate) {
        return std::nullopt;
    }
    DecodedSample sample;
    sample.rate = info->rate;
    sample.channels = info->channels;
    const uint64_t maxFrames = kMaxSampleSeconds * static_cast<uint64_t>(sample.rate);
    const ogg_int64_t total = ov_pcm_total(&f.file, -1);
    if (total > 0) {
        if (static_cast<uint64_t>(total) > maxFrames) return std::nullopt;
        sample.frames.reserve(static_cast<size_t>(total) * sample.channels);
    }

    char block[16384];
    int link = 0;
    for (;;) {
        // 16-bit signed values in the host's byte order.
        const int bigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 1 : 0;
        const long got = ov_read(&f.file, block, sizeof block, bigEndian, 2, 1, &link);
        if (got == 0) break;
        if (got == OV_HOLE) continue;
        if (got < 0) return std::nullopt;
        const vorbis_info* linkInfo = ov_info(&f.file, link);
        if (linkInfo == nullptr || linkInfo->channels != sample.channels || linkInfo->rate != sample.rate) {
            return std::nullopt;
        }
        const size_t values = static_cast<size_t>(got) / sizeof(int16_t);
        const size_t old = sample.frames.size();
        if ((old + values) / sample.channels > maxFrames) return std::nullopt;
        sample.frames.resize(old + values);
        std::memcpy(sample.frames.data() + old, block, values * sizeof(int16_t));
    }
    // ov_read hands out whole frames; anything else would be a broken decoder.
    sample.frames.resize(sample.frames.size() / sample.channels * sample.channels);
    if (sample.frames.empty()) return std::nullopt;
    return sample;
}

}  // namespace rh::audio
