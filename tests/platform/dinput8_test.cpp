// Conformance of DirectInput 8 over SDL input: creation through "dinput8.dll", the calls refused
// with their documented codes, keys and mouse movement as records and state, sequence numbers,
// the buffer's overflow, event notification and foreground cooperation. SDL events are pushed
// as the display server would report them; records with chosen contents come from the hook.

#include "platform/dinput8/dinput8_testing.h"
#include "window_test_support.h"

#include <dinput.h>
#include <mmsystem.h>

#include <functional>
#include <string>

namespace rh::test {
namespace {

using rh::dinput8::DeviceKind;
using rh::dinput8::testing::InjectRecord;

using CreateFunction = HRESULT(WINAPI*)(HINSTANCE, DWORD, REFIID, LPVOID*, LPUNKNOWN);

constexpr DWORD kForeground = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND;
constexpr DWORD kBackground = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;

TEST(DirectInputCreateTest, TheLibraryAnswersAndTheArgumentsAreChecked) {
    HMODULE library = LoadLibraryA("DINPUT8");
    ASSERT_NE(library, nullptr);
    auto create = reinterpret_cast<CreateFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DirectInput8Create")));
    ASSERT_EQ(create, &DirectInput8Create);

    HINSTANCE instance = GetModuleHandleA(nullptr);
    // Never called: aggregation is refused before anything is asked of it.
    int notAnObject = 0;
    IUnknown* outer = reinterpret_cast<IUnknown*>(&notAnObject);
    struct Case {
        const char* what;
        HINSTANCE instance;
        DWORD version;
        const IID* iid;
        IUnknown* outer;
        HRESULT expected;
    };
    const Case cases[] = {
        {"the engine's call", instance, 0x0800, &IID_IDirectInput8A, nullptr, DI_OK},
        {"no instance", nullptr, 0x0800, &IID_IDirectInput8A, nullptr, DIERR_INVALIDPARAM},
        {"a newer version", instance, 0x0900, &IID_IDirectInput8A, nullptr, DIERR_OLDDIRECTINPUTVERSION},
        {"an older version", instance, 0x0700, &IID_IDirectInput8A, nullptr, DIERR_BETADIRECTINPUTVERSION},
        {"a device interface", instance, 0x0800, &IID_IDirectInputDevice8A, nullptr, DIERR_NOINTERFACE},
        {"aggregation", instance, 0x0800, &IID_IDirectInput8A, outer, DIERR_NOAGGREGATION},
    };
    for (const Case& c : cases) {
        void* out = &notAnObject;  // a sentinel: failures must clear it
        EXPECT_EQ(create(c.instance, c.version, *c.iid, &out, c.outer), c.expected) << c.what;
        if (c.expected == DI_OK) {
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(static_cast<IDirectInput8A*>(out)->Release(), 0u) << c.what;
        } else {
            EXPECT_EQ(out, nullptr) << c.what;
        }
    }
    EXPECT_EQ(create(instance, 0x0800, IID_IDirectInput8A, nullptr, nullptr), DIERR_INVALIDPARAM);
    EXPECT_TRUE(FreeLibrary(library));
}

class DirectInputTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        w_ = Make(100, 80, 320, 240);
        Settle();
        // Focus is what the input read so far says; earlier tests may have taken it away.
        PushWindowEvent(w_, SDL_WINDOWEVENT_FOCUS_GAINED);
        void* out = nullptr;
        ASSERT_EQ(DirectInput8Create(GetModuleHandleA(nullptr), 0x0800, IID_IDirectInput8A, &out, nullptr), DI_OK);
        di_ = static_cast<IDirectInput8A*>(out);
    }

    void TearDown() override {
        for (IDirectInputDevice8A* d : devices_) EXPECT_EQ(d->Release(), 0u);
        for (HANDLE e : events_) CloseHandle(e);
        if (di_ != nullptr) {
            EXPECT_EQ(di_->Release(), 0u);
        }
        WindowTest::TearDown();
    }

