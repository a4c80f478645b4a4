#include "core/files/archive/crc32.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Crc32, CheckValue) {
    const char* text = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(text), 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

// The eight-bytes-at-a-time path must agree with the byte-wise update at every length and
// alignment, and a CRC continued over two spans must equal the CRC of the whole.
TEST(Crc32, FastPathMatchesByteWiseUpdateAndChains) {
    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 131 + 7);
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t n = 0; n + offset <= data.size(); n += 13) {
            uint32_t reg = 0xFFFFFFFFu;
            for (size_t i = 0; i < n; ++i) reg = UpdateCrc32(reg, data[offset + i]);
            uint32_t whole = Crc32(data.data() + offset, n);
            ASSERT_EQ(whole, ~reg) << "offset " << offset << " length " << n;
            size_t half = n / 3;
            ASSERT_EQ(Crc32(data.data() + offset + half, n - half,
                            Crc32(data.data() + offset, half)),
                      whole);
        }
    }
}
