// The fixed-function pipeline against the double-precision oracle: lighting of flat quads by
// directional, point and spot lights, fog, the texture-stage cascade with uniform textures,
// texture coordinate generation and transforms, the alpha test, unknown and non-finite
// values, the program cache's bound, and a sweep of random states.

#include "tests/platform/d3d9_draw_support.h"
#include "tests/platform/ffp_oracle.h"

#include <d3d9.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace d3d9_test {
namespace {

using ffp_oracle::Colour;

// A vertex with everything the pipeline reads: position, normal, both colours, two sets.
struct MeshVertex {
    float x, y, z;
    float nx, ny, nz;
    DWORD diffuse, specular;
    float u0, v0, u1, v1;
};
constexpr DWORD kMeshFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2;

// The quad's corners are at (+-kHalf, +-kHalf, z).
constexpr float kHalf = 0.8f;

DWORD Bits(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

int Channel(DWORD c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }

std::string Hex(DWORD v) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(v));
    return text;
}

D3DCOLORVALUE Value(double r, double g, double b, double a = 1.0) {
    return D3DCOLORVALUE{static_cast<float>(r), static_cast<float>(g), static_cast<float>(b), static_cast<float>(a)};
}

D3DVECTOR Vector(double x, double y, double z) {
    return D3DVECTOR{static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
}

D3DMATRIX Translation(float x, float y, float z) {
    D3DMATRIX m = Identity();
    m._41 = x;
    m._42 = y;
    m._43 = z;
    return m;
}

class FfpTest : public DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        if (HasFatalFailure()) return;
        device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        // Orthographic: x and y of -1..1 fill the viewport, z of 0..100 the depth range.
        D3DMATRIX projection = Identity();
        projection._33 = 0.01f;
        device_->SetTransform(D3DTS_PROJECTION, &projection);
    }

    // The quad at depth z facing the camera, its normal n at every corner.
    HRESULT DrawQuad(float z, DWORD diffuse = 0xFFFFFFFF, DWORD specular = 0, D3DVECTOR n = {0.0f, 0.0f, -1.0f},
                     float u = 0.5f, float v = 0.5f) {
        std::vector<MeshVertex> quad = {
            {-kHalf, kHalf, z, n.x, n.y, n.z, diffuse, specular, u, v, u, v},
            {kHalf, kHalf, z, n.x, n.y, n.z, diffuse, specular, u, v, u, v},
            {-kHalf, -kHalf, z, n.x, n.y, n.z, diffuse, specular, u, v, u, v},
            {kHalf, -kHalf, z, n.x, n.y, n.z, diffuse, specular, u, v, u, v},
        };
        IDirect3DVertexBuffer9* buffer = Vertices(quad, kMeshFvf);
        device_->SetFVF(kMeshFvf);
        device_->SetStreamSource(0, buffer, 0, sizeof(MeshVertex));
        return device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    }

    void Clear(DWORD colour = 0xFF000000) {
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, colour, 1.0f, 0), D3D_OK);
    }

    // Every pixel of the quad's central area (or of rect) is expected within tolerance per
    // channel; reports the first that is not.
    void ExpectArea(DWORD expected, const std::string& what, RECT rect = {kWidth / 4, kHeight / 4, 3 * kWidth / 4,
                                                                          3 * kHeight / 4},
                    int tolerance = 2) {
        std::vector<DWORD> pixels = Read(rect);
        ASSERT_FALSE(pixels.empty());
        for (DWORD p : pixels) {
            for (int shift : {0, 8, 16}) {
                if (std::abs(Channel(p, shift) - Channel(expected, shift)) > tolerance) {
                    ADD_FAILURE() << what << ": drew " << Hex(p) << ", expected " << Hex(expected);
                    return;
                }
            }
        }
    }

    // A managed A8R8G8B8 texture of width x height texels (top row first).
    IDirect3DTexture9* Texture(UINT width, UINT height, const std::vector<DWORD>& texels) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device_->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
                  D3D_OK);
        if (texture == nullptr) return nullptr;
        owned_.push_back(texture);
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch);
            for (UINT x = 0; x < width; ++x) row[x] = texels[y * width + x];
        }
        EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
        return texture;
    }
    IDirect3DTexture9* Uniform(DWORD argb) { return Texture(4, 4, std::vector<DWORD>(16, argb)); }

    void Stage(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
        ASSERT_EQ(device_->SetTextureStageState(stage, type, value), D3D_OK);
    }

    // The oracle's view of a material and the lighting states the quads use.
    ffp_oracle::LightingInput Input(const D3DMATERIAL9& m, DWORD ambient, const D3DVECTOR& corner) {
        ffp_oracle::LightingInput in;
        in.position = {corner.x, corner.y, corner.z};
        in.normal = {0, 0, -1};
        in.diffuse = ffp_oracle::FromValue(m.Diffuse);
        in.ambient = ffp_oracle::FromValue(m.Ambient);
        in.specular = ffp_oracle::FromValue(m.Specular);
        in.emissive = ffp_oracle::FromValue(m.Emissive);
        in.power = m.Power;
        in.globalAmbient = ffp_oracle::FromArgb(ambient);
        return in;
    }
    // Lights the quad from the material only (COLORVERTEX off).
    void UseMaterial(const D3DMATERIAL9& m, DWORD ambient) {
        device_->SetRenderState(D3DRS_LIGHTING, TRUE);
        device_->SetRenderState(D3DRS_COLORVERTEX, FALSE);
        device_->SetRenderState(D3DRS_AMBIENT, ambient);
        ASSERT_EQ(device_->SetMaterial(&m), D3D_OK);
    }
};

D3DMATERIAL9 Material(D3DCOLORVALUE diffuse, D3DCOLORVALUE ambient, D3DCOLORVALUE emissive = {0, 0, 0, 0},
                      D3DCOLORVALUE specular = {0, 0, 0, 0}, float power = 0) {
    D3DMATERIAL9 m{};
    m.Diffuse = diffuse;
    m.Ambient = ambient;
    m.Emissive = emissive;
    m.Specular = specular;
    m.Power = power;
    return m;
}

D3DLIGHT9 Directional(D3DVECTOR direction, D3DCOLORVALUE diffuse, D3DCOLORVALUE ambient = {0, 0, 0, 0},
                      D3DCOLORVALUE specular = {0, 0, 0, 0}) {
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Direction = direction;
    light.Diffuse = diffuse;
    light.Ambient = ambient;
    light.Specular = specular;
    return light;
}

