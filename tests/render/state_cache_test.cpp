// The render-state cache against a counting device: redundant sets never reach the device,
// invalidation and forcing do, and a refused value is not remembered.
#include "render/state_cache.h"

#include "render/app_framework.h"
#include "tests/render/support/fake_device.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace {

using rh::test::DeviceCall;
using rh::test::FakeDevice;

class StateCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        InvalidateStateCache();
        g_device = &device;
    }
    void TearDown() override {
        g_device = nullptr;
        InvalidateStateCache();
    }

    FakeDevice device;
};

IDirect3DBaseTexture9* FakeTexture(DWORD n) { return reinterpret_cast<IDirect3DBaseTexture9*>(uintptr_t{0x1000} * (n + 1)); }

D3DMATRIX MatrixOf(float v) {
    D3DMATRIX m;
    for (auto& row : m.m)
        for (float& f : row) f = v;
    return m;
}

D3DMATERIAL9 MaterialOf(float v) {
    D3DMATERIAL9 m;
    m.Diffuse = m.Ambient = m.Specular = m.Emissive = D3DCOLORVALUE{v, v, v, v};
    m.Power = v;
    return m;
}

// One row per setter: how to set value n through the cache, and which device call carries it.
struct Setter {
    std::string name;
    DeviceCall call;
    std::function<bool(DWORD)> set;
};

std::vector<Setter> AllSetters() {
    return {
        {"render state", DeviceCall::SetRenderState,
         [](DWORD v) { return StateCache::SetRenderState(D3DRS_ALPHAREF, v); }},
        {"another render state", DeviceCall::SetRenderState,
         [](DWORD v) { return StateCache::SetRenderState(D3DRS_FOGCOLOR, v); }},
        {"sampler state", DeviceCall::SetSamplerState,
         [](DWORD v) { return StateCache::SetSamplerState(7, D3DSAMP_MAXANISOTROPY, v); }},
        {"texture-stage state", DeviceCall::SetTextureStageState,
         [](DWORD v) { return StateCache::SetTextureStageState(3, D3DTSS_COLOROP, v); }},
        {"texture", DeviceCall::SetTexture, [](DWORD v) { return StateCache::SetTexture(5, FakeTexture(v)); }},
        {"transform", DeviceCall::SetTransform,
         [](DWORD v) {
             const D3DMATRIX m = MatrixOf(static_cast<float>(v));
             return StateCache::SetTransform(D3DTS_WORLDMATRIX(255), &m._11);
         }},
        {"material", DeviceCall::SetMaterial,
         [](DWORD v) {
             const D3DMATERIAL9 m = MaterialOf(static_cast<float>(v));
             return StateCache::SetMaterial(&m);
         }},
    };
}

TEST_F(StateCacheTest, EverySetterDropsRepeatsAndResendsAfterInvalidation) {
    for (const Setter& s : AllSetters()) {
        SCOPED_TRACE(s.name);
        device.ResetCounts();
        EXPECT_TRUE(s.set(1));
        EXPECT_TRUE(s.set(1));
        EXPECT_EQ(device.Calls(s.call), 1) << "the repeat reached the device";
        EXPECT_TRUE(s.set(2));
        EXPECT_EQ(device.Calls(s.call), 2) << "a new value must reach the device";
        InvalidateStateCache();
        EXPECT_TRUE(s.set(2));
        EXPECT_EQ(device.Calls(s.call), 3) << "after InvalidateStateCache the value must be sent again";
        EXPECT_EQ(device.TotalCalls(), 3) << "only the setter's own call is made";
    }
}

TEST_F(StateCacheTest, WithoutDeviceEverySetterFailsAndRemembersNothing) {
    for (const Setter& s : AllSetters()) {
        SCOPED_TRACE(s.name);
        device.ResetCounts();
        g_device = nullptr;
        EXPECT_FALSE(s.set(4));
        g_device = &device;
        EXPECT_TRUE(s.set(4));
        EXPECT_EQ(device.Calls(s.call), 1) << "the value set without a device must not count as sent";
    }
}

// The cache must not claim a value the device refused: the next set of it tries again.
TEST_F(StateCacheTest, RefusedValueIsForgotten) {
    for (const Setter& s : AllSetters()) {
        SCOPED_TRACE(s.name);
        device.ResetCounts();
        device.Answer(s.call, D3DERR_INVALIDCALL);
        EXPECT_FALSE(s.set(6));
        device.Answer(s.call, S_OK);
        EXPECT_TRUE(s.set(6));
        EXPECT_TRUE(s.set(6));
        EXPECT_EQ(device.Calls(s.call), 2);
    }
}

