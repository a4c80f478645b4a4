// BinaryDataReader: structured types, their sizes and the expansion of leaves by type.

#include "core/data/data_reader.h"

#include "core/data/zwf_format.h"

#include <cstdint>
#include <cstring>

namespace {

int32_t BasicTypeSize(const String& name) {
    return zwf_format::BasicTypeSize(name.data(), size_t(name.length()));
}

// Levels of parts below the expanded node. Each level can cost a node per byte of data, so
// the levels a type table could nest (thousands) would let a small file ask for gigabytes.
constexpr int32_t kMaxExpandDepth = 256;

// A member's share of its type's size: the element size, times the count for an array.
// Negative when the count is negative.
int64_t MemberBytes(const DataMember& member, int64_t elementSize) {
    if (!member.isArray) return elementSize;
    return member.count < 0 ? -1 : elementSize * member.count;
}

}  // namespace

void BinaryDataReader::ClearTypes() {
    types_.DeleteAll();
}

const DataType* BinaryDataReader::FindType(const String& name) const {
    return types_.ValueRef(name);
}

int32_t BinaryDataReader::TypeSize(const String& typeName) const {
    const int32_t basic = BasicTypeSize(typeName);
    if (basic > 0) return basic;
    const DataType* type = FindType(typeName);
    return type != nullptr && type->sizeValid ? type->size : 0;
}

// Sizes every structured type once, depth first with an explicit stack, so that a deep chain
// of types cannot exhaust the call stack and a type used many times is summed once. A type met
// again while its own size is being summed lies on a cycle: it, and every type that contains
// it, has no valid size.
void BinaryDataReader::ComputeTypeSizes() {
    struct Frame {
        DataType* type;
        const OrderedMap<String, DataMember, StringCompare>::Node* member;
        int32_t membersLeft;
        int64_t sum;
        bool valid;
    };
    OrderedMap<DataType*, int32_t> state;  // 1 being summed, 2 done
    DynArray<Frame> stack;
    int32_t depth = 0;
    auto push = [&](DataType* type) {
        if (depth == stack.count()) stack.Resize(depth * 2 + 16);
        stack.items()[depth++] = Frame{type, type->members.first(), type->members.count(), 0, true};
        state.Insert(type, 1, 1);
    };
    // Adds a member's share to the frame on top and moves it to its next member.
    auto addShare = [&](int64_t elementSize, bool elementValid) {
        Frame& frame = stack.items()[depth - 1];
        const int64_t bytes = MemberBytes(frame.member->value, elementSize);
        frame.valid = frame.valid && elementValid && bytes >= 0;
        if (frame.valid) frame.sum += bytes;
        if (frame.sum > INT32_MAX) frame.valid = false;
        frame.member = frame.member->next;
        --frame.membersLeft;
    };

    const auto* entry = types_.first();
    for (int32_t t = 0; t < types_.count(); ++t, entry = entry->next) {
        if (state.ValueRef(entry->value) != 0) continue;
        push(entry->value);
        while (depth > 0) {
            Frame& frame = stack.items()[depth - 1];
            if (frame.membersLeft == 0) {
                DataType* done = frame.type;
                done->sizeValid = frame.valid;
                done->size = frame.valid ? static_cast<int32_t>(frame.sum) : 0;
                state.Insert(done, 2, 1);
                if (--depth > 0) addShare(done->size, done->sizeValid);
                continue;
            }
            const DataMember& member = frame.member->value;
            const int32_t basic = BasicTypeSize(member.typeName);
            DataType* type = basic > 0 ? nullptr : types_.ValueRef(member.typeName);
            if (basic > 0 || type == nullptr) {
                addShare(basic, true);  // an unknown member type counts 0
                continue;
            }
            const int32_t seen = state.ValueRef(type);
            if (seen == 2) {
                addShare(type->size, type->sizeValid);
            } else if (seen == 1) {
                addShare(0, false);
            } else {
                push(type);  // its size is added when its frame finishes
            }
        }
    }
}

bool BinaryDataReader::ExpandNode(DataNode* node, int32_t expandFlags) {
    if (node == nullptr) return false;
    // The children to expand in turn wait on a stack rather than in nested calls.
    DynArray<PendingExpansion> pending;
    int32_t pendingCount = 0;
    bool ok = ExpandOne(PendingExpansion{node, 0}, expandFlags, pending, pendingCount);
    while (pendingCount > 0) {
        const PendingExpansion next = pending.items()[--pendingCount];
        if (!ExpandOne(next, expandFlags, pending, pendingCount)) ok = false;
    }
    return ok;
}

