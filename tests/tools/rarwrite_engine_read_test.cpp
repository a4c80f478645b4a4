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

}  // namespace
