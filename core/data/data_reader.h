// Readers of the engine's hierarchical binary data files (".zwf" scenes, ".cam" camera paths,
// magic "ZWF Binary 1.0"). A file is a header, an optional table of structured types and a
// root compound block; compound blocks hold a directory of child entries, leaves raw bytes
// (the layout is in core/data/zwf_format.h).
//
// Every count, offset and size read from a file is checked against the bytes that can hold it
// before anything is allocated or read, so a truncated or damaged file makes a load answer
// false instead of reading garbage.
#pragma once

#include "core/containers/dyn_array.h"
#include "core/containers/ordered_map.h"
#include "core/data/data_node.h"
#include "core/files/stream.h"
#include "core/text/string.h"

#include <cstdint>

class DataReader {
public:
    DataReader() = default;
    DataReader(const DataReader&) = delete;
    DataReader& operator=(const DataReader&) = delete;
    // Deletes the stream only when the reader owns it.
    virtual ~DataReader();

    // Closes the stream, deletes it only when the reader owns it, and forgets it.
    virtual void CloseDataFile();

    // Reads the header of the file on `stream` (open for reading, positioned at the start of
    // the file) and answers the root node, not yet loaded. The reader does not own the stream.
    // Null, with the stream closed, when the stream is null, the magic differs (case counts)
    // or the header or type table cannot be read whole.
    DataNode* OpenStream(Stream* stream);

protected:
    // Reads the header from stream(); the root node or null (see OpenStream).
    virtual DataNode* OpenDataFile() = 0;

    Stream* stream() const { return stream_; }
    // For a reader that opened its stream itself; OpenStream clears it.
    void SetOwnsStream(bool owns) { ownsStream_ = owns; }

private:
    Stream* stream_ = nullptr;
    bool ownsStream_ = false;
};

// A member of a structured type.
struct DataMember {
    String typeName;
    bool isArray = false;
    int32_t count = 0;  // element count of an array member (from the file; may be anything)
};

// A structured type from the file's type table: members by name, in file order (a repeated
// member name keeps the first place and the last description).
struct DataType {
    String name;
    OrderedMap<String, DataMember, StringCompare> members;
    // Worked out once the whole table is read; 0 with sizeValid false for a type that contains
    // itself (directly or through other types) or whose size passes the int range.
    int32_t size = 0;
    bool sizeValid = false;
};

// Reads the binary format from a Stream. It makes every DataNode it hands out and owns them:
// the destructor deletes each exactly once, whatever sharing and links joined them, and frees
// their data blocks except those marked taken (the consumer frees them with delete[]) and
// those borrowed from another block. Not thread-safe.
class BinaryDataReader : public DataReader {
public:
    // The most nodes one file's loads and expansions make, per byte of the file, the root and
    // directory entries included. Without it the parts of size 0 that expansion makes (members
    // of empty or cyclic types, arrays of count 0) cost no data, so a file of a few kilobytes
    // could ask for millions of nodes: as many as its type table has members times its data
    // has elements. A reader without an open file makes no nodes.
    static constexpr int32_t kNodesPerFileByte = 2;

    BinaryDataReader() = default;
    ~BinaryDataReader() override;

    // Loads `node` (and, unless loadFlags has kLoadNoChildren, its children in turn; with
    // kLoadOneLevel they load only themselves). See DataLoadFlag for the sources a node is
    // read from. A node reached again in the same call -- through entries that share an
    // offset, link entries or a cycle -- is not walked again, so every load ends.
    // False when any node met a short read, an offset outside its source or a leaf block that
    // does not fit in its source; such a node's load stops there (its children are not
    // loaded) and the other nodes still load. Expansion failures do not count. A compound
    // block read whole that reaches past the end of its source is cut at that end (and a node
    // that keeps the block has its size cut to match): the media's camera-path files give a
    // root size 4 bytes larger than the file holds. A directory must lie inside its node's
    // block, and one file's loads read no more directory entries than the file could hold
    // with every entry stored once; a directory whose entries would need nodes past the
    // file's node bound (kNodesPerFileByte) breaks off there.
    virtual bool LoadNode(DataNode* node, int32_t loadFlags, int32_t expandFlags);
    // Reads the type count and the type records at the stream's position into the type map
    // (a repeated name replaces the earlier type). False on a short read.
    virtual bool ReadTypeTable();
    // Splits a leaf's data into child nodes by type (see DataExpandFlag). Does nothing and
    // answers true for a basic type that is not an array or without kExpandBasicArrays.
    // False for a node already compound, a type not in the type map, a member of an unknown
    // type (skipped), a child whose size is 0 or reaches past the node's data (it gets size 0
    // and no data and is not expanded further), an array count below 0 or beyond what the
    // data holds (only the elements that fit are made), parts more than 256 levels below the
    // node (left unexpanded), parts past the file's node bound (kNodesPerFileByte: a node
    // keeps the parts made before it, and one that would get none stays a leaf), and any
    // failure further down.
    virtual bool ExpandNode(DataNode* node, int32_t expandFlags);

    // "int" and "real" 4, "char" and "byte" 1, a structured type the sum of its members (a
    // member's type size, times its count for an array; an unknown member type counts 0);
    // 0 for an unknown type or a structured type without a valid size.
    int32_t TypeSize(const String& typeName) const;
    // The structured type of that name (case counts), or null.
    const DataType* FindType(const String& name) const;

protected:
    DataNode* OpenDataFile() override;

private:
    // Every node is made here: one of this reader, with these fields, counted against the
    // file's node bound. Null when the bound is spent.
    DataNode* MakeNode(const String& name, const String& typeName, uint8_t flags,
                       int32_t arrayCount, int32_t offset, int32_t size);
    void ClearTypes();
    void ComputeTypeSizes();
    bool LoadOne(DataNode* node, int32_t flags, int32_t expandFlags);
    struct PendingExpansion {
        DataNode* node = nullptr;
        int32_t depth = 0;  // levels below the node ExpandNode was called for
    };
    bool ExpandOne(PendingExpansion item, int32_t expandFlags,
                   DynArray<PendingExpansion>& pending, int32_t& pendingCount);

    // A block a node let go of when it read its block again: parts of the tree may still point
    // into it, so it lives as long as the reader.
    struct RetiredBlock {
        char* data;
        RetiredBlock* next;
    };

    OrderedMap<String, DataType*, StringCompare> types_;
    // Block offset -> the node made for the first entry of that offset with a size other
    // than 0; later entries of the same offset share it.
    OrderedMap<int32_t, DataNode*> nodesByOffset_;
    DataNode* madeNodes_ = nullptr;  // every node this reader made, linked by nextMade_
    RetiredBlock* retiredBlocks_ = nullptr;
    int32_t fileEnd_ = 0;            // the file's size, the end of every offset
    int32_t entriesLeft_ = 0;        // directory entries the rest of this file's loads may read
    int64_t nodesLeft_ = 0;          // nodes the rest of this file's loads and expansions may make
    uint32_t loadPass_ = 0;          // counts LoadNode calls; marks the nodes each one visited
};
