#include "core/files/text_rope.h"

#include <cstring>
#include <utility>

namespace {

// An owned copy of `count` bytes of `text` from `from`.
String Slice(const String& text, int32_t from, int32_t count) {
    if (count <= 0) return String();
    return String(text.data() + from, count, true);
}

int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }

}  // namespace

TextRope::~TextRope() { Clear(); }

void TextRope::Clear() {
    DeleteTree(root_);
    root_ = nullptr;
    firstLeaf_ = nullptr;
    leafCount_ = 0;
}

void TextRope::DeleteTree(Node* node) {
    if (node == nullptr) return;
    DeleteTree(node->left);
    DeleteTree(node->right);
    delete node;
}

void TextRope::Reset(const char* bytes, int32_t length) {
    Clear();
    Insert(bytes, length, 0);
}

TextRope::Node* TextRope::Locate(int32_t index, int32_t* offset) const {
    Node* node = root_;
    while (!node->IsLeaf()) {
        if (index < node->left->bytes) {
            node = node->left;
        } else {
            index -= node->left->bytes;
            node = node->right;
        }
    }
    *offset = index;
    return node;
}

void TextRope::Insert(const char* bytes, int32_t length, int32_t position) {
    if (bytes == nullptr || length <= 0) return;
    Node* leaf = nullptr;
    int32_t offset = 0;
    if (root_ == nullptr) {
        leaf = AddLeafAfter(nullptr, String());
    } else {
        if (position < -1) position = position + size() > 0 ? position + size() : 0;
        if (position == -1 || position >= size()) {
            leaf = firstLeaf_->prevLeaf;
            offset = leaf->text.length();
        } else {
            leaf = Locate(position, &offset);
        }
    }
    // The leaf after which nothing may be merged: the ring wraps from the last leaf.
    Node* following = leaf->nextLeaf != firstLeaf_ ? leaf->nextLeaf : nullptr;

    const String kept = Slice(leaf->text, 0, offset);
    const String data = ConcatStrings(String(bytes, length, true),
                                      Slice(leaf->text, offset, leaf->text.length() - offset));
    const int32_t intoLeaf = Min(kBlockSize - kept.length(), data.length());
    SetLeafText(leaf, ConcatStrings(kept, Slice(data, 0, intoLeaf)));

    Node* last = leaf;
    int32_t done = intoLeaf;
    while (done < data.length()) {
        const int32_t remaining = data.length() - done;
        const int32_t chunk = Min(kBlockSize, remaining);
        if (chunk == remaining && following != nullptr &&
            remaining + following->text.length() <= kBlockSize) {
            SetLeafText(following, ConcatStrings(Slice(data, done, remaining), following->text));
            break;
        }
        last = AddLeafAfter(last, Slice(data, done, chunk));
        done += chunk;
    }
}

void TextRope::EraseRange(int32_t first, int32_t last) {
    const int32_t total = size();
    if (first < 0) first += total;
    if (first < 0 || first >= total) return;
    if (last < 0) last += total;
    if (last >= total) last = total - 1;
    if (last < first) return;

    int32_t firstOffset = 0;
    int32_t lastOffset = 0;
    Node* firstLeaf = Locate(first, &firstOffset);
    Node* lastLeaf = Locate(last, &lastOffset);
    if (firstLeaf == lastLeaf) {
        String rest = ConcatStrings(Slice(firstLeaf->text, 0, firstOffset),
                                    Slice(firstLeaf->text, lastOffset + 1,
                                          firstLeaf->text.length() - lastOffset - 1));
        if (rest.length() == 0) {
            RemoveLeaf(firstLeaf);
        } else {
            SetLeafText(firstLeaf, std::move(rest));
        }
        return;
    }
    for (Node* node = firstLeaf->nextLeaf; node != lastLeaf;) {
        Node* next = node->nextLeaf;
        RemoveLeaf(node);
        node = next;
    }
    String tail = Slice(lastLeaf->text, lastOffset + 1, lastLeaf->text.length() - lastOffset - 1);
    if (tail.length() == 0) {
        RemoveLeaf(lastLeaf);
    } else {
        SetLeafText(lastLeaf, std::move(tail));
    }
    if (firstOffset == 0) {
        RemoveLeaf(firstLeaf);
    } else {
        SetLeafText(firstLeaf, Slice(firstLeaf->text, 0, firstOffset));
    }
}

void TextRope::CopyRange(int32_t first, int32_t last, String& out) const {
    const int32_t total = size();
    out.Clear();
    out = String();
    if (first < 0) first += total;
    if (first < 0 || first >= total) return;
    if (last < 0) last += total;
    if (last >= total) last = total - 1;
    if (last < first) return;
    const int32_t count = last - first + 1;
    char* block = new char[count + 1];
    CopyBytes(first, count, block);
    block[count] = '\0';
    out = String(block, count, false);
}

