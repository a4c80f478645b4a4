// The light slot manager on a counting device: which light records and enable switches reach
// the device when light sets are applied one after another, index reuse once the pool of 101
// indices is exhausted, and lights changed after they were sent.
#include "render/light.h"

#include "render/app_framework.h"
#include "render/state_cache.h"
#include "tests/render/support/fake_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using rh::test::DeviceCall;
using rh::test::FakeDevice;

// Enables at most `limit` lights at once, as the layer does with eight: one more is refused
// and stays off.
class LimitedLightDevice : public FakeDevice {
public:
    HRESULT STDMETHODCALLTYPE LightEnable(DWORD index, BOOL enable) override {
        int on = 0;
        for (const auto& [i, e] : lightEnabled) on += (e && i != index) ? 1 : 0;
        if (enable && on >= limit) {
            FakeDevice::LightEnable(index, FALSE);
            return D3DERR_INVALIDCALL;
        }
        return FakeDevice::LightEnable(index, enable);
    }

    int limit = 1000;
};

class LightSlotsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InvalidateStateCache();
        g_device = &device;
    }
    void TearDown() override {
        g_device = nullptr;
        InvalidateStateCache();
    }

    int LightCalls() const { return device.Calls(DeviceCall::SetLight) + device.Calls(DeviceCall::LightEnable); }

    // Whether the device holds exactly the light's record at its index, and has it switched on.
    ::testing::AssertionResult OnDevice(const Light& light) {
        const DWORD index = static_cast<DWORD>(light.deviceIndex());
        if (light.deviceIndex() < 0 || device.lights.count(index) == 0) {
            return ::testing::AssertionFailure() << light.name().Text() << " has no record on the device";
        }
        if (std::memcmp(&device.lights[index], &light.record(), sizeof(D3DLIGHT9)) != 0) {
            return ::testing::AssertionFailure() << light.name().Text() << ": the device holds another record at "
                                                 << index;
        }
        if (!device.lightEnabled[index]) {
            return ::testing::AssertionFailure() << light.name().Text() << " is off on the device";
        }
        return ::testing::AssertionSuccess();
    }

    LimitedLightDevice device;
    LightSlotManager manager;
};

SharedRef<Light> MakeLight(const std::string& name, int kind = 0) {
    Light* light = kind == 0 ? static_cast<Light*>(new PointLight)
                             : kind == 1 ? static_cast<Light*>(new DirLight) : static_cast<Light*>(new SpotLight);
    light->SetName(name.c_str());
    light->SetDiffuse(ArgbColor(1.0f, 0.5f, 0.25f, 0.125f));
    light->SetRange(100.0f);
    return SharedRef<Light>(light);
}

std::vector<SharedRef<Light>> MakeLights(int count, const char* prefix) {
    std::vector<SharedRef<Light>> lights;
    for (int i = 0; i < count; ++i) lights.push_back(MakeLight(prefix + std::to_string(i)));
    return lights;
}

// The lights in this order, the set's cursor on the first.
LightSet SetOf(const std::vector<SharedRef<Light>>& lights, ArgbColor ambient = ArgbColor(1.0f, 1.0f, 1.0f, 1.0f)) {
    LightSet set;
    set.ambient = ambient;
    for (const SharedRef<Light>& light : lights) set.Add(light);
    if (set.lights.count() > 0) set.lights.SetCursor(set.lights.first());
    return set;
}

std::vector<SharedRef<Light>> Slice(const std::vector<SharedRef<Light>>& lights, size_t from, size_t to) {
    return std::vector<SharedRef<Light>>(lights.begin() + static_cast<std::ptrdiff_t>(from),
                                         lights.begin() + static_cast<std::ptrdiff_t>(to));
}

