#include "core/types/value_types.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// FlagWord

TEST(FlagWordTest, CombineKeepsOnlyAJointSuccessBit) {
    struct Case {
        int a, b, expected;
    } cases[] = {
        {5, 3, 1}, {5, 2, 0}, {2, 3, 0}, {1, 1, 1}, {-1, -1, 1}, {0x70000001, 0x70000001, 1},
    };
    for (const Case& c : cases) {
        FlagWord w(c.a);
        w.Combine(FlagWord(c.b));
        EXPECT_EQ(w.value, c.expected) << c.a << " combined with " << c.b;
    }
}

TEST(FlagWordTest, BitOperations) {
    EXPECT_EQ(FlagWord(true).value, 1);
    EXPECT_EQ(FlagWord(false).value, 0);

    FlagWord w(0b0110);
    EXPECT_TRUE(w.Test(0b0011)) << "any bit of the mask suffices";
    EXPECT_FALSE(w.Test(0b1001));
    EXPECT_TRUE(w.Failed());
    w.Set(0b1001);
    EXPECT_TRUE(w.Equals(0b1111));
    EXPECT_TRUE(w.Succeeded());
    w.Clear(0b0101);
    EXPECT_TRUE(w.Equals(0b1010));
    EXPECT_TRUE(w.Failed());
}

// ---------------------------------------------------------------------------------------------
// ByteBuffer

void Fill(ByteBuffer& buffer, unsigned char first) {
    for (int32_t i = 0; i < buffer.Size(); ++i) {
        buffer.Data()[i] = static_cast<unsigned char>(first + i);
    }
}

TEST(ByteBufferTest, ResizeKeepsContentsOnlyForTheSameSize) {
    ByteBuffer buffer;
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Size(), 0);

    buffer.Resize(8);
    ASSERT_NE(buffer.Data(), nullptr);
    Fill(buffer, 10);
    buffer.Resize(8);
    ASSERT_EQ(buffer.Size(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(buffer.Data()[i], 10 + i) << "byte " << i;
    }

    buffer.Resize(3);
    EXPECT_EQ(buffer.Size(), 3);
    EXPECT_NE(buffer.Data(), nullptr);

    buffer.Resize(0);
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Size(), 0);

    buffer.Resize(4);
    buffer.Free();
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Size(), 0);
}

TEST(ByteBufferTest, AssignCopiesEvenFromItsOwnBlock) {
    const unsigned char bytes[] = {1, 2, 3, 4, 5, 6};
    ByteBuffer buffer;
    buffer.Assign(bytes, 6);
    ASSERT_EQ(buffer.Size(), 6);
    EXPECT_EQ(std::memcmp(buffer.Data(), bytes, 6), 0);

    // The tail of its own block, shorter: the old block must outlive the copy.
    buffer.Assign(buffer.Data() + 2, 4);
    ASSERT_EQ(buffer.Size(), 4);
    EXPECT_EQ(std::memcmp(buffer.Data(), bytes + 2, 4), 0);

    buffer.Assign(bytes, 0);
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Size(), 0);
}

TEST(ByteBufferTest, MoveHandsTheBlockOver) {
    const unsigned char bytes[] = {7, 8, 9};
    ByteBuffer source;
    source.Assign(bytes, 3);
    const unsigned char* block = source.Data();

    ByteBuffer target(std::move(source));
    EXPECT_EQ(target.Data(), block);
    EXPECT_EQ(target.Size(), 3);
    EXPECT_EQ(source.Data(), nullptr);
    EXPECT_EQ(source.Size(), 0);

    ByteBuffer other;
    other.Resize(5);
    other = std::move(target);
    EXPECT_EQ(other.Data(), block);
    EXPECT_EQ(other.Size(), 3);
    EXPECT_EQ(target.Data(), nullptr);
}

