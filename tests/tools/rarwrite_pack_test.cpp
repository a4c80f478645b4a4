// Members packed with the RAR 2.0 method read back through the engine's own reader: every kind
// of content and size, LZ77 and multimedia blocks, matches at the edges of the length and
// distance codes, several tables per member, and solid streams.

#include "core/files/archive/archive_file_source.h"
#include "core/files/archive/rar_archive.h"
#include "core/files/file_ref.h"
#include "core/files/stream.h"
#include "core/types/value_types.h"
#include "tools/rarwrite/rar_pack20.h"
#include "tools/rarwrite/rar_writer.h"
#include "tools/rarwrite/sample_content.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace rw = rh::rarwrite;
namespace sample = rh::rarwrite::sample;
using rw::Member;
using rw::Multimedia;
using Bytes = std::vector<uint8_t>;

bool Extract(const Bytes& archive, const std::string& name, Bytes* out) {
    ArchiveBlock block;
    block.data = archive.data();
    block.size = int32_t(archive.size());
    ByteBuffer buffer;
    bool ok = ExtractArchiveMember(&buffer, name.c_str(), &block);
    out->assign(buffer.Data(), buffer.Data() + buffer.Size());
    return ok;
}

Bytes Write(const std::vector<Member>& members, const rw::WriteOptions& options) {
    Bytes archive;
    std::string error;
    EXPECT_TRUE(rw::WriteArchive(members, options, &archive, &error)) << error;
    return archive;
}

rw::WriteOptions Packing(Multimedia multimedia = Multimedia::kAuto, bool solid = false) {
    rw::WriteOptions o;
    o.method = rw::Method::kPack;
    o.multimedia = multimedia;
    o.solid = solid;
    return o;
}

