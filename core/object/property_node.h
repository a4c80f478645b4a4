// Property nodes: the engine's bags of named, typed properties. A node is a tree node whose
// children are found by name without regard to case, and which itself holds at most one value
// of any type that has a TypeId. The value is kept as (type id, clone routine, payload) and
// destroyed through the routine its type id registered, so a node can copy and destroy values
// whose static type it does not know.
#pragma once

#include "core/containers/dyn_array.h"
#include "core/containers/ordered_map.h"
#include "core/math/vec3.h"
#include "core/object/type_id.h"
#include "core/text/string.h"
#include "core/types/byte_buffer.h"

#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

// The integer stored by PropertyNode::SetInt32: a type of its own, so that it gets an id of its
// own and PropertyNode::GetInt does not read it. The integer properties of GUI windows are
// kept apart from plain ints this way.
struct Int32Value {
    int32_t value;
};

// The value of a point-array property ("ShapeLine"): a pointer to an array of points that the
// value owns. Copies are deep, so every node that holds such a value owns its own array and
// frees it when the value is destroyed. The payload is exactly one pointer: readers may take
// the array pointer straight from the payload's first bytes.
class PointArrayValue {
public:
    // Takes ownership of `array` (from new; may be null).
    explicit PointArrayValue(DynArray<Vec3>* array) : array_(array) {}
    PointArrayValue(const PointArrayValue& other);
    PointArrayValue(PointArrayValue&& other) noexcept : array_(other.array_) {
        other.array_ = nullptr;
    }
    PointArrayValue& operator=(const PointArrayValue& other);
    // Takes other's array; assigning the array this value already owns keeps it.
    PointArrayValue& operator=(PointArrayValue&& other) noexcept;
    ~PointArrayValue() { delete array_; }

    DynArray<Vec3>* array() const { return array_; }

private:
    DynArray<Vec3>* array_;
};

namespace detail {

// The clone routine of V: copy-constructs the value at `source` into the raw block `target`,
// which has room for one V.
template <typename V>
void CloneValueInto(const void* source, void* target) {
    ::new (target) V(*static_cast<const V*>(source));
}

}  // namespace detail

// The map part holds the children, keyed by name without regard to case and listed in
// insertion order. The children are owned: they are deleted with the node, by Assign and by
// Clear; Erase and EraseAtCursor hand the removed child to the caller. Not thread-safe.
class PropertyNode : public OrderedMap<String, PropertyNode*, StringCompareNoCase> {
public:
    // Copy-constructs the value at `source` into the raw block `target` (of the value's size).
    using CloneRoutine = void (*)(const void* source, void* target);

    // No children, no value.
    PropertyNode() = default;
    // An empty node, then Assign(other).
    PropertyNode(const PropertyNode& other);
    PropertyNode& operator=(const PropertyNode&) = delete;
    // Destroys the value, then deletes every child.
    ~PropertyNode() override;

    // Deep copy: drops this node's value and children, copies other's value through its clone
    // routine, and copies other's children in other's list order starting at its cursor (so
    // the copy's list begins with the copy of other's cursor child). other must not lie in
    // this node's subtree; assigning a node to itself does nothing.
    void Assign(const PropertyNode& other);

    // Deletes every child; the node's own value stays.
    void Clear() override;

    // The child of that name (without regard to case), or null.
    PropertyNode* Child(const String& name) const;
    // The same lookup, under the name the scene code uses for it.
    PropertyNode* LookupChild(const String& name) const { return Child(name); }
    // True and `out` = the text when the child of that name holds a String; false, with `out`
    // untouched, when it is missing or holds another type.
    bool GetString(const String& name, String& out) const;

    // True and `out` = the value when the child of that name holds an int (a float for
    // GetFloat). False, with `out` untouched, when the child is missing or holds another type
    // (an Int32Value is another type).
    bool GetInt(const String& name, int& out) const;
    bool GetFloat(const String& name, float& out) const;

    // Store a value in this node, replacing the value held (see SetValue).
    void SetInt(int v) { SetValue(v); }
    void SetInt32(int32_t v) { SetValue(Int32Value{v}); }
    void SetBool(bool v) { SetValue(v); }
    // Takes ownership of `array` (from new; may be null).
    void SetPointArray(DynArray<Vec3>* array) { SetValue(PointArrayValue(array)); }
    void SetString(const String& text) { SetValue(text); }

    // Find the child of that name (without regard to case), creating an empty one after the
    // cursor when there is none, and store the value in it. A new child keeps the name as
    // spelt by the call that created it.
    void SetIntProperty(const String& name, int v);
    void SetChildString(const String& name, const String& text);
    void SetBoolProperty(const String& name, bool v);
    // Takes ownership of `array` (from new; may be null).
    void SetPointerProperty(const String& name, DynArray<Vec3>* array);

    // Stores a value of type V (copyable; destroyed and copied through its TypeId). A value of
    // the same type is assigned in place and nothing is allocated; a value of another type is
    // destroyed first, and the payload block is kept when it already has V's size.
    template <typename T>
    void SetValue(T&& value);

    // The type id of the value, or TypeRegistry::kNoType.
    int32_t ValueType() const { return valueType_; }
    // The value's bytes: read them only after checking ValueType.
    const ByteBuffer& Payload() const { return payload_; }
    // The value when it is a V, else null.
    template <typename V>
    const V* ValueAs() const;
    template <typename V>
    V* ValueAs() {
        return const_cast<V*>(static_cast<const PropertyNode*>(this)->ValueAs<V>());
    }

private:
    // Destroys the value, frees the payload block, and leaves the node without a value.
    void DropValue();
    // The child of that name; a new empty child inserted after the cursor when absent.
    PropertyNode* ChildForWrite(const String& name);

    int32_t valueType_ = TypeRegistry::kNoType;
    CloneRoutine cloneRoutine_ = nullptr;  // null exactly when there is no value
    ByteBuffer payload_;                   // one value, constructed in place in the block
};

template <typename T>
void PropertyNode::SetValue(T&& value) {
    using V = std::remove_cvref_t<T>;
    static_assert(!std::is_array_v<V>, "store texts as String");
    // Blocks come from operator new[], aligned for any fundamental type.
    static_assert(alignof(V) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    const int32_t id = TypeId<V>::Get();
    if (valueType_ == id) {
        *std::launder(reinterpret_cast<V*>(payload_.Data())) = std::forward<T>(value);
        return;
    }
    if (valueType_ != TypeRegistry::kNoType) {
        TypeRegistry::DestroyValue(valueType_, payload_.Data());
        valueType_ = TypeRegistry::kNoType;
        cloneRoutine_ = nullptr;
    }
    payload_.Resize(static_cast<int32_t>(sizeof(V)));
    ::new (payload_.Data()) V(std::forward<T>(value));
    valueType_ = id;
    cloneRoutine_ = &detail::CloneValueInto<V>;
}

template <typename V>
const V* PropertyNode::ValueAs() const {
    if (valueType_ == TypeRegistry::kNoType || valueType_ != TypeId<V>::Get()) return nullptr;
    return std::launder(reinterpret_cast<const V*>(payload_.Data()));
}
