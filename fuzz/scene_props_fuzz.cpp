// Arbitrary bytes as a scene file: loaded as the program loads it (flags 0), then every node
// (each once, however shared or cyclic the tree, at most 4,000) gets its properties looked up
// and copied with inheritance, as the scene loader does for each scene node.

#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/mem_stream.h"
#include "core/object/property_node.h"
#include "scene/property_lookup.h"

#include <cstdint>
#include <set>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemStream stream;
    stream.ShowData(reinterpret_cast<const char*>(data), int32_t(size), true);
    stream.Open(String(), 1);
    BinaryDataReader reader;
    DataNode* root = reader.OpenStream(&stream);
    if (root == nullptr) return 0;
    root->Load(0, 0);
    std::set<DataNode*> seen;
    std::vector<DataNode*> pending{root};
    while (!pending.empty() && seen.size() < 4000) {
        DataNode* node = pending.back();
        pending.pop_back();
        if (!seen.insert(node).second) continue;
        PropertyNode props;
        LoadNodeProperties(node, props, true);
        String text;
        FindPropertyText(node, "Lit", text, true);
        PropertyWordSet words;
        FindPropertyWords(node, "AlphaUse", words, true);
        const DataNodeMap& children = node->Children();
        const DataNodeMap::Node* entry = children.first();
        for (int32_t i = 0; i < children.count(); ++i, entry = entry->next) pending.push_back(entry->value);
    }
    return 0;
}
