// The parallax material on the real layer: "Parallax_T.fx" compiled into its ten permutations,
// kept as binaries and loaded from them, refused binaries compiled over, a missing source
// leaving the bump materials on the fixed function; and flat quads drawn through "Bump" with 0,
// 1, 3 and 4 lights read back against the effect's formulas evaluated here in double
// precision: a height ramp shifts a gradient texture by the known parallax offset, and four
// directional lights draw in two groups, the second added on top.
//
// With RH_PARALLAX_TEST_IMAGES naming a folder the frames are written there as parallax-*.png.
#include "core/settings/engine_settings.h"
#include "core/settings/frame_stats.h"
#include "render/camera_view.h"
#include "render/effect_manager.h"
#include "render/light.h"
#include "render/material.h"
#include "render/mesh.h"
#include "render/mesh_data.h"
#include "render/parallax_material.h"
#include "render/texture.h"

#include "core/files/archive/archive_file_source.h"
#include "tests/support/png_file.h"
#include "tests/render/support/layer_app.h"
#include "tools/rarwrite/rar_writer.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using rh::test::LayerApp;
using rh::test::Rgb;

constexpr int kWidth = 256;
constexpr int kHeight = 192;
constexpr float kFov = 1.0471976f;
constexpr float kEyeDistance = 10.0f;
constexpr DWORD kBackground = 0xFF000000u;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const std::string& ParallaxSource() {
    static const std::string source = ReadFile(std::string(RH_MEDIA_DIR) + "/Shaders/Parallax_T.fx");
    return source;
}

struct Vertex {
    float position[3], normal[3], uv0[2], uv1[2], uv2[2], tangent[3], binormal[3];
};
static_assert(sizeof(Vertex) == 72, "the parallax layout");

// A 4 x 4 quad in the z = 0 plane facing -z (the camera), u along +x, v along -y.
std::unique_ptr<MeshData> QuadData(const VertexFormat& format) {
    auto data = std::make_unique<MeshData>();
    EXPECT_TRUE(data->vertices.Allocate(4, format));
    for (int i = 0; i < 4; ++i) {
        const float x = (i & 1) ? 2.0f : -2.0f;
        const float y = (i & 2) ? -2.0f : 2.0f;
        const float u = float(i & 1), v = float(i >> 1);
        const Vertex vertex{{x, y, 0}, {0, 0, -1}, {u, v}, {u, v}, {u, v}, {1, 0, 0}, {0, -1, 0}};
        std::memcpy(data->vertices.stream(0) + 72 * i, &vertex, sizeof vertex);
    }
    EXPECT_TRUE(data->indices.Allocate(6, 2));
    const uint16_t indices[6] = {0, 1, 2, 2, 1, 3};
    std::memcpy(data->indices.data(), indices, sizeof indices);
    data->ComputeBounds();
    return data;
}

std::unique_ptr<Texture> MakeTexture(int width, int height, const std::function<DWORD(int, int)>& texel) {
    auto texture = std::make_unique<Texture>();
    EXPECT_TRUE(texture->CreateEmpty(0, width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false));
    D3DLOCKED_RECT locked{};
    if (texture->LockLevel(0, 0, &locked)) {
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch);
            for (int x = 0; x < width; ++x) row[x] = texel(x, y);
        }
        texture->UnlockLevel(0);
    }
    // Kept, so that the texture is rebuilt with its texels after a device loss.
    EXPECT_TRUE(texture->SaveLevels());
    return texture;
}

DWORD Pixel(const std::vector<DWORD>& frame, int x, int y) { return frame[static_cast<size_t>(y) * kWidth + x]; }

// ---- The oracle: Parallax_T.fx's formulas in double precision.

