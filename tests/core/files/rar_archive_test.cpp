#include "core/files/archive/rar_archive.h"

#include "core/files/archive/crc32.h"
#include "core/types/value_types.h"
#include "tests/core/files/rar_test_archive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using rar_test::Bytes;
using rar_test::MakeArchive;
using rar_test::Member;
using rar_test::Text;

namespace {

std::string AsString(const ByteBuffer& b) {
    return b.Size() == 0 ? std::string() : std::string(reinterpret_cast<const char*>(b.Data()), size_t(b.Size()));
}

// ExtractArchiveMember, checked against LendArchiveMember on every call, without and with an
// index of the archive: the same answer after the same walk, and the same bytes, either lent
// from inside the archive with nothing decoded or decoded.
bool Extract(const Bytes& archive, const char* name, ByteBuffer* out) {
    ArchiveBlock block;
    block.data = archive.data();
    block.size = int32_t(archive.size());
    const bool found = ExtractArchiveMember(out, name, &block);

    ArchiveIndex index;
    index.Build(block);
    ArchiveBlock indexed = block;
    MemberView indexedView;
    ByteBuffer indexedDecoded;
    EXPECT_EQ(LendArchiveMember(&indexedView, &indexedDecoded, name, &indexed, &index), found) << name;
    EXPECT_EQ(indexed.offset, block.offset) << name;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(indexedView.data), size_t(indexedView.size)),
              found ? AsString(*out) : std::string())
        << name;

    ArchiveBlock again = block;
    MemberView view;
    ByteBuffer decoded;
    EXPECT_EQ(LendArchiveMember(&view, &decoded, name, &again), found) << name;
    EXPECT_EQ(again.offset, block.offset) << name;
    if (!found) {
        EXPECT_EQ(view.data, nullptr) << name;
        EXPECT_EQ(view.size, 0) << name;
        EXPECT_EQ(decoded.Size(), 0) << name;
        return false;
    }
    const bool inside = view.data != nullptr && view.data >= archive.data() &&
                        view.data + view.size <= archive.data() + archive.size();
    if (inside) {
        EXPECT_EQ(decoded.Size(), 0) << name;
    } else {
        EXPECT_EQ(view.data, decoded.Data()) << name;
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.data), size_t(view.size)), AsString(*out)) << name;
    return true;
}

