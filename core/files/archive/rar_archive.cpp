#include "core/files/archive/rar_archive.h"

#include "core/files/archive/crc32.h"
#include "core/files/archive/rar_format.h"
#include "core/files/archive/rar_unpack20.h"
#include "core/types/value_types.h"

#include <cstring>
#include <memory>

namespace {

using namespace rar_format;

constexpr int kMaxKeptName = 259;
constexpr int kMaxComparedName = 512;

// No RAR 2.0 symbol yields more than 260 bytes and every symbol takes at least one bit, so
// a larger claimed size is a lie; refusing it keeps a few forged bytes from asking for
// gigabytes.
constexpr uint64_t kMaxExpansionPerByte = 8 * 260;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The block header fields every block type shares, and those of a file header.
struct BlockHeader {
    uint16_t crc;
    uint8_t type;
    uint16_t flags;
    uint16_t headerSize;
    uint32_t packedSize;
    uint32_t unpackedSize;
    uint32_t fileCrc;
    uint8_t version;
    uint8_t method;
    uint16_t nameSize;
};

// The 7 bytes every block starts with; the rest stays 0.
BlockHeader ParseCommon(const uint8_t* p) {
    BlockHeader h{};
    h.crc = Read16(p);
    h.type = p[2];
    h.flags = Read16(p + 3);
    h.headerSize = Read16(p + 5);
    return h;
}

// The 32-byte layout of a file header, which every other block is read with as well.
BlockHeader ParseHeader(const uint8_t* p) {
    BlockHeader h = ParseCommon(p);
    h.packedSize = Read32(p + kFilePackedSize);
    h.unpackedSize = Read32(p + kFileUnpackedSize);
    h.fileCrc = Read32(p + kFileCrc);
    h.version = p[kFileVersion];
    h.method = p[kFileMethod];
    h.nameSize = Read16(p + kFileNameSize);
    return h;
}

// Copies a stored member and returns its CRC-32. Chunk by chunk, each checked while it is in
// the cache and then copied from there, so the source is read from memory only once.
uint32_t CopyStored(const uint8_t* data, uint32_t size, uint8_t* out) {
    constexpr uint32_t kChunk = 64 << 10;
    uint32_t crc = 0;
    for (uint32_t done = 0; done < size;) {
        uint32_t n = size - done < kChunk ? size - done : kChunk;
        crc = Crc32(data + done, n, crc);
        std::memcpy(out + done, data + done, n);
        done += n;
    }
    return crc;
}

// The stored header CRC is the low half of the CRC-32 of the header from its type byte on.
// A header that embeds a comment (format 1.5 to 2.0) has its CRC over less than that, up to
// CommentedHeaderCrcEnd: either answer is accepted for it, as archivers of both kinds exist.
bool HeaderCrcMatches(const uint8_t* header, const BlockHeader& h) {
    constexpr int kCovered = 2;  // the CRC field itself is not covered
    if ((Crc32(header + kCovered, h.headerSize - size_t{kCovered}) & 0xFFFF) == h.crc) {
        return true;
    }
    uint32_t end = CommentedHeaderCrcEnd(h.type, h.flags, h.nameSize);
    return end != 0 && end <= h.headerSize &&
           (Crc32(header + kCovered, end - size_t{kCovered}) & 0xFFFF) == h.crc;
}

void PrepareName(const char* in, char (&out)[kMaxComparedName + 1]) {
    int n = 0;
    for (; n < kMaxComparedName && in[n] != 0; ++n) {
        unsigned char c = static_cast<unsigned char>(in[n]);
        if (c == '\\' || c == '/') {
            c = '_';
        } else if (c >= 'a' && c <= 'z') {
            c = static_cast<unsigned char>(c - 'a' + 'A');
        }
        out[n] = static_cast<char>(c);
    }
    out[n] = 0;
}

// Walks the blocks from the first one after the main header to the member called name.
class MemberSearch {
public:
    // With `lent`, a wanted stored member is lent there instead of copied into out.
    MemberSearch(ArchiveBlock* archive, const char* name, ByteBuffer* out, MemberView* lent)
        : a_(archive), name_(name), out_(out), lent_(lent) {}

    bool Run();
    // The member whose file block an index put at offset, in an archive that is not solid;
    // walks from the start after all when that block is not the member's.
    bool RunAt(int32_t offset);

private:
    // Decodes or copies one member: into out_ when wanted, else only through the window (a
    // member the window cannot take is passed over, see streamLost_). False when the wanted
    // member does not extract, or an earlier one's data is corrupt.
    bool ExtractData(const BlockHeader& h, const uint8_t* data, bool wanted);

