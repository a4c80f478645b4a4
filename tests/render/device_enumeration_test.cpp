// The device enumeration and the settings search against a configurable fake Direct3D object.
#include "render/device_enumeration.h"

#include "platform/log/log_testing.h"
#include "render/format_facts.h"
#include "tests/render/support/fake_direct3d.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rh::test::FakeAdapter;
using rh::test::FakeDirect3D;

// A list's elements from its first entry, and from its cursor (the order a walk visits them).
template <typename T>
std::vector<T> FromFirst(const LinkedList<T>& list) {
    std::vector<T> out;
    auto* node = list.first();
    for (int32_t i = 0; i < list.count(); ++i, node = node->next) out.push_back(node->element);
    return out;
}
template <typename T>
std::vector<T> FromCursor(const LinkedList<T>& list) {
    std::vector<T> out;
    auto* node = list.cursor();
    for (int32_t i = 0; i < list.count(); ++i, node = node->next) out.push_back(node->element);
    return out;
}

std::string ModeText(const D3DDISPLAYMODE& m) {
    return std::to_string(m.Width) + "x" + std::to_string(m.Height) + "@" +
           std::to_string(m.RefreshRate) + " " + FormatName(m.Format);
}

std::string ComboText(const DeviceCombo* c) {
    return std::string(FormatName(c->adapterFormat)) + "/" + FormatName(c->backBufferFormat) +
           (c->windowed ? " windowed" : " fullscreen");
}

class DeviceEnumerationTest : public ::testing::Test {
protected:
    void SetUp() override { enumeration.SetDirect3D(&d3d); }

    // Enumerates and returns the first device of the first adapter.
    DeviceInfo* EnumerateFirstDevice() {
        EXPECT_TRUE(enumeration.Enumerate());
        if (enumeration.Adapters().count() == 0) return nullptr;
        AdapterInfo* adapter = enumeration.Adapters().first()->element;
        return adapter->devices.count() > 0 ? adapter->devices.first()->element : nullptr;
    }

    DeviceCombo* FindCombo(DeviceInfo* device, D3DFORMAT adapterFormat, D3DFORMAT backBuffer,
                           bool windowed) {
        for (DeviceCombo* combo : FromFirst(device->combos)) {
            if (combo->adapterFormat == adapterFormat && combo->backBufferFormat == backBuffer &&
                combo->windowed == windowed) {
                return combo;
            }
        }
        return nullptr;
    }

    static DeviceSettings Request(bool windowed, int32_t flags) {
        DeviceSettings request;
        request.windowed = windowed;
        request.matchFlags = flags;
        return request;
    }

    FakeDirect3D d3d;
    DeviceEnumeration enumeration;
};

TEST_F(DeviceEnumerationTest, WithoutDirect3DNothingIsFound) {
    enumeration.SetDirect3D(nullptr);
    EXPECT_FALSE(enumeration.Enumerate());
    DeviceSettings request;
    EXPECT_FALSE(enumeration.FindBestSettings(request));
}

