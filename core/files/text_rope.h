// TextRope: a long, growing text kept as blocks of at most kBlockSize bytes in the leaves of a
// balanced binary tree, so that writes into the middle of a big memory stream copy one block
// instead of the whole text. The leaves are also linked in order in a ring.
#pragma once

#include "core/text/string.h"

#include <cstdint>

class TextRope {
public:
    static constexpr int32_t kBlockSize = 16384;

    TextRope() = default;
    TextRope(const TextRope&) = delete;
    TextRope& operator=(const TextRope&) = delete;
    ~TextRope();

    // Inserts a copy of `length` bytes before byte `position`. -1 (or any position at or past
    // the end) appends; other negative positions count from the end as byte indices do
    // (-2 inserts before byte size() - 2), clamped to the start.
    void Insert(const char* bytes, int32_t length, int32_t position);
    void Insert(const String& text, int32_t position) { Insert(text.data(), text.length(), position); }
    // Removes bytes first..last inclusive. Negative values count from the end (-1 is the last
    // byte); last is clamped to the last byte. Nothing happens when first is at or past the end
    // or when last < first.
    void EraseRange(int32_t first, int32_t last);
    // `out` becomes an owned copy of bytes first..last inclusive (same index rules as
    // EraseRange); an invalid range gives "".
    void CopyRange(int32_t first, int32_t last, String& out) const;
    // Copies bytes first..first + n - 1 into `buffer`; the range must lie inside the rope.
    void CopyBytes(int32_t first, int32_t n, char* buffer) const;
    // Removes every leaf, then inserts the bytes at 0.
    void Reset(const char* bytes, int32_t length);
    void Clear();

    int32_t size() const { return root_ != nullptr ? root_->bytes : 0; }
    int32_t leafCount() const { return leafCount_; }
    // The longest path from the root to a leaf, counting the leaf (0 for an empty rope). For
    // tests of the balancing.
    int32_t Depth() const;
    // Whether the tree's totals, the leaf ring and the block limit agree. For tests.
    bool CheckStructure() const;

private:
    struct Node {
        Node* parent = nullptr;
        Node* left = nullptr;   // both null for a leaf
        Node* right = nullptr;
        int32_t bytes = 0;      // byte total of the subtree
        int32_t nodes = 1;      // node count of the subtree
        String text;            // leaves only
        Node* prevLeaf = nullptr;  // leaf ring, leaves only
        Node* nextLeaf = nullptr;
        bool IsLeaf() const { return left == nullptr; }
    };

    // The leaf holding byte `index` (0 <= index < size()) and the offset in it.
    Node* Locate(int32_t index, int32_t* offset) const;
    // A new leaf holding `text`, placed right after `leaf` in order (or as the root when the
    // rope is empty).
    Node* AddLeafAfter(Node* leaf, String text);
    void RemoveLeaf(Node* leaf);
    // Sets a leaf's text and brings the byte totals up to date to the root.
    void SetLeafText(Node* leaf, String text);
    // Recomputes totals from `node` to the root, rebalancing each node on the way.
    void UpdatePath(Node* node);
    // Rotates `node` when its subtrees are out of balance; answers the subtree's top.
    Node* Rebalance(Node* node);
    void RotateLeft(Node* node);
    void RotateRight(Node* node);
    void Replace(Node* old, Node* replacement);
    static void Recount(Node* node);
    static void DeleteTree(Node* node);

    Node* root_ = nullptr;
    Node* firstLeaf_ = nullptr;
    int32_t leafCount_ = 0;
};