Bytes ReadFixture(const char* relative) {
    std::ifstream in(std::string(RH_FIXTURES_DIR) + "/" + relative, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Member Directory(const char* name) {
    Member m;
    m.name = name;
    m.flags = 0x80E0;  // data follows (none), directory
    return m;
}

Bytes MediaArchive() {
    Member font{"Media\\Fonts\\sylfaen.fs", Text("font bytes")};
    Member under{"a_b", Text("underscore")};
    return MakeArchive({Directory("Media\\Fonts"), font, under});
}

}  // namespace

// A real archive written by the RAR 2.x archiver: three members packed with the RAR 2.0
// method, two directories, and a name stored with a Unicode form after its plain form.
TEST(RarArchive, ExtractsEveryMemberOfTheRealWorldArchive) {
    Bytes archive = ReadFixture("rar/Rar2.rar");
    ASSERT_EQ(archive.size(), 60234u) << "fixture missing: " << RH_FIXTURES_DIR;
    struct Case {
        const char* name;
        int32_t size;
        uint32_t crc;
    } cases[] = {
        {"exe\\test.exe", 45056, 0xCFB109C8u},
        {"jpg/test.jpg", 40372, 0x088814E3u},
        {"????.txt", 15498, 0x9BD160FAu},
        {"EXE", 0, 0},
        {"jpg", 0, 0},
    };
    for (const Case& c : cases) {
        ByteBuffer out;
        ASSERT_TRUE(Extract(archive, c.name, &out)) << c.name;
        EXPECT_EQ(out.Size(), c.size) << c.name;
        EXPECT_EQ(Crc32(out.Data(), size_t(out.Size())), c.crc) << c.name;
    }
    ByteBuffer exe;
    ASSERT_TRUE(Extract(archive, "exe/test.exe", &exe));
    EXPECT_EQ(exe.Data()[0], 'M');
    EXPECT_EQ(exe.Data()[1], 'Z');
    EXPECT_FALSE(Extract(archive, "exe/test.ex", &exe));
    EXPECT_EQ(exe.Size(), 0);
}

TEST(RarArchive, NamesMatchWhateverTheSeparatorsAndCase) {
    Bytes archive = MediaArchive();
    struct Case {
        const char* query;
        bool found;
        const char* content;
    } cases[] = {
        {"media/fonts/sylfaen.fs", true, "font bytes"},
        {"Media\\Fonts\\sylfaen.fs", true, "font bytes"},
        {"MEDIA/fonts\\SYLFAEN.FS", true, "font bytes"},
        {"media_fonts_sylfaen.fs", true, "font bytes"},  // '_' stands for either separator
        {"a/b", true, "underscore"},
        {"a\\b", true, "underscore"},
        {"media/fonts", true, ""},  // a directory entry extracts to nothing
        {"media/fonts/", false, ""},
        {"/media/fonts/sylfaen.fs", false, ""},
        {"sylfaen.fs", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        ByteBuffer out;
        EXPECT_EQ(Extract(archive, c.query, &out), c.found) << c.query;
        EXPECT_EQ(AsString(out), c.content) << c.query;
    }
}

TEST(RarArchive, CompareMemberNamesOrdersAsUpperCaseBytes) {
    EXPECT_EQ(CompareMemberNames("media/x", "MEDIA\\X"), 0);
    EXPECT_EQ(CompareMemberNames("a", "B"), -1);
    EXPECT_EQ(CompareMemberNames("b", "A"), 1);
    EXPECT_EQ(CompareMemberNames("\xE9", "z"), 1);  // unsigned: 0xE9 after 'Z'
    EXPECT_EQ(CompareMemberNames("a", "a/"), -1);
    // Names are cut to 512 bytes before comparing.
    std::string longA(600, 'x'), longB(600, 'x');
    longB[550] = 'y';
    EXPECT_EQ(CompareMemberNames(longA.c_str(), longB.c_str()), 0);
}

// Each row spoils one thing about the only member; the archive must then answer "absent".
TEST(RarArchive, RefusesMembersItCannotTrust) {
    const Bytes data = Text("hello, archive");
    auto member = [&] { return Member{"m.txt", data}; };
    struct Case {
        const char* what;
        Member m;
        bool found;
    } cases[] = {
        {"plain stored member", member(), true},
        {"version 13", [&] { Member m = member(); m.version = 13; return m; }(), true},
        {"version 29", [&] { Member m = member(); m.version = 29; return m; }(), false},
        {"version 12", [&] { Member m = member(); m.version = 12; return m; }(), false},
        {"wrong file CRC", [&] { Member m = member(); m.fileCrc = 1234; return m; }(), false},
        {"encrypted", [&] { Member m = member(); m.flags |= 0x04; return m; }(), false},
        {"stored with fewer packed than unpacked bytes",
         [&] { Member m = member(); m.unpackedSize = int64_t(data.size()) + 1; return m; }(),
         false},
        {"packed size past the archive's end",
         [&] { Member m = member(); m.packedSize = 1000; return m; }(), false},
        {"packed member claiming 4 GB", [&] {
             Member m = member(); m.method = 0x35; m.unpackedSize = 0xFFFFFFFF; return m; }(),
         false},
        {"packed bytes that are not a RAR 2.0 stream",
         [&] { Member m = member(); m.method = 0x33; return m; }(), false},
    };
    for (const auto& c : cases) {
        Bytes archive = MakeArchive({c.m});
        ByteBuffer out;
        EXPECT_EQ(Extract(archive, "m.txt", &out), c.found) << c.what;
        EXPECT_EQ(AsString(out), c.found ? "hello, archive" : "") << c.what;
    }
}

TEST(RarArchive, StoredMemberWithMorePackedBytesGivesTheUnpackedSize) {
    Member m{"m", Text("abcdefgh")};
    m.unpackedSize = 5;
    m.fileCrc = Crc32(m.data.data(), 5);
    ByteBuffer out;
    ASSERT_TRUE(Extract(MakeArchive({m}), "m", &out));
    EXPECT_EQ(AsString(out), "abcde");
}

// A stored member is checked and copied in 64 KB steps: a damaged byte in any step, the
// last and partial one included, must make it absent. Extracting a second member of the same
// size into a fresh buffer, as a check for existence and then an open do, reuses the first
// one's block: every byte must be overwritten.
TEST(RarArchive, LargeStoredMembersAreCheckedAndCopiedWhole) {
    const size_t size = (size_t{1} << 20) + 1235;
    Member a{"a.bin", Bytes(size)};
    Member b{"b.bin", Bytes(size)};
    for (size_t i = 0; i < size; ++i) {
        a.data[i] = uint8_t(i * 7 + (i >> 16));
        b.data[i] = uint8_t(i * 13 + 5);
    }
    const Bytes archive = MakeArchive({a, b});
    {
        ByteBuffer scratch;
        ASSERT_TRUE(Extract(archive, "a.bin", &scratch));
        ASSERT_EQ(size_t(scratch.Size()), size);
        EXPECT_EQ(std::memcmp(scratch.Data(), a.data.data(), size), 0);
    }
    ByteBuffer out;
    ASSERT_TRUE(Extract(archive, "b.bin", &out));
    ASSERT_EQ(size_t(out.Size()), size);
    EXPECT_EQ(std::memcmp(out.Data(), b.data.data(), size), 0);

    for (size_t at : {size_t{0}, size_t{65536 + 17}, size - 1}) {
        Member bad = a;
        bad.fileCrc = Crc32(a.data.data(), size);
        bad.data[at] ^= 0x40;
        EXPECT_FALSE(Extract(MakeArchive({bad}), "a.bin", &out)) << "byte " << at;
        EXPECT_EQ(out.Size(), 0);
    }
}

TEST(RarArchive, WalksPastOtherBlocksButStopsAtASubBlock) {
    Member first{"first", Text("1")};
    Member other{"ignored", Text("comment-ish bytes")};
    other.type = 0x7A;
    Member last{"last", Text("found")};
    ByteBuffer out;
    EXPECT_TRUE(Extract(MakeArchive({first, other, last}), "last", &out));
    EXPECT_EQ(AsString(out), "found");
    other.type = 0x77;
    EXPECT_FALSE(Extract(MakeArchive({first, other, last}), "last", &out));
    EXPECT_TRUE(Extract(MakeArchive({first, other, last}), "first", &out));
}

// The index keeps the walk's answers where they are least obvious: the first of two members
// whose names compare equal, a damaged first one hiding a good second one, a member behind a
// block the walk stops at. (Extract checks the indexed answer against the walk's.)
TEST(RarArchiveIndex, AnswersAsTheWalkDoes) {
    Member good{"m", Text("good")};
    Member damaged{"M", Text("bad")};
    damaged.fileCrc = 1234;
    Member other{"x", Text("x")};
    other.type = 0x77;  // a sub block: the walk ends there
    struct Case {
        const char* what;
        std::vector<Member> members;
        const char* name;
        bool found;
        const char* content;
    } cases[] = {
        {"first of two equal names", {Member{"dir/m", Text("1")}, Member{"DIR\\M", Text("2")}}, "Dir/M", true, "1"},
        {"damaged first hides the second", {damaged, good}, "m", false, ""},
        {"good first", {good, damaged}, "m", true, "good"},
        {"behind a sub block", {other, good}, "m", false, ""},
        {"absent", {good}, "n", false, ""},
    };
    for (const Case& c : cases) {
        ByteBuffer out;
        EXPECT_EQ(Extract(MakeArchive(c.members), c.name, &out), c.found) << c.what;
        EXPECT_EQ(AsString(out), c.content) << c.what;
    }
}

// An index used on bytes other than those it was built over (which its users avoid) finds no
// member's block where it expects one and walks: the answer is still the walk's.
TEST(RarArchiveIndex, OnOtherBytesFallsBackToTheWalk) {
    const Bytes first = MakeArchive({Member{"a", Text("aaaa")}, Member{"b", Text("bb")}});
    const Bytes second = MakeArchive({Member{"b", Text("other b")}, Member{"a", Text("other a")}});
    ArchiveBlock block{first.data(), int32_t(first.size()), 0};
    ArchiveIndex index;
    ASSERT_TRUE(index.Build(block));
    ArchiveBlock changed{second.data(), int32_t(second.size()), 0};
    for (const char* name : {"a", "b"}) {
        MemberView view;
        ByteBuffer decoded;
        ASSERT_TRUE(LendArchiveMember(&view, &decoded, name, &changed, &index)) << name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.data), size_t(view.size)),
                  std::string("other ") + name);
    }
}

