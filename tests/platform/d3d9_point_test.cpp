// Point lists and point sprites: the size a point gets (POINTSIZE or the vertex's PSIZE,
// Direct3D's distance attenuation with the viewport height, the smallest and largest size),
// the whole texture on a sprite with (0, 0) at its top-left, and triangles drawn after the
// point states were left on.

#include "tests/platform/d3d9_test_support.h"

#include "platform/d3d9/d3d9_testing.h"

#include <d3d9.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using d3d9_test::TestWindow;
using d3d9_test::WindowedParameters;

struct SizedPoint {
    float x, y, z, size;
    DWORD colour;
};
constexpr DWORD kSizedFvf = D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_DIFFUSE;

struct PlainPoint {
    float x, y, z;
    DWORD colour;
};
constexpr DWORD kPlainFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

struct ScreenTexVertex {
    float x, y, z, rhw;
    DWORD colour;
    float u, v;
};
constexpr DWORD kScreenTexFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

DWORD Bits(float f) {
    DWORD d;
    std::memcpy(&d, &f, sizeof d);
    return d;
}

// Large enough for the largest point the device offers to show whole.
constexpr int kWidth = 320;
constexpr int kHeight = 300;

class PointTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        window_ = std::make_unique<TestWindow>(kWidth, kHeight);
        D3DPRESENT_PARAMETERS pp = WindowedParameters();
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_->hwnd(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                     &device_),
                  D3D_OK);
        ASSERT_EQ(pp.BackBufferHeight, static_cast<UINT>(kHeight));
        // Camera at the origin looking along +z, 90 degrees vertically, square pixels.
        D3DMATRIX identity{};
        identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
        D3DMATRIX projection{};
        float zn = 1.0f, zf = 1000.0f;
        projection._11 = static_cast<float>(kHeight) / kWidth;
        projection._22 = 1.0f;
        projection._33 = zf / (zf - zn);
        projection._34 = 1.0f;
        projection._43 = -zn * zf / (zf - zn);
        device_->SetTransform(D3DTS_WORLD, &identity);
        device_->SetTransform(D3DTS_VIEW, &identity);
        device_->SetTransform(D3DTS_PROJECTION, &projection);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_ZENABLE, FALSE);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    }
    void TearDown() override {
        for (IUnknown* object : owned_) object->Release();
        if (device_ != nullptr) {
            EXPECT_EQ(device_->Release(), 0u);
        }
        window_.reset();
        if (d3d_ != nullptr) d3d_->Release();
    }

    template <typename T>
    void Draw(const std::vector<T>& vertices, DWORD fvf, D3DPRIMITIVETYPE type, UINT count) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        UINT bytes = static_cast<UINT>(vertices.size() * sizeof(T));
        ASSERT_EQ(device_->CreateVertexBuffer(bytes, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY | D3DUSAGE_POINTS, fvf,
                                              D3DPOOL_DEFAULT, &buffer, nullptr),
                  D3D_OK);
        owned_.push_back(buffer);
        void* p = nullptr;
        ASSERT_EQ(buffer->Lock(0, 0, &p, D3DLOCK_DISCARD), D3D_OK);
        std::memcpy(p, vertices.data(), bytes);
        buffer->Unlock();
        device_->SetFVF(fvf);
        device_->SetStreamSource(0, buffer, 0, sizeof(T));
        ASSERT_EQ(device_->DrawPrimitive(type, 0, count), D3D_OK);
    }

    std::vector<DWORD> Read() {
        std::vector<DWORD> pixels;
        EXPECT_TRUE(rh::d3d9::testing::ReadBackBuffer(device_, RECT{0, 0, kWidth, kHeight}, &pixels));
        for (DWORD& p : pixels) p &= 0x00FFFFFF;
        return pixels;
    }
    // The lit columns of row y between x0 and x1 and the lit rows of column x.
    static int LitRun(const std::vector<DWORD>& image, int y, int x0, int x1) {
        int n = 0;
        for (int x = x0; x < x1; ++x) n += image[static_cast<size_t>(y) * kWidth + x] != 0 ? 1 : 0;
        return n;
    }
    static int LitColumn(const std::vector<DWORD>& image, int x) {
        int n = 0;
        for (int y = 0; y < kHeight; ++y) n += image[static_cast<size_t>(y) * kWidth + x] != 0 ? 1 : 0;
        return n;
    }
    void ScaleStates(float a, float b, float c) {
        device_->SetRenderState(D3DRS_POINTSCALEENABLE, TRUE);
        device_->SetRenderState(D3DRS_POINTSCALE_A, Bits(a));
        device_->SetRenderState(D3DRS_POINTSCALE_B, Bits(b));
        device_->SetRenderState(D3DRS_POINTSCALE_C, Bits(c));
    }
    // A 2 x 2 texture: red, green on top, blue, white below.
    IDirect3DTexture9* Quadrants() {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device_->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        if (texture == nullptr) return nullptr;
        owned_.push_back(texture);
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        auto* row0 = static_cast<DWORD*>(locked.pBits);
        auto* row1 = reinterpret_cast<DWORD*>(static_cast<char*>(locked.pBits) + locked.Pitch);
        row0[0] = 0xFFFF0000;
        row0[1] = 0xFF00FF00;
        row1[0] = 0xFF0000FF;
        row1[1] = 0xFFFFFFFF;
        texture->UnlockRect(0);
        return texture;
    }

    IDirect3D9* d3d_ = nullptr;
    std::unique_ptr<TestWindow> window_;
    IDirect3DDevice9* device_ = nullptr;
    std::vector<IUnknown*> owned_;
};

