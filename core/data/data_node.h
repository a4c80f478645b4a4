// DataNode: one named, typed block of a ".zwf" file (scene files) or ".cam" file (camera
// paths). A compound node holds child nodes found by exact name; a leaf holds raw bytes once
// loaded. Nodes are made and loaded by a BinaryDataReader, which owns them and deletes them
// when it is destroyed (see data_reader.h).
#pragma once

#include "core/containers/ordered_map.h"
#include "core/data/zwf_format.h"
#include "core/text/string.h"

#include <cstdint>

class BinaryDataReader;
class DataNode;

// Node flags (nodeFlags). The entry flags of a file use the same bits; the link bit is never
// kept in a node.
enum DataNodeFlag : uint8_t {
    kDataNodeArray = zwf_format::kEntryArray,
    kDataNodeLink = zwf_format::kEntryLink,
    kDataNodeCompound = zwf_format::kEntryCompound,
};

// Load flags of DataNode::Load / BinaryDataReader::LoadNode. 0 reads the whole tree straight
// from the file.
enum DataLoadFlag : int32_t {
    kLoadNoChildren = 0x01,     // the node only
    kLoadOneLevel = 0x04,       // the node and its children (which load only themselves)
    // A leaf whose bytes this load reads is split by type (ExpandNode). A leaf that already
    // holds its block -- kept with 0x40, or taken from its parent's with 0x20 and 0x40 or
    // 0x80 -- reads nothing, so it is not split.
    kLoadExpand = 0x08,
    kLoadWholeBlock = 0x10,     // parse the node from a copy of its block, read whole
    kLoadFromParent = 0x20,     // take the node from its parent's block when that is in memory
    kLoadKeepBlock = 0x40,      // as 0x10, the node keeps its block; children use 0x20
    kLoadBorrowParent = 0x80,   // point into the parent's block instead of copying
};

// Expansion flags of BinaryDataReader::ExpandNode.
enum DataExpandFlag : int32_t {
    kExpandBasicArrays = 0x01,  // split arrays of basic types into elements
    kExpandBorrow = 0x02,       // children point into the node's data instead of copies
    kExpandOneLevel = 0x04,     // do not expand the children in turn
};

// Children by name, compared with regard to case, in file order.
using DataNodeMap = OrderedMap<String, DataNode*, StringCompare>;

// Invariant: when inMemory is set and data is not null, data holds `size` bytes. A node frees
// its own data block when it is destroyed, unless the block is borrowed (it belongs to another
// node) or taken (a consumer keeps it and frees it with delete[]). A node never deletes its
// children: whoever made a node deletes it (the reader, for every node it made).
class DataNode {
public:
    DataNode() = default;
    DataNode(const DataNode&) = delete;
    DataNode& operator=(const DataNode&) = delete;
    ~DataNode();

    // Runs the reader's LoadNode on this node. False when the node has no reader, or when the
    // reader met a short read, an out-of-range entry or a block that does not fit.
    bool Load(int32_t loadFlags, int32_t expandFlags);

    // The child of exactly that name (case counts), or null.
    DataNode* FindChild(const String& name) const;
    // Copies min(n, child size) bytes of the child's data into buffer. False when the child is
    // missing or has no data.
    bool CopyChildData(const String& name, void* buffer, int32_t n) const;
    // The data as an owned String of `size` bytes; empty without data.
    String DataAsString() const;
    // Copies min(n, size) bytes into buffer; false without data.
    bool CopyData(void* buffer, int32_t n) const;

    // Sets the compound bit and puts child under its own name at the end of the children (a
    // child already listed under that name is replaced in place: it is not deleted), and
    // records whether it came from a link entry.
    void AddChild(DataNode* child, bool link);
    // The link flag recorded for the child's name (0 when none).
    bool IsLinkChild(const DataNode* child) const;

    // Marks the block as kept by a consumer, which frees it with delete[]; the node then never
    // frees it. Nothing else reads the mark.
    void SetDataTaken(bool taken) { dataTaken_ = taken; }

    // Plain field access.
    char* GetData() const { return data_; }
    int32_t GetSize() const { return size_; }
    int32_t GetOffset() const { return offset_; }
    const String& GetName() const { return nodeName_; }
    const String& GetTypeName() const { return typeName_; }
    int32_t GetArrayCount() const { return arrayCount_; }
    uint8_t GetFlags() const { return nodeFlags_; }
    const DataNodeMap& Children() const { return children_; }
    DataNode* GetParent() const { return parent_; }
    BinaryDataReader* GetReader() const { return reader_; }
    bool IsDataTaken() const { return dataTaken_; }
    bool IsBorrowed() const { return dataBorrowed_; }
    bool IsListed() const { return listed_; }
    bool IsInMemory() const { return inMemory_; }

    void SetName(const String& name) { nodeName_ = name; }
    void SetTypeName(const String& typeName) { typeName_ = typeName; }
    void SetFlags(uint8_t flags) { nodeFlags_ = flags; }
    void SetArrayCount(int32_t count) { arrayCount_ = count; }
    void SetParent(DataNode* parent) { parent_ = parent; }
    void SetReader(BinaryDataReader* reader) { reader_ = reader; }
    void SetBorrowed(bool borrowed) { dataBorrowed_ = borrowed; }
    void SetListed(bool listed) { listed_ = listed; }
    void SetInMemory(bool inMemory) { inMemory_ = inMemory; }
    void SetOffset(int32_t offset) { offset_ = offset; }
    void SetSize(int32_t size) { size_ = size; }
    // The node does not free a block it had; the new one follows the borrowed/taken marks.
    void SetData(char* data) { data_ = data; }

private:
    friend class BinaryDataReader;

    DataNode* parent_ = nullptr;
    BinaryDataReader* reader_ = nullptr;
    String typeName_;
    String nodeName_;
    uint8_t nodeFlags_ = 0;
    int32_t arrayCount_ = 0;
    bool dataTaken_ = false;
    bool dataBorrowed_ = false;
    bool listed_ = false;
    bool inMemory_ = false;
    int32_t offset_ = 0;
    int32_t size_ = 0;
    char* data_ = nullptr;
    DataNodeMap children_;
    OrderedMap<String, int32_t, StringCompare> linkFlags_;

    // The reader's bookkeeping: the load pass that last visited the node (a node reached
    // again in the same pass, through sharing or a cycle, is not walked again) and the next
    // node on the reader's list of the nodes it made.
    uint32_t visitedPass_ = 0;
    DataNode* nextMade_ = nullptr;
};
