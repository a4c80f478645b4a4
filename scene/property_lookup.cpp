#include "scene/property_lookup.h"

#include "core/containers/linked_list.h"
#include "core/data/data_node.h"
#include "core/debug/debug_trace.h"
#include "core/object/property_node.h"

namespace {

// The compound name is matched exactly: a child "props" is an ordinary property.
const String& PropsName() {
    static const String name("Props");
    return name;
}

bool IsPropsCompound(const DataNode* n) { return TextEqualsString("Props", n->GetName()); }

// The data tree's children are keyed with regard to case; properties are looked up without.
DataNode* ChildNoCase(const DataNode* parent, const String& name) {
    const DataNodeMap& children = parent->Children();
    const DataNodeMap::Node* entry = children.first();
    for (int32_t i = 0; i < children.count(); ++i, entry = entry->next) {
        if (CompareStringsNoCase(entry->key, name) == 0) return entry->value;
    }
    return nullptr;
}

// A forged file can make the parent links of its nodes run in a circle (an entry that lists an
// ancestor's block as a plain child makes that ancestor its child). Every lookup counts its
// climbing steps against this bound, far above any real nesting (the loader cuts scene nodes
// at 256 levels, each two data levels deep), and low enough that a lookup per node of a
// forged file stays cheap.
constexpr int32_t kMaxClimbSteps = 4096;

struct ClimbBudget {
    int32_t left = kMaxClimbSteps;
    bool Step() { return --left >= 0; }
};

// From n (a scene node that owns a "Props", or a node inside one) up to the enclosing "Props"
// compound, calling onName with each name passed on the way (innermost first). Null when there
// is no enclosing compound.
template <typename OnName>
DataNode* ClimbToProps(DataNode* n, ClimbBudget& budget, OnName onName) {
    while (n != nullptr && !IsPropsCompound(n)) {
        if (!budget.Step()) return nullptr;
        onName(n->GetName());
        n = n->GetParent();
    }
    return n;
}

// The nearest ancestor of the compound's owner that has a "Props" of its own, or null.
DataNode* NextOwnerWithProps(DataNode* props, ClimbBudget& budget) {
    DataNode* owner = props->GetParent();
    if (owner == nullptr) return nullptr;
    for (DataNode* n = owner->GetParent(); n != nullptr; n = n->GetParent()) {
        if (!budget.Step()) return nullptr;
        if (n->FindChild(PropsName()) != nullptr) return n;
    }
    return nullptr;
}

// The nodes of a scene file nest at most this deep in the loader; the property compounds get
// the same bound, so that a forged file cannot exhaust the stack through the copy's recursion
// (or the property tree's recursive destruction). Shared blocks can also make a small file a
// tree of exponential size: one copy makes at most kMaxCopiedEntries entries.
constexpr int kMaxCopyDepth = 256;
constexpr int32_t kMaxCopiedEntries = 1 << 16;
// Entries a lookup's own copy may look at, present or not: a forged file can name one large
// list in every compound of a long chain.
constexpr int64_t kMaxCopyVisits = 1 << 20;

// What one copy may still do: entries it may make, and entries it may look at (made or passed
// over because the name is present). The second bound is the caller's, so that it can span all
// the copies of a file.
struct CopyBudget {
    int32_t entriesLeft = kMaxCopiedEntries;
    int64_t* visitsLeft = nullptr;
};

void CopyLevel(const DataNode* data, PropertyNode& props, int depth, CopyBudget& budget) {
    const DataNodeMap& children = data->Children();
    const DataNodeMap::Node* entry = children.first();
    for (int32_t i = 0; i < children.count(); ++i, entry = entry->next) {
        const DataNode* c = entry->value;
        // Each bound is told once, when it runs out.
        if (*budget.visitsLeft < 0 || budget.entriesLeft < 0) return;
        if (--*budget.visitsLeft < 0) {
            DebugTrace("Property lists too large, cut\n");
            return;
        }
        if (props.Child(entry->key) != nullptr) continue;
        if (--budget.entriesLeft < 0) {
            DebugTrace("Property list too large, cut\n");
            return;
        }
        if (props.count() > 0) props.SetCursor(props.first()->prev);  // keep file order
        if (c->Children().count() > 0) {
            if (depth >= kMaxCopyDepth) {
                DebugTrace("Property list nested too deep, cut\n");
                continue;
            }
            auto* sub = new PropertyNode;
            props.Insert(entry->key, sub, 1);
            CopyLevel(c, *sub, depth + 1, budget);
        } else {
            props.SetChildString(entry->key, c->DataAsString());
        }
    }
}

}  // namespace

