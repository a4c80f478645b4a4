// Textures in draws, read back from the back buffer: Direct3D's texel-to-pixel mapping, the
// default cascade of stage 0, address modes, filters and mip levels, coordinate sets, cube
// maps, updates after a draw, DXT, and Reset.

#include "tests/platform/d3d9_draw_support.h"

#include <d3d9.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace d3d9_test {
namespace {

// A pre-transformed vertex with a colour and one 2D coordinate set.
struct TexturedVertex {
    float x, y, z, rhw;
    DWORD colour;
    float u, v;
};
constexpr DWORD kTexturedFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

int Channel(DWORD c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }

// Whether each of red, green and blue of a and b differ by at most tolerance.
bool Near(DWORD a, DWORD b, int tolerance) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(Channel(a, shift) - Channel(b, shift)) > tolerance) return false;
    }
    return true;
}

class SamplingTest : public DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        if (HasFatalFailure()) return;
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    }
    void TearDown() override {
        rh::d3d9::testing::DisableS3tc(false);
        rh::d3d9::testing::DisableTextureSwizzle(false);
        DrawTest::TearDown();
    }

    // A managed A8R8G8B8 texture of width x height holding texels (top row first), one level.
    IDirect3DTexture9* Texture(UINT width, UINT height, const std::vector<DWORD>& texels) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device_->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
                  D3D_OK);
        if (texture == nullptr) return nullptr;
        owned_.push_back(texture);
        Fill(texture, 0, width, height, texels);
        return texture;
    }
    static void Fill(IDirect3DTexture9* texture, UINT level, UINT width, UINT height, const std::vector<DWORD>& texels) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(level, &locked, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch);
            for (UINT x = 0; x < width; ++x) row[x] = texels[y * width + x];
        }
        ASSERT_EQ(texture->UnlockRect(level), D3D_OK);
    }

    // Draws the pixels [x0, x1) x [y0, y1) with coordinates u0..u1, v0..v1 at their outer
    // edges: Direct3D samples pixel centres at integers, so the quad's corners lie half a
    // pixel up and left of the pixels' corners.
    HRESULT DrawTextured(float x0, float y0, float x1, float y1, float u0, float v0, float u1, float v1,
                         DWORD colour = 0xFFFFFFFF) {
        x0 -= 0.5f;
        y0 -= 0.5f;
        x1 -= 0.5f;
        y1 -= 0.5f;
        std::vector<TexturedVertex> quad = {{x0, y0, 0.5f, 1.0f, colour, u0, v0},
                                            {x1, y0, 0.5f, 1.0f, colour, u1, v0},
                                            {x0, y1, 0.5f, 1.0f, colour, u0, v1},
                                            {x1, y1, 0.5f, 1.0f, colour, u1, v1}};
        IDirect3DVertexBuffer9* buffer = Vertices(quad, kTexturedFvf);
        device_->SetFVF(kTexturedFvf);
        device_->SetStreamSource(0, buffer, 0, sizeof(TexturedVertex));
        return device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    }
    void Sampler(DWORD type, DWORD value, DWORD sampler = 0) {
        ASSERT_EQ(device_->SetSamplerState(sampler, static_cast<D3DSAMPLERSTATETYPE>(type), value), D3D_OK);
    }
    void Clear(DWORD colour = 0xFF000000) { ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, colour, 1.0f, 0), D3D_OK); }
};

// A 4 x 4 picture of sixteen different colours.
std::vector<DWORD> SixteenColours() {
    std::vector<DWORD> texels;
    for (DWORD i = 0; i < 16; ++i) texels.push_back(0xFF000000 | (i * 0x10) << 16 | ((15 - i) * 0x10) << 8 | 0x40);
    return texels;
}

