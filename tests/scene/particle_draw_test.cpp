// Particle emitters drawn on the real layer: the quad corners, texture coordinates, normals,
// shared values and box as the vertex buffer holds them; a sprite's size against the point
// formula; a lamp-style emitter that never moves; and the snow, falling from an emitter set up
// from the scene keys, drawn once as point sprites and once as quads (pictures written when
// RIMEHOLT_FRAME_DIR names a folder).

#include "scene/particle_emitter.h"

#include "core/object/property_node.h"
#include "core/time/clock_source.h"
#include "render/geometry.h"
#include "render/hardware_buffer.h"
#include "render/material.h"
#include "render/texture_registry.h"
#include "core/files/search_paths.h"
#include "tests/render/support/layer_app.h"
#include "tests/support/png_file.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using rh::test::LayerApp;
namespace layer = rh::d3d9::testing;

uint32_t g_now = 100000;
uint32_t TestClock() { return g_now; }

struct QuadVertex {
    float x, y, z, nx, ny, nz;
    DWORD colour;
    float u, v;
};

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// A disc of white with alpha falling to the edge, as an RGBA PNG.
bool WriteFlake(const std::string& path, int side) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, side, side, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<size_t>(side) * 4);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            double dx = (x + 0.5) / side - 0.5, dy = (y + 0.5) / side - 0.5;
            double a = std::max(0.0, 1.0 - 2.0 * std::sqrt(dx * dx + dy * dy));
            png_byte* p = &row[static_cast<size_t>(x) * 4];
            p[0] = p[1] = p[2] = 255;
            p[3] = static_cast<png_byte>(std::lround(255 * std::min(1.0, a * 1.6)));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return true;
}

class ParticleDrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 100000;
        SetClockSource(&TestClock);
        g_particleTimeStep = 0.1f;
        ASSERT_TRUE(app_.Open(kWidth, kHeight));
        material_.SetRenderContext(&context_);
        // The camera at the origin looking along +z, 45 degrees vertically.
        context_.view = IdentityMatrix();
        TypedMatrix projection;
        const float zn = 1.0f, zf = 2000.0f, ys = 1.0f / std::tan(0.5f * 0.785398f);
        const float rows[16] = {ys * kHeight / kWidth, 0, 0, 0, 0, ys, 0, 0, 0, 0, zf / (zf - zn), 1,
                                0, 0, -zn * zf / (zf - zn), 0};
        std::memcpy(projection.m, rows, sizeof rows);
        projection.kind = kMatrixGeneral;
        context_.projection = projection;
        context_.viewProjection = projection;
        SubMaterial& sub = material_.sub(0);
        sub.zEnable = 0;
        sub.zWrite = 0;
        sub.cullMode = D3DCULL_NONE;
    }
    void TearDown() override {
        // The references Get handed out; the registry deletes the textures with itself.
        for (Texture* texture : loaded_) texture->Release();
        SetClockSource(nullptr);
    }

    void Frame(ParticleEmitter& emitter, bool expectOk = true) {
        app_.StartFrame();
        ASSERT_TRUE(g_device->BeginScene() == D3D_OK);
        FlagWord ok = emitter.UpdateParticles(&material_);
        g_device->EndScene();
        if (expectOk) {
            EXPECT_NE(ok.value, 0);
        }
    }
    // Pixels of the frame brighter than the threshold in any channel.
    static int Bright(const std::vector<DWORD>& frame, int threshold) {
        int n = 0;
        for (DWORD p : frame) {
            int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            n += std::max({r, g, b}) > threshold ? 1 : 0;
        }
        return n;
    }
    // Pixel position of a world point for this camera; false behind it or off screen.
    bool Project(Vec3 p, double* x, double* y) const {
        if (p.z <= 1.0f) return false;
        const float* m = context_.projection.m;
        double nx = p.x * m[0] / p.z, ny = p.y * m[5] / p.z;
        *x = (nx + 1.0) * 0.5 * kWidth;
        *y = (1.0 - ny) * 0.5 * kHeight;
        return *x >= 0 && *x < kWidth && *y >= 0 && *y < kHeight;
    }
    std::vector<QuadVertex> DrawnQuads(ParticleEmitter& emitter, int count) {
        std::vector<BYTE> bytes;
        GrowableBuffer* buffer = emitter.GetGeometry().Get()->streamBuffer(0);
        EXPECT_TRUE(layer::ReadBufferObject(buffer->GetVertexBuffer(), &bytes));
        std::vector<QuadVertex> out(static_cast<size_t>(count) * 6);
        EXPECT_GE(bytes.size(), out.size() * sizeof(QuadVertex));
        if (bytes.size() >= out.size() * sizeof(QuadVertex)) std::memcpy(out.data(), bytes.data(), out.size() * 36);
        return out;
    }
    Texture* FlakeTexture() {
        std::string folder = ::testing::TempDir();
        EXPECT_TRUE(WriteFlake(folder + "particle_flake.png", 16));
        // As the scene loader asks: a bare name against the scene's search paths.
        SearchPaths paths;
        paths.Add(FileRef(folder.c_str()));
        TextureRequest request;
        request.locator = FileRef("particle_flake.png");
        request.locator.flags = FileRef::kDisk | FileRef::kArchive;
        Texture* texture = registry_.Get(request, &paths);
        if (texture != nullptr) loaded_.push_back(texture);
        return texture;
    }
    void SavePicture(const char* name) {
        std::string folder = rh::testing::PictureFolder("RIMEHOLT_FRAME_DIR");
        if (folder.empty()) return;
        std::vector<DWORD> frame = app_.ReadFrame();
        rh::testing::WritePngFile(folder + "/" + name, kWidth, kHeight, std::vector<uint32_t>(frame.begin(), frame.end()));
    }

    LayerApp app_;
    // Gone before the device: it deletes the textures it loaded.
    TextureRegistry registry_;
    std::vector<Texture*> loaded_;
    MultiMaterial material_;
    RenderContext context_;
};

