#include "core/files/archive/archive_file_source.h"

#include "core/files/archive/rar_archive.h"
#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/types/value_types.h"

#include <utility>

bool ArchiveFileSource::Mount(const FileRef& archive) {
    Unmount();
    FileRef source = archive;
    bool mayBorrow = true;
    if (!source.ReadWholeFile(archive_, &mayBorrow)) {
        archive_ = String();
        return false;
    }
    return true;
}

void ArchiveFileSource::Unmount() {
    DropKeptMember();
    archive_ = String();
}

void ArchiveFileSource::DropKeptMember() {
    hasKept_ = false;
    keptName_ = String();
    kept_.Free();
}

bool ArchiveFileSource::TakeKept(const String& name, ByteBuffer& out) {
    // Names that compare equal find the same member: the search compares them the same way.
    bool same = hasKept_ && CompareMemberNames(keptName_.Text(), name.Text()) == 0;
    if (same) {
        out = std::move(kept_);
    }
    DropKeptMember();
    return same;
}

bool ArchiveFileSource::Extract(const String& name, ByteBuffer& out) {
    ArchiveBlock block;
    block.data = reinterpret_cast<const uint8_t*>(archive_.data());
    block.size = archive_.length();
    return ExtractArchiveMember(&out, name.Text(), &block);
}

bool ArchiveFileSource::Exists(String name) {
    ByteBuffer member;
    if (!TakeKept(name, member) && !Extract(name, member)) {
        return false;
    }
    kept_ = std::move(member);
    keptName_ = std::move(name);
    hasKept_ = true;
    return true;
}

Stream* ArchiveFileSource::Open(String name, int mode) {
    ByteBuffer member;
    if (!TakeKept(name, member) && !Extract(name, member)) {
        return nullptr;
    }
    auto* stream = new MemStream;
    stream->Open(name, mode);
    if ((mode & 2) != 0) {
        stream->ResetRope(member.Data(), member.Size());
    } else {
        stream->ShowData(member.Data(), member.Size(), false);
    }
    return stream;
}
