// libvorbisfile reading an Ogg Vorbis file held in memory: the callbacks the benchmarks' plain
// peers decode through, as any program with the file's bytes at hand would.
#pragma once

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace rh::bench {

struct VorbisMemory {
    const void* data;
    size_t size;
    size_t at = 0;

    static size_t Read(void* out, size_t size, size_t count, void* source) {
        auto* m = static_cast<VorbisMemory*>(source);
        const size_t n = size == 0 ? 0 : std::min(count, (m->size - m->at) / size);
        std::memcpy(out, static_cast<const uint8_t*>(m->data) + m->at, n * size);
        m->at += n * size;
        return n;
    }
    static int Seek(void* source, ogg_int64_t offset, int whence) {
        auto* m = static_cast<VorbisMemory*>(source);
        const ogg_int64_t base = whence == SEEK_SET   ? 0
                                 : whence == SEEK_CUR ? static_cast<ogg_int64_t>(m->at)
                                                      : static_cast<ogg_int64_t>(m->size);
        if (base + offset < 0 || base + offset > static_cast<ogg_int64_t>(m->size)) return -1;
        m->at = static_cast<size_t>(base + offset);
        return 0;
    }
    static long Tell(void* source) { return static_cast<long>(static_cast<VorbisMemory*>(source)->at); }

    // Opens `file` over this memory (which must outlive it).
    bool Open(OggVorbis_File* file) {
        return ov_open_callbacks(this, file, nullptr, 0, ov_callbacks{Read, Seek, nullptr, Tell}) == 0;
    }
};

}  // namespace rh::bench
