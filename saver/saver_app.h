// The screensaver application: one object per run, made by GetSaverApp and deleted by WinMain.
// It is the device framework's application and an input listener. Create runs the whole
// start-up for the mode (settings, media archive, messages, window, device, loading screen,
// input, first camera path, scene, fade-out), Run is the main loop and RenderFrame one frame.
// The scene itself comes from a subclass through the virtual operations below; this class
// draws an empty world (the clear colour, the path fades and the labels).
//
// Single thread: every call, window messages and dialog procedures included, comes from the
// thread that runs WinMain.
#pragma once

#include "core/containers/linked_list.h"
#include "core/containers/ordered_map.h"
#include "core/files/archive/archive_file_source.h"
#include "core/script/script_node.h"
#include "core/text/string.h"
#include "core/text/wide_string.h"
#include "core/time/clock.h"
#include "core/types/argb_color.h"
#include "gui/rich_text_view.h"
#include "render/app_framework.h"
#include "render/camera_view.h"
#include "render/input_manager.h"
#include "saver/camera_paths.h"
#include "saver/dialogs.h"
#include "saver/entry.h"
#include "scene/camera_path_player.h"
#include "scene/free_camera.h"

#include <windows.h>

#include <cstdint>

class Texture;

// The process-wide texts the settings and messages replace.
extern String g_title;         // the window title and class name; "AppName" replaces it
extern String g_makerAddress;  // opened by the settings dialog; "main_web_site_url" replaces it
extern String g_registryPath;  // the user's key under HKEY_CURRENT_USER; "RegPath" replaces it
// The desktop mode as the framework read it at start-up, for the settings dialog.
extern D3DDISPLAYMODE g_desktopMode;

// ---- Rules of the main loop and the frame, kept apart so they can be checked alone.

// Frames per second over the current second: Frame(now) counts a frame at ClockNow time now.
struct FrameRateCounter {
    uint64_t start = 0;
    int64_t count = 0;
    int64_t rate = 0;
    // Below 1000 ms since start: count this frame and, when now differs from start, rate :=
    // count x 1000 / (now - start). Otherwise rate := count, the second starts anew at now and
    // this frame is its first.
    void Frame(uint64_t now);
};

// The clock's texts for a local time: "H:MM:SS" with the hour in 24-hour form, or in the
// 12-hour form with "am" below 12 and "pm" from 12 on (13..23 less 12; midnight shows 12).
// suffix is empty in the 24-hour form.
void ClockTexts(const SYSTEMTIME& time, bool hours24, String* clock, String* suffix);

// The black quad's opacity at a time on a path that ends at `end` (path units): 1 - 0.1 x time
// below 10, else 1 - 0.1 x (end - time) above end - 10; false when no fade is drawn.
bool PathFadeOpacity(float time, float end, float* opacity);

// Every channel's entry i is gamma x 200 + 256 x i, held to 0..65535.
void BuildGammaRamp(int gamma, D3DGAMMARAMP* ramp);

class SaverApp : public AppFramework, public InputListener, public SettingsDialogHost {
public:
    // Registry values and script keys are read into these; the defaults are the code's. The
    // settings dialog shows and changes the same fields.
    using Settings = SettingsDialogValues;

    // Sets the global application pointer the window and dialog procedures use.
    SaverApp();
    // Releases the device and its resources first (the framework's own destructor could not
    // reach this class's overrides), then the pictures, the input manager and the rest.
    ~SaverApp() override;

    // ---- The framework's operations.
    // SaverMsgProc.
    LRESULT MsgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    // ApplyGamma: the ramp, then the framework's restore.
    bool RestoreDeviceObjects() override;

