// Materials against a counting device: stage combination of named sub-materials, the automatic
// alpha cascade, blend kinds and alpha presets, fog save and restore, alpha and transparency,
// equality, the effect-kind selection through the registry, and values from scene files that
// the device does not know.
#include "render/material.h"

#include "render/app_framework.h"
#include "render/effect_manager.h"
#include "render/lit_effect_material.h"
#include "render/state_cache.h"
#include "render/texture.h"
#include "tests/render/support/fake_device.h"

#include "platform/log/log_testing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using rh::test::DeviceCall;
using rh::test::FakeDevice;

// An effect material that draws nothing; it says whether it has alpha.
class FakeEffect : public LitEffectMaterial {
public:
    bool HasAlpha() const override { return alpha; }
    VertexFormat VertexElements() const override { return VertexFormat(); }
    bool alpha = false;
};

// A texture without device objects whose level-0 format is `format`.
class FormatTexture : public Texture {
public:
    explicit FormatTexture(D3DFORMAT format) {
        D3DSURFACE_DESC desc{};
        desc.Format = format;
        desc.Width = desc.Height = 4;
        SetDescription(desc);
    }
};

class MaterialTest : public ::testing::Test {
protected:
    void SetUp() override {
        InvalidateStateCache();
        g_device = &device;
        material.SetRenderContext(&context);
    }
    void TearDown() override {
        g_device = nullptr;
        InvalidateStateCache();
        g_effectManager.ClearEffectMaterials();
    }

    DWORD Stage(DWORD stage, D3DTEXTURESTAGESTATETYPE type) { return device.stageStates[{stage, type}]; }
    bool StageSet(DWORD stage, D3DTEXTURESTAGESTATETYPE type) const {
        return device.stageStates.count({stage, type}) != 0;
    }
    DWORD State(D3DRENDERSTATETYPE state) { return device.renderStates[state]; }
    DWORD Sampler(DWORD sampler, D3DSAMPLERSTATETYPE type) { return device.samplerStates[{sampler, type}]; }

    FakeDevice device;
    RenderContext context;
    MultiMaterial material;
    FormatTexture plain{D3DFMT_X8R8G8B8};
    FormatTexture withAlpha{D3DFMT_A8R8G8B8};
    FakeEffect effect;
};

// ---- Stage combination

