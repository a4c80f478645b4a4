#include "core/files/archive/rar_unpack20.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint32_t kWindowSize = 0x100000;
constexpr uint32_t kWindowMask = kWindowSize - 1;

// Table sizes of the format: main (literals, repeats, short matches, the table code and 28
// length slots), distance slots, repeat-length slots, the bit-length code, and one
// multimedia table per channel (256 deltas and the table code).
constexpr int kMainSymbols = 298;
constexpr int kDistSymbols = 48;
constexpr int kRepSymbols = 28;
constexpr int kLengthCodeSymbols = 19;
constexpr int kAudioSymbols = 257;
constexpr int kMaxChannels = 4;
constexpr int kLzTableSize = kMainSymbols + kDistSymbols + kRepSymbols;  // 374
constexpr int kMaxTableSize = kAudioSymbols * kMaxChannels;              // 1028

// The longest match: length slot 27 with all its extra bits (258), plus 2 for a far distance.
constexpr uint32_t kMaxMatch = 260;

// Every match is at most 260 bytes, so flushing once fewer than 270 window bytes are free
// keeps unflushed bytes from being overwritten.
constexpr uint32_t kFlushMargin = 270;

// The quick loop copies matches in 8-byte steps, which may write up to 7 bytes past a match's
// end; it runs only while a whole match and those bytes fit before the end of the output.
constexpr uint32_t kQuickRoom = kMaxMatch + 8;

// Base values and extra-bit counts of the length, distance and short-distance slots. Each
// base is the previous base plus the range of the previous slot's extra bits.
constexpr uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                     2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint8_t kDistBits[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,
                                   5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
                                   11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16,
                                   16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
constexpr uint8_t kShortDistBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

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

constexpr Bases<28> kLengthBase = MakeBases(kLengthBits);
constexpr Bases<48> kDistBase = MakeBases(kDistBits);
constexpr Bases<8> kShortDistBase = MakeBases(kShortDistBits);
static_assert(kLengthBase.v[27] == 224 && kDistBase.v[47] == 983040 &&
              kShortDistBase.v[7] == 192);
static_assert(kLengthBase.v[27] + 31 + 3 + 2 == kMaxMatch);

// Eight bytes as the next 64 bits of the stream, which comes most significant bit first.
inline uint64_t LoadBits(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof(v));
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap64(v);
    }
    return v;
}

// The top n bits (0 to 32) of a bit buffer whose next bit is its top bit.
inline uint32_t TopBits(uint64_t bits, uint32_t n) {
    return static_cast<uint32_t>((bits >> 1) >> (63 - n));
}

// Takes the top n bits off `bits` and counts them in `used`.
inline uint32_t Take(uint64_t& bits, uint32_t n, uint32_t& used) {
    uint32_t v = TopBits(bits, n);
    bits <<= n;
    used += n;
    return v;
}

// Reads bits most significant first from the member's packed bytes through a 64-bit buffer
// whose top bit is the next bit of the input; bytes past the end read as zero, and the caller
// checks Overrun before trusting what it decoded. A refill loads the eight bytes from `next`
// on and counts whole bytes of them until `count` is 56 or more: enough for one symbol with
// all its fields (at most 51 bits). The uncounted low bits already hold the bytes that follow,
// so the next refill, which ORs those bytes in again, leaves them as they are.
struct BitReader {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint64_t next = 0;  // the byte the next refill loads from
    uint64_t bits = 0;
    uint32_t count = 0;  // bits of `bits` counted as read from the input

