// The input manager on the real layer: a framework with a windowed device over SDL2 (offscreen),
// DirectInput 8 from "dinput8.dll". Records with chosen contents and time stamps come from the
// layer's injection hook; focus changes, pointer moves and keys are pushed as SDL events, as the
// display server reports them.
#include "render/input_manager.h"

#include "core/time/clock_source.h"
#include "platform/dinput8/dinput8_testing.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <string>
#include <vector>

namespace {

using rh::dinput8::DeviceKind;
using rh::dinput8::testing::InjectRecord;

constexpr DWORD kSaverCooperation = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND;  // 6

// ---- Scan codes -------------------------------------------------------------------------------

TEST(ScanCodeToCharTest, TheTableGivesTextKeysTheirCharacters) {
    struct Case {
        uint32_t scan;
        uint16_t expected;
    };
    const Case cases[] = {
        {1, 252},  {2, '1'},  {10, '9'},  {11, '0'},  {12, 255}, {14, 253}, {15, 255},
        {16, 'q'}, {25, 'p'}, {28, 254},  {30, 'a'},  {38, 'l'}, {39, 255}, {44, 'z'},
        {50, 'm'}, {51, ','}, {52, '.'},  {53, ';'},  {57, ' '}, {0, 255},  {255, 255},
        {256, 255}, {0xFFFFFFFF, 255},
    };
    for (const Case& c : cases) EXPECT_EQ(ScanCodeToChar(c.scan), c.expected) << c.scan;
    for (int32_t kind = 0; kind <= 11; ++kind) {
        EXPECT_EQ(IsButtonEventType(static_cast<InputEventKind>(kind)), kind <= 5) << kind;
    }
}

// ---- The framework ----------------------------------------------------------------------------

class InputApp;
InputApp* g_app = nullptr;

LRESULT CALLBACK InputWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

class InputApp : public AppFramework {
public:
    InputApp() { g_app = this; }
    ~InputApp() override {
        ReleaseDevice();
        if (hwnd_ != nullptr) DestroyWindow(hwnd_);
        UnregisterClassA("InputTest", nullptr);
        g_app = nullptr;
    }

    // A window without a class cursor, so the pointer's shape is the input manager's choice.
    bool Open(bool fullscreen) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = InputWindowProc;
        wc.lpszClassName = "InputTest";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, kTitle, WS_POPUP | WS_VISIBLE, kLeft, kTop, 320, 240, nullptr,
                                nullptr, nullptr, nullptr);
        if (hwnd_ == nullptr) return false;
        CurrentSettings().windowed = !fullscreen;
        CurrentSettings().backBufferFormat = D3DFMT_X8R8G8B8;
        return Create(nullptr, hwnd_) && RecreateDevice(fullscreen);
    }

    HWND window() const { return hwnd_; }
    static constexpr char kTitle[] = "input manager test";
    static constexpr int kLeft = 40;
    static constexpr int kTop = 30;

private:
    HWND hwnd_ = nullptr;
};

LRESULT CALLBACK InputWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (g_app != nullptr) return g_app->MsgProc(hwnd, msg, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void PumpMessages() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

struct Event {
    InputEventKind kind;
    int32_t x, y, prevX, prevY, dx, dy, keyOrChar;
    std::string listener;
};

std::string Describe(const std::vector<Event>& events) {
    std::string text;
    for (const Event& e : events) {
        text += e.listener + std::to_string(static_cast<int32_t>(e.kind));
        if (e.kind == InputEventKind::kKeyDown || e.kind == InputEventKind::kKeyUp) {
            text += "(" + std::to_string(e.keyOrChar) + ")";
        }
        text += " ";
    }
    return text;
}

class RecordingListener : public InputListener {
public:
    RecordingListener(std::vector<Event>& log, std::string name = "") : log_(log), name_(std::move(name)) {}
    void OnInputEvent(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY, int32_t dx, int32_t dy,
                      int32_t keyOrChar) override {
        log_.push_back(Event{kind, x, y, prevX, prevY, dx, dy, keyOrChar, name_});
    }

private:
    std::vector<Event>& log_;
    std::string name_;
};

class InputManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app_.Open(Fullscreen()));
        Focus(true);
    }
    virtual bool Fullscreen() const { return false; }

    void Focus(bool gained) {
        PushWindowEvent(gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST);
        PumpMessages();
    }

    void PushWindowEvent(Uint8 kind) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.windowID = WindowId();
        e.window.event = kind;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    // The pointer at client x, y, having moved by dx, dy.
    void PushMotion(int x, int y, int dx, int dy) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.windowID = WindowId();
        e.motion.x = x;
        e.motion.y = y;
        e.motion.xrel = dx;
        e.motion.yrel = dy;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    void PushKey(bool down, SDL_Scancode scancode) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.windowID = WindowId();
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.scancode = scancode;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    // The SDL window behind the framework's window: the one live window with its title.
    static Uint32 WindowId() {
        for (Uint32 id = 1; id < 4096; ++id) {
            SDL_Window* w = SDL_GetWindowFromID(id);
            if (w != nullptr && std::string(SDL_GetWindowTitle(w)) == InputApp::kTitle) return id;
        }
        ADD_FAILURE() << "no window titled " << InputApp::kTitle;
        return 0;
    }

    InputApp app_;
    std::vector<Event> events_;
};