struct D3 {
    double x, y, z;
};
D3 operator+(D3 a, D3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
D3 operator-(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
D3 operator*(D3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3 Normalise(D3 a) { return a * (1.0 / std::sqrt(Dot(a, a))); }

struct OracleLight {
    bool point;
    D3 vector;  // direction of travel, or position
    D3 diffuse, specular;
    D3 attenuation;
};

struct Scene {
    D3 ambient{0, 0, 0};
    std::vector<OracleLight> lights;
    double offsetBias = 0.01;
    double power = 16.0;
    double height = 1.0;              // the normal map's alpha
    D3 mapNormal{128.0 / 255 * 2 - 1, 128.0 / 255 * 2 - 1, 1.0};  // its RGB
    std::function<D3(double u, double v)> texel;
};

// The world point under pixel (x, y) on the z = 0 plane, for the camera at (0, 0, -10) looking
// along +z; Direct3D puts pixel centres at integer coordinates.
D3 WorldAt(int x, int y) {
    const double t = std::tan(kFov / 2.0);
    const double nx = 2.0 * x / kWidth - 1.0;
    const double ny = 1.0 - 2.0 * y / kHeight;
    return {nx * t * (double(kWidth) / kHeight) * kEyeDistance, ny * t * kEyeDistance, 0.0};
}

// The colour the quad (translated by `offset` along x) shows at a pixel, per channel 0..255.
D3 Expected(const Scene& scene, int x, int y, double offset = 0.0) {
    const D3 world = WorldAt(x, y);
    const D3 p{world.x - offset, world.y, 0.0};  // object space
    const double u = (p.x + 2.0) / 4.0, v = (2.0 - p.y) / 4.0;
    const D3 eye{-offset, 0.0, -kEyeDistance};
    // Tangent space: T = +x, B = -y, N = -z.
    auto toTangent = [](D3 w) { return D3{w.x, -w.y, -w.z}; };
    const D3 view = Normalise(toTangent(eye - p));
    const double shift = scene.height * 2.0 * scene.offsetBias - scene.offsetBias;
    const D3 colour = scene.texel(u + shift * view.x, v + shift * view.y);
    const D3 n = Normalise(scene.mapNormal);
    D3 diffuse = scene.ambient;
    D3 specular{0, 0, 0};
    for (const OracleLight& light : scene.lights) {
        D3 toLight = light.point ? toTangent(light.vector - p) : toTangent(light.vector * -1.0);
        double att = 1.0;
        if (light.point) {
            const double d = std::sqrt(Dot(toLight, toLight));
            att = 1.0 / (light.attenuation.x + light.attenuation.y * d + light.attenuation.z * d * d);
        }
        const D3 l = Normalise(toLight);
        const D3 h = Normalise(l + view);
        diffuse = diffuse + light.diffuse * (std::max(Dot(n, l), 0.0) * att);
        specular = specular + light.specular * (std::pow(std::max(Dot(n, h), 0.0), scene.power) * att);
    }
    auto channel = [](double c) { return std::min(std::max(c, 0.0), 1.0) * 255.0; };
    return {channel(colour.x * diffuse.x + specular.x), channel(colour.y * diffuse.y + specular.y),
            channel(colour.z * diffuse.z + specular.z)};
}

void ExpectPixel(const std::vector<DWORD>& frame, int x, int y, D3 want, double tolerance, const char* what) {
    const DWORD got = Pixel(frame, x, y);
    const int r = (got >> 16) & 0xFF, g = (got >> 8) & 0xFF, b = got & 0xFF;
    EXPECT_NEAR(r, want.x, tolerance) << what << " red at " << x << "," << y;
    EXPECT_NEAR(g, want.y, tolerance) << what << " green at " << x << "," << y;
    EXPECT_NEAR(b, want.z, tolerance) << what << " blue at " << x << "," << y;
}

// ---- The fixture: a device, a scratch media folder with the source, a clean manager.

class ParallaxApp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(ParallaxSource().empty()) << "the effect source is missing";
        ASSERT_TRUE(app_.Open(kWidth, kHeight));
        InvalidateStateCache();
        sourcePath_ = scratch_.Write("Media/Shaders/Parallax_T.fx", ParallaxSource());
        binaryFolder_ = scratch_.Path("Media/Shaders/Parallax_T");
        g_effectManager.ReleaseAll();
        g_effectManager.searchPaths() = SearchPaths();
        // As the saver does it: media named relative to the working directory.
        scratch_.Enter();
        g_effectManager.searchPaths().Add(FileRef("Media/Shaders"));
        saved_ = g_engineSettings;
        g_engineSettings.saveCompiledEffects = true;
        g_engineSettings.forceEffectRecompile = false;
    }
    void TearDown() override {
        g_effectManager.ReleaseAll();
        g_effectManager.searchPaths() = SearchPaths();
        g_engineSettings = saved_;
    }

    ParallaxMaterial* Bump() {
        return static_cast<ParallaxMaterial*>(g_effectManager.FindEffectMaterial("Bump", 200));
    }

    std::string BinaryPath(const char* macros) const {
        return binaryFolder_ + "/Parallax_T " + macros + "TEXCOORDSPS_MODELps_1_1.fxo";
    }

    LayerApp app_;
    rh::testing::ScratchDir scratch_{"i17-parallax"};
    std::string sourcePath_;
    std::string binaryFolder_;
    EngineSettings saved_;
};

const char* const kPermutationMacros[10] = {
    "NUMDIR0NUMPOINT0",           "DIR1NUMDIR1NUMPOINT0",          "DIR1DIR2NUMDIR2NUMPOINT0",
    "DIR1DIR2DIR3NUMDIR3NUMPOINT0", "NUMDIR0POINT1NUMPOINT1",        "DIR1NUMDIR1POINT2NUMPOINT1",
    "DIR1DIR2NUMDIR2POINT3NUMPOINT1", "NUMDIR0POINT1POINT2NUMPOINT2", "DIR1NUMDIR1POINT2POINT3NUMPOINT2",
    "NUMDIR0POINT1POINT2POINT3NUMPOINT3",
};

TEST_F(ParallaxApp, TenPermutationsAreSavedLoadedWithoutCompilingAndRefusedBinariesCompiledOver) {
    ASSERT_TRUE(g_effectManager.PreloadEffectMaterials());
    ParallaxMaterial* bump = Bump();
    ASSERT_NE(bump, nullptr);
    EXPECT_EQ(g_effectManager.FindEffectMaterial("Parallax", 100), bump);
    EXPECT_EQ(bump->permutations().size(), 10u);
    EXPECT_EQ(bump->techniques().size(), 10u) << "one Parallax technique per light-count combination";
    EXPECT_EQ(g_effectManager.cachedEffectCount(), 10);
    std::vector<std::string> binaries;
    for (const char* macros : kPermutationMacros) {
        binaries.push_back(ReadFile(BinaryPath(macros)));
        EXPECT_FALSE(binaries.back().empty()) << BinaryPath(macros);
    }
    int slot = -1;
    EXPECT_TRUE(g_frameStats.Slot(FrameStats::kLoadTimeSlot).GetInt(kStatEffectLoadTime, slot));
    EXPECT_GE(slot, 0);

    // A second run loads the binaries: a source that no longer compiles is never read.
    g_effectManager.ReleaseAll();
    scratch_.Write("Media/Shaders/Parallax_T.fx", "this is no effect");
    ASSERT_TRUE(g_effectManager.PreloadEffectMaterials());
    EXPECT_NE(Bump(), nullptr) << "loaded from the binaries";

    // Forced recompilation reads the source: now it fails, and nothing is registered.
    g_effectManager.ReleaseAll();
    g_engineSettings.forceEffectRecompile = true;
    ASSERT_TRUE(g_effectManager.PreloadEffectMaterials());
    EXPECT_EQ(Bump(), nullptr);
    EXPECT_TRUE(g_effectManager.prototypes().empty()) << "the failed material is deleted";
    EXPECT_EQ(g_effectManager.cachedEffectCount(), 0) << "no partial effect stays cached";

    // Forced recompilation ignores and overwrites a binary: one permutation's file holding
    // another's (valid) bytes is written over with its own.
    g_effectManager.ReleaseAll();
    scratch_.Write("Media/Shaders/Parallax_T.fx", ParallaxSource());
    scratch_.Write("Media/Shaders/Parallax_T/Parallax_T " + std::string(kPermutationMacros[3]) +
                       "TEXCOORDSPS_MODELps_1_1.fxo",
                   binaries[0]);
    ASSERT_TRUE(g_effectManager.PreloadEffectMaterials());
    ASSERT_NE(Bump(), nullptr);
    EXPECT_EQ(ReadFile(BinaryPath(kPermutationMacros[3])), binaries[3]);

    // A damaged binary is refused and compiled over, and the file rewritten.
    g_effectManager.ReleaseAll();
    g_engineSettings.forceEffectRecompile = false;
    std::string damaged = binaries[5];
    damaged[damaged.size() / 2] ^= 0x5A;
    scratch_.Write("Media/Shaders/Parallax_T/Parallax_T " + std::string(kPermutationMacros[5]) +
                       "TEXCOORDSPS_MODELps_1_1.fxo",
                   damaged);
    ASSERT_TRUE(g_effectManager.PreloadEffectMaterials());
    ASSERT_NE(Bump(), nullptr);
    EXPECT_EQ(ReadFile(BinaryPath(kPermutationMacros[5])), binaries[5]);
}

TEST_F(ParallaxApp, OneResourcePerSourceAndMacroListInItsOrder) {
    EffectDesc desc;
    desc.locator = FileRef("Parallax_T.fx");
    desc.saveBinary = true;
    desc.macros = {{"DIR1", ""}, {"NUMDIR", "1"}};
    SharedRef<EffectResource> a = g_effectManager.GetEffect(desc);
    SharedRef<EffectResource> b = g_effectManager.GetEffect(desc);
    ASSERT_NE(a.Get(), nullptr);
    EXPECT_EQ(a.Get(), b.Get()) << "the same file and macros share one resource";
    desc.macros = {{"NUMDIR", "1"}, {"DIR1", ""}};
    SharedRef<EffectResource> c = g_effectManager.GetEffect(desc);
    ASSERT_NE(c.Get(), nullptr);
    EXPECT_NE(a.Get(), c.Get()) << "another macro order is another effect";
    EXPECT_EQ(g_effectManager.cachedEffectCount(), 2);
    EXPECT_FALSE(ReadFile(binaryFolder_ + "/Parallax_T DIR1NUMDIR1.fxo").empty());
    EXPECT_FALSE(ReadFile(binaryFolder_ + "/Parallax_T NUMDIR1DIR1.fxo").empty());
    // The technique and its light-count annotations.
    ASSERT_EQ(a.Get()->techniques().size(), 1u);
    const TechniqueInfo& technique = *a.Get()->techniques().begin();
    EXPECT_STREQ(technique.name.Text(), "Parallax");
    EXPECT_EQ(technique.annotationSum, 1);
    EXPECT_EQ(technique.passes, 1);
    EXPECT_TRUE(a.Get()->SetTechniqueByName("Parallax"));
    EXPECT_FALSE(a.Get()->SetTechniqueByName("Missing"));
    // A source that resolves nowhere gives nothing, and nothing is cached.
    desc.locator = FileRef("Nowhere_T.fx");
    EXPECT_EQ(g_effectManager.GetEffect(desc).Get(), nullptr);
    EXPECT_EQ(g_effectManager.cachedEffectCount(), 2);
}

TEST_F(ParallaxApp, AnArchiveSourceCompilesEachRunAndWritesItsBinariesToDisk) {
    std::vector<uint8_t> archive;
    std::string error;
    std::vector<rh::rarwrite::Member> members;
    members.emplace_back("Media\\Shaders\\Parallax_T.fx", false,
                         std::vector<uint8_t>(ParallaxSource().begin(), ParallaxSource().end()));
    ASSERT_TRUE(rh::rarwrite::WriteArchive(members, rh::rarwrite::WriteOptions(), &archive, &error)) << error;
    scratch_.Write("media.rar", std::string(archive.begin(), archive.end()));
    ArchiveFileSource source;
    ASSERT_TRUE(source.Mount(FileRef("media.rar")));
    std::remove("Media/Shaders/Parallax_T.fx");  // only the archive has it now
    g_effectManager.searchPaths() = SearchPaths();
    g_effectManager.searchPaths().Add(FileRef::Member(&source, "Media\\Shaders"));

    ASSERT_TRUE(g_effectManager.PreloadEffectMaterials());
    EXPECT_NE(Bump(), nullptr);
    // The binaries went to disk under the member's path (its folder exists there).
    for (const char* macros : kPermutationMacros) EXPECT_FALSE(ReadFile(BinaryPath(macros)).empty()) << macros;
    // The archive holds no binary, so the next run compiles again: an archive source that no
    // longer compiles now fails although the disk holds binaries.
    g_effectManager.ReleaseAll();
    source.Unmount();
    members[0].data.assign({'b', 'a', 'd'});
    ASSERT_TRUE(rh::rarwrite::WriteArchive(members, rh::rarwrite::WriteOptions(), &archive, &error)) << error;
    scratch_.Write("media.rar", std::string(archive.begin(), archive.end()));
    ASSERT_TRUE(source.Mount(FileRef("media.rar")));
    ASSERT_TRUE(g_effectManager.PreloadEffectMaterials());
    EXPECT_EQ(Bump(), nullptr);
    g_effectManager.ReleaseAll();
    g_effectManager.searchPaths() = SearchPaths();
}

TEST_F(ParallaxApp, AMissingSourceLeavesBumpMaterialsOnTheFixedFunction) {
    g_effectManager.searchPaths() = SearchPaths();  // "Parallax_T.fx" is nowhere now
    g_frameStats.Slot(FrameStats::kLoadTimeSlot).SetIntProperty(kStatEffectLoadTime, -1);
    EXPECT_TRUE(g_effectManager.PreloadEffectMaterials());
    EXPECT_EQ(Bump(), nullptr);
    int slot = -1;
    EXPECT_TRUE(g_frameStats.Slot(FrameStats::kLoadTimeSlot).GetInt(kStatEffectLoadTime, slot));
    EXPECT_GE(slot, 0);

    std::unique_ptr<Texture> plain = MakeTexture(4, 4, [](int, int) { return 0xFF808080u; });
    MultiMaterial material;
    material.sub(0).maps[kDiffuseMap].texture = plain.get();
    material.sub(0).maps[kBumpMap].texture = plain.get();
    material.SelectShaderKind();
    EXPECT_EQ(material.sub(0).effectMaterial, nullptr) << "drawn by the fixed function";
}

// Drawing through "Bump": gradients, lights and the oracle.
class ParallaxDraw : public ParallaxApp {
protected:
    void SetUp() override {
        ParallaxApp::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(g_effectManager.PreloadEffectMaterials());
        ASSERT_NE(Bump(), nullptr);
        camera_.SetProjection(1.0f, 100.0f, kFov, float(kWidth) / float(kHeight));
        camera_.SetView(Vec3{0.0f, 0.0f, -kEyeDistance}, Vec3{0.0f, 0.0f, 1.0f}, Vec3{0.0f, 1.0f, 0.0f});
        context_.SetCamera(camera_);
        data_ = QuadData(Bump()->VertexElements());
        mesh_.SetSourceLink(data_.get());
        ASSERT_TRUE(mesh_.GetGeometryDesc().InitFromMeshData(*data_, nullptr, false));
        // Red follows u, green follows v: a shift of the coordinates shows as a shift of colour.
        ramp_ = MakeTexture(256, 256, [](int x, int y) { return 0xFF000000u | DWORD(x) << 16 | DWORD(y) << 8 | 0x40; });
        uniform_ = MakeTexture(4, 4, [](int, int) { return 0xFFC0A080u; });
        // A flat normal map at full height.
        normals_ = MakeTexture(4, 4, [](int, int) { return 0xFF8080FFu; });
    }

    MultiMaterial Material(Texture* diffuse) {
        MultiMaterial material;
        material.sub(0).maps[kDiffuseMap].texture = diffuse;
        material.sub(0).maps[kBumpMap].texture = normals_.get();
        material.SelectShaderKind();
        material.SetRenderContext(&context_);
        return material;
    }

    std::vector<DWORD> Draw(MultiMaterial& material, const std::vector<float>& offsets = {0.0f}) {
        app_.PumpMessages();
        EXPECT_TRUE(app_.CheckDevice());
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1.0f, 0);
        EXPECT_EQ(g_device->BeginScene(), D3D_OK);
        for (float offset : offsets) {
            context_.world = IdentityMatrix();
            if (offset != 0.0f) {
                context_.world.At(3, 0) = offset;
                context_.world.kind = kMatrixTranslation;
            }
            context_.worldBox = data_->GetBox();
            EXPECT_TRUE(mesh_.Render(&material).Succeeded());
        }
        EXPECT_EQ(g_device->EndScene(), D3D_OK);
        std::vector<DWORD> frame = app_.ReadFrame();
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        return frame;
    }

    void SetLights(std::vector<SharedRef<Light>> lights, ArgbColor ambient) {
        context_.lights = LightSet();
        context_.lights.ambient = ambient;
        for (const SharedRef<Light>& light : lights) context_.lights.Add(light);
    }

    static SharedRef<Light> Directional(Vec3 direction, float diffuse, float specular) {
        auto* light = new DirLight;
        light->SetDirection(direction);
        light->SetDiffuse(ArgbColor(1.0f, diffuse, diffuse, diffuse));
        light->SetSpecular(ArgbColor(1.0f, specular, specular, specular));
        return SharedRef<Light>(light);
    }

    static SharedRef<Light> Point(Vec3 position, float diffuse, float a1) {
        auto* light = new PointLight;
        light->SetPosition(position);
        light->SetDiffuse(ArgbColor(1.0f, diffuse, diffuse * 0.5f, diffuse * 0.25f));
        light->SetSpecular(ArgbColor(1.0f, 0.0f, 0.0f, 0.0f));
        light->SetAttenuation(1.0f, a1, 0.0f);
        light->SetRange(100.0f);
        return SharedRef<Light>(light);
    }

    static void Save(const std::vector<DWORD>& frame, const char* name) {
        rh::testing::SavePicture("RH_PARALLAX_TEST_IMAGES", std::string("parallax-") + name, kWidth, kHeight, frame);
    }

    // Pixels inside the quad (which covers about x 95..161, y 63..129), away from its edges.
    static std::vector<std::pair<int, int>> Samples() {
        return {{104, 72}, {150, 72}, {128, 96}, {104, 120}, {150, 120}, {116, 84}};
    }

    CameraView camera_;
    RenderContext context_;
    std::unique_ptr<MeshData> data_;
    Mesh mesh_;
    std::unique_ptr<Texture> ramp_, uniform_, normals_;
};

