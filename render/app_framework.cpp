#include "render/app_framework.h"

#include "core/debug/debug_trace.h"
#include "render/state_cache.h"

#include <rimeholt/log.h>

#include <cassert>

IDirect3DDevice9* g_device = nullptr;
D3DCAPS9 g_deviceCaps = {};
AppFramework* g_appFramework = nullptr;

namespace {

Direct3DFactory g_direct3dFactory = nullptr;

// "d3d9.dll" is loaded on first use and never unloaded: the Direct3D object's code lives in it.
IDirect3D9* CreateDirect3D() {
    if (g_direct3dFactory != nullptr) return g_direct3dFactory(D3D_SDK_VERSION);
    HMODULE library = LoadLibraryA("d3d9.dll");
    if (library == nullptr) return nullptr;
    // Through the generic function type, as a cast between unrelated function types would warn.
    auto create = reinterpret_cast<Direct3DFactory>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "Direct3DCreate9")));
    return create != nullptr ? create(D3D_SDK_VERSION) : nullptr;
}

// One full round of a registry from its cursor, moving the cursor along so that it ends where it
// began: the newest entry first, then the others from the oldest. An entry that unregisters
// while it is visited moves the cursor back onto its predecessor, whose successor is then the
// entry that followed it, so the round goes on unharmed.
template <typename T, typename Visit>
void WalkRegistry(OrderedSet<T*>& registry, Visit visit) {
    const int32_t steps = registry.count();
    for (int32_t i = 0; i < steps && registry.count() > 0; ++i) {
        visit(registry.cursor()->key);
        registry.SetCursor(registry.cursor()->next);
    }
}

LONG Width(const RECT& r) { return r.right - r.left; }
LONG Height(const RECT& r) { return r.bottom - r.top; }

DWORD BehaviourFlags(int32_t vertexProcessing) {
    switch (vertexProcessing) {
    case kMixedVertexProcessing: return D3DCREATE_MIXED_VERTEXPROCESSING;
    case kHardwareVertexProcessing: return D3DCREATE_HARDWARE_VERTEXPROCESSING;
    case kPureHardwareVertexProcessing: return D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE;
    default: return D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    }
}

}  // namespace

void SetDirect3DFactory(Direct3DFactory factory) { g_direct3dFactory = factory; }

// ---- Registries -------------------------------------------------------------------------------

DeviceResource::~DeviceResource() { UnregisterDeviceResource(this); }

MessageListener::~MessageListener() { RemoveMessageListener(this); }

bool RegisterDeviceResource(DeviceResource* resource) {
    return g_appFramework != nullptr && g_appFramework->RegisterResource(resource);
}

void UnregisterDeviceResource(DeviceResource* resource) {
    if (g_appFramework != nullptr) g_appFramework->UnregisterResource(resource);
}

bool AddMessageListener(MessageListener* listener) {
    return g_appFramework != nullptr && g_appFramework->AddListener(listener);
}

void RemoveMessageListener(MessageListener* listener) {
    if (g_appFramework != nullptr) g_appFramework->RemoveListener(listener);
}

IDirect3DVertexDeclaration9* GetVertexDeclaration(const VertexFormat& format) {
    return g_appFramework != nullptr ? g_appFramework->GetVertexDeclaration(format) : nullptr;
}

bool AppFramework::RegisterResource(DeviceResource* resource) {
    resources_.InsertIfAbsent(resource);
    return g_device != nullptr;
}

void AppFramework::UnregisterResource(DeviceResource* resource) { resources_.Erase(resource); }

bool AppFramework::AddListener(MessageListener* listener) {
    listeners_.InsertIfAbsent(listener);
    return true;
}

void AppFramework::RemoveListener(MessageListener* listener) { listeners_.Erase(listener); }

// ---- Lifetime ---------------------------------------------------------------------------------

AppFramework::AppFramework() {
    assert(g_appFramework == nullptr && "exactly one AppFramework exists");
    g_appFramework = this;
}

