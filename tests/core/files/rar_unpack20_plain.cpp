#include "tests/core/files/rar_unpack20_plain.h"

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

// Every match is at most 260 bytes, so flushing once fewer than 270 window bytes are free
// keeps unflushed bytes from being overwritten.
constexpr uint32_t kFlushMargin = 270;

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

// Reads bits most significant first from the member's packed bytes; bytes past the end read
// as zero, and the caller checks Overrun before trusting what it decoded.
struct BitReader {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint64_t pos = 0;  // in bits

    uint32_t Byte(uint64_t i) const { return i < size ? data[i] : 0u; }
    // The next 16 bits without consuming them.
    uint32_t Peek16() const {
        uint64_t b = pos >> 3;
        uint32_t v;
        if (b + 2 < size) {
            v = static_cast<uint32_t>(data[b]) << 16 | static_cast<uint32_t>(data[b + 1]) << 8 |
                data[b + 2];
        } else {
            v = Byte(b) << 16 | Byte(b + 1) << 8 | Byte(b + 2);
        }
        return (v >> (8 - (pos & 7))) & 0xFFFF;
    }
    void Skip(uint32_t n) { pos += n; }
    // n from 0 to 16.
    uint32_t Get(uint32_t n) {
        if (n == 0) {
            return 0;
        }
        uint32_t v = Peek16() >> (16 - n);
        pos += n;
        return v;
    }
    bool Overrun() const { return pos > static_cast<uint64_t>(size) * 8; }
    uint64_t BytesLeft() const {
        uint64_t used = (pos + 7) >> 3;
        return used < size ? size - used : 0;
    }
};

// A canonical Huffman code: codes are handed out by increasing length, and by symbol within
// a length. limit[L] is the first 16-bit left-justified value past the codes of length L.
struct HuffmanDecoder {
    static constexpr int kQuickBits = 9;
    uint32_t limit[16];
    uint32_t firstIndex[16];
    uint16_t symbols[kMainSymbols];
    int numSymbols;
    // For the next kQuickBits of input: the code length (0 when longer) and its symbol.
    uint8_t quickLength[1 << kQuickBits];
    uint16_t quickSymbol[1 << kQuickBits];

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
        std::memset(symbols, 0, sizeof(symbols));
        uint32_t next[16];
        std::memcpy(next, firstIndex, sizeof(next));
        for (int i = 0; i < n; ++i) {
            int len = lengths[i] & 15;
            if (len != 0) {
                symbols[next[len]++] = static_cast<uint16_t>(i);
            }
        }
        for (uint32_t p = 0; p < (1u << kQuickBits); ++p) {
            uint32_t bits = p << (16 - kQuickBits);
            int len = LengthOf(bits);
            quickLength[p] = static_cast<uint8_t>(len <= kQuickBits ? len : 0);
            quickSymbol[p] = static_cast<uint16_t>(len <= kQuickBits ? SymbolAt(bits, len) : 0);
        }
    }

    int LengthOf(uint32_t bits) const {
        for (int len = 1; len < 15; ++len) {
            if (bits < limit[len]) {
                return len;
            }
        }
        return 15;
    }

    // A value that no code covers (an incomplete or overfull table) decodes as symbol 0,
    // which keeps every index inside the table.
    uint32_t SymbolAt(uint32_t bits, int len) const {
        uint32_t lower = limit[len - 1];
        uint32_t index = bits >= lower ? firstIndex[len] + ((bits - lower) >> (16 - len)) : 0;
        return index < static_cast<uint32_t>(numSymbols) ? symbols[index] : 0;
    }

    uint32_t Decode(BitReader& in) const {
        uint32_t bits = in.Peek16();
        uint32_t q = bits >> (16 - kQuickBits);
        if (quickLength[q] != 0) {
            in.Skip(quickLength[q]);
            return quickSymbol[q];
        }
        int len = LengthOf(bits);
        in.Skip(static_cast<uint32_t>(len));
        return SymbolAt(bits, len);
    }
};

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

}  // namespace

namespace rar_test {

struct PlainUnpack20::State {
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

    HuffmanDecoder mainCode, distCode, repCode, lengthCode;
    HuffmanDecoder audioCode[kMaxChannels];
    uint8_t oldLengths[kMaxTableSize];
    bool tablesValid = false;

    uint32_t oldDist[4];
    uint32_t oldDistPtr = 0;
    uint32_t lastDist = 0;
    uint32_t lastLength = 0;

    bool audioMode = false;
    int channels = 1;
    int curChannel = 0;
    int channelDelta = 0;
    AudioChannel audio[kMaxChannels];

    // The window is not cleared: CopyMatch refuses to reach behind the first byte written
    // since the reset, so no byte of an earlier stream, nor an unset one, is ever read.
    void Reset() {
        writePos = flushStart = produced = 0;
        std::memset(oldDist, 0, sizeof(oldDist));
        oldDistPtr = lastDist = lastLength = 0;
        audioMode = false;
        channels = 1;
        curChannel = 0;
        channelDelta = 0;
        std::memset(audio, 0, sizeof(audio));
        std::memset(oldLengths, 0, sizeof(oldLengths));
        tablesValid = false;
    }

