// Conformance of the draws: Direct3D's conventions read back from the back buffer, the vertex
// element types, the lighting default, base vertices in shared buffers, and every draw GL must
// never see refused before it does.

#include "tests/platform/d3d9_draw_support.h"

#include "platform/d3d9/d3d9_testing.h"

#include <SDL.h>
#include <d3d9.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using d3d9_test::ColourVertex;
using d3d9_test::Identity;
using d3d9_test::kColourFvf;
using d3d9_test::kScreenFvf;
using d3d9_test::ScreenVertex;
using d3d9_test::TestWindow;

constexpr DWORD kRed = 0xFF0000;
constexpr DWORD kGreen = 0x00FF00;
constexpr DWORD kBlue = 0x0000FF;
constexpr DWORD kWhite = 0xFFFFFF;

// A homogeneous position with its colour, for draws that set w.
struct HomogeneousVertex {
    float x, y, z, w;
    DWORD colour;
};

// Appends the bytes of value to out.
template <typename T>
void Append(std::vector<uint8_t>* out, const T& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    out->insert(out->end(), p, p + sizeof value);
}

class DrawConventionsTest : public d3d9_test::DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        if (HasFatalFailure()) return;
        homogeneous_ = Declaration({{0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
                                    {0, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
                                    D3DDECL_END()});
    }

    // Direct3D's screen coordinates (x right, y down, pixel centres at integers) as a
    // projection of x and y in pixels; z passes through.
    static D3DMATRIX PixelProjection() {
        D3DMATRIX m = Identity();
        m._11 = 2.0f / kWidth;
        m._41 = -1.0f;
        m._22 = -2.0f / kHeight;
        m._42 = 1.0f;
        return m;
    }

    // Starts a case: black, depth 1, no lighting, the pixel projection, no world or view.
    void Start() {
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
        D3DVIEWPORT9 whole{0, 0, kWidth, kHeight, 0.0f, 1.0f};
        device_->SetViewport(&whole);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        D3DMATRIX identity = Identity();
        D3DMATRIX projection = PixelProjection();
        device_->SetTransform(D3DTS_WORLD, &identity);
        device_->SetTransform(D3DTS_VIEW, &identity);
        device_->SetTransform(D3DTS_PROJECTION, &projection);
    }

    // A transformed rectangle at depth z, every coordinate multiplied by w (the same place
    // after the division).
    HRESULT DrawQuad(float x0, float y0, float x1, float y1, float z, float w, DWORD colour) {
        std::vector<HomogeneousVertex> quad = {{x0 * w, y0 * w, z * w, w, colour},
                                               {x1 * w, y0 * w, z * w, w, colour},
                                               {x0 * w, y1 * w, z * w, w, colour},
                                               {x1 * w, y1 * w, z * w, w, colour}};
        IDirect3DVertexBuffer9* buffer = Vertices(quad);
        device_->SetVertexDeclaration(homogeneous_);
        device_->SetStreamSource(0, buffer, 0, sizeof(HomogeneousVertex));
        return device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    }

    IDirect3DVertexDeclaration9* homogeneous_ = nullptr;
};

