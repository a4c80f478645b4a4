// Skin windows and image tiles: the quad maths, skin descriptions, and a small scene drawn on
// the real layer and read back.
#include "core/files/mem_stream.h"
#include "core/script/script_node.h"
#include "core/script/script_parser.h"
#include "gui/gui_root.h"
#include "gui/skin_window.h"
#include "render/mesh.h"
#include "render/texture.h"
#include "tests/render/support/layer_app.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using rh::test::LayerApp;

// u, v of the six vertices and the corner positions.
TEST(ImageTileQuad, TextureCoordinates) {
    struct Case {
        const char* what;
        Rect unclipped, clipped;
        float uMin, vMin, uMax, vMax;
        bool tiledX, tiledY;
        Point textureSize;
        float u0, v0, u1, v1;
    };
    const Case cases[] = {
        {"whole picture", Rect(10, 20, 100, 50), Rect(10, 20, 100, 50), 0, 0, 1, 1, false, false, {32, 32},
         0, 0, 1, 1},
        {"tiled 100 px on a 32 px texture", Rect(10, 20, 100, 50), Rect(10, 20, 100, 50), 0.25f, 0, 0.5f, 1,
         true, false, {32, 32}, 0, 0, 3.125f, 1},
        {"tiled both ways", Rect(0, 0, 64, 48), Rect(0, 0, 64, 48), 0, 0, 1, 1, true, true, {32, 16}, 0, 0, 2,
         3},
        {"right half", Rect(10, 20, 100, 50), Rect(60, 20, 50, 50), 0, 0, 1, 1, false, false, {32, 32}, 0.5f,
         0, 1, 1},
        {"part of a picture, bottom half", Rect(0, 0, 10, 10), Rect(0, 5, 10, 5), 0.25f, 0.5f, 0.75f, 1.0f,
         false, false, {8, 8}, 0.25f, 0.75f, 0.75f, 1.0f},
        {"tiled and clipped", Rect(0, 0, 100, 10), Rect(50, 0, 50, 10), 0, 0, 1, 1, true, false, {32, 32},
         1.5625f, 0, 3.125f, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        float v[30];
        ImageTile::ComputeQuad(c.unclipped, c.clipped, c.uMin, c.vMin, c.uMax, c.vMax, c.tiledX, c.tiledY,
                               c.textureSize, 0.25f, v);
        const float l = c.clipped.left - 0.5f, t = c.clipped.top - 0.5f;
        const float r = c.clipped.left + c.clipped.right - 0.5f, b = c.clipped.top + c.clipped.bottom - 0.5f;
        // left-top, right-top, left-bottom, right-top, right-bottom, left-bottom
        const float want[30] = {l, t, 0.25f, c.u0, c.v0, r, t, 0.25f, c.u1, c.v0, l, b, 0.25f, c.u0, c.v1,
                                r, t, 0.25f, c.u1, c.v0, r, b, 0.25f, c.u1, c.v1, l, b, 0.25f, c.u0, c.v1};
        for (int i = 0; i < 30; ++i) EXPECT_FLOAT_EQ(v[i], want[i]) << "value " << i;
    }
}

std::unique_ptr<ScriptNode> Parse(const std::string& text) {
    auto root = std::make_unique<ScriptNode>();
    MemStream stream;
    stream.Open(String(), 1);
    stream.ShowData(text.data(), static_cast<int32_t>(text.size()), true);
    ParseScript(&stream, root.get(), nullptr);
    return root;
}

std::string RectText(const Rect& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// A frame of tiles: "body" fills the window but leaves 4 px for "rightBar", which is
// described after the tile that anchors to it.
TEST(LoadSkin, TilesAnchorsAndStates) {
    SkinWindow w;
    w.SetRect(0, 0, 100, 50);
    auto node = Parse(
                "Tiles.body.anchors.X1.tile = \"PARENT\"; Tiles.body.anchors.X1.align = \"X1\";"
        "Tiles.body.anchors.X2.tile = \"rightBar\"; Tiles.body.anchors.X2.align = \"X1\";"
        "Tiles.body.anchors.Y1.tile = \"PARENT\"; Tiles.body.anchors.Y1.align = \"Y1\";"
        "Tiles.body.height = 10; Tiles.body.tiledx = 3;"
        "Tiles.rightBar.width = 4; Tiles.rightBar.height = 50;"
        "Tiles.rightBar.anchors.X2.tile = \"PARENT\"; Tiles.rightBar.anchors.X2.align = \"X2\";"
        "Tiles.rightBar.anchors.Y1.tile = \"PARENT\"; Tiles.rightBar.anchors.Y1.align = \"Y1\";"
        "States.hover_pressed.tiles = array(\"rightBar\");"
        "Resizable = 1;");
    w.LoadLayout(node.get());
    EXPECT_EQ(node->Child("Tiles"), nullptr);
    EXPECT_EQ(node->Child("States"), nullptr);
    EXPECT_TRUE(w.resizable());
    ASSERT_EQ(w.TileCount(), 2);
    ImageTile* body = w.FindTile("body");
    ImageTile* bar = w.FindTile("rightBar");
    ASSERT_NE(body, nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(RectText(bar->rect()), "96,0,4,50");
    EXPECT_EQ(RectText(body->rect()), "0,0,96,10") << "the forward anchor to rightBar resolved";
    const std::vector<String>* plain = w.StateTiles(String());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->size(), 2u);
    const std::vector<String>* hover = w.StateTiles("hover_pressed");
    ASSERT_NE(hover, nullptr);
    ASSERT_EQ(hover->size(), 1u);
    EXPECT_STREQ((*hover)[0].Text(), "rightBar");
    EXPECT_EQ(w.PendingTileAnchorCount("rightBar"), 0);

    // An anchor to a tile no description brings waits for it.
    SkinWindow v;
    v.SetRect(0, 0, 100, 50);
    auto waiting = Parse("Tiles.a.width = 10; Tiles.a.anchors.X1.tile = \"later\";");
    v.LoadLayout(waiting.get());
    EXPECT_EQ(v.PendingTileAnchorCount("later"), 1);
    auto later = Parse("Tiles.later.width = 5; Tiles.later.anchors.X1.tile = \"PARENT\";");
    v.LoadLayout(later.get());
    EXPECT_EQ(v.PendingTileAnchorCount("later"), 0);
}

// ---- On the device ----

constexpr int kWidth = 160;
constexpr int kHeight = 120;

void Fill(Texture* texture, int w, int h, DWORD (*texel)(int, int)) {
    D3DLOCKED_RECT locked{};
    if (texture->LockLevel(0, 0, &locked)) {
        for (int y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch);
            for (int x = 0; x < w; ++x) row[x] = texel(x, y);
        }
        texture->UnlockLevel(0);
    }
}

std::unique_ptr<Texture> PatternTexture(int w, int h, DWORD (*texel)(int, int)) {
    auto texture = std::make_unique<Texture>();
    EXPECT_TRUE(texture->CreateEmpty(0, w, h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false));
    Fill(texture.get(), w, h, texel);
    return texture;
}

DWORD Checker(int x, int y) { return ((x / 2 + y / 2) % 2 == 0) ? 0xFFE0E0E0 : 0xFF2060C0; }
DWORD Gradient(int x, int y) { return 0xFF000000 | (static_cast<DWORD>(x * 16) << 16) | static_cast<DWORD>(y * 16); }
DWORD Orange(int, int) { return 0xFFFF8000; }

void WritePng(const std::vector<DWORD>& pixels, const std::string& path) {
    const std::string ppm = path + ".ppm";
    FILE* file = std::fopen(ppm.c_str(), "wb");
    if (file == nullptr) return;
    std::fprintf(file, "P6\n%d %d\n255\n", kWidth, kHeight);
    for (DWORD p : pixels) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, file);
    }
    std::fclose(file);
    const std::string command = "/usr/bin/convert '" + ppm + "' '" + path + "' && rm '" + ppm + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "convert failed for " << path;
}

