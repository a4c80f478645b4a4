#include "tools/rarwrite/rar_pack20.h"

#include "core/files/archive/rar20_stream.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <queue>
#include <utility>

namespace rh::rarwrite {

namespace {

using namespace rar20;

// One byte short of the window: a match never takes the byte its first output byte replaces.
constexpr uint32_t kMaxDistance = kWindowSize - 1;

// Offsets of the distance and repeat tables in the LZ table.
constexpr int kDistTable = kMainSymbols;
constexpr int kRepTable = kMainSymbols + kDistSymbols;
constexpr int kMaxCodeBits = 15;

// Slot of a value below 256 among bases of the given table.
template <int N>
constexpr Bases<256> MakeSlots(const Bases<N>& bases) {
    Bases<256> s{};
    int slot = 0;
    for (uint32_t v = 0; v < 256; ++v) {
        while (slot + 1 < N && bases.v[slot + 1] <= v) ++slot;
        s.v[v] = uint32_t(slot);
    }
    return s;
}

constexpr Bases<256> kLengthSlot = MakeSlots(kLengthBase);       // of length - minimum
constexpr Bases<256> kShortDistSlot = MakeSlots(kShortDistBase);  // of distance - 1

// Slot of distance - 1 (below 1 MB): four single values, then two slots per power of two up
// to 128 KB, then slots of 64 KB each.
constexpr uint32_t DistSlot(uint32_t v) {
    if (v < 4) return v;
    if (v >= 0x20000) return 34 + ((v - 0x20000) >> 16);
    uint32_t top = uint32_t(std::bit_width(v)) - 1;
    return 2 * top + ((v >> (top - 1)) & 1);
}

constexpr bool DistSlotsMatchBases() {
    for (uint32_t s = 0; s < 48; ++s) {
        uint32_t last = kDistBase.v[s] + (1u << kDistBits[s]) - 1;
        if (DistSlot(kDistBase.v[s]) != s || DistSlot(last) != s) return false;
    }
    return true;
}
static_assert(kLengthBase.v[27] == 224 && kDistBase.v[47] == 983040 && kShortDistBase.v[7] == 192);
static_assert(DistSlotsMatchBases());

// The decoder adds these to a coded length: matches reaching far must be longer to pay off,
// so the code spends no values on the short ones.
constexpr uint32_t MatchBonus(uint32_t distance) {
    return (distance >= 0x2000 ? 1 : 0) + (distance >= 0x40000 ? 1 : 0);
}
constexpr uint32_t OldDistanceBonus(uint32_t distance) {
    return (distance >= 0x101 ? 1 : 0) + MatchBonus(distance);
}

// Blocks get new code tables after this many input bytes.
constexpr uint32_t kBlockBytes = 64 << 10;
// The match finder keeps the last kWays positions of each hash of 4 bytes in one 64-byte
// bucket: a search costs one cache line where a hash chain through a 1 MB window would miss
// the cache at every link. Up to 2^kMaxBucketBits buckets (2 MB).
constexpr int kWays = 16;
constexpr int kMaxBucketBits = 15;
// The length that ends a search at once, and the lazy evaluation: a match at least
// kLazyLength long is taken without looking at the next position; that look tries half the
// candidates, a quarter from kGoodLength on.
constexpr uint32_t kNiceLength = 128;
constexpr uint32_t kLazyLength = 32;
constexpr uint32_t kGoodLength = 16;
// Where nothing matches for a while (noise, data packed already) the search steps over one
// more position after every kSkipTrigger failures, up to kMaxSkip at a time.
constexpr uint32_t kSkipTrigger = 64;
constexpr uint32_t kMaxSkip = 16;
// The multimedia estimate looks at this much of a block.
constexpr uint32_t kAudioSampleBytes = 8 << 10;

// Rough costs in bits, for choosing between matches while parsing (the codes are not known
// yet): a literal, and the code of each kind of match before its extra bits.
constexpr int kLiteralCost = 8;
constexpr int kMatchCodeCost = 13;  // length slot and distance slot
constexpr int kOldDistanceCost = 11;
constexpr int kRepeatLastCost = 5;
constexpr int kShortMatchCost = 7;

uint32_t Load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t Load16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// How many bytes at a equal those at b (b before a), up to limit.
uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x = Load64(a + n) ^ Load64(b + n);
        if (x != 0) {
            if constexpr (std::endian::native == std::endian::little) {
                return n + uint32_t(std::countr_zero(x)) / 8;
            } else {
                return n + uint32_t(std::countl_zero(x)) / 8;
            }
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// Code lengths for the symbol counts, none longer than kMaxCodeBits: a Huffman tree, and when
// it grows too deep one again from counts halved (rare counts gain weight) until it fits. A
// lone symbol gets a 1-bit code; unused symbols get length 0.
void BuildLengths(const uint32_t* counts, int n, uint8_t* lengths) {
    std::vector<uint64_t> weight(counts, counts + n);
    std::vector<int> parent(size_t(2 * n));
    std::vector<uint8_t> depth(size_t(2 * n));
    for (;;) {
        std::fill(lengths, lengths + n, uint8_t{0});
        using Node = std::pair<uint64_t, int>;  // weight, index; ties go to the lower index
        std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
        for (int i = 0; i < n; ++i) {
            if (weight[size_t(i)] != 0) queue.push({weight[size_t(i)], i});
        }
        if (queue.empty()) return;
        if (queue.size() == 1) {
            lengths[queue.top().second] = 1;
            return;
        }
        int next = n;
        while (queue.size() > 1) {
            Node a = queue.top();
            queue.pop();
            Node b = queue.top();
            queue.pop();
            parent[size_t(a.second)] = parent[size_t(b.second)] = next;
            queue.push({a.first + b.first, next++});
        }
        // Parents are made after their children, so walking down the indices sees each
        // parent's depth before its children's.
        depth[size_t(next - 1)] = 0;
        int deepest = 0;
        for (int i = next - 2; i >= 0; --i) {
            if (i < n && weight[size_t(i)] == 0) continue;
            depth[size_t(i)] = uint8_t(depth[size_t(parent[size_t(i)])] + 1);
            if (i < n) deepest = std::max<int>(deepest, depth[size_t(i)]);
        }
        if (deepest <= kMaxCodeBits) {
            for (int i = 0; i < n; ++i) {
                if (weight[size_t(i)] != 0) lengths[i] = depth[size_t(i)];
            }
            return;
        }
        for (uint64_t& w : weight) {
            if (w != 0) w = 1 + w / 2;
        }
    }
}

// The canonical code of the lengths, as the decoder assigns it: by increasing length, and by
// symbol within one length.
void AssignCodes(const uint8_t* lengths, int n, uint16_t* codes) {
    uint32_t count[kMaxCodeBits + 1] = {};
    for (int i = 0; i < n; ++i) ++count[lengths[i]];
    count[0] = 0;
    uint32_t next[kMaxCodeBits + 1] = {};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (int i = 0; i < n; ++i) {
        codes[i] = lengths[i] != 0 ? uint16_t(next[lengths[i]]++) : 0;
    }
}

// Writes bits most significant first, as the decoder reads them.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>* out) : out_(out) {}

    // value below 2^bits, bits up to 32.
    void Put(uint32_t value, uint32_t bits) {
        acc_ = (acc_ << bits) | value;
        count_ += bits;
        if (count_ >= 32) {
            count_ -= 32;
            uint32_t word = uint32_t(acc_ >> count_);
            uint8_t bytes[4] = {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)};
            out_->insert(out_->end(), bytes, bytes + 4);
        }
    }