// Vertex 1 is (-S, -U) with (left u, top v); S is the camera's left (-x here), U its up;
// every normal is -F; the box holds the positions only.
TEST_F(ParticleDrawTest, QuadCornersCoordinatesAndSharedValues) {
    app_.ClearPointCaps(true, false);
    ParticleEmitter emitter;
    emitter.particleLimit = 4;
    Particle a;
    a.position = Vec3{1.0f, 2.0f, 50.0f};
    a.width = 4.0f;
    a.height = 2.0f;
    a.colour = ArgbColor(1.0f, 1.0f, 0.0f, 0.0f);
    a.rect = UvRect{0.25f, 0.5f, 0.75f, 1.0f};
    a.life = -1;
    Particle b = a;
    b.position = Vec3{-3.0f, 0.0f, 60.0f};
    b.width = b.height = 1.0f;
    b.colour = ArgbColor(1.0f, 0.0f, 0.0f, 1.0f);
    b.rect = UvRect{0.0f, 0.0f, 0.5f, 0.5f};
    emitter.particles.Append(a);
    emitter.particles.Append(b);
    Frame(emitter);
    EXPECT_EQ(emitter.GetGeometry().Get()->primitiveType(), D3DPT_TRIANGLELIST);
    std::vector<QuadVertex> v = DrawnQuads(emitter, 2);
    // S = (-1, 0, 0), U = (0, 1, 0): -S is +x.
    struct Corner {
        float dx, dy, u, v;
    };
    const Corner corners[6] = {{+2, -1, 0.25f, 0.5f}, {-2, -1, 0.75f, 0.5f}, {+2, +1, 0.25f, 1.0f},
                               {-2, -1, 0.75f, 0.5f}, {-2, +1, 0.75f, 1.0f}, {+2, +1, 0.25f, 1.0f}};
    for (int k = 0; k < 6; ++k) {
        SCOPED_TRACE(k + 1);
        EXPECT_FLOAT_EQ(v[k].x, 1.0f + corners[k].dx);
        EXPECT_FLOAT_EQ(v[k].y, 2.0f + corners[k].dy);
        EXPECT_FLOAT_EQ(v[k].z, 50.0f);
        EXPECT_EQ(v[k].u, corners[k].u);
        EXPECT_EQ(v[k].v, corners[k].v);
        EXPECT_EQ(v[k].nz, -1.0f);
        EXPECT_EQ(v[k].colour, 0xFFFF0000u);
        EXPECT_EQ(v[6 + k].colour, 0xFF0000FFu);
    }
    EXPECT_EQ(v[6].u, 0.0f);
    EXPECT_FLOAT_EQ(v[6].x, -3.0f + 0.5f);
    EXPECT_TRUE(emitter.IsValid());
    EXPECT_FLOAT_EQ(emitter.GetBox().centre.x, -1.0f);
    EXPECT_FLOAT_EQ(emitter.GetBox().size.z, 10.0f);

    // Shared switches take the first particle's size, colour and rectangle for all.
    emitter.constantSize = emitter.equalColours = emitter.singleTexture = true;
    Frame(emitter);
    v = DrawnQuads(emitter, 2);
    EXPECT_EQ(v[6].colour, 0xFFFF0000u);
    EXPECT_EQ(v[6].u, 0.25f);
    EXPECT_FLOAT_EQ(v[6].x, -3.0f + 2.0f);

    // Nothing to draw draws nothing and succeeds.
    emitter.particles.Clear();
    layer::ResetDrawCallCount(g_device);
    Frame(emitter);
    EXPECT_EQ(layer::DrawCallCount(g_device), 0u);
}

