// Binary data files loaded in stages, as the scene loader does: the root alone first
// (kLoadNoChildren), then its children and grandchildren one by one with flags of their own
// (kLoadFromParent, kLoadBorrowParent, kLoadKeepBlock, ...), then the whole tree once more;
// then the same reader opens the file a second time and loads it again, while the first tree
// must stay readable.
//
// Input: a first byte (0x80: the rest is a file as it is; else a tree for our writer,
// tools/zwfwrite, with a root size 4 bytes too large when 0x40 is set), four plan bytes, then
// the file or the tree:
//   plan 0   the root's first load: kLoadNoChildren plus these bits of 0x58 (expand, whole
//            block, keep block)
//   plan 1   each child's load flags (every DataLoadFlag bit may be set)
//   plan 2   each grandchild's load flags
//   plan 3   0x07 expansion flags, 0x08 a last load of the whole tree (flags 0, keep block,
//            keep and borrow, or whole block by bits 0x60), 0x10 a second open on the same
//            reader, 0x80 children in reverse order
//   tree     op bytes: 0x00-0x3F a leaf of that many bytes (which follow), 0x40-0x7F an "int"
//            array leaf of (op & 15) values (4 bytes each follow), 0x80-0xBF opens a compound,
//            0xC0-0xDF closes it, 0xE0-0xFF a link to an earlier leaf (index byte follows)
//
// Besides what ASan and UBSan see, a node whose data is not `size` readable bytes, or a child
// its parent cannot find by name, aborts. For a file our writer made, read without expansion,
// the tree after the last load (and after the second open) must equal a plain load of the file
// on a fresh reader: the same children by name and order and the same leaf bytes.

#include "core/data/data_reader.h"
#include "core/files/mem_stream.h"
#include "fuzz/fuzz_input.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using fuzz_input::Check;

constexpr int32_t kAllLoadFlags = kLoadNoChildren | kLoadOneLevel | kLoadExpand |
                                  kLoadWholeBlock | kLoadFromParent | kLoadKeepBlock |
                                  kLoadBorrowParent;

void Walk(DataNode* root) {
    std::set<const DataNode*> seen;
    std::vector<const DataNode*> pending{root};
    uint32_t sum = 0;
    while (!pending.empty()) {
        const DataNode* node = pending.back();
        pending.pop_back();
        if (!seen.insert(node).second) continue;
        if (node->GetData() != nullptr) {
            Check(node->GetSize() >= 0);
            for (int32_t i = 0; i < node->GetSize(); ++i) sum += uint8_t(node->GetData()[i]);
            Check(node->DataAsString().length() == node->GetSize());
        }
        const DataNodeMap& children = node->Children();
        const DataNodeMap::Node* entry = children.first();
        for (int32_t i = 0; i < children.count(); ++i, entry = entry->next) {
            Check(node->FindChild(entry->key) == entry->value);
            pending.push_back(entry->value);
        }
    }
    volatile uint32_t sink = sum;
    (void)sink;
}

std::vector<DataNode*> ChildrenOf(const DataNode* node, bool reverse) {
    std::vector<DataNode*> out;
    const DataNodeMap& children = node->Children();
    const DataNodeMap::Node* entry = children.first();
    for (int32_t i = 0; i < children.count() && i < 64; ++i, entry = entry->next) {
        out.push_back(entry->value);
    }
    if (reverse) std::vector<DataNode*>(out.rbegin(), out.rend()).swap(out);
    return out;
}

// The same shape, names and leaf bytes below both nodes (compound blocks a node may keep are
// not compared: a plain load keeps none).
void CheckSame(const DataNode* a, const DataNode* b,
               std::set<std::pair<const DataNode*, const DataNode*>>& seen) {
    if (!seen.insert({a, b}).second) return;
    Check(CompareStrings(a->GetName(), b->GetName()) == 0);
    Check((a->GetFlags() & kDataNodeCompound) == (b->GetFlags() & kDataNodeCompound));
    if ((a->GetFlags() & kDataNodeCompound) == 0) {
        Check((a->GetData() == nullptr) == (b->GetData() == nullptr));
        Check(a->GetSize() == b->GetSize());
        if (a->GetData() != nullptr && a->GetSize() > 0) {
            Check(std::memcmp(a->GetData(), b->GetData(), size_t(a->GetSize())) == 0);
        }
    }
    const DataNodeMap& ca = a->Children();
    const DataNodeMap& cb = b->Children();
    Check(ca.count() == cb.count());
    const DataNodeMap::Node* ea = ca.first();
    const DataNodeMap::Node* eb = cb.first();
    for (int32_t i = 0; i < ca.count(); ++i, ea = ea->next, eb = eb->next) {
        Check(CompareStrings(ea->key, eb->key) == 0);
        CheckSame(ea->value, eb->value, seen);
    }
}

