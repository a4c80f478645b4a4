// A small application on the real layer: an atlas read from a description file (sub-textures
// packed by the atlas packer, one placed at its given rectangle), each sub-texture drawn as a
// screen quad with its UV rectangle and read back in place, a view playing an animation whose
// frame follows a hand-driven clock, and the same picture again after the device is lost and
// reset. With RH_TEXTURE_TEST_IMAGES naming a folder, each frame is also written there as PNG
// (through ImageMagick) to look at.
#include "render/texture_registry.h"

#include "core/time/clock_source.h"
#include "tests/support/png_file.h"
#include "tests/render/support/device_app.h"
#include "tests/render/support/picture_files.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using rh::test::DeviceApp;
using rh::test::Picture;

uint32_t g_now = 0;
uint32_t HandClock() { return g_now; }

struct QuadVertex {
    float x, y, z, rhw;
    DWORD colour;
    float u, v;
};
constexpr DWORD kQuadFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// What the description names: each sub-texture's picture, written beside it.
struct Part {
    const char* id;
    Picture picture;
};

std::vector<Part> Parts() {
    auto quadrants = [](uint32_t w, uint32_t h, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t edge) {
        const uint32_t colours[4] = {a, b, c, d};
        return rh::test::Quadrants(w, h, colours, edge);
    };
    return {
        {"logo", quadrants(16, 16, 0xFFFFFFFF, 0xFF000000, 0xFF000000, 0xFFFFFFFF, 0xFF808080)},
        {"wide", quadrants(64, 16, 0xFFC00000, 0xFF00C000, 0xFF0000C0, 0xFFC0C000, 0xFF202020)},
        {"tall", quadrants(16, 32, 0xFF40E0D0, 0xFFE040D0, 0xFFD0E040, 0xFF404040, 0xFFFFFFFF)},
        {"square", quadrants(32, 32, 0xFF102030, 0xFF203010, 0xFF301020, 0xFFA0B0C0, 0xFFFF8000)},
        {"odd", quadrants(24, 12, 0xFF0080FF, 0xFF80FF00, 0xFFFF0080, 0xFF008080, 0xFF800080)},
        {"f0", quadrants(16, 16, 0xFFFF0000, 0xFFFF0000, 0xFF800000, 0xFF800000, 0xFFFFFF00)},
        {"f1", quadrants(16, 16, 0xFF00FF00, 0xFF008000, 0xFF00FF00, 0xFF008000, 0xFFFFFF00)},
        {"f2", quadrants(16, 16, 0xFF0000FF, 0xFF000080, 0xFF000080, 0xFF0000FF, 0xFFFFFF00)},
    };
}

// Pictures come in at their own size (pictures of powers of two by default, "odd" by giving
// its size) and go into the atlas without filtering.
const char kDescription[] =
    "Width = 128; Height = 128; Format = \"D3DFMT_A8R8G8B8\"; Levels = 1;\n"
    "Subs.logo.FileName = \"logo.tga\"; Subs.logo.x1 = 104; Subs.logo.y1 = 104;\n"
    "Subs.logo.w = 16; Subs.logo.h = 16; Subs.logo.Filter = \"D3DX_FILTER_NONE\";\n"
    "Subs.wide.FileName = \"wide.tga\"; Subs.wide.ParentSpace = 1; Subs.wide.Filter = \"D3DX_FILTER_NONE\";\n"
    "Subs.tall.FileName = \"tall.tga\"; Subs.tall.ParentSpace = 1; Subs.tall.Filter = \"D3DX_FILTER_NONE\";\n"
    "Subs.square.FileName = \"square.tga\"; Subs.square.ParentSpace = 1;\n"
    "Subs.square.Filter = \"D3DX_FILTER_NONE\";\n"
    "Subs.odd.FileName = \"odd.tga\"; Subs.odd.ParentSpace = 1; Subs.odd.Width = 24; Subs.odd.Height = 12;\n"
    "Subs.odd.Filter = \"D3DX_FILTER_NONE\";\n"
    "Subs.f0.FileName = \"f0.tga\"; Subs.f0.ParentSpace = 1; Subs.f0.Delay = 100;\n"
    "Subs.f1.FileName = \"f1.tga\"; Subs.f1.ParentSpace = 1; Subs.f1.Delay = 100;\n"
    "Subs.f2.FileName = \"f2.tga\"; Subs.f2.ParentSpace = 1; Subs.f2.Delay = 200;\n"
    "Subs.f0.Filter = \"D3DX_FILTER_NONE\"; Subs.f1.Filter = \"D3DX_FILTER_NONE\";\n"
    "Subs.f2.Filter = \"D3DX_FILTER_NONE\";\n"
    "Animation.blink = array(\"f0\", \"f1\", \"f2\", \"f1\");\n";