// A single-texture, constant-size emitter draws points of Vh x size / (2 De) pixels.
TEST_F(ParticleDrawTest, SpriteSizeFollowsThePointFormula) {
    ParticleEmitter emitter;
    emitter.particleLimit = 2;
    emitter.singleTexture = emitter.constantSize = emitter.equalColours = true;
    Particle p;
    p.position = Vec3{0.0f, 0.0f, 100.0f};
    p.width = p.height = 20.0f;
    p.life = -1;
    emitter.particles.Append(p);
    Frame(emitter);
    EXPECT_EQ(emitter.GetGeometry().Get()->primitiveType(), D3DPT_POINTLIST);
    std::vector<DWORD> frame = app_.ReadFrame();
    int lit = 0;
    for (int x = 0; x < kWidth; ++x) lit += (frame[static_cast<size_t>(kHeight / 2) * kWidth + x] & 0xFFFFFF) != 0;
    EXPECT_NEAR(lit, kHeight * 20.0 / (2.0 * 100.0), 1.01);
}

// Lamps: no scheduler, particles appended by hand with life -1 and no acceleration: nothing
// moves or expires, and a changed alpha shows.
TEST_F(ParticleDrawTest, LampEmitterKeepsItsParticlesAndShowsAlpha) {
    ParticleEmitter emitter;
    emitter.particleLimit = 8;
    emitter.singleTexture = emitter.constantSize = true;
    material_.sub(0).blendEnable = true;
    material_.sub(0).vertexAlpha = true;
    material_.sub(0).stages[0].SetAlphaSource(4);
    for (int i = 0; i < 3; ++i) {
        Particle p;
        p.position = Vec3{-20.0f + 20.0f * i, 0.0f, 100.0f};
        p.width = p.height = 16.0f;
        p.life = -1;
        emitter.particles.Append(p);
    }
    int levels[2] = {};
    for (int frame = 0; frame < 2; ++frame) {
        float alpha = frame == 0 ? 1.0f : 0.4f;
        auto* node = emitter.particles.first();
        for (int i = 0; i < emitter.particles.count(); ++i, node = node->next) node->element.colour.a = alpha;
        g_now += 5000;
        Frame(emitter);
        ASSERT_EQ(emitter.particles.count(), 3);
        EXPECT_EQ(emitter.particles.first()->element.position.x, -20.0f);
        std::vector<DWORD> pixels = app_.ReadFrame();
        levels[frame] = static_cast<int>((pixels[static_cast<size_t>(kHeight / 2) * kWidth + kWidth / 2] >> 8) & 0xFF);
    }
    EXPECT_GT(levels[0], 240);
    EXPECT_NEAR(levels[1], 0.4 * 255, 8);
}

