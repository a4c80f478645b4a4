#include "core/data/data_reader.h"

#include "core/data/zwf_format.h"
#include "core/files/mem_stream.h"

#include <cstdint>
#include <cstring>

namespace {

using zwf_format::kMinEntryBytes;
using zwf_format::kMinMemberBytes;
using zwf_format::kMinTypeBytes;

// Reads from a stream whose bytes end at the absolute position `end`; every read and seek that
// would pass the end is refused before anything is allocated or read. (DiskStream and
// MemStream report a read differently -- 1 or a byte count -- so whole reads are made certain
// by the bound rather than by the result.)
class BoundedSource {
public:
    BoundedSource(Stream* stream, int32_t end) : stream_(stream), end_(end) {}

    bool Seek(int32_t offset) {
        return stream_ != nullptr && offset >= 0 && offset <= end_ && stream_->Seek(offset, 0);
    }
    int32_t Remaining() const {
        if (stream_ == nullptr) return 0;
        const int32_t position = stream_->Tell();
        return position < 0 || position > end_ ? 0 : end_ - position;
    }
    bool Bytes(void* buffer, int32_t n) {
        if (n < 0 || n > Remaining()) return false;
        return n == 0 || stream_->Read(buffer, n) > 0;
    }
    bool Byte(uint8_t& value) { return Bytes(&value, 1); }
    bool Int(int32_t& value) {
        uint8_t b[4];
        if (!Bytes(b, 4)) return false;
        value = static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                                     uint32_t(b[3]) << 24);
        return true;
    }
    bool Text(String& out) {
        int32_t n = 0;
        if (!Int(n) || n < 0 || n > Remaining()) return false;
        char* block = new char[n + 1];
        block[n] = 0;
        if (!Bytes(block, n)) {
            delete[] block;
            return false;
        }
        out = String(block, n, false);
        return true;
    }
    // Ends the source at `end` when that comes before its own end.
    void Narrow(int32_t end) {
        if (end < end_) end_ = end;
    }
    // A count of records of at least minBytes each that the rest of the source could hold.
    bool Count(int32_t& count, int32_t minBytes) {
        return Int(count) && count >= 0 && count <= Remaining() / minBytes;
    }

private:
    Stream* stream_;
    int32_t end_;
};

// Where node's block lies inside a container block (a parent's block in memory): `at` bytes
// from its start, `size` bytes long. A compound block that runs past the container is cut at
// its end; a leaf must fit.
bool PlaceInside(const DataNode* node, int32_t containerOffset, int32_t containerSize,
                 int32_t& at, int32_t& size) {
    const int64_t start = int64_t(node->GetOffset()) - containerOffset;
    if (start < 0 || start > containerSize || node->GetSize() < 0) return false;
    const int64_t room = containerSize - start;
    size = node->GetSize();
    if (size > room) {
        if ((node->GetFlags() & kDataNodeCompound) == 0) return false;
        size = static_cast<int32_t>(room);
    }
    at = static_cast<int32_t>(start);
    return true;
}

// The end of a block, kept inside the int range.
int32_t EndOf(int32_t offset, int32_t size) {
    const int64_t end = int64_t(offset) + size;
    return end > INT32_MAX ? INT32_MAX : static_cast<int32_t>(end);
}

char* CopyBytes(const char* source, int32_t size) {
    char* block = new char[size > 0 ? size : 1];
    if (size > 0) std::memcpy(block, source, static_cast<size_t>(size));
    return block;
}