TEST(RarArchive, RejectsWhatIsNotARarArchive) {
    Bytes good = MakeArchive({Member{"m", Text("x")}});
    ByteBuffer out;
    ASSERT_TRUE(Extract(good, "m", &out));
    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"newer format's marker", 6, 0x01},
        {"zip signature", 0, 'P'},
        {"main header of another type", 9, 0x74},
    };
    for (const auto& c : cases) {
        Bytes bad = good;
        bad[c.at] = c.value;
        EXPECT_FALSE(Extract(bad, "m", &out)) << c.what;
    }
    EXPECT_FALSE(Extract(Bytes(), "m", &out));
    ArchiveBlock none;
    EXPECT_FALSE(ExtractArchiveMember(&out, "m", &none));
}

TEST(RarArchive, HeaderSizesThatLieEndTheSearch) {
    Bytes good = MakeArchive({Member{"m", Text("x")}});
    const size_t fileHeader = 7 + 13;
    ByteBuffer out;
    for (uint32_t size : {0u, 6u, 7u, 31u, 32u, 0xFFFFu}) {
        Bytes bad = good;
        rar_test::Set16(bad, fileHeader + 5, size);
        rar_test::SealHeader(bad, fileHeader);  // a consistent CRC over whatever is there
        EXPECT_FALSE(Extract(bad, "m", &out)) << "header size " << size;
    }
    for (uint32_t size : {0u, 12u, 0xFFFFu}) {
        Bytes bad = good;
        rar_test::Set16(bad, 7 + 5, size);
        EXPECT_FALSE(Extract(bad, "m", &out)) << "main header size " << size;
    }
}