TEST(ByteBufferTest, Differ) {
    const unsigned char abc[] = {'a', 'b', 'c'};
    const unsigned char abd[] = {'a', 'b', 'd'};
    ByteBuffer empty1, empty2, x, sameAsX, differsAtEnd, shorter;
    x.Assign(abc, 3);
    sameAsX.Assign(abc, 3);
    differsAtEnd.Assign(abd, 3);
    shorter.Assign(abc, 2);

    struct Case {
        const char* name;
        const ByteBuffer& a;
        const ByteBuffer& b;
        bool expected;
    } cases[] = {
        {"both empty", empty1, empty2, false}, {"same bytes", x, sameAsX, false},
        {"last byte", x, differsAtEnd, true},  {"sizes", x, shorter, true},
        {"empty and full", empty1, x, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ByteBuffersDiffer(c.a, c.b), c.expected) << c.name;
        EXPECT_EQ(ByteBuffersDiffer(c.b, c.a), c.expected) << c.name << " (swapped)";
    }
}

// A dropped block of 1 MB or more is handed to the next buffer whose size n it fits
// (n <= capacity <= 2n); any other size gets a block of its own while the kept one waits.
TEST(ByteBufferTest, LargeBlocksAreReusedWhenTheyFit) {
    constexpr int32_t kMB = 1 << 20;
    struct Case {
        const char* what;
        int32_t dropped;
        int32_t wanted;
        bool reused;
    } cases[] = {
        {"same size", 4 * kMB, 4 * kMB, true},
        {"smaller", 4 * kMB, 3 * kMB, true},
        {"exactly half", 4 * kMB, 2 * kMB, true},
        {"under half", 4 * kMB, 2 * kMB - 1, false},
        {"larger", 4 * kMB, 4 * kMB + 1, false},
    };
    for (const Case& c : cases) {
        ByteBuffer first;
        first.Resize(c.dropped);
        const unsigned char* block = first.Data();
        first.Free();
        ByteBuffer second;
        second.Resize(c.wanted);
        EXPECT_EQ(second.Data() == block, c.reused) << c.what;
        ASSERT_EQ(second.Size(), c.wanted) << c.what;
        // Every byte of the size is the buffer's own (AddressSanitizer would object).
        std::memset(second.Data(), 0xA5, size_t(c.wanted));
    }
}

// Assign out of its own large block: the old block may go to the cache only after the copy.
TEST(ByteBufferTest, AssignFromItsOwnLargeBlock) {
    constexpr int32_t kSize = 3 << 20;
    ByteBuffer buffer;
    buffer.Resize(kSize);
    Fill(buffer, 1);
    std::vector<unsigned char> tail(buffer.Data() + kSize / 3, buffer.Data() + kSize);
    buffer.Assign(buffer.Data() + kSize / 3, int32_t(tail.size()));
    ASSERT_EQ(buffer.Size(), int32_t(tail.size()));
    EXPECT_EQ(std::memcmp(buffer.Data(), tail.data(), tail.size()), 0);
}

// Threads dropping and taking large blocks at once must never share one.
TEST(ByteBufferTest, ThreadsNeverShareAKeptBlock) {
    auto work = [](unsigned char mark, bool* ok) {
        for (int i = 0; i < 50 && *ok; ++i) {
            ByteBuffer b;
            b.Resize((1 << 20) + i * 4096);
            std::memset(b.Data(), mark, size_t(b.Size()));
            std::this_thread::yield();
            *ok = std::all_of(b.Data(), b.Data() + b.Size(), [&](unsigned char v) { return v == mark; });
        }
    };
    bool ok[4] = {true, true, true, true};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, static_cast<unsigned char>(t + 1), &ok[t]);
    for (auto& t : threads) t.join();
    for (int t = 0; t < 4; ++t) EXPECT_TRUE(ok[t]) << "thread " << t;
}

// ---------------------------------------------------------------------------------------------
// Bit fields

bool ModelBit(const std::vector<uint32_t>& words, uint32_t bit) {
    return ((words[bit / 32] >> (bit % 32)) & 1u) != 0;
}