D3 RampTexel(double u, double v) {
    // Texel centres at (i + 0.5) / 256 hold i / 255; linear filtering between them.
    auto level = [](double t) { return std::min(std::max(t * 256.0 - 0.5, 0.0), 255.0) / 255.0; };
    return {level(u), level(v), 0x40 / 255.0};
}

TEST_F(ParallaxDraw, AConstantHeightShiftsTheTextureByTheParallaxOffset) {
    MultiMaterial material = Material(ramp_.get());
    ASSERT_EQ(material.sub(0).effectMaterial, Bump());
    material.properties().SetIntProperty("OffsetBias", 0);
    material.properties().Child("OffsetBias")->SetValue(0.5f);
    SetLights({}, ArgbColor(1.0f, 1.0f, 1.0f, 1.0f));
    const std::vector<DWORD> frame = Draw(material);
    Save(frame, "ramp");
    ASSERT_EQ(Bump()->passGroups().size(), 1u);
    EXPECT_EQ(Bump()->passGroups()[0].technique.annotationSum, 0);

    Scene scene;
    scene.ambient = {1, 1, 1};
    scene.offsetBias = 0.5;
    scene.texel = RampTexel;
    Scene flat = scene;
    flat.offsetBias = 0.0;
    for (const auto& s : Samples()) {
        ExpectPixel(frame, s.first, s.second, Expected(scene, s.first, s.second), 3.0, "shifted ramp");
    }
    // The shift is large enough to tell: at the quad's corners it moves u and v by ~0.04.
    const D3 shifted = Expected(scene, 104, 72), unshifted = Expected(flat, 104, 72);
    EXPECT_GT(std::fabs(shifted.x - unshifted.x), 8.0);
}