    ArchiveBlock* a_;
    const char* name_;
    ByteBuffer* out_;
    MemberView* lent_;
    bool solid_ = false;
    // Set when an encrypted packed member of a solid archive was passed over: the decoder's
    // window, tables and distances would now come from bytes that cannot be decrypted, so a
    // packed member that continues the stream (kFileSolid) cannot be decoded. Cleared by a
    // packed member that starts the stream anew. Stored members never touch the stream.
    bool streamLost_ = false;
    std::unique_ptr<RarUnpack20> unpacker_;
};

// Checks the marker and the main header and moves the offset past them; false when they do not
// check (the offset then stays at the marker or the main header).
bool PassMainHeader(ArchiveBlock* a, bool* solid) {
    a->offset = 0;
    if (a->data == nullptr || a->size < 0 || static_cast<size_t>(a->size) < sizeof(kMarker) ||
        std::memcmp(a->data, kMarker, sizeof(kMarker)) != 0) {
        return false;
    }
    a->offset = static_cast<int32_t>(sizeof(kMarker));
    if (a->size - a->offset < kMainHeaderSize) {
        return false;
    }
    const uint8_t* at = a->data + a->offset;
    BlockHeader main = ParseCommon(at);
    if (main.type != kMainHeaderType || main.headerSize < kMainHeaderSize || a->size - a->offset < main.headerSize ||
        !HeaderCrcMatches(at, main)) {
        return false;
    }
    *solid = (main.flags & kMainSolid) != 0;
    a->offset += main.headerSize;
    return true;
}

// One block of the walk, read and checked at an offset.
struct Block {
    enum Kind { kEnd, kBad, kOther, kFile } kind = kEnd;
    BlockHeader h{};
    const uint8_t* start = nullptr;
    int32_t next = 0;                       // where the next block starts
    char name[kMaxKeptName + 1] = {};       // a file block's plain name, cut to kMaxKeptName
};

// kEnd when no block header fits any more; kBad for a block the walk stops at (a header
// smaller than the common part, a block claiming more bytes than the archive holds, a sub
// block, a file header too small for its name or with a wrong CRC). A file block's packed
// size is 0 when no data follows.
Block ReadBlock(const ArchiveBlock& a, int32_t offset) {
    Block b;
    if (static_cast<uint64_t>(offset) + kFileHeaderSize > static_cast<uint64_t>(a.size)) {
        return b;
    }
    b.start = a.data + offset;
    b.h = ParseHeader(b.start);
    b.kind = Block::kBad;
    if (b.h.headerSize < kBlockHeaderSize) {
        return b;
    }
    uint64_t next = static_cast<uint64_t>(offset) + b.h.headerSize +
                    ((b.h.flags & kDataFollows) != 0 ? b.h.packedSize : 0);
    if (next > static_cast<uint64_t>(a.size) || b.h.type == kSubBlockType) {
        return b;
    }
    b.next = static_cast<int32_t>(next);
    if (b.h.type != kFileHeaderType) {
        b.kind = Block::kOther;
        return b;
    }
    if (b.h.headerSize < kFileHeaderSize + b.h.nameSize || !HeaderCrcMatches(b.start, b.h)) {
        return b;
    }
    // A Unicode name follows the plain one after a zero byte; the plain one is compared.
    int kept = b.h.nameSize < kMaxKeptName ? b.h.nameSize : kMaxKeptName;
    std::memcpy(b.name, b.start + kFileHeaderSize, static_cast<size_t>(kept));
    b.name[kept] = 0;
    b.h.packedSize = (b.h.flags & kDataFollows) != 0 ? b.h.packedSize : 0;
    b.kind = Block::kFile;
    return b;
}

bool MemberSearch::Run() {
    if (!PassMainHeader(a_, &solid_)) {
        return false;
    }
    // Every block moves the offset forward by at least 7 bytes, so the walk ends.
    for (;;) {
        Block b = ReadBlock(*a_, a_->offset);
        if (b.kind == Block::kEnd || b.kind == Block::kBad) {
            return false;
        }
        if (b.kind == Block::kFile) {
            bool wanted = CompareMemberNames(name_, b.name) == 0;
            if (wanted || solid_) {
                if (!ExtractData(b.h, b.start + b.h.headerSize, wanted)) {
                    out_->Free();
                    return false;
                }
            }
            if (wanted) {
                a_->offset = b.next;
                return true;
            }
        }
        a_->offset = b.next;
    }
}

bool MemberSearch::RunAt(int32_t offset) {
    a_->offset = offset;
    Block b = ReadBlock(*a_, offset);
    if (b.kind != Block::kFile || CompareMemberNames(name_, b.name) != 0) {
        // Not the block the index recorded: the bytes are not the ones indexed.
        return Run();
    }
    if (!ExtractData(b.h, b.start + b.h.headerSize, true)) {
        out_->Free();
        return false;
    }
    a_->offset = b.next;
    return true;
}

bool MemberSearch::ExtractData(const BlockHeader& h, const uint8_t* data, bool wanted) {
    if (h.version < kMinVersion || h.version > kMaxVersion) {
        return false;
    }
    const bool packed = h.method != kMethodStored && h.unpackedSize > 0;
    if ((h.flags & kFileEncrypted) != 0) {
        // Without a key the member cannot be read. Only in a solid archive is an unwanted one
        // looked at, and the search goes on past it; but a packed one would have fed the
        // stream that later members continue.
        if (!wanted && packed) {
            streamLost_ = true;
        }
        return !wanted;
    }
    uint8_t* out = nullptr;
    const bool lend = wanted && lent_ != nullptr && h.method == kMethodStored;
    if (wanted) {
        if (h.unpackedSize > 0x7FFFFFFFu) {
            return false;
        }
        if (!lend) {
            out_->Resize(static_cast<int32_t>(h.unpackedSize));
            out = out_->Data();
        }
    }
    if (h.method == kMethodStored) {
        // Fewer stored bytes than the member's size means the header lies.
        if (h.packedSize < h.unpackedSize) {
            return false;
        }
        if (lend) {
            if (Crc32(data, h.unpackedSize) != h.fileCrc) {
                return false;
            }
            lent_->data = data;
            lent_->size = static_cast<int32_t>(h.unpackedSize);
            return true;
        }
        if (out != nullptr) {
            return CopyStored(data, h.unpackedSize, out) == h.fileCrc;
        }
    } else if (h.unpackedSize > 0) {
        if (h.unpackedSize > (static_cast<uint64_t>(h.packedSize) + 1) * kMaxExpansionPerByte) {
            return false;
        }
        bool keep = (h.flags & kFileSolid) != 0;
        if (keep && streamLost_) {
            // It depends on the encrypted member's data: absent when wanted, else passed over.
            return !wanted;
        }
        streamLost_ = false;
        if (unpacker_ == nullptr) {
            unpacker_ = std::make_unique<RarUnpack20>();
        }
        uint32_t written = 0;
        if (!unpacker_->Decode(data, h.packedSize, h.unpackedSize, keep, out,
                               h.unpackedSize, &written)) {
            return false;
        }
        if (out != nullptr && written != h.unpackedSize) {
            return false;
        }
    }
    return !wanted || Crc32(out, h.unpackedSize) == h.fileCrc;
}

}  // namespace