TEST_F(DrawConventionsTest, ReadBackTable) {
    // Each case draws on a cleared frame; then every check counts the pixels of a rectangle
    // that have a colour. Where a check names a larger rectangle with the same count as a
    // smaller one, the drawing covers exactly the smaller one.
    struct Check {
        RECT rect;
        DWORD colour;
        int count;
    };
    struct Case {
        const char* what;
        std::function<void()> draw;
        std::vector<Check> checks;
    };
    const RECT frame{0, 0, kWidth, kHeight};
    const int all = kWidth * kHeight;
    const std::vector<Case> cases = {
        {"pre-transformed (9.5, 9.5)-(19.5, 19.5) covers pixels 10-19 both ways",
         [&] { ASSERT_EQ(DrawScreenQuad(9.5f, 9.5f, 19.5f, 19.5f, 0.5f, 0xFFFF0000), D3D_OK); },
         {{{10, 10, 20, 20}, kRed, 100}, {frame, kRed, 100}}},
        {"edges on pixel centres (10, 10)-(20, 20): the top and left ones take them",
         [&] { ASSERT_EQ(DrawScreenQuad(10.0f, 10.0f, 20.0f, 20.0f, 0.5f, 0xFFFF0000), D3D_OK); },
         {{{10, 10, 20, 20}, kRed, 100}, {frame, kRed, 100}}},
        {"transformed, edges on pixel centres: the same",
         [&] { ASSERT_EQ(DrawQuad(10.0f, 10.0f, 20.0f, 20.0f, 0.5f, 1.0f, 0xFFFF0000), D3D_OK); },
         {{{10, 10, 20, 20}, kRed, 100}, {frame, kRed, 100}}},
        {"transformed through the pixel projection: the same pixels",
         [&] { ASSERT_EQ(DrawQuad(9.5f, 9.5f, 19.5f, 19.5f, 0.5f, 1.0f, 0xFFFF0000), D3D_OK); },
         {{{10, 10, 20, 20}, kRed, 100}, {frame, kRed, 100}}},
        {"the world matrix's fourth row translates (row vectors)",
         [&] {
             D3DMATRIX world = Identity();
             world._41 = 20.0f;
             world._42 = 30.0f;
             device_->SetTransform(D3DTS_WORLD, &world);
             ASSERT_EQ(DrawQuad(9.5f, 9.5f, 19.5f, 19.5f, 0.5f, 1.0f, 0xFFFF0000), D3D_OK);
         },
         {{{30, 40, 40, 50}, kRed, 100}, {frame, kRed, 100}}},
        {"world, then view, then projection",
         [&] {
             // x * 2 + 10: the other order would give (x + 10) * 2.
             D3DMATRIX world = Identity();
             world._11 = world._22 = 2.0f;
             D3DMATRIX view = Identity();
             view._41 = view._42 = 10.0f;
             device_->SetTransform(D3DTS_WORLD, &world);
             device_->SetTransform(D3DTS_VIEW, &view);
             ASSERT_EQ(DrawQuad(-0.25f, -0.25f, 4.75f, 4.75f, 0.5f, 1.0f, 0xFFFF0000), D3D_OK);
         },
         {{{10, 10, 20, 20}, kRed, 100}, {frame, kRed, 100}}},
        {"w is divided out, half-pixel shift included",
         [&] { ASSERT_EQ(DrawQuad(9.5f, 9.5f, 19.5f, 19.5f, 0.5f, 4.0f, 0xFFFF0000), D3D_OK); },
         {{{10, 10, 20, 20}, kRed, 100}, {frame, kRed, 100}}},
        {"clip z in (-w, 0) draws nothing",
         [&] { ASSERT_EQ(DrawQuad(0.0f, 0.0f, kWidth, kHeight, -0.5f, 2.0f, 0xFFFF0000), D3D_OK); },
         {{frame, kRed, 0}}},
        {"clip z just above 0 draws",
         [&] { ASSERT_EQ(DrawQuad(0.0f, 0.0f, kWidth, kHeight, 0.01f, 2.0f, 0xFFFF0000), D3D_OK); },
         {{frame, kRed, all}}},
        {"clip z above w draws nothing",
         [&] { ASSERT_EQ(DrawQuad(0.0f, 0.0f, kWidth, kHeight, 1.5f, 2.0f, 0xFFFF0000), D3D_OK); },
         {{frame, kRed, 0}}},
        {"z/w 0.25 beats 0.75 under LESSEQUAL, drawn second",
         [&] {
             ASSERT_EQ(DrawQuad(0.0f, 0.0f, 80.0f, 60.0f, 0.75f, 2.0f, 0xFF00FF00), D3D_OK);
             ASSERT_EQ(DrawQuad(0.0f, 0.0f, 80.0f, 60.0f, 0.25f, 0.5f, 0xFFFF0000), D3D_OK);
         },
         {{{2, 2, 78, 58}, kRed, 76 * 56}}},
        {"z/w 0.25 beats 0.75 under LESSEQUAL, drawn first",
         [&] {
             ASSERT_EQ(DrawQuad(0.0f, 0.0f, 80.0f, 60.0f, 0.25f, 0.5f, 0xFFFF0000), D3D_OK);
             ASSERT_EQ(DrawQuad(0.0f, 0.0f, 80.0f, 60.0f, 0.75f, 2.0f, 0xFF00FF00), D3D_OK);
         },
         {{{2, 2, 78, 58}, kRed, 76 * 56}}},
        {"viewport MinZ 0.5: z 0 lies at depth 0.5, behind a depth of 0.4",
         [&] {
             device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.4f, 0);
             D3DVIEWPORT9 vp{0, 0, kWidth, kHeight, 0.5f, 1.0f};
             device_->SetViewport(&vp);
             ASSERT_EQ(DrawQuad(0.0f, 0.0f, kWidth, kHeight, 0.0f, 1.0f, 0xFFFF0000), D3D_OK);
         },
         {{frame, kRed, 0}}},
        {"viewport MinZ 0.5: z 0 lies at depth 0.5, before a depth of 0.6",
         [&] {
             device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.6f, 0);
             D3DVIEWPORT9 vp{0, 0, kWidth, kHeight, 0.5f, 1.0f};
             device_->SetViewport(&vp);
             ASSERT_EQ(DrawQuad(0.0f, 0.0f, kWidth, kHeight, 0.0f, 1.0f, 0xFFFF0000), D3D_OK);
         },
         {{frame, kRed, all}}},
        {"viewport MaxZ 0.5: z 1 lies at depth 0.5, before a depth of 0.6",
         [&] {
             device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.6f, 0);
             D3DVIEWPORT9 vp{0, 0, kWidth, kHeight, 0.0f, 0.5f};
             device_->SetViewport(&vp);
             ASSERT_EQ(DrawQuad(0.0f, 0.0f, kWidth, kHeight, 0.999f, 1.0f, 0xFFFF0000), D3D_OK);
         },
         {{frame, kRed, all}}},
        {"pre-transformed z is the depth itself, whatever the viewport's MinZ",
         [&] {
             device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.4f, 0);
             D3DVIEWPORT9 vp{0, 0, kWidth, kHeight, 0.5f, 1.0f};
             device_->SetViewport(&vp);
             ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.3f, 0xFFFF0000), D3D_OK);
         },
         {{frame, kRed, all}}},
        {"the viewport's rectangle takes the whole clip square",
         [&] {
             D3DVIEWPORT9 vp{40, 30, 80, 60, 0.0f, 1.0f};
             device_->SetViewport(&vp);
             D3DMATRIX identity = Identity();
             device_->SetTransform(D3DTS_PROJECTION, &identity);
             ASSERT_EQ(DrawQuad(-1.0f, 1.0f, 1.0f, -1.0f, 0.5f, 1.0f, 0xFFFF0000), D3D_OK);
         },
         // Inside but away from the edges, and nothing beyond them.
         {{{41, 31, 119, 89}, kRed, 78 * 58}, {frame, kRed, 80 * 60}}},
        {"pre-transformed pixels are render-target pixels whatever the viewport",
         [&] {
             D3DVIEWPORT9 vp{40, 30, 80, 60, 0.0f, 1.0f};
             device_->SetViewport(&vp);
             ASSERT_EQ(DrawScreenQuad(49.5f, 39.5f, 59.5f, 49.5f, 0.5f, 0xFFFF0000), D3D_OK);
         },
         {{{50, 40, 60, 50}, kRed, 100}, {frame, kRed, 100}}},
        {"D3DCOLOR 0xFFFF0000 reads red",
         [&] { ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.5f, 0xFFFF0000), D3D_OK); },
         {{frame, kRed, all}}},
        {"D3DCOLOR 0xFF0000FF reads blue",
         [&] { ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.5f, 0xFF0000FF), D3D_OK); },
         {{frame, kBlue, all}}},
        {"clockwise on screen is the front face: the default culls counter-clockwise",
         [&] {
             // The first quad's strip runs clockwise, the second's mirrored: counter-clockwise.
             ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, 80.0f, kHeight, 0.5f, 0xFFFF0000), D3D_OK);
             ASSERT_EQ(DrawScreenQuad(160.0f, 0.0f, 80.0f, kHeight, 0.5f, 0xFF00FF00), D3D_OK);
         },
         {{{0, 0, 80, kHeight}, kRed, 80 * kHeight}, {frame, kGreen, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Start();
        c.draw();
        for (const Check& check : c.checks) {
            EXPECT_EQ(Count(check.rect, check.colour), check.count)
                << "rectangle " << check.rect.left << "," << check.rect.top << "-" << check.rect.right << ","
                << check.rect.bottom << " colour " << std::hex << check.colour;
        }
    }
}

