#include "core/object/property_node.h"

// ---------------------------------------------------------------------------------------------
// PointArrayValue

namespace {

DynArray<Vec3>* CopyArray(const DynArray<Vec3>* array) {
    return array != nullptr ? new DynArray<Vec3>(*array) : nullptr;
}

}  // namespace

PointArrayValue::PointArrayValue(const PointArrayValue& other) : array_(CopyArray(other.array_)) {}

PointArrayValue& PointArrayValue::operator=(const PointArrayValue& other) {
    if (this != &other) {
        DynArray<Vec3>* copy = CopyArray(other.array_);
        delete array_;
        array_ = copy;
    }
    return *this;
}

PointArrayValue& PointArrayValue::operator=(PointArrayValue&& other) noexcept {
    if (this != &other) {
        // Storing the array a node already holds must not free it.
        if (other.array_ != array_) delete array_;
        array_ = other.array_;
        other.array_ = nullptr;
    }
    return *this;
}

// ---------------------------------------------------------------------------------------------
// PropertyNode

PropertyNode::PropertyNode(const PropertyNode& other) : OrderedMap() { Assign(other); }

PropertyNode::~PropertyNode() {
    DropValue();
    DeleteAll();
}

void PropertyNode::DropValue() {
    if (valueType_ != TypeRegistry::kNoType) {
        TypeRegistry::DestroyValue(valueType_, payload_.Data());
    }
    payload_.Free();
    valueType_ = TypeRegistry::kNoType;
    cloneRoutine_ = nullptr;
}

void PropertyNode::Assign(const PropertyNode& other) {
    if (&other == this) return;
    DropValue();
    DeleteAll();
    if (other.valueType_ != TypeRegistry::kNoType) {
        payload_.Resize(other.payload_.Size());
        other.cloneRoutine_(other.payload_.Data(), payload_.Data());
        cloneRoutine_ = other.cloneRoutine_;
    }
    valueType_ = other.valueType_;
    // Each copy goes in after the previous one, so the copy's list runs in other's order
    // starting at other's cursor.
    const Node* source = other.cursor();
    for (int32_t i = 0; i < other.count(); ++i) {
        Insert(source->key, new PropertyNode(*source->value), 1);
        source = source->next;
    }
}

void PropertyNode::Clear() { DeleteAll(); }

PropertyNode* PropertyNode::Child(const String& name) const {
    const Node* node = FindNode(name);
    return node != nullptr ? node->value : nullptr;
}

bool PropertyNode::GetInt(const String& name, int& out) const {
    const PropertyNode* child = Child(name);
    const int* value = child != nullptr ? child->ValueAs<int>() : nullptr;
    if (value == nullptr) return false;
    out = *value;
    return true;
}

bool PropertyNode::GetFloat(const String& name, float& out) const {
    const PropertyNode* child = Child(name);
    const float* value = child != nullptr ? child->ValueAs<float>() : nullptr;
    if (value == nullptr) return false;
    out = *value;
    return true;
}

bool PropertyNode::GetString(const String& name, String& out) const {
    const PropertyNode* child = Child(name);
    const String* value = child != nullptr ? child->ValueAs<String>() : nullptr;
    if (value == nullptr) return false;
    out = *value;
    return true;
}

PropertyNode* PropertyNode::ChildForWrite(const String& name) {
    Node* node = FindNode(name);
    if (node == nullptr) node = Insert(name, new PropertyNode, 1);
    return node->value;
}

void PropertyNode::SetIntProperty(const String& name, int v) { ChildForWrite(name)->SetInt(v); }

void PropertyNode::SetChildString(const String& name, const String& text) {
    ChildForWrite(name)->SetString(text);
}

void PropertyNode::SetBoolProperty(const String& name, bool v) {
    ChildForWrite(name)->SetBool(v);
}

void PropertyNode::SetPointerProperty(const String& name, DynArray<Vec3>* array) {
    ChildForWrite(name)->SetPointArray(array);
}
