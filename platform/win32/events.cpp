// Event objects and waiting on them. The layer's own producers (DirectInput devices) signal
// events from SDL event watches, which run while SDL reads its input.

#include "platform/win32/win32_local.h"

#include <windows.h>

#include <SDL.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace {

struct Event {
    bool manualReset;
    bool signalled;
};

struct Events {
    std::mutex mutex;
    std::map<uintptr_t, Event> open;
    uintptr_t next = 1;
};

Events& TheEvents() {
    static Events events;
    return events;
}

// Handles count up in steps of 4, as Windows hands them out, and are never given twice, so a
// stale handle can never name a newer event.
uintptr_t KeyOf(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }

// One look at the events: the answer of the wait when it is satisfied now, else WAIT_TIMEOUT.
// WAIT_FAILED for a handle that names no open event. Called with the mutex held.
DWORD TryWait(Events& events, DWORD count, const HANDLE* handles, bool waitAll) {
    Event* found[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i) {
        auto it = events.open.find(KeyOf(handles[i]));
        if (it == events.open.end()) return WAIT_FAILED;
        found[i] = &it->second;
    }
    if (!waitAll) {
        for (DWORD i = 0; i < count; ++i) {
            if (!found[i]->signalled) continue;
            if (!found[i]->manualReset) found[i]->signalled = false;
            return WAIT_OBJECT_0 + i;
        }
        return WAIT_TIMEOUT;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (!found[i]->signalled) return WAIT_TIMEOUT;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (!found[i]->manualReset) found[i]->signalled = false;
    }
    return WAIT_OBJECT_0;
}

}  // namespace

namespace rh::win32 {

bool IsOpenEvent(void* handle) {
    Events& events = TheEvents();
    std::lock_guard<std::mutex> lock(events.mutex);
    return events.open.count(KeyOf(handle)) == 1;
}

}  // namespace rh::win32

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (name != nullptr) return nullptr;
    Events& events = TheEvents();
    std::lock_guard<std::mutex> lock(events.mutex);
    uintptr_t key = 4 * events.next++;
    events.open.emplace(key, Event{manualReset != FALSE, initialState != FALSE});
    return reinterpret_cast<HANDLE>(key);
}

BOOL WINAPI SetEvent(HANDLE event) {
    Events& events = TheEvents();
    std::lock_guard<std::mutex> lock(events.mutex);
    auto it = events.open.find(KeyOf(event));
    if (it == events.open.end()) return FALSE;
    it->second.signalled = true;
    return TRUE;
}

namespace rh::win32 {

bool CloseEvent(void* handle) {
    Events& events = TheEvents();
    std::lock_guard<std::mutex> lock(events.mutex);
    return events.open.erase(KeyOf(handle)) == 1;
}

}  // namespace rh::win32

// Event handles are small multiples of 4, mapping and file handles distinct heap addresses, so
// one handle never names two kinds.
BOOL WINAPI CloseHandle(HANDLE object) {
    return rh::win32::CloseEvent(object) || rh::win32::CloseMapping(object) || rh::win32::CloseFile(object)
               ? TRUE
               : FALSE;
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) return WAIT_FAILED;
    if (waitAll) {
        // Windows refuses a wait for all that names one event twice.
        for (DWORD i = 0; i < count; ++i) {
            for (DWORD j = i + 1; j < count; ++j) {
                if (handles[i] == handles[j]) return WAIT_FAILED;
            }
        }
    }
    Events& events = TheEvents();
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(events.mutex);
            DWORD result = TryWait(events, count, handles, waitAll != FALSE);
            if (result != WAIT_TIMEOUT) return result;
        }
        if (milliseconds != INFINITE) {
            auto waited = std::chrono::steady_clock::now() - start;
            if (waited >= std::chrono::milliseconds(milliseconds)) return WAIT_TIMEOUT;
        }
        // The layer's events are signalled from SDL event watches, which run as SDL reads input.
        if (SDL_WasInit(SDL_INIT_EVENTS) != 0) SDL_PumpEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