ImageTile* AddTile(SkinWindow& w, const char* name, Texture* texture, Rect rect, bool tiled) {
    auto* tile = new ImageTile();
    tile->SetName(name);
    tile->SetTexture(texture);
    tile->SetTiled(tiled, tiled);
    tile->SetRect(rect.left, rect.top, rect.right, rect.bottom);
    w.AddTile(tile, String());
    return tile;
}

DWORD At(const std::vector<DWORD>& frame, int x, int y) { return frame[static_cast<size_t>(y * kWidth + x)] & 0xFFFFFF; }

int Channel(DWORD c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }

void ExpectNear(DWORD got, DWORD want, int tolerance, const char* what) {
    for (int shift : {0, 8, 16}) {
        EXPECT_LE(std::abs(Channel(got, shift) - Channel(want, shift)), tolerance)
            << what << ": got " << std::hex << got << " want " << want;
    }
}

// A back window of tiled checker texture, a gradient tile drawn texel for texel, a translucent
// orange window in front through alpha mode 1 and opacity 0.5, and a child of the back window
// that its parent clips.
TEST(SkinWindowDevice, DrawnFrame) {
    LayerApp app;
    ASSERT_TRUE(app.Open(kWidth, kHeight));
    auto checker = PatternTexture(8, 8, Checker);
    auto gradient = PatternTexture(16, 16, Gradient);
    auto orange = PatternTexture(4, 4, Orange);
    {
        SkinWindow back, front, child;
        back.SetRect(10, 10, 100, 80);
        AddTile(back, "fill", checker.get(), Rect(0, 0, 100, 80), true);
        AddTile(back, "picture", gradient.get(), Rect(10, 10, 16, 16), false);
        child.SetRect(80, 5, 60, 20);
        AddTile(child, "fill", orange.get(), Rect(0, 0, 60, 20), false);
        back.AddChild(&child, false);
        front.SetRect(60, 40, 80, 60);
        AddTile(front, "fill", orange.get(), Rect(0, 0, 80, 60), false);
        back.Show();
        front.Show();
        front.SetAlphaMode(1);
        front.SetOpacity(0.5f);

        app.PumpMessages();
        ASSERT_TRUE(app.CheckDevice());
        app.StartFrame();
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.0f, 0);
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        EXPECT_TRUE(g_guiRoot.Draw().Succeeded());
        const std::vector<DWORD> frame = app.ReadFrame();
        g_device->EndScene();
        if (std::getenv("RH_GUI_TEST_IMAGES") != nullptr) WritePng(frame, "/tmp/i23-gui-skins.png");
        ASSERT_EQ(frame.size(), static_cast<size_t>(kWidth * kHeight));

        // The checker repeats every 8 pixels from the window's corner (12.5 repeats: the
        // filtered texels land within a few units of the picture's).
        for (int y = 10; y < 40; ++y) {
            for (int x = 40; x < 60; ++x) ExpectNear(At(frame, x, y), Checker(x - 10, y - 10) & 0xFFFFFF, 4, "checker");
        }
        // The gradient tile at 1:1, texel for texel.
        int differing = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                if (At(frame, 20 + x, 20 + y) != (Gradient(x, y) & 0xFFFFFF)) {
                    if (differing++ < 40) {
                        ADD_FAILURE() << x << "," << y << " got " << std::hex << At(frame, 20 + x, 20 + y)
                                      << " want " << (Gradient(x, y) & 0xFFFFFF);
                    }
                }
            }
        }
        EXPECT_EQ(differing, 0);
        // The child: drawn inside its parent only.
        ExpectNear(At(frame, 100, 20), 0xFF8000, 1, "child inside its parent");
        ExpectNear(At(frame, 115, 20), 0x102030, 1, "child outside its parent is clipped");
        // The translucent front window: orange over the checker at half opacity, and over the
        // cleared colour outside the back window.
        const DWORD under = Checker(70 - 10, 85 - 10) & 0xFFFFFF;
        const DWORD blended = (static_cast<DWORD>((0xFF + Channel(under, 16) + 1) / 2) << 16) |
                              (static_cast<DWORD>((0x80 + Channel(under, 8) + 1) / 2) << 8) |
                              static_cast<DWORD>((0x00 + Channel(under, 0) + 1) / 2);
        ExpectNear(At(frame, 70, 85), blended, 2, "front over back");
        ExpectNear(At(frame, 130, 95), 0x885018, 2, "front over the cleared colour");

        // After a device loss and reset the moved blocks ask for updates and the frame reads
        // back the same.
        rh::d3d9::testing::ForceDeviceLoss(g_device, true);
        rh::d3d9::testing::ForceDeviceLoss(g_device, false);
        ASSERT_TRUE(app.ResetNow());
        EXPECT_TRUE(front.HasPendingUpdate()) << "front";
        EXPECT_TRUE(back.HasPendingUpdate()) << "back";
        // Pictures made in memory come back empty; their maker fills them again.
        Fill(checker.get(), 8, 8, Checker);
        Fill(gradient.get(), 16, 16, Gradient);
        Fill(orange.get(), 4, 4, Orange);
        app.StartFrame();
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.0f, 0);
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        EXPECT_TRUE(g_guiRoot.Draw().Succeeded());
        const std::vector<DWORD> reset = app.ReadFrame();
        g_device->EndScene();
        if (std::getenv("RH_GUI_TEST_IMAGES") != nullptr) WritePng(reset, "/tmp/i23-gui-skins-reset.png");
        EXPECT_TRUE(reset == frame) << "the frame after the reset differs";

        // A tile moved wholly outside its window leaves no trace on the next frame.
        front.FindTile("fill")->SetRect(500, 500, 80, 60);
        front.RequestUpdate(true, false);
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.0f, 0);
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        EXPECT_TRUE(g_guiRoot.Draw().Succeeded());
        const std::vector<DWORD> after = app.ReadFrame();
        g_device->EndScene();
        ExpectNear(At(after, 130, 95), 0x102030, 1, "the old quad is gone");

        // An alpha-mode change gives the groups back and asks for the update that makes them
        // again, so the window does not vanish until something else updates it.
        ASSERT_NE(front.FindTile("fill")->mesh(), nullptr);
        EXPECT_FALSE(front.HasPendingUpdate());
        front.SetAlphaMode(0);
        EXPECT_EQ(front.FindTile("fill")->mesh(), nullptr);
        EXPECT_TRUE(front.HasPendingUpdate());

        back.Hide();
        front.Hide();
        back.RemoveChild(&child);
    }
    EXPECT_EQ(g_guiRoot.groups().count(), 0);
}

}  // namespace
