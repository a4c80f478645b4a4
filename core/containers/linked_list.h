// A counted circular doubly linked list with a cursor. Owners use the cursor end as a stack
// (Append + Take) or walk the ring from first() or cursor(), taking count() steps along next.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

// T must be default-constructible (the sentinel holds a default T) and copyable; element
// equality is T's operator== (a two-word element decides for itself which words count).
// Not thread-safe. No virtual table.
template <typename T>
class LinkedList {
public:
    // One heap block per element, owned by the list. Owners may read the links and edit the
    // element in place, but only the list links or unlinks nodes.
    struct Node {
        Node* next;
        Node* prev;
        T element;
    };

    LinkedList() = default;
    // The same elements in the same ring order; first() and cursor() are the copies of the
    // source's first and cursor nodes.
    LinkedList(const LinkedList& other) { CopyFrom(other); }
    // Clears this list, then copies as the copy constructor does. Self-assignment does nothing.
    LinkedList& operator=(const LinkedList& other) {
        if (this != &other) {
            Clear();
            CopyFrom(other);
        }
        return *this;
    }
    ~LinkedList() { Clear(); }

    // A new node right after the cursor; it becomes the cursor (and first() of an empty list).
    void Append(const T& element) {
        Node* node = NewNode(element);
        if (count_ == 0) {
            first_ = node;
        } else {
            LinkBetween(node, cursor_, cursor_->next);
        }
        cursor_ = node;
        ++count_;
    }

    // A new node right before the cursor; it becomes the cursor, and first() when the cursor
    // was first() or the list was empty.
    void InsertBefore(const T& element) {
        Node* node = NewNode(element);
        if (count_ == 0 || cursor_ == first_) first_ = node;
        if (count_ > 0) LinkBetween(node, cursor_->prev, cursor_);
        cursor_ = node;
        ++count_;
    }

    // Removes the cursor's element and returns it; the cursor moves to the previous node, so
    // Append and Take make the cursor end a stack. An empty list returns a default T and stays
    // as it is.
    T Take() { return Remove(false); }

    // As Take, but the cursor moves to the next node.
    T Pop() { return Remove(true); }

    // A copy of the cursor's element; a default T when the list is empty.
    T Current() const { return cursor_->element; }

    // Moves the cursor forward, starting at the cursor itself, to the first node holding an
    // element equal to `element`, at most count() nodes. When none is found the cursor has
    // gone full circle and is where it began.
    bool Seek(const T& element) {
        Node* found = Find(element);
        if (found != nullptr) cursor_ = found;
        return found != nullptr;
    }

    // The same search as Seek, leaving the cursor where it is.
    bool Contains(const T& element) const { return Find(element) != nullptr; }

    // Appends unless an equal element is already in the list; true when it appended.
    bool AddIfAbsent(const T& element) {
        if (Contains(element)) return false;
        Append(element);
        return true;
    }

    // Removes every node holding an element equal to `element` and returns how many. Each
    // node is looked at once, going round from the cursor; the cursor ends on the first
    // surviving node at or after where it was. `element` may be one of the list's own.
    int32_t RemoveAll(const T& element) {
        const T target = element;  // the argument may live in a node this loop frees
        int32_t removed = 0;
        for (int32_t i = 0; i < count_; ++i) {
            if (cursor_->element == target) {
                Take();
                ++removed;
                --i;
            }
            cursor_ = cursor_->next;
        }
        return removed;
    }

    // Destroys every element and node; afterwards the list is empty.
    void Clear() {
        Node* node = cursor_;
        for (int32_t i = 0; i < count_; ++i) {
            Node* next = node->next;
            delete node;
            node = next;
        }
        ResetToEmpty();
    }

    // For lists of owned objects: pops every element and deletes the object it points to
    // (through its virtual destructor where it has one). Null elements are skipped.
    void DeleteAll()
        requires std::is_pointer_v<T>
    {
        while (count_ > 0) delete Pop();
    }

    int32_t count() const { return count_; }
    // Counts the changes of which nodes the list holds (appends, inserts, removals, clears): a
    // caller that noted the nodes of an element under one value finds the same nodes while the
    // value stays. Moving the cursor is no change.
    uint64_t changes() const { return changes_; }
    // The cursor node; when the list is empty it is the sentinel, whose links point to itself
    // and whose element is a default T.
    Node* cursor() const { return cursor_; }
    // Where the ring begins; the sentinel when the list is empty.
    Node* first() const { return first_; }
    // For owners that position the cursor before an operation. `node` must be on the ring
    // (the sentinel only while the list is empty).
    void SetCursor(Node* node) { cursor_ = node; }

private:
    Node* NewNode(const T& element) {
        ++changes_;
        Node* node = new Node{nullptr, nullptr, element};
        node->next = node->prev = node;
        return node;
    }

    static void LinkBetween(Node* node, Node* before, Node* after) {
        node->prev = before;
        node->next = after;
        before->next = node;
        after->prev = node;
    }

    void ResetToEmpty() {
        ++changes_;
        count_ = 0;
        cursor_ = first_ = &sentinel_;
    }

    Node* Find(const T& element) const {
        Node* node = cursor_;
        for (int32_t i = 0; i < count_; ++i, node = node->next) {
            if (node->element == element) return node;
        }
        return nullptr;
    }

    // Take (cursor to the previous node) or Pop (cursor to the next node).
    T Remove(bool toNext) {
        if (count_ == 0) return sentinel_.element;
        Node* node = cursor_;
        T element = std::move(node->element);
        if (count_ == 1) {
            delete node;
            ResetToEmpty();
            return element;
        }
        ++changes_;
        node->prev->next = node->next;
        node->next->prev = node->prev;
        if (node == first_) first_ = node->next;
        cursor_ = toNext ? node->next : node->prev;
        delete node;
        --count_;
        return element;
    }

    // Appends copies of the source's elements from its cursor round the ring, then steps
    // forward once so that the cursor is the copy of the source's cursor. Expects an empty list.
    void CopyFrom(const LinkedList& other) {
        const Node* source = other.cursor_;
        for (int32_t i = 0; i < other.count_; ++i, source = source->next) {
            Append(source->element);
            if (source == other.first_) first_ = cursor_;
        }
        cursor_ = cursor_->next;
    }

    int32_t count_ = 0;
    uint64_t changes_ = 0;
    Node* cursor_ = &sentinel_;
    Node* first_ = &sentinel_;
    // Never on the ring; its element is what removing from an empty list returns.
    Node sentinel_{&sentinel_, &sentinel_, T()};
};
