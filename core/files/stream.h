// The engine's byte-stream interface. Every file the engine reads or writes goes through a
// Stream, whatever holds the bytes: a disk file (DiskStream), memory (MemStream) or a mounted
// archive (FileSource::Open). Whoever receives a Stream deletes it through the virtual
// destructor.
#pragma once

#include "core/text/string.h"

#include <cstdint>

class WideString;

class Stream {
public:
    // The order of these virtual operations is part of the interface; keep it.

    // mode: 1 read, 2 write. True when the stream is ready for that mode.
    virtual bool Open(String name, int mode) = 0;
    // Ends the stream's use of its source. Callers ignore the result.
    virtual bool Close() = 0;
    // The current position; -1 when the stream has nothing open.
    virtual int32_t Tell() = 0;
    // The size in bytes; negative when the stream cannot tell it or it does not fit an int32,
    // which every reader of the size treats as a failure.
    virtual int32_t Size() = 0;
    // origin 0: from the start; 1: from the current position; any other value: from the end.
    // False when the move is refused.
    virtual bool Seek(int32_t offset, int origin) = 0;
    // True once a read met the end.
    virtual bool AtEnd() = 0;
    virtual ~Stream() = default;
    // The meaning of the result depends on the class; see each override.
    virtual int32_t Read(void* buffer, int32_t n) = 0;
    virtual int32_t Write(const void* buffer, int32_t n) = 0;

    int32_t ReadData(void* buffer, int32_t n) { return Read(buffer, n); }
    int32_t WriteData(const void* buffer, int32_t n) { return Write(buffer, n); }
    // Clears `out`, gives it n units (n >= 0) and a terminator, and reads 2n bytes into the
    // units with Read; returns what Read returned.
    int32_t ReadWideString(WideString& out, int32_t n);
};