TEST_F(LightSlotsTest, TheSameSetTwiceMakesNoDeviceCalls) {
    const std::vector<SharedRef<Light>> lights = {MakeLight("point", 0), MakeLight("dir", 1), MakeLight("spot", 2)};
    const ArgbColor ambient(1.0f, 0.5f, 0.25f, 0.0f);
    const LightSet set = SetOf(lights, ambient);

    ApplyLightSet(manager, set);
    EXPECT_EQ(device.renderStates[D3DRS_AMBIENT], ambient.ToARGB());
    EXPECT_EQ(device.Calls(DeviceCall::SetLight), 3);
    EXPECT_EQ(device.Calls(DeviceCall::LightEnable), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lights[i].Get()->deviceIndex(), i) << "indices go lowest first in the set's order";
        EXPECT_TRUE(lights[i].Get()->enabled());
        EXPECT_TRUE(OnDevice(*lights[i].Get()));
    }

    device.ResetCounts();
    ApplyLightSet(manager, set);
    EXPECT_EQ(device.TotalCalls(), 0) << "nothing changed: not even the ambient reaches the device";

    // A copy of the set names the same lights.
    const LightSet copy(set);
    ApplyLightSet(manager, copy);
    EXPECT_EQ(device.TotalCalls(), 0);
}

TEST_F(LightSlotsTest, LightsLeavingTheSetAreParkedAndComeBackWithoutTheirRecord) {
    const std::vector<SharedRef<Light>> l = MakeLights(3, "L");  // A, B, C
    ApplyLightSet(manager, SetOf({l[0], l[1]}));

    device.ResetCounts();
    ApplyLightSet(manager, SetOf({l[1], l[2]}));
    EXPECT_EQ(device.Calls(DeviceCall::SetLight), 1) << "only the new light's record";
    EXPECT_EQ(device.Calls(DeviceCall::LightEnable), 2) << "the new light on, the leaving one off";
    EXPECT_FALSE(l[0].Get()->enabled());
    EXPECT_EQ(l[0].Get()->deviceIndex(), 0) << "a parked light keeps its index";
    EXPECT_FALSE(device.lightEnabled[0]);
    EXPECT_EQ(l[2].Get()->deviceIndex(), 2);
    EXPECT_TRUE(OnDevice(*l[2].Get()));
    EXPECT_EQ(manager.parkedLights().count(), 1);

    device.ResetCounts();
    ApplyLightSet(manager, SetOf({l[0], l[2]}));
    EXPECT_EQ(device.Calls(DeviceCall::SetLight), 0) << "the device still holds the parked light's record";
    EXPECT_EQ(device.Calls(DeviceCall::LightEnable), 2);
    EXPECT_TRUE(OnDevice(*l[0].Get()));
    EXPECT_FALSE(device.lightEnabled[1]);
    EXPECT_EQ(manager.enabledLights().count(), 2);
    EXPECT_EQ(manager.parkedLights().count(), 1);
}

// The pool holds 101 indices. Once they are all given out, a new light takes the index of the
// light parked longest ago, which loses its slot: its next enabling sends its record again
// under another index.
TEST_F(LightSlotsTest, AnExhaustedPoolHandsOverTheLongestParkedIndex) {
    const std::vector<SharedRef<Light>> l = MakeLights(101, "L");
    ApplyLightSet(manager, SetOf(l));
    EXPECT_EQ(l[100].Get()->deviceIndex(), 100);
    ApplyLightSet(manager, SetOf(Slice(l, 1, 101)));  // parks L0
    ApplyLightSet(manager, SetOf(Slice(l, 2, 101)));  // parks L1, now the newest parked
    ASSERT_EQ(manager.parkedLights().count(), 2);

    const SharedRef<Light> newcomer = MakeLight("N");
    std::vector<SharedRef<Light>> withNewcomer = Slice(l, 2, 101);
    withNewcomer.push_back(newcomer);
    device.ResetCounts();
    ApplyLightSet(manager, SetOf(withNewcomer));
    EXPECT_EQ(newcomer.Get()->deviceIndex(), 0) << "L0 was parked before L1";
    EXPECT_EQ(device.Calls(DeviceCall::SetLight), 1);
    EXPECT_TRUE(OnDevice(*newcomer.Get()));
    EXPECT_EQ(manager.parkedLights().count(), 1) << "L0 holds no slot any more";
    EXPECT_EQ(l[0].Get()->deviceIndex(), 0) << "its own field keeps the old number";

    // L0 comes back as a new light: it takes L1's index and is sent again.
    device.ResetCounts();
    ApplyLightSet(manager, SetOf({l[0]}));
    EXPECT_EQ(l[0].Get()->deviceIndex(), 1);
    EXPECT_EQ(device.Calls(DeviceCall::SetLight), 1);
    EXPECT_TRUE(OnDevice(*l[0].Get()));
    EXPECT_EQ(manager.enabledLights().count(), 1);
    EXPECT_EQ(manager.parkedLights().count(), 100);
}

