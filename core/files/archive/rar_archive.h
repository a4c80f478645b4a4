// Reading members out of a RAR archive (format versions 1.5 to 2.0) held in memory: the block
// walk, member lookup by name, stored members and members packed with the RAR 2.0 method.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

class ByteBuffer;
class ArchiveIndex;

// An archive in memory and the reader's position in it. The bytes are not owned.
struct ArchiveBlock {
    const uint8_t* data = nullptr;
    int32_t size = 0;
    // Reset to 0 by every extraction; afterwards just past the last block read.
    int32_t offset = 0;
};

// Extracts the member called `name` (matched with CompareMemberNames) from the archive:
// true with out holding the member's bytes (a directory entry gives 0 bytes). False, with out
// empty, when the data is not a RAR archive, the member is absent, needs a format version
// outside 1.3 to 2.0, is encrypted, or anything on the way is corrupt (a header or member
// CRC that does not match, sizes that lie, bad compressed data). A header CRC may cover the
// whole header or, for a header with an embedded comment, the part the format covers (see
// rar_format::CommentedHeaderCrcEnd). In a solid archive every earlier member is decoded on
// the way; an encrypted one is passed over (there is no key), and a packed member that
// continues the solid stream after an encrypted packed one, before any member starts the
// stream anew, is absent too: its code tables and window come from the encrypted bytes.
// Stored members never depend on the stream. Never reads outside archive->data[0, size).
bool ExtractArchiveMember(ByteBuffer* out, const char* name, ArchiveBlock* archive);

// A member's bytes where they lie, not owned.
struct MemberView {
    const uint8_t* data = nullptr;
    int32_t size = 0;
};

// ExtractArchiveMember without the copy of a stored member: the same search and the same
// answer, but a stored member's bytes are lent where they lie in archive->data (CRC checked
// there, as a copy's would be) and `decoded` stays empty; a packed member is decoded into
// `decoded`. True with *view showing the member's bytes either way; false with *view empty and
// `decoded` empty. A lent view lives as long as the archive's bytes, and only the archive's
// owner knows whether they can change: a member that must not change after its check, or that
// the caller writes to, has to be copied out.
//
// With an index built over the same bytes (ArchiveIndex::Build answered true) the member's
// block is found without the walk: the same answer and the same offset afterwards. Should the
// block at the indexed place not be the member's, the search walks after all.
bool LendArchiveMember(MemberView* view, ByteBuffer* decoded, const char* name,
                       ArchiveBlock* archive, const ArchiveIndex* index = nullptr);

// Where each member's file block starts, from one walk over the block headers, so that a
// look-up costs a hash probe instead of a walk over every header before the member (the media
// archive holds hundreds of members and a scene asks for each of them, often twice, once per
// search folder). For bytes that do not change while the index is used.
class ArchiveIndex {
public:
    // Walks the headers as ExtractArchiveMember does, checks and all, recording the first file
    // block of every name up to where that walk stops. False, with nothing indexed, when the
    // marker or the main header does not check, or for a solid archive: its members decode
    // only in order, so a look-up there has to walk anyway.
    bool Build(const ArchiveBlock& archive);
    void Clear();
    bool indexed() const { return indexed_; }
    // The offset of the first file block whose name compares equal (CompareMemberNames), or -1.
    int32_t Find(const char* name) const;
    // Where the walk stopped: the end of the blocks, or the first block it refuses.
    int32_t walkEnd() const { return walkEnd_; }

private:
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    // Keyed by the name as CompareMemberNames prepares it.
    std::unordered_map<std::string, int32_t, Hash, std::equal_to<>> blocks_;
    int32_t walkEnd_ = 0;
    bool indexed_ = false;
};

// Three-way order (-1, 0, 1) of two member names, each cut to 512 bytes: '\' and '/' both
// count as '_', letters count as upper case, then bytes compare unsigned. So
// "media/fonts/a.fs" equals "Media\Fonts\A.FS", and "a_b" equals "a/b".
int CompareMemberNames(const char* a, const char* b);
