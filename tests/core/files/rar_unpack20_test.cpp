// The RAR 2.0 decoder on streams written bit by bit here, with codes simple enough to write
// by hand: every code of a table has the same length, so the k-th symbol in order has code k.

#include "core/files/archive/rar_archive.h"
#include "core/files/archive/rar_unpack20.h"
#include "core/types/value_types.h"
#include "tests/core/files/rar_test_archive.h"
#include "tests/core/files/rar_unpack20_plain.h"
#include "tools/rarwrite/rar_pack20.h"
#include "tools/rarwrite/sample_content.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

using rar_test::Bytes;

namespace {

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= uint8_t(0x80 >> used_);
            used_ = (used_ + 1) & 7;
        }
    }
    Bytes Finish(size_t padding = 0) {
        Bytes out = bytes_;
        out.insert(out.end(), padding, 0);
        return out;
    }

private:
    Bytes bytes_;
    int used_ = 0;
};

constexpr int kMain = 298, kDist = 48, kRep = 28;

// Main symbols the streams use, all with 4-bit codes in this order.
const std::vector<int> kMainUsed = {'a', 'b', 'c', 256, 257, 261, 269, 270};
// Distance slot 2 (distance 3) and repeat-length slot 0 are the only codes of their tables,
// each one bit long ("0").
constexpr int kDistSlot = 2;

uint32_t MainCode(int symbol) {
    for (size_t k = 0; k < kMainUsed.size(); ++k) {
        if (kMainUsed[k] == symbol) return uint32_t(k);
    }
    ADD_FAILURE() << "symbol " << symbol << " has no code";
    return 0;
}

// The bit-length code: symbols 0, 1, 4 and 18 with 2-bit codes 00, 01, 10, 11.
void PutLengths(BitWriter& w, const std::vector<int>& lengths) {
    for (size_t i = 0; i < lengths.size();) {
        size_t run = 0;
        while (i + run < lengths.size() && lengths[i + run] == 0 && run < 138) ++run;
        if (run >= 11) {
            w.Put(3, 2);
            w.Put(uint32_t(run - 11), 7);
            i += run;
            continue;
        }
        int len = lengths[i++];
        w.Put(len == 0 ? 0 : len == 1 ? 1 : 2, 2);
    }
}

void PutBitLengthCode(BitWriter& w) {
    for (int s = 0; s < 19; ++s) w.Put(s == 0 || s == 1 || s == 4 || s == 18 ? 2 : 0, 4);
}

// Tables for the LZ streams. keep: the lengths are given as changes (all 0) to the last ones.
void PutTables(BitWriter& w, bool keep = false) {
    w.Put(keep ? 1 : 0, 2);
    PutBitLengthCode(w);
    if (keep) {
        // A change of 0 for every symbol (code 00); the zero-run codes would clear lengths.
        for (int i = 0; i < kMain + kDist + kRep; ++i) w.Put(0, 2);
        return;
    }
    std::vector<int> lengths(kMain + kDist + kRep, 0);
    for (int s : kMainUsed) lengths[size_t(s)] = 4;
    lengths[size_t(kMain + kDistSlot)] = 1;
    lengths[size_t(kMain + kDist + 0)] = 1;
    PutLengths(w, lengths);
}

void PutLiterals(BitWriter& w, const char* text) {
    for (const char* p = text; *p; ++p) w.Put(MainCode(*p), 4);
}

// A match of 3 bytes at distance 3 (length slot 0, distance slot 2, no extra bits).
void PutMatch3At3(BitWriter& w) {
    w.Put(MainCode(270), 4);
    w.Put(0, 1);
}

std::string Decode(const Bytes& packed, uint32_t size, bool* ok) {
    RarUnpack20 unpacker;
    std::string out(size, '\0');
    uint32_t written = 0;
    *ok = unpacker.Decode(packed.data(), uint32_t(packed.size()), size, false,
                          reinterpret_cast<uint8_t*>(out.data()), size, &written);
    out.resize(written);
    return out;
}

}  // namespace

TEST(RarUnpack20, DecodesLiteralsMatchesRepeatsAndOldDistances) {
    BitWriter w;
    PutTables(w);
    PutLiterals(w, "abc");
    PutMatch3At3(w);                      // abc
    w.Put(MainCode(256), 4);              // the last match again: abc
    w.Put(MainCode(261), 4);              // 2 bytes at a short distance: 1 + 2 extra bits
    w.Put(0, 2);                          // cc
    w.Put(MainCode(257), 4);              // newest old distance (1), repeat-length slot 0
    w.Put(0, 1);                          // cc
    PutMatch3At3(w);                      // the match before last is now 3 back: ccc
    bool ok = false;
    EXPECT_EQ(Decode(w.Finish(), 16, &ok), "abcabcabccccccc" "c");
    EXPECT_TRUE(ok);
}

