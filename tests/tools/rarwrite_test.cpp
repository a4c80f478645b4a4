// The archive writer: block layout and header CRCs checked by an independent parse here, and the
// archives cross-read by libarchive's bsdtar.

#include "tests/support/scratch_dir.h"
#include "tools/rarwrite/rar_writer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using rh::rarwrite::Crc32;
using rh::rarwrite::Member;
using rh::rarwrite::WriteArchive;
using rh::rarwrite::WriteOptions;
using Bytes = std::vector<uint8_t>;

uint32_t Word(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t Dword(const Bytes& b, size_t at) { return Word(b, at) | (Word(b, at + 2) << 16); }

Bytes Pattern(size_t size, uint32_t seed) {
    Bytes b(size);
    for (auto& c : b) c = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    return b;
}

// One block of the archive as read back by the parse below.
struct Block {
    uint8_t type = 0;
    uint32_t flags = 0;
    uint32_t headerSize = 0;
    bool headerCrcOk = false;
    std::string name;
    Bytes data;
    uint32_t fileCrc = 0, dosTime = 0, attributes = 0;
    uint8_t host = 0, version = 0, method = 0;
    // The embedded comment (main header flag 0x02, file header flag 0x08), whose block's own
    // CRC and comment CRC held.
    bool hasComment = false;
    std::string comment;
};

// The comment block at `at` inside a header that ends at `end`: 13 fixed bytes sealed over
// themselves (type 0x75, flags, size, unpacked size, version, method 0x30, comment CRC), then
// the comment stored. Returns the block's size.
size_t ParseComment(const Bytes& a, size_t at, size_t end, std::string* comment) {
    EXPECT_LE(at + 13, end);
    if (at + 13 > end) return 0;
    EXPECT_EQ(a[at + 2], 0x75);
    EXPECT_EQ(Word(a, at), Crc32(a.data() + at + 2, 11) & 0xFFFF);
    uint32_t size = Word(a, at + 5), length = Word(a, at + 7);
    EXPECT_EQ(size, 13 + length);
    EXPECT_LE(at + size, end);
    if (at + size > end || size < 13) return 0;
    EXPECT_EQ(a[at + 10], 0x30);
    comment->assign(a.begin() + long(at + 13), a.begin() + long(at + size));
    EXPECT_EQ(Word(a, at + 11), Crc32(a.data() + at + 13, length) & 0xFFFF);
    return size;
}

// Walks the blocks after the marker; every header's CRC and every size must hold together.
std::vector<Block> ParseArchive(const Bytes& a) {
    std::vector<Block> blocks;
    EXPECT_GE(a.size(), 7u);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 7), (Bytes{0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00}));
    for (size_t at = 7; at < a.size();) {
        Block b;
        EXPECT_LE(at + 7, a.size());
        if (at + 7 > a.size()) break;
        b.type = a[at + 2];
        b.flags = Word(a, at + 3);
        b.headerSize = Word(a, at + 5);
        EXPECT_LE(at + b.headerSize, a.size());
        if (b.headerSize < 7 || at + b.headerSize > a.size()) break;
        // A header that embeds a comment is sealed over its fixed part (main header) or up to the
        // name (file header); any other over all of it.
        size_t sealEnd = b.headerSize;
        if (b.type == 0x73 && (b.flags & 0x02) != 0) {
            b.hasComment = true;
            sealEnd = 13;
            EXPECT_EQ(b.headerSize, 13 + ParseComment(a, at + 13, at + b.headerSize, &b.comment));
        }
        if (b.type == 0x74 && (b.flags & 0x08) != 0) {
            b.hasComment = true;
            sealEnd = 32 + Word(a, at + 26);
        }
        b.headerCrcOk = Word(a, at) == (Crc32(a.data() + at + 2, sealEnd - 2) & 0xFFFF);
        size_t next = at + b.headerSize;
        if (b.type == 0x74) {
            uint32_t packed = Dword(a, at + 7), unpacked = Dword(a, at + 11);
            b.host = a[at + 15];
            b.fileCrc = Dword(a, at + 16);
            b.dosTime = Dword(a, at + 20);
            b.version = a[at + 24];
            b.method = a[at + 25];
            uint32_t nameSize = Word(a, at + 26);
            b.attributes = Dword(a, at + 28);
            size_t commentSize = b.hasComment ? ParseComment(a, at + 32 + nameSize, next, &b.comment) : 0;
            EXPECT_EQ(b.headerSize, 32 + nameSize + commentSize);
            if (b.method == 0x30) {
                EXPECT_EQ(packed, unpacked);  // stored
            }
            b.name.assign(a.begin() + at + 32, a.begin() + at + 32 + nameSize);
            EXPECT_LE(next + packed, a.size());
            if (next + packed > a.size()) break;
            b.data.assign(a.begin() + next, a.begin() + next + packed);
            next += packed;
        }
        blocks.push_back(b);
        at = next;
    }
    return blocks;
}

