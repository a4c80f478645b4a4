#include "render/input_manager.h"

#include <algorithm>

namespace {

using DirectInputCreate = HRESULT(WINAPI*)(HINSTANCE, DWORD, REFIID, LPVOID*, LPUNKNOWN);

// Bit 7 of a key, button or record byte: down.
constexpr DWORD kDown = 0x80;

// Scan code to character: 255 (none) except the keys text input needs.
struct ScanCodeTable {
    uint16_t chars[256];
    constexpr ScanCodeTable() : chars() {
        for (uint16_t& c : chars) c = 255;
        chars[1] = 252;   // Escape
        chars[14] = 253;  // Backspace
        chars[28] = 254;  // Enter
        for (int i = 2; i <= 10; ++i) chars[i] = static_cast<uint16_t>('1' + i - 2);
        chars[11] = '0';
        const char* rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
        const int firsts[] = {16, 30, 44};
        for (int r = 0; r < 3; ++r) {
            for (int i = 0; rows[r][i] != '\0'; ++i) chars[firsts[r] + i] = static_cast<uint16_t>(rows[r][i]);
        }
        chars[51] = ',';
        chars[52] = '.';
        // The '/' key of US keyboards gives the semicolon: the table has always said so.
        chars[53] = ';';
        chars[57] = ' ';
    }
};

constexpr ScanCodeTable kScanCodeTable;

IDirectInput8A* CreateDirectInput() {
    // Loaded once and never unloaded: the DirectInput objects' code lives in it.
    static HMODULE library = nullptr;
    if (library == nullptr) library = LoadLibraryA("dinput8.dll");
    if (library == nullptr) return nullptr;
    auto create = reinterpret_cast<DirectInputCreate>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DirectInput8Create")));
    if (create == nullptr) return nullptr;
    void* object = nullptr;
    if (create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A, &object, nullptr) != DI_OK) {
        return nullptr;
    }
    return static_cast<IDirectInput8A*>(object);
}

// Creates a device with its format, cooperation, buffer and event. The cooperation's answer is
// not checked: DirectInput keeps its default then, which still reads.
bool SetUpDevice(IDirectInput8A* directInput, REFGUID guid, const DIDATAFORMAT& format, HWND window,
                 DWORD cooperation, IDirectInputDevice8A** device, HANDLE* event) {
    if (directInput->CreateDevice(guid, device, nullptr) != DI_OK || *device == nullptr) return false;
    if ((*device)->SetDataFormat(&format) != DI_OK) return false;
    (*device)->SetCooperativeLevel(window, cooperation);
    DIPROPDWORD bufferSize{};
    bufferSize.diph.dwSize = sizeof(DIPROPDWORD);
    bufferSize.diph.dwHeaderSize = sizeof(DIPROPHEADER);
    bufferSize.diph.dwObj = 0;
    bufferSize.diph.dwHow = DIPH_DEVICE;
    bufferSize.dwData = InputManager::kBufferRecords;
    if ((*device)->SetProperty(DIPROP_BUFFERSIZE, &bufferSize.diph) != DI_OK) return false;
    *event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (*event == nullptr) return false;
    return (*device)->SetEventNotification(*event) == DI_OK;
}

void ReleaseDevice(IDirectInputDevice8A*& device) {
    if (device == nullptr) return;
    device->Unacquire();
    device->Release();
    device = nullptr;
}

void CloseEvent(HANDLE& event) {
    if (event == nullptr) return;
    CloseHandle(event);
    event = nullptr;
}

bool FrameworkWindowed() { return g_appFramework == nullptr || g_appFramework->IsWindowed(); }

}  // namespace

bool IsButtonEventType(InputEventKind kind) {
    return static_cast<int32_t>(kind) >= 0 && static_cast<int32_t>(kind) <= 5;
}

uint16_t ScanCodeToChar(uint32_t scanCode) { return scanCode < 256 ? kScanCodeTable.chars[scanCode] : 255; }