AppFramework::~AppFramework() {
    // Runs the base InvalidateDeviceObjects: an override is gone by now, so applications that
    // need theirs release the device in their own destructor.
    ReleaseDevice();
    ReleaseDirect3D();
    if (g_appFramework == this) g_appFramework = nullptr;
}

void AppFramework::ReleaseDirect3D() {
    enumeration_.SetDirect3D(nullptr);
    if (d3d_ != nullptr) {
        d3d_->Release();
        d3d_ = nullptr;
    }
}

IDirect3D9* AppFramework::LoadDirect3D() {
    if (d3d_ == nullptr) d3d_ = CreateDirect3D();
    return d3d_;
}

bool AppFramework::Create(HINSTANCE instance, HWND hwnd) {
    instance_ = instance;
    hwnd_ = hwnd;
    d3d_ = CreateDirect3D();
    if (d3d_ == nullptr) return false;
    d3d_->GetAdapterDisplayMode(0, &desktopMode_);

    enumeration_.SetDirect3D(d3d_);
    if (!enumeration_.Enumerate()) {
        ReleaseDirect3D();
        return false;
    }

    savedStyle_ = GetWindowLongA(hwnd, GWL_STYLE);
    ReadWindowRects();

    // The request the caller left in the current settings is the request for both searches.
    const DeviceSettings request = current_;
    current_ = request;
    current_.windowed = false;
    if (!enumeration_.FindBestSettings(current_)) {
        ReleaseDirect3D();
        return false;
    }
    fullscreen_ = current_;

    current_ = request;
    current_.windowed = true;
    if (!enumeration_.FindBestSettings(current_)) {
        ReleaseDirect3D();
        return false;
    }
    windowedSettings_ = current_;
    return true;
}

void AppFramework::SetDeviceSettings(const DeviceSettings& settings) {
    if (settings.windowed) {
        windowedSettings_ = settings;
    } else {
        fullscreen_ = settings;
    }
}

void AppFramework::ReadWindowRects() {
    GetWindowRect(hwnd_, &windowRect_);
    GetClientRect(hwnd_, &clientRect_);
}

// ---- The device -------------------------------------------------------------------------------

void AppFramework::BuildPresentParams() {
    presentParams_ = D3DPRESENT_PARAMETERS{};
    presentParams_.BackBufferCount = 1;
    presentParams_.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentParams_.EnableAutoDepthStencil = TRUE;
    presentParams_.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL;
    presentParams_.Windowed = current_.windowed ? TRUE : FALSE;
    presentParams_.hDeviceWindow = hwnd_;
    presentParams_.MultiSampleType = current_.multiSampleType;
    presentParams_.MultiSampleQuality = current_.multiSampleQuality;
    presentParams_.AutoDepthStencilFormat = current_.depthStencilFormat;
    presentParams_.BackBufferFormat = current_.backBufferFormat;
    presentParams_.PresentationInterval = current_.presentInterval;
    if (windowed_) {
        presentParams_.BackBufferWidth = static_cast<UINT>(Width(clientRect_));
        presentParams_.BackBufferHeight = static_cast<UINT>(Height(clientRect_));
        presentParams_.FullScreen_RefreshRateInHz = 0;
    } else {
        presentParams_.BackBufferWidth = current_.displayMode.Width;
        presentParams_.BackBufferHeight = current_.displayMode.Height;
        presentParams_.FullScreen_RefreshRateInHz = current_.displayMode.RefreshRate;
    }
}

