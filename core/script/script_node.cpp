#include "core/script/script_node.h"

#include "core/script/script_local.h"

namespace script_detail {

void TakeChildren(ScriptNode* node, NodeStack& out) {
    if (node->count() == 0) return;
    const ScriptNode::Node* entry = node->first();
    for (int32_t i = 0; i < node->count(); ++i) {
        out.Push(entry->value);
        entry = entry->next;
    }
    node->Clear();
}

void FreeNodes(NodeStack& nodes, ScriptNode** watch) {
    while (!nodes.Empty()) {
        ScriptNode* node = nodes.Pop();
        TakeChildren(node, nodes);
        if (watch != nullptr && *watch == node) *watch = nullptr;
        delete node;  // childless now, so its destructor does not walk
    }
}

CopyCost MeasureCopy(const ScriptNode* node, int64_t nodeLimit, int64_t byteLimit) {
    // A copied node's own memory besides its texts: the node and its entry in the parent's map.
    constexpr int64_t kNodeBytes = sizeof(ScriptNode) + sizeof(ScriptNode::Node);
    CopyCost cost;
    cost.bytes = node->value.length();  // the target takes the value; the target itself exists
    PtrStack<const ScriptNode> work;
    work.Push(node);
    while (!work.Empty() && cost.nodes <= nodeLimit && cost.bytes <= byteLimit) {
        const ScriptNode* n = work.Pop();
        const ScriptNode::Node* entry = n->first();
        for (int32_t i = 0; i < n->count(); ++i) {
            const ScriptNode* child = entry->value;
            ++cost.nodes;
            cost.bytes += kNodeBytes + 2 * int64_t(child->name.length()) + child->value.length();
            work.Push(child);
            entry = entry->next;
        }
    }
    return cost;
}

namespace {

ScriptNode* ShallowCopy(const ScriptNode& source) {
    ScriptNode* copy = new ScriptNode;
    copy->kind = source.kind;
    copy->nextIndex = source.nextIndex;
    copy->name = source.name;
    copy->value = source.value;
    return copy;
}

// One pending step of a deep copy: give `target` copies of source's children.
struct CopyStep {
    const ScriptNode* source;
    ScriptNode* target;
};

}  // namespace

void CopyChildren(const ScriptNode& other, NodeStack& out) {
    if (other.count() == 0) return;
    // The top-level copies are built into a holder node first and handed out at the end, so
    // the whole copy exists before the caller changes anything.
    ScriptNode holder;
    PtrStack<CopyStep> work;
    work.Push(new CopyStep{&other, &holder});
    while (!work.Empty()) {
        CopyStep* step = work.Pop();
        const ScriptNode::Node* entry = step->source->first();
        for (int32_t i = 0; i < step->source->count(); ++i) {
            ScriptNode* copy = ShallowCopy(*entry->value);
            step->target->AddChild(entry->key, copy);
            if (entry->value->count() > 0) work.Push(new CopyStep{entry->value, copy});
            entry = entry->next;
        }
        delete step;
    }
    NodeStack inOrder;
    TakeChildren(&holder, inOrder);
    while (!inOrder.Empty()) out.Push(inOrder.Pop());
}

void AdoptChildren(ScriptNode* target, NodeStack& copies) {
    while (!copies.Empty()) {
        ScriptNode* child = copies.Pop();
        target->AddChild(child->name, child);
    }
}

}  // namespace script_detail

using namespace script_detail;

ScriptNode::~ScriptNode() { DeleteChildren(); }

void ScriptNode::DeleteChildren() {
    if (count() == 0) return;
    NodeStack nodes;
    TakeChildren(this, nodes);
    FreeNodes(nodes, nullptr);
}

ScriptNode* ScriptNode::Child(const char* childName) const {
    const Node* entry = FindNode(String(childName));
    return entry != nullptr ? entry->value : nullptr;
}

void ScriptNode::AddChild(const String& childName, ScriptNode* child) {
    // New entries go after the cursor; on the last entry that appends.
    if (count() > 0) SetCursor(first()->prev);
    Insert(childName, child, 1);
}

int32_t ScriptNode::AsInt() const {
    int32_t out = 0;
    value.ToInt(out);
    return out;
}

double ScriptNode::AsDouble() const {
    double out = 0;
    value.ToDouble(out);
    return out;
}

void ScriptNode::Assign(const ScriptNode& other) {
    if (&other == this) return;
    NodeStack copies;
    CopyChildren(other, copies);
    const int32_t otherKind = other.kind;
    const int32_t otherNext = other.nextIndex;
    const String otherValue = other.value;
    DeleteChildren();  // may free `other` when it lies below this node
    AdoptChildren(this, copies);
    kind = otherKind;
    nextIndex = otherNext;
    value = otherValue;
}
