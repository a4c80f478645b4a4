// Writes files in the engine's hierarchical binary data format (magic "ZWF Binary 1.0"): the
// scene files (".zwf") and camera-path files (".cam") the saver loads. Media tools build a tree
// of `Node` values in code and hand it to `Write`.
//
// The records are those of core/data/zwf_format.h. How this writer lays them out:
//   A compound block is its directory followed by its children's blocks in entry order, each
//   child's block holding its own subtree (depth first). So a compound's size spans its whole
//   subtree, which lets a reader take a child's block out of its parent's block in memory.
//   A leaf block is its bytes. A link entry has no block: it repeats the target's type, flags,
//   array count, offset and size with the link bit (2) added, and readers share one node.
//   An empty leaf has no bytes; its entry points at its parent's child-count field (parent
//   offset + 4), where no block starts, because readers share nodes by offset and an empty
//   leaf placed at the next block's offset would be taken for that block.
// The same tree always gives the same bytes.

#pragma once

#include "core/data/zwf_format.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rh::zwf {

using zwf_format::kMagic;

// Entry flag bits.
inline constexpr uint8_t kFlagArray = zwf_format::kEntryArray;
inline constexpr uint8_t kFlagLink = zwf_format::kEntryLink;
inline constexpr uint8_t kFlagCompound = zwf_format::kEntryCompound;

using Bytes = std::vector<uint8_t>;

// Thrown by `Write` for a tree it cannot write; the message names the node's path.
class WriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Appends little-endian values, for leaves of structured types and other records
// (a camera key: Packer().Real(time).Real(x)...).
class Packer {
public:
    Packer& Int(int32_t v);
    Packer& Real(float v);
    Packer& Byte(uint8_t v);
    Packer& Chars(std::string_view text);  // the bytes, no count, no terminator
    const Bytes& bytes() const { return bytes_; }
    Bytes Take() { return std::move(bytes_); }

private:
    Bytes bytes_;
};

// One key of an animation track or a camera path, as the scene's key tracks read it: 32 bytes
// of little-endian floats in the order time, four values (x, y, z and 0 for positions and
// scales; a quaternion x, y, z, w with w the scalar for rotations), continuity, tension, bias.
// A camera-path file holds one such leaf per key at its root, of type "pos" or "rot".
inline constexpr size_t kTrackKeySize = 32;
Bytes PackTrackKey(float time, float x, float y, float z, float w, float continuity = 0.0f, float tension = 0.0f,
                   float bias = 0.0f);

// One member of a structured type. Two-argument form: a single value; with a count: an array
// member (the is-array byte set, the count written).
struct Member {
    Member(std::string memberName, std::string memberType)
        : name(std::move(memberName)), typeName(std::move(memberType)) {}
    Member(std::string memberName, std::string memberType, int32_t elementCount)
        : name(std::move(memberName)), typeName(std::move(memberType)), isArray(true), count(elementCount) {}
    std::string name;
    std::string typeName;
    bool isArray = false;
    int32_t count = 0;
};

struct StructType {
    std::string name;
    std::vector<Member> members;
};

// The type table of a file, written in the order types were added (a name added twice is
// written twice; readers keep the last).
class TypeTable {
public:
    TypeTable& Add(std::string name, std::vector<Member> members);
    const std::vector<StructType>& types() const { return types_; }
    // Bytes one value of the type takes, as readers compute it: "int" and "real" 4, "char" and
    // "byte" 1, a structured type the sum of its members (an array member times its count).
    // 0 for an unknown type, a type that contains itself, or a size beyond 32 bits.
    int64_t SizeOf(std::string_view typeName) const;

private:
    int64_t SizeOf(std::string_view typeName, int depth) const;
    std::vector<StructType> types_;
};