// With every index held by a light that is still enabled, a new light gets none: it stays off
// and the lights that hold indices are left alone.
TEST_F(LightSlotsTest, AnExhaustedPoolWithNothingParkedLeavesTheLightOff) {
    std::vector<SharedRef<Light>> l = MakeLights(102, "L");
    ApplyLightSet(manager, SetOf(l));
    const Light& last = *l[101].Get();
    EXPECT_FALSE(last.enabled());
    EXPECT_EQ(last.deviceIndex(), -1);
    EXPECT_EQ(device.Calls(DeviceCall::SetLight), 101);
    EXPECT_EQ(device.Calls(DeviceCall::LightEnable), 101);
    EXPECT_EQ(manager.enabledLights().count(), 101);
    for (int i = 0; i < 101; ++i) EXPECT_EQ(l[i].Get()->deviceIndex(), i);

    device.ResetCounts();
    ApplyLightSet(manager, SetOf(l));
    EXPECT_EQ(LightCalls(), 0) << "the lights with indices are unchanged; the last still has none";

    // Once the others are parked the light gets the longest-parked index.
    ApplyLightSet(manager, SetOf({}));
    ApplyLightSet(manager, SetOf({l[101]}));
    EXPECT_TRUE(last.enabled());
    EXPECT_TRUE(OnDevice(last));
}

// A light changed after it was sent would keep its old record on the device; every setter
// makes the manager send it again, whether the light stayed enabled or was parked meanwhile.
TEST_F(LightSlotsTest, AChangedLightIsSentAgain) {
    struct Change {
        const char* what;
        std::function<void(Light&)> apply;
    };
    const Change changes[] = {
        {"diffuse", [](Light& l) { l.SetDiffuse(ArgbColor(1.0f, 0.0f, 1.0f, 0.0f)); }},
        {"specular", [](Light& l) { l.SetSpecular(ArgbColor(1.0f, 0.0f, 1.0f, 0.0f)); }},
        {"range", [](Light& l) { l.SetRange(7.0f); }},
        {"position", [](Light& l) { l.SetPosition(Vec3{1, 2, 3}); }},
        {"direction", [](Light& l) { l.SetDirection(Vec3{0, 1, 0}); }},
        {"attenuation", [](Light& l) { l.SetAttenuation(0.0f, 1.0f, 0.0f); }},
        {"inner cone", [](Light& l) { l.SetInnerCone(0.3f); }},
        {"outer cone", [](Light& l) { l.SetOuterCone(0.6f); }},
    };
    for (const bool parkedMeanwhile : {false, true}) {
        for (const Change& change : changes) {
            SCOPED_TRACE(std::string(change.what) + (parkedMeanwhile ? ", while parked" : ", while enabled"));
            LightSlotManager slots;
            device.lights.clear();
            device.lightEnabled.clear();
            const SharedRef<Light> a = MakeLight("A", 2);
            const SharedRef<Light> b = MakeLight("B", 0);
            const LightSet both = SetOf({a, b});
            ApplyLightSet(slots, both);
            if (parkedMeanwhile) ApplyLightSet(slots, SetOf({b}));

            change.apply(*a.Get());
            device.ResetCounts();
            ApplyLightSet(slots, both);
            EXPECT_EQ(device.Calls(DeviceCall::SetLight), 1);
            EXPECT_EQ(device.Calls(DeviceCall::LightEnable), parkedMeanwhile ? 1 : 0);
            EXPECT_TRUE(OnDevice(*a.Get()));
            EXPECT_TRUE(OnDevice(*b.Get()));

            device.ResetCounts();
            ApplyLightSet(slots, both);
            EXPECT_EQ(LightCalls(), 0) << "sent once, not again";
        }
    }
}

