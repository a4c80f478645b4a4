#include "core/containers/ordered_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <iterator>
#include <list>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

using IntMap = OrderedMap<int, int>;
using IntSet = OrderedSet<int>;

// ---------------------------------------------------------------------------------------------
// Helpers

// The keys met taking count() steps along next from start.
template <typename Map>
std::vector<typename Map::Node*> RingNodes(const Map& m, typename Map::Node* start) {
    std::vector<typename Map::Node*> nodes;
    auto* n = start;
    for (int32_t i = 0; i < m.count(); ++i, n = n->next) nodes.push_back(n);
    return nodes;
}

template <typename Map>
auto RingKeys(const Map& m) {
    std::vector<std::decay_t<decltype(m.first()->key)>> keys;
    for (auto* n : RingNodes(m, m.first())) keys.push_back(n->key);
    return keys;
}

// Checks every structural invariant and returns a description of the first one broken (empty
// when all hold): tree order, parent links, exact heights, AVL balance, the list ring through
// exactly the tree's nodes with first and cursor on it, key order of the ring when sorted, and
// lookup of every node by its key.
template <typename Map,
          typename Compare = ThreeWayCompare<decltype(std::declval<typename Map::Node>().key)>>
std::string CheckStructure(const Map& m, Compare compare = {}) {
    using Node = typename Map::Node;
    std::ostringstream err;
    if (m.count() == 0) {
        if (m.FirstNode() || m.LastNode()) return "empty map with tree nodes";
        if (m.cursor() != m.first() || m.WalkNode() != m.first()) {
            return "empty map: cursor, first and walk not all on the sentinel";
        }
        if (m.first()->next != m.first() || m.first()->prev != m.first()) {
            return "sentinel list links do not point to itself";
        }
        return "";
    }
    Node* root = m.FirstNode();
    if (!root) return "non-empty map without tree nodes";
    while (root->parent) root = root->parent;

    std::vector<Node*> inOrder;
    std::function<int32_t(Node*)> visit = [&](Node* n) -> int32_t {
        if (!n) return 0;
        if (n->left && n->left->parent != n) err << "bad parent link below a left child; ";
        if (n->right && n->right->parent != n) err << "bad parent link below a right child; ";
        const int32_t hl = visit(n->left);
        inOrder.push_back(n);
        const int32_t hr = visit(n->right);
        const int32_t h = 1 + std::max(hl, hr);
        if (n->height != h) err << "stored height " << n->height << " instead of " << h << "; ";
        if (hl - hr > 1 || hr - hl > 1) err << "unbalanced node (" << hl << " vs " << hr << "); ";
        return h;
    };
    visit(root);
    if (!err.str().empty()) return err.str();
    if (static_cast<int32_t>(inOrder.size()) != m.count()) return "tree size differs from count";
    for (size_t i = 1; i < inOrder.size(); ++i) {
        if (compare(inOrder[i - 1]->key, inOrder[i]->key) >= 0) return "tree out of key order";
    }
    if (m.FirstNode() != inOrder.front() || m.LastNode() != inOrder.back()) {
        return "FirstNode/LastNode are not the extremes";
    }

    std::vector<Node*> ring = RingNodes(m, m.first());
    if (ring.back()->next != m.first()) return "ring does not close after count steps";
    for (Node* n : ring) {
        if (n->next->prev != n) return "next/prev links disagree";
    }
    if (std::find(ring.begin(), ring.end(), m.cursor()) == ring.end()) return "cursor off the ring";
    std::vector<Node*> a = ring, b = inOrder;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    if (a != b) return "ring and tree hold different nodes";
    if (m.sorted() && ring != inOrder) return "sorted ring not in key order";
    for (Node* n : ring) {
        if (m.FindNode(n->key) != n) return "FindNode misses a node by its own key";
    }
    return "";
}

// ---------------------------------------------------------------------------------------------
// Differential test against std::map and a model of the list

// The list as the interface describes it: a ring of keys with a first and a cursor position;
// in a sorted map the ring is simply the keys in order, from the smallest.
class ListModel {
public:
    using It = std::list<int>::iterator;

    explicit ListModel(bool sorted) : sorted_(sorted) {}

    bool Has(int k) const { return at_.count(k) != 0; }
    size_t size() const { return ring_.size(); }
    int first() const { return *first_; }
    int cursor() const { return *cursor_; }
    void SetCursor(int k) { cursor_ = at_.at(k); }