    void Start(const uint8_t* d, uint32_t n) {
        data = d;
        size = n;
        next = 0;
        bits = 0;
        count = 0;
        Refill();
    }
    // Whether RefillQuick may run: eight bytes to load from `next` on.
    bool CanRefillQuickly() const { return next + 8 <= size; }
    void RefillQuick() {
        bits |= LoadBits(data + next) >> count;
        next += (63 - count) >> 3;
        count |= 56;
    }
    void Refill() {
        if (CanRefillQuickly()) {
            RefillQuick();
            return;
        }
        uint64_t v = 0;
        for (uint64_t i = next; i < next + 8; ++i) {
            v = v << 8 | (i < size ? data[i] : 0u);
        }
        bits |= v >> count;
        next += (63 - count) >> 3;
        count |= 56;
    }
    // n up to count.
    void Skip(uint32_t n) {
        bits <<= n;
        count -= n;
    }
    // n from 0 to 16; refills first.
    uint32_t Get(uint32_t n) {
        Refill();
        uint32_t v = TopBits(bits, n);
        Skip(n);
        return v;
    }
    // The position of the next bit.
    uint64_t Pos() const { return next * 8 - count; }
    bool Overrun() const { return Pos() > static_cast<uint64_t>(size) * 8; }
    uint64_t BytesLeft() const {
        uint64_t used = (Pos() + 7) >> 3;
        return used < size ? size - used : 0;
    }
};

// A canonical Huffman code: codes are handed out by increasing length, and by symbol within
// a length. limit[L] is the first 16-bit left-justified value past the codes of length L.
// Codes of up to kQuickBits bits decode with one look-up; longer ones (rare: they stand for
// the rarest symbols) search the limits from length kQuickBits + 1.
template <int kQuickBits, int kMaxSymbols>
struct HuffmanDecoder {
    static_assert(kQuickBits <= 12 && kMaxSymbols <= 1024);
    // For the next kQuickBits of input: symbol << 6 | code length, or 0 when the code is
    // longer. The limits of lengths up to kQuickBits are multiples of 2^(16 - kQuickBits),
    // so the next kQuickBits alone tell whether the code is longer.
    uint16_t quick[1 << kQuickBits];
    uint32_t limit[16];
    uint32_t firstIndex[16];
    uint16_t symbols[kMaxSymbols];
    int numSymbols;

    // n at most kMaxSymbols.
    void Build(const uint8_t* lengths, int n) {
        numSymbols = n;
        uint32_t count[16] = {};
        for (int i = 0; i < n; ++i) {
            ++count[lengths[i] & 15];
        }
        count[0] = 0;
        limit[0] = 0;
        firstIndex[0] = 0;
        uint32_t start = 0;  // first code of the current length
        for (int len = 1; len < 16; ++len) {
            start = (start + count[len - 1]) << 1;
            limit[len] = (start + count[len]) << (16 - len);
            firstIndex[len] = firstIndex[len - 1] + count[len - 1];
        }
        std::memset(symbols, 0, sizeof(symbols[0]) * static_cast<size_t>(n));
        uint32_t next[16];
        std::memcpy(next, firstIndex, sizeof(next));
        for (int i = 0; i < n; ++i) {
            int len = lengths[i] & 15;
            if (len != 0) {
                symbols[next[len]++] = static_cast<uint16_t>(i);
            }
        }
        // The codes of length len cover the values from limit[len - 1] to limit[len] (limits
        // past 16 bits, from an overfull table, cover the rest): runs of 2^(kQuickBits - len)
        // whole quick entries, one run per code.
        uint32_t q = 0;
        for (int len = 1; len <= kQuickBits; ++len) {
            const uint32_t end = std::min<uint32_t>(limit[len], 0x10000) >> (16 - kQuickBits);
            const uint32_t run = 1u << (kQuickBits - len);
            for (uint32_t index = firstIndex[len]; q < end; q += run, ++index) {
                uint16_t entry = static_cast<uint16_t>(symbols[index] << 6 | len);
                if (run >= 4) {
                    const uint64_t four = entry * 0x0001000100010001u;
                    for (uint32_t i = 0; i < run; i += 4) {
                        std::memcpy(quick + q + i, &four, sizeof(four));
                    }
                } else {
                    for (uint32_t i = 0; i < run; ++i) {
                        quick[q + i] = entry;
                    }
                }
            }
        }
        std::fill(quick + q, quick + (1 << kQuickBits), uint16_t{0});
    }

    // A value that no code covers (an incomplete or overfull table) decodes as symbol 0,
    // which keeps every index inside the table.
    uint32_t SymbolAt(uint32_t bits, uint32_t len) const {
        uint32_t lower = limit[len - 1];
        uint32_t index = bits >= lower ? firstIndex[len] + ((bits - lower) >> (16 - len)) : 0;
        return index < static_cast<uint32_t>(numSymbols) ? symbols[index] : 0;
    }