// The layer leaves out a depth clear when every sample holds the value already. Each case
// starts from depth 1 everywhere, disturbs the buffer (or not), clears depth to 1 again over
// the whole target, and draws a green probe at depth 0.5 under LESSEQUAL: wherever the clear
// was wrongly left out, an earlier depth of 0.4 or less hides the probe.
TEST_F(DrawConventionsTest, ADepthClearLeftOutChangesNothing) {
    struct Case {
        const char* what;
        std::function<void()> disturb;
    };
    const std::vector<Case> cases = {
        {"nothing drawn in between", [] {}},
        {"a draw writing depth", [&] { ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.3f, 0xFFFF0000), D3D_OK); }},
        {"a draw with depth writes off, then one with them on",
         [&] {
             device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
             ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.2f, 0xFFFF0000), D3D_OK);
             device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
             ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.3f, 0xFFFF0000), D3D_OK);
         }},
        {"a draw with the test off writes nothing, one with it on does",
         [&] {
             device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
             ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.2f, 0xFFFF0000), D3D_OK);
             device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
             ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.3f, 0xFFFF0000), D3D_OK);
         }},
        {"a clear to another value", [&] { device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.4f, 0); }},
        {"another value in a rectangle, then 1 in another",
         [&] {
             const D3DRECT left{0, 0, kWidth / 2, kHeight};
             const D3DRECT right{kWidth / 2, 0, kWidth, kHeight};
             device_->Clear(1, &left, D3DCLEAR_ZBUFFER, 0, 0.4f, 0);
             device_->Clear(1, &right, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
         }},
        {"another value under a scissor rectangle",
         [&] {
             const RECT scissor{0, 0, 40, 30};
             device_->SetScissorRect(&scissor);
             device_->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
             device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.4f, 0);
             device_->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
         }},
        {"another value in a smaller viewport",
         [&] {
             D3DVIEWPORT9 corner{0, 0, 40, 30, 0.0f, 1.0f};
             device_->SetViewport(&corner);
             device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.4f, 0);
             D3DVIEWPORT9 whole{0, 0, kWidth, kHeight, 0.0f, 1.0f};
             device_->SetViewport(&whole);
         }},
        {"depth and stencil cleared together to another depth",
         [&] { device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 0.4f, 0); }},
    };
    const RECT frame{0, 0, kWidth, kHeight};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Start();
        c.disturb();
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
        ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.5f, 0xFF00FF00), D3D_OK);
        EXPECT_EQ(Count(frame, kGreen), kWidth * kHeight);
    }
}