    void Insert(int k, int where) {
        It it;
        if (ring_.empty()) {
            it = first_ = ring_.insert(ring_.end(), k);
        } else if (sorted_) {
            auto above = std::upper_bound(ring_.begin(), ring_.end(), k);
            it = ring_.insert(above, k);
            first_ = ring_.begin();
        } else if (where == 1) {
            it = ring_.insert(std::next(cursor_), k);
        } else {
            it = ring_.insert(cursor_, k);
            if (cursor_ == first_) first_ = it;
        }
        at_[k] = it;
        cursor_ = it;
    }

    void Erase(int k) {
        It it = at_.at(k);
        at_.erase(k);
        if (ring_.size() == 1) {
            ring_.clear();
            return;
        }
        if (it == cursor_) cursor_ = Prev(it);
        if (it == first_) first_ = Next(it);
        ring_.erase(it);
    }

    // Returns the erased key, or -1 when empty.
    int EraseAtCursor() {
        if (ring_.empty()) return -1;
        const int k = *cursor_;
        if (cursor_ == first_) first_ = Next(cursor_);
        const bool more = ring_.size() > 1;
        It following = Next(cursor_);
        Erase(k);
        if (more) cursor_ = following;
        return k;
    }

    std::vector<int> FromFirst() {
        std::vector<int> keys;
        It it = first_;
        for (size_t i = 0; i < ring_.size(); ++i, it = Next(it)) keys.push_back(*it);
        return keys;
    }

private:
    It Next(It it) {
        ++it;
        return it == ring_.end() ? ring_.begin() : it;
    }
    It Prev(It it) { return it == ring_.begin() ? std::prev(ring_.end()) : std::prev(it); }

    bool sorted_;
    std::list<int> ring_;
    It first_, cursor_;
    std::unordered_map<int, It> at_;
};

struct DifferentialCase {
    bool sorted;
    int keyRange;
    int steps;
    int fullCheckEvery;
};

void PrintTo(const DifferentialCase& c, std::ostream* os) {
    *os << (c.sorted ? "sorted" : "unsorted") << ", keys below " << c.keyRange << ", " << c.steps
        << " steps";
}

class OrderedMapDifferentialTest : public ::testing::TestWithParam<DifferentialCase> {};

constexpr int kNotFound = -7;