TEST_F(StateCacheTest, ForceRenderStateAlwaysCallsAndRefreshesTheCache) {
    EXPECT_TRUE(StateCache::SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE));
    EXPECT_TRUE(StateCache::ForceRenderState(D3DRS_ZENABLE, D3DZB_TRUE));
    EXPECT_TRUE(StateCache::ForceRenderState(D3DRS_ZENABLE, D3DZB_FALSE));
    EXPECT_EQ(device.Calls(DeviceCall::SetRenderState), 3);
    EXPECT_TRUE(StateCache::SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE));
    EXPECT_EQ(device.Calls(DeviceCall::SetRenderState), 3) << "the forced value is remembered";
    EXPECT_EQ(device.renderStates[D3DRS_ZENABLE], static_cast<DWORD>(D3DZB_FALSE));

    device.Answer(DeviceCall::SetRenderState, E_FAIL);
    EXPECT_FALSE(StateCache::ForceRenderState(D3DRS_ZENABLE, D3DZB_TRUE));
    device.Answer(DeviceCall::SetRenderState, S_OK);
    EXPECT_TRUE(StateCache::SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE));
    EXPECT_EQ(device.Calls(DeviceCall::SetRenderState), 5) << "a refused forced value is not remembered";
}

TEST_F(StateCacheTest, InvalidateTextureStatesForgetsOnlyTheTexturePart) {
    const D3DMATRIX view = MatrixOf(3.0f);
    const D3DMATERIAL9 material = MaterialOf(0.5f);
    auto setAll = [&] {
        StateCache::SetTexture(0, FakeTexture(1));
        StateCache::SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        StateCache::SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        StateCache::SetRenderState(D3DRS_LIGHTING, FALSE);
        StateCache::SetTransform(D3DTS_VIEW, &view._11);
        StateCache::SetMaterial(&material);
    };
    setAll();
    // Again and again, as after every effect draw; twice in a row forgets no less than once.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        device.ResetCounts();
        StateCache::InvalidateTextureStates();
        if (round == 2) StateCache::InvalidateTextureStates();
        setAll();
        EXPECT_EQ(device.Calls(DeviceCall::SetTexture), 1);
        EXPECT_EQ(device.Calls(DeviceCall::SetSamplerState), 1);
        EXPECT_EQ(device.Calls(DeviceCall::SetTextureStageState), 1);
        EXPECT_EQ(device.Calls(DeviceCall::SetRenderState), 0);
        EXPECT_EQ(device.Calls(DeviceCall::SetTransform), 0);
        EXPECT_EQ(device.Calls(DeviceCall::SetMaterial), 0);
    }
}

// Values compare as words, not as numbers.
TEST_F(StateCacheTest, TransformsCompareBitPatterns) {
    D3DMATRIX m = MatrixOf(0.0f);
    EXPECT_TRUE(StateCache::SetTransform(D3DTS_PROJECTION, &m._11));
    m._43 = -0.0f;
    EXPECT_TRUE(StateCache::SetTransform(D3DTS_PROJECTION, &m._11));
    EXPECT_EQ(device.Calls(DeviceCall::SetTransform), 2) << "-0.0 must be sent although it equals 0.0";
    EXPECT_TRUE(std::signbit(device.transforms[D3DTS_PROJECTION]._43));

    m._11 = std::nanf("");
    EXPECT_TRUE(StateCache::SetTransform(D3DTS_PROJECTION, &m._11));
    EXPECT_TRUE(StateCache::SetTransform(D3DTS_PROJECTION, &m._11));
    EXPECT_EQ(device.Calls(DeviceCall::SetTransform), 3) << "an identical NaN pattern is a repeat";

    EXPECT_FALSE(StateCache::SetTransform(D3DTS_PROJECTION, nullptr));
    EXPECT_EQ(device.Calls(DeviceCall::SetTransform), 3);
}

