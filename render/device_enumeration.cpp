#include "render/device_enumeration.h"

#include "core/debug/debug_trace.h"
#include "core/text/string.h"
#include "render/format_facts.h"

namespace {

// Adapter formats whose display modes are listed, in this order.
constexpr D3DFORMAT kAdapterFormats[] = {D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5, D3DFMT_R5G6B5,
                                         D3DFMT_A2R10G10B10};
// Device types tried on every adapter, in this order.
constexpr D3DDEVTYPE kDeviceTypes[] = {D3DDEVTYPE_HAL, D3DDEVTYPE_SW, D3DDEVTYPE_REF};
constexpr D3DFORMAT kBackBufferFormats[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_A2R10G10B10,
                                            D3DFMT_R5G6B5,   D3DFMT_A1R5G5B5, D3DFMT_X1R5G5B5};
constexpr D3DFORMAT kDepthStencilFormats[] = {D3DFMT_D16,   D3DFMT_D15S1,   D3DFMT_D24X8,
                                              D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32};
constexpr UINT kPresentIntervals[] = {D3DPRESENT_INTERVAL_IMMEDIATE, D3DPRESENT_INTERVAL_DEFAULT,
                                      D3DPRESENT_INTERVAL_ONE,       D3DPRESENT_INTERVAL_TWO,
                                      D3DPRESENT_INTERVAL_THREE,     D3DPRESENT_INTERVAL_FOUR};
constexpr D3DMULTISAMPLE_TYPE kMaxMultiSampleType = D3DMULTISAMPLE_16_SAMPLES;

// One round of a list from its cursor, moving the cursor along. Stops on the first element
// for which `stop` is true and leaves the cursor there; otherwise the cursor ends where it
// began. Returns the element stopped at, or null.
template <typename T, typename Stop>
T* WalkUntil(LinkedList<T>& list, Stop stop) {
    const int32_t count = list.count();
    for (int32_t i = 0; i < count; ++i) {
        typename LinkedList<T>::Node* node = list.cursor();
        if (stop(node->element)) return &node->element;
        list.SetCursor(node->next);
    }
    return nullptr;
}

// One full round from the cursor, which ends where it began.
template <typename T, typename Visit>
void WalkAll(LinkedList<T>& list, Visit visit) {
    WalkUntil(list, [&visit](T& element) {
        visit(element);
        return false;
    });
}

bool ModeLess(const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
    if (a.Width != b.Width) return a.Width < b.Width;
    if (a.Height != b.Height) return a.Height < b.Height;
    if (a.Format != b.Format) return a.Format < b.Format;
    return a.RefreshRate < b.RefreshRate;
}

// Selection sort in place, ascending; afterwards the walk starts at the smallest mode.
void SortModes(LinkedList<D3DDISPLAYMODE>& modes) {
    auto* node = modes.first();
    for (int32_t i = 0; i < modes.count(); ++i, node = node->next) {
        auto* smallest = node;
        auto* other = node->next;
        for (int32_t j = i + 1; j < modes.count(); ++j, other = other->next) {
            if (ModeLess(other->element, smallest->element)) smallest = other;
        }
        if (smallest != node) {
            const D3DDISPLAYMODE swap = node->element;
            node->element = smallest->element;
            smallest->element = swap;
        }
    }
    modes.SetCursor(modes.first());
}

class ComboBuilder {
public:
    ComboBuilder(IDirect3D9* direct3d, const DeviceInfo& device)
        : d3d_(direct3d), device_(device) {}

    // A new combo, or null when no depth format or no multisample type goes with it.
    DeviceCombo* Build(D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat, bool windowed) const {
        auto* combo = new DeviceCombo;
        combo->adapter = device_.adapter;
        combo->deviceType = device_.deviceType;
        combo->adapterFormat = adapterFormat;
        combo->backBufferFormat = backBufferFormat;
        combo->windowed = windowed;
        AddDepthFormats(*combo);
        AddMultiSampleTypes(*combo);
        if (combo->depthStencilFormats.count() == 0 || combo->multiSampleTypes.count() == 0) {
            delete combo;
            return nullptr;
        }
        AddConflicts(*combo);
        AddVertexProcessingTypes(*combo);
        AddPresentIntervals(*combo);
        return combo;
    }

private:
    void AddDepthFormats(DeviceCombo& combo) const {
        for (D3DFORMAT depth : kDepthStencilFormats) {
            if (d3d_->CheckDeviceFormat(combo.adapter, combo.deviceType, combo.adapterFormat,
                                        D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, depth) == D3D_OK &&
                d3d_->CheckDepthStencilMatch(combo.adapter, combo.deviceType, combo.adapterFormat,
                                             combo.backBufferFormat, depth) == D3D_OK) {
                combo.depthStencilFormats.Append(depth);
            }
        }
    }

