#include "core/files/archive/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

TEST(Crc32, CheckValue) {
    const uint8_t* text = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(Crc32(text, 9), 0xCBF43926u);
    EXPECT_EQ(Crc32Table(text, 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
    if (Crc32FoldedSupported()) {
        EXPECT_EQ(Crc32Folded(text, 9), 0xCBF43926u);
        EXPECT_EQ(Crc32Folded(nullptr, 0), 0u);
        // 64 bytes of '1'..'9' repeated is the shortest input that is folded.
        std::vector<uint8_t> repeated(64);
        for (size_t i = 0; i < repeated.size(); ++i) repeated[i] = uint8_t('1' + i % 9);
        EXPECT_EQ(Crc32Folded(repeated.data(), 64), Crc32Table(repeated.data(), 64));
    }
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

// The carry-less fold must give the table's result for every length around its block
// sizes (16, 64) and its cut-over from the table, at odd alignments, from a nonzero
// starting CRC, and on inputs long enough to go round the four-block loop many times.
TEST(Crc32, FoldedMatchesTable) {
    if (!Crc32FoldedSupported()) GTEST_SKIP() << "no carry-less multiply on this processor";
    std::mt19937 random(20261210);
    std::vector<uint8_t> data((1 << 20) + 64);
    for (auto& b : data) b = uint8_t(random());
    for (size_t offset : {0, 1, 3, 7, 13}) {
        const uint8_t* p = data.data() + offset;
        for (size_t n = 0; n <= 300; ++n) {
            ASSERT_EQ(Crc32Folded(p, n), Crc32Table(p, n)) << "offset " << offset << " length " << n;
            ASSERT_EQ(Crc32Folded(p, n, 0x12345678u), Crc32Table(p, n, 0x12345678u))
                << "offset " << offset << " length " << n << " continued";
        }
        for (size_t n : {size_t{4095}, size_t{4096}, size_t{65536 + 48}, size_t{1} << 20}) {
            ASSERT_EQ(Crc32Folded(p, n), Crc32Table(p, n)) << "offset " << offset << " length " << n;
        }
    }
}
