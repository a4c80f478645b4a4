// Ordered maps and sets: a height-balanced binary search tree whose nodes are at the same time
// threaded into a circular doubly linked list. The tree gives logarithmic lookup by key; the list
// gives a stable iteration order, either the order of insertion (steered by a cursor) or
// ascending key order. A separate walk position lets one loop visit every entry while entries are
// erased under it.
//
// Iterating: take count() steps along next, starting at first() (list order) or at cursor().
// Nodes never move between allocations and never exchange keys or values, so a node pointer stays
// valid until its own entry is erased.
#pragma once

#include "core/containers/compare.h"
#include "core/containers/map_base.h"

#include <cassert>
#include <cstdint>
#include <type_traits>
#include <utility>

// The value type of a set's nodes: a set stores keys only.
struct NoValue {};

// One entry, allocated and owned by its map. Callers read key, value, prev and next and may write
// value; they may rewrite key in place only when the new key keeps the node's place in the key
// order (and stays distinct from every other key). The tree links are the map's own.
template <typename K, typename V>
struct MapNode {
    K key;
    V value;
    int32_t height = 1;  // of the subtree rooted here: 1 for a leaf, an absent child counts 0
    MapNode* left = nullptr;
    MapNode* right = nullptr;
    MapNode* parent = nullptr;
    MapNode* prev = nullptr;  // list links: a ring through every entry of the map
    MapNode* next = nullptr;
};

// A set's node: the same links without a value.
template <typename K>
struct MapNode<K, NoValue> {
    K key;
    int32_t height = 1;
    MapNode* left = nullptr;
    MapNode* right = nullptr;
    MapNode* parent = nullptr;
    MapNode* prev = nullptr;
    MapNode* next = nullptr;
};

// Owns the sentinel: the node that cursor, first and the walk position rest on while the map is
// empty, and whose value is the map's not-found value. The sentinel is never on the list of real
// nodes; its list links point to itself.
template <typename K, typename V>
class OrderedMapBase : public MapBase {
public:
    using Node = MapNode<K, V>;

    // The list links point into the object itself, so a map is copied only with Assign.
    OrderedMapBase(const OrderedMapBase&) = delete;
    OrderedMapBase& operator=(const OrderedMapBase&) = delete;

    ~OrderedMapBase() override = default;

protected:
    OrderedMapBase() { sentinel_.prev = sentinel_.next = &sentinel_; }

    Node sentinel_{};  // key: a default K; value: the not-found value, default V unless set
};

namespace detail {

// Everything a map and a set share: the tree, the list, the cursor and the walk.
template <typename K, typename V, typename Compare>
class OrderedTree : public OrderedMapBase<K, V> {
public:
    using Node = MapNode<K, V>;

    ~OrderedTree() override { ClearNodes([](Node*) {}); }

    int32_t count() const { return count_; }
    // A real node whenever count() > 0; the sentinel when the map is empty.
    Node* cursor() const { return cursor_; }
    // Where the list begins; the sentinel when the map is empty.
    Node* first() const { return first_; }
    // node must be a node of this map (while the map is empty: cursor() itself). Owners set the
    // cursor before the operations that start from it (Insert, EraseAtCursor).
    void SetCursor(Node* node) { cursor_ = node; }
    // true: the list runs in ascending key order; false: in insertion order.
    bool sorted() const { return sorted_; }
    // Only while the map is empty (an owner that constructs the map before knowing the order).
    void SetSorted(bool sorted) {
        assert(count_ == 0);
        sorted_ = sorted;
    }

    // The node of an equal key, or null.
    Node* FindNode(const K& key) const {
        Node* n = root_;
        while (n) {
            const int c = compare_(key, n->key);
            if (c == 0) return n;
            n = c < 0 ? n->left : n->right;
        }
        return nullptr;
    }

    // floor: the node of the largest key <= key; ceiling: the node of the smallest key >= key;
    // each null when there is none. A present key gives its node twice.
    void FindBounds(const K& key, Node*& floor, Node*& ceiling) const {
        floor = ceiling = nullptr;
        Node* n = root_;
        while (n) {
            const int c = compare_(key, n->key);
            if (c == 0) {
                floor = ceiling = n;
                return;
            }
            if (c < 0) {
                ceiling = n;
                n = n->left;
            } else {
                floor = n;
                n = n->right;
            }
        }
    }

