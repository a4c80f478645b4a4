// Render groups on the real layer: depth to z, opaque sharing (and who it draws with), and the
// draw order of GuiRoot::Draw read back from the frame against a small software compositor.
#include "gui/gui_root.h"
#include "gui/gui_window.h"
#include "gui/render_group.h"
#include "render/geometry.h"
#include "render/material.h"
#include "render/mesh.h"
#include "tests/gui/support/compositor.h"
#include "tests/render/support/layer_app.h"

#include <gtest/gtest.h>

#include <d3dx9math.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using rh::test::LayerApp;
using rh::test::Over;
using rh::test::Rgbf;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

TEST(GuiDepthToZ, MatchesAPerspectiveProjection) {
    EXPECT_EQ(g_guiRoot.DepthToZ(1), 0.0f);
    EXPECT_FLOAT_EQ(g_guiRoot.DepthToZ(10000), 1.0f);
    D3DXMATRIX m;
    D3DXMatrixPerspectiveFovLH(&m, 3.14159265f / 2, 1.0f, 1.0f, 1000.0f);
    for (int depth : {1, 2, 10, 100, 1000, 5000, 9999, 10000}) {
        // The view distance that depth stands for, linear between the planes.
        const double d = 1.0 + (depth - 1) / 9999.0 * 999.0;
        const double z = d * m._33 + m._43;
        const double w = d * m._34 + m._44;
        EXPECT_NEAR(g_guiRoot.DepthToZ(depth), z / w, 1e-5) << depth;
    }
}

// A screen quad of one colour written into its block whenever the block moves.
struct Quad : BufferBlockUser {
    float x = 0, y = 0, w = 0, h = 0;
    DWORD colour = 0;
    BufferBlock* block = nullptr;
    bool OnBlockMoved(BufferBlock* moved) override { return Write(moved); }
    bool Write(BufferBlock* target) {
        struct Vertex {
            float x, y, z;
            DWORD colour;
        };
        const float l = x - 0.5f, t = y - 0.5f, r = x + w - 0.5f, b = y + h - 0.5f;
        const Vertex v[6] = {{l, t, 0.5f, colour}, {r, t, 0.5f, colour}, {l, b, 0.5f, colour},
                             {r, t, 0.5f, colour}, {r, b, 0.5f, colour}, {l, b, 0.5f, colour}};
        void* data = nullptr;
        if (!target->Lock(0, &data)) return false;
        std::memcpy(data, v, sizeof v);
        return target->Unlock();
    }
};

GeometryDesc ColourQuadDesc() {
    GeometryDesc desc;
    desc.primitiveType = D3DPT_TRIANGLELIST;
    desc.format.SetFromFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    desc.streams[0].format = desc.format;
    desc.streams[0].stride = 16;
    desc.streams[0].size = 16 * 6 * 8;
    return desc;
}

// Vertex colours drawn unlit; with alpha they blend over what is there, without depth test
// so that only the order decides.
void SetUpMaterial(MultiMaterial& m, RenderContext* context, bool alpha) {
    SubMaterial& s = m.sub(0);
    s.vertexColor = true;
    s.vertexAlpha = alpha;
    s.blendEnable = alpha;
    s.srcBlend = D3DBLEND_SRCALPHA;
    s.destBlend = D3DBLEND_INVSRCALPHA;
    s.zEnable = 0;
    s.cullMode = D3DCULL_NONE;
    m.SetRenderContext(context);
}

void ScreenProjection(RenderContext& context) {
    context.world = IdentityMatrix();
    context.view = IdentityMatrix();
    TypedMatrix p = IdentityMatrix();
    p.At(0, 0) = 1.0f / (kWidth * 0.5f);
    p.At(1, 1) = -1.0f / (kHeight * 0.5f);
    p.At(3, 0) = -1.0f;
    p.At(3, 1) = 1.0f;
    p.kind = kMatrixGeneral;
    context.projection = p;
}


void WritePng(const std::vector<DWORD>& pixels, const std::string& path) {
    const std::string ppm = path + ".ppm";
    FILE* file = std::fopen(ppm.c_str(), "wb");
    if (file == nullptr) return;
    std::fprintf(file, "P6\n%d %d\n255\n", kWidth, kHeight);
    for (DWORD p : pixels) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16),
                                      static_cast<unsigned char>(p >> 8), static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, file);
    }
    std::fclose(file);
    const std::string command = "/usr/bin/convert '" + ppm + "' '" + path + "' && rm '" + ppm + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "convert failed for " << path;
}

class RenderGroupTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app_.Open(kWidth, kHeight)); }
    LayerApp app_;
};

