// Low-level file calls of the C runtime that glibc does not have.
#pragma once

// The length in bytes of the open file, or -1 (errno set).
long _filelength(int fd);