    // The nodes of the smallest and the largest key; null when empty.
    Node* FirstNode() const { return Extreme(&Node::left); }
    Node* LastNode() const { return Extreme(&Node::right); }

    // The cursor node's key; a default K when the map is empty.
    K CursorKey() const { return cursor_->key; }

    // Removes every entry. Pointer keys and values are dropped, not deleted. Leaves the walk
    // direction as it was; an empty map is left entirely alone.
    void Clear() override { ClearNodes([](Node*) {}); }

    // As Clear, but first deletes the object behind every key.
    void DeleteAllKeys()
        requires std::is_pointer_v<K>
    {
        ClearNodes([](Node* n) { delete n->key; });
    }

    // Reorders the list, never the tree, by compare(const K&, const K&) -> int (> 0: the first
    // key belongs after the second). A stable bubble sort: nodes that compare equal keep their
    // order. Afterwards the cursor is on first().
    template <typename KeyCompare>
    void SortList(KeyCompare compare) {
        cursor_ = first_;
        bool swapped;
        do {
            swapped = false;
            for (int32_t i = 0; i + 1 < count_; ++i) {
                Node* a = cursor_;
                Node* b = a->next;
                if (compare(a->key, b->key) > 0) {
                    Unlink(a);
                    LinkAfter(b, a);
                    if (a == first_) first_ = b;
                    cursor_ = b;
                    swapped = true;
                }
                cursor_ = cursor_->next;
            }
            cursor_ = cursor_->next;
        } while (swapped);
    }

    // The walk: a loop that may erase any entries (the visited one included) while it runs
    //     for (m.WalkBegin(); !m.WalkEnded(); m.WalkAdvance()) { Visit(m.WalkNode()); }
    // visits every entry present throughout the walk exactly once, in list order from first().
    // WalkBegin also puts the cursor on first().
    void WalkBegin() {
        walkFlags_ = (walkFlags_ & ~kWalkMoved) | kWalkForward;
        cursor_ = walk_ = first_;
        walkStop_ = nullptr;
    }
    bool WalkEnded() const { return walk_ == walkStop_ || count_ == 0; }
    Node* WalkNode() const { return walk_; }
    void WalkAdvance() {
        if (walkFlags_ & kWalkMoved) {  // an erase already moved the position on
            walkFlags_ &= ~kWalkMoved;
            return;
        }
        if (!walkStop_) walkStop_ = walk_;
        walk_ = Ahead(walk_);
    }

protected:
    explicit OrderedTree(bool sorted) : sorted_(sorted) {}

    Node* Sentinel() { return &this->sentinel_; }

    // Returns the node of an equal key untouched (inserted = false), or links in the node made by
    // make() (inserted = true): into the tree, into the list (key order when sorted; otherwise
    // after the cursor for where == 1, else before it), and makes it the cursor.
    template <typename Make>
    Node* InsertWith(const K& key, int where, Make make, bool& inserted) {
        if (!root_) {
            Node* n = make();
            n->prev = n->next = n;
            root_ = cursor_ = first_ = walk_ = n;
            count_ = 1;
            inserted = true;
            return n;
        }
        Node* parent = root_;
        int c;
        for (;;) {
            c = compare_(key, parent->key);
            if (c == 0) {
                inserted = false;
                return parent;
            }
            Node* child = c < 0 ? parent->left : parent->right;
            if (!child) break;
            parent = child;
        }
        Node* n = make();
        n->parent = parent;
        // A new leaf is the key-order neighbour of its parent, so the sorted ring needs no search.
        if (c < 0) {
            parent->left = n;
            if (sorted_) {
                LinkAfter(parent->prev, n);
                if (parent == first_) first_ = n;
            }
        } else {
            parent->right = n;
            if (sorted_) LinkAfter(parent, n);
        }
        ++count_;
        if (!sorted_) {
            if (where == 1) {
                LinkAfter(cursor_, n);
            } else {
                LinkAfter(cursor_->prev, n);
                if (cursor_ == first_) first_ = n;
            }
        }
        cursor_ = n;
        RebalanceUp(parent);
        inserted = true;
        return n;
    }