    // Pads the last byte with zero bits; nothing more may be put after it.
    void Finish() {
        while (count_ >= 8) {
            count_ -= 8;
            out_->push_back(uint8_t(acc_ >> count_));
        }
        if (count_ > 0) out_->push_back(uint8_t(acc_ << (8 - count_)));
        count_ = 0;
    }

private:
    std::vector<uint8_t>* out_;
    uint64_t acc_ = 0;
    uint32_t count_ = 0;
};

// The multimedia predictor of one channel, as the decoder keeps it: a linear prediction from
// the last byte and the last four deltas, with five weights that move every 32 bytes towards
// whichever step would have erred least.
struct AudioChannel {
    int k[5];
    int d[4];
    int lastDelta;
    uint32_t errorSum[11];
    uint32_t byteCount;
    int lastByte;
};

struct AudioState {
    AudioChannel channel[kMaxChannels];
    int channelDelta;  // the last delta of whichever channel came last
};

uint32_t Abs(int v) { return uint32_t(v < 0 ? -v : v); }

// The symbol that makes the decoder's predictor of channel c give `byte`, moving the predictor
// on exactly as the decoder does on that symbol.
uint32_t AudioSymbol(AudioState& s, int c, uint8_t byte) {
    AudioChannel& v = s.channel[c];
    ++v.byteCount;
    v.d[3] = v.d[2];
    v.d[2] = v.d[1];
    v.d[1] = v.lastDelta - v.d[0];
    v.d[0] = v.lastDelta;
    int predicted = 8 * v.lastByte + v.k[0] * v.d[0] + v.k[1] * v.d[1] + v.k[2] * v.d[2] +
                    v.k[3] * v.d[3] + v.k[4] * s.channelDelta;
    predicted = (predicted >> 3) & 0xFF;
    uint32_t symbol = uint32_t(predicted - int(byte)) & 0xFF;
    int d = int(int8_t(uint8_t(symbol))) * 8;
    v.errorSum[0] += Abs(d);
    v.errorSum[1] += Abs(d - v.d[0]);
    v.errorSum[2] += Abs(d + v.d[0]);
    v.errorSum[3] += Abs(d - v.d[1]);
    v.errorSum[4] += Abs(d + v.d[1]);
    v.errorSum[5] += Abs(d - v.d[2]);
    v.errorSum[6] += Abs(d + v.d[2]);
    v.errorSum[7] += Abs(d - v.d[3]);
    v.errorSum[8] += Abs(d + v.d[3]);
    v.errorSum[9] += Abs(d - s.channelDelta);
    v.errorSum[10] += Abs(d + s.channelDelta);
    v.lastDelta = int8_t(uint8_t(byte - v.lastByte));
    s.channelDelta = v.lastDelta;
    v.lastByte = byte;
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
                if (k >= -16) --k;
            } else if (k < 16) {
                ++k;
            }
        }
    }
    return symbol;
}