TEST(RarUnpack20, ReadsNewTablesInTheMiddleOfAMember) {
    BitWriter w;
    PutTables(w);
    PutLiterals(w, "ab");
    w.Put(MainCode(269), 4);
    PutTables(w, true);  // unchanged lengths, sent as changes
    PutLiterals(w, "c");
    bool ok = false;
    EXPECT_EQ(Decode(w.Finish(), 3, &ok), "abc");
    EXPECT_TRUE(ok);
}

TEST(RarUnpack20, RefusesCorruptStreams) {
    struct Case {
        const char* what;
        Bytes packed;
        uint32_t size;
    };
    std::vector<Case> cases;
    {
        BitWriter w;
        PutTables(w);
        PutLiterals(w, "a");
        PutMatch3At3(w);  // reaches before the first byte
        cases.push_back({"match before the start", w.Finish(), 4});
    }
    {
        BitWriter w;
        PutTables(w);
        w.Put(MainCode(257), 4);  // no old distance yet
        w.Put(0, 1);
        cases.push_back({"old distance before any match", w.Finish(), 2});
    }
    {
        BitWriter w;
        PutTables(w);
        PutLiterals(w, "ab");
        cases.push_back({"input ends before the member", w.Finish(), 200});
    }
    {
        BitWriter w;
        w.Put(0, 2);
        for (int s = 0; s < 19; ++s) w.Put(s == 16 ? 1 : 0, 4);  // only the repeat code
        w.Put(0, 1);
        cases.push_back({"table starting with a repeat", w.Finish(4), 1});
    }
    cases.push_back({"no input at all", Bytes(), 1});
    for (const Case& c : cases) {
        bool ok = true;
        Decode(c.packed, c.size, &ok);
        EXPECT_FALSE(ok) << c.what;
    }
}

// The first 32 bytes of a channel, before the weights adapt, are the running difference of
// the deltas: each byte is the previous one minus the delta.
TEST(RarUnpack20, MultimediaModeSubtractsDeltasFromThePrediction) {
    BitWriter w;
    w.Put(2, 2);  // multimedia
    w.Put(0, 2);  // one channel
    PutBitLengthCode(w);
    std::vector<int> lengths(257, 0);
    lengths[1] = lengths[2] = lengths[3] = lengths[256] = 4;  // codes 0..3
    PutLengths(w, lengths);
    for (uint32_t code : {0u, 1u, 2u, 0u}) w.Put(code, 4);  // deltas 1, 2, 3, 1
    bool ok = false;
    EXPECT_EQ(Decode(w.Finish(), 4, &ok), std::string("\xFF\xFD\xFA\xF9", 4));
    EXPECT_TRUE(ok);
}

// In a solid archive the second member's match reaches into the first member's bytes, and its
// tables are the ones sent at the end of the first member.
TEST(RarUnpack20, SolidMembersShareWindowAndTables) {
    BitWriter first;
    PutTables(first);
    PutLiterals(first, "abc");
    first.Put(MainCode(269), 4);
    PutTables(first, true);
    BitWriter second;
    PutMatch3At3(second);

    rar_test::Member m1{"one", {}}, m2{"two", {}};
    m1.data = first.Finish(8);
    m2.data = second.Finish(8);
    m1.method = m2.method = 0x35;
    m1.unpackedSize = m2.unpackedSize = 3;
    m1.fileCrc = m2.fileCrc = Crc32(reinterpret_cast<const uint8_t*>("abc"), 3);
    m2.flags |= 0x10;
    Bytes archive = rar_test::MakeArchive({m1, m2}, 0x08);

    ArchiveBlock block;
    block.data = archive.data();
    block.size = int32_t(archive.size());
    ByteBuffer out;
    ASSERT_TRUE(ExtractArchiveMember(&out, "two", &block));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), 3), "abc");
    // Without the solid flag the first member is skipped and the match has nothing to copy.
    archive = rar_test::MakeArchive({m1, m2}, 0);
    block.data = archive.data();
    EXPECT_FALSE(ExtractArchiveMember(&out, "two", &block));
}

