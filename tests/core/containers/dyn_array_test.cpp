#include "core/containers/dyn_array.h"

#include "tests/core/containers/tracked_element.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

int ValueOf(int v) { return v; }
int ValueOf(const Tracked& t) { return t.value(); }

// The reference: the whole block, so that slots beyond count are checked too (they must hold
// defaults in a fresh block and keep earlier values while the block stays).
struct BlockModel {
    std::vector<int> block;
    int count = 0;
    int growBy = 0;

    void Init(int n, int reserve) {
        block.assign(static_cast<size_t>(n + reserve), 0);
        count = n;
        growBy = reserve;
    }
    // True when the block stays.
    bool Resize(int n) {
        int capacity = static_cast<int>(block.size());
        if (capacity >= n && capacity - n <= growBy) {
            count = n;
            return true;
        }
        std::vector<int> fresh(static_cast<size_t>(n + growBy), 0);
        std::copy_n(block.begin(), std::min(count, n), fresh.begin());
        block = fresh;
        count = n;
        return false;
    }
    BlockModel Copy() const {
        BlockModel copy = *this;
        std::fill(copy.block.begin() + count, copy.block.end(), 0);
        return copy;
    }
};

template <typename T>
void ExpectMatches(const DynArray<T>& array, const BlockModel& model, const std::string& step) {
    SCOPED_TRACE(step);
    ASSERT_EQ(array.count(), model.count);
    ASSERT_EQ(array.capacity(), static_cast<int32_t>(model.block.size()));
    EXPECT_EQ(array.growBy(), model.growBy);
    EXPECT_EQ(array.items() == nullptr, array.capacity() == 0);
    for (int32_t i = 0; i < array.capacity(); ++i) {
        EXPECT_EQ(ValueOf(array.items()[i]), model.block[static_cast<size_t>(i)]) << "slot " << i;
    }
}

template <typename T>
void RunRandomSequence(unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int reserves[] = {0, 1, 3, 10};
    DynArray<T> array(0, 3);
    BlockModel model;
    model.Init(0, 3);
    int next = 1;  // every written value is new, so stale and fresh slots are told apart
    for (int step = 0; step < 5000; ++step) {
        std::string what;
        switch (pick(6)) {
            case 0:
            case 1: {
                what = "Resize";
                int n = pick(30);
                const T* before = array.items();
                bool kept = model.Resize(n);
                array.Resize(n);
                if (kept) {
                    EXPECT_EQ(array.items(), before) << "block must stay for " << n;
                }
                break;
            }
            case 2:
            case 3: {
                what = "At";
                int i = pick(30);
                if (i >= model.count) model.Resize(i + 1);
                model.block[static_cast<size_t>(i)] = next;
                array.At(i) = T(next++);
                break;
            }
            case 4: {
                what = "Init";
                int n = pick(10);
                int reserve = reserves[pick(4)];
                array.Init(n, reserve);
                model.Init(n, reserve);
                break;
            }
            case 5: {
                what = "copy";
                DynArray<T> copy(array);
                ExpectMatches(copy, model.Copy(), "copy constructed at " + std::to_string(step));
                DynArray<T> assigned(pick(5), reserves[pick(4)]);
                assigned.Assign(array);
                ExpectMatches(assigned, model.Copy(), "assigned at " + std::to_string(step));
                if (pick(2) == 0) {
                    array = assigned;
                    model = model.Copy();
                } else {
                    int n = pick(6);
                    T* block = new T[static_cast<size_t>(n)];
                    for (int i = 0; i < n; ++i) block[i] = T(next + i);
                    array.Adopt(block, n);
                    model.block.resize(static_cast<size_t>(n));
                    for (int i = 0; i < n; ++i) model.block[static_cast<size_t>(i)] = next + i;
                    model.count = n;
                    next += n;
                }
                break;
            }
        }
        ExpectMatches(array, model, what + " at step " + std::to_string(step));
        if (testing::Test::HasFatalFailure()) return;
    }
}

TEST(DynArrayTest, RandomSequencesMatchModel) {
    RunRandomSequence<int>(7);
}

TEST(DynArrayTest, RandomSequencesDestroyEveryElementOnce) {
    RunRandomSequence<Tracked>(8);
    EXPECT_TRUE(Tracked::Live().empty()) << Tracked::Live().size() << " elements leaked";
}

TEST(DynArrayTest, ResizeReallocatesOnlyOutsideTheReserveWindow) {
    struct Case {
        int count, growBy, n;
        int expectedCapacity;
        bool kept;
    } cases[] = {
        {3, 10, 5, 13, true},    // growing within the block
        {20, 10, 1, 11, false},  // shrinking by more than growBy
        {10, 5, 10, 15, true},   // same size
        {10, 5, 9, 14, false},   // one below the window
        {3, 2, 6, 8, false},     // growing past the block
        {4, 0, 0, 0, false},     // no reserve: the block goes away
        {0, 0, 0, 0, true},      // nothing to do
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("count " + std::to_string(c.count) + " growBy " + std::to_string(c.growBy) +
                     " resized to " + std::to_string(c.n));
        DynArray<int> array(c.count, c.growBy);
        for (int i = 0; i < c.count; ++i) array.At(i) = 100 + i;
        const int* before = array.items();
        array.Resize(c.n);
        EXPECT_EQ(array.count(), c.n);
        EXPECT_EQ(array.capacity(), c.expectedCapacity);
        EXPECT_EQ(array.items() == before, c.kept);
        for (int i = 0; i < std::min(c.count, c.n); ++i) EXPECT_EQ(array.items()[i], 100 + i);
    }
}

TEST(DynArrayTest, AtBeyondCountGrowsToReachIt) {
    DynArray<int> array(3, 0);
    array.At(7) = 5;
    EXPECT_EQ(array.count(), 8);
    EXPECT_EQ(&array.At(7), array.items() + 7);
    EXPECT_EQ(array.items()[7], 5);
}

TEST(DynArrayTest, SelfAssignmentKeepsTheBlock) {
    DynArray<Tracked> array(2, 1);
    array.At(1) = Tracked(9);
    const Tracked* block = array.items();
    DynArray<Tracked>& alias = array;
    array = alias;
    array.Assign(alias);
    EXPECT_EQ(array.items(), block);
    EXPECT_EQ(array.count(), 2);
    EXPECT_EQ(array.items()[1].value(), 9);
}

TEST(DynArrayTest, NestedArraysCopyDeeply) {
    // An element that owns a block itself: resizing and copying the outer array must copy,
    // not share, the inner blocks.
    DynArray<DynArray<int>> lines(1, 1);
    lines.At(0).At(2) = 7;
    lines.At(4).At(0) = 8;  // reallocates the outer block
    DynArray<DynArray<int>> copy(lines);
    copy.At(0).At(2) = 1;
    EXPECT_EQ(lines.At(0).At(2), 7);
    EXPECT_EQ(lines.At(4).At(0), 8);
    EXPECT_EQ(copy.At(4).count(), 1);
}

}  // namespace