    // The symbol whose code starts at the top bit of `bits`; *length gets the code's length.
    uint32_t Decode(uint64_t bits, uint32_t* length) const {
        uint32_t e = quick[bits >> (64 - kQuickBits)];
        if (e != 0) {
            *length = e & 63;  // a shift by it needs no masking on most machines
            return e >> 6;
        }
        uint32_t top = static_cast<uint32_t>(bits >> 48);
        uint32_t len = kQuickBits + 1;
        while (len < 15 && top >= limit[len]) {
            ++len;
        }
        *length = len;
        return SymbolAt(top, len);
    }

    // Refills `in` first.
    uint32_t Decode(BitReader& in) const {
        in.Refill();
        uint32_t len;
        uint32_t sym = Decode(in.bits, &len);
        in.Skip(len);
        return sym;
    }
};

// Most main and multimedia symbols have codes of up to 10 bits; the smaller tables have
// shorter codes and are rebuilt as often, so their quick tables are smaller.
using MainDecoder = HuffmanDecoder<10, kMainSymbols>;
using AudioDecoder = HuffmanDecoder<10, kAudioSymbols>;
using DistDecoder = HuffmanDecoder<8, kDistSymbols>;
using RepDecoder = HuffmanDecoder<8, kRepSymbols>;
using LengthDecoder = HuffmanDecoder<7, kLengthCodeSymbols>;

// The distances of the last four matches (the newest at ptr - 1) and the last match.
struct MatchHistory {
    uint32_t dist[4];
    uint32_t ptr;
    uint32_t lastLength;
    uint32_t lastDist;
};

// The length and distance of main symbol `sym`, a match (256 to 268, or 270 and up), from
// the bits that follow its code; returns how many of them it takes.
inline uint32_t MatchFields(uint32_t sym, uint64_t bits, const MatchHistory& h,
                            const DistDecoder& distCode, const RepDecoder& repCode,
                            uint32_t* length, uint32_t* distance) {
    uint32_t used = 0;
    if (sym >= 270) {
        uint32_t slot = sym - 270;  // below 28: the table has 298 symbols
        uint32_t len = kLengthBase.v[slot] + 3 + Take(bits, kLengthBits[slot], used);
        uint32_t codeLength;
        uint32_t dslot = distCode.Decode(bits, &codeLength);
        bits <<= codeLength;
        used += codeLength;
        uint32_t dist = kDistBase.v[dslot] + 1 + Take(bits, kDistBits[dslot], used);
        *distance = dist;
        *length = len + (dist >= 0x2000 ? 1 : 0) + (dist >= 0x40000 ? 1 : 0);
    } else if (sym == 256) {
        *length = h.lastLength;
        *distance = h.lastDist;
    } else if (sym < 261) {
        uint32_t dist = h.dist[(h.ptr - (sym - 256)) & 3];
        uint32_t codeLength;
        uint32_t slot = repCode.Decode(bits, &codeLength);
        bits <<= codeLength;
        used += codeLength;
        uint32_t len = kLengthBase.v[slot] + 2 + Take(bits, kLengthBits[slot], used);
        *distance = dist;
        *length = len + (dist >= 0x101 ? 1 : 0) + (dist >= 0x2000 ? 1 : 0) +
                  (dist >= 0x40000 ? 1 : 0);
    } else {
        uint32_t slot = sym - 261;
        *distance = kShortDistBase.v[slot] + 1 + Take(bits, kShortDistBits[slot], used);
        *length = 2;
    }
    return used;
}

inline void Remember(MatchHistory& h, uint32_t length, uint32_t distance) {
    h.dist[h.ptr++ & 3] = distance;
    h.lastDist = distance;
    h.lastLength = length;
}

// The multimedia predictor of one channel: a linear prediction from the last byte and the
// last four deltas with five adaptive weights.
struct AudioChannel {
    int k[5];
    int d[4];
    int lastDelta;
    uint32_t errorSum[11];
    uint32_t byteCount;
    int lastByte;
};

