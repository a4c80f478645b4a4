// Low-level file calls of the C runtime that glibc does not have.
//
// fopen itself (from <cstdio>) is the layer's own too: names follow the Windows rule ('\'
// separates, a name missing as written is matched in any case), and only regular files open:
// a folder, FIFO, socket or device fails with EACCES at once, never waiting for a writer.
#pragma once

#include <cstdint>

// The length in bytes of the open file, or -1 (errno set).
long _filelength(int fd);
// The kernel handle of an open descriptor, for CreateFileMappingA (cast to HANDLE), or -1
// (INVALID_HANDLE_VALUE, errno EBADF) for a descriptor that is not open. The handle stays the
// runtime's: it ends when the descriptor is closed and is never given to CloseHandle.
intptr_t _get_osfhandle(int fd);