namespace {

// One packed member of `text` (3 bytes) made of literals, ending with fresh tables for the
// next member of the stream; starts the stream anew unless continuing.
rar_test::Member PackedLiterals(const char* name, const char* text, bool continuing) {
    BitWriter w;
    if (!continuing) PutTables(w);
    PutLiterals(w, text);
    w.Put(MainCode(269), 4);
    PutTables(w, true);
    rar_test::Member m{name, w.Finish(8)};
    m.method = 0x35;
    m.unpackedSize = int64_t(std::strlen(text));
    m.fileCrc = Crc32(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
    if (continuing) m.flags |= 0x10;
    return m;
}

// A member continuing the stream that repeats the last 3 bytes of the stream before it.
rar_test::Member PackedRepeat(const char* name, const char* expected) {
    BitWriter w;
    PutMatch3At3(w);
    rar_test::Member m{name, w.Finish(8)};
    m.method = 0x35;
    m.unpackedSize = 3;
    m.fileCrc = Crc32(reinterpret_cast<const uint8_t*>(expected), 3);
    m.flags |= 0x10;
    return m;
}

// An encrypted member (flag 0x04) of a solid stream: its bytes are noise without the key.
rar_test::Member Encrypted(const char* name, uint8_t method) {
    rar_test::Member m{name, Bytes{0x9E, 0x37, 0x79, 0xB9, 0x7F, 0x4A, 0x7C, 0x15, 0xF3, 0x9C, 0xC0, 0x60}};
    m.method = method;
    m.unpackedSize = method == 0x30 ? 12 : 40;
    m.fileCrc = 0x12345678;
    m.flags |= 0x04 | (method == 0x30 ? 0 : 0x10);
    return m;
}

std::string ExtractText(const Bytes& archive, const char* name, bool* found) {
    ArchiveBlock block;
    block.data = archive.data();
    block.size = int32_t(archive.size());
    ByteBuffer out;
    *found = ExtractArchiveMember(&out, name, &block);
    return std::string(reinterpret_cast<const char*>(out.Data()), size_t(out.Size()));
}

}  // namespace

// An encrypted member of a solid archive is absent (there is no key), and the search goes on
// past it. A packed member that continues the stream after an encrypted packed one is absent
// too: its code tables and window would come from the encrypted bytes. Stored members, and
// packed members from the next one that starts the stream anew, are found.
TEST(RarSolidEncrypted, LaterMembersAreFoundUnlessTheyDependOnTheEncryptedData) {
    rar_test::Member stored{"stored", rar_test::Text("plain stored bytes")};
    const std::vector<rar_test::Member> members = {
        PackedLiterals("one", "abc", false),
        Encrypted("secret", 0x35),
        PackedRepeat("two", "abc"),          // continues the stream through "secret"
        stored,
        PackedLiterals("fresh", "cab", false),  // starts it anew
        PackedRepeat("after", "cab"),
    };
    const Bytes archive = rar_test::MakeArchive(members, 0x08);
    struct Case {
        const char* name;
        bool found;
        const char* text;
    } cases[] = {
        {"one", true, "abc"},       {"secret", false, ""}, {"two", false, ""},
        {"stored", true, "plain stored bytes"}, {"fresh", true, "cab"}, {"after", true, "cab"},
        {"absent", false, ""},
    };
    for (const Case& c : cases) {
        bool found = !c.found;
        EXPECT_EQ(ExtractText(archive, c.name, &found), c.text) << c.name;
        EXPECT_EQ(found, c.found) << c.name;
    }

    // Without the encrypted member the second member continues the first one's stream.
    std::vector<rar_test::Member> clear = members;
    clear.erase(clear.begin() + 1);
    bool found = false;
    EXPECT_EQ(ExtractText(rar_test::MakeArchive(clear, 0x08), "two", &found), "abc");
    EXPECT_TRUE(found);
}

// A stored member never feeds the solid stream, so an encrypted stored one leaves it whole.
TEST(RarSolidEncrypted, AnEncryptedStoredMemberLeavesTheStreamWhole) {
    const Bytes archive = rar_test::MakeArchive(
        {PackedLiterals("one", "cba", false), Encrypted("secret", 0x30), PackedRepeat("two", "cba")}, 0x08);
    bool found = true;
    ExtractText(archive, "secret", &found);
    EXPECT_FALSE(found);
    EXPECT_EQ(ExtractText(archive, "two", &found), "cba");
    EXPECT_TRUE(found);
}

// Outside a solid archive an encrypted member is absent and the others are found as ever.
TEST(RarSolidEncrypted, NonSolidArchivesSkipEncryptedMembers) {
    rar_test::Member a{"a", rar_test::Text("A")}, b{"b", rar_test::Text("B")};
    const Bytes archive = rar_test::MakeArchive({a, Encrypted("secret", 0x35), b});
    bool found = false;
    EXPECT_EQ(ExtractText(archive, "b", &found), "B");
    EXPECT_TRUE(found);
    ExtractText(archive, "secret", &found);
    EXPECT_FALSE(found);
}

// ---- The quick loops against the plain decoder ---------------------------------------------
//
// RarUnpack20 decodes most symbols in quick loops without bounds checks, where the input and
// the output leave a margin, and leaves the rest to a careful path; the plain decoder
// (rar_unpack20_plain.h) is the decoder as it was before, one symbol at a time. Both must give
// the same results on any stream, in every way the output can be asked for.

namespace {

// Canonical codes for the lengths of one table: by length, then by symbol.
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
    std::vector<uint32_t> codes(lengths.size(), 0);
    uint32_t code = 0;
    for (int len = 1; len <= 15; ++len) {
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] == len) codes[s] = code++;
        }
        code <<= 1;
    }
    return codes;
}