TEST_P(OrderedMapDifferentialTest, MatchesStdMapAndTheListModel) {
    const DifferentialCase c = GetParam();
    std::mt19937 rng(1234u + static_cast<unsigned>(c.keyRange) * 2u + (c.sorted ? 1u : 0u));
    auto random = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };

    IntMap m(c.sorted);
    m.SetNotFoundValue(kNotFound);
    std::map<int, int> ref;
    ListModel list(c.sorted);
    std::unordered_map<int, IntMap::Node*> nodes;  // the node each key got when inserted

    auto insertNew = [&](int k, int v, int where, IntMap::Node* n) {
        ref[k] = v;
        nodes[k] = n;
        list.Insert(k, where);
    };

    for (int step = 0; step < c.steps; ++step) {
        const int op = random(100);
        const int k = random(c.keyRange);
        SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op) + " key " +
                     std::to_string(k));
        if (op < 40) {
            const int v = random(1000);
            const int where = std::vector<int>{1, 0, 2, -1}[random(4)];
            IntMap::Node* n = m.Insert(k, v, where);
            if (ref.count(k)) {
                ASSERT_EQ(n, nodes[k]) << "an equal key returns its node";
                ref[k] = v;
            } else {
                insertNew(k, v, where, n);
            }
            ASSERT_EQ(n->value, v);
        } else if (op < 60) {
            const int expected = ref.count(k) ? ref[k] : kNotFound;
            ASSERT_EQ(m.Erase(k), expected);
            if (ref.count(k)) {
                ref.erase(k);
                nodes.erase(k);
                list.Erase(k);
            }
        } else if (op < 70) {
            const int expected = list.size() ? ref[list.cursor()] : kNotFound;
            ASSERT_EQ(m.EraseAtCursor(), expected);
            const int erased = list.EraseAtCursor();
            ref.erase(erased);
            nodes.erase(erased);
        } else if (op < 78) {
            if (ref.count(k)) {
                m.SetCursor(m.FindNode(k));
                list.SetCursor(k);
            }
        } else if (op < 83) {
            const bool present = ref.count(k) != 0;
            IntMap::Node* n = m.GetOrInsert(k);
            if (present) {
                ASSERT_EQ(n, nodes[k]);
            } else {
                ASSERT_EQ(n->value, 0) << "a default value, not the not-found value";
                insertNew(k, 0, 1, n);
            }
        } else if (op < 86) {
            const int v = random(1000);
            m.Entry(k) = v;
            if (ref.count(k)) {
                ref[k] = v;
            } else {
                insertNew(k, v, 1, m.FindNode(k));
            }
        } else if (op == 86 && random(50) == 0) {
            m.Clear();
            ref.clear();
            nodes.clear();
            list = ListModel(c.sorted);
        } else {
            // Queries.
            int value = 4242;
            IntMap::Node* n = m.Find(k, value);
            auto it = ref.find(k);
            if (it == ref.end()) {
                ASSERT_EQ(n, nullptr);
                ASSERT_EQ(value, 4242) << "the out value is written only when found";
                ASSERT_EQ(&m.ValueRef(k), &m.NotFoundValue());
            } else {
                ASSERT_EQ(n, nodes[k]);
                ASSERT_EQ(value, it->second);
                ASSERT_EQ(m.ValueRef(k), it->second);
                ASSERT_EQ(static_cast<int>(m.Entry(k)), it->second);
            }
            IntMap::Node* floor = reinterpret_cast<IntMap::Node*>(1);
            IntMap::Node* ceiling = floor;
            m.FindBounds(k, floor, ceiling);
            auto above = ref.upper_bound(k);
            auto notBelow = ref.lower_bound(k);
            IntMap::Node* expectFloor = above == ref.begin() ? nullptr : nodes[std::prev(above)->first];
            IntMap::Node* expectCeiling = notBelow == ref.end() ? nullptr : nodes[notBelow->first];
            ASSERT_EQ(floor, expectFloor);
            ASSERT_EQ(ceiling, expectCeiling);
            ASSERT_EQ(m.FirstNode(), ref.empty() ? nullptr : nodes[ref.begin()->first]);
            ASSERT_EQ(m.LastNode(), ref.empty() ? nullptr : nodes[ref.rbegin()->first]);
        }

        // Cheap checks every step.
        ASSERT_EQ(m.count(), static_cast<int32_t>(ref.size()));
        if (!ref.empty()) {
            ASSERT_EQ(m.cursor(), nodes[list.cursor()]);
            ASSERT_EQ(m.first(), nodes[list.first()]);
            ASSERT_EQ(m.CursorKey(), list.cursor());
        } else {
            ASSERT_EQ(m.CursorKey(), 0) << "the sentinel's key";
        }
        if (step % c.fullCheckEvery == 0 || step == c.steps - 1) {
            ASSERT_EQ(CheckStructure(m), "");
            ASSERT_EQ(RingKeys(m), list.FromFirst());
            for (const auto& [key, value] : ref) {
                ASSERT_EQ(m.FindNode(key), nodes[key]) << "nodes keep their entries";
                ASSERT_EQ(nodes[key]->value, value);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, OrderedMapDifferentialTest,
    ::testing::Values(DifferentialCase{false, 8, 30000, 1}, DifferentialCase{true, 8, 30000, 1},
                      DifferentialCase{false, 64, 40000, 1}, DifferentialCase{true, 64, 40000, 1},
                      DifferentialCase{false, 1024, 60000, 128},
                      DifferentialCase{true, 1024, 60000, 128},
                      DifferentialCase{false, 16384, 60000, 2048},
                      DifferentialCase{true, 16384, 60000, 2048}),
    [](const ::testing::TestParamInfo<DifferentialCase>& info) {
        return std::string(info.param.sorted ? "Sorted" : "Unsorted") + "Keys" +
               std::to_string(info.param.keyRange);
    });

// Insertion in ascending and descending runs gives the rotations their longest chains; erasing
// every other key and then the rest must keep the tree balanced.
TEST(OrderedMapTest, MonotoneRunsStayBalanced) {
    for (bool descending : {false, true}) {
        IntMap m(true);
        for (int i = 0; i < 2000; ++i) m.Insert(descending ? -i : i, i, 1);
        ASSERT_EQ(CheckStructure(m), "");
        for (int i = 0; i < 2000; i += 2) m.Erase(descending ? -i : i);
        ASSERT_EQ(CheckStructure(m), "");
        for (int i = 1; i < 2000; i += 2) {
            m.Erase(descending ? -i : i);
            if (i % 97 == 1) {
                ASSERT_EQ(CheckStructure(m), "");
            }
        }
        EXPECT_EQ(m.count(), 0);
        EXPECT_EQ(CheckStructure(m), "");
    }
}

// ---------------------------------------------------------------------------------------------
// List order and cursor

struct InsertStep {
    char key;
    int where;
};

TEST(OrderedMapTest, InsertPlacesTheNewEntryByCursorAndWhere) {
    struct Case {
        const char* name;
        bool sorted;
        std::vector<InsertStep> steps;
        std::string list;  // from first
        char cursor;
    } cases[] = {
        {"after the cursor", false, {{'A', 1}, {'B', 1}, {'C', 1}}, "ABC", 'C'},
        {"before the cursor", false, {{'A', 1}, {'B', 1}, {'C', 1}, {'D', 0}}, "ABDC", 'D'},
        {"before a first cursor becomes first", false, {{'X', 1}, {'E', 0}}, "EX", 'E'},
        {"any where but 1 is before", false, {{'A', 1}, {'B', 2}, {'C', -1}}, "CBA", 'C'},
        {"sorted ignores where", true, {{'D', 0}, {'B', 1}, {'E', 0}, {'A', 1}, {'C', 0}},
         "ABCDE", 'C'},
        {"sorted, descending inserts", true, {{'E', 1}, {'D', 1}, {'C', 1}, {'B', 1}}, "BCDE", 'B'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OrderedMap<char, int> m(c.sorted);
        for (const InsertStep& s : c.steps) m.Insert(s.key, s.key, s.where);
        std::vector<char> ring = RingKeys(m);
        EXPECT_EQ(std::string(ring.begin(), ring.end()), c.list);
        EXPECT_EQ(m.cursor()->key, c.cursor);
        EXPECT_EQ(CheckStructure(m), "");
    }
}

TEST(OrderedMapTest, InsertingAPresentKeyReplacesOnlyTheValue) {
    IntMap m(false);
    IntMap::Node* two = m.Insert(2, 20, 1);
    m.Insert(1, 10, 0);
    m.Insert(3, 30, 1);
    m.SetCursor(two);
    const std::vector<int> before = RingKeys(m);

    EXPECT_EQ(m.Insert(3, 33, 0), m.FindNode(3));
    EXPECT_EQ(m.ValueRef(3), 33);
    EXPECT_EQ(m.count(), 3);
    EXPECT_EQ(m.cursor(), two);
    EXPECT_EQ(RingKeys(m), before);
}

TEST(OrderedMapTest, EraseMovesCursorBackAndFirstOn) {
    IntMap m(false);
    m.SetNotFoundValue(-1);
    for (int k : {1, 2, 3}) m.Insert(k, k * 10, 1);
    m.SetCursor(m.FindNode(2));

    EXPECT_EQ(m.Erase(9), -1) << "absent key";
    EXPECT_EQ(RingKeys(m), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(m.cursor()->key, 2);

    EXPECT_EQ(m.Erase(2), 20);
    EXPECT_EQ(m.cursor()->key, 1) << "the cursor moves to the previous entry";
    EXPECT_EQ(m.Erase(1), 10);
    EXPECT_EQ(m.cursor()->key, 3) << "the previous entry of first is the last";
    EXPECT_EQ(m.first()->key, 3);

    EXPECT_EQ(m.Erase(3), 30);
    EXPECT_EQ(m.count(), 0);
    EXPECT_EQ(m.CursorKey(), 0);
    EXPECT_EQ(m.cursor()->value, -1) << "the cursor rests on the sentinel";
    EXPECT_EQ(CheckStructure(m), "");
    EXPECT_EQ(m.EraseAtCursor(), -1) << "an empty map is left alone";
}

TEST(OrderedMapTest, EraseAtCursorDrainsTheRingFromTheCursor) {
    IntMap m(false);
    for (int k : {5, 1, 4, 2, 3}) m.Insert(k, k * 10, 1);
    m.SetCursor(m.FindNode(4));
    std::vector<int> drained;
    while (m.count() > 0) {
        drained.push_back(m.EraseAtCursor());
        ASSERT_EQ(CheckStructure(m), "");
    }
    EXPECT_EQ(drained, (std::vector<int>{40, 20, 30, 50, 10}));
}

TEST(OrderedMapTest, GetOrInsertAndEntry) {
    IntMap m(false);
    m.SetNotFoundValue(-1);
    m.Insert(1, 10, 1);
    m.Insert(2, 20, 1);
    m.SetCursor(m.FindNode(1));

    IntMap::Node* present = m.GetOrInsert(2);
    EXPECT_EQ(present->value, 20);
    EXPECT_EQ(m.cursor()->key, 1) << "a present key changes nothing";

    IntMap::Node* added = m.GetOrInsert(3);
    EXPECT_EQ(added->value, 0) << "a default value, not the not-found value";
    EXPECT_EQ(RingKeys(m), (std::vector<int>{1, 3, 2})) << "inserted after the cursor";

    EXPECT_EQ(static_cast<int>(m.Entry(7)), -1);
    EXPECT_EQ(m.count(), 3) << "reading an entry inserts nothing";
    m.Entry(7) = 70;
    EXPECT_EQ(RingKeys(m), (std::vector<int>{1, 3, 7, 2}));
    m.Entry(1) = m.Entry(7);
    EXPECT_EQ(m.ValueRef(1), 70);
    EXPECT_EQ(m.ValueRef(7), 70);
}

// ---------------------------------------------------------------------------------------------
// FindBounds, key types and comparisons

TEST(OrderedMapTest, FindBoundsGivesFloorAndCeiling) {
    IntMap empty(true);
    IntMap::Node* floor = empty.first();
    IntMap::Node* ceiling = empty.first();
    empty.FindBounds(5, floor, ceiling);
    EXPECT_EQ(floor, nullptr);
    EXPECT_EQ(ceiling, nullptr);

    IntMap m(false);
    for (int k : {30, 10, 20}) m.Insert(k, k, 1);
    struct Case {
        int key;
        int floor, ceiling;  // 0: none
    } cases[] = {{5, 0, 10}, {10, 10, 10}, {15, 10, 20}, {20, 20, 20}, {29, 20, 30},
                 {30, 30, 30}, {35, 30, 0}};
    for (const Case& c : cases) {
        m.FindBounds(c.key, floor, ceiling);
        EXPECT_EQ(floor ? floor->key : 0, c.floor) << c.key;
        EXPECT_EQ(ceiling ? ceiling->key : 0, c.ceiling) << c.key;
        if (c.floor == c.key) {
            EXPECT_EQ(floor, ceiling) << "a present key gives its node twice";
        }
    }
}

// Float, Point and pointer keys with the default comparisons: the sorted ring follows the key
// order of each, and lookups find by value.
TEST(OrderedMapTest, DefaultComparisonsOfTheKeyTypes) {
    OrderedMap<float, int> floats(true);
    for (float f : {2.5f, -1.0f, 0.25f, 100.0f, -7.5f}) floats.Insert(f, 1, 0);
    EXPECT_EQ(RingKeys(floats), (std::vector<float>{-7.5f, -1.0f, 0.25f, 2.5f, 100.0f}));
    OrderedMap<float, int>::Node *floor, *ceiling;
    floats.FindBounds(0.3f, floor, ceiling);
    EXPECT_EQ(floor->key, 0.25f);
    EXPECT_EQ(ceiling->key, 2.5f);

    OrderedSet<Point> points(true);
    for (Point p : {Point(2, 1), Point(1, 5), Point(2, -3), Point(-1, 9)}) points.Insert(p, 1);
    std::vector<Point> ring = RingKeys(points);
    ASSERT_EQ(ring.size(), 4u);
    const Point expected[] = {Point(-1, 9), Point(1, 5), Point(2, -3), Point(2, 1)};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ring[i].x, expected[i].x);
        EXPECT_EQ(ring[i].y, expected[i].y);
    }

    int objects[4];
    OrderedSet<int*> pointers(true);
    for (int i : {2, 0, 3, 1}) pointers.Insert(&objects[i], 1);
    EXPECT_EQ(RingKeys(pointers), (std::vector<int*>{&objects[0], &objects[1], &objects[2],
                                                     &objects[3]}));
    EXPECT_NE(pointers.FindNode(&objects[2]), nullptr);
}

// A small text key; long enough texts live on the heap, so leaks of keys show under LSan.
struct Text {
    std::string s;
};
struct CompareText {
    int operator()(const Text& a, const Text& b) const { return a.s.compare(b.s); }
};
struct CompareTextNoCase {
    int operator()(const Text& a, const Text& b) const {
        const size_t n = std::min(a.s.size(), b.s.size());
        for (size_t i = 0; i < n; ++i) {
            const int x = std::tolower(static_cast<unsigned char>(a.s[i]));
            const int y = std::tolower(static_cast<unsigned char>(b.s[i]));
            if (x != y) return x - y;
        }
        return a.s.size() < b.s.size() ? -1 : (a.s.size() > b.s.size() ? 1 : 0);
    }
};

TEST(OrderedMapTest, TheComparisonDecidesWhichKeysAreEqual) {
    const std::string stored = "MATERIALS_OF_THE_SECOND_RING_OF_THE_SCENE";
    std::string lower = stored;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char ch) { return static_cast<char>(std::tolower(static_cast<unsigned char>(ch))); });

    OrderedMap<Text, std::string, CompareTextNoCase> noCase(false);
    OrderedMap<Text, std::string, CompareText> exact(false);
    noCase.Insert(Text{stored}, "a value long enough to need its own heap block", 1);
    exact.Insert(Text{stored}, "a value long enough to need its own heap block", 1);

    EXPECT_NE(noCase.FindNode(Text{lower}), nullptr);
    EXPECT_EQ(exact.FindNode(Text{lower}), nullptr);

    noCase.Insert(Text{lower}, "replaced", 1);
    EXPECT_EQ(noCase.count(), 1);
    EXPECT_EQ(noCase.first()->key.s, stored) << "the stored key is kept";
    EXPECT_EQ(noCase.first()->value, "replaced");
    exact.Insert(Text{lower}, "second", 1);
    EXPECT_EQ(exact.count(), 2);
    EXPECT_EQ(CheckStructure(noCase, CompareTextNoCase{}), "");
    EXPECT_EQ(CheckStructure(exact, CompareText{}), "");
    EXPECT_EQ(exact.Erase(Text{lower}), "second");
    EXPECT_EQ(exact.Erase(Text{lower}), "") << "the default not-found value";
}