TEST_F(DrawConventionsTest, EveryElementTypeReadsAsDirect3DReadsIt) {
    // COLOR0 in each type the caps offer, holding red (or blue where D3DCOLOR's byte order
    // matters), on a pre-transformed full-frame quad.
    D3DCAPS9 caps{};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    const bool halfFloat = (caps.DeclTypes & D3DDTCAPS_FLOAT16_2) != 0;
    struct Case {
        const char* what;
        BYTE type;
        std::vector<uint8_t> bytes;  // the colour's bytes (size of the type)
        DWORD expected;
    };
    auto bytesOf = [](auto... values) {
        std::vector<uint8_t> out;
        (Append(&out, values), ...);
        return out;
    };
    const uint16_t half1 = 0x3C00;  // 1.0 as a half float
    std::vector<Case> cases = {
        {"FLOAT1 (1): green and blue 0, alpha 1", D3DDECLTYPE_FLOAT1, bytesOf(1.0f), kRed},
        {"FLOAT2 (0, 1)", D3DDECLTYPE_FLOAT2, bytesOf(0.0f, 1.0f), kGreen},
        {"FLOAT3 (0, 0, 1)", D3DDECLTYPE_FLOAT3, bytesOf(0.0f, 0.0f, 1.0f), kBlue},
        {"FLOAT4 (1, 0, 0, 1)", D3DDECLTYPE_FLOAT4, bytesOf(1.0f, 0.0f, 0.0f, 1.0f), kRed},
        {"D3DCOLOR 0xFF0000FF: bytes B, G, R, A", D3DDECLTYPE_D3DCOLOR, bytesOf(DWORD{0xFF0000FF}), kBlue},
        {"D3DCOLOR 0xFFFF0000", D3DDECLTYPE_D3DCOLOR, bytesOf(DWORD{0xFFFF0000}), kRed},
        {"UBYTE4 (1, 0, 0, 1): not normalised", D3DDECLTYPE_UBYTE4, bytesOf(uint8_t{1}, uint8_t{0}, uint8_t{0}, uint8_t{1}),
         kRed},
        {"UBYTE4N (0, 255, 0, 255): bytes in order", D3DDECLTYPE_UBYTE4N,
         bytesOf(uint8_t{0}, uint8_t{255}, uint8_t{0}, uint8_t{255}), kGreen},
        {"SHORT2 (1, 0)", D3DDECLTYPE_SHORT2, bytesOf(int16_t{1}, int16_t{0}), kRed},
        {"SHORT4 (0, 0, 1, 1)", D3DDECLTYPE_SHORT4, bytesOf(int16_t{0}, int16_t{0}, int16_t{1}, int16_t{1}), kBlue},
        {"SHORT2N (32767, 0)", D3DDECLTYPE_SHORT2N, bytesOf(int16_t{32767}, int16_t{0}), kRed},
        {"SHORT4N (0, 32767, 0, 32767)", D3DDECLTYPE_SHORT4N,
         bytesOf(int16_t{0}, int16_t{32767}, int16_t{0}, int16_t{32767}), kGreen},
        {"USHORT2N (0, 65535)", D3DDECLTYPE_USHORT2N, bytesOf(uint16_t{0}, uint16_t{65535}), kGreen},
        {"USHORT4N (65535, 0, 0, 65535)", D3DDECLTYPE_USHORT4N,
         bytesOf(uint16_t{65535}, uint16_t{0}, uint16_t{0}, uint16_t{65535}), kRed},
    };
    if (halfFloat) {
        cases.push_back({"FLOAT16_2 (0, 1)", D3DDECLTYPE_FLOAT16_2, bytesOf(uint16_t{0}, half1), kGreen});
        cases.push_back({"FLOAT16_4 (0, 0, 1, 1)", D3DDECLTYPE_FLOAT16_4,
                         bytesOf(uint16_t{0}, uint16_t{0}, half1, half1), kBlue});
    }
    const RECT frame{0, 0, kWidth, kHeight};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Start();
        const WORD stride = static_cast<WORD>(16 + c.bytes.size());
        IDirect3DVertexDeclaration9* declaration =
            Declaration({{0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
                         {0, 16, c.type, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
                         D3DDECL_END()});
        std::vector<uint8_t> vertices;
        for (auto [x, y] : {std::pair{0.0f, 0.0f}, {160.0f, 0.0f}, {0.0f, 120.0f}, {160.0f, 120.0f}}) {
            Append(&vertices, x);
            Append(&vertices, y);
            Append(&vertices, 0.5f);
            Append(&vertices, 1.0f);
            vertices.insert(vertices.end(), c.bytes.begin(), c.bytes.end());
        }
        IDirect3DVertexBuffer9* buffer = Vertices(vertices);
        ASSERT_EQ(device_->SetVertexDeclaration(declaration), D3D_OK);
        ASSERT_EQ(device_->SetStreamSource(0, buffer, 0, stride), D3D_OK);
        ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        EXPECT_EQ(Count(frame, c.expected), kWidth * kHeight);
    }
    if (!halfFloat) {
        IDirect3DVertexDeclaration9* refused = nullptr;
        const D3DVERTEXELEMENT9 half[] = {{0, 0, D3DDECLTYPE_FLOAT16_4, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
        EXPECT_EQ(device_->CreateVertexDeclaration(half, &refused), D3DERR_INVALIDCALL);
    }
}

TEST_F(DrawConventionsTest, ElementsMissingFromTheDeclarationReadDirect3DsDefaults) {
    // Without COLOR0 the colour is opaque white; positions of two, three or four components
    // (floats, shorts) place the same quad.
    struct Case {
        const char* what;
        BYTE type;
        std::function<void(std::vector<uint8_t>*, float, float)> append;
    };
    const std::vector<Case> cases = {
        {"FLOAT2", D3DDECLTYPE_FLOAT2, [](std::vector<uint8_t>* out, float x, float y) {
             Append(out, x);
             Append(out, y);
         }},
        {"FLOAT3", D3DDECLTYPE_FLOAT3, [](std::vector<uint8_t>* out, float x, float y) {
             Append(out, x);
             Append(out, y);
             Append(out, 0.5f);
         }},
        {"FLOAT4", D3DDECLTYPE_FLOAT4, [](std::vector<uint8_t>* out, float x, float y) {
             Append(out, x);
             Append(out, y);
             Append(out, 0.5f);
             Append(out, 1.0f);
         }},
        {"SHORT2", D3DDECLTYPE_SHORT2, [](std::vector<uint8_t>* out, float x, float y) {
             Append(out, static_cast<int16_t>(x));
             Append(out, static_cast<int16_t>(y));
         }},
        {"SHORT4", D3DDECLTYPE_SHORT4, [](std::vector<uint8_t>* out, float x, float y) {
             Append(out, static_cast<int16_t>(x));
             Append(out, static_cast<int16_t>(y));
             Append(out, int16_t{0});
             Append(out, int16_t{1});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Start();
        IDirect3DVertexDeclaration9* declaration =
            Declaration({{0, 0, c.type, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()});
        std::vector<uint8_t> vertices;
        for (auto [x, y] : {std::pair{20.0f, 20.0f}, {60.0f, 20.0f}, {20.0f, 60.0f}, {60.0f, 60.0f}}) c.append(&vertices, x, y);
        IDirect3DVertexBuffer9* buffer = Vertices(vertices);
        ASSERT_EQ(device_->SetVertexDeclaration(declaration), D3D_OK);
        ASSERT_EQ(device_->SetStreamSource(0, buffer, 0, static_cast<UINT>(vertices.size() / 4)), D3D_OK);
        ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        // The inside, away from the integer edges, and nothing far outside.
        EXPECT_EQ(Count(RECT{21, 21, 59, 59}, kWhite), 38 * 38);
        EXPECT_EQ(Count(RECT{0, 0, kWidth, 18}, kWhite), 0);
        EXPECT_EQ(Count(RECT{62, 0, kWidth, kHeight}, kWhite), 0);
    }
}

TEST_F(DrawConventionsTest, LightingWithoutLightsGivesEmissivePlusAmbient) {
    // D3DRS_LIGHTING is on by default: without lights a transformed vertex's colour is the
    // emissive colour plus the ambient colour times D3DRS_AMBIENT, whatever its own colour
    // (red here) says, unless a material source picks the vertex colour.
    struct Case {
        const char* what;
        std::function<void()> set;
        DWORD expected;
    };
    auto material = [&](D3DCOLORVALUE ambient, D3DCOLORVALUE emissive) {
        D3DMATERIAL9 m{};
        m.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
        m.Ambient = ambient;
        m.Emissive = emissive;
        device_->SetMaterial(&m);
    };
    const D3DCOLORVALUE none{0.0f, 0.0f, 0.0f, 0.0f};
    const std::vector<Case> cases = {
        {"the defaults: black", [] {}, 0x000000},
        {"emissive blue", [&] { material(none, {0.0f, 0.0f, 1.0f, 1.0f}); }, kBlue},
        {"ambient yellow under a green ambient light: green",
         [&] {
             material({1.0f, 1.0f, 0.0f, 1.0f}, none);
             device_->SetRenderState(D3DRS_AMBIENT, 0xFF00FF00);
         },
         kGreen},
        {"ambient red under a green ambient light: black",
         [&] {
             material({1.0f, 0.0f, 0.0f, 1.0f}, none);
             device_->SetRenderState(D3DRS_AMBIENT, 0xFF00FF00);
         },
         0x000000},
        {"emissive blue plus ambient green under white light",
         [&] {
             material({0.0f, 1.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 1.0f, 1.0f});
             device_->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
         },
         0x00FFFF},
        {"the ambient colour taken from the vertex (COLOR1 source)",
         [&] {
             device_->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1);
             device_->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
         },
         kRed},
        {"the vertex colour is not a source without COLORVERTEX",
         [&] {
             device_->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1);
             device_->SetRenderState(D3DRS_COLORVERTEX, FALSE);
             device_->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
             material({0.0f, 0.0f, 1.0f, 1.0f}, none);
         },
         kBlue},
        {"a source the vertex lacks (COLOR2) falls back to the material",
         [&] {
             device_->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_COLOR2);
             material(none, {0.0f, 1.0f, 0.0f, 1.0f});
         },
         kGreen},
        {"lighting off: the vertex colour", [&] { device_->SetRenderState(D3DRS_LIGHTING, FALSE); }, kRed},
    };
    const RECT frame{0, 0, kWidth, kHeight};
    const std::vector<ColourVertex> quad = {{0.0f, 0.0f, 0.5f, 0xFFFF0000},
                                            {160.0f, 0.0f, 0.5f, 0xFFFF0000},
                                            {0.0f, 120.0f, 0.5f, 0xFFFF0000},
                                            {160.0f, 120.0f, 0.5f, 0xFFFF0000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Every case starts from the device's defaults, as after a Reset.
        D3DPRESENT_PARAMETERS pp = d3d9_test::WindowedParameters();
        ASSERT_EQ(device_->Reset(&pp), D3D_OK);
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF808080, 1.0f, 0), D3D_OK);
        D3DMATRIX projection = PixelProjection();
        device_->SetTransform(D3DTS_PROJECTION, &projection);
        c.set();
        device_->SetFVF(kColourFvf);
        device_->SetStreamSource(0, Vertices(quad, kColourFvf), 0, sizeof(ColourVertex));
        ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        EXPECT_EQ(Count(frame, c.expected), kWidth * kHeight) << "top-left pixel " << std::hex << Pixel(0, 0);
    }
    // Pre-transformed vertices are never lit.
    D3DPRESENT_PARAMETERS pp = d3d9_test::WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF808080, 1.0f, 0), D3D_OK);
    ASSERT_EQ(DrawScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.5f, 0xFFFF0000), D3D_OK);
    EXPECT_EQ(Count(frame, kRed), kWidth * kHeight);
}