inline uint32_t Abs(int v) { return static_cast<uint32_t>(v < 0 ? -v : v); }

// The next byte of channel v from its coded delta; channelDelta is the last delta of any
// channel, which the prediction weighs in too.
inline uint8_t PredictAudioByte(AudioChannel& v, int& channelDelta, int delta) {
    ++v.byteCount;
    v.d[3] = v.d[2];
    v.d[2] = v.d[1];
    v.d[1] = v.lastDelta - v.d[0];
    v.d[0] = v.lastDelta;
    int predicted = 8 * v.lastByte + v.k[0] * v.d[0] + v.k[1] * v.d[1] + v.k[2] * v.d[2] +
                    v.k[3] * v.d[3] + v.k[4] * channelDelta;
    predicted = (predicted >> 3) & 0xFF;
    uint32_t ch = static_cast<uint32_t>(predicted - delta) & 0xFF;
    int d = static_cast<int>(static_cast<int8_t>(static_cast<uint8_t>(delta))) * 8;
    // Error sums of the prediction with each weight moved one step either way.
    v.errorSum[0] += Abs(d);
    v.errorSum[1] += Abs(d - v.d[0]);
    v.errorSum[2] += Abs(d + v.d[0]);
    v.errorSum[3] += Abs(d - v.d[1]);
    v.errorSum[4] += Abs(d + v.d[1]);
    v.errorSum[5] += Abs(d - v.d[2]);
    v.errorSum[6] += Abs(d + v.d[2]);
    v.errorSum[7] += Abs(d - v.d[3]);
    v.errorSum[8] += Abs(d + v.d[3]);
    v.errorSum[9] += Abs(d - channelDelta);
    v.errorSum[10] += Abs(d + channelDelta);
    v.lastDelta = static_cast<int8_t>(static_cast<uint8_t>(ch - static_cast<uint32_t>(v.lastByte)));
    channelDelta = v.lastDelta;
    v.lastByte = static_cast<int>(ch);

    if ((v.byteCount & 0x1F) == 0) {
        uint32_t minSum = v.errorSum[0];
        int best = 0;
        v.errorSum[0] = 0;
        for (int i = 1; i < 11; ++i) {
            if (v.errorSum[i] < minSum) {
                minSum = v.errorSum[i];
                best = i;
            }
            v.errorSum[i] = 0;
        }
        if (best != 0) {
            int& k = v.k[(best - 1) / 2];
            if ((best & 1) != 0) {
                if (k >= -16) {
                    --k;
                }
            } else if (k < 16) {
                ++k;
            }
        }
    }
    return static_cast<uint8_t>(ch);
}

// Copies a match of `length` bytes from `distance` bytes back, in 8-byte steps that may
// write up to 7 bytes past its end. A distance under 8 repeats its pattern: the steps then
// advance by a multiple of the distance, so every step writes the pattern in phase.
inline void CopyBack(uint8_t* dst, uint32_t distance, uint32_t length) {
    const uint8_t* src = dst - distance;
    uint8_t* const end = dst + length;
    if (distance >= 8) {
        // Each step reads bytes at least 8 back, all of them written already.
        do {
            uint64_t v;
            std::memcpy(&v, src, 8);
            std::memcpy(dst, &v, 8);
            src += 8;
            dst += 8;
        } while (dst < end);
        return;
    }
    static constexpr uint8_t kStep[8] = {0, 8, 8, 6, 8, 5, 6, 7};
    uint8_t pattern[8];
    for (uint32_t i = 0; i < 8; ++i) {
        pattern[i] = i < distance ? src[i] : pattern[i - distance];
    }
    const uint32_t step = kStep[distance];
    do {
        std::memcpy(dst, pattern, 8);
        dst += step;
    } while (dst < end);
}

}  // namespace

struct RarUnpack20::State {
    uint8_t window[kWindowSize];
    uint32_t writePos = 0;
    uint32_t flushStart = 0;
    // Bytes produced since the last reset, capped at the window size: a match may not reach
    // further back than that.
    uint32_t produced = 0;

