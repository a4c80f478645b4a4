#include "core/files/archive/archive_file_source.h"

#include "core/files/archive/rar_archive.h"
#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"

#include <utility>

bool ArchiveFileSource::Mount(const FileRef& archive) {
    Unmount();
    FileRef source = archive;
    const uint8_t* resource = nullptr;
    int32_t resourceSize = 0;
    if ((source.flags & FileRef::kResource) != 0 &&
        LoadResourceData(source.resourceId, "MemFile", &resource, &resourceSize)) {
        // Read-only bytes of the program itself, there for the whole run.
        archive_.Borrow(reinterpret_cast<const char*>(resource), resourceSize);
        lendMembers_ = true;
        return true;
    }
    if ((source.flags & FileRef::kMemory) != 0 && source.noCopy) {
        archive_.Borrow(reinterpret_cast<const char*>(source.block.data), source.block.size);
        return true;
    }
    auto owned = std::make_shared<ByteBuffer>();
    if (!source.MapWholeFile(*owned)) {
        return false;
    }
    archive_.Borrow(reinterpret_cast<const char*>(owned->Data()), owned->Size());
    owned_ = std::move(owned);
    lendMembers_ = true;
    return true;
}

void ArchiveFileSource::Unmount() {
    DropKeptMember();
    archive_ = String();
    owned_.reset();
    lendMembers_ = false;
    index_.Clear();
    indexTried_ = false;
}

void ArchiveFileSource::DropKeptMember() {
    hasKept_ = false;
    keptName_ = String();
    kept_ = Member();
}

bool ArchiveFileSource::TakeKept(const String& name, Member& out) {
    // Names that compare equal find the same member: the search compares them the same way.
    bool same = hasKept_ && CompareMemberNames(keptName_.Text(), name.Text()) == 0;
    if (same) {
        out = std::move(kept_);
    }
    DropKeptMember();
    return same;
}

bool ArchiveFileSource::Extract(const String& name, Member& out) {
    ArchiveBlock block;
    block.data = reinterpret_cast<const uint8_t*>(archive_.data());
    block.size = archive_.length();
    auto decoded = std::make_shared<ByteBuffer>();
    if (lendMembers_) {
        // Bytes nobody changes while they are mounted: one walk over the headers serves every
        // later look-up.
        if (!indexTried_) {
            index_.Build(block);
            indexTried_ = true;
        }
        MemberView view;
        if (!LendArchiveMember(&view, decoded.get(), name.Text(), &block, &index_)) {
            return false;
        }
        out.data = view.data;
        out.size = view.size;
        if (decoded->Data() != nullptr) {
            out.keeper = std::move(decoded);
        } else {
            out.keeper = owned_;
        }
        return true;
    }
    if (!ExtractArchiveMember(decoded.get(), name.Text(), &block)) {
        return false;
    }
    out.data = decoded->Data();
    out.size = decoded->Size();
    out.keeper = std::move(decoded);
    return true;
}

bool ArchiveFileSource::Exists(String name) {
    Member member;
    if (!TakeKept(name, member) && !Extract(name, member)) {
        return false;
    }
    kept_ = std::move(member);
    keptName_ = std::move(name);
    hasKept_ = true;
    return true;
}

Stream* ArchiveFileSource::Open(String name, int mode) {
    Member member;
    if (!TakeKept(name, member) && !Extract(name, member)) {
        return nullptr;
    }
    auto* stream = new MemStream;
    stream->Open(name, mode);
    if ((mode & 2) != 0) {
        stream->ResetRope(member.data, member.size);
    } else {
        stream->ShowShared(member.data, member.size, std::move(member.keeper));
    }
    return stream;
}