// Eight lights replaced by eight others on a device that enables eight at once: the old ones
// must be switched off first, or the new ones are refused.
TEST_F(LightSlotsTest, ASwitchToAnotherFullSetLeavesEveryNewLightOn) {
    device.limit = 8;
    const std::vector<SharedRef<Light>> first = MakeLights(8, "F");
    const std::vector<SharedRef<Light>> second = MakeLights(8, "S");
    ApplyLightSet(manager, SetOf(first));
    ApplyLightSet(manager, SetOf(second));
    for (const SharedRef<Light>& light : second) EXPECT_TRUE(OnDevice(*light.Get()));
    for (const SharedRef<Light>& light : first) {
        EXPECT_FALSE(device.lightEnabled[static_cast<DWORD>(light.Get()->deviceIndex())]) << light.Get()->name().Text();
    }
    ApplyLightSet(manager, SetOf(first));
    for (const SharedRef<Light>& light : first) EXPECT_TRUE(OnDevice(*light.Get()));
}

// A reset device holds no lights. The framework invalidates the state cache after it; the
// manager must then send every light again instead of trusting the slots it handed out.
TEST_F(LightSlotsTest, AfterADeviceResetEveryLightIsSentAgain) {
    const std::vector<SharedRef<Light>> l = MakeLights(3, "L");
    ApplyLightSet(manager, SetOf(l));
    ApplyLightSet(manager, SetOf({l[1], l[2]}));  // parks L0

    device.lights.clear();  // what Reset does to the device's lights
    device.lightEnabled.clear();
    InvalidateStateCache();
    device.ResetCounts();
    ApplyLightSet(manager, SetOf({l[2], l[0]}));
    EXPECT_EQ(device.Calls(DeviceCall::SetLight), 2);
    EXPECT_EQ(device.Calls(DeviceCall::LightEnable), 2);
    EXPECT_EQ(l[2].Get()->deviceIndex(), 0) << "the pool starts again from 0";
    EXPECT_EQ(l[0].Get()->deviceIndex(), 1);
    EXPECT_TRUE(OnDevice(*l[2].Get()));
    EXPECT_TRUE(OnDevice(*l[0].Get()));
    EXPECT_FALSE(l[1].Get()->enabled());
    EXPECT_EQ(manager.parkedLights().count(), 0) << "nothing holds a slot on the reset device but the set";

    device.ResetCounts();
    ApplyLightSet(manager, SetOf({l[2], l[0]}));
    EXPECT_EQ(LightCalls(), 0);
}

TEST_F(LightSlotsTest, WithoutADeviceOnlyTheBookkeepingHappens) {
    g_device = nullptr;
    const std::vector<SharedRef<Light>> l = MakeLights(2, "L");
    ApplyLightSet(manager, SetOf(l));
    ApplyLightSet(manager, SetOf({l[1]}));
    EXPECT_EQ(device.TotalCalls(), 0);
    EXPECT_TRUE(l[1].Get()->enabled());
    EXPECT_FALSE(l[0].Get()->enabled());
    EXPECT_EQ(l[0].Get()->deviceIndex(), 0);
    EXPECT_EQ(manager.parkedLights().count(), 1);
}

}  // namespace
