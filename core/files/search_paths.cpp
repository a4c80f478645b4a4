#include "core/files/search_paths.h"

#include "core/files/file_source.h"
#include "core/text/paths.h"

namespace {

using Ring = LinkedList<FileRef>;

// The directory or prefix without its trailing separators, then "/" and the name; the name
// alone for an empty directory.
String Candidate(const String& directory, const String& name) {
    const String trimmed = TrimRight(TrimRight(directory, '\\'), '/');
    if (trimmed.length() == 0) return name;
    return ConcatStrings(ConcatStringText(trimmed, "/"), name);
}

void AddAll(SearchPaths& paths, const Ring& ring) {
    const Ring::Node* node = ring.cursor();
    for (int32_t i = 0; i < ring.count(); ++i, node = node->next) paths.Add(node->element);
}

}  // namespace

void SearchPaths::Add(const FileRef& entry) {
    if ((entry.flags & FileRef::kDisk) != 0 && !directories_.Contains(entry)) {
        directories_.Append(entry);
    }
    if ((entry.flags & FileRef::kArchive) != 0 && entry.archive != nullptr &&
        !archives_.Contains(entry)) {
        archives_.Append(entry);
    }
}

void SearchPaths::Merge(const SearchPaths& other) {
    // Copies first: merging a SearchPaths into itself must not walk a ring that grows.
    const Ring directories = other.directories_;
    const Ring archives = other.archives_;
    AddAll(*this, directories);
    AddAll(*this, archives);
}

void SearchPaths::ForgetArchive(const FileSource* archive) {
    if (archive == nullptr) return;
    for (Ring* ring : {&directories_, &archives_}) {
        Ring::Node* keep = ring->cursor();
        Ring::Node* node = ring->first();
        const int32_t count = ring->count();
        for (int32_t i = 0; i < count; ++i) {
            Ring::Node* next = node->next;
            if (node->element.archive == archive) {
                if (node == keep) keep = nullptr;
                ring->SetCursor(node);
                ring->Take();
            }
            node = next;
        }
        if (keep != nullptr) ring->SetCursor(keep);
    }
}

bool SearchPaths::ResolveFile(FileRef& ref) {
    if ((ref.flags & FileRef::kMemory) != 0) {
        ref.flags = FileRef::kMemory;
        return true;
    }
    if ((ref.flags & FileRef::kResource) != 0) {
        const uint8_t* data = nullptr;
        int32_t size = 0;
        if (LoadResourceData(ref.resourceId, "MemFile", &data, &size)) {
            ref.flags = FileRef::kResource;
            return true;
        }
    }
    const String name = TrimLeft(TrimLeft(ref.name, '/'), '\\');

    if ((ref.flags & FileRef::kDisk) != 0) {
        if (FileExists(name.Text())) {
            ref.flags = FileRef::kDisk;
            ref.name = name;
            return true;
        }
        Ring::Node* node = directories_.cursor();
        for (int32_t i = 0; i < directories_.count(); ++i, node = node->next) {
            String candidate = Candidate(node->element.name, name);
            if (FileExists(candidate.Text())) {
                directories_.SetCursor(node);
                ref.flags = FileRef::kDisk;
                ref.name = candidate;
                return true;
            }
        }
    }
    if ((ref.flags & FileRef::kArchive) == 0) return false;

    if (ref.archive != nullptr && ref.archive->Exists(name)) {
        ref.flags = FileRef::kArchive;
        ref.name = name;
        return true;
    }
    Ring::Node* node = archives_.cursor();
    for (int32_t i = 0; i < archives_.count(); ++i, node = node->next) {
        FileSource* archive = node->element.archive;
        String candidate = Candidate(node->element.name, name);
        if (archive != nullptr && archive->Exists(candidate)) {
            archives_.SetCursor(node);
            ref.flags = FileRef::kArchive;
            ref.archive = archive;
            ref.name = candidate;
            return true;
        }
    }
    // No prefixed member: ask every archive for the bare name. The cursor stays where it is.
    node = archives_.cursor();
    for (int32_t i = 0; i < archives_.count(); ++i, node = node->next) {
        FileSource* archive = node->element.archive;
        if (archive != nullptr && archive->Exists(name)) {
            ref.flags = FileRef::kArchive;
            ref.archive = archive;
            ref.name = name;
            return true;
        }
    }
    return false;
}
