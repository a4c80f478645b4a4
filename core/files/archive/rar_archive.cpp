#include "core/files/archive/rar_archive.h"

#include "core/files/archive/crc32.h"
#include "core/files/archive/rar_unpack20.h"
#include "core/types/value_types.h"

#include <cstring>
#include <memory>

namespace {

constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

constexpr uint8_t kMainHeaderType = 0x73;
constexpr uint8_t kFileHeaderType = 0x74;
constexpr uint8_t kSubBlockType = 0x77;

constexpr uint16_t kMainSolid = 0x08;
constexpr uint16_t kFileEncrypted = 0x04;
constexpr uint16_t kFileSolidContinuation = 0x10;
constexpr uint16_t kDataFollows = 0x8000;

constexpr int kMainHeaderSize = 13;
constexpr int kFileHeaderSize = 32;
constexpr int kMaxKeptName = 259;
constexpr int kMaxComparedName = 512;

constexpr uint8_t kMethodStored = 0x30;
constexpr uint8_t kMinVersion = 13;
constexpr uint8_t kMaxVersion = 20;

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
    h.packedSize = Read32(p + 7);
    h.unpackedSize = Read32(p + 11);
    h.fileCrc = Read32(p + 16);
    h.version = p[24];
    h.method = p[25];
    h.nameSize = Read16(p + 26);
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
bool HeaderCrcMatches(const uint8_t* header, uint16_t headerSize, uint16_t stored) {
    return (Crc32(header + 2, headerSize - 2u) & 0xFFFF) == stored;
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
    MemberSearch(ArchiveBlock* archive, const char* name, ByteBuffer* out)
        : a_(archive), name_(name), out_(out) {}

    bool Run();

private:
    bool Have(uint64_t n) const {
        return static_cast<uint64_t>(a_->offset) + n <= static_cast<uint64_t>(a_->size);
    }
    const uint8_t* Here() const { return a_->data + a_->offset; }
    // Decodes or copies one member: into out_ when wanted, else only through the window.
    bool ExtractData(const BlockHeader& h, const uint8_t* data, bool wanted);

    ArchiveBlock* a_;
    const char* name_;
    ByteBuffer* out_;
    bool solid_ = false;
    std::unique_ptr<RarUnpack20> unpacker_;
};

bool MemberSearch::Run() {
    a_->offset = 0;
    if (a_->data == nullptr || !Have(sizeof(kMarker)) ||
        std::memcmp(Here(), kMarker, sizeof(kMarker)) != 0) {
        return false;
    }
    a_->offset = sizeof(kMarker);
    if (!Have(kMainHeaderSize)) {
        return false;
    }
    BlockHeader main = ParseCommon(Here());
    if (main.type != kMainHeaderType || main.headerSize < kMainHeaderSize ||
        !Have(main.headerSize) || !HeaderCrcMatches(Here(), main.headerSize, main.crc)) {
        return false;
    }
    solid_ = (main.flags & kMainSolid) != 0;
    a_->offset += main.headerSize;

    // Every block moves the offset forward by at least 7 bytes, so the walk ends.
    while (Have(kFileHeaderSize)) {
        const uint8_t* start = Here();
        BlockHeader h = ParseHeader(start);
        if (h.headerSize < 7) {
            return false;
        }
        uint64_t next = static_cast<uint64_t>(a_->offset) + h.headerSize +
                        ((h.flags & kDataFollows) != 0 ? h.packedSize : 0);
        if (next > static_cast<uint64_t>(a_->size)) {
            return false;  // a block that claims more bytes than the archive holds
        }
        if (h.type == kSubBlockType) {
            return false;
        }
        if (h.type != kFileHeaderType) {
            a_->offset = static_cast<int32_t>(next);
            continue;
        }
        if (h.headerSize < kFileHeaderSize + h.nameSize ||
            !HeaderCrcMatches(start, h.headerSize, h.crc)) {
            return false;
        }
        // A Unicode name follows the plain one after a zero byte; the plain one is compared.
        char blockName[kMaxKeptName + 1];
        int kept = h.nameSize < kMaxKeptName ? h.nameSize : kMaxKeptName;
        std::memcpy(blockName, start + kFileHeaderSize, static_cast<size_t>(kept));
        blockName[kept] = 0;
        bool wanted = CompareMemberNames(name_, blockName) == 0;
        uint32_t dataSize = (h.flags & kDataFollows) != 0 ? h.packedSize : 0;
        h.packedSize = dataSize;
        if (wanted || solid_) {
            if (!ExtractData(h, start + h.headerSize, wanted)) {
                out_->Free();
                return false;
            }
        }
        a_->offset = static_cast<int32_t>(next);
        if (wanted) {
            return true;
        }
    }
    return false;
}

bool MemberSearch::ExtractData(const BlockHeader& h, const uint8_t* data, bool wanted) {
    if (h.version < kMinVersion || h.version > kMaxVersion) {
        return false;
    }
    if ((h.flags & kFileEncrypted) != 0) {
        // Without a key the bytes cannot be checked; a solid stream cannot go on past it.
        return false;
    }
    uint8_t* out = nullptr;
    if (wanted) {
        if (h.unpackedSize > 0x7FFFFFFFu) {
            return false;
        }
        out_->Resize(static_cast<int32_t>(h.unpackedSize));
        out = out_->Data();
    }
    if (h.method == kMethodStored) {
        // Fewer stored bytes than the member's size means the header lies.
        if (h.packedSize < h.unpackedSize) {
            return false;
        }
        if (out != nullptr) {
            return CopyStored(data, h.unpackedSize, out) == h.fileCrc;
        }
    } else if (h.unpackedSize > 0) {
        if (h.unpackedSize > (static_cast<uint64_t>(h.packedSize) + 1) * kMaxExpansionPerByte) {
            return false;
        }
        if (unpacker_ == nullptr) {
            unpacker_ = std::make_unique<RarUnpack20>();
        }
        uint32_t written = 0;
        bool keep = (h.flags & kFileSolidContinuation) != 0;
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
    MemberSearch search(archive, name != nullptr ? name : "", out);
    if (!search.Run()) {
        out->Free();
        return false;
    }
    return true;
}

int CompareMemberNames(const char* a, const char* b) {
    char left[kMaxComparedName + 1];
    char right[kMaxComparedName + 1];
    PrepareName(a != nullptr ? a : "", left);
    PrepareName(b != nullptr ? b : "", right);
    int c = std::strcmp(left, right);  // strcmp compares as unsigned char
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
