// A configurable test double of IDirect3D9 for the device enumeration: adapters with their
// desktop mode and display modes, the caps of each device type, and what each Check* call
// accepts. Out of the box it looks like our OpenGL layer on one 1024x768 desktop: HAL only
// (hardware T&L, IMMEDIATE|ONE), A8R8G8B8/X8R8G8B8 on X8R8G8B8 and R5G6B5/X1R5G5B5 on
// R5G6B5, windowed only on the desktop's format, depth D16/D24X8/D24S8, no multisampling.
// Lives on the test's stack: Release only counts down. CreateDevice is not offered.
#pragma once

#include <d3d9.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace rh::test {

struct FakeAdapter {
    std::string description = "Fake adapter";
    D3DDISPLAYMODE desktop = {1024, 768, 60, D3DFMT_X8R8G8B8};
    // EnumAdapterModes(format) answers the modes of that Format, in this order.
    std::vector<D3DDISPLAYMODE> modes;
};

class FakeDirect3D final : public IDirect3D9 {
public:
    FakeDirect3D() {
        FakeAdapter adapter;
        for (D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
            for (const auto& [w, h, hz] :
                 {std::tuple{640u, 480u, 60u}, {800u, 600u, 60u}, {1024u, 768u, 60u}}) {
                adapter.modes.push_back(D3DDISPLAYMODE{w, h, hz, format});
            }
        }
        adapters.push_back(adapter);
        D3DCAPS9 hal = {};
        hal.DeviceType = D3DDEVTYPE_HAL;
        hal.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
        hal.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
        deviceCaps[D3DDEVTYPE_HAL] = hal;
    }

    // ----- configuration
    std::vector<FakeAdapter> adapters;
    // Device types without an entry answer D3DERR_NOTAVAILABLE from GetDeviceCaps.
    std::map<D3DDEVTYPE, D3DCAPS9> deviceCaps;
    // (adapter format, back-buffer format) pairs CheckDeviceType accepts.
    std::vector<std::pair<D3DFORMAT, D3DFORMAT>> backBuffers = {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8},
                                                                {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8},
                                                                {D3DFMT_R5G6B5, D3DFMT_R5G6B5},
                                                                {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5}};
    // Windowed devices only on the adapter's desktop format, as Direct3D 9 requires.
    bool windowedOnDesktopFormatOnly = true;
    // Depth formats CheckDeviceFormat(D3DUSAGE_DEPTHSTENCIL) accepts.
    std::vector<D3DFORMAT> depthFormats = {D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D24S8};
    // CheckDepthStencilMatch; every pair by default.
    std::function<bool(D3DFORMAT backBuffer, D3DFORMAT depth)> depthMatches =
        [](D3DFORMAT, D3DFORMAT) { return true; };
    // Multisample types offered with their quality-level counts, for every surface format
    // except those in multiSampleRefusers (which fail every type but NONE).
    std::map<D3DMULTISAMPLE_TYPE, DWORD> multiSampleLevels = {{D3DMULTISAMPLE_NONE, 1}};
    std::vector<D3DFORMAT> multiSampleRefusers;

    int refs = 1;

    // ----- IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDirect3D9) {
            AddRef();
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }

    // ----- IDirect3D9
    UINT STDMETHODCALLTYPE GetAdapterCount() override { return static_cast<UINT>(adapters.size()); }

    HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT adapter, DWORD,
                                                   D3DADAPTER_IDENTIFIER9* id) override {
        if (adapter >= adapters.size() || id == nullptr) return D3DERR_INVALIDCALL;
        *id = {};
        std::snprintf(id->Description, sizeof(id->Description), "%s",
                      adapters[adapter].description.c_str());
        return D3D_OK;
    }

    UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT adapter, D3DFORMAT format) override {
        return static_cast<UINT>(ModesOf(adapter, format).size());
    }

    HRESULT STDMETHODCALLTYPE EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode,
                                               D3DDISPLAYMODE* out) override {
        const auto modes = ModesOf(adapter, format);
        if (mode >= modes.size() || out == nullptr) return D3DERR_INVALIDCALL;
        *out = modes[mode];
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override {
        if (adapter >= adapters.size() || mode == nullptr) return D3DERR_INVALIDCALL;
        *mode = adapters[adapter].desktop;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE CheckDeviceType(UINT adapter, D3DDEVTYPE type,
                                              D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                                              BOOL windowed) override {
        if (adapter >= adapters.size() || deviceCaps.count(type) == 0) return D3DERR_INVALIDCALL;
        if (windowed && windowedOnDesktopFormatOnly &&
            adapterFormat != adapters[adapter].desktop.Format) {
            return D3DERR_NOTAVAILABLE;
        }
        const auto pair = std::make_pair(adapterFormat, backBufferFormat);
        return Has(backBuffers, pair) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }

    HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT adapter, D3DDEVTYPE, D3DFORMAT, DWORD usage,
                                                D3DRESOURCETYPE type,
                                                D3DFORMAT checkFormat) override {
        if (adapter >= adapters.size()) return D3DERR_INVALIDCALL;
        if (usage != D3DUSAGE_DEPTHSTENCIL || type != D3DRTYPE_SURFACE) return D3DERR_NOTAVAILABLE;
        return Has(depthFormats, checkFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }

    HRESULT STDMETHODCALLTYPE CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE,
                                                         D3DFORMAT surfaceFormat, BOOL,
                                                         D3DMULTISAMPLE_TYPE multiSample,
                                                         DWORD* levels) override {
        if (adapter >= adapters.size()) return D3DERR_INVALIDCALL;
        const auto found = multiSampleLevels.find(multiSample);
        const bool refused =
            multiSample != D3DMULTISAMPLE_NONE && Has(multiSampleRefusers, surfaceFormat);
        if (found == multiSampleLevels.end() || refused) return D3DERR_NOTAVAILABLE;
        if (levels != nullptr) *levels = found->second;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE, D3DFORMAT,
                                                     D3DFORMAT renderTarget,
                                                     D3DFORMAT depth) override {
        if (adapter >= adapters.size()) return D3DERR_INVALIDCALL;
        return depthMatches(renderTarget, depth) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }

    HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT adapter, D3DDEVTYPE type,
                                            D3DCAPS9* caps) override {
        if (adapter >= adapters.size() || caps == nullptr) return D3DERR_INVALIDCALL;
        const auto found = deviceCaps.find(type);
        if (found == deviceCaps.end()) return D3DERR_NOTAVAILABLE;
        *caps = found->second;
        caps->AdapterOrdinal = adapter;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateDevice(UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*,
                                           IDirect3DDevice9** device) override {
        if (device != nullptr) *device = nullptr;
        return D3DERR_NOTAVAILABLE;
    }

private:
    template <typename C, typename V>
    static bool Has(const C& container, const V& value) {
        return std::find(container.begin(), container.end(), value) != container.end();
    }

    std::vector<D3DDISPLAYMODE> ModesOf(UINT adapter, D3DFORMAT format) const {
        std::vector<D3DDISPLAYMODE> out;
        if (adapter >= adapters.size()) return out;
        for (const D3DDISPLAYMODE& mode : adapters[adapter].modes) {
            if (mode.Format == format) out.push_back(mode);
        }
        return out;
    }
};

}  // namespace rh::test