TEST_F(StateCacheTest, NamedTransformsAnswerZeroOnSuccess) {
    struct Row {
        const char* name;
        int (*set)(const TypedMatrix&);
        D3DTRANSFORMSTATETYPE slot;
    };
    const Row rows[] = {{"world", SetWorldTransform, D3DTS_WORLD},
                        {"view", SetViewTransform, D3DTS_VIEW},
                        {"projection", SetProjectionTransform, D3DTS_PROJECTION}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TypedMatrix m;
        m.m[12] = 7.0f;
        EXPECT_EQ(r.set(m), 0);
        EXPECT_EQ(device.transforms[r.slot]._41, 7.0f) << "the matrix went to the wrong slot";
        device.Answer(DeviceCall::SetTransform, E_FAIL);
        m.m[12] = 8.0f;
        EXPECT_EQ(r.set(m), 1);
        device.Answer(DeviceCall::SetTransform, S_OK);
        g_device = nullptr;
        m.m[12] = 9.0f;
        EXPECT_EQ(r.set(m), 1);
        g_device = &device;
    }
}

TEST_F(StateCacheTest, GetRenderStateReadsTheDeviceOnceThenTheCache) {
    device.renderStates[D3DRS_CULLMODE] = D3DCULL_CW;
    DWORD value = 0;
    EXPECT_TRUE(StateCache::GetRenderState(D3DRS_CULLMODE, &value));
    EXPECT_EQ(value, static_cast<DWORD>(D3DCULL_CW));
    EXPECT_TRUE(StateCache::GetRenderState(D3DRS_CULLMODE, &value));
    EXPECT_EQ(device.Calls(DeviceCall::GetRenderState), 1);
    EXPECT_TRUE(StateCache::SetRenderState(D3DRS_CULLMODE, D3DCULL_CW));
    EXPECT_EQ(device.Calls(DeviceCall::SetRenderState), 0) << "a value read from the device is known";

    StateCache::SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    EXPECT_TRUE(StateCache::GetRenderState(D3DRS_CULLMODE, &value));
    EXPECT_EQ(value, static_cast<DWORD>(D3DCULL_NONE));

    InvalidateStateCache();
    device.Answer(DeviceCall::GetRenderState, D3DERR_INVALIDCALL);
    value = 0xDEAD;
    EXPECT_FALSE(StateCache::GetRenderState(D3DRS_CULLMODE, &value));
    EXPECT_EQ(value, 0xDEADu) << "a failed read leaves the out-parameter alone";
    g_device = nullptr;
    EXPECT_FALSE(StateCache::GetRenderState(D3DRS_CULLMODE, &value));
}

TEST_F(StateCacheTest, NullMaterialIsRememberedAsZerosButAlwaysSent) {
    EXPECT_TRUE(StateCache::SetMaterial(nullptr));
    EXPECT_TRUE(device.materialWasNull) << "the device gets the caller's null";
    EXPECT_TRUE(StateCache::SetMaterial(nullptr));
    EXPECT_EQ(device.Calls(DeviceCall::SetMaterial), 2);
    const D3DMATERIAL9 zero = MaterialOf(0.0f);
    EXPECT_TRUE(StateCache::SetMaterial(&zero));
    EXPECT_EQ(device.Calls(DeviceCall::SetMaterial), 2) << "zeros equal the remembered null material";
}

// Only the Direct3D enumerations are valid indices; anything else is a caller's bug.
TEST_F(StateCacheTest, IndicesOutsideTheTablesAreRefused) {
    const D3DMATRIX m = MatrixOf(1.0f);
    const std::function<bool()> calls[] = {
        [] { return StateCache::SetRenderState(static_cast<D3DRENDERSTATETYPE>(1024), 1); },
        [] { return StateCache::ForceRenderState(static_cast<D3DRENDERSTATETYPE>(5000), 1); },
        [] { return StateCache::SetSamplerState(8, D3DSAMP_ADDRESSU, 1); },
        [] { return StateCache::SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(16), 1); },
        [] { return StateCache::SetTextureStageState(8, D3DTSS_COLOROP, 1); },
        [] { return StateCache::SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(64), 1); },
        [] { return StateCache::SetTexture(8, nullptr); },
        [&] { return StateCache::SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(512), &m._11); },
    };
    for (size_t i = 0; i < std::size(calls); ++i) {
        SCOPED_TRACE(i);
#ifdef NDEBUG
        EXPECT_FALSE(calls[i]());
#else
        EXPECT_DEATH(calls[i](), "out of range");
#endif
    }
    EXPECT_EQ(device.TotalCalls(), 0);
}

}  // namespace