TEST_F(ParallaxDraw, OneThreeAndFourLightsMatchTheFormulasFourInTwoGroups) {
    MultiMaterial material = Material(uniform_.get());
    Scene base;
    base.texel = [](double, double) { return D3{0xC0 / 255.0, 0xA0 / 255.0, 0x80 / 255.0}; };
    base.ambient = {0.1, 0.1, 0.1};
    const ArgbColor ambient(1.0f, 0.1f, 0.1f, 0.1f);

    struct Case {
        const char* name;
        std::vector<SharedRef<Light>> lights;
        std::vector<OracleLight> oracle;
        size_t groups;
    };
    const Vec3 tilted{0.3f, -0.2f, 1.0f};
    const double tl = std::sqrt(0.09 + 0.04 + 1.0);
    const D3 tiltedUnit{0.3 / tl, -0.2 / tl, 1.0 / tl};
    std::vector<Case> cases;
    cases.push_back({"one", {Directional(tilted, 0.5f, 0.3f)},
                     {{false, tiltedUnit, {0.5, 0.5, 0.5}, {0.3, 0.3, 0.3}, {}}}, 1});
    cases.push_back({"three",
                     {Directional(Vec3{0, 0, 1}, 0.3f, 0.0f), Point(Vec3{-1, 1, -3}, 0.4f, 0.1f),
                      Point(Vec3{1, -1, -2}, 0.6f, 0.2f)},
                     {{false, {0, 0, 1}, {0.3, 0.3, 0.3}, {0, 0, 0}, {}},
                      {true, {-1, 1, -3}, {0.4, 0.2, 0.1}, {0, 0, 0}, {1, 0.1, 0}},
                      {true, {1, -1, -2}, {0.6, 0.3, 0.15}, {0, 0, 0}, {1, 0.2, 0}}},
                     1});
    cases.push_back({"four",
                     {Directional(Vec3{0, 0, 1}, 0.1f, 0.0f), Directional(Vec3{0.2f, 0, 1}, 0.15f, 0.0f),
                      Directional(Vec3{0, 0.2f, 1}, 0.2f, 0.0f), Directional(Vec3{-0.2f, 0, 1}, 0.25f, 0.0f)},
                     {{false, Normalise({0, 0, 1}), {0.1, 0.1, 0.1}, {0, 0, 0}, {}},
                      {false, Normalise({0.2, 0, 1}), {0.15, 0.15, 0.15}, {0, 0, 0}, {}},
                      {false, Normalise({0, 0.2, 1}), {0.2, 0.2, 0.2}, {0, 0, 0}, {}},
                      {false, Normalise({-0.2, 0, 1}), {0.25, 0.25, 0.25}, {0, 0, 0}, {}}},
                     2});
    // A spot light fits no technique: it is dropped, and the object is drawn by the technique
    // without lights (ambient only) rather than not at all.
    auto* spot = new SpotLight;
    spot->SetPosition(Vec3{0, 0, -3});
    spot->SetDirection(Vec3{0, 0, 1});
    spot->SetDiffuse(ArgbColor(1.0f, 1.0f, 1.0f, 1.0f));
    spot->SetRange(100.0f);
    cases.push_back({"spot", {SharedRef<Light>(spot)}, {}, 1});
    for (const Case& c : cases) {
        SetLights(c.lights, ambient);
        const std::vector<DWORD> frame = Draw(material);
        Save(frame, c.name);
        ASSERT_EQ(Bump()->passGroups().size(), c.groups) << c.name;
        Scene scene = base;
        scene.lights = c.oracle;
        for (const auto& s : Samples()) ExpectPixel(frame, s.first, s.second, Expected(scene, s.first, s.second), 3.0, c.name);
    }
    ASSERT_EQ(Bump()->passGroups().size(), 1u);
    EXPECT_EQ(Bump()->passGroups()[0].technique.annotationSum, 0) << "the spot light was dropped";
    SetLights(cases[2].lights, ambient);
    Draw(material);
    // Four directional lights: three in the first group, the fourth added on top with depth
    // EQUAL; the end puts blending off and depth writes on.
    const std::vector<PassGroup>& groups = Bump()->passGroups();
    EXPECT_EQ(groups[0].lights.size(), 3u);
    EXPECT_EQ(groups[1].lights.size(), 1u);
    DWORD zfunc = 0, blend = 1, zwrite = 0;
    g_device->GetRenderState(D3DRS_ZFUNC, &zfunc);
    g_device->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
    g_device->GetRenderState(D3DRS_ZWRITEENABLE, &zwrite);
    EXPECT_EQ(zfunc, DWORD(D3DCMP_EQUAL));
    EXPECT_EQ(blend, 0u);
    EXPECT_EQ(zwrite, 1u);
}

