// ShellExecuteA "open": hands the target to the desktop's opener (xdg-open) without waiting.

#include <windows.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// ShellExecuteA's documented result values.
constexpr INT_PTR kErrorOutOfResources = 0;
constexpr INT_PTR kErrorFileNotFound = 2;
constexpr INT_PTR kErrorNoAssociation = 31;
constexpr INT_PTR kStarted = 33;

HINSTANCE Result(INT_PTR code) { return reinterpret_cast<HINSTANCE>(code); }

// Starts `opener target` detached: an intermediate child starts the opener and exits at once,
// so the opener is never our zombie. A close-on-exec pipe tells whether exec succeeded.
INT_PTR SpawnDetached(const char* opener, const char* target) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return kErrorOutOfResources;
    pid_t child = fork();
    if (child < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return kErrorOutOfResources;
    }
    if (child == 0) {
        close(pipeFds[0]);
        pid_t grandchild = fork();
        if (grandchild == 0) {
            setsid();
            char* const args[] = {const_cast<char*>(opener), const_cast<char*>(target), nullptr};
            execvp(opener, args);
            int err = errno;
            ssize_t ignored = write(pipeFds[1], &err, sizeof err);
            (void)ignored;
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(pipeFds[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int execError = 0;
    ssize_t n;
    while ((n = read(pipeFds[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    close(pipeFds[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return kErrorOutOfResources;
    if (n > 0) return kErrorFileNotFound;  // no opener to run
    return kStarted;
}

}  // namespace

HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR operation, LPCSTR file, LPCSTR, LPCSTR, INT) {
    if (file == nullptr || *file == '\0') return Result(kErrorFileNotFound);
    // A null verb means the default one, which is "open".
    if (operation != nullptr && std::strcmp(operation, "open") != 0) return Result(kErrorNoAssociation);
    return Result(SpawnDetached("xdg-open", file));
}