// The city's snow: an emitter set up from the scene keys, 200 units ahead of the camera, half
// its limit spawned at random ages, flakes below y = -20 removed, a few hundred frames on the
// hand-driven clock; once on the sprite path and once with sprites forbidden.
TEST_F(ParticleDrawTest, SnowFallsOnBothPaths) {
    Texture* flake = FlakeTexture();
    ASSERT_NE(flake, nullptr);
    for (bool quads : {false, true}) {
        SCOPED_TRACE(quads ? "quads" : "sprites");
        if (quads) app_.ClearPointCaps(true, true);
        std::srand(11);
        PropertyNode props;
        auto set = [&](const char* key, std::vector<const char*> items) {
            if (items.size() == 1) {
                props.SetChildString(String(key), String(items[0]));
                return;
            }
            props.SetChildString(String(key), String(""));
            for (size_t i = 0; i < items.size(); ++i) {
                props.Child(String(key))->SetChildString(String(std::to_string(i).c_str()), String(items[i]));
            }
        };
        set("MaxParticles", {"8000"});
        set("IterationAccuracy", {"1"});
        set("GenPeriod", {"2"});
        set("EmitDir", {"0", "-1", "0"});
        set("DirDeviation", {"0", "10", "1.7", "5"});
        set("Acceleration", {"-0.00001", "-0.00003", "0"});
        set("ParticleSize", {"0.75"});
        set("ParticleLife", {"18000"});
        set("StartColor", {"0.3", "1", "1", "1"});
        set("EndColor", {"1", "1", "1", "1"});
        set("SpawnArea", {"0", "1", "300", "300"});
        set("SpawnType", {"1"});
        set("StartSpeed", {"0.01", "10", "0.02", "5"});
        MultiMaterial material;
        material.SetRenderContext(&context_);
        material.sub(0) = material_.sub(0);
        material.sub(0).blendEnable = true;
        material.sub(0).srcBlend = D3DBLEND_SRCALPHA;
        material.sub(0).destBlend = D3DBLEND_ONE;
        ParticleEmitter emitter;
        emitter.Setup(props, material, flake);
        ASSERT_TRUE(emitter.singleTexture && emitter.constantSize);
        TypedMatrix world;
        world.At(3, 1) = 60.0f;
        world.At(3, 2) = 200.0f;
        world.kind = kMatrixGeneral;
        context_.world = world;
        for (int i = 0; i < emitter.particleLimit / 2; ++i) {
            Particle p;
            emitter.SpawnParticle(&material, p);
            int age = std::rand() % 18000;
            float s = age * g_particleTimeStep;
            p.birth = static_cast<int64_t>(g_now) - age;
            p.position = Vec3Add(p.position, Vec3Scale(p.velocity, s));
            p.position = Vec3Add(p.position, Vec3Scale(emitter.acceleration, 0.5f * s * s));
            emitter.particles.Append(p);
        }
        emitter.lastUpdate = g_now;
        for (int frame = 0; frame < 300; ++frame) {
            g_now += 20;
            context_.world = world;
            app_.StartFrame();
            ASSERT_TRUE(g_device->BeginScene() == D3D_OK);
            EXPECT_NE(emitter.UpdateParticles(&material).value, 0);
            g_device->EndScene();
            // The application's clean-up: flakes that fell below the ground go.
            auto* node = emitter.particles.first();
            for (int i = 0, n = emitter.particles.count(); i < n; ++i) {
                auto* next = node->next;
                if (node->element.position.y < -20.0f) {
                    emitter.particles.SetCursor(node);
                    emitter.particles.Take();
                }
                node = next;
            }
        }
        EXPECT_EQ(emitter.GetGeometry().Get()->primitiveType(), quads ? D3DPT_TRIANGLELIST : D3DPT_POINTLIST);
        // The last frame again, with the flakes as they are now, to compare with the picture.
        app_.StartFrame();
        ASSERT_TRUE(g_device->BeginScene() == D3D_OK);
        emitter.lastUpdate = g_now;
        emitter.spawnScheduler = RandomIntervalScheduler();
        EXPECT_NE(emitter.UpdateParticles(&material).value, 0);
        g_device->EndScene();
        SavePicture(quads ? "snow_quads.png" : "snow_sprites.png");
        int inView = 0;
        std::vector<bool> covered(static_cast<size_t>(kWidth) * kHeight, false);
        auto* node = emitter.particles.first();
        for (int i = 0; i < emitter.particles.count(); ++i, node = node->next) {
            double x, y;
            if (!Project(node->element.position, &x, &y)) continue;
            ++inView;
            covered[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)] = true;
        }
        int distinct = 0;
        for (bool c : covered) distinct += c ? 1 : 0;
        int bright = Bright(app_.ReadFrame(), 8);
        EXPECT_GT(inView, 500);
        // Near flakes cover a few pixels, far ones share theirs.
        EXPECT_GT(bright, distinct * 0.6) << inView << " flakes in view";
        std::printf("%s: %d flakes in view on %d pixels, %d bright\n", quads ? "quads" : "sprites", inView, distinct, bright);
        EXPECT_LT(bright, distinct * 4 + 50) << inView << " flakes in view";
    }
}

