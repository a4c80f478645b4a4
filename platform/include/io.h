// Low-level file calls of the C runtime that glibc does not have.
//
// fopen itself (from <cstdio>) is the layer's own too: names follow the Windows rule ('\'
// separates, a name missing as written is matched in any case), and only regular files open:
// a folder, FIFO, socket or device fails with EACCES at once, never waiting for a writer.
#pragma once

// The length in bytes of the open file, or -1 (errno set).
long _filelength(int fd);