    // Takes n out of the tree and the list without freeing it. The cursor moves to n's previous
    // node, first to n's next node, and the walk position and stop are kept so that the walk
    // still visits every remaining entry once.
    void Detach(Node* n) {
        --count_;
        Node* start = Unhook(n);
        Unlink(n);
        if (count_ == 0) {
            cursor_ = first_ = walk_ = Sentinel();
            walkStop_ = nullptr;
        } else {
            if (n == cursor_) cursor_ = n->prev;
            if (n == first_) first_ = n->next;
            if (n == walk_) {
                // Erasing the only visited node leaves nothing visited: the walk starts over from
                // the next node, as if it had not yet made its first step. (Otherwise the stop
                // would move onto a node the walk has not reached and end the walk early.)
                if (n == walkStop_) walkStop_ = nullptr;
                if (!walkStop_) {
                    walk_ = Ahead(n);
                    walkFlags_ |= kWalkMoved;
                } else {
                    walk_ = Behind(n);  // the next advance lands on the node that followed n
                }
            }
            if (n == walkStop_) walkStop_ = Ahead(n);
        }
        RebalanceUp(start);
    }

    // Detaches the cursor's entry and puts the cursor on the node that followed it. Null when
    // the map is empty.
    Node* DetachAtCursor() {
        if (count_ == 0) return nullptr;
        Node* n = cursor_;
        if (n == first_) first_ = n->next;
        Node* following = count_ > 1 ? n->next : nullptr;
        Detach(n);
        if (following) cursor_ = following;
        return n;
    }

    // Frees every node, from the cursor along the list, calling beforeFree(node) on each first.
    template <typename BeforeFree>
    void ClearNodes(BeforeFree beforeFree) {
        if (count_ == 0) return;
        Node* n = cursor_;
        for (int32_t i = 0; i < count_; ++i) {
            Node* next = n->next;
            beforeFree(n);
            delete n;
            n = next;
        }
        walkStop_ = nullptr;
        walk_ = cursor_ = first_ = Sentinel();
        root_ = nullptr;
        count_ = 0;
    }

    // Clears this map and copies other's sentinel key, list order and entries: the same ring
    // from the same first; the cursor ends on the copy of the node before other's cursor.
    // insertCopy(node) inserts a copy of node's entry with where = 1.
    template <typename InsertCopy>
    void AssignFrom(const OrderedTree& other, InsertCopy insertCopy) {
        this->Clear();
        this->sentinel_.key = other.sentinel_.key;
        sorted_ = other.sorted_;
        const Node* source = other.cursor_;
        for (int32_t i = 0; i < other.count_; ++i) {
            insertCopy(*source);
            if (source == other.first_) first_ = cursor_;
            source = source->next;
        }
    }

private:
    static constexpr uint32_t kWalkForward = 1;  // clear: the walk runs along prev
    static constexpr uint32_t kWalkMoved = 2;    // an erase has already moved the walk on

    static int32_t Height(const Node* n) { return n ? n->height : 0; }
    static int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }
    static void UpdateHeight(Node* n) { n->height = 1 + Max(Height(n->left), Height(n->right)); }

    Node* Extreme(Node* Node::*side) const {
        Node* n = root_;
        if (n) {
            while (n->*side) n = n->*side;
        }
        return n;
    }

    Node* Ahead(Node* n) const { return (walkFlags_ & kWalkForward) ? n->next : n->prev; }
    Node* Behind(Node* n) const { return (walkFlags_ & kWalkForward) ? n->prev : n->next; }

    static void LinkAfter(Node* at, Node* n) {
        n->prev = at;
        n->next = at->next;
        at->next->prev = n;
        at->next = n;
    }
    // Leaves n's own links as they were.
    static void Unlink(Node* n) {
        n->prev->next = n->next;
        n->next->prev = n->prev;
    }

    // Puts replacement (possibly null) where child hung below parent, or at the root.
    void Replace(Node* parent, Node* child, Node* replacement) {
        if (!parent) {
            root_ = replacement;
        } else if (parent->left == child) {
            parent->left = replacement;
        } else {
            parent->right = replacement;
        }
    }

    // The left child of n takes n's place; n becomes its right child.
    static Node* RotateRight(Node* n) {
        Node* l = n->left;
        n->left = l->right;
        if (l->right) l->right->parent = n;
        l->right = n;
        l->parent = n->parent;
        n->parent = l;
        UpdateHeight(n);
        UpdateHeight(l);
        return l;
    }
    static Node* RotateLeft(Node* n) {
        Node* r = n->right;
        n->right = r->left;
        if (r->left) r->left->parent = n;
        r->left = n;
        r->parent = n->parent;
        n->parent = r;
        UpdateHeight(n);
        UpdateHeight(r);
        return r;
    }