// Every byte of a one-member archive is covered by the marker, a header CRC or the member's
// CRC, so any single changed byte must make the member absent; so must any truncation.
TEST(RarArchive, EveryDamagedOrTruncatedVariantOfASmallArchiveIsAbsent) {
    Bytes good = MakeArchive({Member{"dir\\m.txt", Text("some stored text")}});
    ByteBuffer out;
    ASSERT_TRUE(Extract(good, "dir/m.txt", &out));
    for (size_t i = 0; i < good.size(); ++i) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            Bytes bad = good;
            bad[i] ^= flip;
            EXPECT_FALSE(Extract(bad, "dir/m.txt", &out)) << "byte " << i << " ^ " << int(flip);
            EXPECT_EQ(out.Size(), 0);
        }
    }
    for (size_t n = 0; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + long(n));
        EXPECT_FALSE(Extract(cut, "dir/m.txt", &out)) << "length " << n;
    }
}

TEST(RarArchive, DamagedPackedMembersAreAbsentAndNeverCrash) {
    Bytes archive = ReadFixture("rar/Rar2.rar");
    ASSERT_FALSE(archive.empty());
    ByteBuffer out;
    // Bytes inside the packed data of exe\test.exe (its data runs from 0x5A + 44).
    for (size_t i = 0x5A + 44; i < 0x4833; i += 61) {
        Bytes bad = archive;
        bad[i] ^= 0x5A;
        EXPECT_FALSE(Extract(bad, "exe\\test.exe", &out)) << "byte " << i;
    }
    for (size_t n = 0; n < archive.size(); n += 257) {
        Bytes cut(archive.begin(), archive.begin() + long(n));
        Extract(cut, "jpg\\test.jpg", &out);
        EXPECT_FALSE(Extract(cut, "????.txt", &out)) << "length " << n;
    }
}