// ---------------------------------------------------------------------------------------------
// The walk

// Walks the ring 1..5 (inserted in order) and lets action erase entries at each visit; returns
// the keys visited.
std::vector<int> WalkWith(const std::function<void(IntMap&, int)>& action) {
    IntMap m(false);
    for (int k = 1; k <= 5; ++k) m.Insert(k, k, 1);
    std::vector<int> visited;
    int guard = 0;
    for (m.WalkBegin(); !m.WalkEnded() && ++guard < 100; m.WalkAdvance()) {
        const int k = m.WalkNode()->key;
        visited.push_back(k);
        action(m, k);
        EXPECT_EQ(CheckStructure(m), "");
    }
    return visited;
}

TEST(OrderedMapWalkTest, ErasingDuringTheWalkVisitsEveryOtherEntryOnce) {
    auto at = [](int when, std::vector<int> erase) {
        return [when, erase](IntMap& m, int k) {
            if (k == when) {
                for (int e : erase) m.Erase(e);
            }
        };
    };
    struct Case {
        const char* name;
        std::function<void(IntMap&, int)> action;
        std::vector<int> visited;
    } cases[] = {
        {"nothing erased", [](IntMap&, int) {}, {1, 2, 3, 4, 5}},
        {"every visited entry", [](IntMap& m, int k) { m.Erase(k); }, {1, 2, 3, 4, 5}},
        {"the first visited entry while visiting it", at(1, {1}), {1, 2, 3, 4, 5}},
        {"the first visited and the next entry", at(1, {1, 2}), {1, 3, 4, 5}},
        {"the first visited entry later", at(3, {1}), {1, 2, 3, 4, 5}},
        {"the current, then the first visited entry", at(2, {2, 1}), {1, 2, 3, 4, 5}},
        {"the first visited, then the current entry", at(2, {1, 2}), {1, 2, 3, 4, 5}},
        {"the last and the first visited entry", at(5, {5, 1}), {1, 2, 3, 4, 5}},
        {"an entry not yet visited", at(2, {4}), {1, 2, 3, 5}},
        {"the next, then the current entry", at(2, {3, 2}), {1, 2, 4, 5}},
        {"an entry already visited", at(3, {2}), {1, 2, 3, 4, 5}},
        {"all entries", at(1, {1, 2, 3, 4, 5}), {1}},
        {"all entries midway", at(3, {5, 3, 1, 2, 4}), {1, 2, 3}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WalkWith(c.action), c.visited) << c.name;
    }
}

