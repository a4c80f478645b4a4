// Reading members out of a RAR archive (format versions 1.5 to 2.0) held in memory: the block
// walk, member lookup by name, stored members and members packed with the RAR 2.0 method.
#pragma once

#include <cstdint>

class ByteBuffer;

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
bool LendArchiveMember(MemberView* view, ByteBuffer* decoded, const char* name,
                       ArchiveBlock* archive);

// Three-way order (-1, 0, 1) of two member names, each cut to 512 bytes: '\' and '/' both
// count as '_', letters count as upper case, then bytes compare unsigned. So
// "media/fonts/a.fs" equals "Media\Fonts\A.FS", and "a_b" equals "a/b".
int CompareMemberNames(const char* a, const char* b);