    // ---- What a scene application overrides.
    // At the end of LoadMessages.
    virtual void OnMessagesLoaded() {}
    // The application keys of the settings tree.
    void LoadAppSettings() override;
    // Per frame, before drawing; true.
    virtual bool UpdateScene() { return true; }
    // Draws the scene inside the frame's scene; true.
    virtual bool DrawScene() { return true; }
    // Loads the scene at start-up; false fails the start-up.
    virtual bool LoadScene() { return true; }
    // The scene application's keys of the settings tree.
    virtual void LoadSceneSettings() {}
    // A new camera path has started (not called for the first one).
    virtual void PathStarted() {}
    // The settings dialog's procedure: the common controls.
    INT_PTR SettingsDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) override;
    // Once after the main loop.
    virtual void ShutdownSound() {}
    // Per-frame key polling: refreshes the input manager's immediate key state.
    virtual void PerFrameKeys();
    // After ShutdownSound.
    virtual void OnShutdown() {}
    // The user's values; false when the key can be neither opened nor created.
    virtual bool LoadRegistrySettings();
    bool SaveRegistrySettings() override;

    // The whole start-up; false when it failed. True after the settings dialog and for the
    // preview too.
    bool Create(HINSTANCE instance, SaverMode mode, LONG parent);
    // The main loop, until the quit flag is set; 1.
    int Run();
    // One frame; false when the device is not usable this frame.
    bool RenderFrame();
    // The application's reaction to input events.
    void OnInputEvent(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY, int32_t dx, int32_t dy,
                      int32_t keyOrChar) override;

    // ---- Settings and texts.
    // The settings script (disk "CustomData/settings.txt", else resource 239) into the settings
    // tree, its scene keys and the camera path list; then LoadSceneSettings.
    void LoadConfig();
    // The message texts (resource 229), the title and the control map; then OnMessagesLoaded.
    void LoadMessages();
    // Gives every mapped control of the dialog its message text.
    void ApplyDialogTexts(HWND dialog) override;

    // ---- What the settings dialog needs besides (SettingsDialogHost).
    SettingsDialogValues& DialogValues() override { return settings_; }
    const char* MessageText(const char* key) override;
    const char* WebSiteAddress() override;
    // The framework's Direct3D object, made when it has none.
    IDirect3D9* CreateDirect3D() override;
    void ReleaseDirect3D() override { AppFramework::ReleaseDirect3D(); }
    DeviceEnumeration& Enumeration() override { return AppFramework::Enumeration(); }
    bool QueryDesktopMode(D3DDISPLAYMODE* mode) override { return AppFramework::QueryDesktopMode(mode); }
    D3DDISPLAYMODE& DesktopMode() override { return g_desktopMode; }
    HINSTANCE Instance() override { return instance_; }

    // ---- Loading screen and fades (need a begun scene, except DrawLoadingScreen).
    void DrawPicture(Texture* picture, float opacity, int placement);
    void DrawFade(float opacity);
    // One whole loading-screen frame with the corner pictures, presented.
    void DrawLoadingScreen(Texture* picture, float opacity, int placement);

    // Fills the player's tracks from the camera path file media root + "/" + name (a disk
    // file shadows the archive's member).
    void LoadCameraPath(const String& name);

    // ---- State, for the subclass and for tests.
    Settings& settings() { return settings_; }
    ScriptNode& settingsTree() { return settingsTree_; }
    ScriptNode& messageTree() { return messageTree_; }
    SaverMode mode() const { return mode_; }
    HWND window() const { return saverWindow_; }
    InputManager& input() { return input_; }
    CameraView& cameraView() { return cameraView_; }
    CameraPathPlayer& pathPlayer() { return pathPlayer_; }
    FreeCamera& freeCamera() { return freeCamera_; }
    ArchiveFileSource& mediaArchive() { return mediaArchive_; }
    const String& mediaRoot() const { return mediaRoot_; }
    const LinkedList<String>& remainingPaths() const { return paths_.remaining(); }
    const LinkedList<String>& playedPaths() const { return paths_.played(); }
    // The path lists and the loader that passes over broken paths; its current() names the
    // path flying now.
    CameraPathFlights& flights() { return flights_; }
    bool pathActive() const { return pathActive_; }
    float pathTime() const { return pathTime_; }
    float guiScale() const { return guiScale_; }
    const OrderedMap<WideString, int32_t, WideStringCompare>& controlMap() const { return controlMap_; }
    bool previewWaiting() const { return previewWait_; }
    // The labels' texts as the last pass of the main loop set them.
    const String& fpsText() const { return fpsText_; }
    const String& clockText() const { return clockText_; }
    const String& amPmText() const { return amPmText_; }
    RichTextView& fpsLabel() { return fpsLabel_; }
    RichTextView& clockLabel() { return clockLabel_; }
    RichTextView& amPmLabel() { return amPmLabel_; }
    const FrameRateCounter& frameRate() const { return frameRate_; }
    Texture* loadingPicture() const { return loadingPicture_; }
    Texture* cornerPicture(int i) const { return corners_[i]; }
    // Scene values the script sets.
    float nearPlane = 1.0f;
    float farPlane = 1500.0f;
    float fov = 1.0471976f;
    float camSpeed = 2.0f;
    float turnFactor = 1.0f;
    Vec3 startPosition{0.0f, 0.0f, 0.0f};
    ArgbColor bgColor{1.0f, 100.0f / 255.0f, 0.0f, 0.0f};
    ArgbColor ambient{1.0f, 128.0f / 255.0f, 128.0f / 255.0f, 128.0f / 255.0f};
    bool fogEnable = false;
    ArgbColor fogColor{1.0f, 128.0f / 255.0f, 128.0f / 255.0f, 128.0f / 255.0f};
    float fogStart = 10000.0f;
    float fogEnd = 10000.0f;

