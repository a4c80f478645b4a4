#include "tests/support/version_block.h"

#include <fstream>

namespace rh::testing {
namespace {

void PutWord(std::string* out, uint32_t value) {
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void PutDword(std::string* out, uint32_t value) {
    PutWord(out, value & 0xFFFF);
    PutWord(out, value >> 16);
}

}  // namespace

std::string VersionInfoBlock(const VersionBlockLayout& layout) {
    std::string block;
    PutWord(&block, 0);  // wLength, patched below
    PutWord(&block, layout.valueLength);
    PutWord(&block, 0);  // binary data
    for (char c : std::string("VS_VERSION_INFO")) PutWord(&block, static_cast<unsigned char>(c));
    PutWord(&block, 0);  // terminator
    PutWord(&block, 0);  // padding to a 32-bit boundary
    PutDword(&block, layout.signature);
    PutDword(&block, 0x00010000);  // dwStrucVersion
    PutDword(&block, layout.versionMS);
    PutDword(&block, layout.versionLS);
    PutDword(&block, layout.versionMS);  // product version
    PutDword(&block, layout.versionLS);
    PutDword(&block, 0x3F);     // dwFileFlagsMask
    PutDword(&block, 0);        // dwFileFlags
    PutDword(&block, 0x40004);  // dwFileOS: VOS_NT_WINDOWS32
    PutDword(&block, 2);        // dwFileType: VFT_DLL
    PutDword(&block, 0);        // dwFileSubtype
    PutDword(&block, 0);        // dwFileDateMS
    PutDword(&block, 0);        // dwFileDateLS
    for (size_t i = 0; i < layout.childBytes; ++i) block.push_back(static_cast<char>(0x30 + i % 40));
    uint32_t length = layout.claimedLength >= 0 ? static_cast<uint32_t>(layout.claimedLength)
                                              : static_cast<uint32_t>(block.size());
    block[0] = static_cast<char>(length & 0xFF);
    block[1] = static_cast<char>((length >> 8) & 0xFF);
    return block;
}

bool WriteFileWithVersion(const std::string& path, uint32_t versionMS, uint32_t versionLS) {
    VersionBlockLayout layout;
    layout.versionMS = versionMS;
    layout.versionLS = versionLS;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "MZ code before" << VersionInfoBlock(layout) << "data after";
    return static_cast<bool>(out);
}

}  // namespace rh::testing