// ---- The edge cases, as records ---------------------------------------------------------------

struct Injection {
    DeviceKind device;
    DWORD offset;
    DWORD data;
    DWORD time;
};

constexpr DeviceKind K = DeviceKind::Keyboard;
constexpr DeviceKind M = DeviceKind::Mouse;
constexpr DWORD kDown = 0x80;

struct Row {
    const char* what;
    std::vector<Injection> records;
    // What each poll sends, in the Describe form: kinds, with key codes for keys.
    std::vector<std::string> polls;
};

TEST_F(InputManagerTest, RecordsBecomeEvents) {
    std::vector<Injection> overflow;
    for (DWORD i = 0; i < InputManager::kBufferRecords; ++i) overflow.push_back({K, 30, i % 2 ? 0 : kDown, 100 + i});
    const Row rows[] = {
        {"releases 499 ms apart: a double click",
         {{M, DIMOFS_BUTTON0, kDown, 1000}, {M, DIMOFS_BUTTON0, 0, 1000}, {M, DIMOFS_BUTTON0, kDown, 1400},
          {M, DIMOFS_BUTTON0, 0, 1499}},
         {"0 1 0 1 2 "}},
        {"500 ms apart: no double click, the second release starts a new pair",
         {{M, DIMOFS_BUTTON0, 0, 1000}, {M, DIMOFS_BUTTON0, 0, 1500}, {M, DIMOFS_BUTTON0, 0, 1600}},
         {"1 1 1 2 "}},
        {"a pair across the wrap of the 32-bit clock",
         {{M, DIMOFS_BUTTON0, 0, 0xFFFFFF00}, {M, DIMOFS_BUTTON0, 0, 0x10}},
         {"1 1 2 "}},
        {"a double click ends the pair: the third release starts the next",
         {{M, DIMOFS_BUTTON0, 0, 1000}, {M, DIMOFS_BUTTON0, 0, 1100}, {M, DIMOFS_BUTTON0, 0, 1200}},
         {"1 1 2 1 "}},
        {"the right button counts its own pairs",
         {{M, DIMOFS_BUTTON1, kDown, 1000}, {M, DIMOFS_BUTTON1, 0, 1010}, {M, DIMOFS_BUTTON0, 0, 1020},
          {M, DIMOFS_BUTTON1, kDown, 1030}, {M, DIMOFS_BUTTON1, 0, 1040}},
         {"3 4 1 3 4 5 "}},
        {"X and Y records in one batch: one axis event",
         {{M, DIMOFS_X, 5, 1000}, {M, DIMOFS_Y, 3, 1000}, {M, DIMOFS_X, 6, 1010}, {M, DIMOFS_Y, 4, 1010}},
         {"7 "}},
        {"a button between two movements: its event once, one axis event",
         {{M, DIMOFS_X, 5, 1000}, {M, DIMOFS_BUTTON0, kDown, 1005}, {M, DIMOFS_Y, 4, 1010}},
         {"7 0 "}},
        {"the wheel and further buttons send nothing",
         {{M, DIMOFS_Z, 120, 1000}, {M, DIMOFS_BUTTON2, kDown, 1000}, {M, DIMOFS_BUTTON3, kDown, 1000}},
         {""}},
        {"keys down and up", {{K, 30, kDown, 1000}, {K, 30, 0, 1010}}, {"8(30) 9(30) "}},
        {"a key record above 255 drops the rest of its batch",
         {{K, 30, kDown, 1000}, {K, 256, kDown, 1010}, {K, 31, kDown, 1020}},
         {"8(30) ", ""}},
        {"both devices signalled: the keyboard now, the mouse at the next poll",
         {{M, DIMOFS_BUTTON0, kDown, 1000}, {K, 28, kDown, 1000}},
         {"8(28) ", "0 ", ""}},
        {"a full buffer's read answers DI_BUFFEROVERFLOW and the poll's records are dropped", overflow, {"", ""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        events_.clear();
        InputManager input;
        RecordingListener listener(events_);
        input.AddListener(&listener);
        ASSERT_TRUE(input.InitInput(true, kSaverCooperation, kSaverCooperation));
        for (const Injection& r : row.records) InjectRecord(r.device, r.offset, r.data, r.time);
        for (const std::string& expected : row.polls) {
            events_.clear();
            input.PollInput();
            EXPECT_EQ(Describe(events_), expected);
        }
    }
}

TEST_F(InputManagerTest, ListenersHearTheNewestFirstThenTheOldestOnAndEachGetsBothClicks) {
    InputManager input;
    RecordingListener a(events_, "a"), b(events_, "b"), c(events_, "c");
    input.AddListener(&a);
    input.AddListener(&b);
    input.AddListener(&c);
    ASSERT_TRUE(input.InitInput(true, kSaverCooperation, kSaverCooperation));
    InjectRecord(M, DIMOFS_BUTTON0, kDown, 2000);
    InjectRecord(M, DIMOFS_BUTTON0, 0, 2000);
    InjectRecord(M, DIMOFS_BUTTON0, 0, 2100);
    input.PollInput();
    EXPECT_EQ(Describe(events_), "c0 a0 b0 c1 a1 b1 c1 c2 a1 a2 b1 b2 ");
}

TEST_F(InputManagerTest, MouseEventsCarryTheCursorAndTheAxes) {
    InputManager input;
    RecordingListener listener(events_);
    input.AddListener(&listener);
    ASSERT_TRUE(input.InitInput(true, kSaverCooperation, kSaverCooperation));
    // The mouse moves by (5, 3) to client (20, 10): the window hears of it first, as the main
    // loop drains the messages before it polls.
    PushMotion(20, 10, 5, 3);
    PumpMessages();
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].kind, InputEventKind::kCursorMoved);
    EXPECT_EQ(events_[0].x, 20);
    EXPECT_EQ(events_[0].y, 10);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE) << "the system cursor is shown";

    // The device's absolute axes are (5, 3); the cursor is the system's pointer.
    events_.clear();
    input.PollInput();
    ASSERT_EQ(events_.size(), 1u);
    const Event& axes = events_[0];
    EXPECT_EQ(axes.kind, InputEventKind::kMouseAxesMoved);
    EXPECT_EQ(axes.x, 5);
    EXPECT_EQ(axes.y, 3);
    EXPECT_EQ(axes.prevX, 20) << "the cursor before the update";
    EXPECT_EQ(axes.prevY, 10);
    EXPECT_EQ(axes.dx, 5 - 20) << "axes minus that cursor";
    EXPECT_EQ(axes.dy, 3 - 10);
    EXPECT_EQ(input.GetCursorPosition().x, 20) << "client pixels";
    EXPECT_EQ(input.GetCursorPosition().y, 10);

    events_.clear();
    InjectRecord(M, DIMOFS_BUTTON1, kDown, 3000);
    input.PollInput();
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].kind, InputEventKind::kRightButtonDown);
    EXPECT_EQ(events_[0].x, 20);
    EXPECT_EQ(events_[0].y, 10);
}