class AtlasApp : public ::testing::Test {
protected:
    void SetUp() override {
        app_ = DeviceApp::Get();
        ASSERT_NE(app_, nullptr) << "no device";
        g_now = 5000;
        SetClockSource(&HandClock);
        scratch_.Enter();
        for (const Part& part : Parts()) {
            scratch_.Write(std::string("media/") + part.id + ".tga", rh::test::TgaFile(part.picture));
        }
        scratch_.Write("media/atlas.ts", kDescription);
        registry_.Add(FileRef("media"));
    }
    void TearDown() override {
        for (IDirect3DVertexBuffer9* buffer : buffers_) buffer->Release();
        if (atlas_ != nullptr) atlas_->Release();
        if (view_ != nullptr) {
            view_->Release();
            view_->Parent()->Release();
        }
        SetClockSource(nullptr);
    }

    // The screen place of each drawn part: a row-by-row layout with a 4-pixel gap.
    struct Placement {
        Texture* texture;
        const Picture* picture;
        int x, y;
    };

    // One frame: clears, draws every part and the view at their places, reads the back buffer
    // back before Present.
    std::vector<DWORD> DrawFrame() {
        DeviceApp::PumpMessages();
        EXPECT_TRUE(app_->CheckDevice());
        for (IDirect3DVertexBuffer9* buffer : buffers_) buffer->Release();
        buffers_.clear();
        g_device->SetRenderState(D3DRS_LIGHTING, FALSE);
        g_device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        g_device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF303030, 1.0f, 0);
        g_device->BeginScene();
        for (const Placement& p : placements_) {
            IDirect3DTexture9* texture = p.texture->GetTexture2D();
            // A view knows its frame's rectangle only once drawing advanced it.
            const UvRect uv = p.texture->IsView() ? p.texture->Playback().uv : p.texture->GetUVRect();
            const Point size = p.texture->IsView() ? p.texture->Playback().frame->GetSize() : p.texture->GetSize();
            Quad(float(p.x), float(p.y), float(p.x + size.x), float(p.y + size.y), uv, texture);
        }
        g_device->EndScene();
        std::vector<DWORD> pixels;
        EXPECT_TRUE(rh::d3d9::testing::ReadBackBuffer(g_device, RECT{0, 0, DeviceApp::kWidth, DeviceApp::kHeight},
                                                      &pixels));
        for (DWORD& p : pixels) p |= 0xFF000000;
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        return pixels;
    }

    // Direct3D samples pixel centres at integers: the quad's corners lie half a pixel up and
    // left of the pixels' corners, so each texel lands on one pixel.
    void Quad(float x0, float y0, float x1, float y1, const UvRect& uv, IDirect3DTexture9* texture) {
        x0 -= 0.5f;
        y0 -= 0.5f;
        x1 -= 0.5f;
        y1 -= 0.5f;
        const QuadVertex quad[4] = {{x0, y0, 0.5f, 1.0f, 0xFFFFFFFF, uv.left, uv.top},
                                    {x1, y0, 0.5f, 1.0f, 0xFFFFFFFF, uv.right, uv.top},
                                    {x0, y1, 0.5f, 1.0f, 0xFFFFFFFF, uv.left, uv.bottom},
                                    {x1, y1, 0.5f, 1.0f, 0xFFFFFFFF, uv.right, uv.bottom}};
        IDirect3DVertexBuffer9* buffer = nullptr;
        ASSERT_EQ(g_device->CreateVertexBuffer(sizeof quad, D3DUSAGE_WRITEONLY, kQuadFvf, D3DPOOL_MANAGED, &buffer,
                                               nullptr),
                  D3D_OK);
        buffers_.push_back(buffer);
        void* data = nullptr;
        ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, quad, sizeof quad);
        buffer->Unlock();
        g_device->SetTexture(0, texture);
        g_device->SetFVF(kQuadFvf);
        g_device->SetStreamSource(0, buffer, 0, sizeof(QuadVertex));
        EXPECT_EQ(g_device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    }

    static Picture Screen(const std::vector<DWORD>& pixels) {
        Picture p{DeviceApp::kWidth, DeviceApp::kHeight, {}};
        p.pixels.assign(pixels.begin(), pixels.end());
        return p;
    }
    static Picture Opaque(Picture p) {
        for (uint32_t& c : p.pixels) c |= 0xFF000000;
        return p;
    }

    // With RH_TEXTURE_TEST_IMAGES set, the picture as a PNG in that folder.
    static void Save(const Picture& picture, const std::string& name) {
        rh::testing::SavePicture("RH_TEXTURE_TEST_IMAGES", name, int(picture.width), int(picture.height),
                                 picture.pixels);
    }

    DeviceApp* app_ = nullptr;
    rh::testing::ScratchDir scratch_{"rh_atlas_app"};
    TextureRegistry registry_;
    Texture* atlas_ = nullptr;
    Texture* view_ = nullptr;
    std::vector<Placement> placements_;
    std::vector<IDirect3DVertexBuffer9*> buffers_;
};

