// The user-interface thread's message queue: posted and input messages, WM_QUIT, WM_PAINT and
// timers, retrieved in the order Windows retrieves them.

#include "platform/win32/sdl_window.h"
#include "platform/win32/win32_testing.h"

#include <mmsystem.h>
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>

namespace rh::win32 {
namespace {

struct Queued {
    MSG msg;
    std::string typed;  // what a key-down typed, in the current code page
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT interval;
    TIMERPROC proc;
    uint64_t due;
};

struct Queue {
    std::deque<Queued> messages;
    bool quit = false;
    int quitCode = 0;
    std::vector<Timer> timers;
    UINT_PTR nextThreadTimerId = 1;
    // The key-down last removed from the queue, which TranslateMessage turns into characters.
    bool haveLastKey = false;
    MSG lastKey{};
    std::string lastTyped;
};

Queue& TheQueue() {
    static Queue queue;
    return queue;
}

const HWND kThreadOnly = reinterpret_cast<HWND>(static_cast<INT_PTR>(-1));

uint64_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TimerClock g_timerClock = &SteadyMs;

uint64_t NowMs() { return g_timerClock(); }

bool WindowMatches(HWND filter, HWND target) {
    if (filter == nullptr) return true;
    if (filter == kThreadOnly) return target == nullptr;
    for (HWND__* w = LiveWindow(target); w != nullptr; w = w->parent()) {
        if (w == filter) return true;
    }
    return false;
}

bool RangeMatches(UINT minFilter, UINT maxFilter, UINT msg) {
    if (minFilter == 0 && maxFilter == 0) return true;
    return msg >= minFilter && msg <= maxFilter;
}

bool IsKeyDown(UINT msg) { return msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN; }

MSG Make(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m{hwnd, message, wParam, lParam, MessageTime(), {}};
    GetCursorPos(&m.pt);
    return m;
}

// Windows asks the window for the pointer's shape as mouse input is read.
void SendSetCursor(const MSG& m) {
    bool mouse = m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST &&
                 m.message != WM_MOUSEWHEEL && m.message != WM_MOUSEHWHEEL;
    if (!mouse || LiveWindow(m.hwnd) == nullptr) return;
    SendMessageA(m.hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(m.hwnd),
                 MAKELPARAM(HTCLIENT, m.message));
}

bool TakePosted(Queue& q, MSG* out, HWND hwnd, UINT minFilter, UINT maxFilter, bool remove) {
    for (auto it = q.messages.begin(); it != q.messages.end(); ++it) {
        if (!WindowMatches(hwnd, it->msg.hwnd) || !RangeMatches(minFilter, maxFilter, it->msg.message))
            continue;
        *out = it->msg;
        if (!remove) return true;
        if (IsKeyDown(out->message)) {
            q.haveLastKey = true;
            q.lastKey = *out;
            q.lastTyped = std::move(it->typed);
        }
        q.messages.erase(it);
        SendSetCursor(*out);
        return true;
    }
    return false;
}

bool TakePaint(MSG* out, HWND hwnd, UINT minFilter, UINT maxFilter) {
    if (!RangeMatches(minFilter, maxFilter, WM_PAINT)) return false;
    for (SdlWindow* w : SdlWindows()) {
        if (w->needsPaint() && WindowMatches(hwnd, w)) {
            // Stays due until the window is validated, whatever the flags say.
            *out = Make(w, WM_PAINT, 0, 0);
            return true;
        }
    }
    return false;
}

bool TakeTimer(Queue& q, MSG* out, HWND hwnd, UINT minFilter, UINT maxFilter, bool remove) {
    if (!RangeMatches(minFilter, maxFilter, WM_TIMER)) return false;
    uint64_t now = NowMs();
    for (Timer& t : q.timers) {
        if (t.due > now || !WindowMatches(hwnd, t.hwnd)) continue;
        *out = Make(t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc));
        // One WM_TIMER however late it is read: the next falls due an interval from now.
        if (remove) t.due = now + t.interval;
        return true;
    }
    return false;
}

bool Retrieve(MSG* out, HWND hwnd, UINT minFilter, UINT maxFilter, bool remove) {
    Queue& q = TheQueue();
    if (TakePosted(q, out, hwnd, minFilter, maxFilter, remove)) return true;
    // WM_QUIT belongs to no window, so a window filter never sees it; it passes any range.
    if (q.quit && (hwnd == nullptr || hwnd == kThreadOnly)) {
        *out = Make(nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0);
        if (remove) q.quit = false;
        return true;
    }
    // Only windows are painted; timers may belong to the thread.
    return (hwnd != kThreadOnly && TakePaint(out, hwnd, minFilter, maxFilter)) ||
           TakeTimer(q, out, hwnd, minFilter, maxFilter, remove);
}

// Milliseconds until the first timer the filter sees falls due; -1 when none runs.
int MsUntilTimer(HWND hwnd) {
    uint64_t now = NowMs();
    int64_t best = -1;
    for (const Timer& t : TheQueue().timers) {
        if (!WindowMatches(hwnd, t.hwnd)) continue;
        int64_t wait = t.due > now ? static_cast<int64_t>(t.due - now) : 0;
        if (best < 0 || wait < best) best = wait;
    }
    return static_cast<int>(best);
}

bool InvalidFilter(HWND hwnd) {
    return hwnd != nullptr && hwnd != kThreadOnly && LiveWindow(hwnd) == nullptr;
}

// The characters a key typed when the text input gave none: the control characters Windows
// types for these keys.
std::string ControlCharacters(WPARAM vk) {
    switch (vk) {
        case VK_RETURN: return "\r";
        case VK_ESCAPE: return "\x1b";
        case VK_BACK: return "\b";
        case VK_TAB: return "\t";
        default: break;
    }
    if (vk >= 'A' && vk <= 'Z' && KeyDown(VK_CONTROL) && !KeyDown(VK_MENU))
        return std::string(1, static_cast<char>(vk - 'A' + 1));
    return {};
}

}  // namespace

