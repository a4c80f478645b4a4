// The GUI drawing and input together on the real layer: three overlapping skin windows loaded
// from skin descriptions and picture files, read back and compared with a software compositor,
// then routed input, then a device loss and reset.
#include "core/files/mem_stream.h"
#include "core/script/script_node.h"
#include "core/script/script_parser.h"
#include "gui/gui_root.h"
#include "gui/skin_window.h"
#include "render/texture.h"
#include "tests/gui/support/compositor.h"
#include "tests/render/support/layer_app.h"
#include "tests/render/support/picture_files.h"
#include "tests/support/png_file.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using rh::test::Canvas;
using rh::test::LayerApp;
using rh::test::Picture;

constexpr int kWidth = 200;
constexpr int kHeight = 120;
constexpr DWORD kClear = 0xFF203040;

// The frame picture, 64 x 32, cut into nine parts. Parts that repeat must span the picture
// along the axis they repeat on (the device repeats the whole texture), so the top and bottom
// edges are the full-width bands of rows 0..7 and 8..15, the left and right edges the
// full-height bands of columns 0..7 and 8..15. All four are one 16 x 16 motif repeated, which
// keeps the bands consistent where they cross. Corners lie at (16..31, 16..31), a solid middle
// at x >= 32.
DWORD Motif(int x, int y) {
    return 0xFF000000u | static_cast<DWORD>(0x30 + x * 12) << 16 | static_cast<DWORD>(0x30 + y * 12) << 8 |
           static_cast<DWORD>((x + y) % 2 == 0 ? 0x90 : 0x60);
}
DWORD FrameTexel(int x, int y) {
    if (x < 16 || y < 16) return Motif(x % 16, y % 16);
    if (x < 32) {
        const int corner = (x >= 24 ? 1 : 0) + (y >= 24 ? 2 : 0);
        return 0xFF000000u | static_cast<DWORD>(0xC0 + corner * 16) << 16 |
               static_cast<DWORD>(((x - 16) % 8) * 24) << 8 | static_cast<DWORD>(((y - 16) % 8) * 24);
    }
    return 0xFFE0D0B0u;
}
DWORD SolidTexel(int x, int y) { return ((x / 4 + y / 4) % 2 == 0) ? 0xFF3A7A3Au : 0xFF2A5A2Au; }
DWORD GradientTexel(int x, int y) {
    return 0xFF000000u | static_cast<DWORD>(x * 16) << 16 | static_cast<DWORD>(y * 16) << 8 | 0x80u;
}
DWORD GlassTexel(int x, int y) { return ((x + y) % 8 < 4) ? 0xFF80C0FFu : 0xFFFFFFFFu; }
DWORD ChildTexel(int, int) { return 0xFFFF8000u; }

Picture MakePicture(int w, int h, DWORD (*texel)(int, int)) {
    Picture p{static_cast<uint32_t>(w), static_cast<uint32_t>(h), {}};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) p.pixels.push_back(texel(x, y));
    }
    return p;
}

std::unique_ptr<ScriptNode> Parse(const std::string& text) {
    auto root = std::make_unique<ScriptNode>();
    MemStream stream;
    stream.Open(String(), 1);
    stream.ShowData(text.data(), static_cast<int32_t>(text.size()), true);
    ParseScript(&stream, root.get(), nullptr);
    return root;
}

// One tile's description: a picture part, whether it repeats, its size and anchors.
std::string Tile(const std::string& name, const std::string& file, int px, int py, int pw, int ph,
                 const std::string& rest) {
    const std::string t = "Tiles." + name + ".";
    std::string text = t + "texture = \"" + file + "\";";
    if (pw > 0) {
        text += t + "texrect.x1 = " + std::to_string(px) + "; " + t + "texrect.y1 = " + std::to_string(py) + "; " + t +
                "texrect.w = " + std::to_string(pw) + "; " + t + "texrect.h = " + std::to_string(ph) + ";";
    }
    // rest: "key = value;" pairs under the tile.
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = rest.find(';', start);
        if (end == std::string::npos) end = rest.size();
        std::string item = rest.substr(start, end - start);
        while (!item.empty() && item[0] == ' ') item.erase(0, 1);
        if (!item.empty()) text += t + item + ";";
        start = end + 1;
    }
    return text + "\n";
}

