// Temporary files: GetTempPathA, GetTempFileNameA, CreateFileA for writing, WriteFile,
// DeleteFileA, and closing such files, over POSIX descriptors.

#include "platform/crt/paths.h"
#include "platform/win32/win32_local.h"

#include <windows.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace {

// A file of CreateFileA: heap objects, so that their handles differ from events' (small
// numbers) and from the runtime's descriptors, and a stray handle is refused instead of used.
struct File {
    int fd;
};

struct Files {
    std::mutex lock;
    std::set<const File*> open;
};
Files& TheFiles() {
    static Files* files = new Files;  // never destroyed: files may be closed by static destructors
    return *files;
}

File* OpenFileOf(HANDLE handle) {
    Files& files = TheFiles();
    std::lock_guard<std::mutex> guard(files.lock);
    auto found = files.open.find(static_cast<const File*>(handle));
    return found == files.open.end() ? nullptr : const_cast<File*>(*found);
}

std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir != nullptr && *dir != '\0' ? dir : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

// The first number to try: Windows starts from the clock too, so that processes started
// together spread out; successive calls in one process go on from the last number.
unsigned NextStartNumber() {
    static std::mutex lock;
    static unsigned next = 0;
    std::lock_guard<std::mutex> guard(lock);
    if (next == 0) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        next = static_cast<unsigned>((now ^ (static_cast<long long>(getpid()) << 8)) & 0xFFFF);
    }
    unsigned start = next;
    next = next % 0xFFFF + 1;
    return start == 0 ? 1 : start;
}

}  // namespace

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
    const std::string folder = TempFolder();
    if (buffer == nullptr || size <= folder.size()) return static_cast<DWORD>(folder.size() + 1);
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<DWORD>(folder.size());
}

UINT WINAPI GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR tempFileName) {
    if (path == nullptr || tempFileName == nullptr) return 0;
    std::string base = path;
    if (base.empty() || (base.back() != '/' && base.back() != '\\')) base += '/';
    if (prefix != nullptr) base.append(prefix, strnlen(prefix, 3));
    auto nameOf = [&](unsigned number) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", number & 0xFFFF);
        return base + digits + ".tmp";
    };
    if (base.size() + 8 >= MAX_PATH) return 0;
    if (unique != 0) {
        const std::string name = nameOf(unique);
        std::memcpy(tempFileName, name.c_str(), name.size() + 1);
        return unique;
    }
    const unsigned start = NextStartNumber();
    unsigned number = start;
    do {
        const std::string name = nameOf(number);
        // Exclusive, so an existing file (or a link planted under the name) is never reused.
        const int fd = open(rh::crt::DiskPath(name.c_str()).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            rh::crt::ForgetFolderReadings();
            close(fd);
            std::memcpy(tempFileName, name.c_str(), name.size() + 1);
            return number;
        }
        if (errno != EEXIST) return 0;
        number = number % 0xFFFF + 1;
    } while (number != start);
    return 0;
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD /*shareMode*/,
                          LPSECURITY_ATTRIBUTES /*attributes*/, DWORD creationDisposition,
                          DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
    if (fileName == nullptr || *fileName == '\0' || desiredAccess != GENERIC_WRITE ||
        creationDisposition != CREATE_ALWAYS) {
        return INVALID_HANDLE_VALUE;
    }
    const int fd = open(rh::crt::DiskPath(fileName).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    rh::crt::ForgetFolderReadings();
    auto* file = new File{fd};
    Files& files = TheFiles();
    std::lock_guard<std::mutex> guard(files.lock);
    files.open.insert(file);
    return file;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written != nullptr) *written = 0;
    File* file = OpenFileOf(handle);
    if (file == nullptr || overlapped != nullptr || (buffer == nullptr && size != 0)) return FALSE;
    const char* bytes = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < size) {
        const ssize_t n = write(file->fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<DWORD>(n);
    }
    if (written != nullptr) *written = done;
    return done == size ? TRUE : FALSE;
}

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
    if (fileName == nullptr || *fileName == '\0') return FALSE;
    if (unlink(rh::crt::DiskPath(fileName).c_str()) != 0) return FALSE;
    rh::crt::ForgetFolderReadings();
    return TRUE;
}

namespace rh::win32 {

bool CloseFile(void* handle) {
    Files& files = TheFiles();
    std::lock_guard<std::mutex> guard(files.lock);
    auto found = files.open.find(static_cast<const File*>(handle));
    if (found == files.open.end()) return false;
    close((*found)->fd);
    delete *found;
    files.open.erase(found);
    return true;
}

}  // namespace rh::win32