TEST(OrderedMapWalkTest, WalkBeginPutsTheCursorOnFirst) {
    IntMap m(false);
    for (int k : {1, 2, 3}) m.Insert(k, k, 0);  // list 3, 2, 1
    m.SetCursor(m.FindNode(1));
    m.WalkBegin();
    EXPECT_EQ(m.cursor(), m.first());
    EXPECT_EQ(m.WalkNode(), m.first());

    IntMap empty(false);
    empty.WalkBegin();
    EXPECT_TRUE(empty.WalkEnded());
}

// Random walks over random rings, erasing the current, the first visited and random other
// entries: every entry that survives the walk is visited exactly once, in list order.
TEST(OrderedMapWalkTest, RandomErasuresDuringWalks) {
    std::mt19937 rng(99);
    auto random = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int trial = 0; trial < 3000; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        IntMap m(random(2) == 0);
        const int n = 1 + random(24);
        for (int i = 0; i < n; ++i) m.Insert(random(40), 0, random(2));
        const std::vector<int> initial = RingKeys(m);
        std::set<int> erased;
        std::vector<int> visited;
        int firstVisited = -1;
        int guard = 0;
        for (m.WalkBegin(); !m.WalkEnded(); m.WalkAdvance()) {
            ASSERT_LT(++guard, 1000) << "the walk does not end";
            const int k = m.WalkNode()->key;
            ASSERT_EQ(erased.count(k), 0u);
            visited.push_back(k);
            if (firstVisited < 0) firstVisited = k;
            const int actions = random(3);
            for (int a = 0; a < actions; ++a) {
                int victim;
                switch (random(5)) {
                    case 0: victim = k; break;
                    case 1: victim = firstVisited; break;
                    default: victim = initial[random(static_cast<int>(initial.size()))]; break;
                }
                if (random(40) == 0) {
                    for (int e : initial) m.Erase(e);
                    erased.insert(initial.begin(), initial.end());
                } else {
                    m.Erase(victim);
                    erased.insert(victim);
                }
            }
        }
        ASSERT_EQ(CheckStructure(m), "");
        std::vector<int> sortedVisits = visited;
        std::sort(sortedVisits.begin(), sortedVisits.end());
        ASSERT_TRUE(std::adjacent_find(sortedVisits.begin(), sortedVisits.end()) ==
                    sortedVisits.end())
            << "an entry visited twice";
        for (int k : initial) {
            if (!erased.count(k)) {
                ASSERT_TRUE(std::count(visited.begin(), visited.end(), k) == 1)
                    << "surviving entry " << k << " not visited";
            }
        }
        std::vector<int> inRingOrder;
        for (int k : initial) {
            if (std::count(visited.begin(), visited.end(), k)) inRingOrder.push_back(k);
        }
        ASSERT_EQ(visited, inRingOrder);
    }
}