bool AppFramework::CreateDevice() {
    DescribeSettings(current_);
    windowed_ = current_.windowed;
    SetWindowLongA(hwnd_, GWL_STYLE, savedStyle_);
    BuildPresentParams();

    IDirect3DDevice9* device = nullptr;
    const HRESULT created = d3d_ == nullptr ? D3DERR_INVALIDCALL
                                            : d3d_->CreateDevice(current_.adapter, current_.deviceType, hwnd_,
                                                                 BehaviourFlags(current_.vertexProcessing),
                                                                 &presentParams_, &device);
    if (created != D3D_OK || device == nullptr) {
        rh::LogTrace("Device creation failed: 0x%08X", static_cast<unsigned>(created));
        return false;
    }
    rh::LogTrace("Device created: %ux%u, %s", presentParams_.BackBufferWidth, presentParams_.BackBufferHeight,
                 windowed_ ? "windowed" : "full screen");
    lossTraced_ = false;
    if (windowed_) {
        SetWindowPos(hwnd_, HWND_NOTOPMOST, windowRect_.left, windowRect_.top, Width(windowRect_),
                     Height(windowRect_), SWP_SHOWWINDOW);
    }

    device_ = device;
    g_device = device;
    InvalidateStateCache();
    g_deviceCaps = D3DCAPS9{};
    device->GetDeviceCaps(&g_deviceCaps);
    CheckDeviceCaps();

    if (RestoreDeviceObjects()) {
        restored_ = true;
    } else {
        // The device exists, so creation still answers true; the next reset tries again.
        DebugTrace("Device objects failed to restore after device creation\n");
        InvalidateDeviceObjects();
    }
    return true;
}

void AppFramework::CheckDeviceCaps() {
    pointSprites_ = g_deviceCaps.MaxPointSize > 1.0f;
    pointSize_ = (g_deviceCaps.FVFCaps & D3DFVFCAPS_PSIZE) != 0;
    // Direct3D 9 answers CreateQuery(D3DQUERYTYPE_OCCLUSION, null) with D3D_OK exactly when
    // occlusion queries work, without making one. Assuming them everywhere would hide every
    // node behind a query that never answers on drivers without them.
    occlusionQueries_ = device_ != nullptr && device_->CreateQuery(D3DQUERYTYPE_OCCLUSION, nullptr) == D3D_OK;
}

bool AppFramework::Reset() {
    if (device_ == nullptr) return false;
    if (restored_) {
        restored_ = false;
        InvalidateDeviceObjects();
    }
    if (const HRESULT reset = device_->Reset(&presentParams_); reset != D3D_OK) {
        rh::LogTrace("Device reset failed: 0x%08X", static_cast<unsigned>(reset));
        return false;
    }
    InvalidateStateCache();
    lossTraced_ = false;
    if (RestoreDeviceObjects()) {
        rh::LogTrace("Device reset: %ux%u", presentParams_.BackBufferWidth, presentParams_.BackBufferHeight);
        restored_ = true;
        return true;
    }
    rh::LogTrace("Device reset, but its objects failed to restore");
    InvalidateDeviceObjects();
    return false;
}

void AppFramework::ReleaseDevice() {
    if (device_ == nullptr) return;
    if (restored_) {
        restored_ = false;
        InvalidateDeviceObjects();
    }
    // Declarations made after a failed restore would otherwise outlive their device.
    EmptyDeclarationCache();
    device_->Release();
    device_ = nullptr;
    g_device = nullptr;
    rh::LogTrace("Device released");
}

bool AppFramework::RecreateDevice(bool fullscreen) {
    ReleaseDevice();
    current_ = fullscreen ? fullscreen_ : windowedSettings_;
    active_ = true;
    return CreateDevice();
}

bool AppFramework::CheckDevice() {
    if (device_ == nullptr) return false;
    // A lost device keeps drawing (its calls have no effect) until it can be reset.
    const HRESULT level = device_->TestCooperativeLevel();
    if ((level == D3DERR_DEVICELOST || level == D3DERR_DEVICENOTRESET) && !lossTraced_) {
        lossTraced_ = true;
        rh::LogTrace("Device lost");
    }
    if (level != D3DERR_DEVICENOTRESET) return true;
    if (windowed_ && d3d_ != nullptr) {
        D3DDISPLAYMODE mode{};
        d3d_->GetAdapterDisplayMode(current_.adapter, &mode);
        current_.displayMode = mode;
        presentParams_.BackBufferFormat = mode.Format;
    }
    return Reset();
}

bool AppFramework::RestoreDeviceObjects() {
    bool all = true;
    WalkRegistry(resources_, [&](DeviceResource* r) { all = r->OnDeviceRestore() && all; });
    return all;
}

bool AppFramework::InvalidateDeviceObjects() {
    EmptyDeclarationCache();
    bool all = true;
    WalkRegistry(resources_, [&](DeviceResource* r) { all = r->OnDeviceLost() && all; });
    return all;
}

