#include "core/files/archive/crc32.h"

namespace {

// Eight tables so that the main loop folds eight bytes per step (slicing-by-8): table k maps a
// byte to its effect on the register after k more zero bytes have passed through it.
struct CrcTables {
    uint32_t t[8][256];
};

constexpr CrcTables MakeTables() {
    CrcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        tables.t[0][i] = c;
    }
    for (int k = 1; k < 8; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t prev = tables.t[k - 1][i];
            tables.t[k][i] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
        }
    }
    return tables;
}

constexpr CrcTables kTables = MakeTables();

inline uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t UpdateCrc32(uint32_t reg, uint8_t byte) {
    return (reg >> 8) ^ kTables.t[0][(reg ^ byte) & 0xFF];
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    uint32_t reg = ~crc;
    const auto& t = kTables.t;
    while (size >= 8) {
        uint32_t one = Load32(data) ^ reg;
        uint32_t two = Load32(data + 4);
        reg = t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^
              t[4][one >> 24] ^ t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^
              t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
        data += 8;
        size -= 8;
    }
    while (size-- > 0) {
        reg = UpdateCrc32(reg, *data++);
    }
    return ~reg;
}