TEST_F(AtlasApp, QuadsFromAnAtlasDescriptionAndAnAnimatedViewSurviveAReset) {
    const std::vector<Part> parts = Parts();
    TextureRequest request;
    request.locator = FileRef("atlas.ts");
    atlas_ = registry_.Get(request, nullptr);
    ASSERT_NE(atlas_, nullptr);
    ASSERT_EQ(atlas_->GetSize().x, 128);
    ASSERT_EQ(atlas_->SubTextures().count(), int32_t(parts.size()));

    // In the atlas: every part at its Rect, inside, none over another; the placed one where
    // its description put it.
    const Picture level = Opaque(rh::test::ReadLevel(atlas_->GetTexture2D(), 0));
    Save(level, "atlas_pixels");
    std::vector<Rect> rects;
    for (const Part& part : parts) {
        SCOPED_TRACE(part.id);
        Texture* sub = atlas_->FindSubTexture(part.id);
        ASSERT_NE(sub, nullptr);
        EXPECT_TRUE(sub->GetParentSpace());
        EXPECT_EQ(sub->GetTexture2D(), atlas_->GetTexture2D()) << "one Direct3D texture for the whole atlas";
        const Rect r = sub->GetRect();
        EXPECT_EQ(r.right - r.left, int32_t(part.picture.width));
        EXPECT_EQ(r.bottom - r.top, int32_t(part.picture.height));
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= 128 && r.bottom <= 128);
        for (const Rect& other : rects) {
            EXPECT_FALSE(r.left < other.right && other.left < r.right && r.top < other.bottom && other.top < r.bottom);
        }
        rects.push_back(r);
        EXPECT_TRUE(rh::test::ShowsAt(level, uint32_t(r.left), uint32_t(r.top), Opaque(part.picture)));

        // The UV rectangle and the texture transform that maps 0..1 onto it.
        const UvRect uv = sub->GetUVRect();
        EXPECT_FLOAT_EQ(uv.left, float(r.left) / 128.0f);
        EXPECT_FLOAT_EQ(uv.bottom, float(r.bottom) / 128.0f);
        const TypedMatrix m = sub->GetUVMatrix();
        for (const float corner : {0.0f, 1.0f}) {
            EXPECT_FLOAT_EQ(corner * m.m[0] + corner * m.m[4] + m.m[8], corner == 0.0f ? uv.left : uv.right);
            EXPECT_FLOAT_EQ(corner * m.m[1] + corner * m.m[5] + m.m[9], corner == 0.0f ? uv.top : uv.bottom);
        }
    }
    EXPECT_TRUE(RectsEqual(atlas_->FindSubTexture("logo")->GetRect(), Rect(104, 104, 120, 120)));

    // The animation as a view, from a request for it by Id.
    TextureRequest blink;
    blink.locator = FileRef("atlas.ts");
    blink.flags = kRequestId;
    blink.id = "blink";
    view_ = registry_.Get(blink, nullptr);
    ASSERT_NE(view_, nullptr);
    ASSERT_TRUE(view_->PlaysAnimation());
    EXPECT_EQ(view_->Parent(), atlas_) << "shared with the first request";

    int x = 4, y = 4, rowHeight = 0;
    for (const Part& part : parts) {
        if (x + int(part.picture.width) > DeviceApp::kWidth - 4) {
            x = 4;
            y += rowHeight + 4;
            rowHeight = 0;
        }
        placements_.push_back({atlas_->FindSubTexture(part.id), &part.picture, x, y});
        x += int(part.picture.width) + 4;
        rowHeight = std::max(rowHeight, int(part.picture.height));
    }
    const int viewX = 200, viewY = 150;
    placements_.push_back({view_, nullptr, viewX, viewY});

    // The animation names f1 twice: it plays once, so f0 100 ms, f1 100 ms, f2 200 ms, a cycle
    // of 400 ms from 5000 on.
    struct Moment {
        uint32_t now;
        const char* frame;
    };
    const Moment moments[] = {{5000, "f0"}, {5150, "f1"}, {5250, "f2"}, {5420, "f0"}, {5500, "f1"}, {9260, "f2"}};
    std::vector<DWORD> first;
    for (const Moment& moment : moments) {
        SCOPED_TRACE(std::string("at ") + std::to_string(moment.now));
        g_now = moment.now;
        const std::vector<DWORD> pixels = DrawFrame();
        if (first.empty()) first = pixels;
        const Picture screen = Screen(pixels);
        Save(screen, "atlas_" + std::to_string(moment.now));
        for (size_t i = 0; i + 1 < placements_.size(); ++i) {
            EXPECT_TRUE(rh::test::ShowsAt(screen, uint32_t(placements_[i].x), uint32_t(placements_[i].y),
                                          Opaque(*placements_[i].picture)))
                << parts[i].id;
        }
        for (const Part& part : parts) {
            if (std::strcmp(part.id, moment.frame) != 0) continue;
            EXPECT_TRUE(rh::test::ShowsAt(screen, viewX, viewY, Opaque(part.picture))) << "the view shows " << part.id;
        }
    }

    // Lost and reset: every texture is built again, the picture is the same.
    ASSERT_TRUE(app_->LoseAndReset());
    // The view's playback runs on: nine cycles after the first frame it shows f0 again.
    g_now = 5000 + 9 * 400;
    const std::vector<DWORD> again = DrawFrame();
    const Picture before = Screen(first);
    const Picture after = Screen(again);
    Save(after, "atlas_after_reset");
    EXPECT_TRUE(rh::test::ShowsAt(after, 0, 0, before)) << "the same picture after the reset";
}

}  // namespace
