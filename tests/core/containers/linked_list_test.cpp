#include "core/containers/linked_list.h"

#include "tests/core/containers/tracked_element.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace {

// The reference: the ring as a vector read from first(), and the cursor's index in it.
struct RingModel {
    std::vector<int> ring;
    size_t cursor = 0;

    void Append(int v) {
        if (ring.empty()) {
            ring = {v};
            cursor = 0;
        } else {
            ++cursor;
            ring.insert(ring.begin() + static_cast<std::ptrdiff_t>(cursor), v);
        }
    }
    void InsertBefore(int v) {
        // Linked before the cursor; when the cursor was first, the new node is the new first.
        if (ring.empty()) cursor = 0;
        ring.insert(ring.begin() + static_cast<std::ptrdiff_t>(cursor), v);
    }
    int Remove(bool toNext) {
        if (ring.empty()) return 0;
        int v = ring[cursor];
        ring.erase(ring.begin() + static_cast<std::ptrdiff_t>(cursor));
        if (ring.empty()) {
            cursor = 0;
        } else if (toNext) {
            if (cursor == ring.size()) cursor = 0;
        } else {
            cursor = cursor == 0 ? ring.size() - 1 : cursor - 1;
        }
        return v;
    }
    // Index of the first match going round from the cursor, or -1.
    long Find(int v) const {
        for (size_t k = 0; k < ring.size(); ++k) {
            size_t i = (cursor + k) % ring.size();
            if (ring[i] == v) return static_cast<long>(i);
        }
        return -1;
    }
    // Removes every v; the cursor goes to the first survivor at or after it.
    int RemoveAll(int v) {
        long survivor = -1;
        for (size_t k = 0; k < ring.size() && survivor < 0; ++k) {
            size_t i = (cursor + k) % ring.size();
            if (ring[i] != v) survivor = static_cast<long>(i);
        }
        std::vector<int> kept;
        size_t newCursor = 0;
        for (size_t i = 0; i < ring.size(); ++i) {
            if (static_cast<long>(i) == survivor) newCursor = kept.size();
            if (ring[i] != v) kept.push_back(ring[i]);
        }
        int removed = static_cast<int>(ring.size() - kept.size());
        ring = kept;
        cursor = newCursor;
        return removed;
    }
};

int ValueOf(int v) { return v; }
int ValueOf(const Tracked& t) { return t.value(); }

// Ring consistency (links agree both ways, exactly count nodes before coming back to first),
// element order from first, and where the cursor is.
template <typename T>
void ExpectMatches(const LinkedList<T>& list, const RingModel& model, const std::string& step) {
    SCOPED_TRACE(step);
    ASSERT_EQ(list.count(), static_cast<int32_t>(model.ring.size()));
    if (model.ring.empty()) {
        auto* sentinel = list.cursor();
        EXPECT_EQ(list.first(), sentinel);
        EXPECT_EQ(sentinel->next, sentinel);
        EXPECT_EQ(sentinel->prev, sentinel);
        EXPECT_EQ(ValueOf(sentinel->element), 0);
        return;
    }
    auto* node = list.first();
    long cursorAt = -1;
    for (size_t i = 0; i < model.ring.size(); ++i, node = node->next) {
        ASSERT_TRUE(i == 0 || node != list.first()) << "ring shorter than count, at " << i;
        ASSERT_EQ(node->next->prev, node) << "at " << i;
        ASSERT_EQ(node->prev->next, node) << "at " << i;
        EXPECT_EQ(ValueOf(node->element), model.ring[i]) << "at " << i;
        if (node == list.cursor()) cursorAt = static_cast<long>(i);
    }
    EXPECT_EQ(node, list.first()) << "count steps must come back to first";
    EXPECT_EQ(cursorAt, static_cast<long>(model.cursor)) << "cursor off the ring or misplaced";
}

template <typename T>
typename LinkedList<T>::Node* NodeAt(const LinkedList<T>& list, size_t index) {
    auto* node = list.first();
    while (index-- > 0) node = node->next;
    return node;
}

