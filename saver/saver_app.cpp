#include "saver/saver_app.h"

#include "core/files/file_ref.h"
#include "core/init_order.h"
#include "core/math/typed_matrix.h"
#include "gui/font_manager.h"
#include "gui/gui_root.h"
#include "render/state_cache.h"
#include "render/texture.h"
#include "saver/log.h"
#include "saver/preview.h"
#include "scene/render_queue.h"

#include <rimeholt/log.h>

#include <cstdio>
#include <cstring>

String g_title RH_INIT_ORDER(RH_INIT_TITLE) = "Rimeholt 3D Screensaver";
String g_makerAddress RH_INIT_ORDER(RH_INIT_MAKER_ADDRESS) = "https://wiki.debian.org/";
String g_registryPath RH_INIT_ORDER(RH_INIT_REGISTRY_PATH) = "Software\\Larchmere Studio\\Rimeholt 3D Screensaver";
D3DDISPLAYMODE g_desktopMode{};

namespace {

SaverApp* g_current = nullptr;  // the one the procedures reach

constexpr UINT_PTR kPreviewTimer = 1;
constexpr UINT kPreviewDelayMs = 500;

LRESULT CALLBACK SaverWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    SaverApp* app = CurrentSaverApp();
    if (app == nullptr) return 0;
    return app->MsgProc(hwnd, msg, wParam, lParam);
}

// Describes a matched device choice to the log.
void LogModeDescription(const DeviceSettings& settings) {
    Log("MODEDESC:\n");
    if (settings.multiSampleType == D3DMULTISAMPLE_NONE) {
        Log("NoSampling\n");
    } else {
        char line[64];
        std::snprintf(line, sizeof line, "2Samples, quality: %u\n", settings.multiSampleQuality);
        Log(line);
    }
}

String TwoDigits(int value) {
    String text(static_cast<int32_t>(value), 10);
    if (value < 10) {
        String padded("0");
        padded.Append(text);
        return padded;
    }
    return text;
}

}  // namespace

// ---- Rules

void FrameRateCounter::Frame(uint64_t now) {
    if (now - start < 1000) {
        ++count;
        if (now != start) rate = count * 1000 / static_cast<int64_t>(now - start);
    } else {
        rate = count;
        start = now;
        // This frame is the new second's first; left out, a steady 10 frames a second would
        // read as 9.
        count = 1;
    }
}

void ClockTexts(const SYSTEMTIME& time, bool hours24, String* clock, String* suffix) {
    int hour = time.wHour;
    if (hours24) {
        *suffix = String();
    } else {
        *suffix = hour < 12 ? "am" : "pm";
        if (hour > 12) hour -= 12;
        // Midnight is 12 am on a 12-hour clock; an hour 0 would read as no hour at all.
        if (hour == 0) hour = 12;
    }
    String text(static_cast<int32_t>(hour), 10);
    text.Append(":");
    text.Append(TwoDigits(time.wMinute));
    text.Append(":");
    text.Append(TwoDigits(time.wSecond));
    *clock = text;
}

bool PathFadeOpacity(float time, float end, float* opacity) {
    if (time < 10.0f) {
        *opacity = 1.0f - 0.1f * time;
        return true;
    }
    if (time > end - 10.0f) {
        *opacity = 1.0f - 0.1f * (end - time);
        return true;
    }
    return false;
}

void BuildGammaRamp(int gamma, D3DGAMMARAMP* ramp) {
    for (int i = 0; i < 256; ++i) {
        int64_t value = static_cast<int64_t>(gamma) * 200 + 256 * i;
        if (value < 0) value = 0;
        if (value > 65535) value = 65535;
        const WORD entry = static_cast<WORD>(value);
        ramp->red[i] = entry;
        ramp->green[i] = entry;
        ramp->blue[i] = entry;
    }
}

// ---- Life

SaverApp::SaverApp() { g_current = this; }