// The distances the decoder keeps: the last four, and the last match whole.
struct Distances {
    uint32_t old[4] = {};
    uint32_t next = 0;
    uint32_t lastDistance = 0;
    uint32_t lastLength = 0;

    uint32_t Recent(uint32_t n) const { return old[(next - n) & 3]; }  // n from 1 (newest)
    void Push(uint32_t distance, uint32_t length) {
        old[next++ & 3] = distance;
        lastDistance = distance;
        lastLength = length;
    }
};

// One coded LZ symbol and the values of its extra bits; their counts follow from the symbol
// and the slot. Kept small: a block's tokens are written once and read once.
struct Token {
    uint16_t symbol;
    uint8_t slot;  // distance slot of a match, length slot of an old-distance match
    uint8_t lengthExtra;
    uint16_t distExtra;
};

// A block: its symbols and the code lengths of its tables.
struct Block {
    bool audio = false;
    int channels = 1;
    int firstChannel = 0;
    std::vector<Token> tokens;
    std::vector<uint8_t> deltas;
    uint8_t lengths[kMaxTableSize];
    int tableSize = 0;
};

// A match candidate and what it saves over literals, by the rough costs above.
struct Choice {
    enum Kind { kNone, kRepeat, kOld, kShort, kNormal };
    Kind kind = kNone;
    uint32_t length = 0;
    uint32_t distance = 0;
    uint32_t oldIndex = 0;  // 1..4 for kOld
    int savings = 0;
};

// The lengths of a table as the bit-length code's symbols (0..15: the length minus the old
// one, mod 16; 16: the previous length 3 to 6 times; 17, 18: 3 to 10, 11 to 138 zeros).
struct LengthsCoding {
    std::vector<std::pair<uint8_t, uint8_t>> items;  // symbol, extra value
    uint32_t counts[kLengthCodeSymbols] = {};
    uint8_t lengths[kLengthCodeSymbols] = {};
    uint16_t codes[kLengthCodeSymbols] = {};
    uint64_t bits = 0;

    void Add(uint8_t symbol, uint8_t extra) {
        items.push_back({symbol, extra});
        ++counts[symbol];
    }
};

constexpr uint32_t kLengthCodeExtraBits[3] = {2, 3, 7};

LengthsCoding CodeLengths(const uint8_t* lengths, const uint8_t* old, int n) {
    LengthsCoding c;
    for (int i = 0; i < n;) {
        const uint8_t len = lengths[i];
        int run = 1;
        if (len == 0) {
            while (i + run < n && run < 138 && lengths[i + run] == 0) ++run;
            if (run >= 11) {
                c.Add(18, uint8_t(run - 11));
                i += run;
                continue;
            }
            if (run >= 3) {
                run = std::min(run, 10);
                c.Add(17, uint8_t(run - 3));
                i += run;
                continue;
            }
        } else if (i > 0 && len == lengths[i - 1]) {
            while (i + run < n && run < 6 && lengths[i + run] == len) ++run;
            if (run >= 3) {
                c.Add(16, uint8_t(run - 3));
                i += run;
                continue;
            }
        }
        c.Add(uint8_t((len - old[i]) & 15), 0);
        ++i;
    }
    BuildLengths(c.counts, kLengthCodeSymbols, c.lengths);
    AssignCodes(c.lengths, kLengthCodeSymbols, c.codes);
    c.bits = 4 * kLengthCodeSymbols;
    for (int s = 0; s < kLengthCodeSymbols; ++s) {
        c.bits += uint64_t(c.counts[s]) * (c.lengths[s] + (s >= 16 ? kLengthCodeExtraBits[s - 16] : 0));
    }
    return c;
}