    IDirectInputDevice8A* Create(DeviceKind kind) {
        IDirectInputDevice8A* device = nullptr;
        EXPECT_EQ(di_->CreateDevice(kind == DeviceKind::Keyboard ? GUID_SysKeyboard : GUID_SysMouse, &device, nullptr),
                  DI_OK);
        if (device != nullptr) devices_.push_back(device);
        return device;
    }

    static HRESULT SetBufferSize(IDirectInputDevice8A* device, DWORD size) {
        DIPROPDWORD p{};
        p.diph.dwSize = sizeof p;
        p.diph.dwHeaderSize = sizeof p.diph;
        p.diph.dwObj = 0;
        p.diph.dwHow = DIPH_DEVICE;
        p.dwData = size;
        return device->SetProperty(DIPROP_BUFFERSIZE, &p.diph);
    }

    HANDLE MakeEvent() {
        HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        events_.push_back(e);
        return e;
    }

    // Set up and acquired as the engine does it: the standard format (the mouse's with
    // absolute axes unless told), 64 records, an auto-reset event.
    IDirectInputDevice8A* Ready(DeviceKind kind, DWORD cooperation = kForeground, bool absolute = true) {
        IDirectInputDevice8A* d = Create(kind);
        DIDATAFORMAT format = kind == DeviceKind::Keyboard ? c_dfDIKeyboard : c_dfDIMouse;
        if (kind == DeviceKind::Mouse && absolute) format.dwFlags = DIDF_ABSAXIS;
        EXPECT_EQ(d->SetDataFormat(&format), DI_OK);
        EXPECT_EQ(d->SetCooperativeLevel(w_, cooperation), DI_OK);
        EXPECT_EQ(SetBufferSize(d, 64), DI_OK);
        EXPECT_EQ(d->SetEventNotification(MakeEvent()), DI_OK);
        EXPECT_EQ(d->Acquire(), DI_OK);
        return d;
    }

    // Every buffered record, with the read's answer in *result.
    static std::vector<DIDEVICEOBJECTDATA> Read(IDirectInputDevice8A* d, HRESULT* result = nullptr,
                                                DWORD flags = 0) {
        std::vector<DIDEVICEOBJECTDATA> records(1000);
        DWORD count = static_cast<DWORD>(records.size());
        HRESULT hr = d->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), records.data(), &count, flags);
        if (result != nullptr) *result = hr;
        records.resize(FAILED(hr) ? 0 : count);
        return records;
    }

    void PushKey(bool down, SDL_Scancode scancode, bool repeat = false) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.windowID = SdlId(w_);
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.repeat = repeat ? 1 : 0;
        e.key.keysym.scancode = scancode;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    void PushMotion(int dx, int dy) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.windowID = SdlId(w_);
        e.motion.x = 50;
        e.motion.y = 50;
        e.motion.xrel = dx;
        e.motion.yrel = dy;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    void PushButton(bool down, Uint8 button) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.windowID = SdlId(w_);
        e.button.button = button;
        e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    void PushWheel(int notches) {
        SDL_Event e{};
        e.type = SDL_MOUSEWHEEL;
        e.wheel.windowID = SdlId(w_);
        e.wheel.y = notches;
        e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    static bool Signalled(HANDLE event) { return WaitForMultipleObjects(1, &event, FALSE, 0) == WAIT_OBJECT_0; }

    HWND w_ = nullptr;
    IDirectInput8A* di_ = nullptr;
    std::vector<IDirectInputDevice8A*> devices_;
    std::vector<HANDLE> events_;
};