bool ExtractArchiveMember(ByteBuffer* out, const char* name, ArchiveBlock* archive) {
    out->Free();
    MemberSearch search(archive, name != nullptr ? name : "", out, nullptr);
    if (!search.Run()) {
        out->Free();
        return false;
    }
    return true;
}

bool LendArchiveMember(MemberView* view, ByteBuffer* decoded, const char* name,
                       ArchiveBlock* archive, const ArchiveIndex* index) {
    *view = MemberView();
    decoded->Free();
    MemberView lent;
    MemberSearch search(archive, name != nullptr ? name : "", decoded, &lent);
    bool found = false;
    if (index != nullptr && index->indexed()) {
        const int32_t at = index->Find(name != nullptr ? name : "");
        if (at >= 0) {
            found = search.RunAt(at);
        } else {
            // Where the walk would have stopped without finding it.
            archive->offset = index->walkEnd();
        }
    } else {
        found = search.Run();
    }
    if (!found) {
        decoded->Free();
        return false;
    }
    if (lent.data != nullptr) {
        *view = lent;
    } else {
        view->data = decoded->Data();
        view->size = decoded->Size();
    }
    return true;
}

bool ArchiveIndex::Build(const ArchiveBlock& archive) {
    Clear();
    ArchiveBlock a = archive;
    bool solid = false;
    if (!PassMainHeader(&a, &solid) || solid) {
        return false;
    }
    for (;;) {
        Block b = ReadBlock(a, a.offset);
        if (b.kind == Block::kEnd || b.kind == Block::kBad) {
            break;
        }
        if (b.kind == Block::kFile) {
            char key[kMaxComparedName + 1];
            PrepareName(b.name, key);
            // The walk stops at the first block of a name: later ones of the same name are
            // never reached.
            blocks_.emplace(key, a.offset);
        }
        a.offset = b.next;
    }
    walkEnd_ = a.offset;
    indexed_ = true;
    return true;
}

void ArchiveIndex::Clear() {
    blocks_.clear();
    walkEnd_ = 0;
    indexed_ = false;
}

int32_t ArchiveIndex::Find(const char* name) const {
    char key[kMaxComparedName + 1];
    PrepareName(name != nullptr ? name : "", key);
    auto it = blocks_.find(std::string_view(key));
    return it == blocks_.end() ? -1 : it->second;
}

int CompareMemberNames(const char* a, const char* b) {
    char left[kMaxComparedName + 1];
    char right[kMaxComparedName + 1];
    PrepareName(a != nullptr ? a : "", left);
    PrepareName(b != nullptr ? b : "", right);
    int c = std::strcmp(left, right);  // strcmp compares as unsigned char
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