// Left of or above the window the coordinates are negative. Read as unsigned they would be near
// 65535, a move far across the screen that ends the saver when moves do.
TEST_F(InputManagerTest, AMoveLeftOfTheWindowIsNegative) {
    InputManager input;
    RecordingListener listener(events_);
    input.AddListener(&listener);
    ASSERT_TRUE(input.InitInput(true, kSaverCooperation, kSaverCooperation));
    PushMotion(10, 7, 0, 0);
    PumpMessages();
    events_.clear();
    PushMotion(-5, -2, -15, -9);
    PumpMessages();
    ASSERT_EQ(events_.size(), 1u);
    const Event& moved = events_[0];
    EXPECT_EQ(moved.kind, InputEventKind::kCursorMoved);
    EXPECT_EQ(moved.x, -5);
    EXPECT_EQ(moved.y, -2);
    EXPECT_EQ(moved.prevX, 10);
    EXPECT_EQ(moved.prevY, 7);
    EXPECT_EQ(moved.dx, -15);
    EXPECT_EQ(moved.dy, -9);
}

TEST_F(InputManagerTest, FocusLossUnacquiresAndFocusGainReacquires) {
    InputManager input;
    RecordingListener listener(events_);
    input.AddListener(&listener);
    ASSERT_TRUE(input.InitInput(true, kSaverCooperation, kSaverCooperation));
    EXPECT_TRUE(input.HasFocus());

    // The devices lose acquisition as SDL reports the loss, before the window hears of it: the
    // reads answer DIERR_INPUTLOST, re-acquiring fails without the focus, and nothing is sent.
    PushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    input.PollInput();
    input.PollInput();
    EXPECT_TRUE(events_.empty());
    PumpMessages();
    EXPECT_FALSE(input.HasFocus());
    InjectRecord(K, 30, kDown, 1000);
    input.PollInput();
    EXPECT_TRUE(events_.empty()) << "no input without the focus";

    Focus(true);
    EXPECT_TRUE(input.HasFocus());
    EXPECT_EQ(Describe(events_), "11 ");
    events_.clear();
    InjectRecord(K, 30, kDown, 1000);
    input.PollInput();
    EXPECT_EQ(Describe(events_), "8(30) ");

    // Lost and regained before the manager hears of either: the read itself re-acquires.
    events_.clear();
    PushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    PushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED);
    input.PollInput();
    EXPECT_TRUE(events_.empty());
    InjectRecord(K, 31, kDown, 1000);
    input.PollInput();
    input.PollInput();
    EXPECT_EQ(Describe(events_), "8(31) ");
    PumpMessages();
}