InputManager::InputManager() {
    // From time 0, so that the first refresh is due at once.
    refreshTimer_.SetStart(0);
}

InputManager::~InputManager() { ReleaseInput(); }

bool InputManager::UsesSystemCursor() const { return FrameworkWindowed() || systemCursor_; }

// ---- Set-up -----------------------------------------------------------------------------------

bool InputManager::InitInput(bool systemCursor, DWORD keyboardCooperation, DWORD mouseCooperation) {
    ReleaseInput();
    if (!RegisterDeviceResource(this) || !AddMessageListener(this)) return false;
    window_ = g_appFramework->GetWindow();
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    renderRect_ = g_appFramework->GetRenderRect();
    systemCursor_ = systemCursor;

    if (directInput_ == nullptr) directInput_ = CreateDirectInput();
    if (directInput_ == nullptr) return false;
    if (!SetUpDevice(directInput_, GUID_SysKeyboard, c_dfDIKeyboard, window_, keyboardCooperation, &keyboard_,
                     &keyboardEvent_)) {
        return false;
    }
    // The mouse's axes as absolute positions: the summed movement.
    DIDATAFORMAT mouseFormat = c_dfDIMouse;
    mouseFormat.dwFlags = DIDF_ABSAXIS;
    if (!SetUpDevice(directInput_, GUID_SysMouse, mouseFormat, window_, mouseCooperation, &mouse_, &mouseEvent_)) {
        return false;
    }
    if (keyboard_->Acquire() != DI_OK || mouse_->Acquire() != DI_OK) return false;
    AddMessageListener(this);
    return true;
}

void InputManager::ReleaseInput() {
    ReleaseDevice(keyboard_);
    ReleaseDevice(mouse_);
    // The events go with their devices; nothing else waits on them.
    CloseEvent(keyboardEvent_);
    CloseEvent(mouseEvent_);
    if (directInput_ != nullptr) {
        directInput_->Release();
        directInput_ = nullptr;
    }
    UnregisterDeviceResource(this);
    RemoveMessageListener(this);
}

void InputManager::AddListener(InputListener* listener) { listeners_.Append(listener); }

// ---- Reading ----------------------------------------------------------------------------------

bool InputManager::ReadRecords(IDirectInputDevice8A* device, DIDEVICEOBJECTDATA* records, DWORD* count) {
    *count = kBufferRecords;
    HRESULT hr = device->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), records, count, 0);
    if (hr == DIERR_INPUTLOST) {
        if (device->Acquire() != DI_OK) return false;
        *count = kBufferRecords;
        hr = device->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), records, count, 0);
    }
    return hr == DI_OK;
}

bool InputManager::ReadState(IDirectInputDevice8A* device, DWORD size, void* data) {
    HRESULT hr = device->GetDeviceState(size, data);
    if (hr == DIERR_INPUTLOST) {
        if (device->Acquire() != DI_OK) return false;
        hr = device->GetDeviceState(size, data);
    }
    return hr == DI_OK;
}

void InputManager::PollInput() {
    const HANDLE events[2] = {keyboardEvent_, mouseEvent_};
    // Before set-up the handles are null and the wait fails: nothing to do.
    switch (WaitForMultipleObjects(2, events, FALSE, 0)) {
    case WAIT_OBJECT_0: ProcessKeyboard(); break;
    case WAIT_OBJECT_0 + 1: ProcessMouse(); break;
    default: break;
    }
}

void InputManager::ProcessKeyboard() {
    DWORD count = 0;
    if (keyboard_ == nullptr || !ReadRecords(keyboard_, keyboardRecords_, &count)) return;
    for (DWORD i = 0; i < count; ++i) {
        const DIDEVICEOBJECTDATA& record = keyboardRecords_[i];
        // No key has a code above 255: such a record ends the batch.
        if (record.dwOfs > 255) break;
        const bool down = (record.dwData & kDown) != 0;
        keyState_[record.dwOfs] = down ? kDown : 0;
        Send(down ? InputEventKind::kKeyDown : InputEventKind::kKeyUp, cursor_.x, cursor_.y, 0, 0, 0, 0,
             static_cast<int32_t>(record.dwOfs));
    }
}