TEST_F(RenderGroupTest, OpaqueMaterialsShareAMeshThatDrawsWithALiveHolder) {
    RenderContext context;
    auto first = std::make_unique<MultiMaterial>();
    MultiMaterial second, otherStages, otherBlend;
    SetUpMaterial(*first, &context, false);
    SetUpMaterial(second, &context, false);
    SetUpMaterial(otherStages, &context, false);
    SetUpMaterial(otherBlend, &context, false);
    otherStages.sub(0).stages[1].colorOp = D3DTOP_ADD;  // Equals ignores the stages
    otherBlend.sub(0).srcBlend = D3DBLEND_ONE;
    ASSERT_TRUE(first->Equals(otherStages));
    GuiWindow a, b;
    const GeometryDesc desc = ColourQuadDesc();
    Mesh* m1 = g_guiRoot.CreateRenderGroup(&a, desc, first.get());
    Mesh* m2 = g_guiRoot.CreateRenderGroup(&b, desc, &second);
    Mesh* m3 = g_guiRoot.CreateRenderGroup(&b, desc, &otherStages);
    Mesh* m4 = g_guiRoot.CreateRenderGroup(&b, desc, &otherBlend);
    ASSERT_NE(m1, nullptr);
    EXPECT_EQ(m1, m2);
    EXPECT_NE(m3, m1) << "different stages must not share";
    EXPECT_NE(m4, m1);
    EXPECT_EQ(g_guiRoot.groups().count(), 3);
    EXPECT_EQ(g_guiRoot.groups().HolderCount(m1), 2);
    EXPECT_EQ(g_guiRoot.WindowGroupCount(&a), 0) << "opaque meshes are not filed per window";
    EXPECT_EQ(context.projection.kind, kMatrixGeneral);
    // The window that made the mesh gives it back first and its material goes: the mesh now
    // draws with the other holder's.
    g_guiRoot.ReleaseRenderGroup(&a, m1, first.get());
    first.reset();
    EXPECT_EQ(g_guiRoot.groups().DrawMaterial(m1), &second);
    g_guiRoot.ReleaseRenderGroup(&b, m2, &second);
    EXPECT_FALSE(g_guiRoot.groups().Contains(m1)) << "the last holder deletes it";
    g_guiRoot.ReleaseRenderGroup(&b, m3, &otherStages);
    g_guiRoot.ReleaseRenderGroup(&b, m4, &otherBlend);
    g_guiRoot.ReleaseRenderGroup(&b, nullptr);
    EXPECT_EQ(g_guiRoot.groups().count(), 0);
    // The set answers for itself and as a renderable.
    void* part = nullptr;
    EXPECT_TRUE(g_guiRoot.groups().QueryInterface(TypeId<RenderGroupSet>::Get(), &part));
    EXPECT_TRUE(g_guiRoot.groups().QueryInterface(TypeId<Renderable>::Get(), &part));
}

// A translucent mesh filed under a top-level window stays findable after its window moved
// under another top-level window, and a destroyed top-level window leaves no entry behind.
TEST_F(RenderGroupTest, OwnMeshesAreFoundWhereverTheyAreFiled) {
    RenderContext context;
    MultiMaterial m;
    SetUpMaterial(m, &context, true);
    GuiWindow top, child, other;
    top.AddChild(&child, false);
    Mesh* mesh = g_guiRoot.CreateRenderGroup(&child, ColourQuadDesc(), &m);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(g_guiRoot.WindowGroupCount(&top), 1);
    other.AddChild(&child, false);
    // A window that moved under another top-level window draws under it from the next frame.
    Mesh* second = g_guiRoot.CreateRenderGroup(&top, ColourQuadDesc(), &m);
    GuiWindow newTop;
    newTop.AddChild(&top, false);
    g_guiRoot.Draw();
    EXPECT_EQ(g_guiRoot.WindowGroupCount(&top), 0);
    EXPECT_EQ(g_guiRoot.WindowGroupCount(&newTop), 2) << "the child's mesh filed under top too";
    g_guiRoot.ReleaseRenderGroup(&top, second, &m);
    EXPECT_EQ(g_guiRoot.WindowGroupCount(&newTop), 1);
    g_guiRoot.ReleaseRenderGroup(&child, mesh, &m);
    EXPECT_EQ(g_guiRoot.WindowGroupCount(&newTop), 0);
    newTop.RemoveChild(&top);
    EXPECT_EQ(g_guiRoot.WindowGroupCount(&top), 0);
    {
        GuiWindow gone;
        mesh = g_guiRoot.CreateRenderGroup(&gone, ColourQuadDesc(), &m);
        EXPECT_EQ(g_guiRoot.WindowGroupCount(&gone), 1);
    }
    EXPECT_EQ(g_guiRoot.WindowGroupCount(nullptr), 1) << "kept until given back";
    g_guiRoot.ReleaseRenderGroup(nullptr, mesh, &m);
    EXPECT_EQ(g_guiRoot.WindowGroupCount(nullptr), 0);
}