DWORD MessageTime() { return timeGetTime(); }

void SetTimerClock(TimerClock clock) { g_timerClock = clock != nullptr ? clock : &SteadyMs; }

void QueueMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, std::string typed) {
    TheQueue().messages.push_back(Queued{Make(hwnd, msg, wParam, lParam), std::move(typed)});
}

void QueueMouseMove(HWND hwnd, WPARAM keys, LPARAM point) {
    auto& messages = TheQueue().messages;
    if (!messages.empty() && messages.back().msg.hwnd == hwnd &&
        messages.back().msg.message == WM_MOUSEMOVE) {
        messages.back().msg = Make(hwnd, WM_MOUSEMOVE, keys, point);
        return;
    }
    QueueMessage(hwnd, WM_MOUSEMOVE, keys, point);
}

bool AttachTypedText(HWND hwnd, const std::string& typed) {
    // The text belongs to the key-down just before it; anything in between means it does not.
    auto& messages = TheQueue().messages;
    if (messages.empty()) return false;
    Queued& last = messages.back();
    if (last.msg.hwnd != hwnd || !IsKeyDown(last.msg.message) || !last.typed.empty()) return false;
    last.typed = typed;
    return true;
}

void ForgetWindow(HWND hwnd) {
    Queue& q = TheQueue();
    q.messages.erase(std::remove_if(q.messages.begin(), q.messages.end(),
                                    [hwnd](const Queued& m) { return m.msg.hwnd == hwnd; }),
                     q.messages.end());
    q.timers.erase(std::remove_if(q.timers.begin(), q.timers.end(),
                                  [hwnd](const Timer& t) { return t.hwnd == hwnd; }),
                   q.timers.end());
    if (q.haveLastKey && q.lastKey.hwnd == hwnd) q.haveLastKey = false;
}

}  // namespace rh::win32