    BitReader in;
    uint8_t* out = nullptr;
    uint32_t outSize = 0;
    uint32_t outFill = 0;
    bool outFull = false;

    // With room in out for the whole member, its bytes go straight there (direct) instead of
    // through the window; writePos and produced stay as the member found them until Settle
    // gives the window the member's last bytes, for a solid continuation. memberPos counts
    // the member's bytes so far; a last match running past the member's end puts the extra
    // bytes in overshoot, where the window would have had them.
    bool direct = false;
    uint32_t memberSize = 0;
    uint64_t memberPos = 0;
    uint8_t overshoot[kMaxMatch];

    MainDecoder mainCode;
    DistDecoder distCode;
    RepDecoder repCode;
    LengthDecoder lengthCode;
    AudioDecoder audioCode[kMaxChannels];
    uint8_t oldLengths[kMaxTableSize];
    bool tablesValid = false;

    MatchHistory history;

    bool audioMode = false;
    int channels = 1;
    int curChannel = 0;
    int channelDelta = 0;
    AudioChannel audio[kMaxChannels];

    // The window is not cleared: CopyMatch refuses to reach behind the first byte written
    // since the reset, so no byte of an earlier stream, nor an unset one, is ever read.
    void Reset() {
        writePos = flushStart = produced = 0;
        history = MatchHistory{};
        audioMode = false;
        channels = 1;
        curChannel = 0;
        channelDelta = 0;
        std::memset(audio, 0, sizeof(audio));
        std::memset(oldLengths, 0, sizeof(oldLengths));
        tablesValid = false;
    }

    bool ReadTables();
    uint64_t Produced() const;
    void PutByte(uint8_t b);
    bool CopyMatch(uint32_t length, uint32_t distance);
    uint64_t Quick(int64_t left);
    uint8_t* QuickLz(uint8_t* dst, uint8_t* stop, const uint8_t* lo);
    uint8_t* QuickAudio(uint8_t* dst, uint8_t* stop);
    void Flush();
    void Settle();
};

bool RarUnpack20::State::ReadTables() {
    tablesValid = false;
    in.Refill();
    uint32_t head = TopBits(in.bits, 4);
    in.Skip(2);
    audioMode = (head & 8) != 0;
    if ((head & 4) == 0) {
        std::memset(oldLengths, 0, sizeof(oldLengths));
    }
    int tableSize = kLzTableSize;
    if (audioMode) {
        channels = static_cast<int>(head & 3) + 1;
        if (curChannel >= channels) {
            curChannel = 0;
        }
        in.Skip(2);
        tableSize = kAudioSymbols * channels;
    }
    uint8_t bitLengths[kLengthCodeSymbols];
    for (uint8_t& b : bitLengths) {
        b = static_cast<uint8_t>(in.Get(4));
    }
    lengthCode.Build(bitLengths, kLengthCodeSymbols);

    // Each length takes at most 15 + 7 bits with its repeat count: one refill apiece.
    uint8_t lengths[kMaxTableSize];
    BitReader r = in;
    for (int i = 0; i < tableSize;) {
        if (r.Overrun()) {
            in = r;
            return false;
        }
        uint32_t sym = lengthCode.Decode(r);
        if (sym < 16) {
            lengths[i] = static_cast<uint8_t>((sym + oldLengths[i]) & 15);
            ++i;
        } else if (sym == 16) {
            // Repeats the previous length, so it cannot come first.
            if (i == 0) {
                in = r;
                return false;
            }
            uint32_t n = TopBits(r.bits, 2) + 3;
            r.Skip(2);
            for (; n > 0 && i < tableSize; --n, ++i) {
                lengths[i] = lengths[i - 1];
            }
        } else {
            uint32_t n;
            if (sym == 17) {
                n = TopBits(r.bits, 3) + 3;
                r.Skip(3);
            } else {
                n = TopBits(r.bits, 7) + 11;
                r.Skip(7);
            }
            for (; n > 0 && i < tableSize; --n) {
                lengths[i++] = 0;
            }
        }
    }
    in = r;
    if (in.Overrun()) {
        return false;
    }
    if (audioMode) {
        for (int c = 0; c < channels; ++c) {
            audioCode[c].Build(lengths + c * kAudioSymbols, kAudioSymbols);
        }
    } else {
        mainCode.Build(lengths, kMainSymbols);
        distCode.Build(lengths + kMainSymbols, kDistSymbols);
        repCode.Build(lengths + kMainSymbols + kDistSymbols, kRepSymbols);
    }
    std::memcpy(oldLengths, lengths, static_cast<size_t>(tableSize));
    tablesValid = true;
    return true;
}