// The flags a compound node's children load with: one level becomes "only themselves", and
// a node that keeps its block lets its children take theirs from it.
int32_t ChildFlags(int32_t flags) {
    int32_t child = flags & ~kLoadOneLevel;
    if (flags & kLoadOneLevel) child |= kLoadNoChildren;
    if (flags & kLoadKeepBlock) child |= kLoadFromParent;
    return child;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// DataReader

DataReader::~DataReader() {
    if (ownsStream_) delete stream_;
}

void DataReader::CloseDataFile() {
    if (stream_ == nullptr) return;
    stream_->Close();
    if (ownsStream_) delete stream_;
    stream_ = nullptr;
    ownsStream_ = false;
}

DataNode* DataReader::OpenStream(Stream* stream) {
    CloseDataFile();
    stream_ = stream;
    ownsStream_ = false;
    if (stream_ == nullptr) return nullptr;
    DataNode* root = OpenDataFile();
    if (root == nullptr) CloseDataFile();
    return root;
}

// ---------------------------------------------------------------------------------------------
// BinaryDataReader: header, type table and loading

BinaryDataReader::~BinaryDataReader() {
    nodesByOffset_.Clear();
    ClearTypes();
    DataNode* node = madeNodes_;
    while (node != nullptr) {
        DataNode* next = node->nextMade_;
        delete node;
        node = next;
    }
    while (retiredBlocks_ != nullptr) {
        RetiredBlock* next = retiredBlocks_->next;
        delete[] retiredBlocks_->data;
        delete retiredBlocks_;
        retiredBlocks_ = next;
    }
}

DataNode* BinaryDataReader::MakeNode(const String& name, const String& typeName, uint8_t flags,
                                     int32_t arrayCount, int32_t offset, int32_t size) {
    if (nodesLeft_ <= 0) return nullptr;
    --nodesLeft_;
    DataNode* node = new DataNode;
    node->nodeName_ = name;
    node->typeName_ = typeName;
    node->nodeFlags_ = flags;
    node->arrayCount_ = arrayCount;
    node->offset_ = offset;
    node->size_ = size;
    node->reader_ = this;
    node->nextMade_ = madeNodes_;
    madeNodes_ = node;
    return node;
}

DataNode* BinaryDataReader::OpenDataFile() {
    // Offsets and type names belong to one file; nodes made for an earlier file stay owned.
    nodesByOffset_.Clear();
    ClearTypes();
    fileEnd_ = stream()->Size();
    entriesLeft_ = fileEnd_ / kMinEntryBytes + 1;
    nodesLeft_ = int64_t(kNodesPerFileByte) * fileEnd_;
    BoundedSource file(stream(), fileEnd_);
    int32_t fileSize = 0;  // not used: the stream knows its size
    String magic;
    if (!file.Int(fileSize) || !file.Text(magic)) return nullptr;
    if (magic.length() != zwf_format::kMagicLength ||
        std::memcmp(magic.data(), zwf_format::kMagic, zwf_format::kMagicLength) != 0) {
        return nullptr;
    }
    int32_t rootSize = 0;
    if (!ReadTypeTable() || !file.Int(rootSize)) return nullptr;

    // The header alone takes more bytes than the root needs of the node bound.
    return MakeNode("_root", "_roottype", kDataNodeCompound, 0, stream()->Tell(), rootSize);
}

bool BinaryDataReader::ReadTypeTable() {
    BoundedSource file(stream(), fileEnd_);
    int32_t typeCount = 0;
    if (!file.Count(typeCount, kMinTypeBytes)) return false;
    for (int32_t t = 0; t < typeCount; ++t) {
        DataType* type = new DataType;
        int32_t memberCount = 0;
        bool ok = file.Text(type->name) && file.Count(memberCount, kMinMemberBytes);
        for (int32_t m = 0; ok && m < memberCount; ++m) {
            String name;
            DataMember member;
            uint8_t isArray = 0;
            ok = file.Text(name) && file.Text(member.typeName) && file.Byte(isArray) &&
                 (isArray == 0 || file.Int(member.count));
            member.isArray = isArray != 0;
            if (ok) type->members.Insert(name, member, 1);
        }
        if (!ok) {
            delete type;
            return false;
        }
        delete types_.ValueRef(type->name);
        types_.Insert(type->name, type, 1);
    }
    ComputeTypeSizes();
    return true;
}

bool BinaryDataReader::LoadNode(DataNode* node, int32_t loadFlags, int32_t expandFlags) {
    if (node == nullptr) return false;
    if (++loadPass_ == 0) {  // the pass counter wrapped: forget every old mark
        for (DataNode* n = madeNodes_; n != nullptr; n = n->nextMade_) n->visitedPass_ = 0;
        loadPass_ = 1;
    }
    // Depth first with an explicit stack, children pushed last to first so that they load in
    // file order (the order decides which entry of a shared offset makes the shared node); a
    // deep file cannot exhaust the call stack.
    struct Pending {
        DataNode* node;
        int32_t flags;
    };
    DynArray<Pending> stack;
    int32_t depth = 0;
    auto push = [&](DataNode* n, int32_t flags) {
        if (depth == stack.count()) stack.Resize(depth * 2 + 16);
        stack.items()[depth++] = Pending{n, flags};
    };

    bool ok = true;
    push(node, loadFlags);
    while (depth > 0) {
        const Pending pending = stack.items()[--depth];
        DataNode* n = pending.node;
        if (n->visitedPass_ == loadPass_) continue;
        n->visitedPass_ = loadPass_;
        if (!LoadOne(n, pending.flags, expandFlags)) {
            ok = false;
            continue;
        }
        if ((n->nodeFlags_ & kDataNodeCompound) == 0 || (pending.flags & kLoadNoChildren)) {
            continue;
        }
        const int32_t childFlags = ChildFlags(pending.flags);
        const DataNodeMap& children = n->children_;
        const DataNodeMap::Node* entry = children.first();
        for (int32_t i = 0; i < children.count(); ++i) {
            entry = entry->prev;  // from the last child back to the first
            push(entry->value, childFlags);
        }
    }
    return ok;
}

bool BinaryDataReader::LoadOne(DataNode* node, int32_t flags, int32_t expandFlags) {
    DataNode* parent = node->parent_;
    const bool parentInMemory = parent != nullptr && !parent->IsLinkChild(node) &&
                                parent->inMemory_ && parent->data_ != nullptr;
    const bool compound = (node->nodeFlags_ & kDataNodeCompound) != 0;

    // 1. The source: the parent's block, the node's own block read whole, or the file. The
    // temporary stream shows a block without copying it: nothing writes to the block while
    // this node loads.
    MemStream block;
    char* blockToFree = nullptr;  // a block read whole that the node does not keep
    BoundedSource source(stream(), fileEnd_);
    if ((flags & kLoadFromParent) && parentInMemory) {
        block.ShowData(parent->data_, parent->size_, true);
        block.SetBase(parent->offset_);
        source = BoundedSource(&block, EndOf(parent->offset_, parent->size_));
        if (!node->inMemory_ && (flags & (kLoadBorrowParent | kLoadKeepBlock))) {
            int32_t at = 0;
            int32_t size = 0;
            if (!PlaceInside(node, parent->offset_, parent->size_, at, size)) return false;
            const bool borrow = (flags & kLoadBorrowParent) != 0;
            node->data_ = borrow ? parent->data_ + at : CopyBytes(parent->data_ + at, size);
            node->dataBorrowed_ = borrow;
            node->dataTaken_ = false;
            node->size_ = size;
            node->inMemory_ = true;
        }
    } else if ((flags & kLoadWholeBlock) || ((flags & kLoadKeepBlock) && !node->inMemory_)) {
        int32_t at = 0;
        int32_t size = 0;
        BoundedSource file(stream(), fileEnd_);
        if (!PlaceInside(node, 0, fileEnd_, at, size) || !file.Seek(at)) return false;
        char* whole = new char[size > 0 ? size : 1];
        if (!file.Bytes(whole, size)) {
            delete[] whole;
            return false;
        }
        block.ShowData(whole, size, true);
        block.SetBase(at);
        source = BoundedSource(&block, at + size);
        if (flags & kLoadKeepBlock) {
            if (node->data_ != nullptr && !node->dataTaken_ && !node->dataBorrowed_) {
                retiredBlocks_ = new RetiredBlock{node->data_, retiredBlocks_};
            }
            node->data_ = whole;
            node->dataBorrowed_ = false;
            node->dataTaken_ = false;
            node->size_ = size;
            node->inMemory_ = true;
        } else {
            blockToFree = whole;
        }
    }

    // 2. Whatever reader made the node, this one loads it from now on.
    node->reader_ = this;
    bool ok = true;
    if (compound && !node->listed_) {
        // 3. The directory. One that cannot be reached or breaks off keeps the entries read so
        // far and counts as listed, so a repeated load does not read it (and grow) again.
        // The directory lies inside the node's own block: a compound entry too small to hold
        // one (size 0 entries are never shared) cannot make a fresh node read a directory
        // again, and over the whole file no more entries are read than it could hold if each
        // were stored once, so overlapping directories cannot multiply the tree.
        BoundedSource directory = source;
        directory.Narrow(EndOf(node->offset_, node->size_));
        int32_t directorySize = 0;  // not used: the count says how many entries follow
        int32_t count = 0;
        ok = directory.Seek(node->offset_) && directory.Int(directorySize) &&
             directory.Count(count, kMinEntryBytes) && count <= entriesLeft_;
        if (ok) entriesLeft_ -= count;
        for (int32_t i = 0; ok && i < count; ++i) {
            String name;
            String typeName;
            uint8_t entryFlags = 0;
            int32_t arrayCount = 0;
            int32_t offset = 0;
            int32_t size = 0;
            ok = directory.Text(name) && directory.Text(typeName) && directory.Byte(entryFlags) &&
                 ((entryFlags & kDataNodeArray) == 0 || directory.Int(arrayCount)) &&
                 directory.Int(offset) && directory.Int(size);
            if (!ok) break;
            DataNode* child = nodesByOffset_.ValueRef(offset);
            if (child == nullptr) {
                child = MakeNode(name, typeName, entryFlags & ~kDataNodeLink, arrayCount, offset,
                                 size);
                ok = child != nullptr;  // the file's node bound is spent
                if (!ok) break;
                if (size != 0) nodesByOffset_.Insert(offset, child, 1);
            }
            if (entryFlags & kDataNodeLink) {
                node->AddChild(child, true);
            } else {
                node->AddChild(child, false);
                child->parent_ = node;
            }
        }
        node->listed_ = true;
    } else if (!compound && !node->listed_ && !node->inMemory_) {
        // 4. A leaf's bytes.
        if ((flags & kLoadBorrowParent) && parentInMemory) {
            int32_t at = 0;
            int32_t size = 0;
            ok = PlaceInside(node, parent->offset_, parent->size_, at, size);
            if (ok) {
                node->data_ = parent->data_ + at;
                node->dataBorrowed_ = true;
            }
        } else {
            const int32_t size = node->size_;
            ok = source.Seek(node->offset_) && size >= 0 && size <= source.Remaining();
            if (ok) {
                char* data = new char[size > 0 ? size : 1];
                ok = source.Bytes(data, size);
                if (ok) {
                    node->data_ = data;
                    node->dataBorrowed_ = false;
                } else {
                    delete[] data;
                }
            }
        }
        if (ok) {
            node->dataTaken_ = false;
            node->inMemory_ = true;
            if (flags & kLoadExpand) ExpandNode(node, expandFlags);
        }
    }

    // 6. (The children, step 5, are walked by LoadNode; they never read this node's
    // temporary stream.)
    delete[] blockToFree;
    return ok;
}