D3DLIGHT9 Point(D3DVECTOR position, float range, float a0, float a1, float a2, D3DCOLORVALUE diffuse,
                D3DCOLORVALUE ambient = {0, 0, 0, 0}, D3DCOLORVALUE specular = {0, 0, 0, 0}) {
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_POINT;
    light.Position = position;
    light.Range = range;
    light.Attenuation0 = a0;
    light.Attenuation1 = a1;
    light.Attenuation2 = a2;
    light.Diffuse = diffuse;
    light.Ambient = ambient;
    light.Specular = specular;
    return light;
}

// ---- Lighting ----

TEST_F(FfpTest, DirectionalLightsLightAFlatQuadAsTheFormulasSay) {
    const double s60 = std::sqrt(3.0) / 2.0;
    struct Case {
        const char* what;
        std::vector<D3DLIGHT9> lights;
        D3DMATERIAL9 material;
        DWORD ambient;
        bool specular;
        bool normalize;
        D3DVECTOR normal;
    };
    const D3DMATERIAL9 plain = Material(Value(0.5, 0.25, 1.0), Value(0.2, 0.4, 0.6));
    const Case cases[] = {
        {"head on", {Directional(Vector(0, 0, 1), Value(1, 1, 1))}, plain, 0, false, false, {0, 0, -1}},
        {"at sixty degrees", {Directional(Vector(0, s60, 0.5), Value(1, 0.5, 1))}, plain, 0, false, false, {0, 0, -1}},
        {"from behind: ambient only",
         {Directional(Vector(0, 0, -1), Value(1, 1, 1), Value(0.5, 0.5, 0.5))}, plain, 0xFF404040, false, false,
         {0, 0, -1}},
        {"emissive, global and light ambient",
         {Directional(Vector(0.6, 0, 0.8), Value(0.3, 0.6, 0.9), Value(0.25, 0.5, 0.75))},
         Material(Value(0.8, 0.8, 0.8), Value(0.5, 0.5, 0.5), Value(0.1, 0.0, 0.2)), 0xFF204080, false, false,
         {0, 0, -1}},
        {"two lights add and clamp",
         {Directional(Vector(0, 0, 1), Value(0.9, 0.2, 0.6)), Directional(Vector(0.6, 0, 0.8), Value(0.9, 0.3, 0.1))},
         plain, 0, false, false, {0, 0, -1}},
        {"specular, distant viewer",
         {Directional(Vector(0, 0.6, 0.8), Value(0.5, 0.5, 0.5), Value(0, 0, 0), Value(1, 0.5, 0.25))},
         Material(Value(0.5, 0.5, 0.5), Value(0, 0, 0), Value(0, 0, 0), Value(1, 1, 1), 4.0f), 0, true, false,
         {0, 0, -1}},
        {"a long normal without NORMALIZENORMALS",
         {Directional(Vector(0, 0, 1), Value(0.25, 0.25, 0.25))}, plain, 0, false, false, {0, 0, -2}},
        {"a long normal with NORMALIZENORMALS",
         {Directional(Vector(0, 0, 1), Value(0.5, 0.5, 0.5))}, plain, 0, false, true, {0, 0, -3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UseMaterial(c.material, c.ambient);
        device_->SetRenderState(D3DRS_SPECULARENABLE, c.specular);
        device_->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
        device_->SetRenderState(D3DRS_NORMALIZENORMALS, c.normalize);
        for (DWORD i = 0; i < c.lights.size(); ++i) {
            ASSERT_EQ(device_->SetLight(i, &c.lights[i]), D3D_OK);
            ASSERT_EQ(device_->LightEnable(i, TRUE), D3D_OK);
        }
        Clear();
        ASSERT_EQ(DrawQuad(10.0f, 0xFFFFFFFF, 0, c.normal), D3D_OK);
        ffp_oracle::LightingInput in = Input(c.material, c.ambient, Vector(kHalf, kHalf, 10.0f));
        in.normal = {c.normal.x, c.normal.y, c.normal.z};
        in.lights = c.lights;
        in.specularEnable = c.specular;
        in.localViewer = false;
        in.normalizeNormals = c.normalize;
        ffp_oracle::LitColours lit = ffp_oracle::LightVertex(in);
        Colour out = lit.diffuse;
        out.r += lit.specular.r;
        out.g += lit.specular.g;
        out.b += lit.specular.b;
        ExpectArea(ffp_oracle::ToRgb(out), c.what);
        for (DWORD i = 0; i < c.lights.size(); ++i) device_->LightEnable(i, FALSE);
    }
    SaveImage("ffp_directional");
}

TEST_F(FfpTest, PointAndSpotLightsEquidistantFromTheCornersLightEvenly) {
    // The light sits on the axis through the quad's centre: every corner sees the same
    // distance and angle, so Gouraud shading fills the quad with one colour.
    const float z = 4.0f;
    const float pi = 3.14159265f;
    struct Case {
        const char* what;
        D3DLIGHT9 light;
        float viewZ;  // the view matrix moves the world by this along z
        bool specular;
    };
    D3DLIGHT9 spotInside = Point(Vector(0, 0, 1), 100, 1, 0, 0, Value(1, 0.8, 0.6));
    spotInside.Type = D3DLIGHT_SPOT;
    spotInside.Direction = Vector(0, 0, 1);
    spotInside.Theta = pi / 2;
    spotInside.Phi = pi / 1.5f;
    spotInside.Falloff = 1;
    D3DLIGHT9 spotPenumbra = spotInside;  // the corners lie between the cones
    spotPenumbra.Theta = 0.2f;
    spotPenumbra.Phi = 1.0f;
    spotPenumbra.Falloff = 2;
    D3DLIGHT9 spotOutside = spotInside;
    spotOutside.Theta = 0.1f;
    spotOutside.Phi = 0.2f;
    const Case cases[] = {
        {"attenuation (1, 0, 0)", Point(Vector(0, 0, 2), 100, 1, 0, 0, Value(0.9, 0.6, 0.3)), 0, false},
        {"attenuation (0, 1, 0)", Point(Vector(0, 0, 2), 100, 0, 1, 0, Value(1, 1, 1)), 0, false},
        {"attenuation (0, 0, 1)", Point(Vector(0, 0, 3), 100, 0, 0, 1, Value(1, 1, 1)), 0, false},
        {"attenuation (0.5, 0.2, 0.05)", Point(Vector(0, 0, 1), 100, 0.5f, 0.2f, 0.05f, Value(1, 0.5, 0.25)), 0, false},
        {"beyond the range", Point(Vector(0, 0, 1), 2.0f, 1, 0, 0, Value(1, 1, 1), Value(1, 1, 1)), 0, false},
        {"within the range", Point(Vector(0, 0, 1), 4.0f, 1, 0, 0, Value(1, 1, 1), Value(0.2, 0.2, 0.2)), 0, false},
        {"moved by the view", Point(Vector(0, 0, -3), 100, 0, 0.3f, 0, Value(1, 1, 1)), 5.0f, false},
        {"specular, local viewer",
         Point(Vector(0, 0, 0.5), 100, 1, 0, 0, Value(0.3, 0.3, 0.3), Value(0, 0, 0), Value(1, 0.75, 0.5)), 0, true},
        {"spot: corners inside the inner cone", spotInside, 0, false},
        {"spot: corners between the cones", spotPenumbra, 0, false},
        {"spot: corners outside the outer cone", spotOutside, 0, false},
    };
    const D3DMATERIAL9 material =
        Material(Value(0.75, 0.75, 0.75), Value(0.5, 0.5, 0.5), Value(0, 0, 0), Value(1, 1, 1), 8.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UseMaterial(material, 0xFF101010);
        device_->SetRenderState(D3DRS_SPECULARENABLE, c.specular);
        device_->SetRenderState(D3DRS_LOCALVIEWER, TRUE);
        D3DMATRIX view = Translation(0, 0, c.viewZ);
        device_->SetTransform(D3DTS_VIEW, &view);
        ASSERT_EQ(device_->SetLight(0, &c.light), D3D_OK);
        ASSERT_EQ(device_->LightEnable(0, TRUE), D3D_OK);
        Clear();
        // In world space the quad lies at z - viewZ; the camera sees it at z.
        ASSERT_EQ(DrawQuad(z - c.viewZ), D3D_OK);
        ffp_oracle::LightingInput in = Input(material, 0xFF101010, Vector(kHalf, kHalf, z));
        D3DLIGHT9 camera = c.light;
        camera.Position.z += c.viewZ;
        in.lights = {camera};
        in.specularEnable = c.specular;
        in.localViewer = true;
        ffp_oracle::LitColours lit = ffp_oracle::LightVertex(in);
        Colour out = lit.diffuse;
        out.r += lit.specular.r;
        out.g += lit.specular.g;
        out.b += lit.specular.b;
        // Flat areas only: the rim of a Gouraud quad is interpolated from the same corners.
        ExpectArea(ffp_oracle::ToRgb(out), c.what);
    }
    D3DMATRIX identity = Identity();
    device_->SetTransform(D3DTS_VIEW, &identity);
    SaveImage("ffp_point");
}

TEST_F(FfpTest, MaterialSourcesTakeVertexColoursOnlyWhenTheVertexHasThem) {
    D3DLIGHT9 light = Directional(Vector(0, 0, 1), Value(1, 1, 1), Value(1, 1, 1));
    ASSERT_EQ(device_->SetLight(0, &light), D3D_OK);
    ASSERT_EQ(device_->LightEnable(0, TRUE), D3D_OK);
    const D3DMATERIAL9 material = Material(Value(0.25, 0.25, 0.25), Value(0, 0, 0), Value(0, 0, 0));
    UseMaterial(material, 0);
    const DWORD vertexColour = 0xFF806040;
    struct Case {
        BOOL colorVertex;
        DWORD diffuseSource, emissiveSource;
        DWORD expected;
    };
    const Colour v = ffp_oracle::FromArgb(vertexColour);
    const Case cases[] = {
        // The default: diffuse from COLOR1, which the vertex has.
        {TRUE, D3DMCS_COLOR1, D3DMCS_MATERIAL, ffp_oracle::ToRgb(v)},
        // COLORVERTEX off: the material, whatever the source says.
        {FALSE, D3DMCS_COLOR1, D3DMCS_MATERIAL, ffp_oracle::ToRgb({0.25, 0.25, 0.25, 1})},
        // COLOR2 is the specular colour: 0 in these vertices.
        {TRUE, D3DMCS_COLOR2, D3DMCS_MATERIAL, 0x000000},
        // Emissive from COLOR1 adds the vertex colour to the material's diffuse lighting.
        {TRUE, D3DMCS_MATERIAL, D3DMCS_COLOR1,
         ffp_oracle::ToRgb({0.25 + v.r, 0.25 + v.g, 0.25 + v.b, 1})},
    };
    for (const Case& c : cases) {
        device_->SetRenderState(D3DRS_COLORVERTEX, c.colorVertex);
        device_->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, c.diffuseSource);
        device_->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, c.emissiveSource);
        Clear();
        ASSERT_EQ(DrawQuad(10.0f, vertexColour, 0), D3D_OK);
        ExpectArea(c.expected, "sources " + std::to_string(c.diffuseSource) + "/" + std::to_string(c.emissiveSource) +
                                   (c.colorVertex ? " with COLORVERTEX" : " without"));
    }
}