uint64_t RarUnpack20::State::Produced() const {
    if (!direct) {
        return produced;
    }
    return std::min<uint64_t>(produced + memberPos, kWindowSize);
}

void RarUnpack20::State::PutByte(uint8_t b) {
    if (direct) {
        if (memberPos < memberSize) {
            out[memberPos] = b;
        } else {
            overshoot[memberPos - memberSize] = b;
        }
        ++memberPos;
        return;
    }
    window[writePos] = b;
    writePos = (writePos + 1) & kWindowMask;
    produced += produced < kWindowSize ? 1 : 0;
}

// One byte at a time, for the matches the quick loop leaves: near the ends of the output,
// across the window's wrap, or reaching behind the member's first byte into the window.
bool RarUnpack20::State::CopyMatch(uint32_t length, uint32_t distance) {
    // A match into the zeroed window before the stream's first byte (or a distance of 0,
    // which only unset old distances give) never comes from a real encoder.
    if (distance == 0 || distance > Produced()) {
        return false;
    }
    Remember(history, length, distance);
    if (!direct) {
        uint32_t src = writePos - distance;
        for (uint32_t i = 0; i < length; ++i) {
            window[writePos] = window[src & kWindowMask];
            writePos = (writePos + 1) & kWindowMask;
            ++src;
        }
        produced = produced + length < kWindowSize ? produced + length : kWindowSize;
        return true;
    }
    for (uint32_t i = 0; i < length; ++i) {
        // Bytes before the member's first are in the window, which holds the member's start
        // at writePos (distance is at most the window size, so they are not overwritten yet).
        int64_t from = static_cast<int64_t>(memberPos) - distance;
        uint8_t b;
        if (from < 0) {
            b = window[(writePos + static_cast<uint32_t>(from)) & kWindowMask];
        } else if (from < memberSize) {
            b = out[from];
        } else {
            b = overshoot[from - memberSize];
        }
        PutByte(b);
    }
    return true;
}

// Decodes LZ symbols to dst onward while the input has 8 bytes to spare and dst is below
// stop, copying matches from dst's own bytes back to lo. It stops before the first symbol it
// leaves to the careful path: new tables, a match reaching behind lo, or a bad distance.
// Returns the new end of the output.
uint8_t* RarUnpack20::State::QuickLz(uint8_t* dst, uint8_t* const stop, const uint8_t* const lo) {
    // Locals, so that the compiler need not reload them after every byte written.
    BitReader r = in;
    MatchHistory h = history;
    while (dst < stop && r.CanRefillQuickly()) {
        r.RefillQuick();
        uint32_t used;
        uint32_t sym = mainCode.Decode(r.bits, &used);
        if (sym < 256) {
            *dst++ = static_cast<uint8_t>(sym);
            r.Skip(used);
            // A second literal needs no refill: 56 bits held, at most 15 taken.
            if (dst < stop) {
                sym = mainCode.Decode(r.bits, &used);
                if (sym < 256) {
                    *dst++ = static_cast<uint8_t>(sym);
                    r.Skip(used);
                }
            }
            continue;
        }
        if (sym == 269) {
            break;
        }
        uint32_t length;
        uint32_t distance;
        used += MatchFields(sym, r.bits << used, h, distCode, repCode, &length, &distance);
        // Also refuses a distance of 0, which the careful path then fails on.
        if (static_cast<size_t>(distance) - 1 >= static_cast<size_t>(dst - lo)) {
            break;
        }
        r.Skip(used);
        Remember(h, length, distance);
        CopyBack(dst, distance, length);
        dst += length;
    }
    in = r;
    history = h;
    return dst;
}

