// ArchiveFileSource: a RAR archive in memory mounted as a FileSource, so that locators with
// the archive flag find its members (the media archive lives in a "MemFile" resource).
#pragma once

#include "core/files/archive/rar_archive.h"
#include "core/files/file_source.h"
#include "core/text/string.h"
#include "core/types/byte_buffer.h"

#include <cstdint>
#include <memory>

class ArchiveFileSource : public FileSource {
public:
    ArchiveFileSource() = default;
    ArchiveFileSource(const ArchiveFileSource&) = delete;
    ArchiveFileSource& operator=(const ArchiveFileSource&) = delete;
    // Lets go of the archive as Unmount does.
    ~ArchiveFileSource() override = default;

    // Unmounts, then takes the archive the locator names: a resource or a memory block with
    // noCopy is shown in place, a disk file is mapped (FileRef::MapWholeFile), anything else is
    // copied. False when the read fails; nothing is mounted then. The archive is not checked
    // until a member is asked. A mapped file must stay as it is while mounted (see
    // MapViewOfFile): the reads of its members see the file as it is when they read.
    bool Mount(const FileRef& archive) override;
    // Lets go of the archive; afterwards nothing is mounted. Streams opened before keep what
    // they show.
    void Unmount() override;
    // True when the member extracts, CRC check and all. The member's bytes are kept for the
    // next call, so that the Open which follows a successful resolve does not extract again.
    bool Exists(String name) override;
    // A new MemStream over the member, or null when it does not extract. A mode with bit 2
    // (write) gives a stream whose rope holds a copy of the member; otherwise the stream reads
    // the member's bytes without a copy of its own: a stored member of an archive this source
    // owns or that is a resource is shown where it lies in the archive (its CRC checked there),
    // and the stream keeps a mapped or copied archive alive for as long as it needs it. A
    // member of a block lent by the caller, which the caller may still change, and a packed
    // member are extracted into a block the stream owns. The caller deletes the stream. Right
    // after an Exists that answered true for the same member (by CompareMemberNames) it takes
    // the bytes that call checked instead of extracting again.
    Stream* Open(String name, int mode) override;

    // The one member kept: set by an Exists that answers true, and dropped by the next call of
    // any of Mount, Unmount, Exists or Open (which uses it first when it asks for the same
    // member). Dropping it by hand frees its bytes at once; the next Open then extracts anew.
    void DropKeptMember();
    bool HasKeptMember() const { return hasKept_; }

    // Whether the mounted bytes are lent (true too while nothing is mounted).
    bool archiveBorrowed() const { return archive_.length() == 0 || owned_ == nullptr; }
    int32_t archiveSize() const { return archive_.length(); }

private:
    // A member's bytes and what keeps them alive: null when they lie in a resource, else the
    // archive this source owns or a block of their own.
    struct Member {
        const uint8_t* data = nullptr;
        int32_t size = 0;
        std::shared_ptr<const void> keeper;
    };

    // Finds the member; false with `out` empty when it does not extract.
    bool Extract(const String& name, Member& out);
    // Moves the kept member into `out` when it is the member `name` finds, and drops it in any
    // case; true when it was moved.
    bool TakeKept(const String& name, Member& out);

    // The archive bytes, always shown without owning them: the lender's, or owned_'s.
    String archive_;
    // The archive when this source owns it (a mapped file or a copy); shared with the streams
    // that show its stored members.
    std::shared_ptr<ByteBuffer> owned_;
    // Whether stored members may be shown in place: the archive is a resource or owned_, whose
    // bytes nobody changes while they are shown.
    bool lendMembers_ = false;
    // Where the members lie, made at the first look-up of archives whose bytes stay as they are
    // (lendMembers_); the others are walked at every look-up.
    ArchiveIndex index_;
    bool indexTried_ = false;
    // The member the last Exists extracted (hasKept_: a directory entry keeps 0 bytes).
    String keptName_;
    Member kept_;
    bool hasKept_ = false;
};