void SetModelBit(std::vector<uint32_t>& words, uint32_t bit, bool on) {
    uint32_t mask = 1u << (bit % 32);
    words[bit / 32] = on ? words[bit / 32] | mask : words[bit / 32] & ~mask;
}

TEST(BitFieldTest, FieldAcrossTwoWords) {
    // Bits 28-31 of word 0 are 0xA, bits 0-5 of word 1 are 0x33; all neighbours are ones.
    const uint32_t words[] = {0xAFFFFFFFu, 0xFFFFFFF3u};
    EXPECT_EQ(GetBits(words, 28, 10), 0x33Au);

    uint32_t target[] = {0xFFFFFFFFu, 0xFFFFFFFFu};
    SetBits(target, 28, 10, 0xFFFFF000u | 0x0C5u);
    EXPECT_EQ(target[0], 0x5FFFFFFFu);
    EXPECT_EQ(target[1], 0xFFFFFFCCu);
}

// Every position and count over four words of random bits, against a bit-by-bit model; the
// written values carry random bits above count that must not land anywhere.
TEST(BitFieldTest, MatchesBitModelAtEveryPositionAndCount) {
    std::mt19937 random(1234);
    const uint32_t totalBits = 4 * 32;
    for (uint32_t count = 1; count <= 32; ++count) {
        for (uint32_t pos = 0; pos + count <= totalBits; ++pos) {
            std::vector<uint32_t> words(4);
            for (uint32_t& w : words) {
                w = random();
            }
            uint32_t expected = 0;
            for (uint32_t i = 0; i < count; ++i) {
                expected |= static_cast<uint32_t>(ModelBit(words, pos + i)) << i;
            }
            ASSERT_EQ(GetBits(words.data(), pos, count), expected)
                << "pos " << pos << " count " << count;

            uint32_t value = random();
            std::vector<uint32_t> model = words;
            for (uint32_t i = 0; i < count; ++i) {
                SetModelBit(model, pos + i, ((value >> i) & 1u) != 0);
            }
            SetBits(words.data(), pos, count, value);
            ASSERT_EQ(words, model) << "pos " << pos << " count " << count;
        }
    }
}

// Four words at the very end of a readable page, followed by an inaccessible one: a field that
// ends in the last word must not touch the word after it.
class GuardedWords {
public:
    GuardedWords() {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* mapped = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            return;
        }
        base_ = static_cast<unsigned char*>(mapped);
        if (mprotect(base_ + page_, page_, PROT_NONE) != 0) {
            munmap(base_, 2 * page_);
            base_ = nullptr;
        }
    }
    ~GuardedWords() {
        if (base_ != nullptr) {
            munmap(base_, 2 * page_);
        }
    }
    GuardedWords(const GuardedWords&) = delete;
    GuardedWords& operator=(const GuardedWords&) = delete;

    uint32_t* Words() {
        return base_ == nullptr ? nullptr : reinterpret_cast<uint32_t*>(base_ + page_) - 4;
    }

private:
    size_t page_ = 0;
    unsigned char* base_ = nullptr;
};