DataNode* FindProperty(DataNode* node, const String& name, bool inherit) {
    if (node == nullptr) return nullptr;
    LinkedList<String> path;
    path.Append(name);
    ClimbBudget budget;
    DataNode* n = node;
    for (;;) {
        if (DataNode* props = n->FindChild(PropsName())) n = props;
        DataNode* r = n;
        const LinkedList<String>::Node* step = path.first();
        for (int32_t i = 0; i < path.count() && r != nullptr; ++i, step = step->next) {
            r = ChildNoCase(r, step->element);
        }
        if (r != nullptr) return r;
        if (!inherit) return nullptr;
        // The names between n and its compound make the path relative to that compound.
        n = ClimbToProps(n, budget, [&path](const String& passed) {
            path.SetCursor(path.first());
            path.InsertBefore(passed);
        });
        if (n == nullptr) return nullptr;
        n = NextOwnerWithProps(n, budget);
        if (n == nullptr) return nullptr;
    }
}

bool FindPropertyText(DataNode* node, const String& name, String& out, bool inherit) {
    const DataNode* found = FindProperty(node, name, inherit);
    if (found == nullptr) return false;
    out = found->DataAsString();
    return true;
}

bool FindPropertyWords(DataNode* node, const String& name, PropertyWordSet& words, bool inherit) {
    const DataNode* found = FindProperty(node, name, inherit);
    if (found == nullptr) return false;
    auto add = [&words](const String& word) {
        if (words.FindNode(word) != nullptr) return;
        if (words.count() > 0) words.SetCursor(words.first()->prev);  // insertion order
        words.Insert(word, true, 1);
    };
    const DataNodeMap& children = found->Children();
    if (children.count() > 0) {
        const DataNodeMap::Node* entry = children.first();
        for (int32_t i = 0; i < children.count(); ++i, entry = entry->next) {
            if (entry->value->Children().count() == 0) add(entry->value->DataAsString());
        }
    } else {
        add(found->DataAsString());
    }
    words.WalkBegin();
    return true;
}

bool CopyPropertyTree(const DataNode* data, PropertyNode& props) {
    int64_t visits = kMaxCopyVisits;
    CopyBudget budget;
    budget.visitsLeft = &visits;
    if (data != nullptr) CopyLevel(data, props, 1, budget);
    return true;
}

void LoadNodeProperties(DataNode* node, PropertyNode& props, bool inherit) {
    DataNode* n = node;
    ClimbBudget climb;
    int64_t visits = kMaxCopyVisits;
    CopyBudget budget;
    budget.visitsLeft = &visits;
    while (n != nullptr) {
        if (DataNode* own = n->FindChild(PropsName())) {
            n = own;
            CopyLevel(n, props, 1, budget);
        }
        if (!inherit) return;
        n = ClimbToProps(n, climb, [](const String&) {});
        if (n == nullptr) return;
        n = NextOwnerWithProps(n, climb);
    }
}

const DataNode* FindPropsCompound(const DataNode* node) {
    return node != nullptr ? node->FindChild(PropsName()) : nullptr;
}

bool PropsChainHolds(const PropsChain* chain, const DataNode* props) {
    for (; chain != nullptr; chain = chain->next) {
        if (chain->props == props) return true;
    }
    return false;
}

void CopyChainedProperties(const DataNode* own, const PropsChain* inherited, PropertyNode& props,
                           int64_t& visitsLeft) {
    if (visitsLeft < 0) return;
    CopyBudget budget;
    budget.visitsLeft = &visitsLeft;
    if (own != nullptr) CopyLevel(own, props, 1, budget);
    for (const PropsChain* link = inherited; link != nullptr && visitsLeft >= 0; link = link->next) {
        if (link->props != own) CopyLevel(link->props, props, 1, budget);
    }
}