class Packer {
public:
    // The tables grow with the input up to the window's size, so that small members cost
    // little to set up and large ones find short chains.
    Packer(const uint8_t* data, uint32_t size)
        : buf_(data), size_(size), bucketBits_(std::clamp(int(std::bit_width(size)) - 4, 4, kMaxBucketBits)),
          bucketStore_((size_t{kWays} << bucketBits_) + 16), bucketNext_(size_t{1} << bucketBits_),
          last2_(size_t{1} << 16) {
        // Buckets on cache-line boundaries.
        const auto misalign = reinterpret_cast<uintptr_t>(bucketStore_.data()) & 63;
        buckets_ = bucketStore_.data() + (misalign == 0 ? 0 : (64 - misalign) / 4);
    }

    // Parses the next block, from pos to at most end, into block_; returns where it ends.
    uint32_t MakeBlock(uint32_t pos, uint32_t end, Multimedia multimedia);
    bool HaveTables() const { return haveTables_; }
    // The current tables' symbol for new tables.
    void WriteSwitch(BitWriter& w) const;
    // block_'s tables, which become the current ones.
    void WriteTables(BitWriter& w, PackStats* stats);
    void WriteSymbols(BitWriter& w);

private:
    void InsertUpTo(uint32_t end);
    Choice FindBest(uint32_t pos, uint32_t end, const Distances& d, int maxCandidates) const;
    uint32_t ParseLz(uint32_t pos, uint32_t end, Distances& d, uint64_t* bits);
    void Emit(const Choice& c, Distances& d, uint32_t* counts, uint64_t* extraBits);
    void MakeAudioBlock(uint32_t pos, uint32_t end, int channels);
    double AudioEstimate(uint32_t pos, uint32_t n, int channels) const;

    const uint8_t* buf_;
    uint32_t size_;
    // Bucket entries: the low 24 bits of position + 1 above 8 more bits of the hash, which
    // turn most strings that only share the bucket away unread; 0 for none. bucketNext_ is
    // where each bucket writes next (its entries form a ring, newest last). last2_ holds the
    // last position + 1 of every 2-byte string, for the matches of 2 and 3 bytes, which only
    // pay off near.
    int bucketBits_;
    std::vector<uint32_t> bucketStore_;
    uint32_t* buckets_;
    std::vector<uint8_t> bucketNext_;
    std::vector<uint32_t> last2_;
    uint32_t inserted_ = 0;  // positions below this are in the chains

    // What the decoder holds at the point the stream has reached.
    Distances distances_;
    AudioState audio_{};
    int curChannel_ = 0;
    int channels_ = 1;
    bool audioMode_ = false;
    bool haveTables_ = false;
    uint8_t oldLengths_[kMaxTableSize] = {};
    uint8_t codeLengths_[kMaxTableSize] = {};
    uint16_t codes_[kMaxTableSize] = {};

    Block block_;
};

void Packer::InsertUpTo(uint32_t end) {
    uint32_t stop = std::min(end, size_ >= 3 ? size_ - 3 : 0);
    for (; inserted_ < stop; ++inserted_) {
        const uint32_t v = Load32(buf_ + inserted_);
        const uint32_t h = v * 0x9E3779B1u;
        const uint32_t bucket = h >> (32 - bucketBits_);
        const uint32_t tag = (h >> (24 - bucketBits_)) & 0xFF;
        buckets_[bucket * kWays + (bucketNext_[bucket]++ & (kWays - 1))] = (inserted_ + 1) << 8 | tag;
        last2_[v & 0xFFFF] = inserted_ + 1;
    }
    inserted_ = std::max(inserted_, end);
}