// Archives of format 1.5 to 2.0 embed comments in headers: an archive comment after the main
// header's 13 fixed bytes (flag 0x02), a file comment after the member's name (flag 0x08).
// The archiver seals such a header over its fixed part or up to the name only; a header
// sealed over all of it is taken too.
TEST(RarArchiveComments, StoredMembersAreFoundWhicheverWayTheHeadersAreSealed) {
    using rar_test::Seal;
    for (Seal seal : {Seal::kFormat, Seal::kWhole}) {
        Member a{"Media\\a.txt", Text("first member")};
        a.comment = "a file comment";
        a.seal = seal;
        Member b{"Media\\b.txt", Text("second, without a comment")};
        Member c{"c.bin", Bytes(3000, 0x5C)};
        c.comment = std::string(500, 'c');
        c.seal = seal;
        Member dir = Directory("Media");
        dir.comment = "a folder's comment";
        dir.seal = seal;
        for (const std::string& archiveComment : {std::string(), std::string("The archive's comment\r\n")}) {
            Bytes archive = MakeArchive({dir, a, b, c}, 0, archiveComment, seal);
            for (const Member& m : {dir, a, b, c}) {
                ByteBuffer out;
                EXPECT_TRUE(Extract(archive, m.name.c_str(), &out)) << m.name;
                EXPECT_EQ(AsString(out), std::string(m.data.begin(), m.data.end())) << m.name;
            }
            ByteBuffer out;
            EXPECT_FALSE(Extract(archive, "media/absent.txt", &out));
        }
    }
}

// The comment flag allows the shorter span, and only then; either span must match.
TEST(RarArchiveComments, AHeaderCrcMustMatchTheWholeHeaderOrTheSpanItsFlagAllows) {
    Member m{"m.txt", Text("member bytes")};
    m.comment = "comment";
    const Bytes good = MakeArchive({m}, 0, "archive comment");
    ByteBuffer out;
    ASSERT_TRUE(Extract(good, "m.txt", &out));
    const size_t mainAt = 7;
    const size_t fileAt = mainAt + rar_test::Get16(good, mainAt + 5);
    const uint32_t fileHeaderSize = rar_test::Get16(good, fileAt + 5);
    struct Case {
        const char* what;
        size_t block;
        uint16_t clearFlag;  // a flag cleared before sealing
        size_t sealEnd;      // 0: the whole header
        bool found;
    } cases[] = {
        {"main: fixed part", mainAt, 0, 13, true},
        {"main: whole header", mainAt, 0, 0, true},
        {"main: fixed part less one byte", mainAt, 0, 12, false},
        {"main: fixed part and one comment byte", mainAt, 0, 14, false},
        {"main: fixed part without the comment flag", mainAt, 0x02, 13, false},
        {"main: whole header without the comment flag", mainAt, 0x02, 0, true},
        {"file: up to the name", fileAt, 0, 32 + 5, true},
        {"file: whole header", fileAt, 0, 0, true},
        {"file: up to the name less one byte", fileAt, 0, 32 + 4, false},
        {"file: fixed part only", fileAt, 0, 32, false},
        {"file: up to the name without the comment flag", fileAt, 0x08, 32 + 5, false},
        {"file: whole header without the comment flag", fileAt, 0x08, 0, true},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        rar_test::Set16(bad, c.block + 3, rar_test::Get16(bad, c.block + 3) & ~uint32_t(c.clearFlag));
        size_t headerSize = c.block == mainAt ? rar_test::Get16(good, mainAt + 5) : fileHeaderSize;
        uint32_t crc = Crc32(bad.data() + c.block + 2, (c.sealEnd != 0 ? c.sealEnd : headerSize) - 2);
        rar_test::Set16(bad, c.block, crc & 0xFFFF);
        EXPECT_EQ(Extract(bad, "m.txt", &out), c.found) << c.what;
        EXPECT_EQ(AsString(out), c.found ? "member bytes" : "") << c.what;
    }
}

