// What the Direct3D object can offer (adapters, display modes, device types and the usable
// format combinations) and the search that completes a device request from it.
//
// Every list is a LinkedList appended in the order of discovery, so each append leaves the
// new entry as the cursor. Every walk goes once round a list starting at its cursor: after
// Enumerate a walk visits the last entry first, then the others from the first on (the sorted
// display-mode list is the exception: its walk starts at its smallest mode). A walk that stops
// early leaves the cursor on the entry it stopped at, and the next walk of that list starts
// there, so FindBestSettings may answer differently for the same request the second time.
#pragma once

#include "core/containers/linked_list.h"

#include <d3d9.h>

#include <cstdint>

// Match flags of DeviceSettings::matchFlags: which requested values FindBestSettings keeps.
enum DeviceMatchFlag : int32_t {
    kMatchSize = 0x1,               // width and height
    kMatchBackBufferBits = 0x2,     // the back buffer's bit depth (the format itself preferred)
    kMatchDepthStencil = 0x4,       // depth-stencil format
    kMatchMultiSample = 0x8,        // multisample type (and quality, clamped)
    kMatchVertexProcessing = 0x10,  // vertex processing
    kMatchPresentInterval = 0x20,   // present interval
    kMatchAdapter = 0x100,          // adapter ordinal
    kMatchDeviceType = 0x200,       // device type
    kMatchRefreshRate = 0x400,      // refresh rate
    // A kept value the hardware does not offer makes the search fail instead of falling back.
    kMatchStrict = 0x800,
};

// DeviceSettings::vertexProcessing values (D3DCREATE_* behaviour is chosen from them).
enum VertexProcessingType : int32_t {
    kSoftwareVertexProcessing = 0,
    kMixedVertexProcessing = 1,
    kHardwareVertexProcessing = 2,
    kPureHardwareVertexProcessing = 3,
};

// A device request and, after a successful FindBestSettings, a complete device choice. A plain
// record copied by value. A request sets matchFlags and the fields those flags name; the
// search reads a requested field only when its flag is set. Every field starts zeroed, so a
// request that fails half-way never leaves indeterminate values behind.
struct DeviceSettings {
    int32_t matchFlags = 0;  // DeviceMatchFlag bits
    bool windowed = false;   // windowed (true) or full-screen device
    UINT adapter = 0;        // adapter ordinal
    D3DDEVTYPE deviceType = static_cast<D3DDEVTYPE>(0);
    D3DCAPS9 caps = {};  // capabilities of the chosen device type
    D3DFORMAT backBufferFormat = D3DFMT_UNKNOWN;
    D3DFORMAT depthStencilFormat = D3DFMT_UNKNOWN;
    // Width, height, refresh rate and the adapter format (in Format).
    D3DDISPLAYMODE displayMode = {};
    D3DMULTISAMPLE_TYPE multiSampleType = D3DMULTISAMPLE_NONE;
    UINT multiSampleQuality = 0;
    int32_t vertexProcessing = kSoftwareVertexProcessing;  // VertexProcessingType
    UINT presentInterval = 0;                              // a D3DPRESENT_INTERVAL_* value
};

// One multisample type a combo offers and its number of quality levels (at least 1).
struct MultiSampleEntry {
    D3DMULTISAMPLE_TYPE type;
    DWORD qualityLevels;
};

// A depth format that cannot be combined with a multisample type. Recorded by Enumerate;
// FindBestSettings does not consult it.
struct DepthMultiSampleConflict {
    D3DFORMAT depthStencilFormat;
    D3DMULTISAMPLE_TYPE multiSampleType;
};

// A usable (adapter format, back-buffer format, windowed) triple of one device type, with what
// can go with it. Every list is non-empty except the conflicts.
struct DeviceCombo {
    UINT adapter = 0;
    D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
    D3DFORMAT adapterFormat = D3DFMT_UNKNOWN;
    D3DFORMAT backBufferFormat = D3DFMT_UNKNOWN;
    bool windowed = false;
    LinkedList<D3DFORMAT> depthStencilFormats;
    LinkedList<MultiSampleEntry> multiSampleTypes;
    LinkedList<DepthMultiSampleConflict> conflicts;
    LinkedList<int32_t> vertexProcessingTypes;  // VertexProcessingType values
    LinkedList<UINT> presentIntervals;          // D3DPRESENT_INTERVAL_* values
};

// One device type of an adapter; owns its combos.
struct DeviceInfo {
    DeviceInfo() = default;
    DeviceInfo(const DeviceInfo&) = delete;
    DeviceInfo& operator=(const DeviceInfo&) = delete;
    ~DeviceInfo() { combos.DeleteAll(); }

    UINT adapter = 0;
    D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
    D3DCAPS9 caps = {};
    LinkedList<DeviceCombo*> combos;
};

// One adapter; owns its device records. displayModes is sorted ascending by width, height,
// format and refresh rate, its cursor on the smallest mode.
struct AdapterInfo {
    AdapterInfo() = default;
    AdapterInfo(const AdapterInfo&) = delete;
    AdapterInfo& operator=(const AdapterInfo&) = delete;
    ~AdapterInfo() { devices.DeleteAll(); }

    UINT adapter = 0;
    D3DADAPTER_IDENTIFIER9 identifier = {};
    LinkedList<D3DDISPLAYMODE> displayModes;
    LinkedList<DeviceInfo*> devices;
};

// Filled once per run, then searched. Owns every record it made; does not own (and never
// releases) the Direct3D object.
class DeviceEnumeration {
public:
    DeviceEnumeration() = default;
    DeviceEnumeration(const DeviceEnumeration&) = delete;
    DeviceEnumeration& operator=(const DeviceEnumeration&) = delete;
    ~DeviceEnumeration();

    // The object Enumerate and FindBestSettings query; null detaches it. The caller keeps it
    // alive while this enumeration uses it.
    void SetDirect3D(IDirect3D9* direct3d) { direct3d_ = direct3d; }
    IDirect3D9* GetDirect3D() const { return direct3d_; }

    // Lists the adapters, modes, device types and combos (a repeated call starts afresh).
    // False only without a Direct3D object; true also when nothing usable was found.
    bool Enumerate();

    // Completes the request from the enumeration (see the match flags). True: every field is
    // filled. False: no Direct3D object, or nothing matches; the request may then be partly
    // filled, so callers retry from their own copy. A multisample type kept by
    // kMatchMultiSample that no combo offers passes through unchanged (device creation then
    // fails and the caller's retry decides). Moves list cursors (see the top of this file).
    bool FindBestSettings(DeviceSettings& request);

    // The adapters found, in ordinal order (cursor on the last). Owned by this enumeration.
    LinkedList<AdapterInfo*>& Adapters() { return adapters_; }

private:
    void Clear();

    IDirect3D9* direct3d_ = nullptr;
    LinkedList<AdapterInfo*> adapters_;
};

// Hands a description of the settings to the debug trace, one DebugTrace call per item:
// the rule "----------------------\n"; "Windowed " or "Fullscreen "; width "x" height; the
// back-buffer and depth format names joined by ", "; "Present Interval: " name "\n";
// "Vertex Proccessing: " name "\n"; "MultiSample: " name " , Quality:" quality "\n"; the
// rule again. The items carry no separators of their own: the size runs into the format
// names and those into "Present Interval", as the engine's trace has always read.
void DescribeSettings(const DeviceSettings& settings);
