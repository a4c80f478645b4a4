// FileSource: the interface of a mounted archive. SearchPaths asks it whether a member exists
// and FileRef::OpenFile asks it for a stream over a member.
#pragma once

#include "core/files/file_ref.h"
#include "core/files/stream.h"
#include "core/text/string.h"

class FileSource {
public:
    // The order of these virtual operations is part of the interface; keep it.

    // Mounts the archive the locator names (usually a resource or memory block, read in
    // place). True when it is usable.
    virtual bool Mount(const FileRef& archive) = 0;
    // Forgets the mounted archive. The base does nothing.
    virtual void Unmount() {}
    // True when a member of that name exists.
    virtual bool Exists(String name) = 0;
    // A new stream over the member (mode 1 read, 2 write), or null. The caller deletes it.
    virtual Stream* Open(String name, int mode) = 0;
    // The base frees nothing.
    virtual ~FileSource() = default;
};