TEST_F(ParallaxDraw, ADirectionalLightLightsATranslatedObjectAsAnUntranslatedOneAlsoAfterALoss) {
    MultiMaterial material = Material(uniform_.get());
    SetLights({Directional(Vec3{0.3f, 0.0f, 1.0f}, 0.6f, 0.0f)}, ArgbColor(1.0f, 0.1f, 0.1f, 0.1f));
    const std::vector<DWORD> frame = Draw(material, {0.0f, -5.0f});
    Save(frame, "translated");
    Scene scene;
    scene.texel = [](double, double) { return D3{0xC0 / 255.0, 0xA0 / 255.0, 0x80 / 255.0}; };
    scene.ambient = {0.1, 0.1, 0.1};
    scene.lights = {{false, Normalise({0.3, 0, 1}), {0.6, 0.6, 0.6}, {0, 0, 0}, {}}};
    const D3 want = Expected(scene, 128, 96);
    ExpectPixel(frame, 128, 96, want, 3.0, "untranslated");
    // The translated quad lies about 83 pixels to the left.
    ExpectPixel(frame, 45, 96, Expected(scene, 45, 96, -5.0), 3.0, "translated");

    // A forced loss: effects, pool and handles come back and draw the same.
    ASSERT_TRUE(app_.ResetNow());
    const std::vector<DWORD> again = Draw(material, {0.0f, -5.0f});
    ExpectPixel(again, 128, 96, want, 3.0, "after the reset");
    ExpectPixel(again, 45, 96, Expected(scene, 45, 96, -5.0), 3.0, "translated, after the reset");
}