uint32_t Word(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t Dword(const Bytes& b, size_t at) { return Word(b, at) | (Word(b, at + 2) << 16); }

// The file headers of an archive without comments, in order.
struct FileHeader {
    std::string name;
    uint32_t flags = 0, packedSize = 0, unpackedSize = 0;
    uint8_t version = 0, method = 0;
};

std::vector<FileHeader> FileHeaders(const Bytes& a, uint32_t* mainFlags) {
    std::vector<FileHeader> out;
    *mainFlags = Word(a, 7 + 3);
    for (size_t at = 7 + 13; at + 32 <= a.size();) {
        FileHeader h;
        h.flags = Word(a, at + 3);
        h.packedSize = Dword(a, at + 7);
        h.unpackedSize = Dword(a, at + 11);
        h.version = a[at + 24];
        h.method = a[at + 25];
        h.name.assign(a.begin() + long(at + 32), a.begin() + long(at + 32 + Word(a, at + 26)));
        out.push_back(h);
        at += Word(a, at + 5) + h.packedSize;
    }
    return out;
}

// Runs of one byte, 1 to 300 long: matches at distance 1 of every length, the last match
// repeated, lengths past the longest code.
Bytes Runs(size_t size, uint32_t seed) {
    const Bytes noise = sample::Random(size, seed);
    Bytes b;
    for (size_t i = 0; b.size() < size; ++i) b.insert(b.end(), 1 + noise[i] + noise[i + 1] / 6, noise[i + 2]);
    b.resize(size);
    return b;
}

// Random bytes, then copies from distances at the edges where the length codes change (the
// bonus lengths at 257, 8 KB and 256 KB back, the short-distance limit at 256, the window's
// end) with lengths at the edges of what a code holds. Each copy is followed by one from the
// same distance: the recent-distance codes.
Bytes EdgeMatches() {
    Bytes b = sample::Random(0x100000 + 400, 11);
    const Bytes noise = sample::Random(4096, 12);
    size_t n = 0;
    for (uint32_t distance : {1u, 2u, 255u, 256u, 257u, 258u, 0x1FFFu, 0x2000u, 0x2001u, 0x3FFFFu, 0x40000u,
                              0x40001u, 0xFFFFEu, 0xFFFFFu, 0x100000u, 0x100001u}) {
        for (uint32_t length : {2u, 3u, 4u, 5u, 6u, 257u, 258u, 259u, 260u, 261u, 600u}) {
            for (int twice = 0; twice < 2; ++twice) {
                for (uint32_t i = 0; i < length; ++i) {
                    const uint8_t c = b[b.size() - distance];
                    b.push_back(c);
                }
                b.push_back(noise[n++ % noise.size()]);
            }
        }
    }
    return b;
}

Bytes Repeat(const Bytes& unit, size_t size) {
    Bytes b;
    while (b.size() < size) b.insert(b.end(), unit.begin(), unit.end());
    b.resize(size);
    return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

// ---- One member ---------------------------------------------------------------------------

struct Case {
    const char* what;
    Bytes data;
    Multimedia multimedia;
    // The packed size may be at most this fraction of the data (plus the tables of a tiny
    // member); 0 for no bound.
    double maxRatio;
};

std::vector<Case> Cases() {
    const Bytes text = sample::TextLike(300000, 1);
    return {
        {"1 byte", {'x'}, Multimedia::kAuto, 0},
        {"2 bytes", {'x', 'x'}, Multimedia::kAuto, 0},
        {"3 bytes", {'a', 'b', 'a'}, Multimedia::kAuto, 0},
        {"5 bytes, one match", {'a', 'b', 'a', 'b', 'a'}, Multimedia::kAuto, 0},
        {"text 100", sample::TextLike(100, 2), Multimedia::kAuto, 0},
        {"text 4 KB", sample::TextLike(4096, 3), Multimedia::kAuto, 0.7},
        {"text at the block size", sample::TextLike(65536, 4), Multimedia::kAuto, 0.5},
        {"text a byte over the block size", sample::TextLike(65537, 4), Multimedia::kAuto, 0.5},
        {"text 300 KB", text, Multimedia::kAuto, 0.4},
        {"text, LZ77 only", text, Multimedia::kOff, 0.4},
        {"text forced through the predictor", sample::TextLike(50000, 5), Multimedia::kChannels1, 0},
        {"binary 300 KB", sample::BinaryLike(300000, 6), Multimedia::kAuto, 0.7},
        {"random 200 KB", sample::Random(200000, 7), Multimedia::kAuto, 1.01},
        {"random, LZ77 only", sample::Random(100000, 8), Multimedia::kOff, 1.01},
        {"zeros 1 MB", Bytes(1 << 20, 0), Multimedia::kAuto, 0.002},
        {"two-byte pattern", Repeat({'a', 'b'}, 100000), Multimedia::kAuto, 0.01},
        {"1000 random bytes over and over", Repeat(sample::Random(1000, 9), 500000), Multimedia::kAuto, 0.02},
        {"runs of every length", Runs(300000, 10), Multimedia::kAuto, 0.2},
        {"copies at the code edges", EdgeMatches(), Multimedia::kOff, 0},
        {"8-bit mono", sample::SamplesLike(200000, 1, 1, 13), Multimedia::kAuto, 0.5},
        {"8-bit stereo", sample::SamplesLike(200000, 1, 2, 14), Multimedia::kAuto, 0.5},
        {"16-bit mono", sample::SamplesLike(200000, 2, 1, 15), Multimedia::kAuto, 0.8},
        {"16-bit stereo", sample::SamplesLike(300001, 2, 2, 16), Multimedia::kAuto, 0.8},
        {"picture", sample::PictureLike(300000, 17), Multimedia::kAuto, 0.6},
        {"8-bit mono, one channel", sample::SamplesLike(100000, 1, 1, 18), Multimedia::kChannels1, 0.5},
        {"16-bit mono, two channels", sample::SamplesLike(100000, 2, 1, 19), Multimedia::kChannels2, 0.8},
        {"picture, three channels", sample::PictureLike(100000, 20), Multimedia::kChannels3, 0.6},
        {"16-bit stereo, four channels", sample::SamplesLike(100003, 2, 2, 21), Multimedia::kChannels4, 0.8},
        {"16-bit stereo, LZ77 only", sample::SamplesLike(100000, 2, 2, 22), Multimedia::kOff, 0},
        {"random through four channels", sample::Random(70000, 23), Multimedia::kChannels4, 0},
    };
}

TEST(RarPackRoundTrip, EveryKindOfContentAndSizeExtractsThroughTheReader) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        const Bytes archive = Write({{"Media\\m.bin", false, c.data}}, Packing(c.multimedia));
        uint32_t mainFlags = 0;
        const auto headers = FileHeaders(archive, &mainFlags);
        ASSERT_EQ(headers.size(), 1u);
        EXPECT_EQ(headers[0].method, 0x33);
        EXPECT_EQ(headers[0].version, 20);
        EXPECT_EQ(headers[0].flags, 0x8000u | 0x80u);  // data follows, 1 MB dictionary
        EXPECT_EQ(mainFlags, 0u);
        Bytes got;
        EXPECT_TRUE(Extract(archive, "media/M.BIN", &got));
        EXPECT_TRUE(got == c.data) << "extracted " << got.size() << " of " << c.data.size() << " bytes";
        if (c.maxRatio > 0) {
            EXPECT_LE(headers[0].packedSize, c.maxRatio * double(c.data.size()) + 100);
        }
    }
}