// One entry of the tree: a compound (children), a leaf (bytes) or a link to another node of
// the same tree. A value type: copies are deep (and recursive; writing and destroying are not,
// so trees of any depth can be built in place, written and freed). Every node made by a
// factory has an identity that its copies keep, so that a link made from the original finds
// the copy placed in a tree; where several plain nodes of the tree share an identity, a link
// goes to the first in file order.
class Node {
public:
    static Node Compound(std::string name, std::string typeName = "");
    static Node Leaf(std::string name, std::string typeName, rh::zwf::Bytes bytes);
    // Typed leaves: a single value, or an array (flag 1, count = number of values).
    static Node Int(std::string name, int32_t value);
    static Node Ints(std::string name, const std::vector<int32_t>& values);
    static Node Real(std::string name, float value);
    static Node Reals(std::string name, const std::vector<float>& values);
    static Node Bytes(std::string name, rh::zwf::Bytes values);
    // A text as an array of "char", one per byte, without terminator.
    static Node Text(std::string name, std::string_view text);
    // `count` values of a structured type packed in `bytes` (an array leaf).
    static Node Structs(std::string name, std::string typeName, int32_t count, rh::zwf::Bytes bytes);
    // An entry sharing `target`'s block: the target's type, flags, count, offset and size with
    // the link bit. Readers key children by the name of the entry they met first, so give the
    // link its target's name (the one-argument form) unless the difference is the point.
    // Linking to a link links to its target. The target must be a plain node of the same
    // tree when it is written.
    static Node Link(std::string name, const Node& target);
    static Node Link(const Node& target);

    Node(const Node& other);
    Node(Node&&) noexcept = default;
    Node& operator=(const Node& other);
    Node& operator=(Node&&) noexcept;
    ~Node();  // iterative, so that very deep trees do not exhaust the stack

    // Appends a child to a compound and returns the stored child (valid until this node's
    // children change). Throws WriteError on a leaf or a link.
    Node& AddChild(Node child);
    // The same, returning this node, for chains of siblings.
    Node& With(Node child);
    // Sets the array flag and count (for raw leaves or compound arrays).
    Node& SetArray(int32_t count);

    // The first child of that exact name, or null.
    Node* Find(std::string_view childName);
    const Node* Find(std::string_view childName) const;

    const std::string& name() const { return name_; }
    const std::string& typeName() const { return typeName_; }
    uint8_t flags() const { return flags_; }  // kFlagArray / kFlagCompound (never kFlagLink)
    bool isCompound() const { return (flags_ & kFlagCompound) != 0; }
    bool isArray() const { return (flags_ & kFlagArray) != 0; }
    bool isLink() const { return linkTarget_ != 0; }
    int32_t arrayCount() const { return arrayCount_; }
    const rh::zwf::Bytes& data() const { return data_; }
    const std::vector<Node>& children() const { return children_; }
    uint64_t id() const { return id_; }
    uint64_t linkTarget() const { return linkTarget_; }

private:
    Node() = default;
    std::string name_;
    std::string typeName_;
    uint8_t flags_ = 0;
    int32_t arrayCount_ = 0;
    rh::zwf::Bytes data_;
    std::vector<Node> children_;
    uint64_t id_ = 0;
    uint64_t linkTarget_ = 0;
};

struct WriteOptions {
    // Added to the root size field only. The media's camera-path files declare 4 bytes more
    // than follow; readers must not rely on the field.
    int32_t rootSizeSlack = 0;
    // Refuses leaves that a reader's expansion by type would cut wrongly: an array leaf of a
    // known type whose size is not count x element size, or a non-array leaf of a structured
    // type whose size is not the type's size. Off only to make damaged files on purpose.
    bool checkSizes = true;
};

// Lays out and writes the whole file. `root` must be a compound; its own name and type are not
// stored (readers call it "_root"). Throws WriteError for a link whose target is not in the
// tree, a negative array count, a size check that fails, or a file of 2 GB or more.
Bytes Write(const Node& root, const TypeTable& types = {}, const WriteOptions& options = {});

// Write, then stores the bytes at `path`. False with a message on any failure.
bool WriteFile(const std::string& path, const Node& root, const TypeTable& types, const WriteOptions& options,
               std::string* error);

}  // namespace rh::zwf