// The multimedia counterpart of QuickLz: one byte per symbol, stopping before new tables.
uint8_t* RarUnpack20::State::QuickAudio(uint8_t* dst, uint8_t* const stop) {
    BitReader r = in;
    AudioChannel chans[kMaxChannels];
    std::memcpy(chans, audio, sizeof(chans));
    int delta = channelDelta;
    int cur = curChannel;
    const int numChannels = channels;
    while (dst < stop && r.CanRefillQuickly()) {
        r.RefillQuick();
        uint32_t used;
        uint32_t sym = audioCode[cur].Decode(r.bits, &used);
        if (sym == 256) {
            break;
        }
        r.Skip(used);
        *dst++ = PredictAudioByte(chans[cur], delta, static_cast<int>(sym));
        cur = cur + 1 == numChannels ? 0 : cur + 1;
    }
    in = r;
    std::memcpy(audio, chans, sizeof(chans));
    channelDelta = delta;
    curChannel = cur;
    return dst;
}

// Runs the quick loop for as much of the member as it can take (left > 0 bytes to go);
// returns how many bytes it produced. It never goes where the careful path would act
// differently: past the end of the input's 8-byte margin, within a match's room of the end
// of the output or the window, or (through the window) to where Decode would flush.
uint64_t RarUnpack20::State::Quick(int64_t left) {
    uint8_t* lo;
    uint8_t* dst;
    uint64_t room;   // bytes from dst to the end of the output
    uint64_t limit;  // bytes the loop may start symbols in, besides room
    if (direct) {
        lo = out;
        dst = out + memberPos;
        room = memberSize - memberPos;
        limit = room;
    } else {
        lo = window;
        dst = window + writePos;
        room = kWindowSize - writePos;
        uint32_t unflushed = (writePos - flushStart) & kWindowMask;
        if (unflushed > kWindowSize - kFlushMargin) {
            return 0;
        }
        limit = std::min<uint64_t>(static_cast<uint64_t>(left),
                                   kWindowSize - kFlushMargin + 1 - unflushed);
    }
    uint8_t* end;
    if (audioMode) {
        end = QuickAudio(dst, dst + std::min(room, limit));
    } else {
        if (room <= kQuickRoom) {
            return 0;
        }
        end = QuickLz(dst, dst + std::min(room - kQuickRoom, limit), lo);
    }
    uint64_t n = static_cast<uint64_t>(end - dst);
    if (direct) {
        memberPos += n;
    } else {
        writePos = static_cast<uint32_t>(writePos + n) & kWindowMask;
        produced = static_cast<uint32_t>(std::min<uint64_t>(produced + n, kWindowSize));
    }
    return n;
}

void RarUnpack20::State::Flush() {
    uint32_t n = (writePos - flushStart) & kWindowMask;
    if (out != nullptr && n > 0) {
        uint32_t room = outSize - outFill;
        if (n > room) {
            n = room;
            outFull = true;
        }
        uint32_t first = kWindowSize - flushStart < n ? kWindowSize - flushStart : n;
        std::memcpy(out + outFill, window + flushStart, first);
        std::memcpy(out + outFill + first, window, n - first);
        outFill += n;
    }
    flushStart = writePos;
}

// Ends a direct member: the window gets its last bytes (up to the window's size) where
// decoding through the window would have put them, and out the overshoot that fits.
void RarUnpack20::State::Settle() {
    const uint64_t total = memberPos;
    const uint64_t from = total - std::min<uint64_t>(total, kWindowSize);
    auto toWindow = [this](uint64_t at, const uint8_t* src, uint64_t n) {
        uint32_t pos = (writePos + static_cast<uint32_t>(at)) & kWindowMask;
        uint32_t first = static_cast<uint32_t>(std::min<uint64_t>(n, kWindowSize - pos));
        std::memcpy(window + pos, src, first);
        std::memcpy(window, src + first, n - first);
    };
    if (from < memberSize) {
        toWindow(from, out + from, memberSize - from);
    }
    const uint64_t extra = total > memberSize ? total - memberSize : 0;
    const uint64_t extraFrom = from > memberSize ? from - memberSize : 0;
    toWindow(memberSize + extraFrom, overshoot + extraFrom, extra - extraFrom);
    writePos = static_cast<uint32_t>(writePos + total) & kWindowMask;
    flushStart = writePos;
    produced = static_cast<uint32_t>(std::min<uint64_t>(produced + total, kWindowSize));
    uint32_t given = static_cast<uint32_t>(std::min<uint64_t>(extra, outSize - memberSize));
    std::memcpy(out + memberSize, overshoot, given);
    outFill = memberSize + given;
}