// The stream itself, without the archive: what the reader would see for every prefix of one
// input, so every way a member can end (in a match, after a literal, inside a block of
// either mode) comes up.
TEST(RarPackRoundTrip, EveryPrefixOfAShortInput) {
    const Bytes text = Concat({sample::TextLike(300, 24), sample::SamplesLike(300, 1, 1, 25), Runs(300, 26)});
    for (Multimedia m : {Multimedia::kOff, Multimedia::kChannels2}) {
        for (size_t size = 1; size <= text.size(); size += size < 40 ? 1 : 37) {
            const Bytes data(text.begin(), text.begin() + long(size));
            const Bytes archive = Write({{"p", false, data}}, Packing(m));
            Bytes got;
            EXPECT_TRUE(Extract(archive, "p", &got)) << size;
            EXPECT_TRUE(got == data) << size;
        }
    }
}

TEST(RarPackRoundTrip, EmptyMembersAndFoldersStayStored) {
    const Bytes archive = Write({{"d", true, {}}, {"e", false, {}}, {"f", false, {'f'}}}, Packing());
    uint32_t mainFlags = 0;
    const auto headers = FileHeaders(archive, &mainFlags);
    ASSERT_EQ(headers.size(), 3u);
    EXPECT_EQ(headers[0].method, 0x30);
    EXPECT_EQ(headers[1].method, 0x30);
    EXPECT_EQ(headers[2].method, 0x33);
    for (const char* name : {"d", "e"}) {
        Bytes got = {1};
        EXPECT_TRUE(Extract(archive, name, &got)) << name;
        EXPECT_TRUE(got.empty()) << name;
    }
}

TEST(RarPackRoundTrip, MethodPerMemberOverridesTheArchives) {
    std::vector<Member> members = {{"packed", false, sample::TextLike(20000, 27)},
                                   {"stored", false, sample::TextLike(20000, 28)}};
    members[0].method = rw::Method::kPack;
    members[1].method = rw::Method::kStore;
    members[1].multimedia = Multimedia::kChannels1;  // no effect on a stored member
    for (rw::Method archiveMethod : {rw::Method::kStore, rw::Method::kPack}) {
        rw::WriteOptions o;
        o.method = archiveMethod;
        const Bytes archive = Write(members, o);
        uint32_t mainFlags = 0;
        const auto headers = FileHeaders(archive, &mainFlags);
        ASSERT_EQ(headers.size(), 2u);
        EXPECT_EQ(headers[0].method, 0x33);
        EXPECT_EQ(headers[1].method, 0x30);
        EXPECT_EQ(headers[1].packedSize, 20000u);
        for (const Member& m : members) {
            Bytes got;
            EXPECT_TRUE(Extract(archive, m.name, &got)) << m.name;
            EXPECT_TRUE(got == m.data) << m.name;
        }
    }
}

// ---- Blocks and tables --------------------------------------------------------------------