std::string Anchor(const char* slot, const char* tile, const char* align) {
    return std::string("anchors.") + slot + ".tile = \"" + tile + "\"; anchors." + slot + ".align = \"" + align + "\";";
}

// The nine-part frame: corners 8 x 8 at their window corners, edges between them repeating
// along their length, the middle stretched from a solid part.
std::string FrameSkin() {
    return Tile("tl", "frame.tga", 16, 16, 8, 8,
                "width = 8; height = 8;" + Anchor("X1", "PARENT", "X1") + Anchor("Y1", "PARENT", "Y1")) +
           Tile("tr", "frame.tga", 24, 16, 8, 8,
                "width = 8; height = 8;" + Anchor("X2", "PARENT", "X2") + Anchor("Y1", "PARENT", "Y1")) +
           Tile("bl", "frame.tga", 16, 24, 8, 8,
                "width = 8; height = 8;" + Anchor("X1", "PARENT", "X1") + Anchor("Y2", "PARENT", "Y2")) +
           Tile("br", "frame.tga", 24, 24, 8, 8,
                "width = 8; height = 8;" + Anchor("X2", "PARENT", "X2") + Anchor("Y2", "PARENT", "Y2")) +
           Tile("top", "frame.tga", 0, 0, 64, 8,
                "tiledx = 1; height = 8;" + Anchor("X1", "tl", "X2") + Anchor("X2", "tr", "X1") +
                    Anchor("Y1", "PARENT", "Y1")) +
           Tile("bottom", "frame.tga", 0, 8, 64, 8,
                "tiledx = 1; height = 8;" + Anchor("X1", "bl", "X2") + Anchor("X2", "br", "X1") +
                    Anchor("Y2", "PARENT", "Y2")) +
           Tile("left", "frame.tga", 0, 0, 8, 32,
                "tiledy = 1; width = 8;" + Anchor("Y1", "tl", "Y2") + Anchor("Y2", "bl", "Y1") +
                    Anchor("X1", "PARENT", "X1")) +
           Tile("right", "frame.tga", 8, 0, 8, 32,
                "tiledy = 1; width = 8;" + Anchor("Y1", "tr", "Y2") + Anchor("Y2", "br", "Y1") +
                    Anchor("X2", "PARENT", "X2")) +
           Tile("middle", "frame.tga", 40, 20, 16, 8,
                Anchor("X1", "tl", "X2") + Anchor("X2", "tr", "X1") + Anchor("Y1", "tl", "Y2") +
                    Anchor("Y2", "bl", "Y1"));
}

// A whole picture repeated over the window.
std::string FillSkin(const std::string& file) {
    return Tile("fill", file, 0, 0, 0, 0,
                "tiledx = 1; tiledy = 1;" + Anchor("X1", "PARENT", "X1") + Anchor("X2", "PARENT", "X2") +
                    Anchor("Y1", "PARENT", "Y1") + Anchor("Y2", "PARENT", "Y2"));
}

// Records the events that reach it as "name:type", "!" for the outside bit.
class ProbeSkin : public SkinWindow {
public:
    ProbeSkin(const char* name, std::vector<std::string>* log) : log_(log) { SetName(name); }
    bool HandleEvent(GuiEvent event) override {
        std::string entry = std::string(name().Text()) + ":" + std::to_string(static_cast<int>(event.type()));
        if (event.flags() & GuiEvent::kPointerOutside) entry += "!";
        log_->push_back(entry);
        return true;
    }

private:
    std::vector<std::string>* log_;
};

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : " ") + item;
    return out;
}

int Channel(DWORD c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }
int Difference(DWORD a, DWORD b) {
    int most = 0;
    for (int shift : {0, 8, 16}) most = std::max(most, std::abs(Channel(a, shift) - Channel(b, shift)));
    return most;
}

// Clears to a colour, then the depth buffer alone, then the GUI; the frame read back.
std::vector<DWORD> DrawFrame(LayerApp& app) {
    app.StartFrame();
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET, kClear, 1.0f, 0);
    g_device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    EXPECT_EQ(g_device->BeginScene(), D3D_OK);
    EXPECT_TRUE(g_guiRoot.Draw().Succeeded());
    std::vector<DWORD> frame = app.ReadFrame();
    g_device->EndScene();
    return frame;
}