std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = rc;
    return out;
}

Bytes ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, const Bytes& b) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// A fresh folder per test, removed afterwards.
class RarWriteTree : public ::testing::Test {
protected:
    void SetUp() override {
        tree_ = dir_ / "tree";
        // Relative name (with '/') -> content; names ending in '/' are empty folders.
        files_ = {
            {"Media/Fonts/64font.fs", Pattern(300, 1)},
            {"Media/Empty.dat", {}},
            {"Media/Sky/Big.bin", Pattern(1 << 20, 2)},
            {"Media/Sky/deep/MixedCase.TXT", Pattern(17, 3)},
            {"readme.txt", {'h', 'i', '\n'}},
        };
        for (const auto& [name, data] : files_) WriteFile(tree_ / name, data);
        fs::create_directories(tree_ / "Media/EmptyDir");
    }

    Bytes Build(const WriteOptions& options = {}) {
        std::vector<Member> members;
        std::string error;
        Bytes archive;
        EXPECT_TRUE(rh::rarwrite::CollectTree(tree_.string(), &members, &error)) << error;
        EXPECT_TRUE(WriteArchive(members, options, &archive, &error)) << error;
        return archive;
    }

    static std::string Backslashed(std::string s) {
        for (char& c : s) c = c == '/' ? '\\' : c;
        return s;
    }

    rh::testing::ScratchDir scratch_{"rh_rarwrite"};
    fs::path dir_ = scratch_.path(), tree_;
    std::map<std::string, Bytes> files_;
};

const std::vector<std::string> kFolders = {"Media", "Media/EmptyDir", "Media/Fonts", "Media/Sky", "Media/Sky/deep"};

TEST(RarWriteCrc, CheckValue) {
    const std::string s = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(s.data()), s.size()), 0xCBF43926u);
    // Continuing from a partial CRC gives the CRC of the whole.
    uint32_t part = Crc32(reinterpret_cast<const uint8_t*>(s.data()), 4);
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(s.data()) + 4, 5, part), 0xCBF43926u);
}