TEST(RarPackBlocks, AutoChoosesThePredictorForSamplesAndPicturesOnly) {
    struct Row {
        const char* what;
        Bytes data;
        bool predictor;
    } rows[] = {
        {"8-bit mono", sample::SamplesLike(200000, 1, 1, 30), true},
        {"16-bit stereo", sample::SamplesLike(200000, 2, 2, 31), true},
        {"picture", sample::PictureLike(200000, 32), true},
        {"text", sample::TextLike(200000, 33), false},
        {"binary", sample::BinaryLike(200000, 34), false},
        {"random", sample::Random(200000, 35), false},
    };
    for (const Row& r : rows) {
        rw::PackStats autoStats, lzStats;
        const size_t autoSize = rw::Pack(r.data, Multimedia::kAuto, &autoStats).size();
        const size_t lzSize = rw::Pack(r.data, Multimedia::kOff, &lzStats).size();
        EXPECT_EQ(lzStats.audioBlocks, 0u) << r.what;
        if (r.predictor) {
            EXPECT_EQ(autoStats.audioBlocks, autoStats.blocks) << r.what;
            EXPECT_LT(autoSize, lzSize * 9 / 10) << r.what;
        } else {
            EXPECT_EQ(autoStats.audioBlocks, 0u) << r.what;
            EXPECT_EQ(autoSize, lzSize) << r.what;
        }
    }
}

// Content that changes kind every few blocks: new tables of either mode after either mode,
// channel counts changing (the decoder's channel restarts at 0 when there are fewer), lengths
// coded both against the last table and from zero.
TEST(RarPackBlocks, ModesAndChannelsChangeBetweenTables) {
    const Bytes data = Concat({sample::TextLike(150000, 40), sample::SamplesLike(200001, 2, 2, 41),
                               sample::Random(70000, 42), sample::PictureLike(150000, 43),
                               sample::SamplesLike(150000, 1, 1, 44), sample::SamplesLike(100000, 2, 1, 45),
                               sample::TextLike(100000, 40), Bytes(50000, 7)});
    rw::PackStats stats;
    rw::Pack(data, Multimedia::kAuto, &stats);
    EXPECT_GE(stats.blocks, data.size() / (64 << 10));
    EXPECT_GE(stats.audioBlocks, 5u);
    EXPECT_LE(stats.audioBlocks, stats.blocks - 5);
    EXPECT_GT(stats.freshTables, 1u);
    EXPECT_LT(stats.freshTables, stats.blocks);
    EXPECT_GE(std::popcount(stats.channelCounts), 2);

    const Bytes archive = Write({{"mixed", false, data}}, Packing());
    Bytes got;
    EXPECT_TRUE(Extract(archive, "mixed", &got));
    EXPECT_TRUE(got == data);
}

// ---- Solid archives -----------------------------------------------------------------------

std::vector<Member> SolidMembers() {
    const Bytes text = sample::TextLike(100000, 50);
    Bytes edited = text;
    for (size_t i = 0; i < edited.size(); i += 5000) edited[i] ^= 0x20;
    std::vector<Member> m = {
        {"a.txt", false, text},
        {"b.bin", false, sample::BinaryLike(50000, 51)},
        {"c", true, {}},
        {"d.empty", false, {}},
        {"e.pcm", false, sample::SamplesLike(80000, 2, 2, 52)},
        {"f.txt", false, edited},  // all but a few bytes are in the window already
        {"g.stored", false, sample::TextLike(3000, 53)},
        {"h.pcm", false, sample::SamplesLike(90000, 1, 1, 54)},
        {"i.txt", false, {'h', 'i'}},
        {"j.txt", false, {'!'}},
        {"k.rgb", false, sample::PictureLike(70000, 55)},
    };
    m[4].multimedia = Multimedia::kChannels4;
    m[6].method = rw::Method::kStore;
    return m;
}

TEST(RarPackSolid, LaterMembersContinueTheStream) {
    const std::vector<Member> members = SolidMembers();
    const Bytes archive = Write(members, Packing(Multimedia::kAuto, true));
    uint32_t mainFlags = 0;
    const auto headers = FileHeaders(archive, &mainFlags);
    ASSERT_EQ(headers.size(), members.size());
    EXPECT_EQ(mainFlags, 0x08u);
    bool firstPacked = true;
    for (size_t i = 0; i < members.size(); ++i) {
        const FileHeader& h = headers[i];
        ASSERT_EQ(h.name, members[i].name);
        const bool packed = h.method == 0x33;
        EXPECT_EQ(packed, !members[i].data.empty() && !members[i].method) << h.name;
        // The file solid flag on every packed member but the first.
        EXPECT_EQ((h.flags & 0x10) != 0, packed && !firstPacked) << h.name;
        if (packed) firstPacked = false;
    }
    EXPECT_LT(headers[5].packedSize, 500u) << "the edited copy of a.txt";

    // Last first, so that each extraction decodes every packed member before it anew.
    for (size_t i = members.size(); i-- > 0;) {
        Bytes got;
        EXPECT_TRUE(Extract(archive, members[i].name, &got)) << members[i].name;
        EXPECT_TRUE(got == members[i].data) << members[i].name;
    }
}