TEST_F(DrawConventionsTest, SpecularIsAddedToUnlitColoursWhenEnabled) {
    struct SpecularVertex {
        float x, y, z, rhw;
        DWORD diffuse, specular;
    };
    const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR;
    const std::vector<SpecularVertex> quad = {{0.0f, 0.0f, 0.5f, 1.0f, 0xFFFF0000, 0xFF0000FF},
                                              {160.0f, 0.0f, 0.5f, 1.0f, 0xFFFF0000, 0xFF0000FF},
                                              {0.0f, 120.0f, 0.5f, 1.0f, 0xFFFF0000, 0xFF0000FF},
                                              {160.0f, 120.0f, 0.5f, 1.0f, 0xFFFF0000, 0xFF0000FF}};
    const RECT frame{0, 0, kWidth, kHeight};
    for (DWORD enabled : {FALSE, TRUE}) {
        SCOPED_TRACE(enabled);
        Start();
        device_->SetRenderState(D3DRS_SPECULARENABLE, enabled);
        device_->SetFVF(fvf);
        device_->SetStreamSource(0, Vertices(quad, fvf), 0, sizeof(SpecularVertex));
        ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        EXPECT_EQ(Count(frame, enabled ? 0xFF00FF : kRed), kWidth * kHeight);
    }
}

TEST_F(DrawConventionsTest, BaseVertexIndexPicksTheMeshInASharedBuffer) {
    // Three quads in one vertex buffer, one set of indices: the base vertex picks the quad,
    // with 16- and 32-bit indices, and from a second copy of the indices (startIndex).
    std::vector<ScreenVertex> shared;
    const DWORD colours[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (int q = 0; q < 3; ++q) {
        std::vector<ScreenVertex> quad = ScreenQuad(10.0f + 40.0f * q, 10.0f, 40.0f + 40.0f * q, 50.0f, 0.5f, colours[q]);
        shared.insert(shared.end(), quad.begin(), quad.end());
    }
    IDirect3DVertexBuffer9* vertices = Vertices(shared, kScreenFvf);
    const std::vector<uint16_t> list16 = {0, 1, 2, 2, 1, 3, 0, 1, 2, 2, 1, 3};
    const std::vector<uint32_t> list32(list16.begin(), list16.end());
    for (IDirect3DIndexBuffer9* indices : {Indices(list16), Indices(list32)}) {
        for (UINT startIndex : {0u, 6u}) {
            Start();
            device_->SetFVF(kScreenFvf);
            device_->SetStreamSource(0, vertices, 0, sizeof(ScreenVertex));
            device_->SetIndices(indices);
            for (INT base : {0, 4, 8}) {
                ASSERT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, base, 0, 4, startIndex, 2), D3D_OK);
            }
            for (int q = 0; q < 3; ++q) {
                const LONG x = 10 + 40 * q;
                EXPECT_EQ(Count(RECT{x + 1, 11, x + 29, 49}, colours[q] & 0xFFFFFF), 28 * 38) << "quad " << q;
            }
        }
    }
    SaveImage("draw-base-vertex");

    // A negative base vertex with indices that make up for it (GL takes no negative array
    // offsets: the layer rebases the indices).
    IDirect3DIndexBuffer9* later = Indices(std::vector<uint16_t>{4, 5, 6, 6, 5, 7});
    Start();
    device_->SetFVF(kScreenFvf);
    device_->SetStreamSource(0, vertices, 0, sizeof(ScreenVertex));
    device_->SetIndices(later);
    ASSERT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -4, 0, 4, 0, 2), D3D_OK);
    EXPECT_EQ(Count(RECT{11, 11, 39, 49}, kRed), 28 * 38);
    EXPECT_EQ(Count(RECT{0, 0, kWidth, kHeight}, kRed), 30 * 40);
    EXPECT_EQ(Count(RECT{0, 0, kWidth, kHeight}, kGreen), 0);
}