void InputManager::ProcessMouse() {
    DWORD count = 0;
    if (mouse_ == nullptr || !ReadRecords(mouse_, mouseRecords_, &count)) return;
    const Point before = cursor_;
    if (!UpdateMouseState()) return;
    // Every event of the batch reports the cursor as it is after the batch.
    const Point at = cursor_;
    bool axesSent = false;
    for (DWORD i = 0; i < count; ++i) {
        const DIDEVICEOBJECTDATA& record = mouseRecords_[i];
        const bool down = (record.dwData & kDown) != 0;
        switch (record.dwOfs) {
        case DIMOFS_X:
        case DIMOFS_Y:
            // One movement per batch, however many axis records it holds.
            if (axesSent) break;
            axesSent = true;
            if (systemCursor_) {
                Send(InputEventKind::kMouseAxesMoved, lastAxes_.x, lastAxes_.y, before.x, before.y,
                     lastAxes_.x - before.x, lastAxes_.y - before.y);
            } else {
                Send(InputEventKind::kCursorMoved, at.x, at.y, before.x, before.y, at.x - before.x, at.y - before.y);
            }
            break;
        case DIMOFS_BUTTON0:
            if (down) {
                Send(InputEventKind::kLeftButtonDown, at.x, at.y);
            } else {
                ButtonReleased(InputEventKind::kLeftButtonUp, InputEventKind::kLeftDoubleClick, leftClicks_,
                               leftFirstRelease_, record.dwTimeStamp);
            }
            break;
        case DIMOFS_BUTTON1:
            if (down) {
                Send(InputEventKind::kRightButtonDown, at.x, at.y);
            } else {
                ButtonReleased(InputEventKind::kRightButtonUp, InputEventKind::kRightDoubleClick, rightClicks_,
                               rightFirstRelease_, record.dwTimeStamp);
            }
            break;
        default: break;  // the wheel and further buttons
        }
    }
}

void InputManager::ButtonReleased(InputEventKind release, InputEventKind doubleClick, uint8_t& clicks,
                                  DWORD& firstRelease, DWORD timeStamp) {
    bool completesPair = false;
    if (clicks == 0) {
        firstRelease = timeStamp;
        clicks = 1;
    } else if (timeStamp - firstRelease < doubleClickMs_) {
        // Unsigned: a wrap of the 32-bit clock between the releases is harmless.
        completesPair = true;
        clicks = 0;
    } else {
        // Too late for a double click: this release starts a new pair.
        firstRelease = timeStamp;
        clicks = 1;
    }
    // A double click reaches each listener as its two events before the next listener hears it.
    LinkedList<InputListener*>::Node* node = listeners_.cursor();
    for (int32_t i = 0; i < listeners_.count(); ++i, node = node->next) {
        node->element->OnInputEvent(release, cursor_.x, cursor_.y, 0, 0, 0, 0, 0);
        if (completesPair) node->element->OnInputEvent(doubleClick, cursor_.x, cursor_.y, 0, 0, 0, 0, 0);
    }
}

void InputManager::Send(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY, int32_t dx,
                        int32_t dy, int32_t keyOrChar) {
    // One round from the cursor: the newest listener, then the others from the oldest.
    LinkedList<InputListener*>::Node* node = listeners_.cursor();
    for (int32_t i = 0; i < listeners_.count(); ++i, node = node->next) {
        node->element->OnInputEvent(kind, x, y, prevX, prevY, dx, dy, keyOrChar);
    }
}

// ---- Immediate state --------------------------------------------------------------------------