// Two top-level windows, A behind B. Opaque grey backgrounds share one mesh; A has three
// translucent meshes with "z" 3, 1, 2 and one "NoAlphaCombine" mesh, B one translucent mesh,
// all over one spot. The spot must read as the compositor's: background, A's 1, 2, 3, B, then
// the NoAlphaCombine mesh.
TEST_F(RenderGroupTest, DrawOrderAgainstACompositor) {
    RenderContext context;
    ScreenProjection(context);
    MultiMaterial opaqueA, opaqueB, tA1, tA2, tA3, tAlast, tB;
    SetUpMaterial(opaqueA, &context, false);
    SetUpMaterial(opaqueB, &context, false);
    for (MultiMaterial* t : {&tA1, &tA2, &tA3, &tAlast, &tB}) SetUpMaterial(*t, &context, true);
    GuiWindow a, b;
    a.SetRect(0, 0, 100, 100);
    b.SetRect(40, 20, 100, 90);
    a.Show();
    b.Show();
    const GeometryDesc desc = ColourQuadDesc();
    struct Shape {
        MultiMaterial* material;
        GuiWindow* window;
        int z;  // -1: no "z"
        bool last;
        Quad quad;
        Mesh* mesh = nullptr;
    };
    auto quad = [](float x, float y, float w, float h, DWORD colour) {
        Quad q;
        q.x = x, q.y = y, q.w = w, q.h = h, q.colour = colour;
        return q;
    };
    std::vector<Shape> shapes;
    shapes.push_back({&opaqueA, &a, -1, false, quad(0, 0, 100, 100, 0xFF404040)});
    shapes.push_back({&opaqueB, &b, -1, false, quad(110, 20, 30, 90, 0xFF606060)});
    shapes.push_back({&tA3, &a, 3, false, quad(20, 20, 60, 60, 0x800000FF)});
    shapes.push_back({&tAlast, &a, 0, true, quad(50, 50, 40, 40, 0x80FFFF00)});
    shapes.push_back({&tA1, &a, 1, false, quad(10, 10, 60, 60, 0x80FF0000)});
    shapes.push_back({&tA2, &a, 2, false, quad(30, 30, 60, 60, 0x8000FF00)});
    shapes.push_back({&tB, &b, -1, false, quad(60, 40, 50, 50, 0x80FFFFFF)});
    for (Shape& p : shapes) {
        p.mesh = g_guiRoot.CreateRenderGroup(p.window, desc, p.material);
        ASSERT_NE(p.mesh, nullptr);
        if (p.z >= 0) p.mesh->properties().SetIntProperty("z", p.z);
        if (p.last) p.mesh->properties().SetIntProperty("NoAlphaCombine", 0);
        p.quad.block = p.mesh->GetGeometry().Get()->streamBuffer(0)->AllocateBlock(96, 0, &p.quad);
        ASSERT_NE(p.quad.block, nullptr);
        ASSERT_TRUE(p.quad.Write(p.quad.block));
    }
    EXPECT_EQ(shapes[0].mesh, shapes[1].mesh) << "one opaque mesh";
    ScreenProjection(context);  // CreateRenderGroup gave it the perspective one

    app_.PumpMessages();
    ASSERT_TRUE(app_.CheckDevice());
    app_.StartFrame();
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.0f, 0);
    ASSERT_EQ(g_device->BeginScene(), D3D_OK);
    rh::d3d9::testing::ResetDrawCallCount(g_device);
    EXPECT_TRUE(g_guiRoot.Draw().Succeeded());
    EXPECT_EQ(rh::d3d9::testing::DrawCallCount(g_device), 6u) << "two opaque quads, one draw";
    const std::vector<DWORD> frame = app_.ReadFrame();
    g_device->EndScene();
    if (std::getenv("RH_GUI_TEST_IMAGES") != nullptr) WritePng(frame, "/tmp/i23-gui-groups.png");

    // The compositor: every shape in the expected order over the cleared colour.
    const int order[] = {0, 1, 4, 5, 2, 6, 3};
    auto expected = [&](int x, int y) {
        Rgbf c{0x10, 0x20, 0x30};
        for (int i : order) {
            const Quad& q = shapes[static_cast<size_t>(i)].quad;
            if (x >= q.x && x < q.x + q.w && y >= q.y && y < q.y + q.h) c = Over(c, q.colour);
        }
        return c;
    };
    ASSERT_EQ(frame.size(), static_cast<size_t>(kWidth * kHeight));
    int mismatches = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const DWORD got = frame[static_cast<size_t>(y * kWidth + x)];
            const Rgbf want = expected(x, y);
            const double dr = std::fabs(((got >> 16) & 0xFF) - want.r);
            const double dg = std::fabs(((got >> 8) & 0xFF) - want.g);
            const double db = std::fabs((got & 0xFF) - want.b);
            if (dr > 3 || dg > 3 || db > 3) {
                if (mismatches++ < 5) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " got " << std::hex << got << std::dec
                                  << " want " << want.r << "," << want.g << "," << want.b;
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    for (Shape& p : shapes) {
        p.quad.block->Free();
        g_guiRoot.ReleaseRenderGroup(p.window, p.mesh, p.material);
    }
    EXPECT_EQ(g_guiRoot.groups().count(), 0);
    EXPECT_EQ(g_guiRoot.WindowGroupCount(&a), 0);
    a.Hide();
    b.Hide();
    a.Detach();
    b.Detach();
}

}  // namespace