TEST_F(DirectInputTest, OnlyTheSystemKeyboardAndMouseAreMade) {
    IDirectInputDevice8A* device = reinterpret_cast<IDirectInputDevice8A*>(&di_);
    EXPECT_EQ(di_->CreateDevice(IID_IDirectInput8A, &device, nullptr), DIERR_DEVICENOTREG);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(di_->CreateDevice(GUID_SysMouse, nullptr, nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(di_->CreateDevice(GUID_SysMouse, &device, di_), DIERR_NOAGGREGATION);
    IDirectInputDevice8A* keyboard = Create(DeviceKind::Keyboard);
    ASSERT_NE(keyboard, nullptr);
    void* same = nullptr;
    EXPECT_EQ(keyboard->QueryInterface(IID_IDirectInputDevice8A, &same), S_OK);
    EXPECT_EQ(same, keyboard);
    keyboard->Release();
}

// Each row starts from a fresh device brought to a stage, then makes one call.
TEST_F(DirectInputTest, CallsAreRefusedWithTheirDocumentedCodes) {
    enum Stage { kFresh, kFormatted, kAcquired };
    using Call = std::function<HRESULT(IDirectInputDevice8A*)>;
    DIDATAFORMAT noFlags = c_dfDIMouse;
    noFlags.dwFlags = 0;
    DIDATAFORMAT foreignObjects = c_dfDIMouse;
    DIOBJECTDATAFORMAT objects[7];
    std::copy_n(c_dfDIMouse.rgodf, 7, objects);
    objects[2].dwOfs = 9;
    foreignObjects.rgodf = objects;
    DIDATAFORMAT copiedObjects = c_dfDIMouse;
    DIOBJECTDATAFORMAT copies[7];
    std::copy_n(c_dfDIMouse.rgodf, 7, copies);
    copiedObjects.rgodf = copies;
    HANDLE event = MakeEvent();
    HANDLE closed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(closed);
    auto property = [](DWORD size, DWORD headerSize, DWORD how, DWORD object) {
        return [=](IDirectInputDevice8A* d) {
            DIPROPDWORD p{{size, headerSize, object, how}, 64};
            return d->SetProperty(DIPROP_BUFFERSIZE, &p.diph);
        };
    };
    auto read = [](DWORD objectSize, DWORD flags) {
        return [=](IDirectInputDevice8A* d) {
            DIDEVICEOBJECTDATA records[4];
            DWORD count = 4;
            return d->GetDeviceData(objectSize, records, &count, flags);
        };
    };
    auto state = [](DWORD size) {
        return [=](IDirectInputDevice8A* d) {
            BYTE data[300];
            return d->GetDeviceState(size, data);
        };
    };
    HWND window = w_;
    struct Case {
        const char* what;
        DeviceKind kind;
        Stage stage;
        Call call;
        HRESULT expected;
    };
    const Case cases[] = {
        {"format: null", DeviceKind::Mouse, kFresh, [](auto d) { return d->SetDataFormat(nullptr); }, DIERR_INVALIDPARAM},
        {"format: the keyboard's on a mouse", DeviceKind::Mouse, kFresh,
         [](auto d) { return d->SetDataFormat(&c_dfDIKeyboard); }, DIERR_INVALIDPARAM},
        {"format: neither absolute nor relative", DeviceKind::Mouse, kFresh,
         [&](auto d) { return d->SetDataFormat(&noFlags); }, DIERR_INVALIDPARAM},
        {"format: other objects", DeviceKind::Mouse, kFresh,
         [&](auto d) { return d->SetDataFormat(&foreignObjects); }, DIERR_INVALIDPARAM},
        {"format: the standard objects copied", DeviceKind::Mouse, kFresh,
         [&](auto d) { return d->SetDataFormat(&copiedObjects); }, DI_OK},
        {"format: while acquired", DeviceKind::Keyboard, kAcquired,
         [](auto d) { return d->SetDataFormat(&c_dfDIKeyboard); }, DIERR_ACQUIRED},
        {"cooperation: no exclusivity", DeviceKind::Mouse, kFresh,
         [&](auto d) { return d->SetCooperativeLevel(window, DISCL_FOREGROUND); }, DIERR_INVALIDPARAM},
        {"cooperation: both exclusivities", DeviceKind::Mouse, kFresh,
         [&](auto d) { return d->SetCooperativeLevel(window, DISCL_EXCLUSIVE | kForeground); }, DIERR_INVALIDPARAM},
        {"cooperation: foreground and background", DeviceKind::Mouse, kFresh,
         [&](auto d) { return d->SetCooperativeLevel(window, kForeground | DISCL_BACKGROUND); }, DIERR_INVALIDPARAM},
        {"cooperation: foreground without a window", DeviceKind::Mouse, kFresh,
         [](auto d) { return d->SetCooperativeLevel(nullptr, kForeground); }, E_HANDLE},
        {"cooperation: background without a window", DeviceKind::Mouse, kFresh,
         [](auto d) { return d->SetCooperativeLevel(nullptr, kBackground); }, DI_OK},
        {"cooperation: not a window", DeviceKind::Mouse, kFresh,
         [](auto d) { return d->SetCooperativeLevel(reinterpret_cast<HWND>(0x1234), kBackground); }, E_HANDLE},
        {"cooperation: exclusive background keyboard", DeviceKind::Keyboard, kFresh,
         [&](auto d) { return d->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_BACKGROUND); },
         DIERR_UNSUPPORTED},
        {"buffer size: by offset", DeviceKind::Mouse, kFresh,
         property(sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), DIPH_BYOFFSET, DIMOFS_X), DIERR_INVALIDPARAM},
        {"buffer size: wrong structure size", DeviceKind::Mouse, kFresh,
         property(sizeof(DIPROPHEADER), sizeof(DIPROPHEADER), DIPH_DEVICE, 0), DIERR_INVALIDPARAM},
        {"buffer size: wrong header size", DeviceKind::Mouse, kFresh,
         property(sizeof(DIPROPDWORD), 12, DIPH_DEVICE, 0), DIERR_INVALIDPARAM},
        {"buffer size: while acquired", DeviceKind::Mouse, kAcquired,
         property(sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), DIPH_DEVICE, 0), DIERR_ACQUIRED},
        {"event: not an event", DeviceKind::Mouse, kFresh,
         [&](auto d) { return d->SetEventNotification(closed); }, DIERR_INVALIDPARAM},
        {"event: while acquired", DeviceKind::Mouse, kAcquired,
         [&](auto d) { return d->SetEventNotification(nullptr); }, DIERR_ACQUIRED},
        {"acquire: no format", DeviceKind::Keyboard, kFresh, [](auto d) { return d->Acquire(); }, DIERR_INVALIDPARAM},
        {"acquire: twice", DeviceKind::Keyboard, kAcquired, [](auto d) { return d->Acquire(); }, DI_NOEFFECT},
        {"unacquire: not acquired", DeviceKind::Keyboard, kFormatted, [](auto d) { return d->Unacquire(); },
         DI_NOEFFECT},
        {"records: the 32-bit record size", DeviceKind::Keyboard, kAcquired, read(20, 0), DIERR_INVALIDPARAM},
        {"records: unknown flags", DeviceKind::Keyboard, kAcquired, read(sizeof(DIDEVICEOBJECTDATA), 2),
         DIERR_INVALIDPARAM},
        {"records: no count", DeviceKind::Keyboard, kAcquired,
         [](auto d) { return d->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), nullptr, nullptr, 0); },
         DIERR_INVALIDPARAM},
        {"records: not acquired", DeviceKind::Keyboard, kFormatted, read(sizeof(DIDEVICEOBJECTDATA), 0),
         DIERR_NOTACQUIRED},
        {"records: no buffer", DeviceKind::Keyboard, kAcquired,
         [&](auto d) {
             d->Unacquire();
             SetBufferSize(d, 0);
             d->Acquire();
             return read(sizeof(DIDEVICEOBJECTDATA), 0)(d);
         },
         DIERR_NOTBUFFERED},
        {"state: keyboard size 255", DeviceKind::Keyboard, kAcquired, state(255), DIERR_INVALIDPARAM},
        {"state: mouse size 20", DeviceKind::Mouse, kAcquired, state(20), DIERR_INVALIDPARAM},
        {"state: null", DeviceKind::Mouse, kAcquired, [](auto d) { return d->GetDeviceState(16, nullptr); },
         DIERR_INVALIDPARAM},
        {"state: not acquired", DeviceKind::Mouse, kFormatted, state(16), DIERR_NOTACQUIRED},
    };
    for (const Case& c : cases) {
        IDirectInputDevice8A* d = Create(c.kind);
        if (c.stage != kFresh) {
            ASSERT_EQ(d->SetDataFormat(c.kind == DeviceKind::Keyboard ? &c_dfDIKeyboard : &c_dfDIMouse), DI_OK);
            ASSERT_EQ(d->SetCooperativeLevel(w_, kForeground), DI_OK);
            ASSERT_EQ(SetBufferSize(d, 64), DI_OK);
        }
        if (c.stage == kAcquired) {
            ASSERT_EQ(d->Acquire(), DI_OK) << c.what;
        }
        EXPECT_EQ(c.call(d), c.expected) << c.what;
    }

    // One event per device.
    IDirectInputDevice8A* d = Create(DeviceKind::Keyboard);
    EXPECT_EQ(d->SetEventNotification(event), DI_OK);
    EXPECT_EQ(d->SetEventNotification(MakeEvent()), DIERR_HANDLEEXISTS);
    EXPECT_EQ(d->SetEventNotification(nullptr), DI_OK);
    EXPECT_EQ(d->SetEventNotification(MakeEvent()), DI_OK);
}