TEST(GuiDemo, OverlappingSkinWindowsDrawnRoutedAndReset) {
    LayerApp app;
    ASSERT_TRUE(app.Open(kWidth, kHeight));
    rh::testing::ScratchDir scratch("rh_gui_demo");
    scratch.Enter();
    scratch.Write("frame.tga", rh::test::TgaFile(MakePicture(64, 32, FrameTexel)));
    scratch.Write("solid.tga", rh::test::TgaFile(MakePicture(8, 8, SolidTexel)));
    scratch.Write("gradient.tga", rh::test::TgaFile(MakePicture(16, 16, GradientTexel)));
    scratch.Write("glass.tga", rh::test::TgaFile(MakePicture(8, 8, GlassTexel)));
    scratch.Write("child.tga", rh::test::TgaFile(MakePicture(4, 4, ChildTexel)));

    std::vector<std::string> log;
    {
        // F at the back, O in the middle with child C, T in front (shown last).
        ProbeSkin f("F", &log), o("O", &log), c("C", &log), t("T", &log);
        f.SetRect(10, 10, 110, 90);
        f.LoadSkin(Parse(FrameSkin()).get());
        o.SetRect(60, 40, 70, 50);
        o.LoadSkin(Parse(FillSkin("solid.tga") +
                         Tile("exact", "gradient.tga", 0, 0, 0, 0,
                              "width = 16; height = 16;" + Anchor("X1", "PARENT", "X1") + Anchor("Y1", "PARENT", "Y1") +
                                  "anchors.X1.offset = 4; anchors.Y1.offset = 4;"))
                       .get());
        c.SetRect(40, 30, 60, 14);
        c.LoadSkin(Parse(FillSkin("child.tga")).get());
        o.AddChild(&c, false);
        t.SetRect(110, 15, 80, 45);
        t.LoadSkin(Parse(FillSkin("glass.tga")).get());
        for (SkinWindow* w : {&f, &o, &t}) {
            w->Show();
            for (int i = 0; i < 9; ++i) {
                static const char* const names[] = {"tl", "tr", "bl", "br", "top", "bottom", "left", "right", "middle"};
                if (w != &f) break;
                ImageTile* tile = w->FindTile(names[i]);
                ASSERT_NE(tile, nullptr) << names[i];
                ASSERT_NE(tile->texture(), nullptr) << names[i] << ": the picture part was not loaded";
            }
        }
        ASSERT_NE(o.FindTile("exact"), nullptr);
        ASSERT_NE(t.FindTile("fill"), nullptr);
        ASSERT_NE(t.FindTile("fill")->texture(), nullptr);
        t.SetAlphaMode(1);
        t.SetOpacity(0.5f);

        app.PumpMessages();
        ASSERT_TRUE(app.CheckDevice());
        const std::vector<DWORD> frame = DrawFrame(app);
        ASSERT_EQ(frame.size(), static_cast<size_t>(kWidth * kHeight));
        rh::testing::SavePicture("RH_GUI_TEST_IMAGES", "gui_demo", kWidth, kHeight,
                                 std::vector<uint32_t>(frame.begin(), frame.end()));

        // The parts of one picture are opaque and alike but for their rectangles and how they
        // repeat: one shared mesh for the corners and the middle, one for the edges repeating
        // across, one for those repeating down.
        auto meshOf = [&f](const char* name) { return f.FindTile(name)->mesh(); };
        for (const char* name : {"tr", "bl", "br", "middle"}) EXPECT_EQ(meshOf(name), meshOf("tl")) << name;
        EXPECT_EQ(meshOf("bottom"), meshOf("top"));
        EXPECT_EQ(meshOf("right"), meshOf("left"));
        EXPECT_EQ(g_guiRoot.groups().HolderCount(meshOf("tl")), 5);
        EXPECT_EQ(g_guiRoot.groups().HolderCount(meshOf("top")), 2);
        EXPECT_EQ(g_guiRoot.groups().HolderCount(meshOf("left")), 2);

        // The expected picture, painted back to front.
        Canvas want(kWidth, kHeight, kClear);
        const int fx = 10, fy = 10, fw = 110, fh = 90;
        auto frameAt = [](int px, int py) { return [px, py](int x, int y) { return FrameTexel(px + x, py + y); }; };
        want.Paint(fx, fy, 8, 8, frameAt(16, 16), false);
        want.Paint(fx + fw - 8, fy, 8, 8, frameAt(24, 16), false);
        want.Paint(fx, fy + fh - 8, 8, 8, frameAt(16, 24), false);
        want.Paint(fx + fw - 8, fy + fh - 8, 8, 8, frameAt(24, 24), false);
        want.Paint(fx + 8, fy, fw - 16, 8, [](int x, int y) { return FrameTexel(x % 64, y); }, false);
        want.Paint(fx + 8, fy + fh - 8, fw - 16, 8, [](int x, int y) { return FrameTexel(x % 64, 8 + y); }, false);
        want.Paint(fx, fy + 8, 8, fh - 16, [](int x, int y) { return FrameTexel(x, y % 32); }, false);
        want.Paint(fx + fw - 8, fy + 8, 8, fh - 16, [](int x, int y) { return FrameTexel(8 + x, y % 32); }, false);
        want.Paint(fx + 8, fy + 8, fw - 16, fh - 16, [](int, int) { return FrameTexel(40, 20); }, false);
        want.Paint(60, 40, 70, 50, [](int x, int y) { return SolidTexel(x % 8, y % 8); }, false);
        want.Paint(64, 44, 16, 16, GradientTexel, false);
        // The child, cut by its parent's right edge.
        want.Paint(100, 70, 60, 14, 60, 40, 70, 50, ChildTexel, false);
        want.Paint(110, 15, 80, 45, [](int x, int y) { return GlassTexel(x % 8, y % 8); }, true, 0.5);
        rh::testing::SavePicture("RH_GUI_TEST_IMAGES", "gui_demo_expected", kWidth, kHeight, want.Pixels());

        int worst = 0, over = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const int d = Difference(frame[static_cast<size_t>(y) * kWidth + x], want.At(x, y));
                worst = std::max(worst, d);
                if (d > 6 && over++ < 20) {
                    ADD_FAILURE() << "(" << x << ", " << y << ") got " << std::hex
                                  << (frame[static_cast<size_t>(y) * kWidth + x] & 0xFFFFFF) << " want "
                                  << want.At(x, y);
                }
            }
        }
        EXPECT_EQ(over, 0) << "pixels more than 6 away; worst " << worst;
        // The 16 x 16 gradient at 1:1, texel for texel.
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                EXPECT_EQ(frame[static_cast<size_t>(44 + y) * kWidth + 64 + x] & 0xFFFFFF, GradientTexel(x, y) & 0xFFFFFF)
                    << x << ", " << y;
            }
        }

        // Input: a button over the overlap of F, O and C reaches O and its child only; over
        // O and T only T, the front one.
        using K = InputEventKind;
        struct Row {
            const char* what;
            K kind;
            int x, y, prevX, prevY;
            const char* expected;
        };
        const Row rows[] = {
            {"button over F, O and O's child", K::kLeftButtonDown, 110, 77, 110, 77, "O:6 C:6"},
            {"button over F, O and T", K::kLeftButtonDown, 115, 50, 115, 50, "T:6"},
            {"move from F to T", K::kCursorMoved, 150, 30, 20, 20, "T:3 F:5"},
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            log.clear();
            g_guiRoot.OnInputEvent(row.kind, row.x, row.y, row.prevX, row.prevY, row.x - row.prevX,
                                   row.y - row.prevY, 0);
            EXPECT_EQ(Join(log), row.expected);
        }
        // With F focused, a move over no window reaches F as a move with the outside bit.
        f.SetFocus();
        g_guiRoot.DispatchEvents();
        log.clear();
        g_guiRoot.OnInputEvent(K::kCursorMoved, 195, 110, 194, 108, 1, 2, 0);
        EXPECT_EQ(Join(log), "F:4!");
        f.KillFocus();
        g_guiRoot.DispatchEvents();

        // A device loss and reset: the moved blocks ask their windows for updates, and the
        // frame comes back the same.
        rh::d3d9::testing::ForceDeviceLoss(g_device, true);
        rh::d3d9::testing::ForceDeviceLoss(g_device, false);
        ASSERT_TRUE(app.ResetNow());
        for (SkinWindow* w : {&f, &o, &c, &t}) EXPECT_TRUE(w->HasPendingUpdate()) << w->name().Text();
        const std::vector<DWORD> again = DrawFrame(app);
        rh::testing::SavePicture("RH_GUI_TEST_IMAGES", "gui_demo_reset", kWidth, kHeight,
                                 std::vector<uint32_t>(again.begin(), again.end()));
        EXPECT_TRUE(again == frame) << "the frame after the reset differs";

        for (SkinWindow* w : {&f, &o, &t}) w->Hide();
        o.RemoveChild(&c);
    }
    EXPECT_EQ(g_guiRoot.groups().count(), 0);
    EXPECT_EQ(g_guiRoot.QueuedCount(), 0);
}