TEST_F(DrawConventionsTest, IndexWidthsReadAsTheirFormatsSay) {
    // A mesh of more than 65,536 vertices needs D3DFMT_INDEX32: its indices are read whole,
    // four bytes each, so vertices beyond the 16-bit range are reached. The same values in a
    // D3DFMT_INDEX16 buffer are two bytes each and name the low vertices.
    constexpr uint32_t kHigh = 65536;
    std::vector<ScreenVertex> many(kHigh + 4, ScreenVertex{0.0f, 0.0f, 0.5f, 1.0f, 0xFF000000});
    const std::vector<ScreenVertex> low = ScreenQuad(10.0f, 10.0f, 40.0f, 50.0f, 0.5f, kRed);
    const std::vector<ScreenVertex> high = ScreenQuad(60.0f, 10.0f, 90.0f, 50.0f, 0.5f, kGreen);
    std::copy(low.begin(), low.end(), many.begin());
    std::copy(high.begin(), high.end(), many.begin() + kHigh);
    IDirect3DVertexBuffer9* vertices = Vertices(many, kScreenFvf);
    const std::vector<uint32_t> wide = {kHigh, kHigh + 1, kHigh + 2, kHigh + 2, kHigh + 1, kHigh + 3};
    // The low 16 bits of each wide index, as a 16-bit buffer holds them.
    const std::vector<uint16_t> narrow = {0, 1, 2, 2, 1, 3};
    const struct {
        const char* what;
        IDirect3DIndexBuffer9* indices;
        UINT vertexCount;
        DWORD colour;
        RECT where;
    } cases[] = {
        {"32-bit indices beyond 65535", Indices(wide), kHigh + 4, kGreen, RECT{61, 11, 89, 49}},
        {"16-bit indices", Indices(narrow), 4, kRed, RECT{11, 11, 39, 49}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        D3DINDEXBUFFER_DESC desc{};
        ASSERT_EQ(c.indices->GetDesc(&desc), D3D_OK);
        EXPECT_EQ(desc.Format, c.indices == cases[0].indices ? D3DFMT_INDEX32 : D3DFMT_INDEX16);
        Start();
        device_->SetFVF(kScreenFvf);
        device_->SetStreamSource(0, vertices, 0, sizeof(ScreenVertex));
        device_->SetIndices(c.indices);
        ASSERT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, c.vertexCount, 0, 2), D3D_OK);
        EXPECT_EQ(Count(c.where, c.colour & 0xFFFFFF), 28 * 38);
        EXPECT_EQ(Count(RECT{0, 0, kWidth, kHeight}, c.colour & 0xFFFFFF), 30 * 40) << "only that quad";
    }
}

TEST_F(DrawConventionsTest, TheSameMeshDrawnAgainAfterADisturbanceReadsWhatIsBoundNow) {
    // Object after object the device keeps its context and attribute arrays as they were;
    // whatever could have moved them between two draws must be seen. Three quads share one
    // vertex buffer; the first draw shows the red one, the second the quad named below.
    std::vector<ScreenVertex> shared;
    const DWORD colours[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (int q = 0; q < 3; ++q) {
        std::vector<ScreenVertex> quad = ScreenQuad(10.0f + 40.0f * q, 10.0f, 40.0f + 40.0f * q, 50.0f, 0.5f, colours[q]);
        shared.insert(shared.end(), quad.begin(), quad.end());
    }
    IDirect3DVertexBuffer9* vertices = Vertices(shared, kScreenFvf);
    IDirect3DVertexBuffer9* copy = Vertices(shared, kScreenFvf);
    IDirect3DIndexBuffer9* indices = Indices(std::vector<uint16_t>{0, 1, 2, 2, 1, 3});
    const UINT stride = sizeof(ScreenVertex);
    const struct {
        const char* what;
        std::function<void()> disturb;
        INT base;
        int quad;
    } cases[] = {
        {"nothing", [] {}, 0, 0},
        {"another base vertex", [] {}, 8, 2},
        {"the stream's offset", [&] { device_->SetStreamSource(0, vertices, 4 * stride, stride); }, 0, 1},
        {"another buffer at that offset", [&] { device_->SetStreamSource(0, copy, 8 * stride, stride); }, 0, 2},
        {"a draw with another declaration",
         [&] {
             ASSERT_EQ(DrawQuad(100.0f, 70.0f, 110.0f, 80.0f, 0.5f, 1.0f, 0xFFFFFFFF), D3D_OK);
             device_->SetFVF(kScreenFvf);
             device_->SetStreamSource(0, vertices, 0, stride);
         },
         4, 1},
        {"another window opened and closed", [] { TestWindow other(32, 32); }, 4, 1},
        {"another context made current",
         [] {
             SDL_Window* window = SDL_CreateWindow("other", 0, 0, 32, 32, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
             ASSERT_NE(window, nullptr) << SDL_GetError();
             SDL_GLContext context = SDL_GL_CreateContext(window);  // current from now on
             ASSERT_NE(context, nullptr) << SDL_GetError();
             ASSERT_EQ(SDL_GL_GetCurrentContext(), context);
             SDL_GL_DeleteContext(context);
             SDL_DestroyWindow(window);
         },
         4, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Start();
        device_->SetFVF(kScreenFvf);
        device_->SetStreamSource(0, vertices, 0, stride);
        device_->SetIndices(indices);
        ASSERT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
        c.disturb();
        ASSERT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, c.base, 0, 4, 0, 2), D3D_OK);
        EXPECT_EQ(Count(RECT{11, 11, 39, 49}, kRed), 28 * 38) << "the first draw";
        const LONG x = 10 + 40 * c.quad;
        EXPECT_EQ(Count(RECT{x + 1, 11, x + 29, 49}, colours[c.quad] & 0xFFFFFF), 28 * 38) << "the second draw";
        int drawn = 0;
        for (int q = 0; q < 3; ++q) drawn += Count(RECT{0, 0, kWidth, kHeight}, colours[q] & 0xFFFFFF);
        EXPECT_EQ(drawn, (c.quad == 0 ? 1 : 2) * 30 * 40) << "nothing else";
    }
    // The same vertex range, held a moment ago, runs past the buffer's end from a later offset.
    ASSERT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2), D3D_OK);
    device_->SetStreamSource(0, vertices, 8 * stride, stride);
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 2), D3DERR_INVALIDCALL);
}