TEST(BitFieldTest, FieldEndingInTheLastWordStaysInsideTheArray) {
    GuardedWords guarded;
    uint32_t* words = guarded.Words();
    ASSERT_NE(words, nullptr);
    for (uint32_t count = 1; count <= 32; ++count) {
        for (uint32_t pos = 96; pos + count <= 128; ++pos) {
            std::fill(words, words + 4, 0u);
            SetBits(words, pos, count, 0xFFFFFFFFu);
            EXPECT_EQ(GetBits(words, pos, count), 0xFFFFFFFFu >> (32 - count))
                << "pos " << pos << " count " << count;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Point and Rect

TEST(PointTest, DefaultIsZero) {
    Point p;
    EXPECT_TRUE(PointsEqual(p, Point(0, 0)));
    Rect r;
    EXPECT_TRUE(RectsEqual(r, Rect(0, 0, 0, 0)));
}

TEST(PointTest, ArithmeticAndOrder) {
    EXPECT_TRUE(PointsEqual(PointDifference(Point(5, 2), Point(1, 7)), Point(4, -5)));
    EXPECT_TRUE(PointsEqual(PointScale(Point(7, -7), 0.5f), Point(3, -3)))
        << "products truncate toward zero";
    EXPECT_TRUE(PointsEqual(PointScale(Point(10, 3), 1.5f), Point(15, 4)));

    struct Case {
        Point a, b;
        bool less, greater;
    } cases[] = {
        {{1, 9}, {2, 0}, true, false},
        {{2, 0}, {1, 9}, false, true},
        {{1, 5}, {1, 6}, true, false},
        {{1, 6}, {1, 5}, false, true},
        {{1, 5}, {1, 5}, false, false},
    };
    for (const Case& c : cases) {
        std::string name = std::to_string(c.a.x) + "," + std::to_string(c.a.y) + " vs " +
                           std::to_string(c.b.x) + "," + std::to_string(c.b.y);
        EXPECT_EQ(PointLess(c.a, c.b), c.less) << name;
        EXPECT_EQ(PointGreater(c.a, c.b), c.greater) << name;
        EXPECT_EQ(PointsDiffer(c.a, c.b), c.less || c.greater) << name;
    }
}

TEST(RectTest, CornerAndSizeForms) {
    Rect r(2, 3, 12, 8);
    r.CornersToSize();
    EXPECT_TRUE(RectsEqual(r, Rect(2, 3, 10, 5)));
    Rect corners;
    r.CornersOf(corners);
    EXPECT_TRUE(RectsEqual(corners, Rect(2, 3, 12, 8)));
    r.SizeToCorners();
    EXPECT_TRUE(RectsEqual(r, Rect(2, 3, 12, 8)));

    Rect copy;
    r.CopyTo(copy);
    EXPECT_FALSE(RectsDiffer(copy, r));
    copy.Clear();
    EXPECT_TRUE(RectsEqual(copy, Rect()));
    copy.Set(-1, -2, -3, -4);
    EXPECT_TRUE(RectsEqual(copy, Rect(-1, -2, -3, -4)));
}

TEST(RectTest, ComponentIndexFallsBackToBottom) {
    Rect r(10, 20, 30, 40);
    const int32_t expected[] = {10, 20, 30, 40};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(r.Component(k), expected[k]) << "k " << k;
    }
    EXPECT_EQ(r.Component(7), 40);
    EXPECT_EQ(r.Component(-1), 40);
    r.Component(1) = 99;
    EXPECT_EQ(r.top, 99);
}

TEST(RectTest, Intersect) {
    const Rect untouched(-7, -7, -7, -7);
    struct Case {
        const char* name;
        Rect a, b;
        bool sizeForm;
        bool expected;
        Rect out;
    } cases[] = {
        {"overlap", {0, 0, 10, 10}, {5, 2, 20, 8}, false, true, {5, 2, 10, 8}},
        {"inside", {0, 0, 10, 10}, {2, 3, 4, 5}, false, true, {2, 3, 4, 5}},
        {"touching edge", {0, 0, 10, 10}, {10, 0, 20, 10}, false, true, {10, 0, 10, 10}},
        {"touching corner", {0, 0, 10, 10}, {10, 10, 20, 20}, false, true, {10, 10, 10, 10}},
        {"right of", {0, 0, 10, 10}, {11, 0, 20, 10}, false, false, untouched},
        {"left of", {11, 0, 20, 10}, {0, 0, 10, 10}, false, false, untouched},
        {"below", {0, 0, 10, 10}, {0, 11, 10, 20}, false, false, untouched},
        {"above", {0, 11, 10, 20}, {0, 0, 10, 10}, false, false, untouched},
        {"size overlap", {0, 0, 10, 10}, {5, 5, 10, 10}, true, true, {5, 5, 5, 5}},
        {"size touching", {0, 0, 10, 10}, {10, 4, 5, 5}, true, true, {10, 4, 0, 5}},
        {"size apart", {0, 0, 10, 10}, {11, 0, 5, 5}, true, false, untouched},
        // Read as corners, (5, 5, 10, 10) and (0, 0, 3, 3) would not meet.
        {"size, not corners", {5, 5, 10, 10}, {0, 0, 6, 6}, true, true, {5, 5, 1, 1}},
    };
    for (const Case& c : cases) {
        Rect out = untouched;
        EXPECT_EQ(IntersectRects(c.a, c.b, out, c.sizeForm), c.expected) << c.name;
        EXPECT_TRUE(RectsEqual(out, c.out))
            << c.name << ": " << out.left << "," << out.top << "," << out.right << ","
            << out.bottom;
    }
}

TEST(RectTest, IntersectIntoAnInput) {
    Rect a(0, 0, 10, 10);
    ASSERT_TRUE(IntersectRects(a, Rect(5, 2, 20, 8), a, false));
    EXPECT_TRUE(RectsEqual(a, Rect(5, 2, 10, 8)));
}

// ---------------------------------------------------------------------------------------------
// ArgbColor

TEST(ArgbColorTest, Pack) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        ArgbColor color;
        uint32_t expected;
    } cases[] = {
        {"white", {1.0f, 1.0f, 1.0f, 1.0f}, 0xFFFFFFFFu},
        {"alpha highest, x256", {1.0f, 0.5f, 0.0f, 0.25f}, 0xFF800040u},
        {"255/256 is full", {255.0f / 256.0f, 0.0f, 0.0f, 0.0f}, 0xFF000000u},
        {"just below 255/256", {254.9f / 256.0f, 0.0f, 0.0f, 0.0f}, 0xFE000000u},
        {"truncates", {0.0f, 1.0f / 512.0f, 1.99f / 256.0f, 0.0f}, 0x00000100u},
        {"above 1 limited", {2.0f, 1e30f, inf, 1.5f}, 0xFFFFFFFFu},
        {"negative red keeps others", {1.0f, -0.5f, 1.0f, 0.0f}, 0xFF00FF00u},
        {"negative blue keeps others", {0.5f, 1.0f, 1.0f, -1.0f}, 0x80FFFF00u},
        {"negative alpha", {-1e30f, 1.0f, 0.0f, 1.0f}, 0x00FF00FFu},
        {"minus infinity", {1.0f, 1.0f, -inf, 1.0f}, 0xFFFF00FFu},
        {"NaN", {1.0f, 0.0f, nan, 1.0f}, 0xFF0000FFu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.color.ToARGB(), c.expected) << c.name << ": got " << std::hex
                                                << c.color.ToARGB();
    }
}

