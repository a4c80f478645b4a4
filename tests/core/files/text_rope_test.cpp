// The rope against std::string: every edit of a random sequence must leave the same bytes,
// a consistent tree and a shallow one.

#include "core/files/text_rope.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string Contents(const TextRope& rope) {
    String out;
    rope.CopyRange(0, -1, out);
    return std::string(out.data() == nullptr ? "" : out.data(), static_cast<size_t>(out.length()));
}

constexpr int32_t kBlock = TextRope::kBlockSize;

TEST(TextRope, RandomEditsMatchAPlainString) {
    std::mt19937 random(20260412);
    TextRope rope;
    std::string model;
    auto pick = [&](int32_t high) {  // uniform in [0, high]
        return static_cast<int32_t>(std::uniform_int_distribution<int32_t>(0, high)(random));
    };
    for (int step = 0; step < 1500; ++step) {
        const int32_t size = static_cast<int32_t>(model.size());
        const int action = pick(9);
        if (action < 5) {
            // Lengths around and above the block size exercise splitting and merging.
            const int32_t length = pick(3) == 0 ? pick(3 * kBlock) : pick(300) + 1;
            std::string text(static_cast<size_t>(length), '\0');
            for (char& c : text) c = static_cast<char>('a' + pick(25));
            const int32_t position = pick(4) == 0 ? -1 : pick(size);
            rope.Insert(text.data(), length, position);
            model.insert(position < 0 || position >= size ? model.size() : size_t(position), text);
        } else if (action < 8 && size > 0) {
            const int32_t first = pick(size - 1);
            const int32_t last = first + (pick(3) == 0 ? pick(2 * kBlock) : pick(500));
            rope.EraseRange(first, last);
            model.erase(size_t(first), size_t((last < size ? last : size - 1) - first + 1));
        } else if (size > 0) {
            const int32_t first = pick(size - 1);
            const int32_t last = pick(size + 10);
            String out;
            rope.CopyRange(first, last, out);
            const std::string expected =
                last < first ? "" : model.substr(size_t(first), size_t(last - first + 1));
            ASSERT_EQ(std::string(out.Text(), size_t(out.length())), expected) << "step " << step;
        }
        ASSERT_EQ(rope.size(), static_cast<int32_t>(model.size())) << "step " << step;
        ASSERT_TRUE(rope.CheckStructure()) << "step " << step;
        if (step % 50 == 0) {
            ASSERT_EQ(Contents(rope), model) << "step " << step;
        }
    }
    EXPECT_EQ(Contents(rope), model);
}

TEST(TextRope, IndexRules) {
    TextRope rope;
    rope.Insert("0123456789", 10, -1);
    struct Case {
        int32_t first, last;
        const char* expected;
    };
    const Case cases[] = {
        {0, 9, "0123456789"}, {-3, -1, "789"}, {7, 100, "789"}, {10, 12, ""},
        {5, 4, ""},           {-11, 3, ""},    {9, 9, "9"},
    };
    for (const Case& c : cases) {
        String out("stale");
        rope.CopyRange(c.first, c.last, out);
        EXPECT_STREQ(out.Text(), c.expected) << c.first << ".." << c.last;
    }
    rope.EraseRange(10, 20);  // first past the end: nothing happens
    rope.EraseRange(4, 2);    // last before first: nothing happens
    EXPECT_EQ(Contents(rope), "0123456789");
    rope.EraseRange(-2, 50);
    EXPECT_EQ(Contents(rope), "01234567");
    rope.Insert("ab", 2, 100);  // at or past the end appends
    rope.Insert("X", 1, 0);
    rope.Insert("-", 1, -2);   // counts from the end
    rope.Insert("<", 1, -99);  // clamped to the start
    EXPECT_EQ(Contents(rope), "<X01234567-ab");
    rope.Reset("new", 3);
    EXPECT_EQ(Contents(rope), "new");
    rope.EraseRange(0, -1);
    EXPECT_EQ(rope.size(), 0);
    EXPECT_EQ(rope.leafCount(), 0);
    EXPECT_TRUE(rope.CheckStructure());
}

TEST(TextRope, LeavesFillToTheBlockSizeAndMergeASmallRemainder) {
    TextRope rope;
    const std::string big(size_t(2 * kBlock + 5), 'b');
    rope.Insert(big.data(), int32_t(big.size()), -1);
    EXPECT_EQ(rope.leafCount(), 3);  // 16384 + 16384 + 5
    // Inserting into the full first leaf pushes its tail on; the small remainder joins the
    // following leaf instead of getting a leaf of its own.
    TextRope merged;
    const std::string full(size_t(kBlock), 'a');
    merged.Insert(full.data(), kBlock, -1);
    merged.Insert("z", 1, -1);
    EXPECT_EQ(merged.leafCount(), 2);
    merged.Insert("yy", 2, 10);
    EXPECT_EQ(merged.leafCount(), 2);
    EXPECT_EQ(merged.size(), kBlock + 3);
    EXPECT_TRUE(merged.CheckStructure());
}

TEST(TextRope, StaysShallowWhenGrownAtOneEnd) {
    TextRope rope;
    const std::string block(size_t(kBlock), 'q');
    for (int i = 0; i < 512; ++i) rope.Insert(block.data(), kBlock, -1);
    EXPECT_EQ(rope.leafCount(), 512);
    EXPECT_LE(rope.Depth(), 20);  // a list would be 512 deep
    for (int i = 0; i < 512; ++i) rope.Insert(block.data(), kBlock, 0);
    EXPECT_LE(rope.Depth(), 24);
    EXPECT_TRUE(rope.CheckStructure());
}

}  // namespace
