// The script value tree: what both dialects of the configuration language fill and what font,
// texture, window and settings code read. Each node has a name, a kind, a text value and named
// children kept in insertion order; names compare without regard to case.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/text/string.h"

#include <cstdint>

class ScriptNode : public OrderedMap<String, ScriptNode*, StringCompareNoCase> {
public:
    static constexpr int32_t kText = 0;
    static constexpr int32_t kObject = 1;
    static constexpr int32_t kArray = 2;

    ScriptNode() = default;
    ScriptNode(const ScriptNode&) = delete;
    ScriptNode& operator=(const ScriptNode&) = delete;
    // Deletes every node below this one. The walk keeps its own work list, so a tree a
    // million levels deep is freed without a million stack frames.
    ~ScriptNode() override;

    // Clear (inherited from the map) only unlinks the children without deleting them; this
    // deletes them, as destroying the node does. kind, nextIndex, name and value stay.
    void DeleteChildren();

    // The child of that name (without regard to case), or null.
    ScriptNode* Child(const char* childName) const;
    // Appends `child` (owned from now on) after the other children under `childName`, which
    // must not name a present child.
    void AddChild(const String& childName, ScriptNode* child);

    // A copy of value.
    String AsString() const { return value; }
    // value through String::ToInt: 0 unless the whole text is a number ("12px" gives 0).
    int32_t AsInt() const;
    // value through String::ToDouble: the leading number ("12px" gives 12), 0 when none.
    double AsDouble() const;

    // Makes this node a deep copy of `other`: its children (each with its own children), kind,
    // nextIndex and value; the own name stays. The copy is taken from other as it stands
    // before anything changes, so other may be this node's ancestor or descendant (copying a
    // node into itself changes nothing). Iterative, like the destructor.
    void Assign(const ScriptNode& other);

    int32_t kind = kText;   // kText, kObject or kArray
    int32_t nextIndex = 0;  // where the search for the next automatic child name starts
    String name;            // the key under which the parent holds this node; empty at a root
    String value;           // the text value
};