TEST_F(SamplingTest, TexelsMapOntoPixelsAsInDirect3D) {
    IDirect3DTexture9* texture = Texture(4, 4, SixteenColours());
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    Clear();
    // One pixel a texel, and ten pixels a texel (POINT, Direct3D's default filters).
    ASSERT_EQ(DrawTextured(4, 4, 8, 8, 0, 0, 1, 1), D3D_OK);
    ASSERT_EQ(DrawTextured(20, 20, 60, 60, 0, 0, 1, 1), D3D_OK);
    SaveImage("sampling_texel_mapping");
    std::vector<DWORD> texels = SixteenColours();
    EXPECT_EQ(Read(RECT{4, 4, 8, 8}), [&] {
        std::vector<DWORD> rgb;
        for (DWORD t : texels) rgb.push_back(t & 0x00FFFFFF);
        return rgb;
    }());
    for (int ty = 0; ty < 4; ++ty) {
        for (int tx = 0; tx < 4; ++tx) {
            RECT block{20 + tx * 10, 20 + ty * 10, 30 + tx * 10, 30 + ty * 10};
            EXPECT_EQ(Count(block, texels[ty * 4 + tx]), 100) << "texel " << tx << ", " << ty;
        }
    }
}

TEST_F(SamplingTest, StageZeroModulatesTheTextureWithTheDiffuseColourAndTakesItsAlpha) {
    IDirect3DTexture9* texture = Texture(1, 1, {0x40FF8040});
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    struct Case {
        const char* what;
        std::function<void(IDirect3DDevice9*)> setup;
        DWORD diffuse;
        DWORD expected;  // over black with SRCALPHA, INVSRCALPHA blending
    };
    auto stage = [](D3DTEXTURESTAGESTATETYPE type, DWORD value) {
        return [=](IDirect3DDevice9* d) { d->SetTextureStageState(0, type, value); };
    };
    const Case cases[] = {
        // texture x diffuse = (0xFF, 0x80, 0x40) x (0x80, 0xFF, 0xFF), times the texture's alpha 0x40.
        {"the defaults", [](IDirect3DDevice9*) {}, 0xFF80FFFF, 0x00202010},
        {"the texture's colour alone", stage(D3DTSS_COLOROP, D3DTOP_SELECTARG1), 0xFF80FFFF, 0x00402010},
        {"the diffuse colour alone", stage(D3DTSS_COLOROP, D3DTOP_SELECTARG2), 0xFF80FFFF, 0x00204040},
        {"alpha modulated", stage(D3DTSS_ALPHAOP, D3DTOP_MODULATE), 0x8080FFFF, 0x00101008},
        {"alpha from the diffuse colour", stage(D3DTSS_ALPHAOP, D3DTOP_SELECTARG2), 0xFF80FFFF, 0x00808040},
        {"stage 0 disabled: the diffuse colour", stage(D3DTSS_COLOROP, D3DTOP_DISABLE), 0xFF80FFFF, 0x0080FFFF},
    };
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    for (const Case& c : cases) {
        // The stage's defaults again before each case.
        device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        c.setup(device_);
        Clear();
        ASSERT_EQ(DrawTextured(10, 10, 50, 50, 0, 0, 1, 1, c.diffuse), D3D_OK);
        DWORD got = Pixel(30, 30);
        EXPECT_TRUE(Near(got, c.expected, 2)) << c.what << ": got " << std::hex << got << " expected " << c.expected;
    }
    device_->SetTexture(0, nullptr);
    Clear();
    ASSERT_EQ(DrawTextured(10, 10, 50, 50, 0, 0, 1, 1, 0xFF80FFFF), D3D_OK);
    EXPECT_EQ(Pixel(30, 30), 0x0080FFFFu) << "without a texture the diffuse colour passes";
}