using rh::win32::LiveWindow;
using rh::win32::TheQueue;

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT minFilter, UINT maxFilter, UINT removeFlags) {
    if (msg == nullptr || rh::win32::InvalidFilter(hwnd)) return FALSE;
    rh::win32::PumpSdlEvents();
    if (rh::win32::InvalidFilter(hwnd)) return FALSE;
    return rh::win32::Retrieve(msg, hwnd, minFilter, maxFilter, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT minFilter, UINT maxFilter) {
    if (msg == nullptr) return -1;
    for (;;) {
        if (rh::win32::InvalidFilter(hwnd)) return -1;
        rh::win32::PumpSdlEvents();
        if (rh::win32::InvalidFilter(hwnd)) return -1;
        if (rh::win32::Retrieve(msg, hwnd, minFilter, maxFilter, true))
            return msg->message == WM_QUIT ? 0 : 1;
        // Sleep until input arrives or the next timer falls due; the cap keeps the wait short
        // enough for windows that appear while it sleeps.
        int wait = rh::win32::MsUntilTimer(hwnd);
        wait = wait < 0 ? 50 : std::min(wait, 50);
        if (SDL_WasInit(SDL_INIT_EVENTS) != 0) SDL_WaitEventTimeout(nullptr, wait);
        else std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    if (msg == nullptr) return FALSE;
    switch (msg->message) {
        case WM_KEYUP:
        case WM_SYSKEYUP:
            return TRUE;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            break;
        default:
            return FALSE;
    }
    auto& q = TheQueue();
    std::string typed;
    const MSG& last = q.lastKey;
    if (q.haveLastKey && last.hwnd == msg->hwnd && last.message == msg->message &&
        last.wParam == msg->wParam && last.lParam == msg->lParam) {
        typed = q.lastTyped;
    }
    if (typed.empty()) typed = rh::win32::ControlCharacters(msg->wParam);
    // The characters come next, before any input queued after the key.
    UINT charMsg = msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
    auto at = q.messages.begin();
    for (char c : typed) {
        MSG m = rh::win32::Make(msg->hwnd, charMsg, static_cast<unsigned char>(c), msg->lParam);
        at = q.messages.insert(at, rh::win32::Queued{m, {}}) + 1;
    }
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (msg == nullptr) return 0;
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        // Only the procedure of a running timer is called: a posted WM_TIMER cannot name code.
        const auto& timers = TheQueue().timers;
        bool running = std::any_of(timers.begin(), timers.end(), [msg](const rh::win32::Timer& t) {
            return t.hwnd == msg->hwnd && t.id == msg->wParam &&
                   reinterpret_cast<LPARAM>(t.proc) == msg->lParam;
        });
        if (running) {
            reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam,
                                                      rh::win32::MessageTime());
        }
        return 0;
    }
    HWND__* w = LiveWindow(msg->hwnd);
    return w != nullptr ? w->Handle(msg->message, msg->wParam, msg->lParam) : 0;
}

void WINAPI PostQuitMessage(int exitCode) {
    TheQueue().quit = true;
    TheQueue().quitCode = exitCode;
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
    if (hwnd != nullptr && LiveWindow(hwnd) == nullptr) return 0;
    auto& q = TheQueue();
    if (hwnd == nullptr) id = q.nextThreadTimerId++;
    // Windows raises shorter intervals to its 10 ms minimum.
    UINT interval = std::max<UINT>(elapseMs, 10);
    uint64_t due = rh::win32::NowMs() + interval;
    for (auto& t : q.timers) {
        if (t.hwnd == hwnd && t.id == id) {
            t.interval = interval;
            t.proc = proc;
            t.due = due;
            return id != 0 ? id : 1;
        }
    }
    q.timers.push_back(rh::win32::Timer{hwnd, id, interval, proc, due});
    return id != 0 ? id : 1;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
    auto& timers = TheQueue().timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const rh::win32::Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    return TRUE;
}