TEST(RarWriteLayout, MainHeaderAndOneStoredMemberFieldByField) {
    Bytes a;
    std::string error;
    ASSERT_TRUE(WriteArchive({{"Dir\\ab.c", false, {'x', 'y', 'z'}}}, WriteOptions{}, &a, &error)) << error;
    const Bytes expectedHead = {
        0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00,                    // marker
        0, 0, 0x73, 0x00, 0x00, 13, 0, 0, 0, 0, 0, 0, 0,             // main header (CRC patched below)
        0, 0, 0x74, 0x00, 0x80, 40, 0,                               // file header: type, flags, size
        3, 0, 0, 0, 3, 0, 0, 0,                                      // packed, unpacked
        2,                                                           // host: Win32
        0, 0, 0, 0,                                                  // file CRC (patched below)
        0x00, 0x00, 0x21, 0x28,                                      // DOS time, date 2000-01-01
        20, 0x30, 8, 0,                                              // version, stored, name size
        0x20, 0, 0, 0,                                               // attribute: archive
        'D', 'i', 'r', '\\', 'a', 'b', '.', 'c', 'x', 'y', 'z'};
    ASSERT_EQ(a.size(), expectedHead.size());
    Bytes expected = expectedHead;
    uint32_t fileCrc = Crc32(expected.data() + expected.size() - 3, 3);
    for (int i = 0; i < 4; ++i) expected[20 + 16 + i] = uint8_t(fileCrc >> (8 * i));
    uint32_t mainCrc = Crc32(expected.data() + 9, 11), fileHeaderCrc = Crc32(expected.data() + 22, 38);
    expected[7] = uint8_t(mainCrc), expected[8] = uint8_t(mainCrc >> 8);
    expected[20] = uint8_t(fileHeaderCrc), expected[21] = uint8_t(fileHeaderCrc >> 8);
    EXPECT_EQ(a, expected);
}

TEST(RarWriteLayout, EndBlockIsOptional) {
    Bytes with, without;
    std::string error;
    WriteOptions o;
    ASSERT_TRUE(WriteArchive({{"a", false, {1}}}, o, &without, &error));
    o.endBlock = true;
    ASSERT_TRUE(WriteArchive({{"a", false, {1}}}, o, &with, &error));
    ASSERT_EQ(with.size(), without.size() + 7);
    EXPECT_TRUE(std::equal(without.begin(), without.end(), with.begin()));
    auto blocks = ParseArchive(with);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[2].type, 0x7B);
    EXPECT_EQ(blocks[2].flags, 0x4000u);
    EXPECT_EQ(blocks[2].headerSize, 7u);
    EXPECT_TRUE(blocks[2].headerCrcOk);
}

// Comments as the format lays them out: the archive comment in a comment block after the main
// header's 13 fixed bytes, a file comment in one after the name; flags 0x02 and 0x08; each
// header sealed over its fixed part or up to the name, each comment block over its 13 bytes.
TEST(RarWriteLayout, ArchiveAndFileCommentsFieldByField) {
    Bytes a;
    std::string error;
    WriteOptions o;
    o.archiveComment = "Hi";
    ASSERT_TRUE(WriteArchive({{"ab.c", false, {'x', 'y', 'z'}, "note"}}, o, &a, &error)) << error;
    Bytes expected = {
        0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00,                    // marker
        0, 0, 0x73, 0x02, 0x00, 28, 0, 0, 0, 0, 0, 0, 0,             // main header: comment flag, 13 + 15
        0, 0, 0x75, 0, 0, 15, 0, 2, 0, 20, 0x30, 0, 0, 'H', 'i',     // its comment block
        0, 0, 0x74, 0x08, 0x80, 32 + 4 + 17, 0,                      // file header: comment flag
        3, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0,                       // sizes, host, file CRC
        0x00, 0x00, 0x21, 0x28, 20, 0x30, 4, 0, 0x20, 0, 0, 0,       // time, version, method, name size, attributes
        'a', 'b', '.', 'c',                                          // name
        0, 0, 0x75, 0, 0, 17, 0, 4, 0, 20, 0x30, 0, 0, 'n', 'o', 't', 'e',  // its comment block
        'x', 'y', 'z'};
    ASSERT_EQ(a.size(), expected.size());
    auto put16 = [&](size_t at, uint32_t v) { expected[at] = uint8_t(v), expected[at + 1] = uint8_t(v >> 8); };
    const size_t mainAt = 7, mainComment = 20, fileAt = 35, fileComment = fileAt + 36;
    uint32_t fileCrc = Crc32(expected.data() + expected.size() - 3, 3);
    for (int i = 0; i < 4; ++i) expected[fileAt + 16 + i] = uint8_t(fileCrc >> (8 * i));
    put16(mainComment + 11, Crc32(expected.data() + mainComment + 13, 2));
    put16(fileComment + 11, Crc32(expected.data() + fileComment + 13, 4));
    put16(mainComment, Crc32(expected.data() + mainComment + 2, 11));
    put16(fileComment, Crc32(expected.data() + fileComment + 2, 11));
    put16(mainAt, Crc32(expected.data() + mainAt + 2, 11));  // the fixed part only
    put16(fileAt, Crc32(expected.data() + fileAt + 2, 34));  // up to the end of the name
    EXPECT_EQ(a, expected);

    auto blocks = ParseArchive(a);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_TRUE(blocks[0].headerCrcOk);
    EXPECT_EQ(blocks[0].comment, "Hi");
    EXPECT_TRUE(blocks[1].headerCrcOk);
    EXPECT_EQ(blocks[1].comment, "note");
    EXPECT_EQ(blocks[1].data, (Bytes{'x', 'y', 'z'}));
}