    // Restores |height(left) - height(right)| <= 1 at n, whose subtrees are balanced, by a single
    // rotation when the outer grandchild on the heavy side is at least as tall as the inner one,
    // else by a double rotation. Returns the root of the subtree (its parent link set, the
    // parent's child link not yet).
    static Node* Rebalance(Node* n) {
        const int32_t hl = Height(n->left);
        const int32_t hr = Height(n->right);
        if (hl - hr > 1) {
            Node* l = n->left;
            if (Height(l->left) < Height(l->right)) n->left = RotateLeft(l);
            return RotateRight(n);
        }
        if (hr - hl > 1) {
            Node* r = n->right;
            if (Height(r->right) < Height(r->left)) n->right = RotateRight(r);
            return RotateLeft(n);
        }
        n->height = 1 + Max(hl, hr);
        return n;
    }

    // Rebalances from n up towards the root. Heights above a subtree depend only on that
    // subtree's height, so the climb stops once a subtree keeps the height it had.
    void RebalanceUp(Node* n) {
        while (n) {
            Node* parent = n->parent;
            const int32_t before = n->height;
            Node* top = Rebalance(n);
            Replace(parent, n, top);
            if (top->height == before) return;
            n = parent;
        }
    }

    // Takes n out of the tree and returns the lowest node whose subtree lost height (null when n
    // was the only node). A node with two children is replaced by its in-order neighbour node
    // from the taller side, relinked into n's place; keys and values never move between nodes.
    Node* Unhook(Node* n) {
        Node* parent = n->parent;
        Node* replacement;
        Node* start;
        if (!n->left || !n->right) {
            replacement = n->left ? n->left : n->right;
            start = parent;
        } else if (Height(n->right) >= Height(n->left)) {
            replacement = n->right;
            while (replacement->left) replacement = replacement->left;
            if (replacement == n->right) {
                start = replacement;
            } else {
                start = replacement->parent;
                start->left = replacement->right;
                if (replacement->right) replacement->right->parent = start;
                replacement->right = n->right;
                n->right->parent = replacement;
            }
            replacement->left = n->left;
            n->left->parent = replacement;
            replacement->height = n->height;
        } else {
            replacement = n->left;
            while (replacement->right) replacement = replacement->right;
            if (replacement == n->left) {
                start = replacement;
            } else {
                start = replacement->parent;
                start->right = replacement->left;
                if (replacement->left) replacement->left->parent = start;
                replacement->left = n->left;
                n->left->parent = replacement;
            }
            replacement->right = n->right;
            n->right->parent = replacement;
            replacement->height = n->height;
        }
        if (replacement) replacement->parent = parent;
        Replace(parent, n, replacement);
        return start;
    }

    int32_t count_ = 0;
    Node* cursor_ = &this->sentinel_;
    Node* root_ = nullptr;
    Node* first_ = &this->sentinel_;
    Node* walk_ = &this->sentinel_;
    bool sorted_;
    uint32_t walkFlags_ = 0;     // kWalkForward, kWalkMoved
    Node* walkStop_ = nullptr;  // the first visited node; null until the walk's first step
    [[no_unique_address]] Compare compare_{};
};

}  // namespace detail

// A map from K to V under Compare (a three-way comparison, negative/zero/positive). Owns its
// nodes, keys and values; pointer values are not owned unless the owner empties the map with
// DeleteAll. An absent key yields the not-found value: a default V unless SetNotFoundValue
// chose another.
template <typename K, typename V, typename Compare = ThreeWayCompare<K>>
class OrderedMap : public detail::OrderedTree<K, V, Compare> {
    using Tree = detail::OrderedTree<K, V, Compare>;

public:
    using Node = MapNode<K, V>;

    // A key bound to its map: assigning a value inserts it (where = 1), reading gives the stored
    // value or the not-found value.
    class MapEntry {
    public:
        MapEntry& operator=(const V& value) {
            map_->Insert(key_, value, 1);
            return *this;
        }
        MapEntry(const MapEntry&) = default;
        // Assigns the other entry's value, as a reference would; the binding stays.
        MapEntry& operator=(const MapEntry& other) { return *this = other.Get(); }
        const V& Get() const { return map_->ValueRef(key_); }
        operator const V&() const { return Get(); }

    private:
        friend class OrderedMap;
        MapEntry(const K& key, OrderedMap* map) : key_(key), map_(map) {}
        K key_;
        OrderedMap* map_;
    };

