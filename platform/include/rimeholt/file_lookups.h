// Looking up many candidate names on disk as one question.
//
// A lookup of a Windows file name on a Linux disk (fopen and the layer's other file calls)
// reads the state of every folder it consults, so that a change made to a folder just before
// is seen. A caller that tries many names for one file (a few extensions in a few folders)
// holds a FileLookupBatch while it tries them: each folder's state is then read once, at the
// batch's first lookup in it, and that reading serves the batch's later lookups. So a change
// made by others while the batch lives may go unseen until it ends, as if it came just after;
// a file or folder the thread itself creates or deletes by a Windows name (fopen to write,
// _mkdir, CreateFileA, DeleteFileA, GetTempFileNameA) drops the readings at once. Batches are
// per thread and nest: the outermost one's end forgets the readings.
#pragma once

namespace rh {

class FileLookupBatch {
public:
    FileLookupBatch();
    ~FileLookupBatch();
    FileLookupBatch(const FileLookupBatch&) = delete;
    FileLookupBatch& operator=(const FileLookupBatch&) = delete;
};

}  // namespace rh