Choice Packer::FindBest(uint32_t pos, uint32_t end, const Distances& d, int maxCandidates) const {
    Choice best;
    const uint32_t maxLength = std::min<uint32_t>(end - pos, 260);
    if (maxLength < 2) return best;
    const uint8_t* cur = buf_ + pos;

    // The last match again, whole: any length the last one had, in one symbol.
    if (d.lastDistance != 0 && d.lastDistance <= pos && d.lastLength <= maxLength &&
        MatchLength(cur, cur - d.lastDistance, d.lastLength) == d.lastLength) {
        best = {Choice::kRepeat, d.lastLength, d.lastDistance, 0, kLiteralCost * int(d.lastLength) - kRepeatLastCost};
    }
    for (uint32_t n = 1; n <= 4; ++n) {
        const uint32_t distance = d.Recent(n);
        if (distance == 0 || distance > pos) continue;  // unset, or before the stream
        const uint32_t bonus = OldDistanceBonus(distance);
        const uint32_t length = MatchLength(cur, cur - distance, std::min(maxLength, 257 + bonus));
        if (length < 2 + bonus) continue;
        const int savings = kLiteralCost * int(length) - kOldDistanceCost - kLengthBits[kLengthSlot.v[length - bonus - 2]];
        if (savings > best.savings) best = {Choice::kOld, length, distance, n, savings};
    }

    // The lazy evaluation searches the next position next: its bucket is on the way meanwhile.
    if (maxLength >= 5) {
        const uint32_t next = Load32(cur + 1) * 0x9E3779B1u;
        __builtin_prefetch(buckets_ + (next >> (32 - bucketBits_)) * kWays);
    }
    if (maxLength >= 4) {
        const uint32_t v = Load32(cur);
        const uint32_t h = v * 0x9E3779B1u;
        const uint32_t bucket = h >> (32 - bucketBits_);
        const uint32_t tag = (h >> (24 - bucketBits_)) & 0xFF;
        const uint32_t* entries = buckets_ + bucket * kWays;
        const uint32_t newest = bucketNext_[bucket] - 1u;
        uint32_t longest = 3;  // a farther candidate is only better when longer
        // Newest first, so nearest first.
        for (int i = 0; i < maxCandidates; ++i) {
            const uint32_t e = entries[(newest - uint32_t(i)) & (kWays - 1)];
            if (e == 0) break;
            if ((e & 0xFF) != tag) continue;
            // Positions are kept mod 2^24; one from 16 MB or more back looks nearer than it
            // is and fails the comparison below.
            const uint32_t distance = (pos + 1 - (e >> 8)) & 0xFFFFFF;
            if (distance == 0 || distance > pos) continue;
            if (distance > kMaxDistance) break;
            const uint32_t at = pos - distance;
            const uint32_t bonus = MatchBonus(distance);
            const uint32_t limit = std::min(maxLength, 258 + bonus);
            if (longest < limit && buf_[at + longest] == cur[longest] && Load32(buf_ + at) == v) {
                const uint32_t length = MatchLength(cur, buf_ + at, limit);
                if (length > longest) {
                    longest = length;
                    if (length >= 3 + bonus) {
                        const int savings = kLiteralCost * int(length) - kMatchCodeCost -
                                            kLengthBits[kLengthSlot.v[length - bonus - 3]] -
                                            kDistBits[DistSlot(distance - 1)];
                        if (savings > best.savings) best = {Choice::kNormal, length, distance, 0, savings};
                    }
                    if (length >= kNiceLength) break;
                }
            }
        }
    }

    // Three bytes are coded as a match only from less than 8 KB back (farther ones would have
    // to be four long), two only from at most 256 back.
    if (best.length < 3) {
        const uint32_t at = last2_[Load16(cur)];
        const uint32_t distance = pos + 1 - at;
        if (at == 0 || at > pos) return best;
        if (maxLength >= 3 && distance < 0x2000 && cur[2] == cur[2 - int(distance)]) {
            const int savings = kLiteralCost * 3 - kMatchCodeCost - kDistBits[DistSlot(distance - 1)];
            if (savings > best.savings) best = {Choice::kNormal, 3, distance, 0, savings};
        }
        if (distance <= 256) {
            const int savings = 2 * kLiteralCost - kShortMatchCost - kShortDistBits[kShortDistSlot.v[distance - 1]];
            if (savings > best.savings) best = {Choice::kShort, 2, distance, 0, savings};
        }
    }
    return best;
}