// Pictures of an atlas: without "TexGen" the texture's animation is the one name; with it,
// each particle starts the named sub-texture by its weight, and an unknown name shows the
// whole picture.
TEST_F(ParticleDrawTest, TextureNamesPickSubTexturesAndAnimations) {
    std::string folder = ::testing::TempDir();
    ASSERT_TRUE(WriteFlake(folder + "particle_atlas.png", 32));
    FILE* ts = std::fopen((folder + "particle_atlas.ts").c_str(), "wb");
    ASSERT_NE(ts, nullptr);
    std::fputs("FileName = \"particle_atlas.png\";\n"
               "Subs.a.Rect = array(0, 0, 16, 16); Subs.a.ParentSpace = 1; Subs.a.Delay = 100;\n"
               "Subs.b.Rect = array(16, 0, 32, 16); Subs.b.ParentSpace = 1; Subs.b.Delay = 100;\n"
               "Subs.c.Rect = array(0, 16, 16, 32); Subs.c.ParentSpace = 1; Subs.c.Delay = 100;\n"
               "Subs.d.Rect = array(16, 16, 32, 32); Subs.d.ParentSpace = 1; Subs.d.Delay = 100;\n"
               "Animation.spin = array(\"a\", \"b\", \"c\", \"d\");\n",
               ts);
    std::fclose(ts);
    SearchPaths paths;
    paths.Add(FileRef(folder.c_str()));
    TextureRequest request;
    request.locator = FileRef("particle_atlas.ts");
    request.locator.flags = FileRef::kDisk;
    Texture* atlas = registry_.Get(request, &paths);
    ASSERT_NE(atlas, nullptr);
    loaded_.push_back(atlas);
    ASSERT_EQ(atlas->SubTextures().count(), 4);
    ASSERT_EQ(atlas->Animations().count(), 1);

    PropertyNode props;
    props.SetChildString(String("MaxParticles"), String("10"));
    ParticleEmitter animated;
    animated.Setup(props, material_, atlas);
    EXPECT_EQ(animated.textureNames.weights.count(), 1);
    EXPECT_TRUE(animated.singleTexture);
    Particle first;
    animated.SpawnParticle(&material_, first);
    EXPECT_EQ(first.playback.animation, atlas->Animations().first()->value);
    EXPECT_EQ(first.rect.right, 0.5f);
    EXPECT_EQ(first.rect.bottom, 0.5f);

    props.SetChildString(String("TexGen"), String(""));
    PropertyNode* names = props.Child(String("TexGen"));
    names->SetChildString(String("b"), String("10"));
    names->SetChildString(String("d"), String("30"));
    ParticleEmitter weighted;
    weighted.Setup(props, material_, atlas);
    EXPECT_FALSE(weighted.singleTexture);
    std::srand(17);
    int b = 0, d = 0;
    for (int i = 0; i < 4000; ++i) {
        Particle p;
        weighted.SpawnParticle(&material_, p);
        b += p.rect.left == 0.5f && p.rect.top == 0.0f ? 1 : 0;
        d += p.rect.left == 0.5f && p.rect.top == 0.5f ? 1 : 0;
    }
    EXPECT_EQ(b + d, 4000);
    EXPECT_NEAR(d / 4000.0, 0.75, 0.03);

    names->SetChildString(String("zz"), String("10"));
    names->SetChildString(String("b"), String("0"));
    names->SetChildString(String("d"), String("0"));
    ParticleEmitter unknown;
    unknown.Setup(props, material_, atlas);
    Particle whole;
    unknown.SpawnParticle(&material_, whole);
    EXPECT_EQ(whole.rect.left, 0.0f);
    EXPECT_EQ(whole.rect.right, 1.0f);
    EXPECT_EQ(whole.rect.bottom, 1.0f);
}


}  // namespace