TEST(ArgbColorTest, Constructors) {
    struct Case {
        const char* name;
        ArgbColor color;
        float a, r, g, b;
    } cases[] = {
        {"default", ArgbColor(), 1, 1, 1, 1},
        {"four floats", ArgbColor(0.1f, 0.2f, 0.3f, 0.4f), 0.1f, 0.2f, 0.3f, 0.4f},
        {"three floats", ArgbColor(0.2f, 0.3f, 0.4f), 1, 0.2f, 0.3f, 0.4f},
        {"grey", ArgbColor(0.25f), 1, 0.25f, 0.25f, 0.25f},
        {"three bytes", ArgbColor(255, 0, 51), 1, 1, 0, 0.2f},
        {"four bytes", ArgbColor(102, 255, 0, 51), 0.4f, 1, 0, 0.2f},
        {"packed", ArgbColor(0x66FF0033u), 0.4f, 1, 0, 0.2f},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(c.color.a, c.a) << c.name;
        EXPECT_FLOAT_EQ(c.color.r, c.r) << c.name;
        EXPECT_FLOAT_EQ(c.color.g, c.g) << c.name;
        EXPECT_FLOAT_EQ(c.color.b, c.b) << c.name;
    }
}

// Unpacking divides by 255 and packing multiplies by 256, so packed values survive a round
// trip although colours do not.
TEST(ArgbColorTest, PackedRoundTrip) {
    for (uint32_t v = 0; v < 256; ++v) {
        uint32_t packed =
            (v << 24) | ((255 - v) << 16) | (((v * 7) & 0xFF) << 8) | ((v * 13) & 0xFF);
        EXPECT_EQ(ArgbColor(packed).ToARGB(), packed) << std::hex << packed;
    }
}