TEST_F(FfpTest, NonFiniteColoursAndLightsGiveADefinedColour) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // NaN counts as 0, infinity as the largest float: after the per-vertex clamp, 0 and 1.
    D3DLIGHT9 light = Directional(Vector(0, 0, 1), D3DCOLORVALUE{nan, inf, 0.5f, 1}, D3DCOLORVALUE{nan, nan, nan, 1});
    ASSERT_EQ(device_->SetLight(0, &light), D3D_OK);
    ASSERT_EQ(device_->LightEnable(0, TRUE), D3D_OK);
    D3DLIGHT9 broken = Point(Vector(nan, 0, inf), nan, nan, inf, 0, Value(1, 1, 1), D3DCOLORVALUE{inf, nan, 0, 1});
    ASSERT_EQ(device_->SetLight(1, &broken), D3D_OK);
    ASSERT_EQ(device_->LightEnable(1, TRUE), D3D_OK);
    UseMaterial(Material(D3DCOLORVALUE{1, 1, 1, 1}, D3DCOLORVALUE{nan, 0, 0, 1}), 0);
    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device_->SetRenderState(D3DRS_FOGSTART, Bits(nan));
    device_->SetRenderState(D3DRS_FOGEND, Bits(nan));
    Clear();
    ASSERT_EQ(DrawQuad(10.0f), D3D_OK);
    std::vector<DWORD> first = Read(RECT{kWidth / 4, kHeight / 4, 3 * kWidth / 4, 3 * kHeight / 4});
    // Whatever it is, it is one colour and the same again.
    Clear(0xFF123456);
    ASSERT_EQ(DrawQuad(10.0f), D3D_OK);
    std::vector<DWORD> second = Read(RECT{kWidth / 4, kHeight / 4, 3 * kWidth / 4, 3 * kHeight / 4});
    EXPECT_EQ(first, second);
    for (DWORD p : first) ASSERT_EQ(p, first[0]);
}

// ---- Fog ----