// ---------------------------------------------------------------------------------------------
// Clear, DeleteAll, DeleteAllKeys

struct Counted {
    virtual ~Counted() = default;
};
int g_destroyed = 0;
struct CountedChild : Counted {
    ~CountedChild() override { ++g_destroyed; }
};

TEST(OrderedMapTest, ClearDropsPointersAndDeleteAllDeletesThem) {
    g_destroyed = 0;
    std::vector<Counted*> objects;
    for (int i = 0; i < 5; ++i) objects.push_back(new CountedChild);

    auto* owner = new OrderedMap<int, Counted*>(false);
    for (int i = 0; i < 5; ++i) owner->Insert(i, objects[i], 1);
    MapBase* base = owner;
    base->Clear();
    EXPECT_EQ(owner->count(), 0);
    EXPECT_EQ(g_destroyed, 0) << "Clear drops the pointers";

    for (int i = 0; i < 5; ++i) owner->Insert(i, objects[i], 1);
    delete base;
    EXPECT_EQ(g_destroyed, 0) << "destroying the map drops them too";

    OrderedMap<int, Counted*> m(true);
    for (int i = 0; i < 5; ++i) m.Insert(i, objects[i], 1);
    m.DeleteAll();
    EXPECT_EQ(g_destroyed, 5) << "through the virtual destructor";
    EXPECT_EQ(CheckStructure(m), "");

    g_destroyed = 0;
    OrderedSet<Counted*> keys(false);
    OrderedMap<Counted*, int> keyMap(false);
    for (int i = 0; i < 3; ++i) keys.Insert(new CountedChild, 1);
    for (int i = 0; i < 4; ++i) keyMap.Insert(new CountedChild, i, 1);
    keys.DeleteAllKeys();
    keyMap.DeleteAllKeys();
    EXPECT_EQ(g_destroyed, 7);
    EXPECT_EQ(keys.count(), 0);
    EXPECT_EQ(keyMap.count(), 0);
}