    // sorted: the list runs in ascending key order; otherwise in insertion order.
    explicit OrderedMap(bool sorted = false) : Tree(sorted) {}

    // Inserts a new entry and makes it the cursor: in a sorted map at its key-order place,
    // otherwise after the cursor for where == 1 and before it for any other where (becoming
    // first() when the cursor was first()). An equal key only gets its value replaced; count,
    // list, cursor and tree stay as they were. Returns the entry's node.
    Node* Insert(const K& key, const V& value, int where) {
        bool inserted;
        Node* n = this->InsertWith(key, where, [&] { return new Node{key, value}; }, inserted);
        if (!inserted) n->value = value;
        return n;
    }

    // Removes the entry (the cursor moves to the previous node if it was on it) and returns its
    // value; an absent key returns the not-found value and changes nothing.
    V Erase(const K& key) {
        Node* n = this->FindNode(key);
        if (!n) return NotFoundValue();
        this->Detach(n);
        return Free(n);
    }

    // Erases the cursor's entry and puts the cursor on the node that followed it; returns the
    // value. An empty map is left alone and gives the not-found value.
    V EraseAtCursor() {
        Node* n = this->DetachAtCursor();
        return n ? Free(n) : NotFoundValue();
    }

    // The node of key or null; value is written only when the key is found.
    Node* Find(const K& key, V& value) const {
        Node* n = this->FindNode(key);
        if (n) value = n->value;
        return n;
    }

    // The stored value, or the not-found value when the key is absent.
    const V& ValueRef(const K& key) const {
        const Node* n = this->FindNode(key);
        return n ? n->value : NotFoundValue();
    }

    // The existing node (nothing changes), or a new entry with a default V inserted with
    // where = 1.
    Node* GetOrInsert(const K& key) {
        bool inserted;
        return this->InsertWith(key, 1, [&] { return new Node{key, V{}}; }, inserted);
    }

    MapEntry Entry(const K& key) { return MapEntry(key, this); }

    const V& NotFoundValue() const { return this->sentinel_.value; }
    void SetNotFoundValue(const V& value) { this->sentinel_.value = value; }

    // As Clear, but first deletes the object behind every value.
    void DeleteAll()
        requires std::is_pointer_v<V>
    {
        this->ClearNodes([](Node* n) { delete n->value; });
    }

    // Makes this map a copy of other: entries, list order, first(), the not-found value and the
    // list mode; the cursor ends on the copy of the node before other's cursor. Clears through
    // the virtual Clear. Assigning a map to itself does nothing.
    void Assign(const OrderedMap& other) {
        if (&other == this) return;
        this->sentinel_.value = other.sentinel_.value;
        this->AssignFrom(other, [this](const Node& n) { Insert(n.key, n.value, 1); });
    }

private:
    V Free(Node* n) {
        V value = std::move(n->value);
        delete n;
        return value;
    }
};

// A set of K under Compare: the map without values. Inserting a present key changes nothing.
template <typename K, typename Compare = ThreeWayCompare<K>>
class OrderedSet : public detail::OrderedTree<K, NoValue, Compare> {
    using Tree = detail::OrderedTree<K, NoValue, Compare>;

public:
    using Node = MapNode<K, NoValue>;

    // sorted: the list runs in ascending key order; otherwise in insertion order.
    explicit OrderedSet(bool sorted = false) : Tree(sorted) {}

    // Inserts key as OrderedMap::Insert places a new entry and makes it the cursor; a present
    // key's node is returned with nothing changed.
    Node* Insert(const K& key, int where) {
        bool inserted;
        return this->InsertWith(key, where, [&] { return new Node{key}; }, inserted);
    }

    // Insert with where = 1.
    void InsertIfAbsent(const K& key) { Insert(key, 1); }

    // Removes the key if present (the cursor moves to the previous node if it was on it).
    void Erase(const K& key) {
        if (Node* n = this->FindNode(key)) {
            this->Detach(n);
            delete n;
        }
    }

    // Erases the cursor's entry and puts the cursor on the node that followed it; nothing when
    // empty.
    void EraseAtCursor() { delete this->DetachAtCursor(); }

    // As OrderedMap::Assign.
    void Assign(const OrderedSet& other) {
        if (&other == this) return;
        this->AssignFrom(other, [this](const Node& n) { Insert(n.key, 1); });
    }
};
