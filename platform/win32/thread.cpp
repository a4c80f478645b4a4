// The calling thread's priority, as Linux's per-thread nice value.

#include <windows.h>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// Windows' pseudo handle of the current thread.
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

// The weakest claim on the processor: the scheduler runs the thread when nothing else wants
// to, as Windows runs an idle-priority one.
constexpr int kIdleNice = 19;

}  // namespace

HANDLE WINAPI GetCurrentThread(void) { return kCurrentThread; }

BOOL WINAPI SetThreadPriority(HANDLE thread, int priority) {
    if (thread != kCurrentThread || priority != THREAD_PRIORITY_IDLE) return FALSE;
    // With a thread id, PRIO_PROCESS names that one thread on Linux.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kIdleNice) == 0 ? TRUE : FALSE;
}
