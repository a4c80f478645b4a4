// The application framework: the base of the one application object. It owns the Direct3D
// object and device, the device choice, the presentation parameters, the window's size
// bookkeeping and two registries: the device resources rebuilt whenever the device is created or
// reset, and the message listeners that see every window message first.
//
// Both registries are walked as one full round from their cursor, the cursor moving along and
// ending where it began. The cursor rests on the newest entry (after that entry unregisters, on
// the one before it), so a walk tells the newest entry first and then the others from the oldest.
//
// Single thread: every call, window messages included, comes from the message-loop thread.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/types/point_rect.h"
#include "render/device_enumeration.h"
#include "render/vertex_format.h"

#include <d3d9.h>
#include <windows.h>

class AppFramework;

// The device every renderer draws with: set right after the device is created, null once it is
// released. Nobody keeps a device pointer of their own.
extern IDirect3DDevice9* g_device;
// The device's capabilities, refilled after every device creation.
extern D3DCAPS9 g_deviceCaps;
// The one framework: set by its constructor, cleared by its destructor.
extern AppFramework* g_appFramework;

// Something that owns device objects. A derived constructor calls RegisterDeviceResource(this);
// its answer says whether a device already exists, so the constructor can create its objects at
// once. Otherwise OnDeviceRestore comes when the device is created.
class DeviceResource {
public:
    // Create the object's device objects; false when that failed.
    virtual bool OnDeviceRestore() { return true; }
    // Release them (the device is being reset or released); false when that failed.
    virtual bool OnDeviceLost() { return true; }
    // Unregisters the object.
    virtual ~DeviceResource();
};

// Something that wants every window message before the framework handles it. A derived class
// calls AddMessageListener(this) when it wants messages.
class MessageListener {
public:
    // The result is ignored by the framework.
    virtual LRESULT OnWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    // Removes the object from the registry.
    virtual ~MessageListener();
};

// False (nothing registered) without a framework; otherwise registers the resource once and
// answers whether a device exists now.
bool RegisterDeviceResource(DeviceResource* resource);
// Nothing without a framework or for an unregistered resource.
void UnregisterDeviceResource(DeviceResource* resource);
// False without a framework; otherwise registers the listener once and answers true.
bool AddMessageListener(MessageListener* listener);
// Nothing without a framework or for an unregistered listener.
void RemoveMessageListener(MessageListener* listener);

// The device's declaration for format, shared by every equal format: not add-referenced for the
// caller, valid until the next device loss. Null without a framework or device, or when the
// device rejects the format (then nothing is cached and the caller skips drawing).
IDirect3DVertexDeclaration9* GetVertexDeclaration(const VertexFormat& format);

// Where the framework gets its Direct3D object, replaceable so that tests can hand it a test
// double; null restores the real one ("Direct3DCreate9" of "d3d9.dll"). Engine code never calls
// this.
using Direct3DFactory = IDirect3D9* (*)(UINT sdkVersion);
void SetDirect3DFactory(Direct3DFactory factory);

// Calling order: construct; put the request (match flags and values) into CurrentSettings();
// Create; FindBestSettings on a request; SetDeviceSettings; RecreateDevice(true); then per frame
// CheckDevice before drawing and MsgProc for every message; destroy at exit.
class AppFramework {
public:
    AppFramework();
    AppFramework(const AppFramework&) = delete;
    AppFramework& operator=(const AppFramework&) = delete;

    // Registered listeners get the message first, then the framework handles size, activation,
    // close/quit, system commands, hit tests, power events and the end of a move or size; all
    // else goes to DefWindowProcA.
    virtual LRESULT MsgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // Invalidates (if restored) and releases the device, releases the Direct3D object. The
    // registered objects themselves are not destroyed.
    virtual ~AppFramework();
    // Tells every registered resource OnDeviceRestore in walk order, all of them even after a
    // failure; true only if all succeeded. Overrides do their own work and then call this.
    virtual bool RestoreDeviceObjects();
    // Empties the declaration cache, then tells every registered resource OnDeviceLost in walk
    // order; the AND of their answers.
    virtual bool InvalidateDeviceObjects();

    // hwnd is the application's own window, made before the call. Loads the Direct3D object,
    // reads the desktop mode, enumerates, saves the window's style and rectangles and finds the
    // best fullscreen and windowed settings for the request in CurrentSettings(). False (and no
    // Direct3D object held) when the library, the enumeration or either search fails.
    bool Create(HINSTANCE instance, HWND hwnd);
    // Into the windowed slot when settings.windowed, else into the fullscreen slot.
    void SetDeviceSettings(const DeviceSettings& settings);
    // Releases any device and creates one from the fullscreen (true) or windowed slot; the
    // window becomes active. False when Direct3D refuses the device (nothing else changes).
    bool RecreateDevice(bool fullscreen);
    // Start of every frame; false skips the frame. A lost device keeps answering true (its calls
    // have no effect); a device that can be reset is reset here, and a failed reset answers
    // false (the next frame tries again).
    bool CheckDevice();