TEST(ArgbColorTest, ValueIntensityScaleAndCompare) {
    D3DCOLORVALUE v = ArgbColor(0.1f, 0.2f, 0.3f, 0.4f).ToColorValue();
    EXPECT_EQ(v.r, 0.2f);
    EXPECT_EQ(v.g, 0.3f);
    EXPECT_EQ(v.b, 0.4f);
    EXPECT_EQ(v.a, 0.1f);

    EXPECT_FLOAT_EQ(ArgbColor(0.5f, 0.0f, 3.0f, 4.0f).Intensity(), 2.5f);

    EXPECT_TRUE(ColorsEqual(ScaleColor(ArgbColor(0.5f, 1.0f, 0.25f, 0.0f), 2.0f),
                            ArgbColor(1.0f, 2.0f, 0.5f, 0.0f)));
    const ArgbColor black(1.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_TRUE(ColorsDiffer(black, ArgbColor(0.5f, 0.0f, 0.0f, 0.0f))) << "alpha counts";
    EXPECT_TRUE(ColorsEqual(black, ArgbColor(1.0f, -0.0f, 0.0f, 0.0f))) << "-0 equals 0";
}

// ---------------------------------------------------------------------------------------------
// RandomValue

// How many values of the rand sequence sample() used, found by locating the next two values
// of the sequence after it.
int DrawsConsumed(const std::function<void()>& sample) {
    const unsigned seed = 777;
    std::srand(seed);
    sample();
    int next1 = std::rand();
    int next2 = std::rand();
    std::srand(seed);
    std::vector<int> sequence;
    for (int i = 0; i < 12; ++i) {
        sequence.push_back(std::rand());
    }
    for (int k = 0; k + 1 < 12; ++k) {
        if (sequence[k] == next1 && sequence[k + 1] == next2) {
            return k;
        }
    }
    return -1;
}

float Unit(int drawn) { return static_cast<float>(drawn % 32767) * (1.0f / 32766.0f); }

TEST(RandomValueTest, DrawsPerKind) {
    struct Case {
        const char* name;
        RandomValue value;
        bool constant;
        int draws;
    } cases[] = {
        {"default", RandomValue(), true, 0},
        {"constant", RandomValue(3), true, 0},
        {"no second point", RandomValue(2, 1, 5, -1, 7, 3), false, 0},
        {"flat segment", RandomValue(0, 1, 1, 1), false, 2},
        {"sloped segment", RandomValue(0, 0, 1, 2), false, 2},
        {"two segments", RandomValue(0, 1, 1, 3, 3, 0), false, 3},
        {"two segments, tiny area", RandomValue(5, 1e-5f, 5.00001f, 1e-5f, 5.00002f, 1e-5f),
         false, 0},
        {"two segments, reversed", RandomValue(1, 1, 0, 1, -1, 1), false, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.IsConstant(), c.constant) << c.name;
        EXPECT_EQ(DrawsConsumed([&] { c.value.Sample(); }), c.draws) << c.name;
    }
}

TEST(RandomValueTest, ConstantsAndEmptyAreasGiveX0) {
    const RandomValue values[] = {
        RandomValue(3),
        RandomValue(2, 1, 5, -1, 7, 3),
        RandomValue(5, 1e-5f, 5.00001f, 1e-5f, 5.00002f, 1e-5f),
        RandomValue(1, 1, 0, 1, -1, 1),
    };
    for (const RandomValue& v : values) {
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ(v.Sample(), v.x0);
        }
    }
    EXPECT_EQ(RandomValue().Sample(), 0.0f);
}