// Without comments nothing changes: no flag, no block, the whole header sealed.
TEST(RarWriteLayout, CommentsOnlyWhereAsked) {
    std::vector<Member> members = {{"a", false, {1}}, {"b", false, {2}, "b's note"}, {"d", true, {}, "folder note"}};
    Bytes a;
    std::string error;
    ASSERT_TRUE(WriteArchive(members, WriteOptions{}, &a, &error)) << error;
    auto blocks = ParseArchive(a);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].flags, 0u);
    EXPECT_EQ(blocks[0].headerSize, 13u);
    EXPECT_EQ(blocks[1].flags, 0x8000u);
    EXPECT_FALSE(blocks[1].hasComment);
    EXPECT_EQ(blocks[2].flags, 0x8008u);
    EXPECT_EQ(blocks[2].comment, "b's note");
    EXPECT_EQ(blocks[3].flags, 0x80E8u);
    EXPECT_EQ(blocks[3].comment, "folder note");
    for (const Block& b : blocks) EXPECT_TRUE(b.headerCrcOk);
}

// A header's size field has 16 bits and counts its comment: comments up to that fit.
TEST(RarWriteErrors, CommentsMustFitTheirHeader) {
    Bytes a;
    std::string error;
    WriteOptions o;
    o.archiveComment.assign(0xFFFF - 26, 'c');
    ASSERT_TRUE(WriteArchive({{"n", false, {}, std::string(0xFFFF - 32 - 1 - 13, 'f')}}, o, &a, &error)) << error;
    auto blocks = ParseArchive(a);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].headerSize, 0xFFFFu);
    EXPECT_EQ(blocks[1].headerSize, 0xFFFFu);
    EXPECT_TRUE(blocks[0].headerCrcOk && blocks[1].headerCrcOk);
    o.archiveComment += 'c';
    EXPECT_FALSE(WriteArchive({{"n", false, {}}}, o, &a, &error));
    EXPECT_NE(error.find("comment"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(WriteArchive({{"n", false, {}, std::string(0xFFFF - 32 - 1 - 13 + 1, 'f')}}, WriteOptions{}, &a, &error));
    EXPECT_NE(error.find("comment"), std::string::npos) << error;
}

TEST(RarWriteErrors, RejectsMembersTheReaderCouldNotFindOrTellApart) {
    struct Case {
        const char* what;
        std::vector<Member> members;
    } cases[] = {
        {"empty name", {{"", false, {}}}},
        {"name too long", {{std::string(259, 'a'), false, {}}}},
        {"non-ASCII name", {{"caf\xC3\xA9", false, {}}}},
        {"forward slash", {{"a/b", false, {}}}},
        {"leading separator", {{"\\a", false, {}}}},
        {"trailing separator", {{"a\\", true, {}}}},
        {"directory with data", {{"d", true, {1}}}},
        {"same name", {{"a", false, {}}, {"a", false, {1}}}},
        {"differ in case only", {{"Media\\A.txt", false, {}}, {"media\\a.TXT", false, {}}}},
        {"underscore matches a separator", {{"a_b", false, {}}, {"a\\b", false, {}}}},
    };
    for (const auto& c : cases) {
        Bytes a;
        std::string error;
        EXPECT_FALSE(WriteArchive(c.members, WriteOptions{}, &a, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
    Bytes a;
    std::string error;
    EXPECT_TRUE(WriteArchive({{std::string(258, 'a'), false, {}}}, WriteOptions{}, &a, &error)) << error;
}

TEST_F(RarWriteTree, EveryFolderAndFileReadsBackInNameOrderWithGoodCrcs) {
    Bytes a = Build();
    auto blocks = ParseArchive(a);
    ASSERT_EQ(blocks.size(), 1 + kFolders.size() + files_.size());
    EXPECT_EQ(blocks[0].type, 0x73);
    EXPECT_EQ(blocks[0].headerSize, 13u);
    EXPECT_EQ(blocks[0].flags, 0u);
    std::vector<std::string> names;
    for (const Block& b : blocks) {
        EXPECT_TRUE(b.headerCrcOk) << b.name;
        if (b.type != 0x74) continue;
        names.push_back(b.name);
        EXPECT_EQ(b.method, 0x30) << b.name;
        EXPECT_GE(b.version, 13) << b.name;
        EXPECT_LE(b.version, 20) << b.name;
        EXPECT_EQ(b.dosTime, 0x28210000u);
        EXPECT_EQ(b.fileCrc, Crc32(b.data.data(), b.data.size())) << b.name;
        bool folder = (b.flags & 0xE0) == 0xE0;
        EXPECT_EQ(b.flags, folder ? 0x80E0u : 0x8000u) << b.name;
        EXPECT_EQ(b.attributes, folder ? 0x10u : 0x20u) << b.name;
    }
    std::vector<std::string> expected;
    for (const auto& f : kFolders) expected.push_back(Backslashed(f));
    for (const auto& [name, data] : files_) expected.push_back(Backslashed(name));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    std::map<std::string, Bytes> stored;
    for (const Block& b : blocks) stored[b.name] = b.data;
    for (const auto& [name, data] : files_) EXPECT_EQ(stored[Backslashed(name)], data) << name;
}

TEST_F(RarWriteTree, ToolOutputIsTheSameBytesEveryRun) {
    fs::path one = dir_ / "one.rar", two = dir_ / "two.rar";
    int status = -1;
    RunCommand(std::string(RH_RARWRITE_EXE) + " " + tree_.string() + " " + one.string(), &status);
    ASSERT_EQ(status, 0);
    // A later run over a touched tree must not change a byte: no file-system times are used.
    fs::last_write_time(tree_ / "readme.txt", fs::file_time_type::clock::now() - std::chrono::hours(50));
    RunCommand(std::string(RH_RARWRITE_EXE) + " " + tree_.string() + " " + two.string(), &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(ReadFile(one), ReadFile(two));
    EXPECT_EQ(ReadFile(one), Build());
}

TEST_F(RarWriteTree, ToolWritesTheArchiveCommentFromAFile) {
    const Bytes comment = {'T', 'h', 'e', ' ', 'm', 'e', 'd', 'i', 'a', '\r', '\n', 0, 0xFF};
    WriteFile(dir_ / "comment.txt", comment);
    fs::path out = dir_ / "commented.rar";
    int status = -1;
    RunCommand(std::string(RH_RARWRITE_EXE) + " --comment " + (dir_ / "comment.txt").string() + " " + tree_.string() + " " +
                   out.string(), &status);
    ASSERT_EQ(status, 0);
    WriteOptions o;
    o.archiveComment.assign(comment.begin(), comment.end());
    EXPECT_EQ(ReadFile(out), Build(o));
    auto blocks = ParseArchive(ReadFile(out));
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks[0].flags, 0x02u);
    EXPECT_EQ(blocks[0].comment, o.archiveComment);
    RunCommand(std::string(RH_RARWRITE_EXE) + " --comment " + (dir_ / "absent.txt").string() + " " + tree_.string() + " " +
                   out.string() + " 2>/dev/null", &status);
    EXPECT_NE(status, 0);
}

// --pack and --solid give the archive the library writes with those options, in any order and
// beside --comment.
TEST_F(RarWriteTree, ToolPacksAndMakesSolidWhenAsked) {
    WriteFile(dir_ / "comment.txt", {'c'});
    const std::string comment = "--comment " + (dir_ / "comment.txt").string();
    struct Row {
        std::string flags;
        rh::rarwrite::Method method;
        bool solid;
        bool commented;
    } rows[] = {
        {"--pack", rh::rarwrite::Method::kPack, false, false},
        {"--solid --pack", rh::rarwrite::Method::kPack, true, false},
        {"--pack " + comment + " --solid", rh::rarwrite::Method::kPack, true, true},
        {"--solid", rh::rarwrite::Method::kStore, true, false},
    };
    for (const Row& r : rows) {
        fs::path out = dir_ / "packed.rar";
        int status = -1;
        RunCommand(std::string(RH_RARWRITE_EXE) + " " + r.flags + " " + tree_.string() + " " + out.string(), &status);
        ASSERT_EQ(status, 0) << r.flags;
        WriteOptions o;
        o.method = r.method;
        o.solid = r.solid;
        if (r.commented) o.archiveComment = "c";
        const Bytes archive = ReadFile(out);
        EXPECT_EQ(archive, Build(o)) << r.flags;
        auto blocks = ParseArchive(archive);
        ASSERT_FALSE(blocks.empty());
        EXPECT_EQ(blocks[0].flags, (r.solid ? 0x08u : 0u) | (r.commented ? 0x02u : 0u)) << r.flags;
        for (const Block& b : blocks) {
            if (b.type != 0x74) continue;
            const bool packed = r.method == rh::rarwrite::Method::kPack && !b.data.empty();
            EXPECT_EQ(b.method, packed ? 0x33 : 0x30) << r.flags << " " << b.name;
        }
    }
    int status = 0;
    RunCommand(std::string(RH_RARWRITE_EXE) + " --fast " + tree_.string() + " " + (dir_ / "x.rar").string() + " 2>/dev/null", &status);
    EXPECT_NE(status, 0);
}

TEST_F(RarWriteTree, ToolFailsOnAMissingFolderAndOnNamesThatCollide) {
    int status = 0;
    RunCommand(std::string(RH_RARWRITE_EXE) + " " + (dir_ / "absent").string() + " " + (dir_ / "x.rar").string() + " 2>/dev/null", &status);
    EXPECT_NE(status, 0);
    WriteFile(tree_ / "Media/empty.DAT", {1});
    RunCommand(std::string(RH_RARWRITE_EXE) + " " + tree_.string() + " " + (dir_ / "y.rar").string() + " 2>/dev/null", &status);
    EXPECT_NE(status, 0);
}

// The media build packs exactly the files its list names, from wherever they lie.
TEST_F(RarWriteTree, AListedArchiveHoldsTheListedFilesWhateverTheListOrder) {
    auto writeList = [&](const fs::path& list, bool reversed) {
        std::string text;
        for (const auto& [name, data] : files_) {
            const std::string line = name + "\t" + (tree_ / name).string() + "\n";
            text = reversed ? line + text : text + line;
        }
        WriteFile(list, Bytes(text.begin(), text.end()));
    };
    writeList(dir_ / "forward.list", false);
    writeList(dir_ / "reversed.list", true);
    int status = -1;
    RunCommand(std::string(RH_RARWRITE_EXE) + " --list " + (dir_ / "forward.list").string() + " " +
                   (dir_ / "one.rar").string(), &status);
    ASSERT_EQ(status, 0);
    RunCommand(std::string(RH_RARWRITE_EXE) + " --list " + (dir_ / "reversed.list").string() + " " +
                   (dir_ / "two.rar").string(), &status);
    ASSERT_EQ(status, 0);
    const Bytes one = ReadFile(dir_ / "one.rar");
    EXPECT_EQ(one, ReadFile(dir_ / "two.rar"));

    // The listed files and their folders; the unlisted empty folder stays out.
    std::map<std::string, Bytes> stored;
    for (const Block& b : ParseArchive(one)) {
        if (b.type == 0x74) stored[b.name] = b.data;
    }
    std::map<std::string, Bytes> expected = {
        {"Media", {}}, {"Media\\Fonts", {}}, {"Media\\Sky", {}}, {"Media\\Sky\\deep", {}}};
    for (const auto& [name, data] : files_) expected[Backslashed(name)] = data;
    EXPECT_EQ(stored, expected);
}

TEST_F(RarWriteTree, BadListsFailWithTheirLine) {
    const std::string file = (tree_ / "readme.txt").string();
    const struct {
        const char* what;
        std::string list;
    } cases[] = {
        {"no tab", "Media/a.txt " + file + "\n"},
        {"absolute name", "/Media/a.txt\t" + file + "\n"},
        {"empty part", "Media//a.txt\t" + file + "\n"},
        {"dot part", "Media/../a.txt\t" + file + "\n"},
        {"backslash", "Media\\a.txt\t" + file + "\n"},
        {"twice", "Media/a.txt\t" + file + "\nMedia/a.txt\t" + file + "\n"},
        {"file and folder", "Media/a\t" + file + "\nMedia/a/b\t" + file + "\n"},
        {"missing file", "Media/a.txt\t" + (dir_ / "absent").string() + "\n"},
    };
    for (const auto& c : cases) {
        WriteFile(dir_ / "bad.list", Bytes(c.list.begin(), c.list.end()));
        std::vector<Member> members;
        std::string error;
        EXPECT_FALSE(rh::rarwrite::CollectList((dir_ / "bad.list").string(), &members, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
    // Names that differ only by case or by '_' against a separator collide in the reader.
    const std::string colliding = "Media/A_b.txt\t" + file + "\nmedia/a/B.txt\t" + file + "\n";
    WriteFile(dir_ / "collide.list", Bytes(colliding.begin(), colliding.end()));
    std::vector<Member> members;
    std::string error;
    ASSERT_TRUE(rh::rarwrite::CollectList((dir_ / "collide.list").string(), &members, &error)) << error;
    Bytes archive;
    EXPECT_FALSE(WriteArchive(members, WriteOptions{}, &archive, &error));
}

TEST_F(RarWriteTree, BsdtarListsAndExtractsEveryMember) {
    for (bool endBlock : {false, true}) {
        WriteOptions o;
        o.endBlock = endBlock;
        fs::path archive = dir_ / "bsdtar.rar";
        WriteFile(archive, Build(o));
        int status = -1;
        std::string listing = RunCommand("bsdtar -tvf " + archive.string() + " 2>&1", &status);
        ASSERT_EQ(status, 0) << listing;
        for (const auto& f : kFolders) EXPECT_NE(listing.find(f), std::string::npos) << f << "\n" << listing;
        for (const auto& [name, data] : files_) {
            EXPECT_NE(listing.find(name), std::string::npos) << name << "\n" << listing;
            std::string got = RunCommand("bsdtar -xOf " + archive.string() + " " + name, &status);
            EXPECT_EQ(status, 0) << name;
            EXPECT_EQ(Bytes(got.begin(), got.end()), data) << name;
        }
    }
}

}  // namespace