TEST(OrderedMapTest, ClearLeavesAnUsableEmptyMap) {
    IntMap m(false);
    for (int k = 0; k < 50; ++k) m.Insert(k * 7 % 50, k, k % 2);
    m.Clear();
    EXPECT_EQ(CheckStructure(m), "");
    m.Insert(3, 30, 0);
    m.Insert(1, 10, 1);
    EXPECT_EQ(RingKeys(m), (std::vector<int>{3, 1}));
    EXPECT_EQ(CheckStructure(m), "");
}

// ---------------------------------------------------------------------------------------------
// Assign

TEST(OrderedMapTest, AssignCopiesRingFirstCursorAndNotFoundValue) {
    for (bool sorted : {false, true}) {
        SCOPED_TRACE(sorted ? "sorted" : "unsorted");
        IntMap source(sorted);
        source.SetNotFoundValue(-1);
        for (int k : {50, 20, 80, 10, 60, 30}) {
            source.Insert(k, k * 2, k % 20 == 0 ? 0 : 1);
        }
        source.SetCursor(source.FindNode(20));
        const std::vector<int> ring = RingKeys(source);
        ASSERT_NE(source.first(), source.cursor());

        IntMap copy(!sorted);
        copy.Insert(999, 1, 1);
        copy.Assign(source);

        EXPECT_EQ(copy.sorted(), sorted);
        EXPECT_EQ(RingKeys(copy), ring);
        EXPECT_EQ(copy.cursor()->key, source.cursor()->prev->key)
            << "the copy of the node before the source's cursor";
        EXPECT_EQ(copy.NotFoundValue(), -1);
        EXPECT_EQ(copy.Erase(999), -1);
        for (int k : ring) EXPECT_EQ(copy.ValueRef(k), k * 2);
        EXPECT_EQ(CheckStructure(copy), "");
        EXPECT_EQ(RingKeys(source), ring) << "the source is unchanged";
        EXPECT_NE(copy.FindNode(50), source.FindNode(50)) << "nodes of its own";

        IntMap::Node* cursor = copy.cursor();
        copy.Assign(copy);
        EXPECT_EQ(copy.cursor(), cursor) << "assigning a map to itself does nothing";
        EXPECT_EQ(RingKeys(copy), ring);
    }

    IntSet set(false), setCopy(true);
    for (int k : {3, 1, 2}) set.Insert(k, 0);
    setCopy.Assign(set);
    EXPECT_EQ(RingKeys(setCopy), (std::vector<int>{2, 1, 3}));
    EXPECT_FALSE(setCopy.sorted());
}