// The draws are taken in a fixed order from the runtime's generator: the flat case uses the
// first; the sloped case puts the second along x and tests the first against the density.
TEST(RandomValueTest, DrawOrder) {
    std::srand(1);
    ASSERT_EQ(std::rand(), 41) << "rand is not the layer's generator";
    ASSERT_EQ(std::rand(), 18467);

    std::srand(1);
    EXPECT_FLOAT_EQ(RandomValue(10, 1, 20, 1).Sample(), 10 + 10 * Unit(41));
    std::srand(1);
    // u1 is tiny, so the point lies under the density and is kept as drawn.
    EXPECT_FLOAT_EQ(RandomValue(0, 0, 1, 2).Sample(), Unit(18467));
}

// Kolmogorov-Smirnov distance between samples and an analytic distribution function; also
// checks that no sample leaves [low, high].
double KsDistance(const RandomValue& value, const std::function<double(double)>& cdf, double low,
                  double high) {
    const int n = 20000;
    std::srand(20240607);
    std::vector<double> samples;
    samples.reserve(n);
    for (int i = 0; i < n; ++i) {
        double x = value.Sample();
        EXPECT_GE(x, low);
        EXPECT_LE(x, high);
        samples.push_back(x);
    }
    std::sort(samples.begin(), samples.end());
    double d = 0;
    for (int i = 0; i < n; ++i) {
        double f = cdf(samples[i]);
        d = std::max({d, f - static_cast<double>(i) / n, static_cast<double>(i + 1) / n - f});
    }
    return d;
}

TEST(RandomValueTest, FollowsTheDensity) {
    // With 20000 samples the 0.1 % critical distance is about 0.014.
    const double bound = 0.02;
    struct Case {
        const char* name;
        RandomValue value;
        double low, high;
        std::function<double(double)> cdf;
    } cases[] = {
        {"flat", RandomValue(2, 1, 5, 1), 2, 5, [](double x) { return (x - 2) / 3; }},
        {"rising", RandomValue(0, 0, 1, 2), 0, 1, [](double x) { return x * x; }},
        {"falling", RandomValue(-1, 3, 1, 1), -1, 1,
         // density 3 - (x + 1), area 4
         [](double x) { return (3 * (x + 1) - (x + 1) * (x + 1) / 2) / 4; }},
        {"two segments", RandomValue(0, 1, 1, 3, 3, 0), 0, 3,
         // density 1 + 2x on [0, 1] (area 2), 3 - 1.5 (x - 1) on [1, 3] (area 3)
         [](double x) {
             if (x <= 1) {
                 return (x + x * x) / 5;
             }
             double t = x - 1;
             return (2 + 3 * t - 0.75 * t * t) / 5;
         }},
        {"ramp and plateau", RandomValue(4, 0, 5, 1, 7, 1), 4, 7,
         // area 0.5 then 2
         [](double x) {
             if (x <= 5) {
                 return (x - 4) * (x - 4) / 2 / 2.5;
             }
             return (0.5 + (x - 5)) / 2.5;
         }},
    };
    for (const Case& c : cases) {
        EXPECT_LT(KsDistance(c.value, c.cdf, c.low, c.high), bound) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// RangeUnion

TEST(RangeUnionTest, SpansBothRanges) {
    struct Case {
        float low1, high1, low2, high2, low, high;
    } cases[] = {
        {0, 1, 2, 3, 0, 3},
        {2, 3, 0, 1, 0, 3},
        {0, 10, 2, 3, 0, 10},
        {2, 3, -5, 10, -5, 10},
    };
    for (const Case& c : cases) {
        float low = 99, high = 99;
        RangeUnion(c.low1, c.high1, c.low2, c.high2, low, high);
        EXPECT_EQ(low, c.low) << c.low1 << ".." << c.high1 << " + " << c.low2 << ".." << c.high2;
        EXPECT_EQ(high, c.high) << c.low1 << ".." << c.high1 << " + " << c.low2 << ".." << c.high2;
    }
}

}  // namespace