constexpr int kMainSyms = 298, kDistSyms = 48, kRepSyms = 28, kAudioSyms = 257;
constexpr uint32_t kLenBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                   24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr int kLenBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr int kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};
constexpr uint32_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};

int DistBits(int slot) { return slot < 4 ? 0 : slot < 36 ? (slot - 2) / 2 : 16; }
uint32_t DistBase(int slot) {
    uint32_t base = 0;
    for (int s = 0; s < slot; ++s) base += 1u << DistBits(s);
    return base;
}

// Writes streams symbol by symbol with code lengths of the test's choosing and keeps the bytes
// an LZ stream stands for. Every symbol written must have a code in the present tables.
class StreamWriter {
public:
    // New LZ tables (after the table code, unless the stream starts with them): lengths of
    // the 374 main, distance and repeat symbols, sent through a bit-length code with the
    // given 19 lengths (which must give codes to 0 to 15).
    void Tables(const std::vector<int>& lengths, const std::vector<int>& lengthCode = FlatLengthCode()) {
        Head(false, 0);
        SendLengths(lengths, lengthCode);
        main_ = Code{std::vector<int>(lengths.begin(), lengths.begin() + kMainSyms)};
        dist_ = Code{std::vector<int>(lengths.begin() + kMainSyms, lengths.begin() + kMainSyms + kDistSyms)};
        rep_ = Code{std::vector<int>(lengths.begin() + kMainSyms + kDistSyms, lengths.end())};
        audio_ = false;
    }
    // New multimedia tables for 1 to 4 channels: 257 lengths per channel.
    void AudioTables(int channels, const std::vector<int>& lengths,
                     const std::vector<int>& lengthCode = FlatLengthCode()) {
        Head(true, channels);
        SendLengths(lengths, lengthCode);
        channels_.clear();
        for (int c = 0; c < channels; ++c) {
            channels_.push_back(Code{std::vector<int>(lengths.begin() + c * kAudioSyms,
                                                      lengths.begin() + (c + 1) * kAudioSyms)});
        }
        if (channel_ >= channels) channel_ = 0;
        audio_ = true;
    }
    // The code that new tables follow (then call Tables or AudioTables).
    void TableSwitch() {
        if (audio_) {
            Put(channels_[size_t(channel_)], 256);
        } else {
            Put(main_, 269);
        }
    }
    void Literal(uint8_t b) {
        Put(main_, b);
        all_.push_back(char(b));
    }
    // A match through the length slots (main symbols 270 and up): lengths from 3 to 258,
    // plus 1 from 8 KB back and 2 from 256 KB back.
    void Match(uint32_t length, uint32_t distance) {
        const uint32_t bonus = (distance >= 0x2000) + (distance >= 0x40000);
        ASSERT_TRUE(length >= 3 + bonus && length <= 258 + bonus) << length << " at " << distance;
        uint32_t field = length - 3 - bonus;
        int slot = 27;
        while (kLenBase[slot] > field) --slot;
        Put(main_, 270 + slot);
        Extra(field - kLenBase[slot], kLenBits[slot]);
        int dslot = 47;
        while (DistBase(dslot) > distance - 1) --dslot;
        Put(dist_, dslot);
        Extra(distance - 1 - DistBase(dslot), DistBits(dslot));
        Copy(length, distance);
    }
    // Two bytes from at most 256 back (main symbols 261 to 268).
    void Short(uint32_t distance) {
        int slot = 7;
        while (kShortBase[slot] > distance - 1) --slot;
        Put(main_, 261 + slot);
        Extra(distance - 1 - kShortBase[slot], kShortBits[slot]);
        Copy(2, distance);
    }
    // The last match again (main symbol 256).
    void Repeat() {
        Put(main_, 256);
        Copy(last_.first, last_.second);
    }
    // The k-th newest of the last four distances (1 to 4; main symbols 257 to 260), with a
    // length through the repeat slots: `field` is the length before the distance's bonus.
    void Old(int k, uint32_t field) {
        uint32_t distance = recent_[(recent_.size() - size_t(k))];
        Put(main_, 256 + k);
        int slot = 27;
        while (kLenBase[slot] > field - 2) --slot;
        Put(rep_, slot);
        Extra(field - 2 - kLenBase[slot], kLenBits[slot]);
        Copy(field + (distance >= 0x101) + (distance >= 0x2000) + (distance >= 0x40000), distance);
    }
    // One multimedia delta of the present channel.
    void Delta(int symbol) {
        Put(channels_[size_t(channel_)], symbol);
        channel_ = channel_ + 1 == int(channels_.size()) ? 0 : channel_ + 1;
    }
    // The packed bytes of the member so far, then `padding` zero bytes; Bits() of them hold
    // symbols.
    Bytes Finish(size_t padding = 0) { return w_.Finish(padding); }
    uint64_t Bits() const { return bits_; }
    // The bytes of an LZ member so far, and their count.
    std::string Expected() const { return all_.substr(memberStart_); }
    uint32_t Size() const { return uint32_t(all_.size() - memberStart_); }
    // Starts the next member of a solid stream: its bits are written apart from the last's.
    void NextMember() {
        w_ = BitWriter();
        bits_ = 0;
        memberStart_ = all_.size();
    }