// Builds a tree from the op bytes; names are unique over the whole tree, so that a link,
// named after its target, never meets a sibling of the same name.
std::vector<uint8_t> BuildFile(fuzz_input::Reader& in, bool slack) {
    namespace zwf = rh::zwf;
    struct Leaf {
        zwf::Node node;
        int parent;  // the index of the compound that holds it
    };
    std::vector<zwf::Node> stack{zwf::Node::Compound("_root")};
    std::vector<int> stackIds{0};
    std::vector<Leaf> leaves;
    int nextName = 0;
    int nextCompound = 1;
    auto name = [&]() { return "n" + std::to_string(nextName++); };
    for (int ops = 0; ops < 256 && !in.Done(); ++ops) {
        const uint8_t op = in.Byte();
        if (op < 0x40) {
            const std::string bytes = in.Bytes(op);
            zwf::Node leaf = zwf::Node::Leaf(name(), "", zwf::Bytes(bytes.begin(), bytes.end()));
            leaves.push_back({leaf, stackIds.back()});
            stack.back().AddChild(std::move(leaf));
        } else if (op < 0x80) {
            std::vector<int32_t> values;
            for (int i = 0; i < (op & 15); ++i) values.push_back(int32_t(in.Number(4)));
            zwf::Node leaf = zwf::Node::Ints(name(), values);
            leaves.push_back({leaf, stackIds.back()});
            stack.back().AddChild(std::move(leaf));
        } else if (op < 0xC0) {
            if (stack.size() >= 32) continue;
            stack.push_back(zwf::Node::Compound(name()));
            stackIds.push_back(nextCompound++);
        } else if (op < 0xE0) {
            if (stack.size() == 1) continue;
            zwf::Node done = std::move(stack.back());
            stack.pop_back();
            stackIds.pop_back();
            stack.back().AddChild(std::move(done));
        } else {
            const uint8_t index = in.Byte();
            if (leaves.empty()) continue;
            const Leaf& target = leaves[index % leaves.size()];
            if (target.parent == stackIds.back()) continue;
            stack.back().AddChild(zwf::Node::Link(target.node));
        }
    }
    while (stack.size() > 1) {
        zwf::Node done = std::move(stack.back());
        stack.pop_back();
        stack.back().AddChild(std::move(done));
    }
    zwf::WriteOptions options;
    options.rootSizeSlack = slack ? 4 : 0;
    try {
        return zwf::Write(stack.back(), {}, options);
    } catch (const zwf::WriteError&) {
        return {};
    }
}

// The plan's loads on one reader; answers whether the whole tree was loaded at the end.
bool LoadInStages(DataNode* root, const uint8_t plan[4]) {
    const int32_t expand = plan[3] & 7;
    root->Load(kLoadNoChildren | (plan[0] & (kLoadExpand | kLoadWholeBlock | kLoadKeepBlock)),
               expand);
    const bool reverse = (plan[3] & 0x80) != 0;
    for (DataNode* child : ChildrenOf(root, reverse)) {
        child->Load(plan[1] & kAllLoadFlags, expand);
        for (DataNode* grandchild : ChildrenOf(child, reverse)) {
            grandchild->Load(plan[2] & kAllLoadFlags, expand);
        }
    }
    if ((plan[3] & 8) == 0) return false;
    static const int32_t kLast[] = {0, kLoadKeepBlock, kLoadKeepBlock | kLoadBorrowParent,
                                    kLoadWholeBlock};
    root->Load(kLast[(plan[3] >> 5) & 3], expand);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 16)) return 0;
    fuzz_input::Reader in(data, size);
    const uint8_t mode = in.Byte();
    uint8_t plan[4];
    for (uint8_t& p : plan) p = in.Byte();

    std::vector<uint8_t> file;
    const bool built = (mode & 0x80) == 0;
    if (built) {
        file = BuildFile(in, (mode & 0x40) != 0);
        if (file.empty()) return 0;
    } else {
        const std::string rest = in.Rest();
        file.assign(rest.begin(), rest.end());
    }
    // The bytes in a heap block of exactly their size, so ASan sees any read past them.
    auto block = fuzz_input::ExactCopy(file.data(), file.size());

    MemStream stream;
    stream.ShowData(block.get(), int32_t(file.size()), true);
    BinaryDataReader reader;
    DataNode* root = reader.OpenStream(&stream);
    if (built) Check(root != nullptr);
    if (root == nullptr) return 0;
    const bool whole = LoadInStages(root, plan);
    Walk(root);

    // Without expansion a file our writer made reads the same whichever way it is loaded.
    const bool expands = ((plan[0] | plan[1] | plan[2]) & kLoadExpand) != 0;
    MemStream plainStream;
    BinaryDataReader plainReader;
    DataNode* plain = nullptr;
    if (built && whole && !expands) {
        plainStream.ShowData(block.get(), int32_t(file.size()), true);
        plain = plainReader.OpenStream(&plainStream);
        Check(plain != nullptr && plain->Load(0, 0));
        std::set<std::pair<const DataNode*, const DataNode*>> seen;
        CheckSame(root, plain, seen);
    }

    MemStream again;  // outlives the reader's use of it
    if (plan[3] & 0x10) {
        // The same reader again, on a stream of its own: the first tree stays readable.
        again.ShowData(block.get(), int32_t(file.size()), true);
        DataNode* second = reader.OpenStream(&again);
        if (built) Check(second != nullptr);
        if (second != nullptr) {
            second->Load(plan[1] & kAllLoadFlags & ~(kLoadNoChildren | kLoadOneLevel),
                         plan[3] & 7);
            Walk(second);
            if (plain != nullptr && (plan[1] & kLoadExpand) == 0) {
                std::set<std::pair<const DataNode*, const DataNode*>> seen;
                CheckSame(second, plain, seen);
            }
        }
        Walk(root);
    }
    reader.CloseDataFile();
    return 0;
}
