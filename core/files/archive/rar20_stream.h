// The packed stream of RAR 2.0 members (method 0x31..0x35): window size, table sizes, the
// meaning of the main symbols and the length and distance slots. One description for both
// sides: the engine's decoder (core/files/archive/rar_unpack20.cpp) and the archive writer's
// encoder (tools/rarwrite/rar_pack20.cpp) include it, so a change to either side cannot
// leave the other reading a different format. Constants and constexpr functions only.
#pragma once

#include <cstdint>

namespace rar20 {

inline constexpr uint32_t kWindowSize = 0x100000;

// Table sizes: main (literals, the repeat symbols, short matches, the table symbol and 28
// length slots), distance slots, repeat-length slots, the bit-length code, and one multimedia
// table per channel (256 deltas and the table symbol).
inline constexpr int kMainSymbols = 298;
inline constexpr int kDistSymbols = 48;
inline constexpr int kRepSymbols = 28;
inline constexpr int kLengthCodeSymbols = 19;
inline constexpr int kAudioSymbols = 257;
inline constexpr int kMaxChannels = 4;
inline constexpr int kLzTableSize = kMainSymbols + kDistSymbols + kRepSymbols;  // 374
inline constexpr int kMaxTableSize = kAudioSymbols * kMaxChannels;              // 1028

// Main symbols below 256 are literals.
inline constexpr uint32_t kRepeatLast = 256;   // the last match again, same length and distance
inline constexpr uint32_t kOldDistance = 257;  // 257..260: one of the last four distances
inline constexpr uint32_t kShortMatch = 261;   // 261..268: two bytes from at most 256 back
inline constexpr uint32_t kNewTables = 269;
inline constexpr uint32_t kMatch = 270;  // 270..297: a length slot; a distance slot follows
inline constexpr uint32_t kAudioNewTables = 256;

// Extra-bit counts of the length, distance and short-distance slots. Each slot's base is the
// previous base plus the range of the previous slot's extra bits.
inline constexpr uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                            2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
inline constexpr uint8_t kDistBits[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,
                                          5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
                                          11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16,
                                          16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
inline constexpr uint8_t kShortDistBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

template <int N>
struct Bases {
    uint32_t v[N];
};

template <int N>
constexpr Bases<N> MakeBases(const uint8_t (&bits)[N]) {
    Bases<N> b{};
    for (int i = 1; i < N; ++i) {
        b.v[i] = b.v[i - 1] + (1u << bits[i - 1]);
    }
    return b;
}

inline constexpr Bases<28> kLengthBase = MakeBases(kLengthBits);
inline constexpr Bases<48> kDistBase = MakeBases(kDistBits);
inline constexpr Bases<8> kShortDistBase = MakeBases(kShortDistBits);
static_assert(kLengthBase.v[27] == 224 && kDistBase.v[47] == 983040 &&
              kShortDistBase.v[7] == 192);
static_assert(kMatch + 28 == static_cast<uint32_t>(kMainSymbols));

}  // namespace rar20
