#include "core/files/archive/rar_unpack20.h"

#include "core/files/archive/rar20_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using namespace rar20;

constexpr uint32_t kWindowMask = kWindowSize - 1;

// The longest match: length slot 27 with all its extra bits (258), plus 2 for a far distance.
constexpr uint32_t kMaxMatch = 260;

// Every match is at most 260 bytes, so flushing once fewer than 270 window bytes are free
// keeps unflushed bytes from being overwritten.
constexpr uint32_t kFlushMargin = 270;

// The quick loop copies matches in 8-byte steps, which may write up to 7 bytes past a match's
// end; it runs only while a whole match and those bytes fit before the end of the output.
constexpr uint32_t kQuickRoom = kMaxMatch + 8;

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
    // Whether eight bytes follow `next`.
    bool CanRefillQuickly() const { return next + 8 <= size; }
    void Refill() {
        uint64_t v = 0;
        if (CanRefillQuickly()) {
            v = LoadBits(data + next);
        } else {
            for (uint64_t i = next; i < next + 8; ++i) {
                v = v << 8 | (i < size ? data[i] : 0u);
            }
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

// The reader in the quick loops, which refill only where eight bytes follow `next`: a pointer
// instead of an offset, and no bounds. Take it only where the input has such a margin.
struct QuickReader {
    const uint8_t* next;
    uint64_t bits;
    uint32_t count;

    explicit QuickReader(const BitReader& in)
        : next(in.data + in.next), bits(in.bits), count(in.count) {}
    void Refill() {
        bits |= LoadBits(next) >> count;
        next += (63 - count) >> 3;
        count |= 56;
    }
    void Skip(uint32_t n) {
        bits <<= n;
        count -= n;
    }
    void StoreTo(BitReader& in) const {
        in.next = static_cast<uint64_t>(next - in.data);
        in.bits = bits;
        in.count = count;
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
[[gnu::always_inline]] inline uint32_t MatchFields(uint32_t sym, uint64_t bits,
                                                  const MatchHistory& h,
                                                  const DistDecoder& distCode,
                                                  const RepDecoder& repCode, uint32_t* length,
                                                  uint32_t* distance) {
    uint32_t used = 0;
    if (sym >= kMatch) {
        uint32_t slot = sym - kMatch;  // below 28: the table has 298 symbols
        uint32_t len = kLengthBase.v[slot] + 3 + Take(bits, kLengthBits[slot], used);
        uint32_t codeLength;
        uint32_t dslot = distCode.Decode(bits, &codeLength);
        bits <<= codeLength;
        used += codeLength;
        uint32_t dist = kDistBase.v[dslot] + 1 + Take(bits, kDistBits[dslot], used);
        *distance = dist;
        *length = len + (dist >= 0x2000 ? 1 : 0) + (dist >= 0x40000 ? 1 : 0);
    } else if (sym == kRepeatLast) {
        *length = h.lastLength;
        *distance = h.lastDist;
    } else if (sym < kShortMatch) {
        uint32_t dist = h.dist[(h.ptr - (sym - kRepeatLast)) & 3];
        uint32_t codeLength;
        uint32_t slot = repCode.Decode(bits, &codeLength);
        bits <<= codeLength;
        used += codeLength;
        uint32_t len = kLengthBase.v[slot] + 2 + Take(bits, kLengthBits[slot], used);
        *distance = dist;
        *length = len + (dist >= 0x101 ? 1 : 0) + (dist >= 0x2000 ? 1 : 0) +
                  (dist >= 0x40000 ? 1 : 0);
    } else {
        uint32_t slot = sym - kShortMatch;
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
// last four deltas with five adaptive weights. What changes with every byte is kept apart from
// the weights and their error sums, so that the quick loop can keep it in registers.
struct Predictor {
    int d[4];
    int lastDelta;
    int lastByte;
    uint32_t byteCount;
};

struct AudioChannel {
    Predictor p;
    int k[5];
    uint32_t errorSum[11];
};

inline uint32_t Abs(int v) { return static_cast<uint32_t>(v < 0 ? -v : v); }

// Error sums of the prediction with each weight moved one step either way: sums[0] of the
// plain one, sums[2i + 1] and sums[2i + 2] with weight i one lower and one higher. err is 8
// times the signed delta; x the four deltas of the prediction and the last of any channel.
inline void AddErrors(uint32_t sums[11], int err, const int x[5]) {
    sums[0] += Abs(err);
    for (int i = 0; i < 5; ++i) {
        sums[2 * i + 1] += Abs(err - x[i]);
        sums[2 * i + 2] += Abs(err + x[i]);
    }
}

inline int SignedDelta(int delta) {
    return static_cast<int8_t>(static_cast<uint8_t>(delta));
}

// One step of a channel's predictor: the byte coded by `delta`; channelDelta is the last
// delta of any channel, which the prediction weighs in too.
inline uint8_t PredictAudioByte(AudioChannel& channel, int& channelDelta, int delta) {
    Predictor& v = channel.p;
    const int* k = channel.k;
    ++v.byteCount;
    v.d[3] = v.d[2];
    v.d[2] = v.d[1];
    v.d[1] = v.lastDelta - v.d[0];
    v.d[0] = v.lastDelta;
    int predicted = 8 * v.lastByte + k[0] * v.d[0] + k[1] * v.d[1] + k[2] * v.d[2] +
                    k[3] * v.d[3] + k[4] * channelDelta;
    predicted = (predicted >> 3) & 0xFF;
    uint32_t ch = static_cast<uint32_t>(predicted - delta) & 0xFF;
    const int x[5] = {v.d[0], v.d[1], v.d[2], v.d[3], channelDelta};
    AddErrors(channel.errorSum, SignedDelta(delta) * 8, x);
    v.lastDelta = static_cast<int8_t>(static_cast<uint8_t>(ch - static_cast<uint32_t>(v.lastByte)));
    channelDelta = v.lastDelta;
    v.lastByte = static_cast<int>(ch);
    return static_cast<uint8_t>(ch);
}

// Every 32 bytes of a channel (at byteCount), the weight whose step would have erred least
// moves that step, and the sums start again.
inline void Adapt(AudioChannel& channel) {
    if ((channel.p.byteCount & 0x1F) != 0) {
        return;
    }
    uint32_t* errorSum = channel.errorSum;
    uint32_t minSum = errorSum[0];
    int best = 0;
    errorSum[0] = 0;
    for (int i = 1; i < 11; ++i) {
        if (errorSum[i] < minSum) {
            minSum = errorSum[i];
            best = i;
        }
        errorSum[i] = 0;
    }
    if (best != 0) {
        int& w = channel.k[(best - 1) / 2];
        if ((best & 1) != 0) {
            if (w >= -16) {
                --w;
            }
        } else if (w < 16) {
            ++w;
        }
    }
}

// The quick loop's record of one channel's block of 32 bytes, from which it makes the error
// sums once per block, eight bytes at a time. Of byte j: delta[j], its signed delta (the
// error is 8 times that); d0[kLead + j], the channel's last delta before it, from which the
// other three follow (d[1] of a byte is its d0 less the d0 before, d[2] and d[3] are d[1]
// one and two bytes back), so the three before the block lead it; cd[j], the last delta of
// any channel before it, when there are several channels (with one it is d0). Each fits 16
// bits: deltas are signed bytes, d[1] to d[3] differences of two, and the d0 that stand in
// for a predictor's deltas before the first byte recorded at most three of those apart.
struct ErrorBlock {
    static constexpr int kLead = 8;
    alignas(16) int8_t delta[32];
    alignas(16) int16_t d0[kLead + 32];
    alignas(16) int16_t cd[32];

    // d0 of the three bytes before byte `at`, made from the predictor's deltas after them.
    void Seed(int at, const Predictor& v) {
        int16_t* d = d0 + kLead + at;
        d[-1] = static_cast<int16_t>(v.d[0]);
        d[-2] = static_cast<int16_t>(d[-1] - v.d[1]);
        d[-3] = static_cast<int16_t>(d[-2] - v.d[2]);
    }

    // At the end of a block: its last three d0 lead the next.
    void Lead() { std::memcpy(d0 + kLead - 3, d0 + kLead + 29, 3 * sizeof(d0[0])); }

    // The prediction's deltas of byte j, d0 of the three before included.
    void Deltas(int j, bool oneChannel, int x[5]) const {
        const int16_t* d = d0 + kLead + j;
        x[0] = d[0];
        x[1] = d[0] - d[-1];
        x[2] = d[-1] - d[-2];
        x[3] = d[-2] - d[-3];
        x[4] = oneChannel ? d[0] : cd[j];
    }

    // The bytes from `from` to `to` of the block.
    void AddSome(uint32_t sums[11], int from, int to, bool oneChannel) const {
        for (int j = from; j < to; ++j) {
            int x[5];
            Deltas(j, oneChannel, x);
            AddErrors(sums, delta[j] * 8, x);
        }
    }

    // The whole block.
    void AddAll(uint32_t sums[11], bool oneChannel) const {
#if defined(__SSE2__)
        // |x| as max(x, -x): the terms are far from -32768. A lane sums 4 of the 32 bytes, at
        // most 4 * (1024 + 255), and fits 16 bits, signed. The eleven sums stay in registers:
        // the folds below index them with constants.
        const __m128i zero = _mm_setzero_si128();
        auto abs16 = [zero](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
        __m128i acc[11];
        for (__m128i& a : acc) {
            a = zero;
        }
        auto load = [](const int16_t* p) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        };
        for (int j = 0; j < 32; j += 8) {
            const int16_t* d = d0 + kLead + j;
            // The deltas widened with their sign, times 8.
            const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(delta + j));
            const __m128i e = _mm_slli_epi16(_mm_srai_epi16(_mm_unpacklo_epi8(bytes, bytes), 8), 3);
            const __m128i a = load(d), b = load(d - 1), c = load(d - 2), f = load(d - 3);
            const __m128i x[5] = {a, _mm_sub_epi16(a, b), _mm_sub_epi16(b, c), _mm_sub_epi16(c, f),
                                  oneChannel ? a : load(cd + j)};
            acc[0] = _mm_add_epi16(acc[0], abs16(e));
            [&]<int... i>(std::integer_sequence<int, i...>) {
                ((acc[2 * i + 1] = _mm_add_epi16(acc[2 * i + 1], abs16(_mm_sub_epi16(e, x[i]))),
                  acc[2 * i + 2] = _mm_add_epi16(acc[2 * i + 2], abs16(_mm_add_epi16(e, x[i])))),
                 ...);
            }(std::make_integer_sequence<int, 5>{});
        }
        // Each sum's lanes added pairwise to 32 bits, then four sums at a time across.
        const __m128i ones = _mm_set1_epi16(1);
        auto four = [&](int first, __m128i s0, __m128i s1, __m128i s2, __m128i s3) {
            s0 = _mm_madd_epi16(s0, ones);
            s1 = _mm_madd_epi16(s1, ones);
            s2 = _mm_madd_epi16(s2, ones);
            s3 = _mm_madd_epi16(s3, ones);
            __m128i u = _mm_add_epi32(_mm_unpacklo_epi32(s0, s1), _mm_unpackhi_epi32(s0, s1));
            __m128i v = _mm_add_epi32(_mm_unpacklo_epi32(s2, s3), _mm_unpackhi_epi32(s2, s3));
            __m128i t = _mm_add_epi32(_mm_unpacklo_epi64(u, v), _mm_unpackhi_epi64(u, v));
            alignas(16) uint32_t part[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(part), t);
            for (int i = 0; i < 4 && first + i < 11; ++i) {
                sums[first + i] += part[i];
            }
        };
        four(0, acc[0], acc[1], acc[2], acc[3]);
        four(4, acc[4], acc[5], acc[6], acc[7]);
        four(8, acc[8], acc[9], acc[10], zero);
#else
        AddSome(sums, 0, 32, oneChannel);
#endif
    }
};

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
    // The pattern of the last `distance` bytes, repeated over 8: those bytes times a
    // multiplier with a one every distance bytes (the copies cannot carry into each other).
    // Loading them reads up to 7 bytes past the match's start, inside the copy's room.
    static constexpr uint8_t kStep[8] = {0, 8, 8, 6, 8, 5, 6, 7};
    static constexpr uint64_t kRepeat[8] = {0,
                                            0x0101010101010101u,
                                            0x0001000100010001u,
                                            0x0001000001000001u,
                                            0x0000000100000001u,
                                            0x0000010000000001u,
                                            0x0001000000000001u,
                                            0x0100000000000001u};
    uint64_t pattern;
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t v;
        std::memcpy(&v, src, 8);
        pattern = (v & ((uint64_t{1} << (8 * distance)) - 1)) * kRepeat[distance];
    } else {
        uint8_t bytes[8];
        for (uint32_t i = 0; i < 8; ++i) {
            bytes[i] = i < distance ? src[i] : bytes[i - distance];
        }
        std::memcpy(&pattern, bytes, 8);
    }
    const uint32_t step = kStep[distance];
    do {
        std::memcpy(dst, &pattern, 8);
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
    template <int numChannels>
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
    for (int i = 0; i < tableSize;) {
        if (in.Overrun()) {
            return false;
        }
        uint32_t sym = lengthCode.Decode(in);
        if (sym < 16) {
            lengths[i] = static_cast<uint8_t>((sym + oldLengths[i]) & 15);
            ++i;
        } else if (sym == 16) {
            // Repeats the previous length, so it cannot come first.
            if (i == 0) {
                return false;
            }
            uint32_t n = TopBits(in.bits, 2) + 3;
            in.Skip(2);
            for (; n > 0 && i < tableSize; --n, ++i) {
                lengths[i] = lengths[i - 1];
            }
        } else {
            const uint32_t extra = sym == 17 ? 3 : 7;
            uint32_t n = TopBits(in.bits, extra) + (sym == 17 ? 3 : 11);
            in.Skip(extra);
            for (; n > 0 && i < tableSize; --n) {
                lengths[i++] = 0;
            }
        }
    }
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
    if (!in.CanRefillQuickly()) {
        return dst;
    }
    // Locals, so that the compiler need not reload them after every byte written.
    const uint8_t* const last = in.data + (in.size - 8);
    QuickReader r(in);
    MatchHistory h = history;
    while (dst < stop && r.next <= last) {
        r.Refill();
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
        if (sym == kNewTables) {
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
    r.StoreTo(in);
    history = h;
    return dst;
}

// The multimedia counterpart of QuickLz for `numChannels` channels (a constant, so that each
// channel's predictor stays in registers), starting with channel 0: one byte per symbol,
// stopping before new tables. The predictions are PredictAudioByte's, rearranged; with one
// channel, whose last delta is then the last of any channel, that delta's weights add up.
template <int numChannels>
uint8_t* RarUnpack20::State::QuickAudio(uint8_t* dst, uint8_t* const stop) {
    constexpr bool kOneChannel = numChannels == 1;
    constexpr int kLead = ErrorBlock::kLead;
    // A symbol takes at most 15 bits, and a refill finds the eight bytes it loads while
    // 8 * next, at most the bits taken plus 63, stays within the input's last 8 bytes: so
    // many symbols need no check of the input.
    const uint64_t margin = static_cast<uint64_t>(in.size) * 8;
    if (margin < 64 + 63 + in.Pos()) {
        return dst;
    }
    const uint64_t symbols = (margin - 64 - 63 - in.Pos()) / 15;
    uint8_t* const end = dst + std::min<uint64_t>(symbols, static_cast<uint64_t>(stop - dst));
    QuickReader r(in);
    // The predictors in locals; the weights stay where they are, which keeps registers free:
    // they change only once per block.
    Predictor p[numChannels];
    ErrorBlock blocks[numChannels];
    int first[numChannels];  // the first byte of each channel's block that is recorded
    for (int c = 0; c < numChannels; ++c) {
        p[c] = audio[c].p;
        first[c] = static_cast<int>(p[c].byteCount & 0x1F);
        blocks[c].Seed(first[c], p[c]);
    }
    int delta = channelDelta;
    int cur = 0;
    // One byte of channel c, after a refill if asked (which leaves room for three symbols);
    // false to stop before it.
    auto step = [&]<int c, bool refill>() __attribute__((always_inline)) {
        if (dst == end) {
            cur = c;
            return false;
        }
        if constexpr (refill) {
            r.Refill();
        }
        uint32_t used;
        const int sym = static_cast<int>(audioCode[c].Decode(r.bits, &used));
        if (sym == static_cast<int>(kAudioNewTables)) {
            cur = c;
            return false;
        }
        r.Skip(used);
        Predictor& v = p[c];
        const int* k = audio[c].k;
        ErrorBlock& block = blocks[c];
        const uint32_t j = v.byteCount & 0x1F;
        ++v.byteCount;
        const int d0 = v.lastDelta;
        const int d1 = d0 - v.d[0];
        int predicted;
        if constexpr (kOneChannel) {
            predicted = 8 * v.lastByte + (k[0] + k[1] + k[4]) * d0 - k[1] * v.d[0] +
                        k[2] * v.d[1] + k[3] * v.d[2];
        } else {
            predicted = 8 * v.lastByte + k[0] * d0 + k[1] * d1 + k[2] * v.d[1] +
                        k[3] * v.d[2] + k[4] * delta;
            block.cd[j] = static_cast<int16_t>(delta);
        }
        v.d[3] = v.d[2];
        v.d[2] = v.d[1];
        v.d[1] = d1;
        v.d[0] = d0;
        const int x = (predicted >> 3) - sym;
        *dst++ = static_cast<uint8_t>(x);
        delta = v.lastDelta = static_cast<int8_t>(static_cast<uint8_t>(x - v.lastByte));
        v.lastByte = x & 0xFF;
        block.delta[j] = static_cast<int8_t>(sym);
        block.d0[kLead + j] = static_cast<int16_t>(d0);
        if (j == 31) {
            if (first[c] == 0) {
                block.AddAll(audio[c].errorSum, kOneChannel);
            } else {
                block.AddSome(audio[c].errorSum, first[c], 32, kOneChannel);
                first[c] = 0;
            }
            block.Lead();
            audio[c].p.byteCount = v.byteCount;
            Adapt(audio[c]);
        }
        return true;
    };
    // A frame of all channels (three bytes of one), refilling before every third symbol or
    // less.
    auto frame = [&]() __attribute__((always_inline)) {
        if constexpr (numChannels == 1) {
            return step.template operator()<0, true>() && step.template operator()<0, false>() &&
                   step.template operator()<0, false>();
        } else if constexpr (numChannels == 2) {
            return step.template operator()<0, true>() && step.template operator()<1, false>();
        } else if constexpr (numChannels == 3) {
            return step.template operator()<0, true>() && step.template operator()<1, false>() &&
                   step.template operator()<2, false>();
        } else {
            return step.template operator()<0, true>() && step.template operator()<1, false>() &&
                   step.template operator()<2, true>() && step.template operator()<3, false>();
        }
    };
    while (frame()) {
    }
    // The bytes of each block so far join the sums.
    for (int c = 0; c < numChannels; ++c) {
        const int at = static_cast<int>(p[c].byteCount & 0x1F);
        blocks[c].AddSome(audio[c].errorSum, first[c], at, kOneChannel);
        audio[c].p = p[c];
    }
    r.StoreTo(in);
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
        // A frame of channels starts with channel 0; the careful path takes a frame's
        // first bytes when the loop stopped in its middle. With one channel, its last delta
        // must be the last of any (it is after its first byte).
        if (curChannel != 0 || (channels == 1 && channelDelta != audio[0].p.lastDelta)) {
            return 0;
        }
        uint8_t* const stop = dst + std::min(room, limit);
        switch (channels) {
        case 1:
            end = QuickAudio<1>(dst, stop);
            break;
        case 2:
            end = QuickAudio<2>(dst, stop);
            break;
        case 3:
            end = QuickAudio<3>(dst, stop);
            break;
        default:
            end = QuickAudio<4>(dst, stop);
            break;
        }
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
            if (sym == kAudioNewTables) {
                if (!s.ReadTables()) {
                    return false;
                }
                continue;
            }
            AudioChannel& channel = s.audio[s.curChannel];
            s.PutByte(PredictAudioByte(channel, s.channelDelta, static_cast<int>(sym)));
            Adapt(channel);
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
        if (sym == kNewTables) {
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
        uint32_t sym =
            s.audioMode ? s.audioCode[s.curChannel].Decode(s.in) : s.mainCode.Decode(s.in);
        if (sym == (s.audioMode ? kAudioNewTables : kNewTables)) {
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