    static std::vector<int> FlatLengthCode() { return std::vector<int>(19, 5); }

private:
    struct Code {
        std::vector<int> lengths;
        std::vector<uint32_t> codes = CanonicalCodes(lengths);
    };

    void Put(const Code& code, int symbol) {
        ASSERT_GT(code.lengths[size_t(symbol)], 0) << "symbol " << symbol << " has no code";
        w_.Put(code.codes[size_t(symbol)], code.lengths[size_t(symbol)]);
        bits_ += uint64_t(code.lengths[size_t(symbol)]);
    }
    void Extra(uint32_t value, int bits) {
        w_.Put(value, bits);
        bits_ += uint64_t(bits);
    }
    void Head(bool audio, int channels) {
        w_.Put(audio ? 2 : 0, 2);  // lengths sent whole, not as changes
        bits_ += 2;
        if (audio) {
            w_.Put(uint32_t(channels - 1), 2);
            bits_ += 2;
        }
    }
    void SendLengths(const std::vector<int>& lengths, const std::vector<int>& lengthCode) {
        for (int len : lengthCode) w_.Put(uint32_t(len), 4);
        bits_ += 19 * 4;
        Code code{lengthCode};
        for (int len : lengths) Put(code, len);
    }
    void Copy(uint32_t length, uint32_t distance) {
        ASSERT_TRUE(distance >= 1 && distance <= all_.size()) << distance;
        for (uint32_t i = 0; i < length; ++i) all_.push_back(all_[all_.size() - distance]);
        recent_.push_back(distance);
        last_ = {length, distance};
    }

    BitWriter w_;
    uint64_t bits_ = 0;
    Code main_{std::vector<int>(kMainSyms, 0)}, dist_{std::vector<int>(kDistSyms, 0)},
        rep_{std::vector<int>(kRepSyms, 0)};
    std::vector<Code> channels_;
    int channel_ = 0;
    bool audio_ = false;
    std::string all_;  // every byte of the stream, for matches
    size_t memberStart_ = 0;
    std::vector<uint32_t> recent_ = {0, 0, 0, 0};
    std::pair<uint32_t, uint32_t> last_{0, 0};
};

}  // namespace

namespace {

// How the caller asks for each member's bytes: a block of exactly the member's size, a
// larger one (where a last match running past the end shows), a smaller one (the rest goes
// through the window only), or no block but for the last member, as when a solid archive's
// later member is wanted.
enum class OutMode { kExact, kLarger, kSmaller, kLastOnly };

struct Call {
    Bytes packed;
    uint32_t unpacked;
    bool keep;
};

struct Outcome {
    bool ok;
    uint32_t written;
    Bytes out;  // the whole block when ok
};

template <class Decoder>
std::vector<Outcome> Run(const std::vector<Call>& calls, OutMode mode) {
    Decoder decoder;
    std::vector<Outcome> outcomes;
    for (size_t i = 0; i < calls.size(); ++i) {
        const Call& c = calls[i];
        const bool none = mode == OutMode::kLastOnly && i + 1 < calls.size();
        const uint32_t size = mode == OutMode::kLarger    ? c.unpacked + 300
                              : mode == OutMode::kSmaller ? c.unpacked / 2
                                                          : c.unpacked;
        Bytes out(size, 0xA5);
        // The packed bytes in a block of exactly their size, so that ASan sees any read past.
        const Bytes in = c.packed;
        uint32_t written = 12345;
        bool ok = decoder.Decode(in.data(), uint32_t(in.size()), c.unpacked, c.keep,
                                 none ? nullptr : out.data(), size, &written);
        outcomes.push_back({ok, written, ok ? out : Bytes()});
    }
    return outcomes;
}

// Both decoders on the same members in every out mode; returns the quick one's outcomes in
// the exact mode.
std::vector<Outcome> ExpectSameAsPlain(const std::vector<Call>& calls, const std::string& what) {
    std::vector<Outcome> exact;
    for (OutMode mode : {OutMode::kExact, OutMode::kLarger, OutMode::kSmaller, OutMode::kLastOnly}) {
        std::vector<Outcome> quick = Run<RarUnpack20>(calls, mode);
        std::vector<Outcome> plain = Run<rar_test::PlainUnpack20>(calls, mode);
        for (size_t i = 0; i < calls.size(); ++i) {
            SCOPED_TRACE(what + ", mode " + std::to_string(int(mode)) + ", member " + std::to_string(i));
            EXPECT_EQ(quick[i].ok, plain[i].ok);
            EXPECT_EQ(quick[i].written, plain[i].written);
            EXPECT_TRUE(quick[i].out == plain[i].out);
        }
        if (mode == OutMode::kExact) exact = quick;
    }
    return exact;
}

// The decoded bytes against the stream's, with the first difference rather than both whole.
::testing::AssertionResult SameText(const Bytes& got, const std::string& want) {
    const std::string text(got.begin(), got.end());
    if (text == want) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < text.size() && at < want.size() && text[at] == want[at]) ++at;
    return ::testing::AssertionFailure() << "sizes " << text.size() << " and " << want.size()
                                         << ", first difference at " << at;
}

