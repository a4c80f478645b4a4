// Builds the version-information block that Windows files carry in their resources
// (VS_VERSIONINFO with a VS_FIXEDFILEINFO), so tests can make files with a known version.
#pragma once

#include <cstdint>
#include <string>

namespace rh::testing {

struct VersionBlockLayout {
    uint32_t versionMS = 0x00050003;  // 5.3
    uint32_t versionLS = 0x0A280001;  // 2600.1
    uint16_t valueLength = 52;        // the size of VS_FIXEDFILEINFO
    uint32_t signature = 0xFEEF04BDu;
    int claimedLength = -1;           // wLength to write; -1 for the true length
    size_t childBytes = 48;           // stands in for the StringFileInfo and VarFileInfo children
};

// The block as Windows lays it out: wLength, wValueLength, wType 0, the UTF-16 key
// "VS_VERSION_INFO", padding to 32 bits (the value starts at 40), the fixed information, then
// the children.
std::string VersionInfoBlock(const VersionBlockLayout& layout = {});

// Packs a.b into the MS word or c.d into the LS word.
constexpr uint32_t VersionWord(uint32_t high, uint32_t low) { return (high << 16) | low; }

// Writes a file holding a block for version ms.ls between bytes that stand in for code and
// data; false when it cannot.
bool WriteFileWithVersion(const std::string& path, uint32_t versionMS, uint32_t versionLS);

}  // namespace rh::testing
