// ArchiveFileSource: a RAR archive in memory mounted as a FileSource, so that locators with
// the archive flag find its members (the media archive lives in a "MemFile" resource).
#pragma once

#include "core/files/file_source.h"
#include "core/text/string.h"
#include "core/types/value_types.h"

class ArchiveFileSource : public FileSource {
public:
    ArchiveFileSource() = default;
    ArchiveFileSource(const ArchiveFileSource&) = delete;
    ArchiveFileSource& operator=(const ArchiveFileSource&) = delete;
    // Frees a copied archive; lent bytes are left alone.
    ~ArchiveFileSource() override = default;

    // Unmounts, then reads the whole archive the locator names, lent without copying when the
    // locator allows it (a resource, a memory block with noCopy), else copied. False when the
    // read fails; nothing is mounted then. The archive is not checked until a member is asked.
    bool Mount(const FileRef& archive) override;
    // Frees a copied archive; afterwards nothing is mounted.
    void Unmount() override;
    // True when the member extracts, CRC check and all. The extracted bytes are kept for the
    // next call, so that the Open which follows a successful resolve does not extract again.
    bool Exists(String name) override;
    // A new MemStream over the extracted member, or null when it does not extract. A mode
    // with bit 2 (write) gives a stream whose rope holds a copy of the member; otherwise the
    // stream reads the member's bytes. The caller deletes the stream. Right after an Exists
    // that answered true for the same member (by CompareMemberNames) it takes the bytes that
    // call extracted instead of extracting again.
    Stream* Open(String name, int mode) override;

    // The one member kept: set by an Exists that answers true, and dropped by the next call of
    // any of Mount, Unmount, Exists or Open (which uses it first when it asks for the same
    // member). Dropping it by hand frees its bytes at once; the next Open then extracts anew.
    void DropKeptMember();
    bool HasKeptMember() const { return hasKept_; }

    // Whether the mounted bytes are lent (true too while nothing is mounted).
    bool archiveBorrowed() const { return archive_.length() == 0 || archive_.borrowed(); }
    int32_t archiveSize() const { return archive_.length(); }

private:
    // Extracts the member into `out`; false with `out` empty when it does not extract.
    bool Extract(const String& name, ByteBuffer& out);
    // Moves the kept member into `out` when it is the member `name` finds, and drops it in any
    // case; true when it was moved.
    bool TakeKept(const String& name, ByteBuffer& out);

    // The archive bytes: borrowed from the lender or an owned copy.
    String archive_;
    // The member the last Exists extracted (hasKept_: a directory entry keeps 0 bytes).
    String keptName_;
    ByteBuffer kept_;
    bool hasKept_ = false;
};