// Main symbols 0 to 297 with 9-bit codes, distance slots with 6, repeat slots with 5.
std::vector<int> EveryLzCode() {
    std::vector<int> lengths(kMainSyms, 9);
    lengths.resize(kMainSyms + kDistSyms, 6);
    lengths.resize(kMainSyms + kDistSyms + kRepSyms, 5);
    return lengths;
}

// A small deterministic generator for the streams' choices.
struct Rng {
    uint32_t state;
    uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

}  // namespace

// Matches closer than 8 bytes overlap the bytes they copy; the quick loop writes them in
// 8-byte steps of a repeated pattern, the careful path byte by byte near the end.
TEST(RarUnpack20Quick, OverlappingCopiesAtEveryShortDistance) {
    StreamWriter w;
    w.Tables(EveryLzCode());
    Rng rng{7};
    for (uint32_t distance = 1; distance <= 17; ++distance) {
        for (uint32_t length : {2u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 33u, 100u, 257u, 258u}) {
            for (uint32_t i = 0; i < distance; ++i) w.Literal(uint8_t(rng.Next()));
            if (length == 2) {
                w.Short(distance);
            } else {
                w.Match(length, distance);
            }
        }
        w.Repeat();
        w.Old(2, 9);
    }
    const std::string expected = w.Expected();
    std::vector<Outcome> got = ExpectSameAsPlain({{w.Finish(), uint32_t(expected.size()), false}}, "short distances");
    ASSERT_TRUE(got[0].ok);
    EXPECT_TRUE(SameText(got[0].out, expected));
}

// Codes of every length from 1 to 15 in the main, distance and repeat tables and in the
// bit-length code that sends them: the quick look-up takes the short ones, the longer ones
// search, in both loops.
TEST(RarUnpack20Quick, CodesOfEveryLengthInEveryTable) {
    // Lengths 1 to 15 and 15 again: a complete code of 16 symbols.
    auto everyLength = [](std::vector<int>& lengths, size_t offset, const std::vector<int>& symbols) {
        for (size_t i = 0; i < symbols.size(); ++i) lengths[offset + size_t(symbols[i])] = int(std::min<size_t>(i + 1, 15));
    };
    std::vector<int> lengths(kMainSyms + kDistSyms + kRepSyms, 0);
    const std::vector<int> main = {'a', 270, 'b', 256, 'c', 261, 'd', 257, 'e', 279, 'f', 262, 'g', 290, 'h', 297};
    std::vector<int> slots(16);
    for (int i = 0; i < 16; ++i) slots[size_t(i)] = i;
    everyLength(lengths, 0, main);
    everyLength(lengths, kMainSyms, slots);               // distances 1 to 256
    everyLength(lengths, kMainSyms + kDistSyms, slots);   // repeat lengths 2 to 33
    std::vector<int> lengthCode(19, 0);
    everyLength(lengthCode, 0, slots);

    StreamWriter w;
    w.Tables(lengths, lengthCode);
    Rng rng{11};
    for (const char* p = "abcdefgh"; *p; ++p) w.Literal(uint8_t(*p));
    w.Match(3, 8);  // before it, repeats and old distances would have nothing to repeat
    for (int i = 0; i < 20000; ++i) {
        const uint32_t produced = w.Size();
        switch (rng.Below(8)) {
            case 0: case 1: case 2: w.Literal(uint8_t("abcdefgh"[rng.Below(8)])); break;
            case 3: {
                const uint32_t lengthsAt[] = {3, 13 + rng.Below(2), 67 + rng.Below(16), 227 + rng.Below(32)};
                w.Match(lengthsAt[rng.Below(4)], 1 + rng.Below(std::min(produced, 256u)));
                break;
            }
            case 4: w.Short(1 + rng.Below(std::min(produced, 8u))); break;
            case 5: w.Repeat(); break;
            default: w.Old(1, 2 + rng.Below(32)); break;
        }
    }
    const std::string expected = w.Expected();
    std::vector<Outcome> got = ExpectSameAsPlain({{w.Finish(), uint32_t(expected.size()), false}}, "every code length");
    ASSERT_TRUE(got[0].ok);
    EXPECT_TRUE(SameText(got[0].out, expected));
}