// S = Vh * Si * sqrt(1 / (A + B De + C De^2)) with De the eye distance; A = B = 0, C = 4
// gives Vh * Si / (2 De).
TEST_F(PointTest, ScaledSpriteSquareMatchesTheAttenuationFormula) {
    ScaleStates(0.0f, 0.0f, 4.0f);
    device_->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    struct Case {
        float z, size;
    };
    for (Case c : {Case{100.0f, 2.0f}, Case{60.0f, 1.5f}, Case{300.0f, 10.0f}}) {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        Draw(std::vector<SizedPoint>{{0.0f, 0.0f, c.z, c.size, 0xFFFFFFFF}}, kSizedFvf, D3DPT_POINTLIST, 1);
        std::vector<DWORD> image = Read();
        double expected = kHeight * c.size / (2.0 * c.z);
        EXPECT_NEAR(LitRun(image, kHeight / 2, 0, kWidth), expected, 1.01) << "z " << c.z;
        EXPECT_NEAR(LitColumn(image, kWidth / 2), expected, 1.01) << "z " << c.z;
    }
}

// The distance is Euclidean, not the depth: at the same z a point off the axis is smaller by
// the ratio of the distances. Without PSIZE, POINTSIZE serves.
TEST_F(PointTest, OffAxisSpriteShrinksByTheRatioOfEyeDistances) {
    ScaleStates(0.0f, 0.0f, 4.0f);
    device_->SetRenderState(D3DRS_POINTSIZE, Bits(20.0f));
    float z = 50.0f, x = 40.0f;
    Draw(std::vector<PlainPoint>{{0.0f, 0.0f, z, 0xFFFFFFFF}, {x, 0.0f, z, 0xFFFFFFFF}}, kPlainFvf,
         D3DPT_POINTLIST, 2);
    std::vector<DWORD> image = Read();
    double near = kHeight * 20.0 / (2.0 * z);
    double far = kHeight * 20.0 / (2.0 * std::sqrt(x * x + z * z));
    int centre = LitRun(image, kHeight / 2, 0, kWidth / 2 + 40);
    int off = LitRun(image, kHeight / 2, kWidth / 2 + 40, kWidth);
    EXPECT_NEAR(centre, near, 1.01);
    EXPECT_NEAR(off, far, 1.01);
    EXPECT_GT(centre - off, 10);
}