void InputManager::ClampCursor() {
    cursor_.x = std::clamp(cursor_.x, 0, std::max(0, renderRect_.right - 1));
    cursor_.y = std::clamp(cursor_.y, 0, std::max(0, renderRect_.bottom - 1));
}

bool InputManager::UpdateMouseState() {
    if (mouse_ == nullptr) return false;
    if (UsesSystemCursor()) {
        POINT p{};
        if (GetCursorPos(&p) && ScreenToClient(window_, &p)) cursor_ = Point(p.x, p.y);
    }
    if (!ReadState(mouse_, sizeof mouseState_, &mouseState_)) return false;
    if (!UsesSystemCursor()) {
        // Without the system's pointer the cursor follows the mouse's own movement.
        cursor_.x += static_cast<int32_t>(static_cast<float>(mouseState_.lX - lastAxes_.x) * sensitivity_);
        cursor_.y += static_cast<int32_t>(static_cast<float>(mouseState_.lY - lastAxes_.y) * sensitivity_);
    }
    ClampCursor();
    lastAxes_ = Point(mouseState_.lX, mouseState_.lY);
    return true;
}

bool InputManager::ReadKeyboardState() {
    return keyboard_ != nullptr && ReadState(keyboard_, static_cast<DWORD>(keyState_.size()), keyState_.data());
}

bool InputManager::UpdateInputState(int64_t intervalMs) {
    if (!refreshTimer_.Check(intervalMs)) return true;
    const bool mouse = UpdateMouseState();
    const bool keyboard = ReadKeyboardState();
    if (!mouse || !keyboard) return false;
    refreshTimer_.Reset();
    return true;
}

bool InputManager::IsKeyDown(uint32_t scanCode) const { return scanCode < 256 && (keyState_[scanCode] & kDown) != 0; }

bool InputManager::IsLeftButtonDown() const {
    if (UsesSystemCursor()) return GetAsyncKeyState(VK_LBUTTON) < 0;
    return (mouseState_.rgbButtons[0] & kDown) != 0;
}

bool InputManager::IsRightButtonDown() const {
    if (UsesSystemCursor()) return GetAsyncKeyState(VK_RBUTTON) < 0;
    return (mouseState_.rgbButtons[1] & kDown) != 0;
}

// ---- Messages and the device ------------------------------------------------------------------

LRESULT InputManager::OnWindowMessage(HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SETFOCUS:
        if (keyboard_ != nullptr) keyboard_->Acquire();
        if (mouse_ != nullptr) mouse_->Acquire();
        hasFocus_ = true;
        Send(InputEventKind::kFocusGained, cursor_.x, cursor_.y);
        break;
    case WM_KILLFOCUS:
        hasFocus_ = false;
        if (keyboard_ != nullptr) keyboard_->Unacquire();
        if (mouse_ != nullptr) mouse_->Unacquire();
        break;
    case WM_SETCURSOR:
        SetCursor(UsesSystemCursor() ? LoadCursorA(nullptr, IDC_ARROW) : nullptr);
        break;
    case WM_CHAR:
        Send(InputEventKind::kCharacter, cursor_.x, cursor_.y, 0, 0, 0, 0, static_cast<int32_t>(wParam));
        break;
    case WM_MOUSEMOVE: {
        // The halves are signed client coordinates: left of or above the window they are
        // negative, not near 65535.
        const Point moved(static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam)));
        Send(InputEventKind::kCursorMoved, moved.x, moved.y, cursor_.x, cursor_.y, moved.x - cursor_.x,
             moved.y - cursor_.y);
        cursor_ = moved;
        break;
    }
    default: break;
    }
    return 1;
}

bool InputManager::OnDeviceRestore() {
    if (g_appFramework != nullptr) renderRect_ = g_appFramework->GetRenderRect();
    if (!FrameworkWindowed() && !systemCursor_) ClampCursor();
    return true;
}