// Opaque tiles of one material share one mesh and so one draw: 49 opaque windows of nine tiles
// and one translucent window (a mesh per tile) make 10 draws for 450 tiles.
TEST(GuiDemo, OpaqueTilesOfOneMaterialAreOneDraw) {
    LayerApp app;
    ASSERT_TRUE(app.Open(kWidth, kHeight));
    auto stone = std::make_unique<Texture>();
    ASSERT_TRUE(stone->CreateEmpty(0, 8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false));
    D3DLOCKED_RECT locked{};
    ASSERT_TRUE(stone->LockLevel(0, 0, &locked));
    for (int y = 0; y < 8; ++y) {
        auto* row = reinterpret_cast<DWORD*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch);
        for (int x = 0; x < 8; ++x) row[x] = 0xFF808080u;
    }
    stone->UnlockLevel(0);
    auto glass = std::make_unique<Texture>();
    ASSERT_TRUE(glass->CreateEmpty(0, 8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false));
    {
        std::vector<std::unique_ptr<SkinWindow>> windows;
        int tiles = 0;
        for (int w = 0; w < 50; ++w) {
            auto window = std::make_unique<SkinWindow>();
            window->SetRect(w % 10 * 20, w / 10 * 24, 18, 21);
            for (int t = 0; t < 9; ++t) {
                auto* tile = new ImageTile();
                tile->SetName(("t" + std::to_string(t)).c_str());
                tile->SetTexture(w == 49 ? glass.get() : stone.get());
                tile->SetRect(t % 3 * 6, t / 3 * 7, 6, 7);
                window->AddTile(tile, String());
                ++tiles;
            }
            window->Show();
            if (w == 49) {
                window->SetAlphaMode(1);
                window->SetOpacity(0.5f);
            }
            windows.push_back(std::move(window));
        }
        app.PumpMessages();
        ASSERT_TRUE(app.CheckDevice());
        app.StartFrame();
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        // The first Draw builds the quads; the second draws what is built.
        EXPECT_TRUE(g_guiRoot.Draw().Succeeded());
        rh::d3d9::testing::ResetDrawCallCount(g_device);
        EXPECT_TRUE(g_guiRoot.Draw().Succeeded());
        EXPECT_EQ(rh::d3d9::testing::DrawCallCount(g_device), 10u) << "for " << tiles << " tiles; " << g_guiRoot.groups().count() << " shared meshes, " << g_guiRoot.WindowGroupCount(windows[49].get()) << " own";
        // Every opaque window shows: the tiles whose blocks moved while the shared buffer grew
        // under their own window's update were written again.
        const std::vector<DWORD> frame = app.ReadFrame();
        g_device->EndScene();
        ASSERT_EQ(frame.size(), static_cast<size_t>(kWidth * kHeight));
        for (int w = 0; w < 49; ++w) {
            for (int t = 0; t < 9; ++t) {
                const int x = w % 10 * 20 + t % 3 * 6 + 3, y = w / 10 * 24 + t / 3 * 7 + 3;
                EXPECT_EQ(frame[static_cast<size_t>(y) * kWidth + x] & 0xFFFFFF, 0x808080u)
                    << "window " << w << " tile " << t;
            }
        }
        EXPECT_EQ(tiles, 450);
        for (auto& window : windows) window->Hide();
    }
    EXPECT_EQ(g_guiRoot.groups().count(), 0);
}

}  // namespace
