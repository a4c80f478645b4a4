// The RAR 2.0 compression method, packing side: LZ77 over a 1 MB window with canonical Huffman
// codes, and the multimedia mode that codes bytes as the errors of an adaptive delta predictor,
// one predictor per interleaved channel. The streams decode with the engine's reader
// (core/files/archive/rar_unpack20); every choice here mirrors what that decoder runs.
//
// Blocks of about 64 KB each get their own code tables, so long inputs carry several. In a
// stream of several parts (the members of a solid archive), each part after the first starts
// with its own tables, written at the end of the part before: the decoder reads them there,
// once the earlier member is complete.

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace rh::rarwrite {

// Whether the multimedia mode codes a part's bytes.
enum class Multimedia : uint8_t {
    kOff,   // LZ77 only
    kAuto,  // per block, LZ77 or the predictor with 1 to 4 channels, whichever an estimate
            // finds smaller: sound, and pictures as rows of pixels, go to the predictor
    // Every block through the predictor with that many channels: the bytes of one sample
    // frame (2 for 16-bit mono or 8-bit stereo, 3 for RGB pixels, 4 for 16-bit stereo).
    kChannels1,
    kChannels2,
    kChannels3,
    kChannels4,
};

struct PackPart {
    std::span<const uint8_t> data;
    Multimedia multimedia = Multimedia::kAuto;
};

// What a stream is made of: a block is one set of code tables and the symbols under them.
struct PackStats {
    uint32_t blocks = 0;
    uint32_t audioBlocks = 0;     // multimedia blocks among them
    uint32_t freshTables = 0;     // tables whose lengths are coded against zeros, not the last
    uint32_t channelCounts = 0;   // bit c - 1 set when a block had c channels
};

// Packs the parts as one stream, the first starting it and each later one continuing it
// (window, recent distances, predictor state; a member with the solid flag). Returns each
// part's packed bytes, to be written as that member's data. A part may not be empty: the
// reader never decodes an empty member, so it could not carry the stream on. Members of 4 GB
// or more are the caller's to refuse.
std::vector<std::vector<uint8_t>> PackStream(std::span<const PackPart> parts, PackStats* stats = nullptr);

// One part alone.
std::vector<uint8_t> Pack(std::span<const uint8_t> data, Multimedia multimedia = Multimedia::kAuto,
                          PackStats* stats = nullptr);

}  // namespace rh::rarwrite