    // x, y, width, height in a Rect's left, top, right, bottom: windowed the client area,
    // full screen 0, 0 and the fullscreen settings' size.
    Rect GetRenderRect() const;
    // Adapter 0's current mode; false without a Direct3D object or when Direct3D fails.
    bool QueryDesktopMode(D3DDISPLAYMODE* mode) const;
    // Adapter 0's mode as Create read it.
    const D3DDISPLAYMODE& GetDesktopMode() const { return desktopMode_; }
    HWND GetWindow() const { return hwnd_; }
    bool IsWindowed() const { return windowed_; }
    // Whether the device supports occlusion queries (probed at every device creation).
    bool OcclusionQueriesEnabled() const { return occlusionQueries_; }
    bool SupportsPointSprites() const { return pointSprites_; }
    bool SupportsPointSize() const { return pointSize_; }
    // For tests that force the quad path of particles: clears either answer until the next
    // device creation probes the caps again.
    void ClearPointCaps(bool sprites, bool size) {
        if (sprites) pointSprites_ = false;
        if (size) pointSize_ = false;
    }

    // The main loop renders only while active and ends once quit is set.
    bool IsActive() const { return active_; }
    bool QuitRequested() const { return quit_; }
    IDirect3DDevice9* Device() const { return device_; }
    DeviceEnumeration& Enumeration() { return enumeration_; }
    // The request before Create; afterwards the settings the device is made from.
    DeviceSettings& CurrentSettings() { return current_; }
    const DeviceSettings& FullscreenSettings() const { return fullscreen_; }
    const DeviceSettings& WindowedSettings() const { return windowedSettings_; }
    const D3DPRESENT_PARAMETERS& PresentParams() const { return presentParams_; }

    // The declaration cache behind the free GetVertexDeclaration.
    IDirect3DVertexDeclaration9* GetVertexDeclaration(const VertexFormat& format);
    bool RegisterResource(DeviceResource* resource);
    void UnregisterResource(DeviceResource* resource);
    bool AddListener(MessageListener* listener);
    void RemoveListener(MessageListener* listener);

protected:
    // Creates the device from the current settings. True whenever the device exists, even when
    // a resource failed to restore (that failure is traced and the objects are invalidated).
    bool CreateDevice();
    // Invalidates (if restored), resets and restores; false when Direct3D refuses the reset or
    // a resource fails to restore (the objects are then invalidated again).
    bool Reset();
    // Invalidates (if restored) and releases the device; clears g_device.
    void ReleaseDevice();
    // The Direct3D object, loaded first when there is none (the settings dialog asks for it
    // without a window or device); null when it cannot be had.
    IDirect3D9* LoadDirect3D();
    // Detaches the enumeration from the Direct3D object and releases it.
    void ReleaseDirect3D();
    // Rebuilt before every creation and reset from the current settings and the client area.
    void BuildPresentParams();
    void CheckDeviceCaps();
    // Resets the device when the client area's size changed (and a device exists).
    bool CheckWindowSize();

    bool active_ = false;
    bool quit_ = false;
    bool ignoreSizeChange_ = false;

private:
    using DeclarationCache = OrderedMap<VertexFormat, IDirect3DVertexDeclaration9*, VertexDeclarationCache>;

    void EmptyDeclarationCache();
    void ReadWindowRects();

    DeviceEnumeration enumeration_;
    DeviceSettings current_;
    DeviceSettings fullscreen_;
    DeviceSettings windowedSettings_;
    D3DPRESENT_PARAMETERS presentParams_{};
    HINSTANCE instance_ = nullptr;
    HWND hwnd_ = nullptr;
    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    D3DDISPLAYMODE desktopMode_{};
    bool windowed_ = true;
    bool occlusionQueries_ = false;
    bool pointSprites_ = false;
    bool pointSize_ = false;
    DeclarationCache declarations_;
    LONG savedStyle_ = 0;
    RECT windowRect_{};
    RECT clientRect_{};
    bool minimized_ = false;
    bool maximized_ = false;
    bool restored_ = false;
    // A loss was traced and no reset has ended it yet, so a lost device is traced once, not
    // every frame.
    bool lossTraced_ = false;
    OrderedSet<DeviceResource*> resources_;
    OrderedSet<MessageListener*> listeners_;
};