TEST_F(DirectInputTest, KeysArriveAsSetOneScanCodesWithoutRepeats) {
    IDirectInputDevice8A* keyboard = Ready(DeviceKind::Keyboard);
    struct Case {
        SDL_Scancode key;
        DWORD dik;
    };
    // The keys with an E0 prefix add 0x80, except NumLock and Pause, which trade places.
    const Case cases[] = {
        {SDL_SCANCODE_ESCAPE, DIK_ESCAPE},       {SDL_SCANCODE_A, DIK_A},
        {SDL_SCANCODE_RETURN, DIK_RETURN},       {SDL_SCANCODE_KP_ENTER, DIK_NUMPADENTER},
        {SDL_SCANCODE_LCTRL, DIK_LCONTROL},      {SDL_SCANCODE_RCTRL, DIK_RCONTROL},
        {SDL_SCANCODE_SLASH, DIK_SLASH},         {SDL_SCANCODE_KP_DIVIDE, 0xB5},
        {SDL_SCANCODE_UP, DIK_UP},               {SDL_SCANCODE_KP_8, 0x48},
        {SDL_SCANCODE_NUMLOCKCLEAR, DIK_NUMLOCK}, {SDL_SCANCODE_PAUSE, DIK_PAUSE},
        {SDL_SCANCODE_PRINTSCREEN, 0xB7},        {SDL_SCANCODE_F3, DIK_F3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(SDL_GetScancodeName(c.key));
        PushKey(true, c.key);
        PushKey(true, c.key, true);  // auto-repeat
        BYTE keys[256];
        ASSERT_EQ(keyboard->GetDeviceState(sizeof keys, keys), DI_OK);
        EXPECT_EQ(keys[c.dik], 0x80);
        PushKey(false, c.key);
        ASSERT_EQ(keyboard->GetDeviceState(sizeof keys, keys), DI_OK);
        EXPECT_EQ(keys[c.dik], 0);
        std::vector<DIDEVICEOBJECTDATA> records = Read(keyboard);
        ASSERT_EQ(records.size(), 2u) << "down and up; the repeat is no record";
        EXPECT_EQ(records[0].dwOfs, c.dik);
        EXPECT_EQ(records[0].dwData & 0x80, 0x80u);
        EXPECT_EQ(records[1].dwOfs, c.dik);
        EXPECT_EQ(records[1].dwData & 0x80, 0u);
        EXPECT_EQ(records[0].uAppData, 0u);
    }
}

TEST_F(DirectInputTest, MouseRecordsCarryAxesButtonsAndWheel) {
    for (bool absolute : {true, false}) {
        SCOPED_TRACE(absolute ? "absolute axes" : "relative axes");
        IDirectInputDevice8A* mouse = Ready(DeviceKind::Mouse, kForeground, absolute);
        PushMotion(3, 4);
        PushMotion(-1, 0);
        PushButton(true, SDL_BUTTON_LEFT);
        PushButton(true, SDL_BUTTON_RIGHT);
        PushButton(true, SDL_BUTTON_MIDDLE);
        PushButton(false, SDL_BUTTON_LEFT);
        PushWheel(-2);
        PushMotion(0, 2);

        struct Expected {
            DWORD offset;
            LONG data;
        };
        const std::vector<Expected> expected = absolute ? std::vector<Expected>{
            {DIMOFS_X, 3}, {DIMOFS_Y, 4}, {DIMOFS_X, 2}, {DIMOFS_BUTTON0, 0x80}, {DIMOFS_BUTTON1, 0x80},
            {DIMOFS_BUTTON2, 0x80}, {DIMOFS_BUTTON0, 0}, {DIMOFS_Z, -240}, {DIMOFS_Y, 6}}
                                                        : std::vector<Expected>{
            {DIMOFS_X, 3}, {DIMOFS_Y, 4}, {DIMOFS_X, -1}, {DIMOFS_BUTTON0, 0x80}, {DIMOFS_BUTTON1, 0x80},
            {DIMOFS_BUTTON2, 0x80}, {DIMOFS_BUTTON0, 0}, {DIMOFS_Z, -240}, {DIMOFS_Y, 2}};
        std::vector<DIDEVICEOBJECTDATA> records = Read(mouse);
        ASSERT_EQ(records.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(records[i].dwOfs, expected[i].offset) << i;
            EXPECT_EQ(static_cast<LONG>(records[i].dwData), expected[i].data) << i;
        }
        EXPECT_EQ(records[0].dwSequence, records[1].dwSequence) << "X and Y of one movement happen together";
        for (size_t i = 2; i < records.size(); ++i) EXPECT_GT(records[i].dwSequence, records[i - 1].dwSequence) << i;

        DIMOUSESTATE state{};
        ASSERT_EQ(mouse->GetDeviceState(sizeof state, &state), DI_OK);
        EXPECT_EQ(state.lX, 2);
        EXPECT_EQ(state.lY, 6);
        EXPECT_EQ(state.lZ, -240);
        EXPECT_EQ(state.rgbButtons[0], 0);
        EXPECT_EQ(state.rgbButtons[1], 0x80);
        EXPECT_EQ(state.rgbButtons[2], 0x80);
        ASSERT_EQ(mouse->GetDeviceState(sizeof state, &state), DI_OK);
        EXPECT_EQ(state.lX, absolute ? 2 : 0) << "relative axes count from the last read";
        PushButton(false, SDL_BUTTON_RIGHT);
        PushButton(false, SDL_BUTTON_MIDDLE);
        mouse->Unacquire();
    }
}

TEST_F(DirectInputTest, SequenceNumbersRiseAcrossDevicesAndTimeStampsFollowTheMultimediaTimer) {
    IDirectInputDevice8A* keyboard = Ready(DeviceKind::Keyboard);
    IDirectInputDevice8A* mouse = Ready(DeviceKind::Mouse);
    DWORD before = timeGetTime();
    PushKey(true, SDL_SCANCODE_B);
    PushButton(true, SDL_BUTTON_LEFT);
    PushKey(false, SDL_SCANCODE_B);
    PushButton(false, SDL_BUTTON_LEFT);
    DWORD after = timeGetTime();
    std::vector<DIDEVICEOBJECTDATA> keys = Read(keyboard);
    std::vector<DIDEVICEOBJECTDATA> buttons = Read(mouse);
    ASSERT_EQ(keys.size(), 2u);
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_LT(keys[0].dwSequence, buttons[0].dwSequence);
    EXPECT_LT(buttons[0].dwSequence, keys[1].dwSequence);
    EXPECT_LT(keys[1].dwSequence, buttons[1].dwSequence);
    for (const auto& r : {keys[0], keys[1], buttons[0], buttons[1]}) {
        // Differences, so that a wrap of the 32-bit clock in between is harmless.
        EXPECT_LE(r.dwTimeStamp - before, after - before);
    }
}

TEST_F(DirectInputTest, TheBufferHoldsOneRecordFewerThanItsSizeAndReportsTheOverflow) {
    IDirectInputDevice8A* mouse = Ready(DeviceKind::Mouse);
    auto inject = [](int count) {
        for (int i = 0; i < count; ++i) InjectRecord(DeviceKind::Mouse, DIMOFS_BUTTON0, i % 2 ? 0 : 0x80, 1000 + i);
    };
    HRESULT hr = E_FAIL;
    inject(63);
    EXPECT_EQ(Read(mouse, &hr).size(), 63u);
    EXPECT_EQ(hr, DI_OK) << "63 records fit in a buffer of 64";

    inject(64);
    // Peeking reports the overflow and keeps both the records and the report.
    EXPECT_EQ(Read(mouse, &hr, DIGDD_PEEK).size(), 63u);
    EXPECT_EQ(hr, DI_BUFFEROVERFLOW);
    std::vector<DIDEVICEOBJECTDATA> kept = Read(mouse, &hr);
    EXPECT_EQ(hr, DI_BUFFEROVERFLOW);
    ASSERT_EQ(kept.size(), 63u);
    EXPECT_EQ(kept.front().dwTimeStamp, 1000u) << "the oldest are kept";
    EXPECT_EQ(kept.back().dwTimeStamp, 1062u) << "the newest is the one lost";
    EXPECT_TRUE(Read(mouse, &hr).empty());
    EXPECT_EQ(hr, DI_OK) << "reported once";

    // A count asked for takes that many; null records with INFINITE flush and count.
    inject(5);
    DIDEVICEOBJECTDATA two[2];
    DWORD count = 2;
    EXPECT_EQ(mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), two, &count, 0), DI_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(two[1].dwTimeStamp, 1001u);
    count = INFINITE;
    EXPECT_EQ(mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), nullptr, &count, 0), DI_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_TRUE(Read(mouse).empty());
}