// Default-initialised: the 1 MB window needs no clearing (see Reset).
RarUnpack20::RarUnpack20() : s_(new State) {
    s_->mainCode = MainDecoder{};
    s_->distCode = DistDecoder{};
    s_->repCode = RepDecoder{};
    s_->lengthCode = LengthDecoder{};
    for (AudioDecoder& code : s_->audioCode) {
        code = AudioDecoder{};
    }
    s_->Reset();
}

RarUnpack20::~RarUnpack20() { delete s_; }

bool RarUnpack20::Decode(const uint8_t* data, uint32_t packed, uint32_t unpacked,
                         bool keepState, uint8_t* out, uint32_t outSize, uint32_t* written) {
    State& s = *s_;
    s.in.Start(data, packed);
    s.out = out;
    s.outSize = out != nullptr ? outSize : 0;
    s.outFill = 0;
    s.outFull = false;
    s.direct = out != nullptr && outSize >= unpacked;
    s.memberSize = unpacked;
    s.memberPos = 0;
    *written = 0;
    if (!keepState) {
        s.Reset();
        if (!s.ReadTables()) {
            return false;
        }
    } else if (!s.tablesValid) {
        return false;
    }

    // The quick loop takes every symbol it can; the rest of this loop is the careful path,
    // one symbol at a time with every check.
    int64_t left = unpacked;
    while (left > 0) {
        left -= static_cast<int64_t>(s.Quick(left));
        if (left <= 0) {
            break;
        }
        if (s.in.Overrun()) {
            s.tablesValid = false;
            return false;
        }
        if (!s.direct && ((s.flushStart - s.writePos) & kWindowMask) < kFlushMargin &&
            s.flushStart != s.writePos) {
            s.Flush();
            if (s.outFull) {
                break;
            }
        }
        if (s.audioMode) {
            uint32_t sym = s.audioCode[s.curChannel].Decode(s.in);
            if (sym == 256) {
                if (!s.ReadTables()) {
                    return false;
                }
                continue;
            }
            s.PutByte(PredictAudioByte(s.audio[s.curChannel], s.channelDelta, static_cast<int>(sym)));
            s.curChannel = s.curChannel + 1 == s.channels ? 0 : s.curChannel + 1;
            --left;
            continue;
        }

        s.in.Refill();
        uint32_t used;
        uint32_t sym = s.mainCode.Decode(s.in.bits, &used);
        if (sym < 256) {
            s.in.Skip(used);
            s.PutByte(static_cast<uint8_t>(sym));
            --left;
            continue;
        }
        if (sym == 269) {
            s.in.Skip(used);
            if (!s.ReadTables()) {
                return false;
            }
            continue;
        }
        uint32_t length;
        uint32_t distance;
        used += MatchFields(sym, s.in.bits << used, s.history, s.distCode, s.repCode, &length,
                            &distance);
        s.in.Skip(used);
        if (!s.CopyMatch(length, distance)) {
            s.tablesValid = false;
            return false;
        }
        left -= length;
    }
    if (s.in.Overrun()) {
        s.tablesValid = false;
        return false;
    }

    // A solid stream's next tables may follow the last symbol of this member.
    if (s.in.BytesLeft() >= 5) {
        uint32_t sym = s.audioMode ? s.audioCode[s.curChannel].Decode(s.in) : s.mainCode.Decode(s.in);
        if (sym == (s.audioMode ? 256u : 269u)) {
            s.ReadTables();
        }
    }
    if (s.direct) {
        s.Settle();
    } else {
        s.Flush();
    }
    *written = s.outFill;
    return true;
}