// Long random operation sequences against the model; few distinct values so that searches
// and RemoveAll hit often.
template <typename T>
void RunRandomSequence(unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    LinkedList<T> list;
    RingModel model;
    for (int step = 0; step < 20000; ++step) {
        const int v = pick(6);
        std::string what;
        switch (pick(13)) {
            case 0:
            case 1:
                what = "Append";
                list.Append(T(v));
                model.Append(v);
                break;
            case 2:
                what = "InsertBefore";
                list.InsertBefore(T(v));
                model.InsertBefore(v);
                break;
            case 3:
                what = "Take";
                EXPECT_EQ(ValueOf(list.Take()), model.Remove(false)) << step;
                break;
            case 4:
                what = "Pop";
                EXPECT_EQ(ValueOf(list.Pop()), model.Remove(true)) << step;
                break;
            case 5:
                what = "Current";
                EXPECT_EQ(ValueOf(list.Current()), model.ring.empty() ? 0 : model.ring[model.cursor]);
                break;
            case 6: {
                what = "Seek";
                long found = model.Find(v);
                EXPECT_EQ(list.Seek(T(v)), found >= 0) << step;
                if (found >= 0) model.cursor = static_cast<size_t>(found);
                break;
            }
            case 7:
                what = "Contains";
                EXPECT_EQ(list.Contains(T(v)), model.Find(v) >= 0) << step;
                break;
            case 8: {
                what = "AddIfAbsent";
                bool absent = model.Find(v) < 0;
                EXPECT_EQ(list.AddIfAbsent(T(v)), absent) << step;
                if (absent) model.Append(v);
                break;
            }
            case 9:
                what = "RemoveAll";
                EXPECT_EQ(list.RemoveAll(T(v)), model.RemoveAll(v)) << step;
                break;
            case 10:
                if (model.ring.empty()) break;
                what = "SetCursor";
                model.cursor = static_cast<size_t>(pick(static_cast<int>(model.ring.size())));
                list.SetCursor(NodeAt(list, model.cursor));
                break;
            case 11: {
                what = "copy";
                LinkedList<T> copy(list);
                ExpectMatches(copy, model, "copy constructed at " + std::to_string(step));
                LinkedList<T> assigned;
                for (int i = 0; i < v; ++i) assigned.Append(T(i));
                assigned = list;
                ExpectMatches(assigned, model, "copy assigned at " + std::to_string(step));
                // The copies are independent rings.
                copy.Append(T(v));
                assigned.Clear();
                list = copy;
                model.Append(v);
                break;
            }
            case 12:
                if (pick(10) != 0) break;
                what = "Clear";
                list.Clear();
                model = RingModel();
                break;
        }
        ExpectMatches(list, model, what + " at step " + std::to_string(step));
        if (testing::Test::HasFatalFailure()) return;
    }
}

TEST(LinkedListTest, RandomSequencesMatchModel) {
    RunRandomSequence<int>(1234);
}

TEST(LinkedListTest, RandomSequencesDestroyEveryElementOnce) {
    RunRandomSequence<Tracked>(99);
    EXPECT_TRUE(Tracked::Live().empty()) << Tracked::Live().size() << " elements leaked";
}

TEST(LinkedListTest, CursorEndIsAStack) {
    LinkedList<int> list;
    for (int v : {1, 2, 3}) list.Append(v);
    EXPECT_EQ(list.Take(), 3);
    EXPECT_EQ(list.Take(), 2);
    EXPECT_EQ(list.Take(), 1);
    EXPECT_EQ(list.Take(), 0) << "an empty list returns the default element";
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.Pop(), 0);
    EXPECT_EQ(list.cursor(), list.first());
}

TEST(LinkedListTest, RemoveAllAcceptsItsOwnElement) {
    // The argument is the cursor's element, freed by the first removal.
    LinkedList<Tracked> list;
    for (int v : {1, 2, 1, 3}) list.Append(Tracked(v));
    list.SetCursor(list.first());
    EXPECT_EQ(list.RemoveAll(list.cursor()->element), 2);
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.first()->element.value(), 2);
    EXPECT_EQ(list.first()->next->element.value(), 3);
}

TEST(LinkedListTest, SelfAssignmentKeepsTheList) {
    LinkedList<int> list;
    for (int v : {4, 5, 6}) list.Append(v);
    list.SetCursor(list.first()->next);
    auto* cursor = list.cursor();
    LinkedList<int>& alias = list;
    list = alias;
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(list.cursor(), cursor);
}

TEST(LinkedListTest, DeleteAllDeletesEveryOwnedObject) {
    {
        LinkedList<Tracked*> list;
        list.Append(new Tracked(1));
        list.Append(nullptr);
        list.Append(new Tracked(2));
        list.DeleteAll();
        EXPECT_EQ(list.count(), 0);
        EXPECT_EQ(list.cursor(), list.first());
    }
    EXPECT_TRUE(Tracked::Live().empty());
}

}  // namespace