void AppFramework::EmptyDeclarationCache() {
    while (declarations_.count() > 0) {
        IDirect3DVertexDeclaration9* declaration = declarations_.EraseAtCursor();
        if (declaration != nullptr) declaration->Release();
    }
}

IDirect3DVertexDeclaration9* AppFramework::GetVertexDeclaration(const VertexFormat& format) {
    IDirect3DVertexDeclaration9* declaration = nullptr;
    if (declarations_.Find(format, declaration) != nullptr) return declaration;
    // The default format has no end marker yet; the device would read past its elements.
    const D3DVERTEXELEMENT9& end = format.element(format.elementCount());
    if (device_ == nullptr || end.Stream != 0xFF || end.Type != D3DDECLTYPE_UNUSED) return nullptr;
    if (device_->CreateVertexDeclaration(format.elements(), &declaration) != D3D_OK || declaration == nullptr) {
        return nullptr;
    }
    declarations_.Insert(format, declaration, 1);
    return declaration;
}

// ---- Window bookkeeping -----------------------------------------------------------------------

Rect AppFramework::GetRenderRect() const {
    if (windowed_) return Rect(clientRect_.left, clientRect_.top, Width(clientRect_), Height(clientRect_));
    return Rect(0, 0, static_cast<int32_t>(fullscreen_.displayMode.Width),
                static_cast<int32_t>(fullscreen_.displayMode.Height));
}

bool AppFramework::QueryDesktopMode(D3DDISPLAYMODE* mode) const {
    return d3d_ != nullptr && d3d_->GetAdapterDisplayMode(0, mode) == D3D_OK;
}

bool AppFramework::CheckWindowSize() {
    if (ignoreSizeChange_) return true;
    const RECT before = clientRect_;
    ReadWindowRects();
    if (Width(before) == Width(clientRect_) && Height(before) == Height(clientRect_)) return true;
    BuildPresentParams();
    return device_ != nullptr ? Reset() : true;
}

LRESULT AppFramework::MsgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Listeners see every message, even those the framework swallows below.
    WalkRegistry(listeners_, [&](MessageListener* l) { l->OnWindowMessage(hwnd, msg, wParam, lParam); });

    switch (msg) {
    case WM_SIZE:
        if (windowed_ && hwnd_ != nullptr) savedStyle_ = GetWindowLongA(hwnd_, GWL_STYLE);
        if (wParam == SIZE_MINIMIZED) {
            minimized_ = true;
            maximized_ = false;
        } else if (wParam == SIZE_MAXIMIZED) {
            minimized_ = false;
            maximized_ = true;
            CheckWindowSize();
        } else if (wParam == SIZE_RESTORED) {
            if (maximized_) {
                maximized_ = false;
                CheckWindowSize();
            } else if (minimized_) {
                minimized_ = false;
                CheckWindowSize();
            }
        }
        break;
    case WM_ACTIVATE:
        active_ = LOWORD(wParam) != 0;
        break;
    case WM_CLOSE:
    case WM_QUIT:
        ReleaseDevice();
        ReleaseDirect3D();
        quit_ = true;
        if (msg == WM_CLOSE) PostQuitMessage(0);
        return 0;
    case WM_SYSCOMMAND:
        // Full screen, moving, sizing, the window menu and monitor power-down are swallowed.
        switch (wParam) {
        case SC_SIZE:
        case SC_MOVE:
        case SC_MAXIMIZE:
        case SC_KEYMENU:
        case SC_MONITORPOWER:
            if (!windowed_) return 1;
            break;
        default: break;
        }
        break;
    case WM_NCHITTEST:
        if (!windowed_) return HTCLIENT;
        break;
    case WM_POWERBROADCAST:
        // Suspend queries and resume notices are answered TRUE without the default handling.
        if (wParam == PBT_APMQUERYSUSPEND || wParam == PBT_APMRESUMESUSPEND) return 1;
        break;
    case WM_EXITSIZEMOVE:
        CheckWindowSize();
        break;
    default: break;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