TEST_F(DeviceEnumerationTest, ListsSortedModesAndTheCombosInOrderOfDiscovery) {
    d3d.adapters[0].description = "Mesa llvmpipe";
    d3d.adapters[0].modes = {{800, 600, 75, D3DFMT_R5G6B5},
                             {1024, 768, 60, D3DFMT_X8R8G8B8},
                             {800, 600, 85, D3DFMT_X8R8G8B8},
                             {800, 600, 60, D3DFMT_X8R8G8B8},
                             {640, 480, 60, D3DFMT_R5G6B5}};
    DeviceInfo* device = EnumerateFirstDevice();
    ASSERT_NE(device, nullptr);
    AdapterInfo* adapter = enumeration.Adapters().first()->element;
    EXPECT_STREQ(adapter->identifier.Description, "Mesa llvmpipe");

    // Width, height, format (X8R8G8B8 22 before R5G6B5 23), refresh; the walk starts smallest.
    std::vector<std::string> modes;
    for (const D3DDISPLAYMODE& m : FromCursor(adapter->displayModes)) modes.push_back(ModeText(m));
    EXPECT_EQ(modes, (std::vector<std::string>{"640x480@60 R5G6B5", "800x600@60 X8R8G8B8",
                                               "800x600@85 X8R8G8B8", "800x600@75 R5G6B5",
                                               "1024x768@60 X8R8G8B8"}));

    // SW and REF answer no caps and are dropped.
    EXPECT_EQ(adapter->devices.count(), 1);
    EXPECT_EQ(device->deviceType, D3DDEVTYPE_HAL);

    std::vector<std::string> combos;
    for (DeviceCombo* c : FromFirst(device->combos)) combos.push_back(ComboText(c));
    EXPECT_EQ(combos, (std::vector<std::string>{
                          "X8R8G8B8/A8R8G8B8 fullscreen", "X8R8G8B8/A8R8G8B8 windowed",
                          "X8R8G8B8/X8R8G8B8 fullscreen", "X8R8G8B8/X8R8G8B8 windowed",
                          "R5G6B5/R5G6B5 fullscreen", "R5G6B5/X1R5G5B5 fullscreen"}));
    EXPECT_EQ(ComboText(device->combos.cursor()->element), "R5G6B5/X1R5G5B5 fullscreen")
        << "cursor on the last";

    DeviceCombo* combo = FindCombo(device, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, false);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(FromFirst(combo->depthStencilFormats),
              (std::vector<D3DFORMAT>{D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D24S8}));
    EXPECT_EQ(combo->depthStencilFormats.cursor()->element, D3DFMT_D24S8);
    ASSERT_EQ(combo->multiSampleTypes.count(), 1);
    EXPECT_EQ(combo->multiSampleTypes.first()->element.type, D3DMULTISAMPLE_NONE);
    EXPECT_EQ(combo->multiSampleTypes.first()->element.qualityLevels, 1u);
    EXPECT_EQ(combo->conflicts.count(), 0);
}

TEST_F(DeviceEnumerationTest, VertexProcessingAndPresentIntervalsFollowTheCaps) {
    const UINT all = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE |
                     D3DPRESENT_INTERVAL_TWO | D3DPRESENT_INTERVAL_THREE | D3DPRESENT_INTERVAL_FOUR;
    const struct {
        const char* name;
        DWORD devCaps;
        UINT intervals;
        std::vector<int32_t> vertexProcessing;
        std::vector<UINT> fullscreenIntervals;
        std::vector<UINT> windowedIntervals;
    } cases[] = {
        {"no hardware T&L, no interval caps",
         0,
         0,
         {0},
         {D3DPRESENT_INTERVAL_DEFAULT},
         {D3DPRESENT_INTERVAL_DEFAULT}},
        {"hardware T&L, every interval",
         D3DDEVCAPS_HWTRANSFORMANDLIGHT,
         all,
         {2, 1, 0},
         {D3DPRESENT_INTERVAL_IMMEDIATE, D3DPRESENT_INTERVAL_DEFAULT, D3DPRESENT_INTERVAL_ONE,
          D3DPRESENT_INTERVAL_TWO, D3DPRESENT_INTERVAL_THREE, D3DPRESENT_INTERVAL_FOUR},
         {D3DPRESENT_INTERVAL_IMMEDIATE, D3DPRESENT_INTERVAL_DEFAULT, D3DPRESENT_INTERVAL_ONE}},
        {"pure device",
         D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE,
         D3DPRESENT_INTERVAL_TWO,
         {3, 2, 1, 0},
         {D3DPRESENT_INTERVAL_DEFAULT, D3DPRESENT_INTERVAL_TWO},
         {D3DPRESENT_INTERVAL_DEFAULT}},
        {"pure without hardware T&L",
         D3DDEVCAPS_PUREDEVICE,
         D3DPRESENT_INTERVAL_ONE,
         {0},
         {D3DPRESENT_INTERVAL_DEFAULT, D3DPRESENT_INTERVAL_ONE},
         {D3DPRESENT_INTERVAL_DEFAULT, D3DPRESENT_INTERVAL_ONE}},
    };
    for (const auto& c : cases) {
        d3d.deviceCaps[D3DDEVTYPE_HAL].DevCaps = c.devCaps;
        d3d.deviceCaps[D3DDEVTYPE_HAL].PresentationIntervals = c.intervals;
        DeviceInfo* device = EnumerateFirstDevice();
        ASSERT_NE(device, nullptr) << c.name;
        DeviceCombo* fullscreen = FindCombo(device, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, false);
        DeviceCombo* windowed = FindCombo(device, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, true);
        ASSERT_TRUE(fullscreen != nullptr && windowed != nullptr) << c.name;
        EXPECT_EQ(FromFirst(fullscreen->vertexProcessingTypes), c.vertexProcessing) << c.name;
        EXPECT_EQ(FromFirst(fullscreen->presentIntervals), c.fullscreenIntervals) << c.name;
        EXPECT_EQ(FromFirst(windowed->presentIntervals), c.windowedIntervals) << c.name;
    }
}