// A 2 x 2 texture drawn over 3 x 3 copies of the coordinate range (-1..2 in u and v): each
// address mode decides which texel, or the border colour, each copy shows.
TEST_F(SamplingTest, AddressModesPickTexelsOutsideZeroToOne) {
    const std::vector<DWORD> texels = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
    constexpr DWORD kBorder = 0xFF808080;
    IDirect3DTexture9* texture = Texture(2, 2, texels);
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    Sampler(D3DSAMP_BORDERCOLOR, kBorder);
    D3DCAPS9 caps{};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);

    // The texel index (0 or 1) a coordinate in half-texel steps s (texel centres at
    // s + 0.5, s from -2 to 3) reads; -1 for the border.
    struct Mode {
        DWORD mode;
        const char* name;
        int (*texel)(int s);
    };
    const Mode modes[] = {
        {D3DTADDRESS_WRAP, "WRAP", [](int s) { return ((s % 2) + 2) % 2; }},
        {D3DTADDRESS_MIRROR, "MIRROR", [](int s) { return s < 0 ? -s - 1 : s < 2 ? s : 3 - s; }},
        {D3DTADDRESS_CLAMP, "CLAMP", [](int s) { return s < 0 ? 0 : s > 1 ? 1 : s; }},
        {D3DTADDRESS_BORDER, "BORDER", [](int s) { return s < 0 || s > 1 ? -1 : s; }},
        {D3DTADDRESS_MIRRORONCE, "MIRRORONCE", [](int s) { return s < 0 ? -s - 1 : s > 1 ? 1 : s; }},
    };
    for (const Mode& m : modes) {
        if (m.mode == D3DTADDRESS_MIRRORONCE && (caps.TextureAddressCaps & D3DPTADDRESSCAPS_MIRRORONCE) == 0) continue;
        Sampler(D3DSAMP_ADDRESSU, m.mode);
        Sampler(D3DSAMP_ADDRESSV, m.mode);
        Clear();
        // 6 x 6 texel-sized cells of 12 pixels.
        ASSERT_EQ(DrawTextured(0, 0, 72, 72, -1, -1, 2, 2), D3D_OK);
        SaveImage((std::string("sampling_address_") + m.name).c_str());
        for (int cy = 0; cy < 6; ++cy) {
            for (int cx = 0; cx < 6; ++cx) {
                int tx = m.texel(cx - 2);
                int ty = m.texel(cy - 2);
                DWORD expected = tx < 0 || ty < 0 ? kBorder : texels[ty * 2 + tx];
                RECT inner{cx * 12 + 2, cy * 12 + 2, cx * 12 + 10, cy * 12 + 10};
                EXPECT_EQ(Count(inner, expected), 64) << m.name << " cell " << cx << ", " << cy;
            }
        }
    }
}

// The 32-bit formats drawn with the texture's colour and alpha alone over black (SRCALPHA,
// INVSRCALPHA) and border addressing: red, green and blue land in their places, an X8 format's
// unused byte samples as alpha 1 whatever it holds, an A8 format's alpha as written, and the
// border shows its own colour. Once with the store GL keeps as the bytes arrive (red and blue
// swapped back, alpha forced by the texture's swizzle) and once as on a driver without
// swizzles. A lock after the upload reads an X8 format's unused byte as 0xFF in both.
TEST_F(SamplingTest, ThirtyTwoBitFormatsSampleTheirChannelsAndBorderWithOrWithoutSwizzles) {
    struct Case {
        D3DFORMAT format;
        DWORD word;      // the texel as a little-endian word of the format
        DWORD expected;  // the pixel over black: red 0xC0, green 0x80, blue 0x20 times alpha
    };
    const Case cases[] = {
        {D3DFMT_A8R8G8B8, 0x40C08020, 0x00302008},
        {D3DFMT_X8R8G8B8, 0x40C08020, 0x00C08020},
        {D3DFMT_A8B8G8R8, 0x402080C0, 0x00302008},
        {D3DFMT_X8B8G8R8, 0x402080C0, 0x00C08020},
    };
    constexpr DWORD kBorder = 0xFF3060A0;
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    for (bool swizzles : {true, false}) {
        rh::d3d9::testing::DisableTextureSwizzle(!swizzles);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "format " << c.format << (swizzles ? "" : " without swizzles"));
            IDirect3DTexture9* texture = nullptr;
            ASSERT_EQ(device_->CreateTexture(2, 2, 1, 0, c.format, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
            owned_.push_back(texture);
            Fill(texture, 0, 2, 2, std::vector<DWORD>(4, c.word));
            ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
            Sampler(D3DSAMP_ADDRESSU, D3DTADDRESS_BORDER);
            Sampler(D3DSAMP_ADDRESSV, D3DTADDRESS_BORDER);
            Sampler(D3DSAMP_BORDERCOLOR, kBorder);
            Clear();
            // Three texel-sized cells of 12 pixels a side: border, texture, border.
            ASSERT_EQ(DrawTextured(0, 0, 72, 72, -1, -1, 2, 2), D3D_OK);
            DWORD inside = Pixel(30, 30);
            EXPECT_TRUE(Near(inside, c.expected, 2)) << std::hex << "got " << inside << " expected " << c.expected;
            EXPECT_EQ(Pixel(6, 6), kBorder & 0x00FFFFFF);
            EXPECT_EQ(Pixel(66, 30), kBorder & 0x00FFFFFF);

            D3DLOCKED_RECT locked{};
            ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
            const bool unusedByte = c.format == D3DFMT_X8R8G8B8 || c.format == D3DFMT_X8B8G8R8;
            const DWORD read = *static_cast<const DWORD*>(locked.pBits);
            ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
            EXPECT_EQ(read, unusedByte ? (c.word | 0xFF000000) : c.word) << std::hex << read;
            std::vector<DWORD> gl;
            ASSERT_TRUE(rh::d3d9::testing::ReadTextureLevel(texture, 0, 0, &gl));
            const DWORD argb = (c.format == D3DFMT_A8B8G8R8 || c.format == D3DFMT_X8B8G8R8)
                                   ? (c.word & 0xFF00FF00) | (c.word >> 16 & 0xFF) | (c.word & 0xFF) << 16
                                   : c.word;
            EXPECT_EQ(gl[0], unusedByte ? (argb | 0xFF000000) : argb) << std::hex << gl[0];
            device_->SetTexture(0, nullptr);
        }
    }
}