TEST_F(DrawConventionsTest, AFrameOfSeveralDraws) {
    // A picture to look at (RH_D3D9_TEST_IMAGES): overlapping transformed and pre-transformed
    // quads at several depths, colours of several types, one lit quad.
    Start();
    ASSERT_EQ(DrawQuad(10.0f, 10.0f, 90.0f, 70.0f, 0.5f, 1.0f, 0xFFFF0000), D3D_OK);
    ASSERT_EQ(DrawQuad(50.0f, 40.0f, 130.0f, 100.0f, 0.25f, 3.0f, 0xFF00FF00), D3D_OK);
    ASSERT_EQ(DrawScreenQuad(70.0f, 20.0f, 150.0f, 60.0f, 0.75f, 0xFF0000FF), D3D_OK);
    device_->SetRenderState(D3DRS_LIGHTING, TRUE);
    D3DMATERIAL9 m{};
    m.Emissive = {1.0f, 1.0f, 0.0f, 1.0f};
    device_->SetMaterial(&m);
    ASSERT_EQ(DrawQuad(20.0f, 80.0f, 60.0f, 110.0f, 0.1f, 1.0f, 0xFFFF0000), D3D_OK);
    SaveImage("draw-frame");
    EXPECT_EQ(Pixel(20, 20), kRed);
    EXPECT_EQ(Pixel(60, 50), kGreen) << "nearer than the red";
    EXPECT_EQ(Pixel(100, 50), kGreen) << "nearer than the blue";
    EXPECT_EQ(Pixel(140, 30), kBlue);
    EXPECT_EQ(Pixel(80, 30), kRed) << "nearer than the blue";
    EXPECT_EQ(Pixel(100, 30), kBlue);
    EXPECT_EQ(Pixel(40, 100), 0xFFFF00u) << "lit: emissive yellow";
}

// ---- Refusals ----

class DrawRefusalTest : public d3d9_test::DrawTest {};

TEST_F(DrawRefusalTest, DrawsGLMustNotSeeAreRefusedAndDrawNothing) {
    // Four pre-transformed vertices covering the frame (80 bytes, stride 20) and eight
    // indices, the last quad's naming vertex 9.
    const std::vector<ScreenVertex> quad = ScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.5f, 0xFFFF0000);
    IDirect3DVertexBuffer9* vertices = Vertices(quad, kScreenFvf);
    IDirect3DIndexBuffer9* indices = Indices(std::vector<uint16_t>{0, 1, 2, 3, 0, 1, 2, 9});
    IDirect3DVertexDeclaration9* twoStreams =
        Declaration({{0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
                     {1, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
                     D3DDECL_END()});
    IDirect3DVertexDeclaration9* pastStride =
        Declaration({{0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
                     {0, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
                     {0, 20, D3DDECLTYPE_FLOAT1, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
                     D3DDECL_END()});
    IDirect3DVertexDeclaration9* noPosition =
        Declaration({{0, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0}, D3DDECL_END()});

    auto draw = [&] { return device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2); };
    auto drawIndexed = [&](INT base, UINT start) {
        return device_->DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, base, 0, 4, start, 2);
    };
    struct Case {
        const char* what;
        std::function<HRESULT()> run;
        HRESULT expected;
    };
    const std::vector<Case> cases = {
        {"the valid draw", draw, D3D_OK},
        {"the valid indexed draw", [&] { return drawIndexed(0, 0); }, D3D_OK},
        {"the valid indexed draw of the last vertex only", [&] {
             return device_->DrawIndexedPrimitive(D3DPT_POINTLIST, 0, 0, 4, 3, 1);
         }, D3D_OK},
        {"no declaration", [&] {
             device_->SetVertexDeclaration(nullptr);
             return draw();
         }, D3DERR_INVALIDCALL},
        {"a declaration without a position", [&] {
             device_->SetVertexDeclaration(noPosition);
             return draw();
         }, D3DERR_INVALIDCALL},
        {"stream 0 unbound", [&] {
             device_->SetStreamSource(0, nullptr, 0, 0);
             return draw();
         }, D3DERR_INVALIDCALL},
        {"a second stream the declaration reads is unbound", [&] {
             device_->SetVertexDeclaration(twoStreams);
             return draw();
         }, D3DERR_INVALIDCALL},
        {"stride 0", [&] {
             device_->SetStreamSource(0, vertices, 0, 0);
             return draw();
         }, D3DERR_INVALIDCALL},
        {"vertices past the buffer's end", [&] { return device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2); },
         D3DERR_INVALIDCALL},
        {"the stream offset pushes the last vertex past the end", [&] {
             device_->SetStreamSource(0, vertices, 4, sizeof(ScreenVertex));
             return draw();
         }, D3DERR_INVALIDCALL},
        {"an element past the stride reads beyond the buffer", [&] {
             device_->SetVertexDeclaration(pastStride);
             return draw();
         }, D3DERR_INVALIDCALL},
        {"a start vertex beyond GL's int", [&] { return device_->DrawPrimitive(D3DPT_POINTLIST, 0xFFFFFFF0u, 1); },
         D3DERR_INVALIDCALL},
        {"no primitives", [&] { return device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 0); }, D3DERR_INVALIDCALL},
        {"more primitives than the caps allow", [&] {
             return device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0x01000000);
         }, D3DERR_INVALIDCALL},
        {"a primitive count whose vertices overflow", [&] {
             return device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0xFFFFFFFF);
         }, D3DERR_INVALIDCALL},
        {"an unknown primitive type", [&] { return device_->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(7), 0, 1); },
         D3DERR_INVALIDCALL},
        {"primitive type 0", [&] { return device_->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(0), 0, 1); },
         D3DERR_INVALIDCALL},
        {"an index beyond the vertex buffer", [&] { return drawIndexed(0, 4); }, D3DERR_INVALIDCALL},
        {"the base vertex pushes the indices past the vertices", [&] { return drawIndexed(1, 0); },
         D3DERR_INVALIDCALL},
        {"a negative base vertex reaches before the first vertex", [&] { return drawIndexed(-1, 0); },
         D3DERR_INVALIDCALL},
        {"indices past the index buffer's end", [&] { return drawIndexed(0, 5); }, D3DERR_INVALIDCALL},
        {"a start index beyond everything", [&] { return drawIndexed(0, 0xFFFFFFFF); }, D3DERR_INVALIDCALL},
        {"no index buffer", [&] {
             device_->SetIndices(nullptr);
             return drawIndexed(0, 0);
         }, D3DERR_INVALIDCALL},
        {"indexed, no primitives", [&] {
             return device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 0);
         }, D3DERR_INVALIDCALL},
    };
    const RECT frame{0, 0, kWidth, kHeight};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);
        device_->SetFVF(kScreenFvf);
        device_->SetStreamSource(0, vertices, 0, sizeof(ScreenVertex));
        device_->SetIndices(indices);
        rh::d3d9::testing::ResetDrawCallCount(device_);
        EXPECT_EQ(c.run(), c.expected);
        const bool drawn = c.expected == D3D_OK;
        EXPECT_EQ(rh::d3d9::testing::DrawCallCount(device_), drawn ? 1u : 0u);
        if (!drawn) {
            EXPECT_EQ(Count(frame, 0), kWidth * kHeight) << "something was drawn";
        }
    }
}

