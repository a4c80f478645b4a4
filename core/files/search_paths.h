// SearchPaths: the directories and mounted archives against which a relative name resolves.
// Each is a ring with a cursor; every walk starts at the cursor and goes once round, and the
// cursor stays on the entry that matched last, so the next look-up tries it first. A newly
// added entry goes right after the cursor and becomes the cursor: adding d1, d2, d3 to an
// empty ring gives the walk order d3, d1, d2.
#pragma once

#include "core/containers/linked_list.h"
#include "core/files/file_ref.h"

class SearchPaths {
public:
    SearchPaths() = default;
    // Copies both rings entry by entry in ring order; each copy's cursor is on the copy of the
    // source's cursor entry.
    SearchPaths(const SearchPaths&) = default;
    SearchPaths& operator=(const SearchPaths&) = default;

    // A locator with the disk flag joins the directories (its name is a directory), one with
    // the archive flag and an archive joins the archives (its name is the mount prefix inside
    // the archive, often empty); one locator may join both. An entry equal (FileRef::Equals)
    // to one already in the ring is not added again.
    void Add(const FileRef& entry);
    // Add for every entry of the other's two rings, each walked from its cursor.
    void Merge(const SearchPaths& other);
    // Drops every entry (of either ring) on that archive, for an archive that goes away while
    // the paths stay; the other entries keep their order and, unless it was dropped, the cursor.
    void ForgetArchive(const FileSource* archive);

    // Narrows `ref` to the one source that holds the file, trying in this order: the memory
    // block (flag 8); the "MemFile" resource (flag 4) when it exists; for flag 1 the cleaned
    // name relative to the working directory, then each directory; for flag 2 the locator's
    // own archive, each archive entry with its prefix, then each archive without a prefix.
    // The name is cleaned first: a leading run of '/' is removed, then a leading run of '\'
    // (so "\/x" keeps its '/'). ".." is not rejected: names come from the program's own data
    // files, not from users. On success the flags hold the one source, and the name (and for
    // archives the archive) say where; on failure `ref` is unchanged.
    bool ResolveFile(FileRef& ref);
    bool Find(FileRef& ref) { return ResolveFile(ref); }

    const LinkedList<FileRef>& directories() const { return directories_; }
    const LinkedList<FileRef>& archives() const { return archives_; }

private:
    LinkedList<FileRef> directories_;
    LinkedList<FileRef> archives_;
};