// The mode the saver leaves unused: full screen without the system's pointer. The cursor follows
// the mouse's own movement within the render rectangle, and no pointer is shown.
class FullscreenInputTest : public InputManagerTest {
protected:
    bool Fullscreen() const override { return true; }
};

TEST_F(FullscreenInputTest, WithoutTheSystemCursorTheCursorFollowsTheMouseAndNoPointerShows) {
    InputManager input;
    RecordingListener listener(events_);
    input.AddListener(&listener);
    ASSERT_TRUE(input.InitInput(false, kSaverCooperation, kSaverCooperation));
    PushMotion(50, 50, 5, 3);
    input.PollInput();
    PushMotion(50, 50, -10, 0);
    input.PollInput();
    ASSERT_EQ(events_.size(), 2u);
    for (const Event& e : events_) EXPECT_EQ(e.kind, InputEventKind::kCursorMoved);
    EXPECT_EQ(events_[0].x, 5);
    EXPECT_EQ(events_[0].y, 3);
    EXPECT_EQ(events_[0].prevX, 0);
    EXPECT_EQ(events_[0].dx, 5);
    EXPECT_EQ(events_[1].x, 0) << "kept inside the render rectangle";
    EXPECT_EQ(events_[1].prevX, 5);
    EXPECT_EQ(events_[1].dx, -5);
    EXPECT_EQ(events_[1].dy, 0);
    EXPECT_FALSE(input.IsLeftButtonDown());

    PumpMessages();  // WM_SETCURSOR comes before each WM_MOUSEMOVE
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE) << "no pointer";
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

uint32_t g_now = 0;
uint32_t HandClock() { return g_now; }

// The engine clock on g_now for one scope.
struct HandClockScope {
    HandClockScope() { SetClockSource(&HandClock); }
    ~HandClockScope() { SetClockSource(nullptr); }
};

TEST_F(InputManagerTest, TheImmediateStateIsRefreshedOncePerInterval) {
    g_now = 5000;
    HandClockScope clock;
    InputManager input;
    ASSERT_TRUE(input.InitInput(true, kSaverCooperation, kSaverCooperation));
    PushKey(true, SDL_SCANCODE_A);
    EXPECT_FALSE(input.IsKeyDown(0x1E)) << "nothing read yet";
    EXPECT_TRUE(input.UpdateInputState(100)) << "the first refresh is due at once";
    EXPECT_TRUE(input.IsKeyDown(0x1E));
    PushKey(false, SDL_SCANCODE_A);
    g_now += 99;
    EXPECT_TRUE(input.UpdateInputState(100));
    EXPECT_TRUE(input.IsKeyDown(0x1E)) << "not due yet";
    g_now += 1;
    EXPECT_TRUE(input.UpdateInputState(100));
    EXPECT_FALSE(input.IsKeyDown(0x1E));
    EXPECT_FALSE(input.IsKeyDown(300));
    PumpMessages();
}

TEST_F(InputManagerTest, InitialisingAgainStartsAfreshAndWithoutADeviceFails) {
    InputManager input;
    RecordingListener listener(events_);
    input.AddListener(&listener);
    ASSERT_TRUE(input.InitInput(true, kSaverCooperation, kSaverCooperation));
    InjectRecord(M, DIMOFS_BUTTON0, 0, 1000);
    ASSERT_TRUE(input.InitInput(true, kSaverCooperation, kSaverCooperation));
    input.PollInput();
    EXPECT_TRUE(events_.empty()) << "records of the released devices are gone";
    InjectRecord(K, 57, kDown, 1000);
    input.PollInput();
    EXPECT_EQ(Describe(events_), "8(57) ");

    SendMessageA(app_.window(), WM_CLOSE, 0, 0);  // the framework releases its device
    InputManager late;
    EXPECT_FALSE(late.InitInput(true, kSaverCooperation, kSaverCooperation));
    late.PollInput();
    PumpMessages();
}

}  // namespace