    bool ReadTables();
    bool CopyMatch(uint32_t length, uint32_t distance);
    uint8_t PredictAudioByte(int delta);
    void Flush();
};

bool PlainUnpack20::State::ReadTables() {
    tablesValid = false;
    uint32_t head = in.Peek16();
    in.Skip(2);
    audioMode = (head & 0x8000) != 0;
    if ((head & 0x4000) == 0) {
        std::memset(oldLengths, 0, sizeof(oldLengths));
    }
    int tableSize = kLzTableSize;
    if (audioMode) {
        channels = static_cast<int>((head >> 12) & 3) + 1;
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
            for (uint32_t n = in.Get(2) + 3; n > 0 && i < tableSize; --n, ++i) {
                lengths[i] = lengths[i - 1];
            }
        } else {
            uint32_t n = sym == 17 ? in.Get(3) + 3 : in.Get(7) + 11;
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

bool PlainUnpack20::State::CopyMatch(uint32_t length, uint32_t distance) {
    // A match into the zeroed window before the stream's first byte (or a distance of 0,
    // which only unset old distances give) never comes from a real encoder.
    if (distance == 0 || distance > produced) {
        return false;
    }
    oldDist[oldDistPtr++ & 3] = distance;
    lastDist = distance;
    lastLength = length;
    uint32_t src = writePos - distance;
    for (uint32_t i = 0; i < length; ++i) {
        window[writePos] = window[src & kWindowMask];
        writePos = (writePos + 1) & kWindowMask;
        ++src;
    }
    produced = produced + length < kWindowSize ? produced + length : kWindowSize;
    return true;
}

uint8_t PlainUnpack20::State::PredictAudioByte(int delta) {
    AudioChannel& v = audio[curChannel];
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

void PlainUnpack20::State::Flush() {
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

// Default-initialised: the 1 MB window needs no clearing (see Reset).
PlainUnpack20::PlainUnpack20() : s_(new State) {
    HuffmanDecoder empty{};
    s_->mainCode = s_->distCode = s_->repCode = s_->lengthCode = empty;
    for (HuffmanDecoder& code : s_->audioCode) {
        code = empty;
    }
    s_->Reset();
}

PlainUnpack20::~PlainUnpack20() { delete s_; }

bool PlainUnpack20::Decode(const uint8_t* data, uint32_t packed, uint32_t unpacked,
                         bool keepState, uint8_t* out, uint32_t outSize, uint32_t* written) {
    State& s = *s_;
    s.in = BitReader{data, packed, 0};
    s.out = out;
    s.outSize = out != nullptr ? outSize : 0;
    s.outFill = 0;
    s.outFull = false;
    *written = 0;
    if (!keepState) {
        s.Reset();
        if (!s.ReadTables()) {
            return false;
        }
    } else if (!s.tablesValid) {
        return false;
    }

    int64_t left = unpacked;
    while (left > 0) {
        if (s.in.Overrun()) {
            s.tablesValid = false;
            return false;
        }
        if (((s.flushStart - s.writePos) & kWindowMask) < kFlushMargin &&
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
            s.window[s.writePos] = s.PredictAudioByte(static_cast<int>(sym));
            s.writePos = (s.writePos + 1) & kWindowMask;
            s.produced += s.produced < kWindowSize ? 1 : 0;
            s.curChannel = s.curChannel + 1 == s.channels ? 0 : s.curChannel + 1;
            --left;
            continue;
        }

        uint32_t sym = s.mainCode.Decode(s.in);
        uint32_t length;
        uint32_t distance;
        if (sym < 256) {
            s.window[s.writePos] = static_cast<uint8_t>(sym);
            s.writePos = (s.writePos + 1) & kWindowMask;
            s.produced += s.produced < kWindowSize ? 1 : 0;
            --left;
            continue;
        }
        if (sym >= 270) {
            uint32_t slot = sym - 270;  // below 28: the table has 298 symbols
            length = kLengthBase.v[slot] + 3 + s.in.Get(kLengthBits[slot]);
            uint32_t dslot = s.distCode.Decode(s.in);
            distance = kDistBase.v[dslot] + 1 + s.in.Get(kDistBits[dslot]);
            length += (distance >= 0x2000 ? 1 : 0) + (distance >= 0x40000 ? 1 : 0);
        } else if (sym == 269) {
            if (!s.ReadTables()) {
                return false;
            }
            continue;
        } else if (sym == 256) {
            length = s.lastLength;
            distance = s.lastDist;
        } else if (sym < 261) {
            distance = s.oldDist[(s.oldDistPtr - (sym - 256)) & 3];
            uint32_t slot = s.repCode.Decode(s.in);
            length = kLengthBase.v[slot] + 2 + s.in.Get(kLengthBits[slot]);
            length += (distance >= 0x101 ? 1 : 0) + (distance >= 0x2000 ? 1 : 0) +
                      (distance >= 0x40000 ? 1 : 0);
        } else {
            uint32_t slot = sym - 261;
            distance = kShortDistBase.v[slot] + 1 + s.in.Get(kShortDistBits[slot]);
            length = 2;
        }
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
        HuffmanDecoder& code = s.audioMode ? s.audioCode[s.curChannel] : s.mainCode;
        uint32_t sym = code.Decode(s.in);
        if (sym == (s.audioMode ? 256u : 269u)) {
            s.ReadTables();
        }
    }
    s.Flush();
    *written = s.outFill;
    return true;
}

}  // namespace rar_test