TEST_F(DirectInputTest, EveryRecordSignalsTheDevicesEvent) {
    IDirectInputDevice8A* keyboard = Ready(DeviceKind::Keyboard);
    IDirectInputDevice8A* mouse = Ready(DeviceKind::Mouse);
    HANDLE both[2] = {events_[0], events_[1]};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    PushMotion(1, 1);
    PushKey(true, SDL_SCANCODE_C);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0) << "the keyboard's, the lower index";
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    PushKey(false, SDL_SCANCODE_C);
    EXPECT_TRUE(Signalled(both[0]));
    InjectRecord(DeviceKind::Mouse, 400, 0, 0);
    EXPECT_TRUE(Signalled(both[1]));
    EXPECT_EQ(Read(keyboard).size(), 2u);
    EXPECT_EQ(Read(mouse).size(), 3u);
    // An unacquired device takes nothing and signals nothing.
    mouse->Unacquire();
    PushMotion(1, 0);
    EXPECT_FALSE(Signalled(both[1]));
}

TEST_F(DirectInputTest, ForegroundDevicesAreLostWithTheFocusAndReacquiredWithIt) {
    IDirectInputDevice8A* foreground = Ready(DeviceKind::Keyboard);
    IDirectInputDevice8A* background = Ready(DeviceKind::Keyboard, kBackground);
    PushKey(true, SDL_SCANCODE_D);
    PushWindowEvent(w_, SDL_WINDOWEVENT_FOCUS_LOST);
    EXPECT_TRUE(Signalled(events_[0])) << "the loss is signalled like data";
    PushKey(false, SDL_SCANCODE_D);

    HRESULT hr = E_FAIL;
    Read(foreground, &hr);
    EXPECT_EQ(hr, DIERR_INPUTLOST);
    Read(foreground, &hr);
    EXPECT_EQ(hr, DIERR_NOTACQUIRED) << "lost is said once";
    BYTE keys[256];
    EXPECT_EQ(foreground->GetDeviceState(sizeof keys, keys), DIERR_NOTACQUIRED);
    EXPECT_EQ(foreground->Acquire(), DIERR_OTHERAPPHASPRIO) << "not without the focus";
    EXPECT_EQ(Read(background, &hr).size(), 2u) << "background devices keep reading";
    EXPECT_EQ(hr, DI_OK);

    PushWindowEvent(w_, SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(foreground->Acquire(), DI_OK);
    EXPECT_TRUE(Read(foreground, &hr).empty()) << "input while unacquired is not kept";
    EXPECT_EQ(hr, DI_OK);

    // A loss noticed by GetDeviceState first.
    PushWindowEvent(w_, SDL_WINDOWEVENT_FOCUS_LOST);
    EXPECT_EQ(foreground->GetDeviceState(sizeof keys, keys), DIERR_INPUTLOST);
    Read(foreground, &hr);
    EXPECT_EQ(hr, DIERR_NOTACQUIRED);
    PushWindowEvent(w_, SDL_WINDOWEVENT_FOCUS_GAINED);
}

// The focus follows the window it was given to: another window gaining it takes it away.
TEST_F(DirectInputTest, OnlyTheFocusedWindowsDevicesAcquire) {
    IDirectInputDevice8A* keyboard = Create(DeviceKind::Keyboard);
    ASSERT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DI_OK);
    ASSERT_EQ(keyboard->SetCooperativeLevel(w_, kForeground), DI_OK);
    HWND other = Make(0, 0, 50, 50);
    PushWindowEvent(w_, SDL_WINDOWEVENT_FOCUS_LOST);
    PushWindowEvent(other, SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(keyboard->Acquire(), DIERR_OTHERAPPHASPRIO);
    PushWindowEvent(other, SDL_WINDOWEVENT_FOCUS_LOST);
    PushWindowEvent(w_, SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(keyboard->Acquire(), DI_OK);
}

// The saver keeps the desktop awake by pressing a key for itself: the key must reach its own
// window and DirectInput as a typed key does, and a release must leave no key down.
TEST_F(DirectInputTest, InjectedKeysArriveAsTypedKeysToTheFocusedWindow) {
    IDirectInputDevice8A* keyboard = Ready(DeviceKind::Keyboard);
    Settle();
    Read(keyboard);

    keybd_event(VK_F3, 0, 0, 0);
    keybd_event(VK_F3, 0, KEYEVENTF_KEYUP, 0);
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = 'A';
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    EXPECT_EQ(SendInput(2, inputs, sizeof(INPUT)), 2u);
    EXPECT_EQ(SendInput(2, inputs, sizeof(INPUT) - 8), 0u) << "a wrong size delivers nothing";
    EXPECT_EQ(SendInput(2, inputs, 28), 0u) << "the 32-bit size";

    std::vector<DIDEVICEOBJECTDATA> records = Read(keyboard);
    ASSERT_EQ(records.size(), 4u);
    const DWORD keys[] = {DIK_F3, DIK_F3, DIK_A, DIK_A};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].dwOfs, keys[i]) << i;
        EXPECT_EQ(records[i].dwData & 0x80, i % 2 == 0 ? 0x80u : 0u) << i;
    }
    Drain();
    std::vector<Seen> typed;
    for (const Seen& seen : TheRecorder().seen) {
        if (seen.msg == WM_KEYDOWN || seen.msg == WM_KEYUP) typed.push_back(seen);
    }
    ASSERT_EQ(typed.size(), 4u);
    const UINT messages[] = {WM_KEYDOWN, WM_KEYUP, WM_KEYDOWN, WM_KEYUP};
    const WPARAM codes[] = {VK_F3, VK_F3, 'A', 'A'};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(typed[i].hwnd, w_) << i;
        EXPECT_EQ(typed[i].msg, messages[i]) << i;
        EXPECT_EQ(typed[i].wParam, codes[i]) << i;
    }
    EXPECT_EQ(GetAsyncKeyState(VK_F3) & 0x8000, 0) << "no key stays down";
    BYTE state[256];
    ASSERT_EQ(keyboard->GetDeviceState(sizeof state, state), DI_OK);
    EXPECT_EQ(state[DIK_F3], 0);

    INPUT mouse{};
    mouse.type = 0;  // INPUT_MOUSE: not offered
    EXPECT_EQ(SendInput(1, &mouse, sizeof(INPUT)), 0u);
}

}  // namespace
}  // namespace rh::test