TEST_F(SamplingTest, MagnificationFiltersPointOrLinear) {
    // Black and white side by side, stretched over 100 pixels: each pixel's u is (x + 0.5) / 100.
    IDirect3DTexture9* texture = Texture(2, 1, {0xFF000000, 0xFFFFFFFF});
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    Sampler(D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    struct Case {
        DWORD filter;
        bool linear;
    };
    for (Case c : {Case{D3DTEXF_POINT, false}, Case{D3DTEXF_LINEAR, true}, Case{D3DTEXF_ANISOTROPIC, true},
                   Case{D3DTEXF_PYRAMIDALQUAD, true}, Case{D3DTEXF_GAUSSIANQUAD, true}, Case{D3DTEXF_POINT, false}}) {
        Sampler(D3DSAMP_MAGFILTER, c.filter);
        Sampler(D3DSAMP_MINFILTER, c.filter);
        Clear();
        ASSERT_EQ(DrawTextured(0, 10, 100, 20, 0, 0, 1, 1), D3D_OK);
        std::vector<DWORD> row = Read(RECT{0, 15, 100, 16});
        for (int x = 0; x < 100; ++x) {
            // Linear: the texel centres at u 0.25 and 0.75 (pixels 24.5 and 74.5) ramp in between.
            float u = (static_cast<float>(x) + 0.5f) / 100.0f;
            int expected = 0;
            if (c.linear) {
                expected = static_cast<int>(std::lround(std::clamp((u - 0.25f) * 2.0f, 0.0f, 1.0f) * 255.0f));
            } else {
                expected = u < 0.5f ? 0 : 255;
            }
            ASSERT_NEAR(Channel(row[x], 8), expected, c.linear ? 3 : 0) << "filter " << c.filter << " pixel " << x;
        }
    }
}

// A 64 x 64 chain whose levels are red, green, blue, yellow, ... drawn at 16 x 16 pixels:
// level 2 is the one that fits.
TEST_F(SamplingTest, MipFiltersMaxMipLevelAndLodBiasChooseTheLevel) {
    const DWORD levelColours[7] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF, 0xFFFFFFFF};
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(64, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    owned_.push_back(texture);
    ASSERT_EQ(texture->GetLevelCount(), 7u);
    for (UINT level = 0; level < 7; ++level) {
        UINT side = 64 >> level;
        Fill(texture, level, side, side, std::vector<DWORD>(size_t{side} * side, levelColours[level]));
    }
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    auto bias = [](float b) {
        DWORD bits = 0;
        std::memcpy(&bits, &b, sizeof bits);
        return bits;
    };
    struct Case {
        const char* what;
        DWORD minFilter, mipFilter, maxMipLevel;
        float lodBias;
        DWORD expected;
        int tolerance;
    };
    const Case cases[] = {
        {"no mip filter: level 0", D3DTEXF_POINT, D3DTEXF_NONE, 0, 0.0f, levelColours[0], 0},
        {"point mip filter: level 2", D3DTEXF_POINT, D3DTEXF_POINT, 0, 0.0f, levelColours[2], 0},
        {"linear filters: level 2", D3DTEXF_LINEAR, D3DTEXF_LINEAR, 0, 0.0f, levelColours[2], 4},
        {"max mip level 4 above the fitting 2", D3DTEXF_POINT, D3DTEXF_POINT, 4, 0.0f, levelColours[4], 0},
        {"max mip level 1 below it", D3DTEXF_POINT, D3DTEXF_POINT, 1, 0.0f, levelColours[2], 0},
        {"max mip level without mip filter", D3DTEXF_POINT, D3DTEXF_NONE, 3, 0.0f, levelColours[3], 0},
        {"max mip level past the chain: the last", D3DTEXF_POINT, D3DTEXF_POINT, 9, 0.0f, levelColours[6], 0},
        {"bias +1: level 3", D3DTEXF_POINT, D3DTEXF_POINT, 0, 1.0f, levelColours[3], 0},
        {"bias -2: level 0", D3DTEXF_POINT, D3DTEXF_POINT, 0, -2.0f, levelColours[0], 0},
        // Halfway between blue and yellow.
        {"bias +0.5 between levels 2 and 3", D3DTEXF_POINT, D3DTEXF_LINEAR, 0, 0.5f, 0xFF808080, 8},
    };
    for (const Case& c : cases) {
        Sampler(D3DSAMP_MINFILTER, c.minFilter);
        Sampler(D3DSAMP_MIPFILTER, c.mipFilter);
        Sampler(D3DSAMP_MAXMIPLEVEL, c.maxMipLevel);
        Sampler(D3DSAMP_MIPMAPLODBIAS, bias(c.lodBias));
        Clear();
        ASSERT_EQ(DrawTextured(40, 40, 56, 56, 0, 0, 1, 1), D3D_OK);
        for (DWORD p : Read(RECT{42, 42, 54, 54})) {
            ASSERT_TRUE(Near(p, c.expected, c.tolerance)) << c.what << ": got " << std::hex << p;
        }
    }
    // Anisotropic filtering may take a finer level than the isotropic one, never a coarser
    // one, and filters within it.
    Sampler(D3DSAMP_MINFILTER, D3DTEXF_ANISOTROPIC);
    Sampler(D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    Sampler(D3DSAMP_MAXANISOTROPY, 4);
    Sampler(D3DSAMP_MAXMIPLEVEL, 0);
    Sampler(D3DSAMP_MIPMAPLODBIAS, 0);
    Clear();
    ASSERT_EQ(DrawTextured(40, 40, 56, 56, 0, 0, 1, 1), D3D_OK);
    DWORD p = Pixel(48, 48);
    EXPECT_TRUE(p == (levelColours[1] & 0xFFFFFF) || p == (levelColours[2] & 0xFFFFFF)) << std::hex << p;
}

// GL keeps these states in the texture object: each texture must get the sampler's states
// whenever it is drawn, whatever was sent to it or to another texture before.
TEST_F(SamplingTest, EachTextureTakesTheSamplersStatesWhenItIsDrawn) {
    IDirect3DTexture9* a = Texture(2, 1, {0xFF000000, 0xFFFFFFFF});
    IDirect3DTexture9* b = Texture(2, 1, {0xFF000000, 0xFFFFFFFF});
    ASSERT_TRUE(a != nullptr && b != nullptr);
    Sampler(D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    auto middle = [&](IDirect3DBaseTexture9* texture, DWORD sampler) {
        device_->SetTexture(sampler, texture);
        Clear();
        EXPECT_EQ(DrawTextured(0, 10, 100, 20, 0, 0, 1, 1), D3D_OK);
        device_->SetTexture(sampler, nullptr);
        return Channel(Pixel(49, 15), 8);
    };
    Sampler(D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    EXPECT_NEAR(middle(a, 0), 125, 3) << "a, linear";
    EXPECT_NEAR(middle(b, 0), 125, 3) << "b, first drawn with linear";
    Sampler(D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    EXPECT_EQ(middle(a, 0), 0) << "a, back to point";
    Sampler(D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    EXPECT_NEAR(middle(a, 0), 125, 3) << "a, linear again";
    EXPECT_NEAR(middle(b, 0), 125, 3) << "b, still linear";
    Sampler(D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    EXPECT_EQ(middle(b, 0), 0) << "b, point";
    rh::d3d9::testing::BypassGlCache(true);
    EXPECT_EQ(middle(b, 0), 0) << "the same without the cache";
    rh::d3d9::testing::BypassGlCache(false);
}

TEST_F(SamplingTest, TexCoordIndexPicksTheCoordinateSet) {
    struct TwoSetVertex {
        float x, y, z, rhw;
        float u0, v0, u1, v1;
    };
    IDirect3DTexture9* texture = Texture(2, 1, {0xFFFF0000, 0xFF00FF00});
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_TEX2;
    // Set 0 reads the left texel, set 1 the right one.
    std::vector<TwoSetVertex> quad = {{9.5f, 9.5f, 0.5f, 1.0f, 0.25f, 0.5f, 0.75f, 0.5f},
                                      {49.5f, 9.5f, 0.5f, 1.0f, 0.25f, 0.5f, 0.75f, 0.5f},
                                      {9.5f, 49.5f, 0.5f, 1.0f, 0.25f, 0.5f, 0.75f, 0.5f},
                                      {49.5f, 49.5f, 0.5f, 1.0f, 0.25f, 0.5f, 0.75f, 0.5f}};
    IDirect3DVertexBuffer9* buffer = Vertices(quad, fvf);
    device_->SetFVF(fvf);
    device_->SetStreamSource(0, buffer, 0, sizeof(TwoSetVertex));
    const struct {
        DWORD index;
        DWORD expected;
    } cases[] = {{0, 0xFF0000}, {1, 0x00FF00}, {5, 0xFF0000}, {0, 0xFF0000}};
    // Set 5 is missing from the vertices: (0, 0), the left texel.
    for (const auto& c : cases) {
        device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, c.index);
        Clear();
        ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        EXPECT_EQ(Count(RECT{12, 12, 48, 48}, c.expected), 36 * 36) << "set " << c.index;
    }
}

TEST_F(SamplingTest, CubeTexturesAreSampledByDirection) {
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(device_->CreateCubeTexture(4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
    owned_.push_back(cube);
    const DWORD faceColours[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF};
    for (UINT face = 0; face < 6; ++face) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(cube->LockRect(static_cast<D3DCUBEMAP_FACES>(face), 0, &locked, nullptr, 0), D3D_OK);
        for (int i = 0; i < 16; ++i) static_cast<DWORD*>(locked.pBits)[i] = faceColours[face];
        ASSERT_EQ(cube->UnlockRect(static_cast<D3DCUBEMAP_FACES>(face), 0), D3D_OK);
    }
    ASSERT_EQ(device_->SetTexture(0, cube), D3D_OK);
    struct DirectionVertex {
        float x, y, z, rhw;
        float s, t, r;
    };
    const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0);
    const float directions[6][3] = {{1, 0.2f, 0.1f}, {-1, 0.1f, 0.2f}, {0.2f, 1, 0.1f},
                                    {0.1f, -1, 0.2f}, {0.2f, 0.1f, 1}, {0.1f, 0.2f, -1}};
    for (int face = 0; face < 6; ++face) {
        const float* d = directions[face];
        std::vector<DirectionVertex> quad;
        for (auto [x, y] : {std::pair{9.5f, 9.5f}, {29.5f, 9.5f}, {9.5f, 29.5f}, {29.5f, 29.5f}}) {
            quad.push_back({x, y, 0.5f, 1.0f, d[0], d[1], d[2]});
        }
        IDirect3DVertexBuffer9* buffer = Vertices(quad, fvf);
        device_->SetFVF(fvf);
        device_->SetStreamSource(0, buffer, 0, sizeof(DirectionVertex));
        Clear();
        ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        EXPECT_EQ(Count(RECT{12, 12, 28, 28}, faceColours[face]), 256) << "face " << face;
    }
}

TEST_F(SamplingTest, WritesAfterADrawReachTheNextDraw) {
    IDirect3DTexture9* texture = Texture(4, 4, std::vector<DWORD>(16, 0xFFFF0000));
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
    Clear();
    ASSERT_EQ(DrawTextured(0, 0, 40, 40, 0, 0, 1, 1), D3D_OK);
    // The lower right quarter turns green; another texture's upload in between must not
    // leave it unbound.
    RECT quarter{2, 2, 4, 4};
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, &quarter, 0), D3D_OK);
    for (int y = 0; y < 2; ++y) {
        auto* row = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch);
        row[0] = row[1] = 0xFF00FF00;
    }
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    ASSERT_NE(Texture(2, 2, std::vector<DWORD>(4, 0xFF0000FF)), nullptr);
    ASSERT_EQ(DrawTextured(50, 0, 90, 40, 0, 0, 1, 1), D3D_OK);
    EXPECT_EQ(Count(RECT{52, 2, 68, 18}, 0xFF0000), 256);
    EXPECT_EQ(Count(RECT{72, 22, 88, 38}, 0x00FF00), 256);
    EXPECT_EQ(Count(RECT{22, 22, 38, 38}, 0xFF0000), 256) << "the first draw kept what it drew";
}

TEST_F(SamplingTest, DxtTexturesDrawAsBlocksAndAsTheirDecoding) {
    // Two 4 x 4 blocks: red (colour 0 0xF800, indices 0) and blue (colour 1 0x001F, indices 1).
    const BYTE blocks[16] = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00,
                             0x00, 0xF8, 0x1F, 0x00, 0x55, 0x55, 0x55, 0x55};
    for (bool decode : {false, true}) {
        rh::d3d9::testing::DisableS3tc(decode);
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(device_->CreateTexture(8, 4, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        owned_.push_back(texture);
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        std::memcpy(locked.pBits, blocks, sizeof blocks);
        ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
        ASSERT_EQ(device_->SetTexture(0, texture), D3D_OK);
        Clear();
        ASSERT_EQ(DrawTextured(0, 0, 80, 40, 0, 0, 1, 1), D3D_OK);
        EXPECT_EQ(Count(RECT{4, 4, 36, 36}, 0xFF0000), 32 * 32) << (decode ? "decoded" : "blocks");
        EXPECT_EQ(Count(RECT{44, 4, 76, 36}, 0x0000FF), 32 * 32) << (decode ? "decoded" : "blocks");
    }
}

TEST_F(SamplingTest, AManagedTextureDrawsTheSameAfterReset) {
    IDirect3DTexture9* texture = Texture(4, 4, SixteenColours());
    ASSERT_NE(texture, nullptr);
    auto frame = [&] {
        // Reset returns every state to its default (and the depth buffer's contents are new).
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device_->SetTexture(0, texture);
        Sampler(D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        Clear(0xFF203040);
        EXPECT_EQ(DrawTextured(10, 10, 90, 90, 0, 0, 1, 1), D3D_OK);
        return Read(RECT{0, 0, kWidth, kHeight});
    };
    std::vector<DWORD> before = frame();
    SaveImage("sampling_before_reset");
    rh::d3d9::testing::ForceDeviceLoss(device_, true);
    rh::d3d9::testing::ForceDeviceLoss(device_, false);
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    std::vector<DWORD> after = frame();
    ASSERT_EQ(after.size(), before.size());
    int differing = 0;
    for (size_t i = 0; i < after.size(); ++i) {
        if (after[i] != before[i] && differing++ < 5) {
            ADD_FAILURE() << "pixel " << i % kWidth << ", " << i / kWidth << ": " << std::hex << after[i] << " was "
                          << before[i];
        }
    }
    EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace d3d9_test