SaverApp::~SaverApp() {
    // The pictures and the input devices go while the device and its context still stand;
    // then the device itself, through this class, before the framework part is gone.
    ReleasePictures();
    // The labels' vertex blocks live on the device.
    fpsLabel_.Hide();
    clockLabel_.Hide();
    amPmLabel_.Hide();
    input_.ReleaseInput();
    // The occlusion proxy's buffer belongs to this device; a later device makes its own.
    g_occlusionBoxMesh.ReleaseGeometry();
    ReleaseDevice();
    if (g_current == this) g_current = nullptr;
}

SaverApp* CurrentSaverApp() { return g_current; }

Texture* SaverApp::LoadPicture(int32_t id) {
    TextureRequest request;
    request.locator = FileRef::Resource(id);
    auto* texture = new Texture();
    if (!texture->Load(request)) {
        // The loading screen goes on without it: a missing picture is only a blank area.
        rh::LogWarning("loading picture %d could not be loaded", static_cast<int>(id));
        delete texture;
        return nullptr;
    }
    return texture;
}

void SaverApp::ReleasePictures() {
    delete loadingPicture_;
    loadingPicture_ = nullptr;
    for (Texture*& corner : corners_) {
        delete corner;
        corner = nullptr;
    }
}

// ---- Start-up