TEST_F(DeviceEnumerationTest, DropsCombosDevicesAndAdaptersWithNothingUsable) {
    // No depth format matches a 16-bit back buffer: the R5G6B5 combos go, the rest stay.
    d3d.depthMatches = [](D3DFORMAT backBuffer, D3DFORMAT) { return FormatBits(backBuffer) == 32; };
    // A reference device with the same formats is kept after the HAL one.
    d3d.deviceCaps[D3DDEVTYPE_REF] = D3DCAPS9{};
    d3d.deviceCaps[D3DDEVTYPE_REF].DeviceType = D3DDEVTYPE_REF;
    ASSERT_TRUE(enumeration.Enumerate());
    AdapterInfo* adapter = enumeration.Adapters().first()->element;
    std::vector<D3DDEVTYPE> types;
    for (DeviceInfo* device : FromFirst(adapter->devices)) {
        types.push_back(device->deviceType);
        for (DeviceCombo* combo : FromFirst(device->combos)) {
            EXPECT_EQ(combo->adapterFormat, D3DFMT_X8R8G8B8) << ComboText(combo);
        }
    }
    EXPECT_EQ(types, (std::vector<D3DDEVTYPE>{D3DDEVTYPE_HAL, D3DDEVTYPE_REF}));

    // No multisample type at all: no combos, so no devices, so no adapter; still true.
    d3d.multiSampleLevels.clear();
    EXPECT_TRUE(enumeration.Enumerate());
    EXPECT_EQ(enumeration.Adapters().count(), 0);
    DeviceSettings request = Request(false, 0);
    EXPECT_FALSE(enumeration.FindBestSettings(request));
}