TEST(RarPackSolid, AMemberNeedsTheOnesBeforeIt) {
    const std::vector<Member> members = SolidMembers();
    // Damage in the middle of a.txt's packed bytes: f.txt, made of a.txt's bytes, no longer
    // comes out of the solid archive; packed apart, it does.
    for (bool solid : {true, false}) {
        Bytes archive = Write(members, Packing(Multimedia::kAuto, solid));
        uint32_t mainFlags = 0;
        const auto headers = FileHeaders(archive, &mainFlags);
        const size_t aData = 7 + 13 + 32 + 5;
        archive[aData + headers[0].packedSize / 2] ^= 0x10;
        Bytes got;
        EXPECT_EQ(Extract(archive, "f.txt", &got), !solid);
        EXPECT_EQ(got == members[5].data, !solid);
    }
}

// The stream packed alone and as the continuation of others gives the same bytes out, and
// the members of a solid archive pack smaller than alone when they share content.
TEST(RarPackSolid, SolidPacksSharedContentSmaller) {
    const std::vector<Member> members = SolidMembers();
    const Bytes solid = Write(members, Packing(Multimedia::kAuto, true));
    const Bytes apart = Write(members, Packing(Multimedia::kAuto, false));
    EXPECT_LT(solid.size() + 20000, apart.size());
    for (const Member& m : members) {
        Bytes a, b;
        EXPECT_TRUE(Extract(solid, m.name, &a)) << m.name;
        EXPECT_TRUE(Extract(apart, m.name, &b)) << m.name;
        EXPECT_TRUE(a == b) << m.name;
    }
}

// The way the program reads members: the archive mounted as a source, a name resolved, the
// member opened as a stream.
TEST(RarPackSolid, MembersReadThroughTheArchiveSource) {
    const std::vector<Member> members = SolidMembers();
    const Bytes archive = Write(members, Packing(Multimedia::kAuto, true));
    ArchiveFileSource source;
    ASSERT_TRUE(source.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));
    for (const char* name : {"k.rgb", "f.txt", "e.pcm"}) {
        ASSERT_TRUE(source.Exists(name)) << name;
        std::unique_ptr<Stream> stream(source.Open(name, 1));
        ASSERT_NE(stream, nullptr) << name;
        Bytes got(size_t(stream->Size()));
        ASSERT_EQ(stream->Read(got.data(), int32_t(got.size())), int32_t(got.size())) << name;
        for (const Member& m : members) {
            if (m.name == name) {
                EXPECT_TRUE(got == m.data) << name;
            }
        }
    }
}

// ---- Large ------------------------------------------------------------------------------

// 64 MB: text repeated with a byte changed every 4 KB, so most of it is long matches from
// far back (the longest lengths, the 16-bit distance slots) over about a thousand tables.
TEST(RarPackLarge, SixtyFourMegabytes) {
    const Bytes unit = sample::TextLike(768 << 10, 60);
    const Bytes noise = sample::Random((64 << 20) / 4096, 61);
    Bytes data;
    data.reserve(64 << 20);
    while (data.size() < data.capacity()) data.insert(data.end(), unit.begin(), unit.begin() + long(std::min(unit.size(), data.capacity() - data.size())));
    for (size_t i = 0; i < data.size(); i += 4096) data[i] ^= noise[i / 4096] | 1;
    std::vector<Member> members;
    members.emplace_back("big", false, data);
    Bytes archive;
    std::string error;
    ASSERT_TRUE(rw::WriteArchive(std::move(members), Packing(), &archive, &error)) << error;
    EXPECT_LT(archive.size(), data.size() / 20);

    ArchiveBlock block;
    block.data = archive.data();
    block.size = int32_t(archive.size());
    ByteBuffer got;
    ASSERT_TRUE(ExtractArchiveMember(&got, "big", &block));
    ASSERT_EQ(size_t(got.Size()), data.size());
    EXPECT_EQ(std::memcmp(got.Data(), data.data(), data.size()), 0);
}

}  // namespace