    void AddMultiSampleTypes(DeviceCombo& combo) const {
        for (int type = D3DMULTISAMPLE_NONE; type <= kMaxMultiSampleType; ++type) {
            DWORD levels = 0;
            const auto multiSample = static_cast<D3DMULTISAMPLE_TYPE>(type);
            if (d3d_->CheckDeviceMultiSampleType(combo.adapter, combo.deviceType,
                                                 combo.backBufferFormat, combo.windowed,
                                                 multiSample, &levels) == D3D_OK) {
                combo.multiSampleTypes.Append(MultiSampleEntry{multiSample, levels});
            }
        }
    }

    void AddConflicts(DeviceCombo& combo) const {
        WalkAll(combo.depthStencilFormats, [&](D3DFORMAT depth) {
            WalkAll(combo.multiSampleTypes, [&](const MultiSampleEntry& entry) {
                if (d3d_->CheckDeviceMultiSampleType(combo.adapter, combo.deviceType, depth,
                                                     combo.windowed, entry.type,
                                                     nullptr) != D3D_OK) {
                    combo.conflicts.Append(DepthMultiSampleConflict{depth, entry.type});
                }
            });
        });
    }

    void AddVertexProcessingTypes(DeviceCombo& combo) const {
        const DWORD devCaps = device_.caps.DevCaps;
        if ((devCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0) {
            if ((devCaps & D3DDEVCAPS_PUREDEVICE) != 0) {
                combo.vertexProcessingTypes.Append(kPureHardwareVertexProcessing);
            }
            combo.vertexProcessingTypes.Append(kHardwareVertexProcessing);
            combo.vertexProcessingTypes.Append(kMixedVertexProcessing);
        }
        combo.vertexProcessingTypes.Append(kSoftwareVertexProcessing);
    }

    void AddPresentIntervals(DeviceCombo& combo) const {
        for (UINT interval : kPresentIntervals) {
            const bool slow = interval == D3DPRESENT_INTERVAL_TWO ||
                              interval == D3DPRESENT_INTERVAL_THREE ||
                              interval == D3DPRESENT_INTERVAL_FOUR;
            // A windowed swap chain presents at most once per refresh.
            if (combo.windowed && slow) continue;
            if (interval == D3DPRESENT_INTERVAL_DEFAULT ||
                (device_.caps.PresentationIntervals & interval) != 0) {
                combo.presentIntervals.Append(interval);
            }
        }
    }

    IDirect3D9* d3d_;
    const DeviceInfo& device_;
};

}  // namespace

DeviceEnumeration::~DeviceEnumeration() { Clear(); }

void DeviceEnumeration::Clear() { adapters_.DeleteAll(); }

bool DeviceEnumeration::Enumerate() {
    if (direct3d_ == nullptr) return false;
    Clear();
    const UINT adapterCount = direct3d_->GetAdapterCount();
    for (UINT ordinal = 0; ordinal < adapterCount; ++ordinal) {
        auto* adapter = new AdapterInfo;
        adapter->adapter = ordinal;
        direct3d_->GetAdapterIdentifier(ordinal, 0, &adapter->identifier);

        LinkedList<D3DFORMAT> formatsInUse;  // in order of first appearance
        for (D3DFORMAT format : kAdapterFormats) {
            const UINT modeCount = direct3d_->GetAdapterModeCount(ordinal, format);
            for (UINT m = 0; m < modeCount; ++m) {
                D3DDISPLAYMODE mode = {};
                if (direct3d_->EnumAdapterModes(ordinal, format, m, &mode) != D3D_OK) continue;
                adapter->displayModes.Append(mode);
                if (!formatsInUse.Contains(mode.Format)) formatsInUse.Append(mode.Format);
            }
        }
        SortModes(adapter->displayModes);

        for (D3DDEVTYPE type : kDeviceTypes) {
            auto* device = new DeviceInfo;
            device->adapter = ordinal;
            device->deviceType = type;
            if (direct3d_->GetDeviceCaps(ordinal, type, &device->caps) != D3D_OK) {
                delete device;
                continue;
            }
            const ComboBuilder builder(direct3d_, *device);
            auto* format = formatsInUse.first();
            for (int32_t f = 0; f < formatsInUse.count(); ++f, format = format->next) {
                for (D3DFORMAT backBuffer : kBackBufferFormats) {
                    for (bool windowed : {false, true}) {
                        if (direct3d_->CheckDeviceType(ordinal, type, format->element, backBuffer,
                                                       windowed) != D3D_OK) {
                            continue;
                        }
                        DeviceCombo* combo = builder.Build(format->element, backBuffer, windowed);
                        if (combo != nullptr) device->combos.Append(combo);
                    }
                }
            }
            if (device->combos.count() == 0) {
                delete device;
                continue;
            }
            adapter->devices.Append(device);
        }

        if (adapter->devices.count() == 0) {
            delete adapter;
            continue;
        }
        adapters_.Append(adapter);
    }
    return true;
}

namespace {

// What the combo walk settled on.
struct ComboChoice {
    AdapterInfo* adapter = nullptr;
    DeviceInfo* device = nullptr;
    DeviceCombo* combo = nullptr;
};

// Step 2: the combo. "exact" combos end the walk of their device's combos; once one is taken,
// only "same" (back buffer = adapter format) or "exact" ones replace it.
ComboChoice ChooseCombo(LinkedList<AdapterInfo*>& adapters, const DeviceSettings& request,
                        const D3DDISPLAYMODE& desktop) {
    const int32_t flags = request.matchFlags;
    ComboChoice best;
    WalkAll(adapters, [&](AdapterInfo* adapter) {
        if ((flags & kMatchAdapter) != 0 && adapter->adapter != request.adapter) return;
        WalkAll(adapter->devices, [&](DeviceInfo* device) {
            const D3DDEVTYPE wanted =
                (flags & kMatchDeviceType) != 0 ? request.deviceType : D3DDEVTYPE_HAL;
            if (device->deviceType != wanted) return;
            WalkUntil(device->combos, [&](DeviceCombo* combo) {
                if (combo->windowed != request.windowed) return false;
                bool exact = false;
                if ((flags & kMatchBackBufferBits) != 0) {
                    if (FormatBits(combo->backBufferFormat) !=
                        FormatBits(request.backBufferFormat)) {
                        return false;
                    }
                    exact = combo->backBufferFormat == request.backBufferFormat;
                }
                const bool same = combo->backBufferFormat == combo->adapterFormat;
                if (combo->adapterFormat == desktop.Format && (flags & kMatchBackBufferBits) == 0) {
                    exact = same;
                }
                // A windowed device shares the desktop, so it must use the desktop's format.
                if (combo->windowed && combo->adapterFormat != desktop.Format) return false;
                if (best.combo != nullptr && !same && !exact) return false;
                best = ComboChoice{adapter, device, combo};
                return exact;
            });
        });
    });
    return best;
}

// Step 4: the display mode of a full-screen combo; the highest refresh rate among the
// matching modes wins, on equal rates the later mode. Null when none matches.
const D3DDISPLAYMODE* ChooseFullScreenMode(AdapterInfo& adapter, const DeviceCombo& combo,
                                           const DeviceSettings& request,
                                           const D3DDISPLAYMODE& desktop) {
    const int32_t flags = request.matchFlags;
    const D3DDISPLAYMODE* best = nullptr;
    WalkAll(adapter.displayModes, [&](const D3DDISPLAYMODE& mode) {
        if (mode.Format != combo.adapterFormat) return;
        if ((flags & kMatchSize) != 0) {
            if (mode.Width != request.displayMode.Width) return;
            if (mode.Height != request.displayMode.Height) return;
        } else if (mode.Width != desktop.Width || mode.Height != desktop.Height ||
                   mode.RefreshRate != desktop.RefreshRate) {
            return;
        }
        if ((flags & kMatchRefreshRate) != 0 &&
            mode.RefreshRate != request.displayMode.RefreshRate) {
            return;
        }
        if (best == nullptr || mode.RefreshRate >= best->RefreshRate) best = &mode;
    });
    return best;
}

auto Equal(D3DFORMAT wanted) {
    return [wanted](D3DFORMAT format) { return format == wanted; };
}

// Step 5: the depth-stencil format; the chosen entry becomes the list's cursor.
bool ChooseDepthStencil(DeviceCombo& combo, DeviceSettings& request) {
    LinkedList<D3DFORMAT>& depths = combo.depthStencilFormats;
    const bool keep = (request.matchFlags & kMatchDepthStencil) != 0;
    if (keep && WalkUntil(depths, Equal(request.depthStencilFormat)) != nullptr) return true;
    if (keep && (request.matchFlags & kMatchStrict) != 0) return false;
    const int bits = FormatBits(combo.backBufferFormat);
    const D3DFORMAT* chosen = nullptr;
    if (bits == 16) chosen = WalkUntil(depths, Equal(D3DFMT_D16));
    if (bits == 32) chosen = WalkUntil(depths, Equal(D3DFMT_D32));
    if (chosen == nullptr) {
        chosen = WalkUntil(depths, [bits](D3DFORMAT f) { return FormatBits(f) == bits; });
    }
    if (chosen == nullptr) return false;
    request.depthStencilFormat = *chosen;
    return true;
}

// Step 6. The depth/multisample conflicts are not consulted, and a requested type the combo
// does not offer passes through unchanged: device creation then fails and the caller's retry
// decides.
bool ChooseMultiSample(DeviceCombo& combo, DeviceSettings& request) {
    if ((request.matchFlags & kMatchMultiSample) == 0) {
        request.multiSampleType = D3DMULTISAMPLE_NONE;
        request.multiSampleQuality = 0;
        return true;
    }
    const MultiSampleEntry* entry =
        WalkUntil(combo.multiSampleTypes,
                  [&](const MultiSampleEntry& e) { return e.type == request.multiSampleType; });
    if (entry == nullptr) return true;
    if ((request.matchFlags & kMatchStrict) != 0) {
        return request.multiSampleQuality < entry->qualityLevels;
    }
    if (request.multiSampleQuality > entry->qualityLevels - 1) {
        request.multiSampleQuality = entry->qualityLevels - 1;
    }
    return true;
}

// Step 7: an unlisted requested type stays unless strict.
bool ChooseVertexProcessing(DeviceCombo& combo, DeviceSettings& request) {
    const auto is = [](int32_t wanted) { return [wanted](int32_t t) { return t == wanted; }; };
    LinkedList<int32_t>& types = combo.vertexProcessingTypes;
    if ((request.matchFlags & kMatchVertexProcessing) != 0) {
        return WalkUntil(types, is(request.vertexProcessing)) != nullptr ||
               (request.matchFlags & kMatchStrict) == 0;
    }
    request.vertexProcessing = WalkUntil(types, is(kHardwareVertexProcessing)) != nullptr
                                   ? kHardwareVertexProcessing
                                   : kSoftwareVertexProcessing;
    return true;
}

// Step 8: anything not kept falls back to IMMEDIATE, listed or not.
bool ChoosePresentInterval(DeviceCombo& combo, DeviceSettings& request) {
    if ((request.matchFlags & kMatchPresentInterval) != 0) {
        const UINT wanted = request.presentInterval;
        if (WalkUntil(combo.presentIntervals, [wanted](UINT i) { return i == wanted; }) !=
            nullptr) {
            return true;
        }
        if ((request.matchFlags & kMatchStrict) != 0) return false;
    }
    request.presentInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    return true;
}

}  // namespace

bool DeviceEnumeration::FindBestSettings(DeviceSettings& request) {
    if (direct3d_ == nullptr) return false;
    D3DDISPLAYMODE desktop = {};
    direct3d_->GetAdapterDisplayMode(0, &desktop);

    const ComboChoice choice = ChooseCombo(adapters_, request, desktop);
    if (choice.combo == nullptr) return false;
    DeviceCombo& combo = *choice.combo;
    request.adapter = choice.adapter->adapter;
    request.caps = choice.device->caps;
    request.deviceType = choice.device->deviceType;
    request.backBufferFormat = combo.backBufferFormat;

    if (combo.windowed) {
        request.displayMode = desktop;
    } else {
        const D3DDISPLAYMODE* mode = ChooseFullScreenMode(*choice.adapter, combo, request, desktop);
        if (mode == nullptr) return false;
        request.displayMode.Width = mode->Width;
        request.displayMode.Height = mode->Height;
        request.displayMode.RefreshRate = mode->RefreshRate;
        request.displayMode.Format = combo.adapterFormat;
    }
    return ChooseDepthStencil(combo, request) && ChooseMultiSample(combo, request) &&
           ChooseVertexProcessing(combo, request) && ChoosePresentInterval(combo, request);
}

void DescribeSettings(const DeviceSettings& settings) {
    static const char* const kRule = "----------------------\n";
    DebugTrace(kRule);
    DebugTrace(settings.windowed ? "Windowed " : "Fullscreen ");
    DebugTrace(ConcatStrings(
        ConcatStringText(String(static_cast<int32_t>(settings.displayMode.Width), 10), "x"),
        String(static_cast<int32_t>(settings.displayMode.Height), 10)));
    DebugTrace(ConcatTextString(FormatName(settings.backBufferFormat),
                                ConcatTextString(", ", FormatName(settings.depthStencilFormat))));
    DebugTrace(ConcatStringText(
        ConcatTextString("Present Interval: ", PresentIntervalName(settings.presentInterval)),
        "\n"));
    DebugTrace(ConcatStringText(
        ConcatTextString("Vertex Proccessing: ", VertexProcessingName(settings.vertexProcessing)),
        "\n"));
    String multiSample =
        ConcatTextString("MultiSample: ", MultiSampleName(settings.multiSampleType));
    multiSample = ConcatStringText(multiSample, " , Quality:");
    multiSample =
        ConcatStrings(multiSample, String(static_cast<int32_t>(settings.multiSampleQuality), 10));
    DebugTrace(ConcatStringText(multiSample, "\n"));
    DebugTrace(kRule);
}