TEST_F(MaterialTest, NameKindsGiveTheSecondStagesOperation) {
    struct Row {
        const char* name;
        int32_t op;
        DWORD texCoordIndex;
    };
    const Row rows[] = {
        {"LightMap", D3DTOP_MODULATE2X, 1},
        {"Base Modulate2X", D3DTOP_MODULATE2X, 1},
        {"Modulate", D3DTOP_MODULATE, 1},
        {"AddSigned", D3DTOP_ADDSIGNED, 1},
        {"Add", D3DTOP_ADD, 1},
        {"Chrome", D3DTOP_ADD, 1 | D3DTSS_TCI_SPHEREMAP},
        {"lightmap", kAutomaticOp, 1},  // case counts
        {"Detail", kAutomaticOp, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MultiMaterial m;
        m.SetCount(2);
        m.sub(0).name = "Diffuse";
        m.sub(0).maps[kDiffuseMap].texture = &plain;
        m.sub(1).name = row.name;
        m.sub(1).maps[kDiffuseMap].texture = &withAlpha;
        m.BuildStageCombination();
        ASSERT_EQ(m.count(), 1);
        const TextureStage& stage = m.sub(0).stages[1];
        EXPECT_EQ(stage.colorOp, row.op);
        EXPECT_EQ(stage.colorArgs[1], DWORD{D3DTA_CURRENT});
        EXPECT_EQ(stage.colorArgs[2], DWORD{D3DTA_TEXTURE});
        EXPECT_EQ(stage.texCoordIndex, row.texCoordIndex);
        EXPECT_EQ(stage.alphaOp, kAutomaticOp);
        EXPECT_EQ(stage.map.texture, &withAlpha);
        EXPECT_FALSE(m.sub(0).blendEnable);
    }
}

TEST_F(MaterialTest, DiffuseAndLightMapBecomeOnePass) {
    material.SetCount(2);
    material.sub(0).name = "Diffuse";
    material.sub(0).maps[kDiffuseMap].texture = &plain;
    material.sub(1).name = "LightMap";
    material.sub(1).maps[kDiffuseMap].texture = &withAlpha;
    material.BuildStageCombination();

    ASSERT_EQ(material.count(), 1);
    const SubMaterial& sub = material.sub(0);
    EXPECT_EQ(sub.stages[0].map.texture, &plain);
    EXPECT_EQ(sub.stages[0].texCoordIndex, 0u);
    EXPECT_EQ(sub.stages[0].colorOp, D3DTOP_SELECTARG1) << "unlit: the texture alone";
    EXPECT_EQ(sub.stages[0].colorArgs[1], DWORD{D3DTA_TEXTURE});
    EXPECT_EQ(sub.stages[1].colorOp, D3DTOP_MODULATE2X);
    EXPECT_EQ(sub.stages[1].texCoordIndex, 1u);
    EXPECT_EQ(sub.stages[2].colorOp, D3DTOP_DISABLE);
    EXPECT_EQ(sub.depthBias, 0u) << "one pass needs no bias";
    EXPECT_FALSE(sub.blendEnable);
}

TEST_F(MaterialTest, TheFirstStagesColourFollowsTextureAndLighting) {
    struct Row {
        bool textured;
        bool lit;
        int32_t op;
        DWORD arg1;
        DWORD arg2;
    };
    const Row rows[] = {
        {true, true, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE},
        {true, false, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE},
        {false, true, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_DIFFUSE},
        {false, false, D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_DIFFUSE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "textured " << row.textured << " lit " << row.lit);
        MultiMaterial m;
        m.sub(0).name = "Diffuse";
        m.sub(0).lit = row.lit;
        m.sub(0).maps[kDiffuseMap].texture = row.textured ? &plain : nullptr;
        m.BuildStageCombination();
        EXPECT_EQ(m.count(), 1);
        EXPECT_EQ(m.sub(0).stages[0].colorOp, row.op);
        EXPECT_EQ(m.sub(0).stages[0].colorArgs[1], row.arg1);
        EXPECT_EQ(m.sub(0).stages[0].colorArgs[2], row.arg2);
        EXPECT_EQ(m.sub(0).stages[1].colorOp, D3DTOP_DISABLE);
        EXPECT_FALSE(m.sub(0).blendEnable);
        EXPECT_EQ(m.sub(0).lit, row.lit);
    }
}

// Passes start at effect materials and after them; later passes blend onto the first, unlit.
TEST_F(MaterialTest, EffectMaterialsSplitPasses) {
    struct Pass {
        bool effect;
        bool blend;
        int32_t src;
        int32_t dest;
        bool lit;
        int32_t stage1Op;
    };
    struct Row {
        const char* what;
        std::vector<const char*> names;
        std::vector<bool> effects;
        std::vector<bool> presetBlend;  // blend enabled beforehand with ONE / ONE
        std::vector<Pass> passes;
        DWORD firstBias;
    };
    const Row rows[] = {
        {"effect then light map: two passes, biased",
         {"Bumpy", "LightMap"},
         {true, false},
         {false, false},
         {{true, false, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, true, D3DTOP_DISABLE},
          {false, true, D3DBLEND_DESTCOLOR, D3DBLEND_SRCCOLOR, false, D3DTOP_DISABLE}},
         0x3727C5ACu},
        {"effect, detail, light map: the light map joins the detail pass",
         {"Bumpy", "Detail", "LightMap"},
         {true, false, false},
         {false, false, false},
         {{true, false, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, true, D3DTOP_DISABLE},
          {false, true, D3DBLEND_DESTCOLOR, D3DBLEND_SRCCOLOR, false, D3DTOP_MODULATE2X}},
         0x3727C5ACu},
        {"three passes: no bias",
         {"Bumpy", "Add", "Shiny"},
         {true, false, true},
         {false, false, false},
         {{true, false, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, true, D3DTOP_DISABLE},
          {false, true, D3DBLEND_SRCALPHA, D3DBLEND_ONE, false, D3DTOP_DISABLE},
          {true, true, D3DBLEND_DESTCOLOR, D3DBLEND_SRCCOLOR, false, D3DTOP_DISABLE}},
         0u},
        {"a pass that blends already keeps its factors",
         {"Bumpy", "LightMap"},
         {true, false},
         {false, true},
         {{true, false, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, true, D3DTOP_DISABLE},
          {false, true, D3DBLEND_ONE, D3DBLEND_ONE, false, D3DTOP_DISABLE}},
         0x3727C5ACu},
        {"an additive first sub-material blends from the start",
         {"Add"},
         {false},
         {false},
         {{false, true, D3DBLEND_SRCALPHA, D3DBLEND_ONE, true, D3DTOP_DISABLE}},
         0u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MultiMaterial m;
        m.SetCount(static_cast<int32_t>(row.names.size()));
        for (size_t k = 0; k < row.names.size(); ++k) {
            SubMaterial& sub = m.sub(static_cast<int32_t>(k));
            sub.name = row.names[k];
            sub.lit = true;
            sub.maps[kDiffuseMap].texture = &plain;
            if (row.effects[k]) sub.effectMaterial = &effect;
            if (row.presetBlend[k]) {
                sub.blendEnable = true;
                sub.srcBlend = sub.destBlend = D3DBLEND_ONE;
            }
        }
        m.BuildStageCombination();
        ASSERT_EQ(m.count(), static_cast<int32_t>(row.passes.size()));
        EXPECT_EQ(m.sub(0).depthBias, row.firstBias);
        for (size_t p = 0; p < row.passes.size(); ++p) {
            SCOPED_TRACE(testing::Message() << "pass " << p);
            const SubMaterial& sub = m.sub(static_cast<int32_t>(p));
            const Pass& want = row.passes[p];
            EXPECT_EQ(sub.effectMaterial != nullptr, want.effect);
            EXPECT_EQ(sub.blendEnable, want.blend);
            EXPECT_EQ(sub.srcBlend, want.src);
            EXPECT_EQ(sub.destBlend, want.dest);
            EXPECT_EQ(sub.lit, want.lit);
            EXPECT_EQ(sub.stages[1].colorOp, want.stage1Op);
        }
    }
}

// ---- Presets

TEST_F(MaterialTest, SetBlendKind) {
    struct Row {
        int32_t kind;
        bool enable;
        int32_t src;
        int32_t dest;
    };
    // Factors start at BOTHSRCALPHA / BOTHINVSRCALPHA so that a kept value shows.
    const Row rows[] = {
        {1, false, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
        {4, true, D3DBLEND_DESTCOLOR, D3DBLEND_ZERO},
        {5, true, D3DBLEND_DESTCOLOR, D3DBLEND_SRCCOLOR},
        {100, true, D3DBLEND_DESTCOLOR, D3DBLEND_SRCCOLOR},
        {7, true, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
        {8, true, D3DBLEND_BOTHSRCALPHA, D3DBLEND_BOTHINVSRCALPHA},
        {0, true, D3DBLEND_BOTHSRCALPHA, D3DBLEND_BOTHINVSRCALPHA},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kind);
        SubMaterial sub;
        sub.srcBlend = D3DBLEND_BOTHSRCALPHA;
        sub.destBlend = D3DBLEND_BOTHINVSRCALPHA;
        sub.SetBlendKind(row.kind);
        EXPECT_EQ(sub.blendEnable, row.enable);
        EXPECT_EQ(sub.srcBlend, row.src);
        EXPECT_EQ(sub.destBlend, row.dest);
    }
}

TEST_F(MaterialTest, SetAlphaSource) {
    struct Row {
        int32_t preset;
        int32_t op;
        DWORD arg1;
        DWORD arg2;
    };
    // Arguments start at TEMP / SPECULAR so that a kept value shows.
    const Row rows[] = {
        {0, D3DTOP_DISABLE, D3DTA_TEMP, D3DTA_SPECULAR},
        {1, D3DTOP_SELECTARG1, D3DTA_TFACTOR, D3DTA_SPECULAR},
        {2, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_SPECULAR},
        {3, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR},
        {4, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_SPECULAR},
        {5, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_TFACTOR},
        {6, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE},
        {7, D3DTOP_LERP, D3DTA_TEMP, D3DTA_SPECULAR},
        {-1, D3DTOP_LERP, D3DTA_TEMP, D3DTA_SPECULAR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.preset);
        TextureStage stage;
        stage.alphaOp = D3DTOP_LERP;
        stage.alphaArgs[1] = D3DTA_TEMP;
        stage.alphaArgs[2] = D3DTA_SPECULAR;
        stage.SetAlphaSource(row.preset);
        EXPECT_EQ(stage.alphaOp, row.op);
        EXPECT_EQ(stage.alphaArgs[1], row.arg1);
        EXPECT_EQ(stage.alphaArgs[2], row.arg2);
    }
}

// ---- Alpha

// Which alpha the automatic stages compute from the texture's alpha (T), the opacity through
// the texture factor (F) and vertex alpha (V).
TEST_F(MaterialTest, AutomaticAlphaTable) {
    struct Row {
        const char* what;
        int32_t stage;  // the automatic stage examined; stages before it take explicit ops
        bool t;
        bool f;
        bool v;
        DWORD op;
        DWORD arg1;  // checked when the op reads it
        DWORD arg2;
    };
    const Row rows[] = {
        {"stage 0, none", 0, false, false, false, D3DTOP_DISABLE, 0, 0},
        {"stage 0, T", 0, true, false, false, D3DTOP_SELECTARG1, D3DTA_TEXTURE, 0},
        {"stage 0, V", 0, false, false, true, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, 0},
        {"stage 0, F", 0, false, true, false, D3DTOP_SELECTARG1, D3DTA_TFACTOR, 0},
        {"stage 0, T and V", 0, true, false, true, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE},
        {"stage 0, T and F", 0, true, true, false, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR},
        {"stage 0, V and F", 0, false, true, true, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_TFACTOR},
        {"stage 0, all three", 0, true, true, true, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR},
        {"stage 1, T", 1, true, false, false, D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE},
        {"stage 1, V only", 1, false, false, true, D3DTOP_DISABLE, 0, 0},
        {"stage 1, F only", 1, false, true, false, D3DTOP_DISABLE, 0, 0},
        {"stage 1, T and V", 1, true, false, true, D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE},
        {"stage 1, all three", 1, true, true, true, D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_DIFFUSE},
        {"stage 2, all three: the stage's own arguments", 2, true, true, true, D3DTOP_MODULATE, D3DTA_TEMP,
         D3DTA_SPECULAR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        device.stageStates.clear();
        InvalidateStateCache();
        SubMaterial& sub = material.sub(0);
        sub = SubMaterial();
        sub.vertexAlpha = row.v;
        sub.opacity = row.f ? 0.5f : 1.0f;
        for (int32_t j = 0; j < row.stage; ++j) {
            // Explicit stages that read neither the texture's alpha nor the factor.
            sub.stages[j].colorOp = D3DTOP_SELECTARG1;
            sub.stages[j].alphaOp = D3DTOP_SELECTARG1;
            sub.stages[j].alphaArgs[1] = D3DTA_DIFFUSE;
        }
        TextureStage& stage = sub.stages[row.stage];
        stage.colorOp = kAutomaticOp;
        stage.alphaOp = kAutomaticOp;
        stage.map.texture = row.t ? &withAlpha : &plain;
        stage.alphaArgs[1] = D3DTA_TEMP;
        stage.alphaArgs[2] = D3DTA_SPECULAR;
        ASSERT_TRUE(material.ApplyTextureStages(0));
        const DWORD s = static_cast<DWORD>(row.stage);
        EXPECT_EQ(Stage(s, D3DTSS_ALPHAOP), row.op);
        if (row.op != D3DTOP_DISABLE) {
            EXPECT_EQ(Stage(s, D3DTSS_ALPHAARG1), row.arg1);
        }
        if (row.op == D3DTOP_MODULATE) {
            EXPECT_EQ(Stage(s, D3DTSS_ALPHAARG2), row.arg2);
        }
    }
}

// The opacity goes into the factor's alpha, truncated, keeping the factor's colour; an opacity
// of exactly 1 never touches the factor.
TEST_F(MaterialTest, OpacityGoesIntoTheTextureFactor) {
    struct Row {
        float opacity;
        bool set;
        DWORD alpha;
    };
    const Row rows[] = {{0.5f, true, 127}, {0.999f, true, 254}, {0.0f, true, 0}, {1.0f, false, 0}, {2.0f, true, 255}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.opacity);
        InvalidateStateCache();
        device.renderStates[D3DRS_TEXTUREFACTOR] = 0x11223344u;
        device.ResetCounts();
        material.sub(0).opacity = row.opacity;
        material.sub(0).stages[0].map.texture = &plain;
        ASSERT_TRUE(material.ApplyTextureStages(0));
        if (row.set) {
            EXPECT_EQ(State(D3DRS_TEXTUREFACTOR), (row.alpha << 24) | 0x223344u);
        } else {
            EXPECT_EQ(State(D3DRS_TEXTUREFACTOR), 0x11223344u);
            EXPECT_EQ(Stage(0, D3DTSS_ALPHAOP), DWORD{D3DTOP_DISABLE});
        }
    }
}

TEST_F(MaterialTest, HasAlpha) {
    struct Row {
        const char* what;
        std::function<void(SubMaterial&)> setup;
        bool alpha;
    };
    const std::vector<Row> rows = {
        {"default", [](SubMaterial&) {}, false},
        {"vertex alpha", [](SubMaterial& s) { s.vertexAlpha = true; }, true},
        {"an effect material without alpha decides",
         [this](SubMaterial& s) {
             s.vertexAlpha = true;
             s.effectMaterial = &effect;
         },
         false},
        {"an effect material with alpha",
         [this](SubMaterial& s) {
             effect.alpha = true;
             s.effectMaterial = &effect;
         },
         true},
        {"a later automatic stage with an alpha texture",
         [this](SubMaterial& s) {
             for (int j = 0; j < 3; ++j) s.stages[j].alphaOp = kAutomaticOp;
             s.stages[0].map.texture = &plain;
             s.stages[1].map.texture = &plain;
             s.stages[2].map.texture = &withAlpha;
         },
         true},
        {"eight automatic stages without alpha",
         [this](SubMaterial& s) {
             for (TextureStage& stage : s.stages) {
                 stage.alphaOp = kAutomaticOp;
                 stage.map.texture = &plain;
             }
         },
         false},
        {"an explicit operation after the automatic ones",
         [this](SubMaterial& s) {
             s.stages[0].alphaOp = kAutomaticOp;
             s.stages[0].map.texture = &plain;
             s.stages[1].alphaOp = D3DTOP_SELECTARG1;
         },
         true},
        {"an alpha texture behind a disabled stage", [this](SubMaterial& s) { s.stages[1].map.texture = &withAlpha; },
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        effect.alpha = false;
        MultiMaterial m;
        m.sub(0) = SubMaterial();
        row.setup(m.sub(0));
        EXPECT_EQ(m.HasAlpha(0), row.alpha);
        EXPECT_EQ(m.HasAlpha(-1), row.alpha) << "-1 means the first sub-material";
    }
}

TEST_F(MaterialTest, IsTransparent) {
    struct Row {
        const char* what;
        bool blend;
        int32_t dest;
        bool alphaTexture;
        bool transparent;
    };
    const Row rows[] = {
        {"opaque", false, D3DBLEND_INVSRCALPHA, false, false},
        {"additive without alpha", true, D3DBLEND_ONE, false, true},
        {"modulating onto the target", true, D3DBLEND_ZERO, false, false},
        {"alpha texture", false, D3DBLEND_INVSRCALPHA, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MultiMaterial m;
        m.sub(0).blendEnable = row.blend;
        m.sub(0).destBlend = row.dest;
        m.sub(0).stages[0].map.texture = row.alphaTexture ? &withAlpha : &plain;
        EXPECT_EQ(m.IsTransparent(), row.transparent);
    }
}

// ---- States

TEST_F(MaterialTest, AlphaTestAndBlending) {
    struct Row {
        const char* what;
        bool alpha;
        bool blend;
        bool testAllowed;
        DWORD test;
        DWORD blending;
        DWORD src;
        DWORD dest;
    };
    const Row rows[] = {
        {"neither", false, false, true, 0, 0, 0, 0},
        {"alpha", true, false, true, 1, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
        {"alpha, test not allowed", true, false, false, 0, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
        {"own blending", false, true, true, 0, 1, D3DBLEND_ONE, D3DBLEND_ONE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        device.renderStates.clear();
        InvalidateStateCache();
        SubMaterial& sub = material.sub(0);
        sub.vertexAlpha = row.alpha;
        sub.blendEnable = row.blend;
        sub.srcBlend = sub.destBlend = D3DBLEND_ONE;
        sub.alphaRef = 0x80;
        material.SetAlphaTestAllowed(row.testAllowed);
        ASSERT_TRUE(material.ApplyMaterialStates(0));
        EXPECT_EQ(State(D3DRS_ALPHATESTENABLE), row.test);
        if (row.test != 0) {
            EXPECT_EQ(State(D3DRS_ALPHAREF), 0x80u);
            EXPECT_EQ(State(D3DRS_ALPHAFUNC), DWORD{D3DCMP_GREATEREQUAL});
        }
        EXPECT_EQ(State(D3DRS_ALPHABLENDENABLE), row.blending);
        if (row.blending != 0) {
            EXPECT_EQ(State(D3DRS_SRCBLEND), row.src);
            EXPECT_EQ(State(D3DRS_DESTBLEND), row.dest);
        }
    }
}

TEST_F(MaterialTest, DepthAndCullStates) {
    SubMaterial& sub = material.sub(0);
    sub.cullMode = D3DCULL_NONE;
    sub.depthBias = 0x3727C5ACu;
    sub.zFunc = D3DCMP_EQUAL;
    sub.zWrite = 0;
    ASSERT_TRUE(material.ApplyMaterialStates(0));
    EXPECT_EQ(State(D3DRS_CULLMODE), DWORD{D3DCULL_NONE});
    EXPECT_EQ(State(D3DRS_DEPTHBIAS), 0x3727C5ACu);
    EXPECT_EQ(State(D3DRS_ZFUNC), DWORD{D3DCMP_EQUAL});
    EXPECT_EQ(State(D3DRS_ZWRITEENABLE), 0u);

    device.renderStates.erase(D3DRS_ZFUNC);
    InvalidateStateCache();
    sub.zEnable = 0;
    ASSERT_TRUE(material.ApplyMaterialStates(0));
    EXPECT_EQ(State(D3DRS_ZENABLE), 0u);
    EXPECT_EQ(device.renderStates.count(D3DRS_ZFUNC), 0u) << "no depth function without a depth test";
}

// Fog as the sub-material wants it while drawing, and as it was afterwards.
TEST_F(MaterialTest, FogSaveAndRestore) {
    struct Row {
        const char* what;
        DWORD fogOn;
        bool noFog;
        bool ownColour;
        DWORD drawFog;
        DWORD drawColour;
        int32_t saveState;
    };
    constexpr DWORD kSceneColour = 0xFF808080u;
    constexpr DWORD kOwnColour = 0xFF102030u;
    const Row rows[] = {
        {"fog on, no fog", 1, true, false, 0, kSceneColour, 2},
        {"fog on, own colour", 1, false, true, 1, kOwnColour, 2},
        {"fog on, both: the colour wins", 1, true, true, 1, kOwnColour, 2},
        {"fog off, own colour", 0, false, true, 1, kOwnColour, 1},
        {"fog off, no fog: nothing", 0, true, false, 0, kSceneColour, 0},
        {"fog on, neither: nothing", 1, false, false, 1, kSceneColour, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        InvalidateStateCache();
        device.renderStates[D3DRS_FOGENABLE] = row.fogOn;
        device.renderStates[D3DRS_FOGCOLOR] = kSceneColour;
        SubMaterial& sub = material.sub(0);
        sub.noFog = row.noFog;
        sub.ownFogColor = row.ownColour;
        sub.fogColor = kOwnColour;
        ASSERT_TRUE(material.ApplyMaterialStates(0));
        EXPECT_EQ(State(D3DRS_FOGENABLE), row.drawFog);
        EXPECT_EQ(State(D3DRS_FOGCOLOR), row.drawColour);
        EXPECT_EQ(material.fogSaveState(), row.saveState);
        device.ResetCounts();
        ASSERT_TRUE(material.RestoreFog());
        EXPECT_EQ(State(D3DRS_FOGENABLE), row.fogOn);
        EXPECT_EQ(State(D3DRS_FOGCOLOR), kSceneColour);
        EXPECT_EQ(material.fogSaveState(), 0);
        if (row.saveState == 0) {
            EXPECT_EQ(device.TotalCalls(), 0) << "nothing to restore";
        }
    }
}

TEST_F(MaterialTest, FixedFunctionLighting) {
    const float w[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1};
    std::memcpy(context.world.m, w, sizeof w);
    context.world.valid = 1;
    SubMaterial& sub = material.sub(0);
    sub.lit = true;
    sub.specular = true;
    sub.colors.SetDiffuse(ArgbColor(1.0f, 0.5f, 0.25f, 0.125f));
    ASSERT_TRUE(material.ApplyFixedFunction(0));
    EXPECT_EQ(device.Calls(DeviceCall::SetTransform), 1) << "only the valid world matrix";
    EXPECT_EQ(device.transforms[D3DTS_WORLD].m[3][2], 3.0f);
    EXPECT_EQ(State(D3DRS_LIGHTING), 1u);
    EXPECT_EQ(State(D3DRS_DIFFUSEMATERIALSOURCE), DWORD{D3DMCS_MATERIAL});
    EXPECT_EQ(State(D3DRS_SPECULARENABLE), 1u);
    EXPECT_EQ(device.material.Diffuse.r, 0.5f);
    EXPECT_EQ(device.material.Ambient.g, 1.0f) << "defaults are full white, not 1/255";
    EXPECT_EQ(device.material.Power, 16.0f);

    sub.lit = false;
    ASSERT_TRUE(material.ApplyFixedFunction(0));
    EXPECT_EQ(State(D3DRS_LIGHTING), 0u);
    EXPECT_EQ(State(D3DRS_DIFFUSEMATERIALSOURCE), DWORD{D3DMCS_COLOR1});
}

TEST_F(MaterialTest, WithoutRenderContextNothingIsApplied) {
    material.SetRenderContext(nullptr);
    EXPECT_FALSE(material.ApplyFixedFunction(0));
    EXPECT_FALSE(material.ApplyTextureStages(0));
    EXPECT_EQ(device.TotalCalls(), 0);
}

TEST_F(MaterialTest, StageColourCascade) {
    SubMaterial& sub = material.sub(0);
    sub.lit = true;
    sub.stages[0].map.texture = &plain;
    sub.stages[1].colorOp = kAutomaticOp;
    sub.stages[2].colorOp = D3DTOP_LERP;
    sub.stages[2].colorArgs[0] = D3DTA_TEMP;
    sub.stages[2].colorArgs[1] = D3DTA_SPECULAR;
    sub.stages[2].colorArgs[2] = D3DTA_TFACTOR | D3DTA_COMPLEMENT;
    sub.stages[3].colorOp = D3DTOP_SELECTARG2;
    sub.stages[3].colorArgs[1] = D3DTA_TEMP;
    sub.stages[3].colorArgs[2] = D3DTA_SPECULAR;
    ASSERT_TRUE(material.ApplyTextureStages(0));
    EXPECT_EQ(Stage(0, D3DTSS_COLOROP), DWORD{D3DTOP_MODULATE}) << "lit: texture times diffuse";
    EXPECT_EQ(Stage(0, D3DTSS_COLORARG1), DWORD{D3DTA_TEXTURE});
    EXPECT_EQ(Stage(0, D3DTSS_COLORARG2), DWORD{D3DTA_DIFFUSE});
    EXPECT_EQ(Stage(1, D3DTSS_COLOROP), DWORD{D3DTOP_MODULATE2X});
    EXPECT_EQ(Stage(1, D3DTSS_COLORARG1), DWORD{D3DTA_CURRENT});
    EXPECT_EQ(Stage(1, D3DTSS_COLORARG2), DWORD{D3DTA_DIFFUSE}) << "no texture on stage 1";
    EXPECT_EQ(Stage(2, D3DTSS_COLOROP), DWORD{D3DTOP_LERP});
    EXPECT_EQ(Stage(2, D3DTSS_COLORARG0), DWORD{D3DTA_TEMP});
    EXPECT_EQ(Stage(2, D3DTSS_COLORARG2), DWORD{D3DTA_TFACTOR | D3DTA_COMPLEMENT});
    EXPECT_EQ(Stage(3, D3DTSS_COLOROP), DWORD{D3DTOP_SELECTARG2});
    EXPECT_FALSE(StageSet(3, D3DTSS_COLORARG1)) << "SELECTARG2 reads argument 2 only";
    EXPECT_EQ(Stage(3, D3DTSS_COLORARG2), DWORD{D3DTA_SPECULAR});
    EXPECT_EQ(Stage(4, D3DTSS_COLOROP), DWORD{D3DTOP_DISABLE});
    EXPECT_FALSE(StageSet(5, D3DTSS_COLOROP)) << "a disabled stage ends the cascade";
    EXPECT_EQ(device.textures[0], nullptr);
    EXPECT_EQ(Sampler(0, D3DSAMP_MINFILTER), DWORD{D3DTEXF_LINEAR});
}

TEST_F(MaterialTest, StageTransforms) {
    // The stage's transform composes with the texture's (identity) matrix; an identity result
    // disables the transform.
    SubMaterial& sub = material.sub(0);
    sub.stages[0].map.texture = &plain;
    ASSERT_TRUE(material.ApplyTextureStages(0));
    EXPECT_EQ(Stage(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD{D3DTTFF_DISABLE});

    TypedMatrix scroll;
    scroll.At(2, 0) = 0.25f;  // (u, v, 1) feeds row 2 as the offset
    scroll.kind = kMatrixGeneral;
    sub.stages[0].transform = scroll;
    ASSERT_TRUE(material.ApplyTextureStages(0));
    EXPECT_EQ(Stage(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD{D3DTTFF_COUNT2});
    EXPECT_EQ(device.transforms[D3DTS_TEXTURE0].m[2][0], 0.25f);

    // Camera-space positions are taken back to world space first.
    TypedMatrix view;
    view.At(3, 0) = 10.0f;
    view.kind = kMatrixGeneral;
    context.view = view;
    sub.stages[0].texCoordIndex = D3DTSS_TCI_CAMERASPACEPOSITION;
    sub.stages[0].transform = IdentityMatrix();
    ASSERT_TRUE(material.ApplyTextureStages(0));
    EXPECT_EQ(Stage(0, D3DTSS_TEXCOORDINDEX), DWORD{D3DTSS_TCI_CAMERASPACEPOSITION});
    EXPECT_EQ(device.transforms[D3DTS_TEXTURE0].m[3][0], -10.0f);
}

// Values from scene files that the device does not know are drawn with Direct3D's defaults
// and reported once.
TEST_F(MaterialTest, UnknownValuesFallBackToDefaults) {
    rh::testing::LogCapture log(rh::LogLevel::Warning);
    SubMaterial& sub = material.sub(0);
    sub.stages[0].colorOp = 99;
    sub.stages[0].alphaOp = D3DTOP_BUMPENVMAP;
    sub.stages[0].alphaArgs[1] = 0x7;
    sub.stages[0].map.texture = &plain;
    sub.stages[0].map.addressU = 0;
    sub.stages[0].map.minFilter = 5;
    sub.stages[0].map.mipFilter = D3DTEXF_ANISOTROPIC;
    sub.stages[1].colorOp = 1234;
    sub.stages[1].colorArgs[1] = 0x40 | D3DTA_TEXTURE;
    sub.blendEnable = true;
    sub.srcBlend = 0;
    sub.destBlend = 42;
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(material.ApplyMaterialStates(0));
        ASSERT_TRUE(material.ApplyTextureStages(0));
    }
    EXPECT_EQ(Stage(0, D3DTSS_COLOROP), DWORD{D3DTOP_MODULATE});
    EXPECT_EQ(Stage(0, D3DTSS_ALPHAOP), DWORD{D3DTOP_SELECTARG1});
    EXPECT_EQ(Stage(0, D3DTSS_ALPHAARG1), DWORD{D3DTA_TEXTURE});
    EXPECT_EQ(Sampler(0, D3DSAMP_ADDRESSU), DWORD{D3DTADDRESS_WRAP});
    EXPECT_EQ(Sampler(0, D3DSAMP_MINFILTER), DWORD{D3DTEXF_POINT});
    EXPECT_EQ(Sampler(0, D3DSAMP_MIPFILTER), DWORD{D3DTEXF_NONE});
    EXPECT_EQ(Stage(1, D3DTSS_COLOROP), DWORD{D3DTOP_DISABLE});
    EXPECT_EQ(State(D3DRS_SRCBLEND), DWORD{D3DBLEND_ONE});
    EXPECT_EQ(State(D3DRS_DESTBLEND), DWORD{D3DBLEND_ZERO});
    const std::vector<std::string> lines = log.texts();
    EXPECT_EQ(lines.size(), 8u) << "each kind of unknown value is reported once, not per draw";
    for (const std::string& line : lines) EXPECT_NE(line.find("material: unknown"), std::string::npos) << line;
}

// ---- Equality and copies

TEST_F(MaterialTest, EqualityComparesWhatDrawsDifferently) {
    struct Row {
        const char* what;
        std::function<void(SubMaterial&)> change;
        bool equal;
    };
    Texture parent;
    Texture* sub = new Texture;
    sub->SetId("part");
    sub->SetParentSpace(true);
    parent.AddSubTexture(sub);
    const std::vector<Row> rows = {
        {"diffuse colour", [](SubMaterial& s) { s.colors.SetDiffuse(ArgbColor(0.5f)); }, false},
        {"effect material", [this](SubMaterial& s) { s.effectMaterial = &effect; }, false},
        {"blend factor", [](SubMaterial& s) { s.destBlend = D3DBLEND_ONE; }, false},
        {"alpha reference", [](SubMaterial& s) { s.alphaRef = 9; }, false},
        {"lit", [](SubMaterial& s) { s.lit = true; }, false},
        {"cull mode", [](SubMaterial& s) { s.cullMode = D3DCULL_NONE; }, false},
        {"opacity", [](SubMaterial& s) { s.opacity = 0.5f; }, false},
        {"refract map", [this](SubMaterial& s) { s.maps[kRefractMap].texture = &plain; }, false},
        {"diffuse map filter", [](SubMaterial& s) { s.maps[kDiffuseMap].minFilter = D3DTEXF_POINT; }, false},
        {"a sub-texture of the same texture", [&](SubMaterial& s) { s.maps[kDiffuseMap].texture = sub; }, true},
        {"diffuse map amount", [](SubMaterial& s) { s.maps[kDiffuseMap].amount = 0.5f; }, true},
        {"specular map", [this](SubMaterial& s) { s.maps[kSpecularMap].texture = &plain; }, true},
        {"stages", [](SubMaterial& s) { s.stages[3].colorOp = D3DTOP_ADD; }, true},
        {"depth bias", [](SubMaterial& s) { s.depthBias = 1; }, true},
        {"fog", [](SubMaterial& s) { s.noFog = true; }, true},
        {"quality", [](SubMaterial& s) { s.quality = 3; }, true},
        {"technique and name",
         [](SubMaterial& s) {
             s.techniqueName = "T";
             s.name = "N";
         },
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MultiMaterial a;
        a.sub(0).maps[kDiffuseMap].texture = &parent;
        MultiMaterial b(a);
        row.change(b.sub(0));
        EXPECT_EQ(a.Equals(b), row.equal);
        EXPECT_EQ(b.Equals(a), row.equal);
    }
    MultiMaterial one;
    MultiMaterial two;
    two.SetCount(2);
    EXPECT_FALSE(one.Equals(two)) << "different counts";
}

TEST_F(MaterialTest, CopiesAreDeepAndLibrariesHoldCopies) {
    material.properties().SetIntProperty("OffsetBias", 3);
    material.sub(0).name = "Stone";
    MultiMaterial copy(material);
    material.properties().SetIntProperty("OffsetBias", 4);
    int value = 0;
    ASSERT_TRUE(copy.properties().GetInt("OffsetBias", value));
    EXPECT_EQ(value, 3) << "the properties are copied, not shared";
    EXPECT_EQ(copy.renderContext(), &context);

    MaterialLibrary library;
    library.Add("stone", copy);
    material.sub(0).name = "Marble";
    library.Add("stone", material);
    library.Add("other", copy);
    EXPECT_EQ(library.count(), 2);
    MultiMaterial out;
    ASSERT_TRUE(library.Contains("stone", &out));
    EXPECT_TRUE(StringEqualsText(out.sub(0).name, "Marble")) << "an existing name takes the new material";
    ASSERT_TRUE(out.properties().GetInt("OffsetBias", value));
    EXPECT_EQ(value, 4);
    EXPECT_FALSE(library.Contains("Stone", &out)) << "names compare with case";
}

TEST_F(MaterialTest, LaterSlotsCopyAsWrittenAndUnusedOnesReadAsDefaults) {
    // Slots after the first are stored only once written: a copy or an assignment must carry
    // exactly the written ones and leave no slot of the target's own behind, and a slot that
    // stage combination leaves unused reads as a default sub-material again.
    const MultiMaterial plain;
    EXPECT_EQ(plain.sub(5).stages[0].colorOp, D3DTOP_DISABLE) << "an unwritten slot reads as a default one";
    EXPECT_EQ(plain.sub(5).alphaRef, 1);

    MultiMaterial source;
    source.SetCount(3);
    source.sub(2).name = "Third";
    source.sub(2).alphaRef = 9;
    MultiMaterial target;
    target.sub(1).name = "Stale";
    target.sub(2).name = "Old";
    target = source;
    EXPECT_EQ(std::as_const(target).sub(1).name.length(), 0) << "the target's own slot 1 goes";
    EXPECT_TRUE(StringEqualsText(std::as_const(target).sub(2).name, "Third"));
    EXPECT_EQ(std::as_const(target).sub(2).alphaRef, 9);
    const MultiMaterial copy(target);
    EXPECT_TRUE(copy.Equals(source));
    EXPECT_TRUE(StringEqualsText(copy.sub(2).name, "Third"));
    source.sub(2).name = "Changed";
    EXPECT_TRUE(StringEqualsText(copy.sub(2).name, "Third")) << "copies do not share a slot";

    // "Diffuse" and "LightMap" merge into one pass: slot 1 is then unused.
    MultiMaterial merged;
    merged.SetCount(2);
    merged.sub(0).name = "Diffuse";
    merged.sub(1).name = "LightMap";
    merged.sub(1).alphaRef = 7;
    merged.BuildStageCombination();
    ASSERT_EQ(merged.count(), 1);
    EXPECT_EQ(std::as_const(merged).sub(1).name.length(), 0);
    EXPECT_EQ(std::as_const(merged).sub(1).alphaRef, 1);
    EXPECT_EQ(merged.sub(0).stages[1].colorOp, D3DTOP_MODULATE2X) << "the merged pass keeps its second stage";
}

// ---- The effect-material registry

TEST_F(MaterialTest, FindEffectMaterialTakesTheQualityBetween) {
    FakeEffect a;
    FakeEffect b;
    struct Row {
        int32_t first;
        int32_t second;
        int32_t wanted;
        bool wantsSecond;
    };
    const Row rows[] = {
        {100, 130, 200, true}, {130, 100, 200, false}, {100, 130, 120, false},
        {130, 100, 120, false}, {130, 100, 50, true}, {0, 130, 50, true},
        {100, 130, 130, true},  {130, 100, 100, true},  // the wanted quality itself is between
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.first << ", " << row.second << " wanted " << row.wanted);
        EffectManager manager;
        manager.RegisterEffectMaterial("Bump", &a, row.first);
        manager.RegisterEffectMaterial("Bump", &b, row.second);
        EXPECT_EQ(manager.FindEffectMaterial("Bump", row.wanted), row.wantsSecond ? &b : &a);
    }
    EffectManager manager;
    EXPECT_EQ(manager.FindEffectMaterial("Parallax", 100), nullptr);
    EXPECT_EQ(manager.registeredNameCount(), 1) << "a lookup leaves an empty entry";
    a.nameTable().Insert("Bump", 130, 1);
    a.nameTable().Insert("Parallax", 100, 1);
    manager.RegisterEffectMaterial(&a);
    EXPECT_EQ(manager.FindEffectMaterial("Parallax", 100), &a);
    EXPECT_EQ(manager.FindEffectMaterial("Bump", 200), &a);
    manager.UnregisterEffectMaterial(&a);
    EXPECT_EQ(manager.FindEffectMaterial("Bump", 200), nullptr);
}

TEST_F(MaterialTest, SelectShaderKindAsksTheRegistry) {
    g_effectManager.RegisterEffectMaterial("Bump", &effect, 130);
    FakeEffect old;
    material.SetCount(4);
    material.sub(0).maps[kBumpMap].texture = &plain;
    material.sub(1).maps[kReflectMap].texture = &plain;
    material.sub(1).effectMaterial = &old;
    material.sub(2).effectMaterial = &old;
    material.sub(3).maps[kRefractMap].texture = &plain;
    material.sub(3).maps[kBumpMap].texture = &plain;
    material.SelectShaderKind();
    EXPECT_EQ(material.sub(0).effectMaterial, &effect);
    EXPECT_EQ(material.sub(1).effectMaterial, nullptr) << "nothing registered as ReflPV";
    EXPECT_EQ(material.sub(2).effectMaterial, &old) << "no kind: left as it was";
    EXPECT_EQ(material.sub(3).effectMaterial, nullptr) << "RefrPP before Bump";
    EXPECT_EQ(material.FirstEffectMaterial(), &effect);
}

}  // namespace