void TextRope::CopyBytes(int32_t first, int32_t n, char* buffer) const {
    if (n <= 0) return;
    int32_t offset = 0;
    const Node* leaf = Locate(first, &offset);
    while (n > 0) {
        const int32_t take = Min(n, leaf->text.length() - offset);
        std::memcpy(buffer, leaf->text.data() + offset, static_cast<size_t>(take));
        buffer += take;
        n -= take;
        leaf = leaf->nextLeaf;
        offset = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Tree upkeep. Adding a leaf splits its neighbour's place into an inner node with two leaves
// (two nodes more); removing one lets its sibling take its parent's place (two nodes fewer).

TextRope::Node* TextRope::AddLeafAfter(Node* leaf, String text) {
    Node* added = new Node;
    added->text = std::move(text);
    Recount(added);
    ++leafCount_;
    if (leaf == nullptr) {
        root_ = firstLeaf_ = added;
        added->prevLeaf = added->nextLeaf = added;
        return added;
    }
    added->prevLeaf = leaf;
    added->nextLeaf = leaf->nextLeaf;
    leaf->nextLeaf->prevLeaf = added;
    leaf->nextLeaf = added;

    Node* inner = new Node;
    Replace(leaf, inner);
    inner->left = leaf;
    inner->right = added;
    leaf->parent = inner;
    added->parent = inner;
    UpdatePath(inner);
    return added;
}

void TextRope::RemoveLeaf(Node* leaf) {
    --leafCount_;
    if (leafCount_ == 0) {
        delete leaf;
        root_ = firstLeaf_ = nullptr;
        return;
    }
    leaf->prevLeaf->nextLeaf = leaf->nextLeaf;
    leaf->nextLeaf->prevLeaf = leaf->prevLeaf;
    if (firstLeaf_ == leaf) firstLeaf_ = leaf->nextLeaf;

    Node* parent = leaf->parent;
    Node* sibling = parent->left == leaf ? parent->right : parent->left;
    Replace(parent, sibling);
    delete parent;
    delete leaf;
    UpdatePath(sibling->parent);
}

void TextRope::SetLeafText(Node* leaf, String text) {
    leaf->text = std::move(text);
    UpdatePath(leaf);
}

void TextRope::Recount(Node* node) {
    if (node->IsLeaf()) {
        node->bytes = node->text.length();
        node->nodes = 1;
    } else {
        node->bytes = node->left->bytes + node->right->bytes;
        node->nodes = node->left->nodes + node->right->nodes + 1;
    }
}

void TextRope::UpdatePath(Node* node) {
    while (node != nullptr) {
        Recount(node);
        // A rotation moves `node` below a new top of its subtree; go on above that top.
        node = Rebalance(node)->parent;
    }
}

// A node whose subtrees' node counts differ by 3 or more is rotated toward the smaller side.
// When the heavy child's inner grandchild is the bigger one, that child is rotated first, so
// that the rotation moves the weight across instead of just mirroring the shape.
TextRope::Node* TextRope::Rebalance(Node* node) {
    if (node->IsLeaf()) return node;
    const int32_t difference = node->left->nodes - node->right->nodes;
    if (difference >= 3) {
        Node* heavy = node->left;
        if (heavy->right->nodes > heavy->left->nodes) RotateLeft(heavy);
        RotateRight(node);
        return node->parent;
    } else if (difference <= -3) {
        Node* heavy = node->right;
        if (heavy->left->nodes > heavy->right->nodes) RotateRight(heavy);
        RotateLeft(node);
        return node->parent;
    }
    return node;
}

void TextRope::RotateRight(Node* node) {
    Node* top = node->left;
    node->left = top->right;
    node->left->parent = node;
    Replace(node, top);
    top->right = node;
    node->parent = top;
    Recount(node);
    Recount(top);
}

void TextRope::RotateLeft(Node* node) {
    Node* top = node->right;
    node->right = top->left;
    node->right->parent = node;
    Replace(node, top);
    top->left = node;
    node->parent = top;
    Recount(node);
    Recount(top);
}

void TextRope::Replace(Node* old, Node* replacement) {
    Node* parent = old->parent;
    replacement->parent = parent;
    if (parent == nullptr) {
        root_ = replacement;
    } else if (parent->left == old) {
        parent->left = replacement;
    } else {
        parent->right = replacement;
    }
}

// ---------------------------------------------------------------------------------------------
// Checks for tests

namespace {

template <typename NodeT>
int32_t DepthOf(const NodeT* node) {
    if (node == nullptr) return 0;
    const int32_t left = DepthOf(node->left);
    const int32_t right = DepthOf(node->right);
    return 1 + (left > right ? left : right);
}

}  // namespace

int32_t TextRope::Depth() const { return DepthOf(root_); }

bool TextRope::CheckStructure() const {
    if (root_ == nullptr) return firstLeaf_ == nullptr && leafCount_ == 0;
    if (root_->parent != nullptr) return false;
    // Walk the tree in order with an explicit stack and compare with the leaf ring.
    const Node* expected = firstLeaf_;
    int32_t leaves = 0;
    bool ok = true;
    struct Checker {
        const Node*& expected;
        int32_t& leaves;
        bool& ok;
        void Visit(const Node* node) {
            if (!ok) return;
            if (node->IsLeaf()) {
                ok = node->right == nullptr && node == expected && node->bytes == node->text.length() &&
                     node->nodes == 1 && node->text.length() > 0 &&
                     node->text.length() <= kBlockSize && node->nextLeaf->prevLeaf == node;
                expected = node->nextLeaf;
                ++leaves;
                return;
            }
            ok = node->right != nullptr && node->left->parent == node && node->right->parent == node &&
                 node->bytes == node->left->bytes + node->right->bytes &&
                 node->nodes == node->left->nodes + node->right->nodes + 1;
            Visit(node->left);
            Visit(node->right);
        }
    };
    Checker{expected, leaves, ok}.Visit(root_);
    return ok && expected == firstLeaf_ && leaves == leafCount_;
}