// ---------------------------------------------------------------------------------------------
// SortList

TEST(OrderedMapTest, SortListIsAStableSortOfTheListOnly) {
    std::mt19937 rng(7);
    for (int n : {0, 1, 2, 3, 10, 57}) {
        SCOPED_TRACE("entries " + std::to_string(n));
        IntMap m(false);
        for (int i = 0; i < n; ++i) m.Insert(static_cast<int>(rng() % 1000), i, rng() % 2);
        std::vector<int> expected = RingKeys(m);

        m.SortList([](int, int) { return 0; });
        EXPECT_EQ(RingKeys(m), expected) << "all equal: nothing moves";

        auto byTens = [](int a, int b) { return a % 10 - b % 10; };
        std::stable_sort(expected.begin(), expected.end(),
                         [&](int a, int b) { return byTens(a, b) < 0; });
        m.SortList(byTens);
        EXPECT_EQ(RingKeys(m), expected);
        EXPECT_EQ(m.cursor(), m.first());
        EXPECT_EQ(CheckStructure(m), "");
    }
}

// ---------------------------------------------------------------------------------------------
// Sets

TEST(OrderedSetTest, PresentKeysChangeNothing) {
    IntSet s(false);
    IntSet::Node* one = s.Insert(1, 1);
    s.Insert(2, 1);
    s.SetCursor(one);
    EXPECT_EQ(s.Insert(2, 0), s.FindNode(2));
    s.InsertIfAbsent(2);
    EXPECT_EQ(s.cursor(), one);
    EXPECT_EQ(RingKeys(s), (std::vector<int>{1, 2}));

    s.InsertIfAbsent(3);
    EXPECT_EQ(RingKeys(s), (std::vector<int>{1, 3, 2})) << "after the cursor";
    EXPECT_EQ(s.cursor()->key, 3);
    s.Erase(7);
    EXPECT_EQ(s.count(), 3);
}

// Raising the low end of a range key in place, as the index pool does, keeps lookups working
// because the ranges are disjoint.
TEST(OrderedSetTest, KeysEditedInPlaceWithinTheirOrder) {
    OrderedSet<Point> ranges(false);
    ranges.Insert(Point(10, 19), 1);
    ranges.Insert(Point(0, 4), 1);
    ranges.Insert(Point(30, 40), 1);
    OrderedSet<Point>::Node* n = ranges.FindNode(Point(10, 19));
    n->key.x = 11;
    EXPECT_EQ(ranges.FindNode(Point(11, 19)), n);
    EXPECT_EQ(ranges.FindNode(Point(10, 19)), nullptr);
}

TEST(OrderedSetTest, MatchesStdSet) {
    std::mt19937 rng(5);
    for (bool sorted : {false, true}) {
        IntSet s(sorted);
        std::set<int> ref;
        for (int step = 0; step < 20000; ++step) {
            const int k = static_cast<int>(rng() % 300);
            switch (rng() % 4) {
                case 0: s.Insert(k, static_cast<int>(rng() % 2)); ref.insert(k); break;
                case 1: s.InsertIfAbsent(k); ref.insert(k); break;
                case 2: s.Erase(k); ref.erase(k); break;
                default:
                    if (s.count() > 0) {
                        ref.erase(s.cursor()->key);
                        s.EraseAtCursor();
                    }
                    break;
            }
            ASSERT_EQ(s.count(), static_cast<int32_t>(ref.size()));
            ASSERT_EQ(s.FindNode(k) != nullptr, ref.count(k) == 1);
            if (step % 500 == 0) {
                ASSERT_EQ(CheckStructure(s), "");
                std::vector<int> keys = RingKeys(s);
                std::sort(keys.begin(), keys.end());
                ASSERT_EQ(keys, std::vector<int>(ref.begin(), ref.end()));
            }
        }
    }
}

}  // namespace
