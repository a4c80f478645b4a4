// DiskStream: a Stream over a C runtime file. Names follow the platform's Windows name rule
// ('\' separators, case-insensitive fallback), which the runtime's fopen applies; it opens
// regular files only, so a name that turns out to be a folder, FIFO or device fails to open
// instead of blocking or reading endlessly.
#pragma once

#include "core/files/stream.h"

#include <cstdio>

class ByteBuffer;

class DiskStream : public Stream {
public:
    DiskStream() = default;
    DiskStream(const DiskStream&) = delete;
    DiskStream& operator=(const DiskStream&) = delete;
    // Closes the file.
    ~DiskStream() override;

    // mode 1 opens with "rb", mode 2 with "wb" (the text is "r" when the mode has 1, then "w"
    // when it has 2, then "b"). A file already open is closed first.
    bool Open(String name, int mode) override;
    // Closes the file when one is open and forgets it; true.
    bool Close() override;
    // The runtime position; -1 without a file, and -1 when the position does not fit an int32.
    // Kept by the stream itself while every call since the last runtime answer moved it by a
    // known amount (readers ask for it around every block), else asked of the runtime.
    int32_t Tell() override;
    // The length of the file on disk (bytes still in the runtime's write buffer do not count);
    // 0 without a file. -1 when the runtime cannot tell it or it does not fit an int32 (files of
    // 2 GB and more): a size that would be cut short is a failure, which readers of the size
    // (FileRef::ReadWholeFile, the script and data readers) refuse.
    int32_t Size() override;
    // fseek with SEEK_SET for origin 0, SEEK_CUR for 1, SEEK_END for anything else; true
    // unless the runtime answered -1; false without a file.
    bool Seek(int32_t offset, int origin) override;
    // The file's end-of-file indicator; true without a file.
    bool AtEnd() override;
    // One block read of one item of n bytes. Answers 1 when all n bytes were read, else 0
    // (also without a file) -- NOT a byte count, unlike MemStream::Read. Callers test for 0.
    int32_t Read(void* buffer, int32_t n) override;
    // Likewise 1 when all n bytes were written, else 0.
    int32_t Write(const void* buffer, int32_t n) override;

    // Maps the whole open file into `out` as a copy-on-write view (ByteBuffer::AdoptFileView)
    // instead of reading it: nothing is copied, and pages come in as they are first read. True
    // when mapped; false, with `out` left alone, without a file, for an empty file or one whose
    // size Size() refuses, or when the system does not map it (the caller then reads it). The
    // file must stay as it is while the view lives (see MapViewOfFile).
    bool MapWhole(ByteBuffer& out);

private:
    // Follows a Read or Write of n bytes that answered items.
    void Moved(int32_t items, int32_t n);

    // The position the runtime would answer, or -1 when only the runtime knows it (after a
    // short read or write, a failed seek or a seek from the end).
    long position_ = -1;
    FILE* file_ = nullptr;
};
