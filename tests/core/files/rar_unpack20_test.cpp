// The RAR 2.0 decoder on streams written bit by bit here, with codes simple enough to write
// by hand: every code of a table has the same length, so the k-th symbol in order has code k.

#include "core/files/archive/rar_archive.h"
#include "core/files/archive/rar_unpack20.h"
#include "core/types/value_types.h"
#include "tests/core/files/rar_test_archive.h"

#include <gtest/gtest.h>

#include <cstring>
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