// The quick loop stops 8 bytes before the input's end; the careful path decodes the rest, and
// a member whose last symbols are cut off fails, as it always did. Every cut of the last 24
// bytes, and the whole stream with padding.
TEST(RarUnpack20Quick, InputEndingInsideTheQuickLoopsMargin) {
    StreamWriter w;
    w.Tables(EveryLzCode());
    Rng rng{3};
    for (int i = 0; i < 3000; ++i) {
        const uint32_t produced = w.Size();
        if (produced < 16 || rng.Below(3) == 0) {
            w.Literal(uint8_t(rng.Next()));
        } else {
            w.Match(5 + rng.Below(20), 1 + rng.Below(produced));
        }
    }
    const std::string expected = w.Expected();
    const Bytes whole = w.Finish(8);
    const size_t used = size_t((w.Bits() + 7) / 8);
    for (size_t cut = used - 24; cut <= whole.size(); ++cut) {
        const Bytes packed(whole.begin(), whole.begin() + ptrdiff_t(cut));
        std::vector<Outcome> got = ExpectSameAsPlain({{packed, uint32_t(expected.size()), false}},
                                                     "cut at " + std::to_string(cut));
        EXPECT_EQ(got[0].ok, cut * 8 >= w.Bits()) << cut;
        if (got[0].ok) {
            EXPECT_TRUE(SameText(got[0].out, expected)) << cut;
        }
    }
}

// A solid stream of two members, the first longer than the 1 MB window: its bytes pass the
// window's end (decoded through the window, or straight into the block and then given to the
// window), and the second member's matches reach back across it. The first member's last
// match runs a few bytes past its end, which the window keeps too.
TEST(RarUnpack20Quick, MatchesAcrossTheWindowsWrap) {
    StreamWriter w;
    w.Tables(EveryLzCode());
    Rng rng{5};
    while (w.Size() < 1200000) {
        const uint32_t produced = w.Size();
        if (produced < 300 || rng.Below(4) == 0) {
            w.Literal(uint8_t(rng.Next()));
        } else {
            w.Match(100 + rng.Below(158), 1 + rng.Below(std::min(produced, 0x100000u)));
        }
    }
    w.Match(20, 1000);
    const std::string first = w.Expected();
    // The table code and fresh tables end the member, for the next to start with.
    w.TableSwitch();
    w.Tables(EveryLzCode());
    const Call one{w.Finish(8), uint32_t(first.size() - 5), false};

    w.NextMember();
    for (int i = 0; i < 3000; ++i) {
        w.Match(5 + rng.Below(250), 0x100000 - rng.Below(0x30000));
        if (i % 7 == 0) w.Literal(uint8_t(rng.Next()));
    }
    const std::string second = w.Expected();
    std::vector<Outcome> got = ExpectSameAsPlain({one, {w.Finish(), uint32_t(second.size()), true}}, "window wrap");
    ASSERT_TRUE(got[0].ok && got[1].ok);
    EXPECT_TRUE(SameText(got[0].out, first.substr(0, first.size() - 5)));
    EXPECT_TRUE(SameText(got[1].out, second));
}