void Packer::Emit(const Choice& c, Distances& d, uint32_t* counts, uint64_t* extraBits) {
    Token t{};
    switch (c.kind) {
        case Choice::kNone:
            return;
        case Choice::kRepeat:
            t.symbol = kRepeatLast;
            break;
        case Choice::kOld: {
            const uint32_t v = c.length - OldDistanceBonus(c.distance) - 2;
            t.symbol = uint16_t(kOldDistance - 1 + c.oldIndex);
            t.slot = uint8_t(kLengthSlot.v[v]);
            t.lengthExtra = uint8_t(v - kLengthBase.v[t.slot]);
            ++counts[kRepTable + t.slot];
            *extraBits += kLengthBits[t.slot];
            break;
        }
        case Choice::kShort: {
            const uint32_t v = c.distance - 1;
            const uint32_t slot = kShortDistSlot.v[v];
            t.symbol = uint16_t(kShortMatch + slot);
            t.distExtra = uint16_t(v - kShortDistBase.v[slot]);
            *extraBits += kShortDistBits[slot];
            break;
        }
        case Choice::kNormal: {
            const uint32_t v = c.length - MatchBonus(c.distance) - 3;
            const uint32_t slot = kLengthSlot.v[v];
            t.symbol = uint16_t(kMatch + slot);
            t.lengthExtra = uint8_t(v - kLengthBase.v[slot]);
            const uint32_t dv = c.distance - 1;
            t.slot = uint8_t(DistSlot(dv));
            t.distExtra = uint16_t(dv - kDistBase.v[t.slot]);
            ++counts[kDistTable + t.slot];
            *extraBits += kLengthBits[slot] + kDistBits[t.slot];
            break;
        }
    }
    ++counts[t.symbol];
    block_.tokens.push_back(t);
    d.Push(c.distance, c.length);
}

// Greedy parsing with one step of lazy evaluation: a match is put off by one literal when
// the match at the next position saves more.
uint32_t Packer::ParseLz(uint32_t pos, uint32_t end, Distances& d, uint64_t* bits) {
    Block& b = block_;
    b.audio = false;
    b.tableSize = kLzTableSize;
    b.tokens.clear();
    b.tokens.reserve(kBlockBytes);
    uint32_t counts[kLzTableSize] = {};
    uint64_t extraBits = 0;
    const uint32_t stop = end - pos > kBlockBytes ? pos + kBlockBytes : end;

    InsertUpTo(pos);
    Choice cur = FindBest(pos, end, d, kWays);
    uint32_t misses = 0;  // searches in a row that found nothing
    while (pos < stop) {
        if (cur.kind == Choice::kNone) {
            // Every position still goes into the buckets.
            const uint32_t step = std::min(1 + misses++ / kSkipTrigger, std::min(kMaxSkip, stop - pos));
            for (uint32_t i = 0; i < step; ++i) {
                Token t{};
                t.symbol = buf_[pos + i];
                ++counts[t.symbol];
                b.tokens.push_back(t);
            }
            pos += step;
            InsertUpTo(pos);
            cur = FindBest(pos, end, d, kWays);
            continue;
        }
        misses = 0;
        if (cur.length < kLazyLength && pos + 1 < end) {
            InsertUpTo(pos + 1);
            Choice next = FindBest(pos + 1, end, d, cur.length >= kGoodLength ? kWays / 4 : kWays / 2);
            if (next.savings > cur.savings) {
                Token t{};
                t.symbol = buf_[pos];
                ++counts[t.symbol];
                b.tokens.push_back(t);
                ++pos;
                cur = next;
                continue;
            }
        }
        Emit(cur, d, counts, &extraBits);
        pos += cur.length;
        InsertUpTo(pos);
        cur = FindBest(pos, end, d, kWays);
    }

    // Every table can announce the next one.
    ++counts[kNewTables];
    BuildLengths(counts, kMainSymbols, b.lengths);
    BuildLengths(counts + kDistTable, kDistSymbols, b.lengths + kDistTable);
    BuildLengths(counts + kRepTable, kRepSymbols, b.lengths + kRepTable);
    *bits = extraBits;
    for (int i = 0; i < kLzTableSize; ++i) *bits += uint64_t(counts[i]) * b.lengths[i];
    return pos;
}

void Packer::MakeAudioBlock(uint32_t pos, uint32_t end, int channels) {
    Block& b = block_;
    b.audio = true;
    b.channels = channels;
    b.tableSize = kAudioSymbols * channels;
    // The decoder starts over at channel 0 when the new tables have fewer channels.
    b.firstChannel = curChannel_ < channels ? curChannel_ : 0;
    b.deltas.resize(end - pos);
    uint32_t counts[kMaxTableSize] = {};
    int c = b.firstChannel;
    for (uint32_t i = 0; i < end - pos; ++i) {
        const uint32_t symbol = AudioSymbol(audio_, c, buf_[pos + i]);
        b.deltas[i] = uint8_t(symbol);
        ++counts[c * kAudioSymbols + int(symbol)];
        c = c + 1 == channels ? 0 : c + 1;
    }
    for (c = 0; c < channels; ++c) {
        ++counts[c * kAudioSymbols + int(kAudioNewTables)];
        BuildLengths(counts + c * kAudioSymbols, kAudioSymbols, b.lengths + c * kAudioSymbols);
    }
    // Later LZ blocks may copy from these bytes.
    InsertUpTo(end);
}

