// Shared body of the two script-dialect fuzzers: arbitrary bytes are parsed into a tree that
// already holds a few nodes, so that statements reassign and copy existing ones. One parse per
// input: a parse may make up to a million nodes by reference copies, and more would crowd the
// fuzzer's memory limit. Besides what ASan sees, a node whose name differs from the key its
// parent holds it under, or a kind outside text/object/array, aborts.
#pragma once

#include "core/files/mem_stream.h"
#include "core/script/script_node.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

class SearchPaths;
class Stream;

namespace script_fuzz {

using ParseFunction = bool (*)(Stream*, ScriptNode*, SearchPaths*);

inline void Check(bool ok) {
    if (!ok) std::abort();
}

inline void CheckTree(const ScriptNode& root) {
    std::vector<const ScriptNode*> work{&root};
    while (!work.empty()) {
        const ScriptNode* node = work.back();
        work.pop_back();
        Check(node->kind >= ScriptNode::kText && node->kind <= ScriptNode::kArray);
        node->AsInt();
        node->AsDouble();
        const ScriptNode::Node* entry = node->first();
        for (int32_t i = 0; i < node->count(); ++i, entry = entry->next) {
            Check(CompareStrings(entry->key, entry->value->name) == 0);
            work.push_back(entry->value);
        }
    }
}

// Parses `size` bytes at `text` into root through a memory stream.
inline void Parse(ParseFunction parse, const char* text, size_t size, ScriptNode* root) {
    MemStream stream;
    stream.Open(String(), 1);
    stream.ShowData(text, static_cast<int32_t>(size), true);
    parse(&stream, root, nullptr);
}

// One fuzz input: the start tree (in the same dialect), then the input, then the checks.
inline int RunOne(ParseFunction parse, const char* startTree, const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    // An exact heap copy, so ASan sees any read past the text.
    std::unique_ptr<char[]> bytes(new char[size == 0 ? 1 : size]);
    if (size > 0) std::memcpy(bytes.get(), data, size);
    ScriptNode root;
    Parse(parse, startTree, std::strlen(startTree), &root);
    Parse(parse, bytes.get(), size, &root);
    CheckTree(root);
    return 0;
}

}  // namespace script_fuzz