bool SaverApp::Create(HINSTANCE instance, SaverMode mode, LONG parent) {
    parent_ = parent;
    mode_ = mode;
    instance_ = instance;

    LoadConfig();
    LoadAppSettings();
    LoadRegistrySettings();
    // Without the archive every media file is looked for on disk only.
    mediaArchive_.Mount(FileRef::Resource(227));
    LoadMessages();

    Log("Create function entered\n");
    if (!CreateSaverWindow()) {
        Log("Failed creating Saver Windows\n");
        return false;
    }
    HWND hwnd = saverWindow_;

    if (mode_ == SaverMode::Preview) {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
        PostMessageA(hwnd, WM_USER, 0, 0);
        previewWait_ = true;
        // The timer that WM_USER starts ends the wait; so does the window's going away, which
        // GetMessageA reports as -1.
        while (previewWait_) {
            MSG msg;
            BOOL got = GetMessageA(&msg, hwnd, 0, 0);
            if (got == 0) {
                PostQuitMessage(0);
                break;
            }
            if (got == -1) break;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        previewWait_ = false;
        return true;
    }

    if (mode_ != SaverMode::Settings && !AppFramework::Create(instance, hwnd)) return false;

    if (mode_ == SaverMode::Settings) {
        Log("Config Mode: loading Dialog\n");
        // The number after /c names a window of the system's settings panel, which is not one
        // of this program's windows: the dialog stands on its own.
        SetSettingsDialogHost(this);
        DialogBoxParamA(instance, MAKEINTRESOURCEA(kSettingsDialogTemplate), nullptr, SettingsDlgThunk, 0);
        SetSettingsDialogHost(nullptr);
        return true;
    }

    Log("Full Mode:\n");
    if (!CreateFullScreenDevice()) return false;

    ShowCursor(FALSE);
    g_desktopMode = GetDesktopMode();
    guiScale_ = static_cast<float>(GetRenderRect().right) * 0.0009765625f;

    // The loading screen.
    loadingPicture_ = LoadPicture(224);
    const int32_t cornerIds[4] = {231, 232, 233, 234};
    for (int i = 0; i < 4; ++i) corners_[i] = LoadPicture(cornerIds[i]);
    DrawLoadingScreen(loadingPicture_, 1.0f, 1);
    rh::LogTrace("The loading picture is shown");

    inputStarted_ = input_.InitInput(true, 6, 6);
    freeCamera_.AttachInput(&input_, camSpeed, turnFactor);
    freeCamera_.SetPosition(startPosition);
    freeCamera_.SetDirection(Vec3{0.0f, 0.0f, 1.0f});
    freeCamera_.SetUp(Vec3{0.0f, 1.0f, 0.0f});

    if (!SetUpLabels()) return false;

    // The GUI root listens first, the application after it.
    input_.AddListener(&g_guiRoot);
    input_.AddListener(this);

    pathActive_ = true;
    pathTime_ = 0.0f;
    // A path that gives no time range is passed over for the next one, so that one broken file
    // does not leave the camera still for the whole run.
    flights_.StartFirst();

    if (!LoadScene()) return false;

    pathClock_.Reset();
    startTimer_.Reset();

    // The two lines bound the fade for anyone timing the start-up: its length is fixed, the
    // work before and after it is not.
    rh::LogTrace("The loading picture fades out");
    IntervalTimer fade;
    for (;;) {
        const int64_t elapsed = fade.Elapsed();
        if (elapsed >= 200) break;
        DrawLoadingScreen(loadingPicture_, 1.0f - static_cast<float>(elapsed) * 0.005f, 1);
    }
    rh::LogTrace("The loading picture has faded");
    // The pictures are shown only while starting; their memory goes back now.
    ReleasePictures();

    Log("Creating successfull\n");
    return true;
}

bool SaverApp::CreateSaverWindow() {
    if (mode_ == SaverMode::Settings) return true;
    if (mode_ == SaverMode::Password) return false;

    WNDCLASSA windowClass{};
    windowClass.style = mode_ == SaverMode::Preview ? (CS_HREDRAW | CS_VREDRAW) : 0;
    windowClass.lpfnWndProc = SaverWindowProc;
    windowClass.hInstance = instance_;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = g_title.Text();
    // A second application in one process finds its class registered already.
    RegisterClassA(&windowClass);

    if (mode_ == SaverMode::Preview) {
        HWND parent = reinterpret_cast<HWND>(static_cast<intptr_t>(parent_));
        // Without a host window (no number, or one that names no window) the creation fails.
        RECT rect{0, 0, 0, 0};
        GetClientRect(parent, &rect);
        AdjustWindowRect(&rect, WS_CHILD | WS_VISIBLE, FALSE);
        saverWindow_ = CreateWindowExA(0, g_title.Text(), g_title.Text(), WS_CHILD | WS_VISIBLE, rect.left,
                                         rect.top, rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                                         instance_, nullptr);
    } else {
        const int width = settings_.useDesktop ? 800 : settings_.width;
        const int height = settings_.useDesktop ? 600 : settings_.height;
        saverWindow_ = CreateWindowExA(0, g_title.Text(), g_title.Text(), WS_POPUP | WS_VISIBLE, 0, 0, width,
                                         height, nullptr, nullptr, instance_, nullptr);
    }
    return saverWindow_ != nullptr;
}

bool SaverApp::CreateFullScreenDevice() {
    DeviceSettings request;
    request.windowed = false;
    request.vertexProcessing = kHardwareVertexProcessing;
    request.presentInterval = 0;
    if (settings_.useDesktop) {
        Log("Using desktop mode\n");
        request.matchFlags = kMatchMultiSample;
    } else {
        Log("Using fixed mode\n");
        request.matchFlags = kMatchSize | kMatchBackBufferBits | kMatchMultiSample;
        request.displayMode.Width = static_cast<UINT>(settings_.width);
        request.displayMode.Height = static_cast<UINT>(settings_.height);
        const D3DFORMAT format = settings_.depth == 16 ? D3DFMT_X1R5G5B5 : D3DFMT_X8R8G8B8;
        request.displayMode.Format = format;
        request.backBufferFormat = format;
    }
    DeviceSettings looser = request;
    looser.matchFlags &= ~kMatchMultiSample;

    DeviceSettings a = request;
    bool matched = Enumeration().FindBestSettings(a);
    if (!matched && settings_.useDesktop) {
        a = request;
        a.matchFlags = kMatchSize | kMatchMultiSample;
        a.displayMode.Width = 800;
        a.displayMode.Height = 600;
        matched = Enumeration().FindBestSettings(a);
    }
    if (matched) {
        LogModeDescription(a);
        SetDeviceSettings(a);
    }
    if (RecreateDevice(true)) return true;

    Log(settings_.useDesktop ? "Setting Mode failed\n" : "Failed setting mode\n");
    if (Enumeration().FindBestSettings(looser)) {
        SetDeviceSettings(looser);
        if (RecreateDevice(true)) return true;
    }
    Log("Setting Mode failed...exiting\n");
    rh::LogError("no display mode could be set for the saver");
    return false;
}

bool SaverApp::SetUpLabels() {
    auto mediaFile = [this](const char* name) {
        FileRef ref = FileRef::Member(&mediaArchive_, ConcatStringText(mediaRoot_, name));
        ref.flags = FileRef::kDisk | FileRef::kArchive;
        return ref;
    };
    if (!g_fontManager.LoadFont(mediaFile("/Fonts/sylfaen.fs")).Succeeded()) {
        // Without it no label can be drawn and the start-up ends; say why.
        rh::LogError("the font %s/Fonts/sylfaen.fs could not be loaded", mediaRoot_.Text());
        return false;
    }
    g_fontManager.LoadFont(mediaFile("/Fonts/64font.fs"));

    FontStyle style;
    style.size = 64;
    style.scale = guiScale_;
    style.background = ArgbColor(0.0f, 0.0f, 0.0f, 0.0f);
    const auto scaled = [this](float size) { return static_cast<int32_t>(size * guiScale_); };
    fpsText_ = settings_.showFps ? "100" : "";
    clockText_ = settings_.showTime ? "11" : "";
    amPmText_ = settings_.showTime && !settings_.hours24 ? "11" : "";
    if (settings_.showFps) {
        fpsLabel_.SetRect(10, 10, 256, 128);
        fpsLabel_.SetAlphaMode(2);
        fpsLabel_.SetText(WideString(fpsText_));
        fpsLabel_.SetStyle(style);
        fpsLabel_.Show();
    }
    if (settings_.showTime) {
        clockLabel_.SetStyle(style);
        if (settings_.hours24) {
            clockLabel_.SetRect(200, 300, scaled(300.0f), scaled(74.0f));
        } else {
            clockLabel_.SetRect(200, 300, scaled(400.0f), scaled(74.0f));
            amPmLabel_.SetStyle(style);
            amPmLabel_.SetRect(200, 300, scaled(100.0f), scaled(74.0f));
            amPmLabel_.SetAlphaMode(2);
            amPmLabel_.SetText(WideString(amPmText_));
            amPmLabel_.Show();
        }
        clockLabel_.SetAlphaMode(2);
        clockLabel_.SetText(WideString(clockText_));
        clockLabel_.Show();
    }
    return true;
}

// ---- Main loop

void SaverApp::PerFrameKeys() { input_.UpdateInputState(0); }

void SaverApp::DispatchMessages() {
    MSG msg;
    while (!quit_ && PeekMessageA(&msg, saverWindow_, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void SaverApp::KeepAwake() {
    // Both ways, as hosts differ in which one they watch; each press is let go again, so no
    // key stays down for the desktop or the input devices.
    keybd_event(VK_F3, 0, 0, 0);
    keybd_event(VK_F3, 0, KEYEVENTF_KEYUP, 0);
    INPUT inputs[2]{};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = VK_F3;
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

void SaverApp::UpdateLabels(bool secondPassed) {
    if (settings_.showFps && secondPassed) {
        fpsText_ = String(static_cast<int32_t>(frameRate_.rate), 10);
        fpsLabel_.SetText(WideString(fpsText_));
        fpsLabel_.RequestUpdate(true, false);
    }
    if (settings_.showTime) {
        const Rect render = GetRenderRect();
        SYSTEMTIME now;
        GetLocalTime(&now);
        ClockTexts(now, settings_.hours24, &clockText_, &amPmText_);
        if (!settings_.hours24) {
            amPmLabel_.SetText(WideString(amPmText_));
            const Point size = amPmLabel_.GetSize();
            amPmLabel_.SetPosition(render.right - size.x, render.bottom - size.y);
        }
        clockLabel_.SetText(WideString(clockText_));
        const Point size = clockLabel_.GetSize();
        clockLabel_.SetPosition(render.right - size.x, render.bottom - size.y);
        clockLabel_.RequestUpdate(true, false);
    }
}

int SaverApp::Run() {
    frameRate_.start = ClockNow();
    frameRate_.count = 0;
    IntervalTimer labelTimer;
    IntervalTimer keepAwake;

    if (mode_ == SaverMode::Preview) {
        // Waits for each message rather than polling, so the preview costs no processor time.
        MSG msg;
        while (!quit_) {
            BOOL got = GetMessageA(&msg, saverWindow_, 0, 0);
            if (got == 0 || got == -1) break;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    } else {
        // Said once, so that whoever started the saver can tell when its input starts to count.
        rh::LogTrace("The frame loop runs");
        while (!quit_) {
            DispatchMessages();
            if (keepAwake.Check(30000)) KeepAwake();
            if (quit_) break;
            frameRate_.Frame(ClockNow());
            UpdateLabels(settings_.showFps && labelTimer.Check(1000));
            input_.UpdateInputState(0);
            input_.PollInput();
            PerFrameKeys();
            freeCamera_.Update();
            if (active_) {
                UpdateScene();
                RenderFrame();
                if (!firstFrameTraced_) {
                    // Start-up ends here for whoever times it from outside.
                    rh::LogTrace("The first frame is shown");
                    firstFrameTraced_ = true;
                }
            }
        }
    }

    ShutdownSound();
    OnShutdown();
    if (saverWindow_ != nullptr) DestroyWindow(saverWindow_);
    saverWindow_ = nullptr;
    ShowCursor(TRUE);
    return 1;
}

bool SaverApp::RenderFrame() {
    if (!CheckDevice()) {
        Log("device lost\n");
        return false;
    }
    IDirect3DDevice9* device = Device();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, bgColor.ToARGB(), 1.0f, 0);

    const Rect render = GetRenderRect();
    cameraView_.SetProjection(nearPlane, farPlane, fov, static_cast<float>(render.right) / static_cast<float>(render.bottom));

    TimeRange range;
    NodeTransform* view = &freeCamera_;
    bool onPath = pathActive_ && pathPlayer_.GetTimeRange(range);
    if (onPath) {
        TypedMatrix matrix;
        pathPlayer_.GetMatrix(pathTime_, matrix);
        const int64_t elapsed = pathClock_.Elapsed();
        if (elapsed != 0) {
            pathTime_ += static_cast<float>(elapsed) * pathTimeScale_;
            pathClock_.Reset();
        }
        if (pathTime_ > range.last) {
            StartNextPath();
            onPath = pathPlayer_.GetTimeRange(range);
            pathTime_ = onPath ? range.first : 0.0f;
            pathPlayer_.GetMatrix(pathTime_, matrix);
            freeCamera_.SetPosition(pathPlayer_.GetPosition());
            freeCamera_.SetDirection(pathPlayer_.GetDirection());
            freeCamera_.SetUp(pathPlayer_.GetUp());
            pathActive_ = true;
            PathStarted();
        }
        freeCamera_.SetPosition(pathPlayer_.GetPosition());
        freeCamera_.SetDirection(pathPlayer_.GetDirection());
        freeCamera_.SetUp(pathPlayer_.GetUp());
        view = &pathPlayer_;
    }
    cameraView_.SetView(view->GetPosition(), view->GetDirection(), view->GetUp());
    SetViewTransform(cameraView_.GetViewMatrix());
    SetWorldTransform(IdentityMatrix());
    SetProjectionTransform(cameraView_.GetProjectionMatrix());
    // Set past the cache: wireframe drawing elsewhere changes it directly too.
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);

    if (device->BeginScene() == D3D_OK) {
        StateCache::SetRenderState(D3DRS_ZENABLE, 1);
        StateCache::SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        StateCache::SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        StateCache::SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        StateCache::SetRenderState(D3DRS_AMBIENT, ambient.ToARGB());
        StateCache::SetRenderState(D3DRS_FOGENABLE, fogEnable ? 1 : 0);
        StateCache::SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
        StateCache::SetRenderState(D3DRS_FOGCOLOR, fogColor.ToARGB());
        DWORD bits = 0;
        std::memcpy(&bits, &fogStart, sizeof bits);
        StateCache::SetRenderState(D3DRS_FOGSTART, bits);
        std::memcpy(&bits, &fogEnd, sizeof bits);
        StateCache::SetRenderState(D3DRS_FOGEND, bits);
        StateCache::SetRenderState(D3DRS_RANGEFOGENABLE, 1);

        DrawScene();

        float opacity = 0.0f;
        if (pathActive_ && pathPlayer_.GetTimeRange(range) && PathFadeOpacity(pathTime_, range.last, &opacity)) {
            DrawFade(opacity);
        }
        device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        g_guiRoot.Draw();
        device->EndScene();
    }
    device->Present(nullptr, nullptr, nullptr, nullptr);
    return true;
}

void SaverApp::StartNextPath() {
    // The name that ended goes to the played list, the next is drawn at random from the
    // remaining ones (all of them again once every path has flown); broken paths are passed
    // over.
    flights_.StartNext();
}

// ---- Messages and input

LRESULT SaverApp::MsgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return SaverMsgProc(hwnd, msg, wParam, lParam);
}

LRESULT SaverApp::SaverMsgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_PAINT:
            if (mode_ == SaverMode::Preview) PaintPreview(hwnd, instance_);
            break;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            // Alt, F10 and Alt combinations come as system keys; they end the run like any key.
            if (wParam != VK_F3 && wParam != VK_F2 && wParam != VK_F6) quit_ = true;
            break;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_NEXTWINDOW:
                case SC_PREVWINDOW:
                case SC_CLOSE:
                    quit_ = true;
                    return 1;
                case SC_SCREENSAVE:
                    return 0;
                default:
                    break;
            }
            break;
        case WM_DESTROY:
            // The preview's host closing its window ends the run normally.
            if (mode_ == SaverMode::Preview) PostQuitMessage(0);
            quit_ = true;
            return 1;
        case WM_CLOSE:
        case WM_QUIT:
            quit_ = true;
            return 1;
        case WM_TIMER:
            previewWait_ = false;
            KillTimer(hwnd, kPreviewTimer);
            break;
        case WM_USER:
            SetTimer(hwnd, kPreviewTimer, kPreviewDelayMs, nullptr);
            break;
        default:
            break;
    }
    return AppFramework::MsgProc(hwnd, msg, wParam, lParam);
}