TEST_F(DrawRefusalTest, DeclarationsWithTypesTheDeviceCannotReadAreRefused) {
    for (BYTE type : {BYTE{D3DDECLTYPE_UDEC3}, BYTE{D3DDECLTYPE_DEC3N}, BYTE{D3DDECLTYPE_UNUSED}, BYTE{40}}) {
        const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                              {0, 12, type, 0, D3DDECLUSAGE_NORMAL, 0},
                                              D3DDECL_END()};
        IDirect3DVertexDeclaration9* declaration = nullptr;
        EXPECT_EQ(device_->CreateVertexDeclaration(elements, &declaration), D3DERR_INVALIDCALL) << int{type};
    }
}

TEST_F(DrawRefusalTest, ALostDeviceAcceptsDrawsAndDrawsNothing) {
    IDirect3DVertexBuffer9* vertices = Vertices(ScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.5f, 0xFFFF0000), kScreenFvf);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);
    device_->SetFVF(kScreenFvf);
    device_->SetStreamSource(0, vertices, 0, sizeof(ScreenVertex));
    rh::d3d9::testing::ForceDeviceLoss(device_, true);
    rh::d3d9::testing::ResetDrawCallCount(device_);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EXPECT_EQ(rh::d3d9::testing::DrawCallCount(device_), 1u);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2), D3DERR_INVALIDCALL) << "still checked";
    EXPECT_EQ(Count(RECT{0, 0, kWidth, kHeight}, kRed), 0);
    rh::d3d9::testing::ForceDeviceLoss(device_, false);
}

TEST_F(DrawRefusalTest, StreamsAndIndicesBindWithoutAPublicReferenceAndResetDropsThem) {
    IDirect3DVertexBuffer9* vertices = Vertices(ScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.5f, 0xFFFF0000), kScreenFvf);
    IDirect3DIndexBuffer9* indices = Indices(std::vector<uint16_t>{0, 1, 2, 3});
    ASSERT_EQ(device_->SetStreamSource(0, vertices, 8, 20), D3D_OK);
    ASSERT_EQ(device_->SetIndices(indices), D3D_OK);
    EXPECT_EQ(d3d9_test::RefCount(vertices), 1u);
    EXPECT_EQ(d3d9_test::RefCount(indices), 1u);
    IDirect3DVertexBuffer9* bound = nullptr;
    UINT offset = 0;
    UINT stride = 0;
    ASSERT_EQ(device_->GetStreamSource(0, &bound, &offset, &stride), D3D_OK);
    EXPECT_EQ(bound, vertices);
    EXPECT_EQ(offset, 8u);
    EXPECT_EQ(stride, 20u);
    EXPECT_EQ(bound->Release(), 1u) << "Get* handed out a reference";
    IDirect3DIndexBuffer9* boundIndices = nullptr;
    ASSERT_EQ(device_->GetIndices(&boundIndices), D3D_OK);
    EXPECT_EQ(boundIndices, indices);
    boundIndices->Release();
    EXPECT_EQ(device_->SetStreamSource(8, vertices, 0, 20), D3DERR_INVALIDCALL) << "streams 0-7";
    EXPECT_EQ(device_->GetStreamSource(8, &bound, &offset, &stride), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetStreamSource(0, vertices, 0, 256), D3DERR_INVALIDCALL) << "past MaxStreamStride";

    D3DPRESENT_PARAMETERS pp = d3d9_test::WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp), D3D_OK) << "managed buffers do not stop a Reset";
    ASSERT_EQ(device_->GetStreamSource(0, &bound, &offset, &stride), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    ASSERT_EQ(device_->GetIndices(&boundIndices), D3D_OK);
    EXPECT_EQ(boundIndices, nullptr);
}

TEST_F(DrawRefusalTest, TheDrawCounterCountsAcceptedDrawsSinceItsReset) {
    IDirect3DVertexBuffer9* vertices = Vertices(ScreenQuad(0.0f, 0.0f, 10.0f, 10.0f, 0.5f, 0xFFFF0000), kScreenFvf);
    IDirect3DIndexBuffer9* indices = Indices(std::vector<uint16_t>{0, 1, 2, 3});
    device_->SetFVF(kScreenFvf);
    device_->SetStreamSource(0, vertices, 0, sizeof(ScreenVertex));
    device_->SetIndices(indices);
    rh::d3d9::testing::ResetDrawCallCount(device_);
    for (int i = 0; i < 3; ++i) {
        device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        device_->DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, 0, 0, 4, 0, 2);
        device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 0);  // refused
    }
    // Points and lines count as draws but draw no triangles.
    device_->DrawPrimitive(D3DPT_POINTLIST, 0, 4);
    device_->DrawPrimitive(D3DPT_LINESTRIP, 0, 3);
    device_->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    EXPECT_EQ(rh::d3d9::testing::DrawCallCount(device_), 9u);
    EXPECT_EQ(rh::d3d9::testing::TriangleCount(device_), 14u);
    rh::d3d9::testing::ResetDrawCallCount(device_);
    EXPECT_EQ(rh::d3d9::testing::DrawCallCount(device_), 0u);
    EXPECT_EQ(rh::d3d9::testing::TriangleCount(device_), 0u);
}

}  // namespace