TEST_F(DeviceEnumerationTest, ConflictsAreRecordedButNotConsulted) {
    d3d.multiSampleLevels = {{D3DMULTISAMPLE_NONE, 1}, {D3DMULTISAMPLE_4_SAMPLES, 2}};
    d3d.multiSampleRefusers = {D3DFMT_D24S8};
    DeviceInfo* device = EnumerateFirstDevice();
    ASSERT_NE(device, nullptr);
    DeviceCombo* combo = FindCombo(device, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, false);
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->conflicts.count(), 1);
    EXPECT_EQ(combo->conflicts.first()->element.depthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(combo->conflicts.first()->element.multiSampleType, D3DMULTISAMPLE_4_SAMPLES);

    DeviceSettings request = Request(false, kMatchMultiSample);
    request.multiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    request.multiSampleQuality = 1;
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(request.depthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(request.multiSampleType, D3DMULTISAMPLE_4_SAMPLES);
    EXPECT_EQ(request.multiSampleQuality, 1u);
}

TEST_F(DeviceEnumerationTest, AnEmptyRequestGetsTheDesktopModeAndTheDefaults) {
    d3d.deviceCaps[D3DDEVTYPE_HAL].DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE;
    d3d.deviceCaps[D3DDEVTYPE_HAL].MaxPointSize = 64.0f;
    ASSERT_TRUE(enumeration.Enumerate());
    for (bool windowed : {false, true}) {
        DeviceSettings request = Request(windowed, 0);
        request.presentInterval = D3DPRESENT_INTERVAL_ONE;  // not flagged: ignored
        request.multiSampleType = D3DMULTISAMPLE_4_SAMPLES;
        request.multiSampleQuality = 3;
        ASSERT_TRUE(enumeration.FindBestSettings(request)) << windowed;
        EXPECT_EQ(request.adapter, 0u);
        EXPECT_EQ(request.deviceType, D3DDEVTYPE_HAL);
        EXPECT_EQ(request.caps.MaxPointSize, 64.0f) << "the device's caps are copied";
        EXPECT_EQ(request.backBufferFormat, D3DFMT_X8R8G8B8)
            << "back buffer = adapter format on the desktop";
        EXPECT_EQ(ModeText(request.displayMode), "1024x768@60 X8R8G8B8");
        EXPECT_EQ(request.depthStencilFormat, D3DFMT_D24S8);
        EXPECT_EQ(request.multiSampleType, D3DMULTISAMPLE_NONE);
        EXPECT_EQ(request.multiSampleQuality, 0u);
        EXPECT_EQ(request.vertexProcessing, kHardwareVertexProcessing)
            << "never pure unless requested";
        EXPECT_EQ(request.presentInterval, static_cast<UINT>(D3DPRESENT_INTERVAL_IMMEDIATE));
    }
}

TEST_F(DeviceEnumerationTest, BackBufferBitsPreferTheRequestedFormat) {
    ASSERT_TRUE(enumeration.Enumerate());
    const struct {
        D3DFORMAT requested;
        D3DFORMAT expected;
    } cases[] = {
        {D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8}, {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8},
        {D3DFMT_R5G6B5, D3DFMT_R5G6B5},     {D3DFMT_X1R5G5B5, D3DFMT_X1R5G5B5},
        {D3DFMT_A1R5G5B5, D3DFMT_R5G6B5},  // same bits, same as adapter
    };
    for (const auto& c : cases) {
        DeviceSettings request = Request(false, kMatchBackBufferBits | kMatchSize);
        request.backBufferFormat = c.requested;
        request.displayMode.Width = 800;
        request.displayMode.Height = 600;
        ASSERT_TRUE(enumeration.FindBestSettings(request)) << FormatName(c.requested);
        EXPECT_EQ(request.backBufferFormat, c.expected) << FormatName(c.requested);
        EXPECT_EQ(FormatBits(request.displayMode.Format), FormatBits(c.expected))
            << FormatName(c.requested);
    }
}

TEST_F(DeviceEnumerationTest, SizeAndRefreshRequestsPickAmongTheCombosModes) {
    d3d.adapters[0].modes = {{800, 600, 60, D3DFMT_X8R8G8B8},  {800, 600, 85, D3DFMT_X8R8G8B8},
                             {800, 600, 75, D3DFMT_X8R8G8B8},  {800, 600, 100, D3DFMT_R5G6B5},
                             {1024, 768, 60, D3DFMT_X8R8G8B8}, {1024, 768, 60, D3DFMT_R5G6B5}};
    ASSERT_TRUE(enumeration.Enumerate());
    const struct {
        const char* name;
        int32_t flags;
        UINT refresh;
        D3DFORMAT backBuffer;
        const char* expected;  // null: no mode
    } cases[] = {
        {"800x600: highest refresh of the combo's format", kMatchSize, 0, D3DFMT_UNKNOWN,
         "800x600@85 X8R8G8B8"},
        {"800x600 at 75", kMatchSize | kMatchRefreshRate, 75, D3DFMT_UNKNOWN,
         "800x600@75 X8R8G8B8"},
        {"800x600 at 100 exists only in 16 bits", kMatchSize | kMatchRefreshRate, 100,
         D3DFMT_UNKNOWN, nullptr},
        {"800x600 in 16 bits", kMatchSize | kMatchBackBufferBits, 0, D3DFMT_R5G6B5,
         "800x600@100 R5G6B5"},
        {"refresh without size must be the desktop's", kMatchRefreshRate, 85, D3DFMT_UNKNOWN,
         nullptr},
        {"the desktop's refresh", kMatchRefreshRate, 60, D3DFMT_UNKNOWN, "1024x768@60 X8R8G8B8"},
    };
    for (const auto& c : cases) {
        DeviceSettings request = Request(false, c.flags);
        request.displayMode = {800, 600, c.refresh, D3DFMT_UNKNOWN};
        request.backBufferFormat = c.backBuffer;
        const bool found = enumeration.FindBestSettings(request);
        EXPECT_EQ(found, c.expected != nullptr) << c.name;
        if (found && c.expected != nullptr) {
            EXPECT_EQ(ModeText(request.displayMode), c.expected) << c.name;
        }
    }
}

TEST_F(DeviceEnumerationTest, DepthFormatForSixteenBitBackBuffers) {
    const struct {
        std::vector<D3DFORMAT> offered;
        D3DFORMAT expected;  // UNKNOWN: the search fails
    } cases[] = {
        {{D3DFMT_D16, D3DFMT_D15S1, D3DFMT_D24S8}, D3DFMT_D16},
        {{D3DFMT_D15S1, D3DFMT_D24S8}, D3DFMT_D15S1},
        {{D3DFMT_D24X8, D3DFMT_D24S8}, D3DFMT_UNKNOWN},
    };
    for (const auto& c : cases) {
        d3d.depthFormats = c.offered;
        ASSERT_TRUE(enumeration.Enumerate());
        DeviceSettings request = Request(false, kMatchBackBufferBits | kMatchSize);
        request.backBufferFormat = D3DFMT_R5G6B5;
        request.displayMode = {800, 600, 0, D3DFMT_UNKNOWN};
        EXPECT_EQ(enumeration.FindBestSettings(request), c.expected != D3DFMT_UNKNOWN)
            << FormatName(c.expected);
        if (c.expected != D3DFMT_UNKNOWN) {
            EXPECT_EQ(request.depthStencilFormat, c.expected);
        }
    }
}

TEST_F(DeviceEnumerationTest, DepthFormatForThirtyTwoBitsDependsOnTheListCursor) {
    ASSERT_TRUE(enumeration.Enumerate());
    DeviceSettings request = Request(false, 0);
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(request.depthStencilFormat, D3DFMT_D24S8)
        << "the first walk starts at the last listed format";

    // A kept request moves the cursor to its format ...
    request = Request(false, kMatchDepthStencil);
    request.depthStencilFormat = D3DFMT_D24X8;
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(request.depthStencilFormat, D3DFMT_D24X8);
    // ... so the same unflagged request now answers differently.
    request = Request(false, 0);
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(request.depthStencilFormat, D3DFMT_D24X8);

    // D32 wins whenever it is listed.
    d3d.depthFormats = {D3DFMT_D16, D3DFMT_D32, D3DFMT_D24S8};
    ASSERT_TRUE(enumeration.Enumerate());
    request = Request(false, 0);
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(request.depthStencilFormat, D3DFMT_D32);
}

TEST_F(DeviceEnumerationTest, KeptValuesAndStrictFailures) {
    d3d.multiSampleLevels = {{D3DMULTISAMPLE_NONE, 1}, {D3DMULTISAMPLE_4_SAMPLES, 3}};
    ASSERT_TRUE(enumeration.Enumerate());
    struct Case {
        const char* name;
        bool windowed;
        int32_t flags;
        D3DFORMAT depth;
        D3DMULTISAMPLE_TYPE multiSample;
        UINT quality;
        int32_t vertexProcessing;
        UINT interval;
        bool found;
        // Expected results when found.
        D3DFORMAT depthOut = D3DFMT_UNKNOWN;
        D3DMULTISAMPLE_TYPE multiSampleOut = D3DMULTISAMPLE_NONE;
        UINT qualityOut = 0;
        int32_t vertexProcessingOut = 0;
        UINT intervalOut = 0;
    };
    const UINT kImm = D3DPRESENT_INTERVAL_IMMEDIATE;
    const UINT kOne = D3DPRESENT_INTERVAL_ONE;
    const UINT kTwo = D3DPRESENT_INTERVAL_TWO;
    const auto kNone = D3DMULTISAMPLE_NONE;
    const auto k4 = D3DMULTISAMPLE_4_SAMPLES;
    const auto k8 = D3DMULTISAMPLE_8_SAMPLES;
    const Case cases[] = {
        {"listed depth stays", false, kMatchDepthStencil, D3DFMT_D16, kNone, 0, 0, 0, true,
         D3DFMT_D16, kNone, 0, 2, kImm},
        {"unlisted depth falls back", false, kMatchDepthStencil, D3DFMT_D32, kNone, 0, 0, 0, true,
         D3DFMT_D24S8, kNone, 0, 2, kImm},
        {"unlisted depth, strict", false, kMatchDepthStencil | kMatchStrict, D3DFMT_D32, kNone, 0,
         0, 0, false},
        {"quality clamped", false, kMatchMultiSample, D3DFMT_UNKNOWN, k4, 7, 0, 0, true,
         D3DFMT_D24S8, k4, 2, 2, kImm},
        {"quality too high, strict", false, kMatchMultiSample | kMatchStrict, D3DFMT_UNKNOWN, k4, 3,
         0, 0, false},
        {"quality within, strict", false, kMatchMultiSample | kMatchStrict, D3DFMT_UNKNOWN, k4, 2,
         0, 0, true, D3DFMT_D24S8, k4, 2, 2, kImm},
        {"unoffered type passes through, even strict", false, kMatchMultiSample | kMatchStrict,
         D3DFMT_UNKNOWN, k8, 5, 0, 0, true, D3DFMT_D24S8, k8, 5, 2, kImm},
        {"listed vertex processing stays", false, kMatchVertexProcessing, D3DFMT_UNKNOWN, kNone, 0,
         1, 0, true, D3DFMT_D24S8, kNone, 0, 1, kImm},
        {"unlisted vertex processing stays", false, kMatchVertexProcessing, D3DFMT_UNKNOWN, kNone,
         0, 3, 0, true, D3DFMT_D24S8, kNone, 0, 3, kImm},
        {"unlisted vertex processing, strict", false, kMatchVertexProcessing | kMatchStrict,
         D3DFMT_UNKNOWN, kNone, 0, 3, 0, false},
        {"listed interval stays", false, kMatchPresentInterval, D3DFMT_UNKNOWN, kNone, 0, 0, kOne,
         true, D3DFMT_D24S8, kNone, 0, 2, kOne},
        {"windowed has no TWO: immediate", true, kMatchPresentInterval, D3DFMT_UNKNOWN, kNone, 0, 0,
         kTwo, true, D3DFMT_D24S8, kNone, 0, 2, kImm},
        {"windowed has no TWO, strict", true, kMatchPresentInterval | kMatchStrict, D3DFMT_UNKNOWN,
         kNone, 0, 0, kTwo, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(enumeration.Enumerate());  // fresh cursors for every row
        DeviceSettings request = Request(c.windowed, c.flags);
        request.depthStencilFormat = c.depth;
        request.multiSampleType = c.multiSample;
        request.multiSampleQuality = c.quality;
        request.vertexProcessing = c.vertexProcessing;
        request.presentInterval = c.interval;
        ASSERT_EQ(enumeration.FindBestSettings(request), c.found) << c.name;
        if (!c.found) continue;
        EXPECT_EQ(request.depthStencilFormat, c.depthOut) << c.name;
        EXPECT_EQ(request.multiSampleType, c.multiSampleOut) << c.name;
        EXPECT_EQ(request.multiSampleQuality, c.qualityOut) << c.name;
        EXPECT_EQ(request.vertexProcessing, c.vertexProcessingOut) << c.name;
        EXPECT_EQ(request.presentInterval, c.intervalOut) << c.name;
    }
}

TEST_F(DeviceEnumerationTest, SoftwareVertexProcessingWithoutHardwareTransformAndLighting) {
    d3d.deviceCaps[D3DDEVTYPE_HAL].DevCaps = 0;
    ASSERT_TRUE(enumeration.Enumerate());
    DeviceSettings request = Request(false, 0);
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(request.vertexProcessing, kSoftwareVertexProcessing);
}

TEST_F(DeviceEnumerationTest, WindowedCombosNeedTheDesktopFormat) {
    d3d.windowedOnDesktopFormatOnly = false;  // the enumeration must filter by itself
    ASSERT_TRUE(enumeration.Enumerate());
    ASSERT_NE(FindCombo(enumeration.Adapters().first()->element->devices.first()->element,
                        D3DFMT_R5G6B5, D3DFMT_R5G6B5, true),
              nullptr);
    DeviceSettings request = Request(true, kMatchBackBufferBits);
    request.backBufferFormat = D3DFMT_R5G6B5;
    EXPECT_FALSE(enumeration.FindBestSettings(request)) << "16-bit windowed on a 32-bit desktop";
    request = Request(false, kMatchBackBufferBits);
    request.backBufferFormat = D3DFMT_R5G6B5;
    EXPECT_TRUE(enumeration.FindBestSettings(request)) << "full screen may switch the format";

    // On a 16-bit desktop a windowed device takes 16 bits and the desktop mode, whatever size
    // is asked for.
    d3d.adapters[0].desktop = {800, 600, 60, D3DFMT_R5G6B5};
    ASSERT_TRUE(enumeration.Enumerate());
    request = Request(true, kMatchSize);
    request.displayMode = {640, 480, 0, D3DFMT_UNKNOWN};
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(request.backBufferFormat, D3DFMT_R5G6B5);
    EXPECT_EQ(ModeText(request.displayMode), "800x600@60 R5G6B5");
    EXPECT_EQ(request.depthStencilFormat, D3DFMT_D16);
}

TEST_F(DeviceEnumerationTest, DesktopFormatThatNoComboUses) {
    // The desktop's mode is listed only in X1R5G5B5, on which no back buffer works.
    d3d.adapters[0].desktop = {1024, 768, 70, D3DFMT_X1R5G5B5};
    d3d.adapters[0].modes.push_back({1024, 768, 70, D3DFMT_X1R5G5B5});
    ASSERT_TRUE(enumeration.Enumerate());
    DeviceSettings request = Request(false, 0);
    EXPECT_FALSE(enumeration.FindBestSettings(request)) << "no combo mode equals the desktop's";
    request = Request(false, kMatchSize);
    request.displayMode = {1024, 768, 0, D3DFMT_UNKNOWN};
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(ModeText(request.displayMode), "1024x768@60 R5G6B5")
        << "no exact combo: the last 'same' one of the walk (R5G6B5 after X8R8G8B8) wins";
    request = Request(true, 0);
    EXPECT_FALSE(enumeration.FindBestSettings(request)) << "windowed needs the desktop's format";
}

TEST_F(DeviceEnumerationTest, AdapterAndDeviceTypeFlags) {
    FakeAdapter second;
    second.description = "Second";
    second.modes = {{1280, 1024, 75, D3DFMT_X8R8G8B8}};
    d3d.adapters.push_back(second);
    d3d.deviceCaps[D3DDEVTYPE_REF] = D3DCAPS9{};
    d3d.deviceCaps[D3DDEVTYPE_REF].DeviceType = D3DDEVTYPE_REF;
    ASSERT_TRUE(enumeration.Enumerate());
    ASSERT_EQ(enumeration.Adapters().count(), 2);

    DeviceSettings request = Request(false, kMatchAdapter | kMatchSize);
    request.adapter = 1;
    request.displayMode = {1280, 1024, 0, D3DFMT_UNKNOWN};
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(request.adapter, 1u);
    EXPECT_EQ(request.caps.AdapterOrdinal, 1u);
    EXPECT_EQ(ModeText(request.displayMode), "1280x1024@75 X8R8G8B8");

    request = Request(false, kMatchAdapter);
    request.adapter = 0;
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(request.deviceType, D3DDEVTYPE_HAL) << "without 0x200 only HAL devices count";

    request = Request(false, kMatchAdapter | kMatchDeviceType);
    request.adapter = 0;
    request.deviceType = D3DDEVTYPE_REF;
    ASSERT_TRUE(enumeration.FindBestSettings(request));
    EXPECT_EQ(request.deviceType, D3DDEVTYPE_REF);

    request = Request(false, kMatchDeviceType);
    request.deviceType = D3DDEVTYPE_SW;
    EXPECT_FALSE(enumeration.FindBestSettings(request));
    request = Request(false, kMatchAdapter);
    request.adapter = 2;
    EXPECT_FALSE(enumeration.FindBestSettings(request));
}

TEST(DescribeSettings, WritesTheSettingsToTheDebugTrace) {
    DeviceSettings settings;
    settings.windowed = false;
    settings.displayMode = {800, 600, 85, D3DFMT_X8R8G8B8};
    settings.backBufferFormat = D3DFMT_X8R8G8B8;
    settings.depthStencilFormat = D3DFMT_D24S8;
    settings.presentInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    settings.vertexProcessing = kHardwareVertexProcessing;
    settings.multiSampleType = D3DMULTISAMPLE_NONE;
    settings.multiSampleQuality = 0;
    rh::testing::LogCapture capture(rh::LogLevel::Trace);
    DescribeSettings(settings);
    settings.windowed = true;
    settings.multiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    settings.multiSampleQuality = 2;
    settings.vertexProcessing = 7;
    DescribeSettings(settings);
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{
                                   "----------------------",
                                   "Fullscreen 800x600X8R8G8B8, D24S8Present Interval: D3DPRESENT_INTERVAL_IMMEDIATE",
                                   "Vertex Proccessing: HARDWARE_VP",
                                   "MultiSample: D3DMULTISAMPLE_NONE , Quality:0",
                                   "----------------------",
                                   "----------------------",
                                   "Windowed 800x600X8R8G8B8, D24S8Present Interval: D3DPRESENT_INTERVAL_IMMEDIATE",
                                   "Vertex Proccessing: Unknown VertexProcessingType",
                                   "MultiSample: D3DMULTISAMPLE_4_SAMPLES , Quality:2",
                                   "----------------------",
                               }));
}

}  // namespace
