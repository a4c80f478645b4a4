// Arbitrary bytes as a binary data file in memory: opened, loaded whole as the program loads
// it (flags 0), and on further readers with kept or borrowed blocks and with expansion; each
// tree is then walked (every node once, however shared or cyclic) and every node's data read
// to its size. Besides what ASan sees, a node whose data is not `size` readable bytes, or a
// child that its parent cannot find by name, aborts.

#include "core/data/data_reader.h"
#include "core/files/mem_stream.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

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
            char first = 0;
            Check(node->CopyData(&first, 1));
            Check(node->DataAsString().length() == node->GetSize());
        }
        const DataNodeMap& children = node->Children();
        const DataNodeMap::Node* entry = children.first();
        for (int32_t i = 0; i < children.count(); ++i, entry = entry->next) {
            Check(node->FindChild(entry->key) == entry->value);
            pending.push_back(entry->value);
        }
    }
    // Keeps the reads of the data from being optimised away.
    volatile uint32_t sink = sum;
    (void)sink;
}

void LoadAndWalk(const uint8_t* data, size_t size, int32_t loadFlags, int32_t expandFlags) {
    MemStream stream;
    stream.ShowData(data, int32_t(size), true);
    BinaryDataReader reader;
    DataNode* root = reader.OpenStream(&stream);
    if (root == nullptr) return;
    root->Load(loadFlags, expandFlags);
    Walk(root);
    reader.CloseDataFile();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 16)) return 0;
    // The bytes in a heap block of exactly their size, so ASan sees any read past them.
    std::vector<uint8_t> block(data, data + size);
    LoadAndWalk(block.data(), block.size(), 0, 0);
    LoadAndWalk(block.data(), block.size(), kLoadKeepBlock | kLoadExpand, kExpandBasicArrays);
    LoadAndWalk(block.data(), block.size(), kLoadKeepBlock | kLoadBorrowParent,
                kExpandBasicArrays | kExpandBorrow);
    LoadAndWalk(block.data(), block.size(), kLoadExpand, kExpandBasicArrays | kExpandBorrow);
    return 0;
}
