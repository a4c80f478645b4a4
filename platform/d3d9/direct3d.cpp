// Direct3DCreate9 and the adapter object: adapters, modes, format checks and device creation.

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/formats.h"
#include "platform/win32/sdl_window_local.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace rh::d3d9 {
namespace {

// Direct3D answers D3DERR_INVALIDCALL for an adapter ordinal out of range and
// D3DERR_NOTAVAILABLE for a device type the adapter lacks (only HAL here; REF and SW are not
// installed, as on a machine without the SDK).
HRESULT CheckAdapterAndType(const Direct3D9& d3d, UINT adapter, D3DDEVTYPE type) {
    if (d3d.FindAdapter(adapter) == nullptr) return D3DERR_INVALIDCALL;
    switch (type) {
        case D3DDEVTYPE_HAL: return D3D_OK;
        case D3DDEVTYPE_REF:
        case D3DDEVTYPE_SW:
        case D3DDEVTYPE_NULLREF: return D3DERR_NOTAVAILABLE;
        default: return D3DERR_INVALIDCALL;
    }
}

// Back-buffer formats shown on each adapter format.
bool BackBufferShownOn(D3DFORMAT adapterFormat, D3DFORMAT backBuffer) {
    return IsAdapterFormat(adapterFormat) && DisplayFormatOfBackBuffer(backBuffer) == adapterFormat;
}

void CopyText(char* out, size_t size, const std::string& text) {
    size_t n = std::min(size - 1, text.size());
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

Direct3D9* Direct3D9::Create() {
    const GlLimits& gl = ProbeGl();
    if (!gl.usable) return nullptr;
    return new Direct3D9(gl, ReadAdapters(gl));
}

const Adapter* Direct3D9::FindAdapter(UINT adapter) const {
    return adapter < adapters_.size() ? &adapters_[adapter] : nullptr;
}

D3DDISPLAYMODE Direct3D9::DesktopMode(const Adapter& adapter) const {
    return D3DDISPLAYMODE{adapter.desktop.width, adapter.desktop.height, adapter.desktop.refresh, kDesktopFormat};
}

bool Direct3D9::HasMode(const Adapter& adapter, UINT width, UINT height, UINT refresh) const {
    return std::any_of(adapter.modes.begin(), adapter.modes.end(), [&](const ModeSize& m) {
        return m.width == width && m.height == height && (refresh == 0 || m.refresh == refresh);
    });
}

UINT STDMETHODCALLTYPE Direct3D9::GetAdapterCount() { return static_cast<UINT>(adapters_.size()); }

HRESULT STDMETHODCALLTYPE Direct3D9::GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) {
    const Adapter* a = FindAdapter(adapter);
    constexpr DWORD kWhqlLevel = 2;  // D3DENUM_WHQL_LEVEL, the only flag
    if (a == nullptr || identifier == nullptr || (flags & ~kWhqlLevel) != 0) return D3DERR_INVALIDCALL;
    std::memset(identifier, 0, sizeof *identifier);
    CopyText(identifier->Driver, sizeof identifier->Driver, "OpenGL " + gl_.version);
    CopyText(identifier->Description, sizeof identifier->Description, gl_.renderer);
    CopyText(identifier->DeviceName, sizeof identifier->DeviceName, "\\\\.\\DISPLAY" + std::to_string(a->display + 1));
    return D3D_OK;
}

UINT STDMETHODCALLTYPE Direct3D9::GetAdapterModeCount(UINT adapter, D3DFORMAT format) {
    const Adapter* a = FindAdapter(adapter);
    if (a == nullptr || !IsAdapterFormat(format)) return 0;
    return static_cast<UINT>(a->modes.size());
}

HRESULT STDMETHODCALLTYPE Direct3D9::EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) {
    const Adapter* a = FindAdapter(adapter);
    if (a == nullptr || out == nullptr) return D3DERR_INVALIDCALL;
    if (!IsAdapterFormat(format)) return D3DERR_NOTAVAILABLE;
    if (mode >= a->modes.size()) return D3DERR_INVALIDCALL;
    const ModeSize& m = a->modes[mode];
    *out = D3DDISPLAYMODE{m.width, m.height, m.refresh, format};
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Direct3D9::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    const Adapter* a = FindAdapter(adapter);
    if (a == nullptr || mode == nullptr) return D3DERR_INVALIDCALL;
    SDL_DisplayMode current;
    if (SDL_GetCurrentDisplayMode(a->display, &current) == 0 && (current.w != static_cast<int>(a->desktop.width) ||
                                                                  current.h != static_cast<int>(a->desktop.height))) {
        // A full-screen device changed the mode.
        UINT refresh = current.refresh_rate > 0 ? static_cast<UINT>(current.refresh_rate) : 60;
        *mode = D3DDISPLAYMODE{static_cast<UINT>(current.w), static_cast<UINT>(current.h), refresh, kDesktopFormat};
        return D3D_OK;
    }
    *mode = DesktopMode(*a);
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Direct3D9::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                                     D3DFORMAT backBufferFormat, BOOL windowed) {
    if (HRESULT hr = CheckAdapterAndType(*this, adapter, type); hr != D3D_OK) return hr;
    if (!IsAdapterFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    // A window shares the desktop: its adapter format must be the desktop's.
    if (windowed && adapterFormat != kDesktopFormat) return D3DERR_NOTAVAILABLE;
    if (windowed && backBufferFormat == D3DFMT_UNKNOWN) return D3D_OK;  // "the desktop's format"
    return BackBufferShownOn(adapterFormat, backBufferFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT STDMETHODCALLTYPE Direct3D9::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                                       DWORD usage, D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) {
    if (HRESULT hr = CheckAdapterAndType(*this, adapter, type); hr != D3D_OK) return hr;
    if (!IsAdapterFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    const FormatInfo* format = FindFormat(checkFormat);
    if (format == nullptr || !format->supported) return D3DERR_NOTAVAILABLE;
    bool texture = resourceType == D3DRTYPE_TEXTURE || resourceType == D3DRTYPE_CUBETEXTURE;
    // Textures are what CreateTexture and CreateCubeTexture make: colour formats GL stores,
    // neither render targets nor depth buffers.
    if (texture && (usage & (D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_RENDERTARGET)) != 0) return D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_DEPTHSTENCIL) {
        return resourceType == D3DRTYPE_SURFACE && format->kind == FormatKind::Depth ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    if (usage & D3DUSAGE_RENDERTARGET) {
        return DisplayFormatOfBackBuffer(checkFormat) != D3DFMT_UNKNOWN ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    switch (resourceType) {
        case D3DRTYPE_SURFACE:
        case D3DRTYPE_VOLUMETEXTURE:
            return format->kind == FormatKind::Color ? D3D_OK : D3DERR_NOTAVAILABLE;
        case D3DRTYPE_TEXTURE:
        case D3DRTYPE_CUBETEXTURE:
            return format->kind == FormatKind::Color && format->internalFormat != 0 ? D3D_OK : D3DERR_NOTAVAILABLE;
        case D3DRTYPE_VERTEXBUFFER:
            return checkFormat == D3DFMT_VERTEXDATA ? D3D_OK : D3DERR_NOTAVAILABLE;
        case D3DRTYPE_INDEXBUFFER:
            return format->kind == FormatKind::Index ? D3D_OK : D3DERR_NOTAVAILABLE;
        default:
            return D3DERR_INVALIDCALL;
    }
}

HRESULT STDMETHODCALLTYPE Direct3D9::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat,
                                                                BOOL windowed, D3DMULTISAMPLE_TYPE multiSample,
                                                                DWORD* qualityLevels) {
    (void)windowed;
    if (HRESULT hr = CheckAdapterAndType(*this, adapter, type); hr != D3D_OK) return hr;
    if (static_cast<DWORD>(multiSample) > D3DMULTISAMPLE_16_SAMPLES) return D3DERR_INVALIDCALL;
    bool known = DisplayFormatOfBackBuffer(surfaceFormat) != D3DFMT_UNKNOWN || IsSupportedDepthFormat(surfaceFormat);
    // The back buffer is a single-sampled buffer of its own.
    if (!known || multiSample != D3DMULTISAMPLE_NONE) return D3DERR_NOTAVAILABLE;
    if (qualityLevels != nullptr) *qualityLevels = 1;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Direct3D9::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                                            D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) {
    if (HRESULT hr = CheckAdapterAndType(*this, adapter, type); hr != D3D_OK) return hr;
    if (!IsAdapterFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    // GL pairs any depth buffer with any colour buffer.
    bool ok = DisplayFormatOfBackBuffer(renderTargetFormat) != D3DFMT_UNKNOWN && IsSupportedDepthFormat(depthStencilFormat);
    return ok ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT STDMETHODCALLTYPE Direct3D9::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) {
    if (caps == nullptr) return D3DERR_INVALIDCALL;
    if (HRESULT hr = CheckAdapterAndType(*this, adapter, type); hr != D3D_OK) return hr;
    *caps = adapters_[adapter].halCaps;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Direct3D9::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                                                  D3DPRESENT_PARAMETERS* presentParameters, IDirect3DDevice9** device) {
    if (device == nullptr || presentParameters == nullptr) return D3DERR_INVALIDCALL;
    if (HRESULT hr = CheckAdapterAndType(*this, adapter, type); hr != D3D_OK) return hr;
    // Exactly one kind of vertex processing; a pure device is not offered (see the caps).
    DWORD processing = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                        D3DCREATE_MIXED_VERTEXPROCESSING);
    bool one = processing != 0 && (processing & (processing - 1)) == 0;
    if (!one || (behaviorFlags & D3DCREATE_PUREDEVICE) != 0) return D3DERR_INVALIDCALL;
    HWND hwnd = presentParameters->hDeviceWindow != nullptr ? presentParameters->hDeviceWindow : focusWindow;
    SDL_Window* window = win32::SdlWindowOf(hwnd);
    if (window == nullptr) return D3DERR_INVALIDCALL;
    D3DPRESENT_PARAMETERS pp = *presentParameters;
    if (HRESULT hr = CompletePresentParameters(*this, adapter, window, &pp); hr != D3D_OK) return hr;
    Device* created = nullptr;
    if (HRESULT hr = Device::Create(this, adapter, hwnd, window, behaviorFlags, pp, &created); hr != D3D_OK) return hr;
    *presentParameters = pp;
    *device = created;
    return D3D_OK;
}

}  // namespace rh::d3d9

IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
    // The 9.0c runtime takes the versions of both 9.0c SDK generations, 31 and 32, each also
    // with the high bit the SDK sets for its debug-information builds.
    constexpr UINT kDebugBit = 0x80000000u;
    UINT version = sdkVersion & ~kDebugBit;
    if (version != 31 && version != 32) return nullptr;
    return rh::d3d9::Direct3D9::Create();
}
