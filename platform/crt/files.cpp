// File calls of the C runtime the engine expects: Windows file names (with '\' and in any
// case) open on Linux disks, only regular files open, and the runtime's _filelength,
// _get_osfhandle and _mkdir.

#include "platform/crt/handles.h"
#include "platform/crt/paths.h"

#include <direct.h>
#include <io.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

// The open(2) flags for a C runtime mode: the first letter reads, writes (creating and
// truncating) or appends; '+' reads and writes; glibc's 'x' and 'e' make the create exclusive
// and the descriptor close-on-exec. Anything after ',' (glibc's ",ccs=") is not about opening.
bool OpenFlagsOf(const char* mode, int* flags) {
    int access = 0;
    int more = 0;
    switch (mode[0]) {
        case 'r': access = O_RDONLY; break;
        case 'w': access = O_WRONLY; more = O_CREAT | O_TRUNC; break;
        case 'a': access = O_WRONLY; more = O_CREAT | O_APPEND; break;
        default: return false;
    }
    for (const char* c = mode + 1; *c != '\0' && *c != ','; ++c) {
        if (*c == '+') access = O_RDWR;
        else if (*c == 'x') more |= O_EXCL;
        else if (*c == 'e') more |= O_CLOEXEC;
    }
    *flags = access | more;
    return true;
}

}  // namespace

// The layer defines fopen itself, so every caller in the process gets the Windows name rule
// and the Windows idea of a disk file. A Windows disk name names a file: folders, pipes and
// devices never open as one (they fail with EACCES, as the original runtime fails on a folder),
// and no open waits: a FIFO opened the ordinary way blocks until a writer comes, so the
// opening is non-blocking until the file has been seen to be a regular one.
extern "C" FILE* fopen(const char* name, const char* mode) {
    int flags = 0;
    if (name == nullptr || mode == nullptr || !OpenFlagsOf(mode, &flags)) {
        errno = EINVAL;
        return nullptr;
    }
    bool missing = false;
    const std::string path = rh::crt::DiskPath(name, &missing);
    // Lookups that try one name in several folders mostly miss: no need to ask the disk again.
    if (missing && (flags & O_CREAT) == 0) {
        errno = ENOENT;
        return nullptr;
    }
    const int fd = open(path.c_str(), flags | O_NONBLOCK, 0666);
    if (fd < 0) {
        // Writing to a folder or to a FIFO nobody reads, or opening a socket.
        if (errno == EISDIR || errno == ENXIO) errno = EACCES;
        return nullptr;
    }
    if ((flags & O_CREAT) != 0) rh::crt::ForgetFolderReadings();
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Of the flags F_SETFL sets, the open asked for O_APPEND at most: giving that alone clears
    // O_NONBLOCK without asking for the flags first.
    FILE* file = nullptr;
    if (regular && fcntl(fd, F_SETFL, flags & O_APPEND) != -1) file = fdopen(fd, mode);
    if (file == nullptr) {
        const int error = regular ? errno : EACCES;
        close(fd);
        errno = error;
    }
    return file;
}

long _filelength(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return static_cast<long>(st.st_size);
}

intptr_t _get_osfhandle(int fd) {
    if (fd < 0 || fcntl(fd, F_GETFD) == -1) {
        errno = EBADF;
        return -1;
    }
    return rh::crt::HandleOfDescriptor(fd);
}

int _mkdir(const char* name) {
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (mkdir(rh::crt::DiskPath(name).c_str(), 0777) != 0) return -1;
    rh::crt::ForgetFolderReadings();
    return 0;
}
