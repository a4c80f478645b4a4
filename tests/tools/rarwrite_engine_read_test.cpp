// Archives from the writer read back through the engine's own archive reader: every folder and
// file, by its stored name and by the forward-slash, other-case names the saver asks for.

#include "core/files/archive/rar_archive.h"
#include "core/types/value_types.h"
#include "tools/rarwrite/rar_writer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

using rh::rarwrite::Member;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size, uint32_t seed) {
    Bytes b(size);
    for (auto& c : b) c = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    return b;
}

// "Media\Sky\Big.bin" -> "media/sky/big.bin", the way locators spell names.
std::string LocatorName(std::string s) {
    for (char& c : s) c = c == '\\' ? '/' : char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool Extract(const Bytes& archive, const std::string& name, Bytes* out) {
    ArchiveBlock block;
    block.data = archive.data();
    block.size = int32_t(archive.size());
    ByteBuffer buffer;
    bool ok = ExtractArchiveMember(&buffer, name.c_str(), &block);
    out->assign(buffer.Data(), buffer.Data() + buffer.Size());
    return ok;
}

TEST(RarWriteEngineRead, EveryMemberExtractsWithItsBytes) {
    const std::vector<Member> members = {
        {"Media", true, {}},
        {"Media\\Fonts", true, {}},
        {"Media\\Fonts\\64font.fs", false, Pattern(300, 1)},
        {"Media\\Empty.dat", false, {}},
        {"Media\\Sky", true, {}},
        {"Media\\Sky\\Big.bin", false, Pattern(1 << 20, 2)},
        {"Readme.TXT", false, {'h', 'i'}},
    };
    for (bool endBlock : {false, true}) {
        rh::rarwrite::WriteOptions options;
        options.endBlock = endBlock;
        Bytes archive;
        std::string error;
        ASSERT_TRUE(rh::rarwrite::WriteArchive(members, options, &archive, &error)) << error;
        for (const Member& m : members) {
            for (const std::string& name : {m.name, LocatorName(m.name)}) {
                Bytes got;
                EXPECT_TRUE(Extract(archive, name, &got)) << name;
                EXPECT_EQ(got, m.data) << name;
            }
        }
        Bytes got;
        EXPECT_FALSE(Extract(archive, "media/absent.bin", &got));
    }
}

// Stored members of archives with an archive comment and file comments, laid out (and their
// headers sealed) as the format has it.
TEST(RarWriteEngineRead, MembersOfArchivesWithCommentsExtract) {
    std::vector<Member> members = {
        {"Media", true, {}, "the media folder"},
        {"Media\\Fonts\\64font.fs", false, Pattern(300, 1), "a font"},
        {"Media\\Empty.dat", false, {}, std::string(1000, 'e')},
        {"Media\\Plain.bin", false, Pattern(70000, 3)},
        {"Readme.TXT", false, {'h', 'i'}, std::string("\0\xFF binary comment", 17)},
    };
    for (const std::string& comment : {std::string(), std::string("Archive comment\r\n")}) {
        rh::rarwrite::WriteOptions options;
        options.archiveComment = comment;
        Bytes archive;
        std::string error;
        ASSERT_TRUE(rh::rarwrite::WriteArchive(members, options, &archive, &error)) << error;
        for (const Member& m : members) {
            Bytes got;
            EXPECT_TRUE(Extract(archive, LocatorName(m.name), &got)) << m.name;
            EXPECT_EQ(got, m.data) << m.name;
        }
        // Damage in a member's data still makes it absent.
        Bytes bad = archive;
        bad[bad.size() - 1] ^= 1;
        Bytes got;
        EXPECT_FALSE(Extract(bad, "readme.txt", &got));
    }
}

}  // namespace