// Object after object the material keeps what did not change (its pass groups, parameters that
// hold their value); whatever does change between two objects must still reach the shader.
TEST_F(ParallaxDraw, WhatChangesBetweenObjectsIsDrawnWithTheNewValues) {
    MultiMaterial plain = Material(uniform_.get());
    MultiMaterial ramp = Material(ramp_.get());
    MultiMaterial* drawn = &plain;
    const SharedRef<Light> point = Point(Vec3{-1, 1, -3}, 0.4f, 0.1f);
    SetLights({point}, ArgbColor(1.0f, 0.1f, 0.1f, 0.1f));
    Scene scene;
    const auto plainTexel = [](double, double) { return D3{0xC0 / 255.0, 0xA0 / 255.0, 0x80 / 255.0}; };
    scene.texel = plainTexel;
    scene.ambient = {0.1, 0.1, 0.1};
    scene.lights = {{true, {-1, 1, -3}, {0.4, 0.2, 0.1}, {0, 0, 0}, {1, 0.1, 0}}};
    struct Step {
        const char* name;
        std::function<void()> change;
    };
    const Step steps[] = {
        {"a point light", [] {}},
        {"the light moves",
         [&] {
             point.Get()->SetPosition(Vec3{1, -1, -2});
             scene.lights[0].vector = {1, -1, -2};
         }},
        {"the light turns brighter",
         [&] {
             point.Get()->SetDiffuse(ArgbColor(1.0f, 0.8f, 0.4f, 0.2f));
             scene.lights[0].diffuse = {0.8, 0.4, 0.2};
         }},
        {"the ambient changes",
         [&] {
             context_.lights.ambient = ArgbColor(1.0f, 0.3f, 0.2f, 0.1f);
             scene.ambient = {0.3, 0.2, 0.1};
         }},
        {"another material with another texture",
         [&] {
             drawn = &ramp;
             scene.texel = RampTexel;
         }},
        {"its offset bias",
         [&] {
             ramp.properties().SetIntProperty("OffsetBias", 0);
             ramp.properties().Child("OffsetBias")->SetValue(0.5f);
             scene.offsetBias = 0.5;
         }},
        {"the first material again",
         [&] {
             drawn = &plain;
             scene.texel = plainTexel;
             scene.offsetBias = 0.01;
         }},
        {"no light",
         [&] {
             SetLights({}, ArgbColor(1.0f, 0.3f, 0.2f, 0.1f));
             scene.lights.clear();
         }},
    };
    for (const Step& step : steps) {
        step.change();
        const std::vector<DWORD> frame = Draw(*drawn);
        for (const auto& s : Samples()) ExpectPixel(frame, s.first, s.second, Expected(scene, s.first, s.second), 3.0, step.name);
    }
}