bool BinaryDataReader::ExpandOne(PendingExpansion item, int32_t expandFlags,
                                 DynArray<PendingExpansion>& pending, int32_t& pendingCount) {
    DataNode* node = item.node;
    const int32_t basic = BasicTypeSize(node->typeName_);
    const bool isArray = (node->nodeFlags_ & kDataNodeArray) != 0;
    if (basic > 0 && !(isArray && (expandFlags & kExpandBasicArrays))) return true;
    if (node->nodeFlags_ & kDataNodeCompound) return false;
    const DataType* type = basic > 0 ? nullptr : FindType(node->typeName_);
    if (basic == 0 && type == nullptr) return false;

    // The file's node bound is spent: the node stays a leaf.
    if (nodesLeft_ <= 0) return false;
    node->nodeFlags_ |= kDataNodeCompound;
    node->listed_ = true;
    bool ok = true;
    int64_t cursor = 0;  // the parts are cut from the data in order
    // Makes one part of `bytes` bytes (invalid when not above 0) at the cursor. False once the
    // file's node bound is spent: the node keeps the parts made so far.
    auto cut = [&](const String& name, const String& typeName, uint8_t flags, int32_t count,
                   int64_t bytes) {
        const bool fits = bytes > 0 && node->data_ != nullptr && cursor + bytes <= node->size_;
        DataNode* child =
            MakeNode(name, typeName, flags, count,
                     fits ? static_cast<int32_t>(node->offset_ + cursor) : 0,
                     fits ? static_cast<int32_t>(bytes) : 0);
        if (child == nullptr) {
            ok = false;
            return false;
        }
        child->parent_ = node;
        child->inMemory_ = true;
        child->listed_ = true;
        if (!fits) {
            ok = false;  // size 0, no data
        } else {
            const bool borrow = (expandFlags & kExpandBorrow) != 0;
            char* at = node->data_ + cursor;
            char* data = at;
            if (!borrow) {
                data = new char[bytes];
                std::memcpy(data, at, size_t(bytes));
            }
            child->data_ = data;
            child->dataBorrowed_ = borrow;
            if (!(expandFlags & kExpandOneLevel)) {
                if (item.depth + 1 >= kMaxExpandDepth) {
                    ok = false;  // left unexpanded
                } else {
                    if (pendingCount == pending.count()) pending.Resize(pendingCount * 2 + 16);
                    pending.items()[pendingCount++] = PendingExpansion{child, item.depth + 1};
                }
            }
        }
        if (bytes > 0) cursor += bytes;
        node->AddChild(child, false);
        return true;
    };

    if (isArray) {
        const int32_t elementSize = basic > 0 ? basic : TypeSize(node->typeName_);
        int32_t count = node->arrayCount_;
        // Only the elements the data holds are made: a lying count must not make millions.
        const int32_t fit =
            elementSize > 0 && node->data_ != nullptr ? node->size_ / elementSize : 0;
        if (count < 0 || count > fit) {
            ok = false;
            count = count < 0 ? 0 : fit;
        }
        for (int32_t i = 0; i < count; ++i) {
            if (!cut(String(i, 10), node->typeName_, 0, 0, elementSize)) break;
        }
        return ok;
    }

    const auto* member = type->members.first();
    for (int32_t m = 0; m < type->members.count(); ++m, member = member->next) {
        const DataMember& description = member->value;
        const int32_t memberBasic = BasicTypeSize(description.typeName);
        const DataType* memberType = memberBasic > 0 ? nullptr : FindType(description.typeName);
        if (memberBasic == 0 && memberType == nullptr) {
            ok = false;  // skipped
            continue;
        }
        const int64_t elementSize = memberBasic > 0 ? memberBasic : TypeSize(description.typeName);
        const int64_t bytes = MemberBytes(description, elementSize);
        if (!cut(member->key, description.typeName, description.isArray ? kDataNodeArray : 0,
                 description.isArray ? description.count : 0, bytes > INT32_MAX ? -1 : bytes)) {
            break;
        }
    }
    return ok;
}