// Multimedia blocks of 1 to 4 channels, new tables that change the count between blocks (and
// so leave the channels at different places in their 32-byte blocks of weights), a switch to
// LZ and back, codes of 1 to 15 bits, and a second member continuing the stream: the quick
// loop's predictors and its batched error sums against the plain predictor.
TEST(RarUnpack20Quick, MultimediaChannelsAndTableSwitches) {
    // 255 deltas with 8-bit codes, delta 255 and the table code with 9; or 16 symbols with
    // lengths 1 to 15 and 15 again, the table code among them.
    auto flat = [](int channels) {
        std::vector<int> lengths;
        for (int c = 0; c < channels; ++c) {
            for (int s = 0; s < kAudioSyms; ++s) lengths.push_back(s >= 255 ? 9 : 8);
        }
        return lengths;
    };
    const std::vector<int> few = {0, 1, 255, 2, 254, 3, 253, 4, 252, 16, 240, 64, 192, 128, 256, 127};
    auto everyLength = [&](int channels) {
        std::vector<int> lengths(size_t(kAudioSyms * channels), 0);
        for (int c = 0; c < channels; ++c) {
            for (size_t i = 0; i < few.size(); ++i) lengths[size_t(c * kAudioSyms + few[i])] = int(std::min<size_t>(i + 1, 15));
        }
        return lengths;
    };
    Rng rng{9};
    uint32_t bytes = 0;  // of the first member
    // Mostly small deltas either way; with the 16 symbols, any of them but the table code.
    auto deltas = [&](StreamWriter& w, int n, bool fewOnly) {
        for (int i = 0; i < n; ++i) {
            const uint32_t r = rng.Below(16);
            int delta = fewOnly ? few[r == 14 ? 0 : r]
                                : int(r < 8 ? rng.Below(6) : r < 12 ? 254 - rng.Below(6) : rng.Below(255));
            w.Delta(delta);
        }
        bytes += uint32_t(n);
    };
    StreamWriter w;
    w.AudioTables(1, flat(1));
    deltas(w, 5000, false);
    for (int channels : {3, 2, 4, 1, 4}) {
        w.TableSwitch();
        w.AudioTables(channels, channels % 2 == 0 ? everyLength(channels) : flat(channels));
        deltas(w, 3001 + int(rng.Below(64)), channels % 2 == 0);
    }
    w.TableSwitch();
    w.Tables(EveryLzCode());
    for (int i = 0; i < 100; ++i) w.Literal(uint8_t(i));
    w.Match(50, 77);
    bytes += 150;
    w.TableSwitch();
    w.AudioTables(2, flat(2));
    deltas(w, 2001, false);
    // New tables end the member, for the next to start with.
    w.TableSwitch();
    w.AudioTables(3, flat(3));
    const Call one{w.Finish(8), bytes, false};
    w.NextMember();
    deltas(w, 4000, false);
    std::vector<Outcome> got = ExpectSameAsPlain({one, {w.Finish(8), 4000, true}}, "multimedia");
    EXPECT_TRUE(got[0].ok && got[1].ok);
}

// Streams of the archive writer's encoder, whole and damaged: bytes changed at many places,
// cut short at many lengths. Whatever the plain decoder makes of them, the quick one must
// make too.
TEST(RarUnpack20Quick, PackedContentWholeAndDamaged) {
    namespace rw = rh::rarwrite;
    namespace sample = rh::rarwrite::sample;
    struct Case {
        const char* what;
        Bytes data;
        rw::Multimedia mode;
    };
    const size_t size = 24 << 10;
    const Case cases[] = {
        {"text", sample::TextLike(size, 1), rw::Multimedia::kOff},
        {"binary", sample::BinaryLike(size, 2), rw::Multimedia::kOff},
        {"picture lz", sample::PictureLike(size, 3), rw::Multimedia::kOff},
        {"picture", sample::PictureLike(size, 3), rw::Multimedia::kAuto},
        {"8-bit mono", sample::SamplesLike(size, 1, 1, 4), rw::Multimedia::kChannels1},
        {"16-bit mono", sample::SamplesLike(size, 2, 1, 5), rw::Multimedia::kChannels2},
        {"16-bit stereo", sample::SamplesLike(size, 2, 2, 6), rw::Multimedia::kChannels4},
        {"random", sample::Random(size, 7), rw::Multimedia::kAuto},
    };
    for (const Case& c : cases) {
        const Bytes packed = rw::Pack(c.data, c.mode);
        std::vector<Outcome> got = ExpectSameAsPlain({{packed, uint32_t(size), false}}, c.what);
        ASSERT_TRUE(got[0].ok) << c.what;
        EXPECT_TRUE(got[0].out == c.data) << c.what;
        Rng rng{13};
        for (int i = 0; i < 8; ++i) {
            Bytes damaged = packed;
            damaged[rng.Below(uint32_t(damaged.size()))] ^= uint8_t(1 + rng.Below(255));
            ExpectSameAsPlain({{damaged, uint32_t(size), false}}, std::string(c.what) + " damaged " + std::to_string(i));
            Bytes cut(packed.begin(), packed.begin() + ptrdiff_t(rng.Below(uint32_t(packed.size()))));
            ExpectSameAsPlain({{cut, uint32_t(size), false}}, std::string(c.what) + " cut " + std::to_string(cut.size()));
        }
    }
}