// Bits that order-0 codes of the predictor's symbols would take for n bytes from pos, with
// that many channels, starting from the predictor's present state.
double Packer::AudioEstimate(uint32_t pos, uint32_t n, int channels) const {
    AudioState s = audio_;
    int c = curChannel_ < channels ? curChannel_ : 0;
    uint32_t counts[kMaxChannels][256] = {};
    for (uint32_t i = 0; i < n; ++i) {
        ++counts[c][AudioSymbol(s, c, buf_[pos + i])];
        c = c + 1 == channels ? 0 : c + 1;
    }
    double bits = 0;
    for (c = 0; c < channels; ++c) {
        uint32_t total = 0;
        for (uint32_t k : counts[c]) total += k;
        for (uint32_t k : counts[c]) {
            if (k != 0) bits += double(k) * std::log2(double(total) / double(k));
        }
    }
    return bits;
}

uint32_t Packer::MakeBlock(uint32_t pos, uint32_t end, Multimedia multimedia) {
    const uint32_t stop = end - pos > kBlockBytes ? pos + kBlockBytes : end;
    switch (multimedia) {
        case Multimedia::kChannels1:
        case Multimedia::kChannels2:
        case Multimedia::kChannels3:
        case Multimedia::kChannels4:
            MakeAudioBlock(pos, stop, int(multimedia) - int(Multimedia::kChannels1) + 1);
            return stop;
        case Multimedia::kOff:
        case Multimedia::kAuto:
            break;
    }
    Distances trial = distances_;
    uint64_t lzBits = 0;
    const uint32_t blockEnd = ParseLz(pos, end, trial, &lzBits);
    const uint32_t n = blockEnd - pos;
    // Below a bit per byte LZ77 has found what the predictor cannot.
    if (multimedia == Multimedia::kAuto && n >= 1024 && lzBits > n) {
        // Tables: the predictor's take about as much as LZ77's per channel.
        constexpr double kTableBits = 600;
        const uint32_t sample = std::min(n, kAudioSampleBytes);
        int bestChannels = 0;
        double bestBits = double(lzBits) + kTableBits;
        for (int channels = 1; channels <= kMaxChannels; ++channels) {
            // Huffman codes come out a little above the order-0 estimate.
            double bits = AudioEstimate(pos, sample, channels) * 1.03 * double(n) / double(sample) +
                          kTableBits * channels;
            if (bits < bestBits) {
                bestBits = bits;
                bestChannels = channels;
            }
        }
        if (bestChannels != 0) {
            MakeAudioBlock(pos, blockEnd, bestChannels);
            return blockEnd;
        }
    }
    distances_ = trial;
    return blockEnd;
}

void Packer::WriteSwitch(BitWriter& w) const {
    const int symbol = audioMode_ ? curChannel_ * kAudioSymbols + int(kAudioNewTables) : int(kNewTables);
    w.Put(codes_[symbol], codeLengths_[symbol]);
}

void Packer::WriteTables(BitWriter& w, PackStats* stats) {
    const Block& b = block_;
    const int n = b.tableSize;
    // Each length is coded against the previous table's (which helps when tables change
    // little) or against zeros; whichever is shorter, and the flag tells the decoder.
    static const uint8_t kZeros[kMaxTableSize] = {};
    LengthsCoding kept = CodeLengths(b.lengths, oldLengths_, n);
    LengthsCoding fresh = CodeLengths(b.lengths, kZeros, n);
    const bool keep = kept.bits <= fresh.bits;
    const LengthsCoding& c = keep ? kept : fresh;

    w.Put(b.audio ? 1 : 0, 1);
    w.Put(keep ? 1 : 0, 1);
    if (b.audio) w.Put(uint32_t(b.channels - 1), 2);
    for (uint8_t len : c.lengths) w.Put(len, 4);
    for (auto [symbol, extra] : c.items) {
        w.Put(c.codes[symbol], c.lengths[symbol]);
        if (symbol >= 16) w.Put(extra, kLengthCodeExtraBits[symbol - 16]);
    }

    if (!keep) std::memset(oldLengths_, 0, sizeof oldLengths_);
    std::memcpy(oldLengths_, b.lengths, size_t(n));
    std::memcpy(codeLengths_, b.lengths, size_t(n));
    if (b.audio) {
        for (int ch = 0; ch < b.channels; ++ch) {
            AssignCodes(b.lengths + ch * kAudioSymbols, kAudioSymbols, codes_ + ch * kAudioSymbols);
        }
        channels_ = b.channels;
        if (curChannel_ >= channels_) curChannel_ = 0;
    } else {
        AssignCodes(b.lengths, kMainSymbols, codes_);
        AssignCodes(b.lengths + kDistTable, kDistSymbols, codes_ + kDistTable);
        AssignCodes(b.lengths + kRepTable, kRepSymbols, codes_ + kRepTable);
    }
    audioMode_ = b.audio;
    haveTables_ = true;
    ++stats->blocks;
    stats->audioBlocks += b.audio ? 1 : 0;
    stats->freshTables += keep ? 0 : 1;
    if (b.audio) stats->channelCounts |= 1u << (b.channels - 1);
}

