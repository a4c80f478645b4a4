// File calls of the C runtime the engine expects: Windows file names (with '\' and in any
// case) open on Linux disks, and the runtime's _filelength and _mkdir.

#include "platform/crt/paths.h"

#include <direct.h>
#include <io.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

// The layer defines fopen itself, so every caller in the process gets the Windows name rule.
// A name that exists as written opens exactly as before; the real fopen does the opening.
extern "C" FILE* fopen(const char* name, const char* mode) {
    using OpenFn = FILE* (*)(const char*, const char*);
    static const OpenFn realOpen = reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, "fopen"));
    if (realOpen == nullptr) {
        errno = ENOSYS;
        return nullptr;
    }
    if (name == nullptr || mode == nullptr) return realOpen(name, mode);
    std::string path = rh::crt::DiskPath(name);
    // Linux opens a folder for reading; the original runtime refuses folders.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EACCES;
        return nullptr;
    }
    return realOpen(path.c_str(), mode);
}

long _filelength(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return static_cast<long>(st.st_size);
}

int _mkdir(const char* name) {
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return mkdir(rh::crt::DiskPath(name).c_str(), 0777);
}
