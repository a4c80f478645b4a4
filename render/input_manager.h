// Keyboard and mouse input: DirectInput 8 in buffered, non-blocking mode turned into input events
// for a list of listeners (the GUI root, the application), immediate queries (is a key or button
// down, where is the cursor) and scan codes as characters for text input. The manager is a
// message listener, to see the window's focus, cursor and character messages, and a device
// resource, to follow the render rectangle across a reset. The application owns one and polls
// it once per pass of its main loop.
//
// Single thread: every call, window messages included, comes from the message-loop thread.
#pragma once

#include "core/containers/linked_list.h"
#include "core/time/clock.h"
#include "core/types/point_rect.h"
#include "render/app_framework.h"

#include <dinput.h>
#include <windows.h>

#include <array>
#include <cstdint>

// What an input event says happened. Fields an event kind does not name carry no meaning.
enum class InputEventKind : int32_t {
    kLeftButtonDown = 0,     // x, y: the cursor
    kLeftButtonUp = 1,       // x, y: the cursor
    kLeftDoubleClick = 2,    // right after the second kLeftButtonUp of a double click
    kRightButtonDown = 3,
    kRightButtonUp = 4,
    kRightDoubleClick = 5,
    kCursorMoved = 6,        // x, y: new position; prevX, prevY: old; dx, dy: new minus old
    kMouseAxesMoved = 7,     // x, y: the mouse's absolute axes; prevX, prevY: the cursor before
                             // the update; dx, dy: axes minus that cursor
    kKeyDown = 8,            // keyOrChar: the DirectInput scan code
    kKeyUp = 9,
    kCharacter = 10,         // keyOrChar: the character (WM_CHAR's wParam); x, y: the cursor
    kFocusGained = 11,       // x, y: the cursor
};

// Kinds 0 to 5: the button events.
bool IsButtonEventType(InputEventKind kind);

// Receives input events. Registered with InputManager::AddListener and never removed, so a
// listener must outlive the manager's use of it.
class InputListener {
public:
    virtual void OnInputEvent(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY, int32_t dx,
                              int32_t dy, int32_t keyOrChar) = 0;

protected:
    ~InputListener() = default;
};

// The character of a DirectInput scan code for text input: digits, lower-case letters, comma,
// full stop, semicolon (the '/' key of US keyboards, as the table has always had it) and space;
// 252 for Escape, 253 for Backspace, 254 for Enter, 255 for anything else (codes above 255
// included).
uint16_t ScanCodeToChar(uint32_t scanCode);

class InputManager : public MessageListener, public virtual DeviceResource {
public:
    // The DirectInput buffer size and the double-click time.
    static constexpr DWORD kBufferRecords = 64;
    static constexpr DWORD kDoubleClickMs = 500;

    // Not yet registered anywhere.
    InputManager();
    // Releases the devices and unregisters; the listeners are not owned.
    ~InputManager() override;
    InputManager(const InputManager&) = delete;
    InputManager& operator=(const InputManager&) = delete;

    // Releases everything, registers with the framework (a device must exist), loads
    // "dinput8.dll" (once; never unloaded), sets up and acquires the keyboard and the mouse
    // (absolute axes, kBufferRecords records each, one auto-reset event each) with the given
    // cooperative levels. False when any step fails: the application goes on without input
    // events. systemCursor: the system's pointer is the cursor (the saver always passes true).
    bool InitInput(bool systemCursor, DWORD keyboardCooperation, DWORD mouseCooperation);
    // Reads the records of at most one device, the keyboard first, and sends their events.
    // Never blocks.
    void PollInput();
    // Refreshes the immediate mouse and keyboard state at most once per intervalMs; false when a
    // due refresh failed.
    bool UpdateInputState(int64_t intervalMs);
    // Appends to the list: the newest listener hears an event first, then the others from the
    // oldest on. No duplicate check.
    void AddListener(InputListener* listener);
    // Unacquires and releases both devices, the DirectInput object and their events, and leaves
    // the framework's registries.
    void ReleaseInput();

    // Bit 7 of the key state (records and immediate reads both fill it); false above 255.
    bool IsKeyDown(uint32_t scanCode) const;
    // The system's key state when windowed or with the system cursor, else DirectInput's.
    bool IsLeftButtonDown() const;
    bool IsRightButtonDown() const;
    // Client pixels.
    Point GetCursorPosition() const { return cursor_; }
    bool HasFocus() const { return hasFocus_; }

    // Focus, cursor, character and mouse-move messages; always answers 1.
    LRESULT OnWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    // Re-reads the render rectangle (full screen without the system cursor: clamps the cursor).
    bool OnDeviceRestore() override;
    bool OnDeviceLost() override { return true; }

private:
    // One GetDeviceData of up to kBufferRecords records into records; after DIERR_INPUTLOST one
    // Acquire and one retry. False unless the read answered DI_OK, DI_BUFFEROVERFLOW included:
    // those records are dropped with the poll.
    static bool ReadRecords(IDirectInputDevice8A* device, DIDEVICEOBJECTDATA* records, DWORD* count);
    // GetDeviceState with the same recovery.
    static bool ReadState(IDirectInputDevice8A* device, DWORD size, void* data);
    void ProcessKeyboard();
    void ProcessMouse();
    // Cursor and mouse state; false without a mouse or when the state cannot be read.
    bool UpdateMouseState();
    bool ReadKeyboardState();
    // Release of a button: kind 1 or 4, and the double-click kind after it when the release
    // completes a pair.
    void ButtonReleased(InputEventKind release, InputEventKind doubleClick, uint8_t& clicks, DWORD& firstRelease,
                        DWORD timeStamp);
    // Every listener in list order.
    void Send(InputEventKind kind, int32_t x, int32_t y, int32_t prevX = 0, int32_t prevY = 0, int32_t dx = 0,
              int32_t dy = 0, int32_t keyOrChar = 0);
    bool UsesSystemCursor() const;
    void ClampCursor();

    bool systemCursor_ = false;
    bool hasFocus_ = true;
    IDirectInput8A* directInput_ = nullptr;
    IDirectInputDevice8A* keyboard_ = nullptr;
    IDirectInputDevice8A* mouse_ = nullptr;
    IntervalTimer refreshTimer_;
    std::array<BYTE, 256> keyState_{};
    DIMOUSESTATE mouseState_{};
    float sensitivity_ = 1.0f;
    Point cursor_;
    Point lastAxes_;
    // x, y, width, height.
    Rect renderRect_;
    uint8_t leftClicks_ = 0;
    uint8_t rightClicks_ = 0;
    DWORD leftFirstRelease_ = 0;
    DWORD rightFirstRelease_ = 0;
    DWORD doubleClickMs_ = kDoubleClickMs;
    HWND window_ = nullptr;
    // Waited on together, the keyboard's first.
    HANDLE keyboardEvent_ = nullptr;
    HANDLE mouseEvent_ = nullptr;
    LinkedList<InputListener*> listeners_;
    DIDEVICEOBJECTDATA keyboardRecords_[kBufferRecords] = {};
    DIDEVICEOBJECTDATA mouseRecords_[kBufferRecords] = {};
};