TEST_F(FfpTest, FogBlendsAQuadFacingTheCameraWithTheFogColour) {
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    const DWORD fogColour = 0xFF204060;
    device_->SetRenderState(D3DRS_FOGCOLOR, fogColour);
    const DWORD quadColour = 0xFFE0C0A0;
    struct Case {
        const char* what;
        DWORD vertexMode, tableMode;
        bool range;
        float start, end, density, z;
    };
    const Case cases[] = {
        {"vertex linear", D3DFOG_LINEAR, D3DFOG_NONE, false, 2, 30, 1, 12},
        {"vertex linear before the start", D3DFOG_LINEAR, D3DFOG_NONE, false, 20, 30, 1, 12},
        {"vertex linear beyond the end", D3DFOG_LINEAR, D3DFOG_NONE, false, 2, 8, 1, 12},
        {"vertex exp", D3DFOG_EXP, D3DFOG_NONE, false, 0, 1, 0.05f, 12},
        {"vertex exp2", D3DFOG_EXP2, D3DFOG_NONE, false, 0, 1, 0.07f, 12},
        {"vertex linear range", D3DFOG_LINEAR, D3DFOG_NONE, true, 1, 6, 1, 3},
        {"the saver's: linear range from -500 to 3000", D3DFOG_LINEAR, D3DFOG_NONE, true, -500, 3000, 1, 90},
        {"table linear", D3DFOG_NONE, D3DFOG_LINEAR, false, 2, 30, 1, 12},
        {"table exp2 wins over vertex linear", D3DFOG_LINEAR, D3DFOG_EXP2, false, 2, 30, 0.07f, 12},
        {"table exp", D3DFOG_NONE, D3DFOG_EXP, false, 0, 1, 0.1f, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device_->SetRenderState(D3DRS_FOGVERTEXMODE, c.vertexMode);
        device_->SetRenderState(D3DRS_FOGTABLEMODE, c.tableMode);
        device_->SetRenderState(D3DRS_RANGEFOGENABLE, c.range);
        device_->SetRenderState(D3DRS_FOGSTART, Bits(c.start));
        device_->SetRenderState(D3DRS_FOGEND, Bits(c.end));
        device_->SetRenderState(D3DRS_FOGDENSITY, Bits(c.density));
        Clear();
        ASSERT_EQ(DrawQuad(c.z, quadColour), D3D_OK);
        // Range fog reads the corner's distance, the same at all four.
        double d = c.range && c.tableMode == D3DFOG_NONE ? std::sqrt(2.0 * kHalf * kHalf + double{c.z} * c.z) : c.z;
        DWORD mode = c.tableMode != D3DFOG_NONE ? c.tableMode : c.vertexMode;
        double f = ffp_oracle::FogFactor(mode, c.start, c.end, c.density, d);
        Colour expected = ffp_oracle::ApplyFog(ffp_oracle::FromArgb(quadColour), f, ffp_oracle::FromArgb(fogColour));
        ExpectArea(ffp_oracle::ToRgb(expected), c.what);
    }
    SaveImage("ffp_fog");
}

TEST_F(FfpTest, PreTransformedVerticesTakeTheFogFactorFromTheSpecularAlpha) {
    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device_->SetRenderState(D3DRS_FOGCOLOR, 0xFF0000FF);
    struct Vertex {
        float x, y, z, rhw;
        DWORD diffuse, specular;
    };
    for (DWORD alpha : {0x00u, 0x40u, 0xFFu}) {
        const DWORD specular = alpha << 24;
        std::vector<Vertex> quad = {{0, 0, 0.5f, 1, 0xFFFF0000, specular},
                                    {kWidth, 0, 0.5f, 1, 0xFFFF0000, specular},
                                    {0, kHeight, 0.5f, 1, 0xFFFF0000, specular},
                                    {kWidth, kHeight, 0.5f, 1, 0xFFFF0000, specular}};
        const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR;
        IDirect3DVertexBuffer9* buffer = Vertices(quad, fvf);
        device_->SetFVF(fvf);
        device_->SetStreamSource(0, buffer, 0, sizeof(Vertex));
        Clear();
        ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        double f = alpha / 255.0;
        ExpectArea(ffp_oracle::ToRgb(ffp_oracle::ApplyFog({1, 0, 0, 1}, f, {0, 0, 1, 1})),
                   "specular alpha " + std::to_string(alpha));
    }
}

// ---- Texture stages ----

struct StageCase {
    const char* what;
    std::vector<ffp_oracle::Stage> stages;
};

ffp_oracle::Stage Op(DWORD colorOp, DWORD arg1, DWORD arg2, DWORD alphaOp = D3DTOP_SELECTARG1,
                     DWORD alphaArg1 = D3DTA_TEXTURE, DWORD alphaArg2 = D3DTA_CURRENT, DWORD arg0 = D3DTA_CURRENT,
                     DWORD result = D3DTA_CURRENT) {
    ffp_oracle::Stage s;
    s.colorOp = colorOp;
    s.colorArg0 = arg0;
    s.colorArg1 = arg1;
    s.colorArg2 = arg2;
    s.alphaOp = alphaOp;
    s.alphaArg0 = arg0;
    s.alphaArg1 = alphaArg1;
    s.alphaArg2 = alphaArg2;
    s.resultArg = result;
    return s;
}

class StageTest : public FfpTest {
protected:
    // Draws an unlit quad through stages whose textures are uniform, blended over black with
    // its own alpha so that the alpha shows, and compares with the oracle.
    void Check(const std::string& what, std::vector<ffp_oracle::Stage> stages, DWORD diffuse, DWORD specular,
               DWORD factor, bool specularEnable = false) {
        SCOPED_TRACE(what);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_TEXTUREFACTOR, factor);
        device_->SetRenderState(D3DRS_SPECULARENABLE, specularEnable);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
        const DWORD textures[3] = {0xC0F08040, 0x60408020, 0xFF2080C0};
        for (DWORD i = 0; i < 8; ++i) {
            if (i < stages.size()) {
                const ffp_oracle::Stage& s = stages[i];
                stages[i].texture = ffp_oracle::FromArgb(textures[i % 3]);
                device_->SetTexture(i, Uniform(textures[i % 3]));
                Stage(i, D3DTSS_COLOROP, s.colorOp);
                Stage(i, D3DTSS_COLORARG0, s.colorArg0);
                Stage(i, D3DTSS_COLORARG1, s.colorArg1);
                Stage(i, D3DTSS_COLORARG2, s.colorArg2);
                Stage(i, D3DTSS_ALPHAOP, s.alphaOp);
                Stage(i, D3DTSS_ALPHAARG0, s.alphaArg0);
                Stage(i, D3DTSS_ALPHAARG1, s.alphaArg1);
                Stage(i, D3DTSS_ALPHAARG2, s.alphaArg2);
                Stage(i, D3DTSS_RESULTARG, s.resultArg);
                Stage(i, D3DTSS_TEXCOORDINDEX, i % 2);
            } else {
                device_->SetTexture(i, nullptr);
                Stage(i, D3DTSS_COLOROP, D3DTOP_DISABLE);
                Stage(i, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            }
        }
        Clear();
        ASSERT_EQ(DrawQuad(10.0f, diffuse, specular), D3D_OK);
        Colour specularColour = ffp_oracle::FromArgb(specular);
        Colour c = ffp_oracle::Cascade(stages, ffp_oracle::FromArgb(diffuse), specularColour, ffp_oracle::FromArgb(factor));
        if (specularEnable) {
            c.r = std::min(1.0, c.r + specularColour.r);
            c.g = std::min(1.0, c.g + specularColour.g);
            c.b = std::min(1.0, c.b + specularColour.b);
        }
        // The blend multiplies by the 8-bit alpha.
        double a = ffp_oracle::ToAlpha8(c.a) / 255.0;
        ExpectArea(ffp_oracle::ToRgb({c.r * a, c.g * a, c.b * a, 1}), what);
    }
};

TEST_F(StageTest, EveryArithmeticOperationMatchesItsFormula) {
    const DWORD T = D3DTA_TEXTURE, C = D3DTA_CURRENT, D = D3DTA_DIFFUSE, F = D3DTA_TFACTOR, S = D3DTA_SPECULAR;
    const std::vector<StageCase> cases = {
        {"default modulate", {Op(D3DTOP_MODULATE, T, C)}},
        {"select arg 1", {Op(D3DTOP_SELECTARG1, T, C)}},
        {"select arg 2", {Op(D3DTOP_SELECTARG2, T, D, D3DTOP_SELECTARG2, T, D)}},
        {"modulate 2x", {Op(D3DTOP_MODULATE2X, T, D, D3DTOP_MODULATE2X, T, D)}},
        {"modulate 4x", {Op(D3DTOP_MODULATE4X, T, D, D3DTOP_MODULATE4X, T, D)}},
        {"add", {Op(D3DTOP_ADD, T, D, D3DTOP_ADD, T, D)}},
        {"add signed", {Op(D3DTOP_ADDSIGNED, T, D, D3DTOP_ADDSIGNED, T, D)}},
        {"add signed 2x", {Op(D3DTOP_ADDSIGNED2X, T, D, D3DTOP_ADDSIGNED2X, T, D)}},
        {"subtract", {Op(D3DTOP_SUBTRACT, T, D, D3DTOP_SUBTRACT, T, D)}},
        {"add smooth", {Op(D3DTOP_ADDSMOOTH, T, D, D3DTOP_ADDSMOOTH, T, D)}},
        {"blend diffuse alpha", {Op(D3DTOP_BLENDDIFFUSEALPHA, T, F, D3DTOP_BLENDDIFFUSEALPHA, T, F)}},
        {"blend texture alpha", {Op(D3DTOP_BLENDTEXTUREALPHA, D, F, D3DTOP_BLENDTEXTUREALPHA, D, F)}},
        {"blend factor alpha", {Op(D3DTOP_BLENDFACTORALPHA, T, D, D3DTOP_BLENDFACTORALPHA, T, D)}},
        {"blend current alpha", {Op(D3DTOP_SELECTARG1, T, C), Op(D3DTOP_BLENDCURRENTALPHA, T, F)}},
        {"blend texture alpha premultiplied", {Op(D3DTOP_BLENDTEXTUREALPHAPM, T, D, D3DTOP_SELECTARG2, T, D)}},
        {"multiply add", {Op(D3DTOP_MULTIPLYADD, T, D, D3DTOP_MULTIPLYADD, T, D, F)}},
        {"lerp", {Op(D3DTOP_LERP, T, D, D3DTOP_LERP, T, D, F)}},
        {"dot product 3", {Op(D3DTOP_DOTPRODUCT3, T, D)}},
        {"complement", {Op(D3DTOP_MODULATE, T | D3DTA_COMPLEMENT, D, D3DTOP_SELECTARG1, T | D3DTA_COMPLEMENT, D)}},
        {"alpha replicate", {Op(D3DTOP_SELECTARG1, T | D3DTA_ALPHAREPLICATE, D)}},
        {"both modifiers", {Op(D3DTOP_ADD, F | D3DTA_COMPLEMENT | D3DTA_ALPHAREPLICATE, D, D3DTOP_SELECTARG2, T, D)}},
        {"specular argument", {Op(D3DTOP_ADD, S, D, D3DTOP_SELECTARG1, S, D)}},
        {"light map: modulate 2x on the second stage", {Op(D3DTOP_MODULATE, T, D), Op(D3DTOP_MODULATE2X, C, T)}},
        {"result to temp, read later",
         {Op(D3DTOP_SELECTARG1, T, C, D3DTOP_SELECTARG1, T, C, C, D3DTA_TEMP), Op(D3DTOP_SELECTARG1, D, C),
          Op(D3DTOP_ADD, D3DTA_TEMP, C, D3DTOP_MODULATE, D3DTA_TEMP, C)}},
        {"disabled alpha keeps the current alpha",
         {Op(D3DTOP_SELECTARG1, D, C), Op(D3DTOP_MODULATE, T, C, D3DTOP_DISABLE)}},
        {"a disabled stage ends the cascade",
         {Op(D3DTOP_SELECTARG1, T, C), Op(D3DTOP_DISABLE, T, C), Op(D3DTOP_ADD, T, C)}},
        {"three stages", {Op(D3DTOP_MODULATE, T, D), Op(D3DTOP_ADDSIGNED, C, T), Op(D3DTOP_LERP, T, C, D3DTOP_ADD, T, C, F)}},
    };
    for (const StageCase& c : cases) Check(c.what, c.stages, 0xA0408060, 0x80102030, 0x7030C090);
    Check("specular added after the stages", {Op(D3DTOP_MODULATE, T, D)}, 0xFF808080, 0xFF402010, 0xFFFFFFFF, true);
    SaveImage("ffp_stages");
}

TEST_F(StageTest, AStageWithoutItsTextureLeavesTheColourAsItWas) {
    // Untextured geometry keeps its vertex colours under the default stages.
    Clear();
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    ASSERT_EQ(DrawQuad(10.0f, 0xFF336699), D3D_OK);
    ExpectArea(0x336699, "no texture");
}

TEST_F(StageTest, UnknownOperationsAndArgumentsFallBackToTheirDefaults) {
    const DWORD T = D3DTA_TEXTURE, C = D3DTA_CURRENT;
    // Stage 0's colour default is MODULATE(TEXTURE, CURRENT), its alpha SELECTARG1(TEXTURE).
    std::vector<ffp_oracle::Stage> expected = {Op(D3DTOP_MODULATE, T, C)};
    for (DWORD op : {0u, 27u, 1000u, static_cast<DWORD>(D3DTOP_BUMPENVMAP), static_cast<DWORD>(D3DTOP_PREMODULATE)}) {
        std::vector<ffp_oracle::Stage> given = {Op(op, T, C)};
        given[0].alphaOp = op;
        // The oracle draws the defaults; the device is given the unknown operation.
        device_->SetTexture(0, Uniform(0xC0F08040));
        Stage(0, D3DTSS_COLOROP, op);
        Stage(0, D3DTSS_ALPHAOP, op);
        Stage(0, D3DTSS_COLORARG1, T);
        Stage(0, D3DTSS_COLORARG2, C);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        Clear();
        ASSERT_EQ(DrawQuad(10.0f, 0xFF8080FF), D3D_OK);
        expected[0].texture = ffp_oracle::FromArgb(0xC0F08040);
        Colour c = ffp_oracle::Cascade(expected, ffp_oracle::FromArgb(0xFF8080FF), {}, {});
        ExpectArea(ffp_oracle::ToRgb(c), "operation " + std::to_string(op));
    }
    // An argument with unknown bits, or CONSTANT (not offered), is the state's default.
    Stage(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    Stage(0, D3DTSS_COLORARG1, 0x47);
    Stage(0, D3DTSS_COLORARG2, D3DTA_CONSTANT);
    Clear();
    ASSERT_EQ(DrawQuad(10.0f, 0xFF8080FF), D3D_OK);
    ExpectArea(ffp_oracle::ToRgb(ffp_oracle::Cascade(expected, ffp_oracle::FromArgb(0xFF8080FF), {}, {})),
               "unknown arguments");
}

// ---- Texture coordinates ----

TEST_F(FfpTest, CoordinateTransformsAndGenerationPickTheTexel) {
    // Left half red, right half green; the quad's coordinates are (0.25, 0.5) everywhere.
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetTexture(0, Texture(2, 1, {0xFFFF0000, 0xFF00FF00}));
    device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    const RECT left = {kWidth / 6, kHeight / 4, kWidth / 2 - 10, 3 * kHeight / 4};
    const RECT right = {kWidth / 2 + 10, kHeight / 4, 5 * kWidth / 6, 3 * kHeight / 4};
    struct Case {
        const char* what;
        DWORD index, flags;
        D3DMATRIX matrix;
        DWORD leftColour, rightColour;
    };
    D3DMATRIX offsetRow3 = Identity();
    offsetRow3._31 = 0.5f;  // (u, v, 1, 0): the offset of two-element coordinates
    D3DMATRIX offsetRow4 = Identity();
    offsetRow4._41 = 0.5f;  // ignored for two-element coordinates
    D3DMATRIX halfPlusHalf = Identity();
    halfPlusHalf._11 = 0.5f;
    halfPlusHalf._41 = 0.5f;  // (x, y, z, 1) of generated coordinates
    D3DMATRIX fromZ = Identity();
    fromZ._11 = 0.0f;
    fromZ._31 = -0.75f;  // u = -0.75 z: 0.75 for a normal or reflection of (0, 0, -1)
    D3DMATRIX projected = Identity();
    projected._22 = 0.0f;
    projected._32 = 0.5f;  // v' = 0.5, and u / v' = 0.5
    const Case cases[] = {
        {"no transform", 0, D3DTTFF_DISABLE, Identity(), 0xFF0000, 0xFF0000},
        {"COUNT2, offset in the third row", 0, D3DTTFF_COUNT2, offsetRow3, 0x00FF00, 0x00FF00},
        {"COUNT2, the fourth row unused", 0, D3DTTFF_COUNT2, offsetRow4, 0xFF0000, 0xFF0000},
        {"camera-space position", D3DTSS_TCI_CAMERASPACEPOSITION, D3DTTFF_COUNT2, halfPlusHalf, 0xFF0000, 0x00FF00},
        {"camera-space normal", D3DTSS_TCI_CAMERASPACENORMAL, D3DTTFF_COUNT2, fromZ, 0x00FF00, 0x00FF00},
        {"reflection vector", D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR, D3DTTFF_COUNT2, fromZ, 0x00FF00, 0x00FF00},
        {"projected", 0, D3DTTFF_COUNT2 | D3DTTFF_PROJECTED, projected, 0x00FF00, 0x00FF00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Stage(0, D3DTSS_TEXCOORDINDEX, c.index);
        Stage(0, D3DTSS_TEXTURETRANSFORMFLAGS, c.flags);
        device_->SetTransform(D3DTS_TEXTURE0, &c.matrix);
        device_->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
        Clear();
        ASSERT_EQ(DrawQuad(10.0f, 0xFFFFFFFF, 0, {0.0f, 0.0f, -1.0f}, 0.25f, 0.5f), D3D_OK);
        ExpectArea(c.leftColour, std::string(c.what) + ", left", left, 0);
        ExpectArea(c.rightColour, std::string(c.what) + ", right", right, 0);
    }
    SaveImage("ffp_texcoords");
}

// ---- Alpha test ----

TEST_F(FfpTest, AlphaTestComparesEightBitIntegers) {
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    struct Case {
        DWORD func, ref;
        bool drawn;
    };
    // The quad's alpha is 0x80.
    const Case cases[] = {
        {D3DCMP_GREATEREQUAL, 0x80, true}, {D3DCMP_GREATEREQUAL, 0x81, false}, {D3DCMP_GREATER, 0x80, false},
        {D3DCMP_GREATER, 0x7F, true},      {D3DCMP_EQUAL, 0x80, true},         {D3DCMP_EQUAL, 0x7F, false},
        {D3DCMP_LESS, 0x80, false},        {D3DCMP_LESS, 0x81, true},          {D3DCMP_LESSEQUAL, 0x80, true},
        {D3DCMP_NOTEQUAL, 0x80, false},    {D3DCMP_NEVER, 0x00, false},        {D3DCMP_ALWAYS, 0xFF, true},
        // Only the low byte of the reference counts.
        {D3DCMP_EQUAL, 0x180, true},
    };
    for (const Case& c : cases) {
        device_->SetRenderState(D3DRS_ALPHAFUNC, c.func);
        device_->SetRenderState(D3DRS_ALPHAREF, c.ref);
        Clear();
        ASSERT_EQ(DrawQuad(10.0f, 0x80FFFFFF), D3D_OK);
        ExpectArea(c.drawn ? 0xFFFFFF : 0x000000, "function " + std::to_string(c.func) + ", reference " + Hex(c.ref));
    }
}

// ---- The program cache ----

TEST_F(FfpTest, TheProgramCacheStaysBoundedAndRebuildsWhatItDropped) {
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetTexture(0, Uniform(0xFF808080));
    // Distinct keys: operation times alpha function times fog.
    int keys = 0;
    for (DWORD op = D3DTOP_SELECTARG1; op <= D3DTOP_LERP && keys < 200; ++op) {
        if (op == D3DTOP_PREMODULATE || op == D3DTOP_BUMPENVMAP || op == D3DTOP_BUMPENVMAPLUMINANCE) continue;
        for (DWORD func = D3DCMP_NEVER; func < D3DCMP_ALWAYS; ++func) {
            Stage(0, D3DTSS_COLOROP, op);
            device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
            device_->SetRenderState(D3DRS_ALPHAFUNC, func);
            ASSERT_EQ(DrawQuad(10.0f), D3D_OK) << op << " " << func;
            ++keys;
        }
    }
    ASSERT_GT(keys, 140);
    EXPECT_LE(rh::d3d9::testing::ProgramCount(device_), 128);
    EXPECT_GT(rh::d3d9::testing::ProgramEvictions(device_), 0u);
    // The first key was dropped long ago; it is made again and draws.
    Stage(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_ALWAYS);
    Clear();
    ASSERT_EQ(DrawQuad(10.0f), D3D_OK);
    ExpectArea(0x808080, "after eviction");
}

// ---- Values are uniforms ----

TEST_F(FfpTest, ValuesChangeTheDrawingButNotTheProgram) {
    D3DLIGHT9 light = Directional(Vector(0, 0, 1), Value(0.5, 0.5, 0.5));
    ASSERT_EQ(device_->SetLight(0, &light), D3D_OK);
    ASSERT_EQ(device_->LightEnable(0, TRUE), D3D_OK);
    UseMaterial(Material(Value(1, 1, 1), Value(1, 1, 1)), 0);
    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device_->SetRenderState(D3DRS_FOGSTART, Bits(0.0f));
    device_->SetRenderState(D3DRS_FOGEND, Bits(1000.0f));
    Clear();
    ASSERT_EQ(DrawQuad(10.0f), D3D_OK);
    const int programs = rh::d3d9::testing::ProgramCount(device_);
    const DWORD before = Pixel(kWidth / 2, kHeight / 2);
    struct Change {
        const char* what;
        std::function<void()> apply;
    };
    const Change changes[] = {
        // A light changed after it was sent is sent again.
        {"the light's colour", [&] {
             light.Diffuse = Value(0.25, 0.75, 0.5);
             device_->SetLight(0, &light);
         }},
        {"the material", [&] {
             D3DMATERIAL9 m = Material(Value(0.5, 1, 1), Value(1, 1, 1));
             device_->SetMaterial(&m);
         }},
        {"the fog end", [&] { device_->SetRenderState(D3DRS_FOGEND, Bits(20.0f)); }},
        {"the world matrix", [&] {
             D3DMATRIX world = Translation(0, 0, 5);  // further into the fog
             device_->SetTransform(D3DTS_WORLD, &world);
         }},
        {"the ambient light", [&] { device_->SetRenderState(D3DRS_AMBIENT, 0xFF400000); }},
    };
    DWORD last = before;
    for (const Change& c : changes) {
        c.apply();
        Clear();
        ASSERT_EQ(DrawQuad(10.0f), D3D_OK);
        EXPECT_EQ(rh::d3d9::testing::ProgramCount(device_), programs) << c.what;
        DWORD now = Pixel(kWidth / 2, kHeight / 2);
        EXPECT_NE(now, last) << c.what << " changed nothing";
        last = now;
    }
    // Switching the light off changes the code: a program without lights.
    ASSERT_EQ(device_->LightEnable(0, FALSE), D3D_OK);
    Clear();
    ASSERT_EQ(DrawQuad(10.0f), D3D_OK);
    EXPECT_EQ(rh::d3d9::testing::ProgramCount(device_), programs + 1);
}

TEST_F(FfpTest, UnknownBlendFactorsFiltersAndAddressModesFallBackToTheirDefaults) {
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    struct Blend {
        DWORD src, dst;
    };
    // SRCBLEND's default is ONE, DESTBLEND's ZERO: the quad replaces what was there.
    for (Blend b : {Blend{99, D3DBLEND_ZERO}, Blend{D3DBLEND_ONE, 99}, Blend{0, 0}}) {
        device_->SetRenderState(D3DRS_SRCBLEND, b.src);
        device_->SetRenderState(D3DRS_DESTBLEND, b.dst);
        Clear(0xFF404040);
        ASSERT_EQ(DrawQuad(10.0f, 0xFF802010), D3D_OK);
        ExpectArea(0x802010, "blend " + std::to_string(b.src) + ", " + std::to_string(b.dst));
    }
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    // Filters default to POINT: two texels over the quad stay two flat halves.
    device_->SetTexture(0, Texture(2, 1, {0xFFFF0000, 0xFF00FF00}));
    device_->SetSamplerState(0, D3DSAMP_MINFILTER, 99);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, 4);
    device_->SetSamplerState(0, D3DSAMP_MIPFILTER, 99);
    std::vector<MeshVertex> quad = {
        {-kHalf, kHalf, 10, 0, 0, -1, 0xFFFFFFFF, 0, 0, 0, 0, 0}, {kHalf, kHalf, 10, 0, 0, -1, 0xFFFFFFFF, 0, 1, 0, 1, 0},
        {-kHalf, -kHalf, 10, 0, 0, -1, 0xFFFFFFFF, 0, 0, 1, 0, 1}, {kHalf, -kHalf, 10, 0, 0, -1, 0xFFFFFFFF, 0, 1, 1, 1, 1}};
    device_->SetFVF(kMeshFvf);
    device_->SetStreamSource(0, Vertices(quad, kMeshFvf), 0, sizeof(MeshVertex));
    Clear();
    ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    ExpectArea(0xFF0000, "point filter, left", RECT{kWidth / 5, kHeight / 4, kWidth / 2 - 4, 3 * kHeight / 4}, 0);
    ExpectArea(0x00FF00, "point filter, right", RECT{kWidth / 2 + 4, kHeight / 4, 4 * kWidth / 5, 3 * kHeight / 4}, 0);
    // Address modes default to WRAP: u = 1.25 reads the first texel again (CLAMP would not).
    device_->SetSamplerState(0, D3DSAMP_ADDRESSU, 99);
    Clear();
    ASSERT_EQ(DrawQuad(10.0f, 0xFFFFFFFF, 0, {0.0f, 0.0f, -1.0f}, 1.25f, 0.5f), D3D_OK);
    ExpectArea(0xFF0000, "wrapped address");
}

// ---- A sweep of random states ----

TEST_F(StageTest, RandomStatesCompileLinkAndMatchTheOracle) {
    std::mt19937 random(20261211);
    auto pick = [&](int n) { return static_cast<DWORD>(std::uniform_int_distribution<int>(0, n - 1)(random)); };
    const DWORD ops[] = {D3DTOP_SELECTARG1,      D3DTOP_SELECTARG2,         D3DTOP_MODULATE,
                         D3DTOP_MODULATE2X,      D3DTOP_MODULATE4X,         D3DTOP_ADD,
                         D3DTOP_ADDSIGNED,       D3DTOP_ADDSIGNED2X,        D3DTOP_SUBTRACT,
                         D3DTOP_ADDSMOOTH,       D3DTOP_BLENDDIFFUSEALPHA,  D3DTOP_BLENDTEXTUREALPHA,
                         D3DTOP_BLENDFACTORALPHA, D3DTOP_BLENDCURRENTALPHA, D3DTOP_BLENDTEXTUREALPHAPM,
                         D3DTOP_MULTIPLYADD,     D3DTOP_LERP,               D3DTOP_DOTPRODUCT3};
    const DWORD selects[] = {D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTA_SPECULAR, D3DTA_TEMP};
    auto arg = [&] {
        DWORD a = selects[pick(6)];
        if (pick(4) == 0) a |= D3DTA_COMPLEMENT;
        if (pick(4) == 0) a |= D3DTA_ALPHAREPLICATE;
        return a;
    };
    const int kCases = 300;
    int compared = 0;
    for (int n = 0; n < kCases; ++n) {
        // Even cases: stages only, compared with the oracle. Odd ones: everything at random,
        // which must compile, link and draw.
        bool full = n % 2 == 1;
        std::vector<ffp_oracle::Stage> stages;
        DWORD count = 1 + pick(4);
        for (DWORD i = 0; i < count; ++i) {
            ffp_oracle::Stage s = Op(ops[pick(18)], arg(), arg(), ops[pick(18)], arg(), arg(), arg(),
                                     pick(4) == 0 ? D3DTA_TEMP : D3DTA_CURRENT);
            if (s.alphaOp == D3DTOP_DOTPRODUCT3 && !full) s.alphaOp = D3DTOP_MODULATE;
            stages.push_back(s);
        }
        if (!full) {
            Check("random case " + std::to_string(n), stages, 0xFF000000 | (pick(256) << 16) | (pick(256) << 8) | pick(256),
                  (pick(256) << 24) | (pick(256) << 16) | (pick(256) << 8) | pick(256),
                  (pick(256) << 24) | (pick(256) << 16) | (pick(256) << 8) | pick(256));
            ++compared;
            if (HasFatalFailure()) return;
            continue;
        }
        // Lights of random types, fog, alpha test, generated and transformed coordinates.
        device_->SetRenderState(D3DRS_LIGHTING, pick(2));
        device_->SetRenderState(D3DRS_SPECULARENABLE, pick(2));
        device_->SetRenderState(D3DRS_LOCALVIEWER, pick(2));
        device_->SetRenderState(D3DRS_NORMALIZENORMALS, pick(2));
        device_->SetRenderState(D3DRS_COLORVERTEX, pick(2));
        device_->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, pick(3));
        device_->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, pick(3));
        device_->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, pick(3));
        device_->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, pick(3));
        DWORD lights = pick(9);
        for (DWORD i = 0; i < 8; ++i) {
            D3DLIGHT9 light = Point(Vector(0, 0, 1), 100, 1, 0.1f, 0, Value(0.5, 0.5, 0.5));
            light.Type = static_cast<D3DLIGHTTYPE>(1 + pick(3));
            light.Direction = Vector(0, 0, 1);
            light.Theta = 0.5f;
            light.Phi = 1.0f;
            light.Falloff = 1.0f;
            ASSERT_EQ(device_->SetLight(i, &light), D3D_OK);
            ASSERT_EQ(device_->LightEnable(i, i < lights), D3D_OK);
        }
        device_->SetRenderState(D3DRS_FOGENABLE, pick(2));
        device_->SetRenderState(D3DRS_FOGVERTEXMODE, pick(4));
        device_->SetRenderState(D3DRS_FOGTABLEMODE, pick(3) == 0 ? pick(4) : 0);
        device_->SetRenderState(D3DRS_RANGEFOGENABLE, pick(2));
        device_->SetRenderState(D3DRS_ALPHATESTENABLE, pick(2));
        device_->SetRenderState(D3DRS_ALPHAFUNC, 1 + pick(8));
        for (DWORD i = 0; i < 8; ++i) {
            if (i < stages.size()) {
                const ffp_oracle::Stage& s = stages[i];
                device_->SetTexture(i, pick(5) == 0 ? nullptr : Uniform(0xFF808080));
                Stage(i, D3DTSS_COLOROP, s.colorOp);
                Stage(i, D3DTSS_COLORARG0, s.colorArg0);
                Stage(i, D3DTSS_COLORARG1, s.colorArg1);
                Stage(i, D3DTSS_COLORARG2, s.colorArg2);
                Stage(i, D3DTSS_ALPHAOP, s.alphaOp);
                Stage(i, D3DTSS_ALPHAARG1, s.alphaArg1);
                Stage(i, D3DTSS_ALPHAARG2, s.alphaArg2);
                Stage(i, D3DTSS_RESULTARG, s.resultArg);
                Stage(i, D3DTSS_TEXCOORDINDEX, pick(3) | (pick(5) << 16));
                Stage(i, D3DTSS_TEXTURETRANSFORMFLAGS, pick(5) | (pick(2) ? D3DTTFF_PROJECTED : 0));
            } else {
                Stage(i, D3DTSS_COLOROP, D3DTOP_DISABLE);
            }
        }
        ASSERT_EQ(DrawQuad(10.0f), D3D_OK) << "random case " << n;
        device_->SetRenderState(D3DRS_FOGENABLE, FALSE);
        device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        device_->SetRenderState(D3DRS_COLORVERTEX, TRUE);
        for (DWORD i = 0; i < 8; ++i) {
            Stage(i, D3DTSS_TEXCOORDINDEX, i);
            Stage(i, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        }
    }
    EXPECT_EQ(compared, kCases / 2);
}

}  // namespace
}  // namespace d3d9_test