protected:
    // The message procedure of the saver's window.
    LRESULT SaverMsgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // Sets the gamma ramp, then the framework's restore.
    bool ApplyGamma();
    // Makes the window the mode needs; true without one for the settings mode.
    bool CreateSaverWindow();
    // Picks the display mode and makes the full-screen device; false when none can be made.
    bool CreateFullScreenDevice();
    // The labels' fonts, then the frame counter and clock labels in their style, shown as the
    // settings ask; false when the first font cannot be loaded.
    bool SetUpLabels();
    // Per pass: the counter's and the clock's texts.
    void UpdateLabels(bool secondPassed);
    // The path that follows the one that ended.
    void StartNextPath();
    // Messages of the saver window until none waits or the quit flag is set.
    void DispatchMessages();
    // Presses F3 (and lets it go) through both injection calls.
    void KeepAwake();
    // One loading-screen picture from the resource `id`; null (after a warning) when it cannot
    // be loaded. Virtual so that tests can make a load fail.
    virtual Texture* LoadPicture(int32_t id);
    // Releases the loading and corner pictures.
    void ReleasePictures();

    Settings settings_;
    ScriptNode settingsTree_;
    ScriptNode messageTree_;
    SaverMode mode_ = SaverMode::FullScreen;
    LONG parent_ = 0;
    HINSTANCE instance_ = nullptr;
    HWND saverWindow_ = nullptr;
    bool previewWait_ = false;
    ArchiveFileSource mediaArchive_;
    String mediaRoot_{"Media"};
    CameraPathList paths_;
    CameraPathFlights flights_{paths_, pathPlayer_, &mediaArchive_, mediaRoot_};
    bool pathActive_ = true;
    float pathTime_ = 0.0f;
    float pathTimeScale_ = 0.01f;
    IntervalTimer pathClock_;
    CameraPathPlayer pathPlayer_;
    FreeCamera freeCamera_;
    CameraView cameraView_;
    IntervalTimer startTimer_;
    Texture* loadingPicture_ = nullptr;
    Texture* corners_[4] = {};
    OrderedMap<WideString, int32_t, WideStringCompare> controlMap_;
    float guiScale_ = 1.0f;
    InputManager input_;
    bool inputStarted_ = false;
    // Whether Run has said that its first frame is shown (a trace line, once).
    bool firstFrameTraced_ = false;
    FrameRateCounter frameRate_;
    String fpsText_;
    String clockText_;
    String amPmText_;
    RichTextView fpsLabel_;
    RichTextView clockLabel_;
    RichTextView amPmLabel_;
};

// The one application object, the scene application (saver/scene_saver_app.h), created on the
// first call.
SaverApp* GetSaverApp();
// Deletes the application object through its virtual destructor; the next GetSaverApp
// creates a new one.
void DeleteSaverApp();
// The application the window and dialog procedures reach: the one last constructed, null
// once it is gone.
SaverApp* CurrentSaverApp();