INT_PTR SaverApp::SettingsDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    return SaverSettingsDlgProc(*this, dialog, msg, wParam, lParam);
}

const char* SaverApp::MessageText(const char* key) {
    const ScriptNode* text = messageTree_.Child(key);
    return text != nullptr ? text->value.Text() : nullptr;
}

const char* SaverApp::WebSiteAddress() { return g_makerAddress.Text(); }

IDirect3D9* SaverApp::CreateDirect3D() { return LoadDirect3D(); }

void SaverApp::OnInputEvent(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY, int32_t, int32_t,
                            int32_t) {
    switch (kind) {
        case InputEventKind::kLeftButtonDown:
        case InputEventKind::kRightButtonDown:
            quit_ = true;
            break;
        case InputEventKind::kCursorMoved:
            if ((x != prevX || y != prevY) && settings_.exitOnMouseMove && startTimer_.Elapsed() > 1000) quit_ = true;
            break;
        default:
            break;
    }
}

bool SaverApp::RestoreDeviceObjects() { return ApplyGamma(); }

bool SaverApp::ApplyGamma() {
    D3DGAMMARAMP ramp;
    BuildGammaRamp(settings_.gamma, &ramp);
    if (Device() != nullptr) Device()->SetGammaRamp(0, D3DSGR_CALIBRATE, &ramp);
    return AppFramework::RestoreDeviceObjects();
}