// Unscaled sizes are pixels, clamped to [POINTSIZE_MIN, min(POINTSIZE_MAX, MaxPointSize)];
// POINTSIZE_MAX defaults to what the device offers.
TEST_F(PointTest, SizesAreClampedToTheSmallestAndLargest) {
    D3DCAPS9 caps{};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    DWORD maxBits = 0;
    device_->GetRenderState(D3DRS_POINTSIZE_MAX, &maxBits);
    float defaultMax;
    std::memcpy(&defaultMax, &maxBits, sizeof defaultMax);
    EXPECT_EQ(defaultMax, caps.MaxPointSize);
    ASSERT_GT(caps.MaxPointSize, 16.0f);
    ASSERT_LE(caps.MaxPointSize, static_cast<float>(kHeight)) << "the device's largest point does not fit the test";

    struct Case {
        float size, min, max;  // max < 0: left at its default
        double expected;
    };
    const Case cases[] = {
        {6.0f, 1.0f, -1.0f, 6.0},      // pixels
        {2.0f, 12.0f, -1.0f, 12.0},    // raised to the smallest
        {40.0f, 1.0f, 20.0f, 20.0},    // cut to the largest state
        {5000.0f, 1.0f, -1.0f, static_cast<double>(defaultMax)},  // the default largest
    };
    for (const Case& c : cases) {
        device_->SetRenderState(D3DRS_POINTSIZE_MIN, Bits(c.min));
        device_->SetRenderState(D3DRS_POINTSIZE_MAX, c.max < 0.0f ? maxBits : Bits(c.max));
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        Draw(std::vector<SizedPoint>{{0.0f, 0.0f, 10.0f, c.size, 0xFFFFFFFF}}, kSizedFvf, D3DPT_POINTLIST, 1);
        std::vector<DWORD> image = Read();
        EXPECT_NEAR(LitColumn(image, kWidth / 2), c.expected, 1.01) << "size " << c.size;
    }
}

// A sprite shows the whole texture, (0, 0) at its top-left on screen.
TEST_F(PointTest, SpriteShowsTheWholeTextureUprightOnEveryPoint) {
    device_->SetTexture(0, Quadrants());
    device_->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    device_->SetRenderState(D3DRS_POINTSIZE, Bits(40.0f));
    Draw(std::vector<PlainPoint>{{-20.0f, 0.0f, 50.0f, 0xFFFFFFFF}, {20.0f, 0.0f, 50.0f, 0xFFFFFFFF}}, kPlainFvf,
         D3DPT_POINTLIST, 2);
    std::vector<DWORD> image = Read();
    // The projected centres: x / z times the projection's x scale, in half-widths.
    for (float wx : {-20.0f, 20.0f}) {
        int cx = static_cast<int>(std::lround(kWidth / 2.0 + wx / 50.0 * (static_cast<double>(kHeight) / kWidth) *
                                                                   kWidth / 2.0));
        int cy = kHeight / 2;
        auto at = [&](int x, int y) { return image[static_cast<size_t>(y) * kWidth + x]; };
        EXPECT_EQ(at(cx - 10, cy - 10), 0xFF0000u) << cx;
        EXPECT_EQ(at(cx + 10, cy - 10), 0x00FF00u) << cx;
        EXPECT_EQ(at(cx - 10, cy + 10), 0x0000FFu) << cx;
        EXPECT_EQ(at(cx + 10, cy + 10), 0xFFFFFFu) << cx;
    }
}

// The point states are left on after the points; triangles drawn afterwards keep their own
// texture coordinates and extent.
TEST_F(PointTest, PointStatesLeaveLaterTrianglesAlone) {
    device_->SetTexture(0, Quadrants());
    device_->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    ScaleStates(0.0f, 0.0f, 4.0f);
    device_->SetRenderState(D3DRS_POINTSIZE, Bits(64.0f));
    device_->SetRenderState(D3DRS_POINTSIZE_MIN, Bits(30.0f));
    Draw(std::vector<PlainPoint>{{0.0f, 0.0f, 50.0f, 0xFFFFFFFF}}, kPlainFvf, D3DPT_POINTLIST, 1);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    // Every vertex samples the lower-right texel: a sprite's coordinates would vary.
    float u = 0.75f, v = 0.75f;
    Draw(std::vector<ScreenTexVertex>{{10, 10, 0, 1, 0xFFFFFFFF, u, v},
                                      {50, 10, 0, 1, 0xFFFFFFFF, u, v},
                                      {10, 40, 0, 1, 0xFFFFFFFF, u, v},
                                      {50, 40, 0, 1, 0xFFFFFFFF, u, v}},
         kScreenTexFvf, D3DPT_TRIANGLESTRIP, 2);
    std::vector<DWORD> image = Read();
    int white = 0, other = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            DWORD p = image[static_cast<size_t>(y) * kWidth + x];
            bool inside = x >= 10 && x < 50 && y >= 10 && y < 40;
            if (inside) white += p == 0xFFFFFF ? 1 : 0;
            if (!inside) other += p != 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(white, 40 * 30);
    EXPECT_EQ(other, 0);
}

}  // namespace