// Not a check: the pictures of the material with shaders on and off, for a person to look at.
TEST_F(ParallaxDraw, PicturesWithShadersOnAndOff) {
    // Bricks: a diffuse picture and a normal map whose height drops into the mortar.
    auto mortar = [](int x, int y) {
        const int row = y / 16;
        const int bx = (x + (row % 2) * 16) % 32;
        return (y % 16) < 2 || bx < 2;
    };
    std::unique_ptr<Texture> bricks =
        MakeTexture(128, 128, [&](int x, int y) { return mortar(x, y) ? 0xFFB0B0A8u : 0xFFA04028u + DWORD((x * 7 + y * 13) % 24); });
    std::unique_ptr<Texture> bumps = MakeTexture(128, 128, [&](int x, int y) {
        const bool m = mortar(x, y);
        const bool left = mortar(x - 1 < 0 ? 127 : x - 1, y) != m, top = mortar(x, y - 1 < 0 ? 127 : y - 1) != m;
        int nx = 128, ny = 128;
        if (left) nx = m ? 60 : 196;
        if (top) ny = m ? 196 : 60;
        return DWORD(m ? 0x20 : 0xFF) << 24 | DWORD(nx) << 16 | DWORD(ny) << 8 | 0xF0;
    });
    MultiMaterial on;
    on.sub(0).maps[kDiffuseMap].texture = bricks.get();
    on.sub(0).maps[kBumpMap].texture = bumps.get();
    on.sub(0).lit = true;
    on.properties().SetIntProperty("OffsetBias", 0);
    on.properties().Child("OffsetBias")->SetValue(0.04f);
    on.sub(0).stages[0].map.texture = bricks.get();  // what the fixed function samples
    MultiMaterial off = on;
    on.SelectShaderKind();
    ASSERT_EQ(on.sub(0).effectMaterial, Bump());
    on.SetRenderContext(&context_);
    off.SetRenderContext(&context_);
    SetLights({Point(Vec3{-1.5f, 1.5f, -1.5f}, 1.6f, 0.3f), Directional(Vec3{0.5f, -0.3f, 1.0f}, 0.5f, 0.4f)},
              ArgbColor(1.0f, 0.15f, 0.15f, 0.15f));
    // Closer, and the quad turned away a little so that the parallax shows.
    CameraView near;
    near.SetProjection(1.0f, 100.0f, kFov, float(kWidth) / float(kHeight));
    near.SetView(Vec3{0.0f, 0.0f, -4.0f}, Vec3{0.0f, 0.0f, 1.0f}, Vec3{0.0f, 1.0f, 0.0f});
    context_.SetCamera(near);
    auto turned = [&](MultiMaterial& material, const char* name) {
        app_.PumpMessages();
        ASSERT_TRUE(app_.CheckDevice());
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1.0f, 0);
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        const float c = std::cos(0.7f), s = std::sin(0.7f);
        context_.world = IdentityMatrix();
        context_.world.At(0, 0) = c;
        context_.world.At(0, 2) = -s;
        context_.world.At(2, 0) = s;
        context_.world.At(2, 2) = c;
        context_.world.kind = MatrixKindOf(context_.world);
        context_.worldBox = data_->GetBox();
        EXPECT_TRUE(mesh_.Render(&material).Succeeded());
        EXPECT_EQ(g_device->EndScene(), D3D_OK);
        Save(app_.ReadFrame(), name);
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
    };
    turned(on, "shaders-on");
    turned(off, "shaders-off");
}

}  // namespace
