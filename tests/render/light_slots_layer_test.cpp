// The light slots on the real layer, whose device enables at most eight lights at once and
// clears its lights on a reset: what the device holds after switching between full sets and
// after a reset, read back through GetLight and GetLightEnable.
#include "render/light.h"

#include "tests/render/support/layer_app.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using rh::test::LayerApp;

std::vector<SharedRef<Light>> MakeLights(int count, const char* prefix) {
    std::vector<SharedRef<Light>> lights;
    for (int i = 0; i < count; ++i) {
        auto* light = new PointLight;
        light->SetName((prefix + std::to_string(i)).c_str());
        light->SetDiffuse(ArgbColor(1.0f, 0.1f * static_cast<float>(i), 0.5f, 0.25f));
        light->SetPosition(Vec3{static_cast<float>(i), 2.0f, -3.0f});
        light->SetRange(50.0f);
        light->SetAttenuation(1.0f, 0.0f, 0.0f);
        lights.push_back(SharedRef<Light>(light));
    }
    return lights;
}

LightSet SetOf(const std::vector<SharedRef<Light>>& lights) {
    LightSet set;
    for (const SharedRef<Light>& light : lights) set.Add(light);
    return set;
}

// Whether the device holds the light's record at its index and has it on.
::testing::AssertionResult OnDevice(const Light& light) {
    const DWORD index = static_cast<DWORD>(light.deviceIndex());
    D3DLIGHT9 held{};
    if (light.deviceIndex() < 0 || g_device->GetLight(index, &held) != D3D_OK) {
        return ::testing::AssertionFailure() << light.name().Text() << " has no record on the device";
    }
    if (std::memcmp(&held, &light.record(), sizeof(D3DLIGHT9)) != 0) {
        return ::testing::AssertionFailure() << light.name().Text() << ": another record at " << index;
    }
    BOOL on = FALSE;
    if (g_device->GetLightEnable(index, &on) != D3D_OK || on != TRUE) {
        return ::testing::AssertionFailure() << light.name().Text() << " is off at " << index;
    }
    return ::testing::AssertionSuccess();
}

TEST(LightSlotsLayerTest, FullSetsSwitchAndComeBackAfterAReset) {
    LayerApp app;
    ASSERT_TRUE(app.Open(64, 64));
    LightSlotManager manager;
    const std::vector<SharedRef<Light>> first = MakeLights(8, "F");
    const std::vector<SharedRef<Light>> second = MakeLights(8, "S");

    ApplyLightSet(manager, SetOf(first));
    for (const SharedRef<Light>& light : first) EXPECT_TRUE(OnDevice(*light.Get()));

    // Eight on, eight others to come: the device refuses a ninth, so the old ones go off first.
    ApplyLightSet(manager, SetOf(second));
    for (const SharedRef<Light>& light : second) EXPECT_TRUE(OnDevice(*light.Get()));
    for (const SharedRef<Light>& light : first) {
        BOOL on = TRUE;
        EXPECT_EQ(g_device->GetLightEnable(static_cast<DWORD>(light.Get()->deviceIndex()), &on), D3D_OK);
        EXPECT_EQ(on, FALSE) << light.Get()->name().Text();
    }

    ASSERT_TRUE(app.ResetNow());
    D3DLIGHT9 held{};
    EXPECT_EQ(g_device->GetLight(static_cast<DWORD>(second[0].Get()->deviceIndex()), &held), D3DERR_INVALIDCALL)
        << "a reset device holds no lights";
    ApplyLightSet(manager, SetOf(second));
    for (const SharedRef<Light>& light : second) EXPECT_TRUE(OnDevice(*light.Get()));
}

}  // namespace