// What a comment-sealed header's CRC leaves out is the embedded comment block, which the
// reader does not use: a changed byte there leaves the member as it was. Every other byte is
// still covered by the marker, a header CRC or the member's CRC.
TEST(RarArchiveComments, OnlyTheCommentBlocksAreOutsideTheChecks) {
    Member m{"dir\\m.txt", Text("some stored text")};
    m.comment = "file note";
    const Bytes good = MakeArchive({m}, 0, "archive note");
    const size_t mainComment = 7 + 13, mainEnd = mainComment + 13 + 12;
    const size_t fileComment = mainEnd + 32 + 9, fileEnd = fileComment + 13 + 9;
    ByteBuffer out;
    ASSERT_TRUE(Extract(good, "dir/m.txt", &out));
    ASSERT_EQ(rar_test::Get16(good, 7 + 5), mainEnd - 7);
    ASSERT_EQ(good[fileComment + 2], 0x75);
    for (size_t i = 0; i < good.size(); ++i) {
        bool inComment = (i >= mainComment && i < mainEnd) || (i >= fileComment && i < fileEnd);
        for (uint8_t flip : {0x01, 0x80}) {
            Bytes bad = good;
            bad[i] ^= flip;
            EXPECT_EQ(Extract(bad, "dir/m.txt", &out), inComment) << "byte " << i << " ^ " << int(flip);
            EXPECT_EQ(AsString(out), inComment ? "some stored text" : "") << "byte " << i;
        }
    }
}

// Packed members: the real archive with an archive comment and a comment in every file header
// inserted as the archiver lays them out (the members' packed data unchanged).
TEST(RarArchiveComments, PackedMembersOfTheRealArchiveWithCommentsExtract) {
    const Bytes plain = ReadFixture("rar/Rar2.rar");
    ASSERT_EQ(plain.size(), 60234u) << "fixture missing: " << RH_FIXTURES_DIR;
    struct Case {
        const char* name;
        int32_t size;
        uint32_t crc;
    } cases[] = {
        {"exe\\test.exe", 45056, 0xCFB109C8u},
        {"jpg/test.jpg", 40372, 0x088814E3u},
        {"????.txt", 15498, 0x9BD160FAu},
        {"exe", 0, 0},
    };
    using rar_test::Seal;
    for (Seal seal : {Seal::kFormat, Seal::kWhole}) {
        const Bytes archive = rar_test::WithComments(plain, "Packed by the RAR 2.x archiver", "a file comment", seal);
        ASSERT_EQ(archive.size(), plain.size() + 13 + 30 + 5 * (13 + 14));
        EXPECT_EQ(archive[7 + 3] & 0x02, 0x02);
        for (const Case& c : cases) {
            ByteBuffer out;
            ASSERT_TRUE(Extract(archive, c.name, &out)) << c.name;
            EXPECT_EQ(out.Size(), c.size) << c.name;
            EXPECT_EQ(Crc32(out.Data(), size_t(out.Size())), c.crc) << c.name;
        }
        // Damage inside the packed data of a member still makes it absent.
        Bytes bad = archive;
        bad[bad.size() - 100] ^= 0x21;
        ByteBuffer out;
        EXPECT_FALSE(Extract(bad, "????.txt", &out));
        EXPECT_TRUE(Extract(bad, "jpg\\test.jpg", &out));
    }
    // Before this mend a header sealed the archiver's way ended the search: so must a header
    // whose comment flag is cleared, as then the whole header is the span.
    Bytes noFlag = rar_test::WithComments(plain, "", "a file comment");
    const size_t firstFile = 7 + 13;
    rar_test::Set16(noFlag, firstFile + 3, rar_test::Get16(noFlag, firstFile + 3) & ~0x08u);
    ByteBuffer out;
    EXPECT_FALSE(Extract(noFlag, "exe\\test.exe", &out));
}