void Packer::WriteSymbols(BitWriter& w) {
    const Block& b = block_;
    if (b.audio) {
        int c = b.firstChannel;
        for (uint8_t symbol : b.deltas) {
            const int at = c * kAudioSymbols + symbol;
            w.Put(codes_[at], codeLengths_[at]);
            c = c + 1 == b.channels ? 0 : c + 1;
        }
        curChannel_ = c;
        return;
    }
    for (const Token& t : b.tokens) {
        w.Put(codes_[t.symbol], codeLengths_[t.symbol]);
        if (t.symbol <= kRepeatLast) continue;
        if (t.symbol < kShortMatch) {
            w.Put(codes_[kRepTable + t.slot], codeLengths_[kRepTable + t.slot]);
            w.Put(t.lengthExtra, kLengthBits[t.slot]);
        } else if (t.symbol < kNewTables) {
            w.Put(t.distExtra, kShortDistBits[t.symbol - kShortMatch]);
        } else {
            w.Put(t.lengthExtra, kLengthBits[t.symbol - kMatch]);
            w.Put(codes_[kDistTable + t.slot], codeLengths_[kDistTable + t.slot]);
            w.Put(t.distExtra, kDistBits[t.slot]);
        }
    }
}

}  // namespace

std::vector<std::vector<uint8_t>> PackStream(std::span<const PackPart> parts, PackStats* stats) {
    PackStats unused;
    if (stats == nullptr) stats = &unused;
    *stats = PackStats{};
    std::vector<uint8_t> joined;
    std::span<const uint8_t> stream;
    if (parts.size() == 1) {
        stream = parts[0].data;
    } else {
        for (const PackPart& p : parts) joined.insert(joined.end(), p.data.begin(), p.data.end());
        stream = joined;
    }
    std::vector<std::vector<uint8_t>> packed(parts.size());
    if (stream.empty()) return packed;

    Packer packer(stream.data(), uint32_t(stream.size()));
    std::vector<BitWriter> writers;
    writers.reserve(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        // Room for the data barely packing, so the bytes are not moved as they grow.
        packed[i].reserve(parts[i].data.size() + parts[i].data.size() / 64 + 256);
        writers.emplace_back(&packed[i]);
    }
    uint32_t pos = 0;
    size_t previous = parts.size();  // the last part with data so far
    for (size_t i = 0; i < parts.size(); ++i) {
        const uint32_t end = pos + uint32_t(parts[i].data.size());
        bool first = true;
        while (pos < end) {
            pos = packer.MakeBlock(pos, end, parts[i].multimedia);
            if (!packer.HaveTables()) {
                packer.WriteTables(writers[i], stats);
            } else {
                // A part's first tables go at the end of the part before, which the decoder
                // reads once it has that part's bytes.
                BitWriter& w = first ? writers[previous] : writers[i];
                packer.WriteSwitch(w);
                packer.WriteTables(w, stats);
            }
            if (first && previous < parts.size()) writers[previous].Finish();
            packer.WriteSymbols(writers[i]);
            first = false;
        }
        if (!parts[i].data.empty()) previous = i;
    }
    if (previous < parts.size()) writers[previous].Finish();
    return packed;
}

std::vector<uint8_t> Pack(std::span<const uint8_t> data, Multimedia multimedia, PackStats* stats) {
    const PackPart part{data, multimedia};
    return std::move(PackStream(std::span<const PackPart>(&part, 1), stats)[0]);
}

}  // namespace rh::rarwrite
