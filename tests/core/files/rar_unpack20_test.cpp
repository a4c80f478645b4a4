// The RAR 2.0 decoder on streams written bit by bit here, with codes simple enough to write
// by hand: every code of a table has the same length, so the k-th symbol in order has code k.

#include "core/files/archive/rar_archive.h"
#include "core/files/archive/rar_unpack20.h"
#include "core/types/value_types.h"
#include "tests/core/files/rar_test_archive.h"

#include <gtest/gtest.h>

#include <string>
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
