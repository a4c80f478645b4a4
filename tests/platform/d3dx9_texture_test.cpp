// The texture functions of D3DX on a device of the layer: sizes, levels, formats, filters and
// colour key of textures made from pictures, cube maps, surfaces loaded from pictures, normal
// maps, and DDS files read back by ImageMagick.

#include "tests/platform/d3d9_draw_support.h"
#include "tests/platform/image_test_support.h"
#include "tests/support/scratch_dir.h"

#include "platform/d3dx9/pixel_formats.h"

#include <d3dx9.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace d3d9_test {
namespace {

using rh::testing::Rgba;

void Put16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// An uncompressed TGA, top row first: 32-bit (alpha), 24-bit (opaque) or 8-bit grey; texels
// are 0xAARRGGBB (grey takes the blue byte).
std::vector<uint8_t> Tga(uint32_t width, uint32_t height, const std::vector<DWORD>& texels, int bits) {
    std::vector<uint8_t> out = {0, 0, static_cast<uint8_t>(bits == 8 ? 3 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Put16(&out, width);
    Put16(&out, height);
    out.push_back(static_cast<uint8_t>(bits));
    out.push_back(static_cast<uint8_t>(0x20 | (bits == 32 ? 8 : 0)));  // top-left origin, alpha bits
    for (DWORD t : texels) {
        for (int i = 0; i < bits / 8; ++i) out.push_back(static_cast<uint8_t>(t >> (8 * i)));
    }
    return out;
}

// A DDS file of A8R8G8B8 or DXT1 levels as given (each level's bytes packed), 2D or cube.
std::vector<uint8_t> Dds(uint32_t width, uint32_t height, D3DFORMAT format,
                         const std::vector<std::vector<uint8_t>>& levelsOfFaces, uint32_t levels, bool cube) {
    bool dxt = format == D3DFMT_DXT1;
    std::vector<uint8_t> out = {'D', 'D', 'S', ' '};
    Put32(&out, 124);
    Put32(&out, 0x1 | 0x2 | 0x4 | 0x1000 | (levels > 1 ? 0x20000 : 0));
    Put32(&out, height);
    Put32(&out, width);
    Put32(&out, 0);
    Put32(&out, 0);
    Put32(&out, levels);
    for (int i = 0; i < 11; ++i) Put32(&out, 0);
    Put32(&out, 32);
    if (dxt) {
        Put32(&out, 0x4);
        Put32(&out, D3DFMT_DXT1);
        for (int i = 0; i < 5; ++i) Put32(&out, 0);
    } else {
        Put32(&out, 0x41);
        Put32(&out, 0);
        Put32(&out, 32);
        Put32(&out, 0x00FF0000);
        Put32(&out, 0x0000FF00);
        Put32(&out, 0x000000FF);
        Put32(&out, 0xFF000000);
    }
    Put32(&out, 0x1000 | (levels > 1 || cube ? 0x8 : 0) | (levels > 1 ? 0x400000 : 0));
    Put32(&out, cube ? 0xFE00 : 0);
    for (int i = 0; i < 3; ++i) Put32(&out, 0);
    for (const std::vector<uint8_t>& level : levelsOfFaces) out.insert(out.end(), level.begin(), level.end());
    return out;
}

std::vector<uint8_t> Words(const std::vector<DWORD>& texels) {
    std::vector<uint8_t> out;
    for (DWORD t : texels) Put32(&out, t);
    return out;
}

// One DXT1 block of one colour (colour 0, every index 0): red, green or blue as 5:6:5.
std::vector<uint8_t> Block(uint16_t colour) {
    return {static_cast<uint8_t>(colour), static_cast<uint8_t>(colour >> 8), 0, 0, 0, 0, 0, 0};
}

class D3dxTextureTest : public DrawTest {
protected:
    // The texture made from bytes, released with the fixture; null when creation failed.
    IDirect3DTexture9* FromMemory(const std::vector<uint8_t>& bytes, UINT width = D3DX_DEFAULT,
                                  UINT height = D3DX_DEFAULT, UINT levels = D3DX_DEFAULT,
                                  D3DFORMAT format = D3DFMT_UNKNOWN, DWORD filter = D3DX_DEFAULT,
                                  DWORD mipFilter = D3DX_DEFAULT, D3DCOLOR key = 0, HRESULT expected = D3D_OK,
                                  D3DPOOL pool = D3DPOOL_MANAGED) {
        IDirect3DTexture9* texture = nullptr;
        D3DXIMAGE_INFO info{};
        EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_, bytes.data(), static_cast<UINT>(bytes.size()), width,
                                                      height, levels, 0, format, pool, filter, mipFilter, key, &info,
                                                      nullptr, &texture),
                  expected);
        if (texture != nullptr) owned_.push_back(texture);
        return texture;
    }
    // A level of a texture as 0xAARRGGBB words (through GL for textures the program cannot lock).
    std::vector<DWORD> Level(IDirect3DBaseTexture9* texture, UINT level, UINT face = 0) {
        std::vector<DWORD> pixels;
        EXPECT_TRUE(rh::d3d9::testing::ReadTextureLevel(texture, face, level, &pixels));
        return pixels;
    }
    static D3DSURFACE_DESC Desc(IDirect3DTexture9* texture, UINT level = 0) {
        D3DSURFACE_DESC desc{};
        EXPECT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
        return desc;
    }
};

// ---- Sizes, levels and formats ----

TEST_F(D3dxTextureTest, SizesAndLevelsFollowTheRules) {
    const std::vector<uint8_t> picture = Tga(5, 3, std::vector<DWORD>(15, 0xFF336699), 24);
    struct Case {
        const char* what;
        UINT width, height, levels;
        UINT expectedWidth, expectedHeight, expectedLevels;
    };
    const Case cases[] = {
        {"default: powers of two, full chain", D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 8, 4, 4},
        {"zero: the same", 0, 0, 0, 8, 4, 4},
        {"the picture's own size", D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT_NONPOW2, D3DX_DEFAULT, 5, 3, 3},
        {"sizes given", 16, 2, 2, 16, 2, 2},
        {"more levels than the chain has", 4, 4, 9, 4, 4, 3},
        {"one level", D3DX_DEFAULT, D3DX_DEFAULT, 1, 8, 4, 1},
    };
    for (const Case& c : cases) {
        D3DXIMAGE_INFO info{};
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_, picture.data(), static_cast<UINT>(picture.size()),
                                                      c.width, c.height, c.levels, 0, D3DFMT_UNKNOWN,
                                                      D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, &info, nullptr,
                                                      &texture),
                  D3D_OK)
            << c.what;
        owned_.push_back(texture);
        D3DSURFACE_DESC desc = Desc(texture);
        EXPECT_EQ(desc.Width, c.expectedWidth) << c.what;
        EXPECT_EQ(desc.Height, c.expectedHeight) << c.what;
        EXPECT_EQ(texture->GetLevelCount(), c.expectedLevels) << c.what;
        // The file's own description, whatever the texture became.
        EXPECT_EQ(info.Width, 5u);
        EXPECT_EQ(info.Height, 3u);
        EXPECT_EQ(info.MipLevels, 1u);
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_TGA);
        EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
        // Each texel of the uniform picture stays itself at every size and level.
        for (UINT level = 0; level < c.expectedLevels; ++level) {
            for (DWORD p : Level(texture, level)) ASSERT_EQ(p, 0xFF336699u) << c.what << " level " << level;
        }
    }
}

TEST_F(D3dxTextureTest, TheFormatFollowsThePictureOrTheRequest) {
    const std::vector<DWORD> texels = {0x80FF0000, 0xFF00FF00, 0x400000FF, 0xFFFFFFFF};
    const std::vector<uint8_t> tga32 = Tga(2, 2, texels, 32);
    const std::vector<uint8_t> tga24 = Tga(2, 2, texels, 24);
    const std::vector<uint8_t> grey = Tga(2, 2, {0x10, 0x80, 0xC0, 0xFF}, 8);
    const std::vector<uint8_t> dxt = Dds(8, 4, D3DFMT_DXT1, {[] {
                                             std::vector<uint8_t> two = Block(0xF800);
                                             std::vector<uint8_t> blue = Block(0x001F);
                                             two.insert(two.end(), blue.begin(), blue.end());
                                             return two;
                                         }()},
                                         1, false);
    struct Case {
        const char* what;
        const std::vector<uint8_t>* file;
        D3DFORMAT asked;
        UINT width;
        HRESULT result;
        D3DFORMAT expected;
    };
    const Case cases[] = {
        {"alpha: A8R8G8B8", &tga32, D3DFMT_UNKNOWN, D3DX_DEFAULT, D3D_OK, D3DFMT_A8R8G8B8},
        {"opaque: X8R8G8B8", &tga24, D3DFMT_UNKNOWN, D3DX_DEFAULT, D3D_OK, D3DFMT_X8R8G8B8},
        {"grey: L8", &grey, D3DFMT_UNKNOWN, D3DX_DEFAULT, D3D_OK, D3DFMT_L8},
        {"DXT keeps its blocks", &dxt, D3DFMT_UNKNOWN, D3DX_DEFAULT, D3D_OK, D3DFMT_DXT1},
        {"DXT scaled: decoded", &dxt, D3DFMT_UNKNOWN, 16, D3D_OK, D3DFMT_A8R8G8B8},
        {"asked: R5G6B5", &tga32, D3DFMT_R5G6B5, D3DX_DEFAULT, D3D_OK, D3DFMT_R5G6B5},
        {"asked: A4R4G4B4", &tga24, D3DFMT_A4R4G4B4, D3DX_DEFAULT, D3D_OK, D3DFMT_A4R4G4B4},
        {"asked: L8 from colour", &tga24, D3DFMT_L8, D3DX_DEFAULT, D3D_OK, D3DFMT_L8},
        {"asked: DXT5 from a TGA", &tga32, D3DFMT_DXT5, D3DX_DEFAULT, D3DERR_INVALIDCALL, D3DFMT_UNKNOWN},
        {"asked: DXT1 at another size", &dxt, D3DFMT_DXT1, 16, D3DERR_INVALIDCALL, D3DFMT_UNKNOWN},
        {"asked: DXT5 from DXT1", &dxt, D3DFMT_DXT5, D3DX_DEFAULT, D3DERR_INVALIDCALL, D3DFMT_UNKNOWN},
    };
    for (const Case& c : cases) {
        IDirect3DTexture9* texture = FromMemory(*c.file, c.width, c.width == D3DX_DEFAULT ? D3DX_DEFAULT : 8, 1,
                                                c.asked, D3DX_DEFAULT, D3DX_DEFAULT, 0, c.result);
        if (c.result != D3D_OK) {
            EXPECT_EQ(texture, nullptr) << c.what;
            continue;
        }
        ASSERT_NE(texture, nullptr) << c.what;
        EXPECT_EQ(Desc(texture).Format, c.expected) << c.what;
    }

    // The pixels converted channel by channel: R5G6B5 keeps 5, 6 and 5 bits and no alpha.
    IDirect3DTexture9* r5g6b5 = FromMemory(tga32, D3DX_DEFAULT, D3DX_DEFAULT, 1, D3DFMT_R5G6B5);
    ASSERT_NE(r5g6b5, nullptr);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(r5g6b5->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    const auto* words = static_cast<const WORD*>(locked.pBits);
    EXPECT_EQ(words[0], 0xF800);
    EXPECT_EQ(words[1], 0x07E0);
    EXPECT_EQ(words[2], 0x001F);
    EXPECT_EQ(words[3], 0xFFFF);
    r5g6b5->UnlockRect(0);
    // DXT blocks are the file's bytes.
    IDirect3DTexture9* blocks = FromMemory(dxt);
    ASSERT_NE(blocks, nullptr);
    ASSERT_EQ(blocks->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(std::memcmp(locked.pBits, dxt.data() + 128, 16), 0);
    blocks->UnlockRect(0);
}

TEST_F(D3dxTextureTest, AColourKeyMakesItsTexelsTransparentBlack) {
    const std::vector<DWORD> texels = {0xFFFF00FF, 0xFF00FF00, 0xFFFF00FF, 0x80FF00FF};
    struct Case {
        const char* what;
        int bits;
        D3DFORMAT asked;
        D3DFORMAT expected;
        std::vector<DWORD> result;
    };
    const Case cases[] = {
        // An opaque picture's texels have alpha 0xFF, so the key with alpha 0xFF matches.
        {"opaque picture: gains alpha", 24, D3DFMT_UNKNOWN, D3DFMT_A8R8G8B8, {0, 0xFF00FF00, 0, 0}},
        // The fourth texel's alpha 0x80 differs from the key's.
        {"picture with alpha", 32, D3DFMT_UNKNOWN, D3DFMT_A8R8G8B8, {0, 0xFF00FF00, 0, 0x80FF00FF}},
        {"asked without alpha: black", 24, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8,
         {0xFF000000, 0xFF00FF00, 0xFF000000, 0xFF000000}},
    };
    for (const Case& c : cases) {
        IDirect3DTexture9* texture = FromMemory(Tga(2, 2, texels, c.bits), D3DX_DEFAULT, D3DX_DEFAULT, 1, c.asked,
                                                D3DX_FILTER_NONE, D3DX_DEFAULT, 0xFFFF00FF);
        ASSERT_NE(texture, nullptr) << c.what;
        EXPECT_EQ(Desc(texture).Format, c.expected) << c.what;
        EXPECT_EQ(Level(texture, 0), c.result) << c.what;
    }
}

// ---- Filters ----

TEST_F(D3dxTextureTest, FiltersScaleAsNamed) {
    // A row of four: 0, 40, 80, 200 in each colour channel.
    auto grey = [](DWORD v) { return 0xFF000000 | v << 16 | v << 8 | v; };
    const std::vector<uint8_t> four = Tga(4, 1, {grey(0), grey(40), grey(80), grey(200)}, 24);
    struct Case {
        const char* what;
        DWORD filter;
        UINT width;
        std::vector<DWORD> expected;  // the channel values of the row
    };
    const Case cases[] = {
        {"box halves by averaging pairs", D3DX_FILTER_BOX, 2, {20, 140}},
        {"box with dither, mirror and sRGB bits", D3DX_FILTER_BOX | D3DX_FILTER_DITHER | D3DX_FILTER_MIRROR |
                                                      D3DX_FILTER_SRGB,
         2, {20, 140}},
        {"point picks", D3DX_FILTER_POINT, 2, {40, 200}},
        {"linear samples between the middle pair", D3DX_FILTER_LINEAR, 2, {20, 140}},
        {"triangle weighs the neighbours too", D3DX_FILTER_TRIANGLE, 2, {25, 135}},
        {"none copies what fits", D3DX_FILTER_NONE, 2, {0, 40}},
        {"none leaves the rest black", D3DX_FILTER_NONE, 8, {0, 40, 80, 200, 0, 0, 0, 0}},
        {"point doubles", D3DX_FILTER_POINT, 8, {0, 0, 40, 40, 80, 80, 200, 200}},
        {"linear interpolates", D3DX_FILTER_LINEAR, 8, {0, 10, 30, 50, 70, 110, 170, 200}},
        {"the same size is a copy", D3DX_FILTER_TRIANGLE, 4, {0, 40, 80, 200}},
    };
    for (const Case& c : cases) {
        IDirect3DTexture9* texture = FromMemory(four, c.width, 1, 1, D3DFMT_UNKNOWN, c.filter);
        ASSERT_NE(texture, nullptr) << c.what;
        std::vector<DWORD> row = Level(texture, 0);
        ASSERT_EQ(row.size(), c.expected.size()) << c.what;
        for (size_t i = 0; i < row.size(); ++i) {
            EXPECT_NEAR(static_cast<int>(row[i] & 0xFF), static_cast<int>(c.expected[i]), 1) << c.what << " texel " << i;
            EXPECT_EQ(row[i] & 0xFF, (row[i] >> 16) & 0xFF) << "channels alike";
        }
    }
    // Filters other than the five are refused.
    IDirect3DTexture9* texture = FromMemory(four, 2, 1, 1, D3DFMT_UNKNOWN, 6, D3DX_DEFAULT, 0, D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
    texture = FromMemory(four, 2, 1, 1, D3DFMT_UNKNOWN, D3DX_DEFAULT, 0x7, 0, D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
}

// Scaling only the height and scaling only the width are the same arithmetic on a transposed
// picture: the texels must be the transposed ones exactly, growing and shrinking, whatever the
// filter (the height-only path skips the row pass that would change nothing).
TEST_F(D3dxTextureTest, ScalingOneSideMatchesScalingTheOtherOnTheTransposedPicture) {
    const UINT w = 7, h = 5;
    std::vector<DWORD> texels(w * h), transposed(w * h);
    uint32_t seed = 12345;
    for (UINT y = 0; y < h; ++y) {
        for (UINT x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            texels[y * w + x] = seed;
            transposed[x * h + y] = seed;
        }
    }
    const std::vector<uint8_t> picture = Tga(w, h, texels, 32);
    const std::vector<uint8_t> turned = Tga(h, w, transposed, 32);
    for (DWORD filter : {D3DX_FILTER_BOX, D3DX_FILTER_LINEAR, D3DX_FILTER_TRIANGLE, D3DX_FILTER_POINT}) {
        for (UINT side : {12u, 3u}) {
            IDirect3DTexture9* tall = FromMemory(picture, w, side, 1, D3DFMT_A8R8G8B8, filter);
            IDirect3DTexture9* wide = FromMemory(turned, side, w, 1, D3DFMT_A8R8G8B8, filter);
            ASSERT_NE(tall, nullptr);
            ASSERT_NE(wide, nullptr);
            const std::vector<DWORD> a = Level(tall, 0);
            const std::vector<DWORD> b = Level(wide, 0);
            ASSERT_EQ(a.size(), size_t{w} * side);
            ASSERT_EQ(b.size(), a.size());
            for (UINT y = 0; y < side; ++y) {
                for (UINT x = 0; x < w; ++x) {
                    ASSERT_EQ(a[y * w + x], b[x * side + y])
                        << "filter " << filter << ", height " << side << ", texel " << x << "," << y;
                }
            }
        }
    }
}

TEST_F(D3dxTextureTest, MipFiltersBuildTheChain) {
    // 4 x 2: its level 1 (2 x 1) takes the left and right 2 x 2 squares.
    const std::vector<DWORD> texels = {0xFF000000, 0xFF080808, 0xFF404040, 0xFF404040,
                                       0xFF101010, 0xFF181818, 0xFFC0C0C0, 0xFF404040};
    const std::vector<uint8_t> picture = Tga(4, 2, texels, 24);
    struct Case {
        const char* what;
        DWORD mipFilter;
        std::vector<DWORD> level1;
        std::vector<DWORD> level2;
    };
    const Case cases[] = {
        {"box (the default)", D3DX_DEFAULT, {0xFF0C0C0C, 0xFF606060}, {0xFF363636}},
        {"box", D3DX_FILTER_BOX, {0xFF0C0C0C, 0xFF606060}, {0xFF363636}},
        {"point", D3DX_FILTER_POINT, {0xFF181818, 0xFF404040}, {0xFF404040}},
        {"none: levels stay black", D3DX_FILTER_NONE, {0, 0}, {0}},
    };
    for (const Case& c : cases) {
        IDirect3DTexture9* texture =
            FromMemory(picture, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, D3DFMT_A8R8G8B8, D3DX_FILTER_NONE, c.mipFilter);
        ASSERT_NE(texture, nullptr) << c.what;
        ASSERT_EQ(texture->GetLevelCount(), 3u);
        EXPECT_EQ(Level(texture, 0), texels) << c.what;
        EXPECT_EQ(Level(texture, 1), c.level1) << c.what;
        EXPECT_EQ(Level(texture, 2), c.level2) << c.what;
    }
}

// The texels of whole chains, pinned: odd sides (scaled, not halved), rows and columns of one
// texel, alpha kept or dropped by the format, the box, linear and triangle filters.
TEST_F(D3dxTextureTest, MipChainsKeepTheirTexelsForEveryShape) {
    // Texels with every channel different, alpha included, from a fixed sequence.
    auto texels = [](uint32_t count, uint32_t seed) {
        std::vector<DWORD> out(count);
        uint32_t x = seed;
        for (DWORD& t : out) {
            x = x * 1664525u + 1013904223u;
            t = x;
        }
        return out;
    };
    struct Case {
        const char* what;
        uint32_t width, height;
        int bits;  // of the TGA: 32 with alpha, 24 opaque
        UINT textureSide;  // both sides
        D3DFORMAT format;
        DWORD mipFilter;
        std::vector<std::vector<DWORD>> levels;  // from level 1 down
    };
    const UINT kOwn = D3DX_DEFAULT_NONPOW2;
    const Case cases[] = {
        {"5 x 3: every level scaled, not halved", 5, 3, 32, kOwn, D3DFMT_UNKNOWN, D3DX_FILTER_BOX,
         {{0x6F58977E, 0x7167829A}, {0x70608D8C}}},
        {"6 x 2: halved, then scaled from 3 x 1", 6, 2, 32, kOwn, D3DFMT_UNKNOWN, D3DX_FILTER_BOX,
         {{0x57BF94B8, 0x89873456, 0x6951DBA4}, {0x6E888C91}}},
        {"7 x 1: a single row", 7, 1, 32, kOwn, D3DFMT_UNKNOWN, D3DX_FILTER_BOX,
         {{0x76D32E65, 0xB1682E9A, 0xB337B277}, {0x9E7B5A7D}}},
        {"8 x 4 with alpha", 8, 4, 32, kOwn, D3DFMT_UNKNOWN, D3DX_FILTER_BOX,
         {{0x8EAD7E91, 0x9D9D8F57, 0x78944A8D, 0x6B7D8873, 0x4D47A981, 0x75389287, 0x982A643D, 0x7CA45363},
          {0x7B72927C, 0x7E786268},
          {0x7D757A72}}},
        {"8 x 4 with alpha into X8R8G8B8", 8, 4, 32, kOwn, D3DFMT_X8R8G8B8, D3DX_FILTER_BOX,
         {{0xFF7DB65C, 0xFF6C599A, 0xFF85A588, 0xFFA78D66, 0xFF588F8C, 0xFF88798A, 0xFF80B938, 0xFF686096},
          {0xFF728683, 0xFF85936F},
          {0xFF7C8D79}}},
        {"4 x 8 opaque into A8R8G8B8, linear", 4, 8, 24, kOwn, D3DFMT_A8R8G8B8, D3DX_FILTER_LINEAR,
         {{0xFF565A79, 0xFF5E5B7F, 0xFF6F91B1, 0xFFAD5AB7, 0xFF679F69, 0xFF9C496F, 0xFF996461, 0xFFA986A7},
          {0xFF746898, 0xFF917578},
          {0xFF836F88}}},
        {"2 x 8 opaque", 2, 8, 24, kOwn, D3DFMT_UNKNOWN, D3DX_FILTER_BOX,
         {{0xFF8596AD, 0xFF6E89A9, 0xFF627B65, 0xFF75A6A1}, {0xFF7A90AB, 0xFF6C9183}, {0xFF739197}}},
        {"5 x 3 grown to 8 x 4 first", 5, 3, 32, D3DX_DEFAULT, D3DFMT_UNKNOWN, D3DX_FILTER_BOX,
         {{0x544E4C96, 0x5937557F, 0xB7898D9A, 0x94744BB8, 0x7652696B, 0x787DC0C6, 0x8DC398B1, 0x9286578D},
          {0x67557392, 0x9B9272A4},
          {0x8174739B}}},
        {"8 x 4, triangle mip filter", 8, 4, 32, kOwn, D3DFMT_UNKNOWN, D3DX_FILTER_TRIANGLE,
         {{0x3D465582, 0x8A6C706C, 0x65AE8B72, 0x8893939F, 0x31875C51, 0x796F6A7E, 0xA2958674, 0x93797164},
          {0x5D71666F, 0x888D827B},
          {0x737F7475}}},
    };
    uint32_t seed = 1;
    for (const Case& c : cases) {
        std::vector<DWORD> picture = texels(c.width * c.height, seed++);
        IDirect3DTexture9* texture = FromMemory(Tga(c.width, c.height, picture, c.bits), c.textureSide,
                                                c.textureSide, D3DX_DEFAULT, c.format, D3DX_DEFAULT, c.mipFilter);
        ASSERT_NE(texture, nullptr) << c.what;
        ASSERT_EQ(texture->GetLevelCount(), c.levels.size() + 1) << c.what;
        if (c.textureSide == kOwn) {
            // The picture itself, its alpha opaque where the file or the format has none.
            bool opaque = c.bits == 24 || c.format == D3DFMT_X8R8G8B8;
            for (DWORD& t : picture) t |= opaque ? 0xFF000000u : 0u;
            EXPECT_EQ(Level(texture, 0), picture) << c.what;
        }
        for (UINT level = 1; level < texture->GetLevelCount(); ++level) {
            EXPECT_EQ(Level(texture, level), c.levels[level - 1]) << c.what << ", level " << level;
        }
    }

    // Exact halvings of a wider picture (runs of four texels and the ones left over) equal
    // each channel's rounded average of its 2 x 2 square.
    const std::vector<DWORD> wide = texels(20 * 4, 99);
    IDirect3DTexture9* texture = FromMemory(Tga(20, 4, wide, 32), kOwn, kOwn, 3);
    ASSERT_NE(texture, nullptr);
    std::vector<DWORD> above = wide;
    uint32_t width = 20;
    for (UINT level = 1; level < 3; ++level) {
        std::vector<DWORD> expected;
        for (uint32_t y = 0; y < 4u >> level; ++y) {
            for (uint32_t x = 0; x < width / 2; ++x) {
                DWORD texel = 0;
                for (int shift = 0; shift < 32; shift += 8) {
                    uint32_t sum = 2;
                    for (uint32_t i : {0u, 1u, width, width + 1}) sum += (above[2 * y * width + 2 * x + i] >> shift) & 0xFF;
                    texel |= (sum / 4) << shift;
                }
                expected.push_back(texel);
            }
        }
        EXPECT_EQ(Level(texture, level), expected) << "level " << level;
        above = expected;
        width /= 2;
    }
}

TEST_F(D3dxTextureTest, AFilesOwnLevelsAreKept) {
    // A DDS with three levels of different colours: the texture's levels are the file's.
    const std::vector<std::vector<uint8_t>> levels = {Words(std::vector<DWORD>(16, 0xFFFF0000)),
                                                      Words(std::vector<DWORD>(4, 0xFF00FF00)),
                                                      Words(std::vector<DWORD>(1, 0xFF0000FF))};
    IDirect3DTexture9* texture = FromMemory(Dds(4, 4, D3DFMT_A8R8G8B8, levels, 3, false));
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(texture->GetLevelCount(), 3u);
    EXPECT_EQ(Level(texture, 1), std::vector<DWORD>(4, 0xFF00FF00));
    EXPECT_EQ(Level(texture, 2), std::vector<DWORD>(1, 0xFF0000FF));
    // DXT levels are copied as they are; the file's count is the default.
    const std::vector<std::vector<uint8_t>> blocks = {Block(0xF800), Block(0x07E0), Block(0x001F)};
    IDirect3DTexture9* dxt = FromMemory(Dds(4, 4, D3DFMT_DXT1, blocks, 3, false));
    ASSERT_NE(dxt, nullptr);
    EXPECT_EQ(dxt->GetLevelCount(), 3u);
    EXPECT_EQ(Level(dxt, 2), std::vector<DWORD>(1, 0xFF0000FF));
    EXPECT_EQ(FromMemory(Dds(4, 4, D3DFMT_DXT1, blocks, 3, false), D3DX_DEFAULT, D3DX_DEFAULT, 5, D3DFMT_DXT1,
                         D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DERR_INVALIDCALL),
              nullptr)
        << "more DXT levels than the file has";
}

// ---- Cube maps ----

TEST_F(D3dxTextureTest, CubeTexturesComeFromCubeMapsOnly) {
    std::vector<std::vector<uint8_t>> faces;
    const DWORD colours[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};
    for (DWORD c : colours) {
        faces.push_back(Words(std::vector<DWORD>(4, c)));
        faces.push_back(Words(std::vector<DWORD>(1, c)));
    }
    const std::vector<uint8_t> cubeFile = Dds(2, 2, D3DFMT_A8R8G8B8, faces, 2, true);
    IDirect3DCubeTexture9* cube = nullptr;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXCreateCubeTextureFromFileInMemoryEx(device_, cubeFile.data(), static_cast<UINT>(cubeFile.size()),
                                                      D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                      D3DX_DEFAULT, D3DX_DEFAULT, 0, &info, nullptr, &cube),
              D3D_OK);
    owned_.push_back(cube);
    EXPECT_EQ(info.ResourceType, D3DRTYPE_CUBETEXTURE);
    EXPECT_EQ(cube->GetLevelCount(), 2u);
    for (UINT face = 0; face < 6; ++face) {
        EXPECT_EQ(Level(cube, 0, face), std::vector<DWORD>(4, colours[face])) << face;
        EXPECT_EQ(Level(cube, 1, face), std::vector<DWORD>(1, colours[face])) << face;
    }
    // A flat picture is no cube map.
    const std::vector<uint8_t> flat = Tga(2, 2, std::vector<DWORD>(4, 0xFF123456), 24);
    IDirect3DCubeTexture9* none = reinterpret_cast<IDirect3DCubeTexture9*>(uintptr_t{1});
    EXPECT_EQ(D3DXCreateCubeTextureFromFileInMemoryEx(device_, flat.data(), static_cast<UINT>(flat.size()), 0, 0, 0,
                                                      D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                                      nullptr, nullptr, &none),
              D3DXERR_INVALIDDATA);
    EXPECT_EQ(none, nullptr);
    // A 2D texture from a cube map takes its first face.
    IDirect3DTexture9* first = FromMemory(cubeFile);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Level(first, 0), std::vector<DWORD>(4, colours[0]));
    // Empty cube textures.
    IDirect3DCubeTexture9* empty = nullptr;
    ASSERT_EQ(D3DXCreateCubeTexture(device_, 16, 0, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, &empty), D3D_OK);
    owned_.push_back(empty);
    EXPECT_EQ(empty->GetLevelCount(), 5u);
}

TEST_F(D3dxTextureTest, EmptyTexturesTakeD3dxDefaults) {
    struct Case {
        UINT width, height, levels;
        D3DFORMAT format;
        UINT expectedWidth, expectedHeight, expectedLevels;
        D3DFORMAT expectedFormat;
    };
    const Case cases[] = {
        {D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, D3DFMT_UNKNOWN, 256, 256, 9, D3DFMT_A8R8G8B8},
        {0, 0, 0, D3DFMT_UNKNOWN, 256, 256, 9, D3DFMT_A8R8G8B8},
        {100, 30, 1, D3DFMT_R5G6B5, 100, 30, 1, D3DFMT_R5G6B5},
        {64, 16, 20, D3DFMT_L8, 64, 16, 7, D3DFMT_L8},
    };
    for (const Case& c : cases) {
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(D3DXCreateTexture(device_, c.width, c.height, c.levels, 0, c.format, D3DPOOL_MANAGED, &texture),
                  D3D_OK);
        owned_.push_back(texture);
        D3DSURFACE_DESC desc = Desc(texture);
        EXPECT_EQ(desc.Width, c.expectedWidth);
        EXPECT_EQ(desc.Height, c.expectedHeight);
        EXPECT_EQ(desc.Format, c.expectedFormat);
        EXPECT_EQ(texture->GetLevelCount(), c.expectedLevels);
    }
}

// ---- Surfaces ----

TEST_F(D3dxTextureTest, PicturesLoadIntoARectangleOfASurface) {
    const std::vector<DWORD> texels = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFF00FF};
    const std::vector<uint8_t> picture = Tga(2, 2, texels, 24);
    for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_DEFAULT}) {
        // A default-pool texture the program cannot lock: D3DX still fills it.
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(device_->CreateTexture(6, 6, 1, 0, D3DFMT_A8R8G8B8, pool, &texture, nullptr), D3D_OK);
        owned_.push_back(texture);
        IDirect3DSurface9* surface = nullptr;
        ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
        // Scaled twice over with POINT into (1, 1)-(5, 5), then the picture unscaled at (4, 0).
        RECT big{1, 1, 5, 5};
        D3DXIMAGE_INFO info{};
        EXPECT_EQ(D3DXLoadSurfaceFromFileInMemory(surface, nullptr, &big, picture.data(),
                                                  static_cast<UINT>(picture.size()), nullptr, D3DX_FILTER_POINT, 0,
                                                  &info),
                  D3D_OK);
        EXPECT_EQ(info.Width, 2u);
        RECT small{4, 0, 6, 2};
        EXPECT_EQ(D3DXLoadSurfaceFromFileInMemory(surface, nullptr, &small, picture.data(),
                                                  static_cast<UINT>(picture.size()), nullptr, D3DX_DEFAULT, 0xFF0000FF,
                                                  nullptr),
                  D3D_OK);
        RECT outside{4, 4, 7, 6};
        EXPECT_EQ(D3DXLoadSurfaceFromFileInMemory(surface, nullptr, &outside, picture.data(),
                                                  static_cast<UINT>(picture.size()), nullptr, D3DX_DEFAULT, 0, nullptr),
                  D3DERR_INVALIDCALL);
        surface->Release();
        const DWORD R = 0xFFFF0000, G = 0xFF00FF00, B = 0xFF0000FF, M = 0xFFFF00FF;
        const std::vector<DWORD> expected = {
            0, 0, 0, 0, R, G,  //
            0, R, R, G, B, M,  //
            0, R, R, G, G, 0,  //
            0, B, B, M, M, 0,  //
            0, B, B, M, M, 0,  //
            0, 0, 0, 0, 0, 0,
        };
        std::vector<DWORD> got = Level(texture, 0);
        std::vector<DWORD> want = expected;
        want[1 * 6 + 4] = 0;  // the small copy's blue texel matched the key: transparent black
        EXPECT_EQ(got, want) << "pool " << pool;
    }
}

TEST_F(D3dxTextureTest, DamagedAndMissingFilesAndBadArgumentsAreRefused) {
    const std::vector<uint8_t> picture = Tga(2, 2, std::vector<DWORD>(4, 0xFF123456), 24);
    std::vector<uint8_t> cut(picture.begin(), picture.begin() + 20);
    EXPECT_EQ(FromMemory(cut, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, D3DFMT_UNKNOWN, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                         D3DXERR_INVALIDDATA),
              nullptr);
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(uintptr_t{1});
    EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(nullptr, picture.data(), static_cast<UINT>(picture.size()), 0, 0, 0,
                                                  0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                                  nullptr, nullptr, &texture),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(device_, picture.data(), 0, 0, 0, 0, 0, D3DFMT_UNKNOWN,
                                                  D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr,
                                                  &texture),
              D3DERR_INVALIDCALL);
    rh::testing::ScratchDir scratch("rh_d3dx_texture");
    EXPECT_EQ(D3DXCreateTextureFromFileExA(device_, scratch.Path("missing.tga").c_str(), 0, 0, 0, 0, D3DFMT_UNKNOWN,
                                           D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &texture),
              D3DERR_NOTFOUND);
    // The same bytes from a file.
    std::string path = scratch.Write("picture.tga", std::string(picture.begin(), picture.end()));
    ASSERT_EQ(D3DXCreateTextureFromFileExA(device_, path.c_str(), 0, 0, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                           D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &texture),
              D3D_OK);
    owned_.push_back(texture);
    EXPECT_EQ(Level(texture, 0), std::vector<DWORD>(4, 0xFF123456));
}

// A picture loaded with its mip chain and drawn smaller and smaller with trilinear filtering:
// every size shows the picture's mean colour, as box-filtered levels keep it.
TEST_F(D3dxTextureTest, ALoadedPictureDrawsAtEverySize) {
    Rgba pattern = rh::testing::TestPattern(128, 128, 3);
    std::vector<DWORD> texels;
    double mean[3] = {0, 0, 0};
    for (uint32_t i = 0; i < 128 * 128; ++i) {
        const uint8_t* p = &pattern.bytes[i * 4];
        texels.push_back(0xFF000000 | DWORD{p[0]} << 16 | DWORD{p[1]} << 8 | p[2]);
        for (int c = 0; c < 3; ++c) mean[c] += p[c] / (128.0 * 128.0);
    }
    IDirect3DTexture9* texture = FromMemory(Tga(128, 128, texels, 24));
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(texture->GetLevelCount(), 8u);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device_->SetTexture(0, texture);
    for (DWORD type : {D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MIPFILTER}) {
        device_->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(type), D3DTEXF_LINEAR);
    }
    struct Vertex {
        float x, y, z, rhw, u, v;
    };
    const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_TEX1;
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);
    const float sizes[] = {64, 32, 16, 8, 4};
    float x = 2;
    for (float size : sizes) {
        const float x0 = x - 0.5f, x1 = x + size - 0.5f, y0 = 1.5f, y1 = 1.5f + size;
        std::vector<Vertex> quad = {{x0, y0, 0.5f, 1, 0, 0}, {x1, y0, 0.5f, 1, 1, 0}, {x0, y1, 0.5f, 1, 0, 1},
                                    {x1, y1, 0.5f, 1, 1, 1}};
        IDirect3DVertexBuffer9* buffer = Vertices(quad, fvf);
        device_->SetFVF(fvf);
        device_->SetStreamSource(0, buffer, 0, sizeof(Vertex));
        ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        x += size + 2;
    }
    SaveImage("d3dx_picture_at_every_size");
    x = 2;
    for (float size : sizes) {
        const auto left = static_cast<LONG>(x);
        const auto side = static_cast<LONG>(size);
        double got[3] = {0, 0, 0};
        std::vector<DWORD> pixels = Read(RECT{left, 2, left + side, 2 + side});
        for (DWORD p : pixels) {
            for (int c = 0; c < 3; ++c) got[c] += ((p >> (16 - 8 * c)) & 0xFF) / static_cast<double>(pixels.size());
        }
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], mean[c], 6.0) << "size " << size << " channel " << c;
        x += size + 2;
    }
}

// ---- Normal maps ----

// The documented normal of slopes dx, dy (height units per texel) as stored.
DWORD Normal(double dx, double dy, double amplitude) {
    double nx = -amplitude * dx;
    double ny = -amplitude * dy;
    double length = std::sqrt(nx * nx + ny * ny + 1.0);
    auto encode = [](double v) { return static_cast<DWORD>(std::lround((v + 1.0) * 0.5 * 255.0)); };
    return 0xFF000000 | encode(nx / length) << 16 | encode(ny / length) << 8 | encode(1.0 / length);
}

TEST_F(D3dxTextureTest, NormalMapsFollowCentralDifferences) {
    constexpr UINT kSide = 8;
    // Heights as L8 through a D3DX texture of the given texels.
    auto heights = [&](auto height) {
        std::vector<DWORD> texels;
        for (UINT y = 0; y < kSide; ++y) {
            for (UINT x = 0; x < kSide; ++x) {
                DWORD v = height(x, y);
                texels.push_back(0xFF000000 | v << 16 | v << 8 | v);
            }
        }
        return FromMemory(Tga(kSide, kSide, texels, 24), D3DX_DEFAULT, D3DX_DEFAULT, 1, D3DFMT_A8R8G8B8,
                          D3DX_FILTER_NONE);
    };
    IDirect3DTexture9* flat = heights([](UINT, UINT) { return 100u; });
    IDirect3DTexture9* rampRight = heights([](UINT x, UINT) { return x * 20; });
    IDirect3DTexture9* rampDown = heights([](UINT, UINT y) { return y * 20; });
    ASSERT_TRUE(flat && rampRight && rampDown);
    const double slope = 20.0 / 255.0;
    const double wrapSlope = (20.0 - 140.0) / 255.0 / 2.0;  // at x = 0: neighbours 20 and 140
    const double mirrorSlope = 20.0 / 255.0 / 2.0;           // at x = 0: neighbours 20 and 0 (itself)
    struct Case {
        const char* what;
        IDirect3DTexture9* source;
        DWORD flags;
        float amplitude;
        DWORD inside;  // at (3, 3)
        DWORD edge;    // at (0, 0)
    };
    const Case cases[] = {
        {"flat", flat, 0, 4.0f, 0xFF8080FF, 0xFF8080FF},
        {"rising to the right", rampRight, 0, 2.0f, Normal(slope, 0, 2), Normal(wrapSlope, 0, 2)},
        {"rising to the right, mirrored in u", rampRight, D3DX_NORMALMAP_MIRROR_U, 2.0f, Normal(slope, 0, 2),
         Normal(mirrorSlope, 0, 2)},
        {"rising down, mirrored in u only", rampDown, D3DX_NORMALMAP_MIRROR_U, 1.0f, Normal(0, slope, 1),
         Normal(0, wrapSlope, 1)},
        {"rising down, mirrored in v", rampDown, D3DX_NORMALMAP_MIRROR_V, 1.0f, Normal(0, slope, 1),
         Normal(0, mirrorSlope, 1)},
    };
    for (const Case& c : cases) {
        IDirect3DTexture9* normals = nullptr;
        ASSERT_EQ(D3DXCreateTexture(device_, kSide, kSide, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &normals), D3D_OK);
        owned_.push_back(normals);
        ASSERT_EQ(D3DXComputeNormalMap(normals, c.source, nullptr, c.flags, D3DX_CHANNEL_LUMINANCE, c.amplitude),
                  D3D_OK)
            << c.what;
        std::vector<DWORD> got = Level(normals, 0);
        EXPECT_EQ(got[3 * kSide + 3], c.inside) << c.what << std::hex << ": " << got[3 * kSide + 3];
        EXPECT_EQ(got[0], c.edge) << c.what << std::hex << ": " << got[0];
        // Inside, away from the edges, the slope is the same everywhere.
        for (UINT y = 1; y + 1 < kSide; ++y) {
            for (UINT x = 1; x + 1 < kSide; ++x) ASSERT_EQ(got[y * kSide + x], c.inside) << c.what;
        }
    }
    // A normal leans away from the rise: red below the middle for a height rising to the
    // right, green below it for one rising down.
    EXPECT_LT((Normal(slope, 0, 2) >> 16) & 0xFF, 128u);
    EXPECT_LT((Normal(0, slope, 2) >> 8) & 0xFF, 128u);
}

TEST_F(D3dxTextureTest, NormalMapHeightsComeFromTheChosenChannels) {
    // Red rises to the right, green is constant, blue falls.
    std::vector<DWORD> texels;
    for (UINT y = 0; y < 4; ++y) {
        for (UINT x = 0; x < 4; ++x) texels.push_back(0xFF000000 | (x * 40) << 16 | 0x80 << 8 | (200 - x * 40));
    }
    IDirect3DTexture9* source = FromMemory(Tga(4, 4, texels, 24), D3DX_DEFAULT, D3DX_DEFAULT, 1, D3DFMT_A8R8G8B8,
                                           D3DX_FILTER_NONE);
    ASSERT_NE(source, nullptr);
    const double s = 40.0 / 255.0;
    struct Case {
        DWORD channel;
        double slope;
    };
    for (Case c : {Case{D3DX_CHANNEL_RED, s}, Case{D3DX_CHANNEL_GREEN, 0}, Case{D3DX_CHANNEL_BLUE, -s},
                   Case{D3DX_CHANNEL_RED | D3DX_CHANNEL_BLUE, 0}, Case{D3DX_CHANNEL_ALPHA, 0},
                   Case{D3DX_CHANNEL_LUMINANCE, s * (0.2126 - 0.0722)}}) {
        IDirect3DTexture9* normals = nullptr;
        ASSERT_EQ(D3DXCreateTexture(device_, 4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &normals), D3D_OK);
        owned_.push_back(normals);
        ASSERT_EQ(D3DXComputeNormalMap(normals, source, nullptr, D3DX_NORMALMAP_MIRROR, c.channel, 1.0f), D3D_OK);
        EXPECT_EQ(Level(normals, 0)[1 * 4 + 1], Normal(c.slope, 0, 1)) << "channel " << c.channel;
    }
    IDirect3DTexture9* small = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device_, 2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &small), D3D_OK);
    owned_.push_back(small);
    EXPECT_EQ(D3DXComputeNormalMap(small, source, nullptr, 0, D3DX_CHANNEL_RED, 1.0f), D3DERR_INVALIDCALL)
        << "sizes differ";
}

// ---- DDS files read back by ImageMagick ----

class DdsSaveTest : public D3dxTextureTest {
protected:
    void SetUp() override {
        D3dxTextureTest::SetUp();
        scratch_.emplace("rh_dds_save");
    }
    // What the tools say of a DDS file: identify's "format width height" of its first image
    // (ImageMagick reads no further levels) and the level count nvddsinfo reads from the
    // header.
    ::testing::AssertionResult Describe(const std::string& file, std::string* identified, int* levels) {
        std::string identify;
        std::string ddsinfo;
        if (auto found = rh::testing::FindTool("identify", &identify); !found) return found;
        if (auto found = rh::testing::FindTool("nvddsinfo", &ddsinfo); !found) return found;
        const std::string quoted = rh::testing::Quote(file);
        if (auto ran = rh::testing::RunCommand(scratch_->path(), identify + " -format '%m %w %h' " + quoted +
                                                                     "'[0]' > identify.txt && " + ddsinfo + " " +
                                                                     quoted + " > ddsinfo.txt");
            !ran) {
            return ran;
        }
        std::vector<uint8_t> text = rh::testing::ReadBytes(scratch_->Path("identify.txt"));
        identified->assign(text.begin(), text.end());
        std::vector<uint8_t> info = rh::testing::ReadBytes(scratch_->Path("ddsinfo.txt"));
        std::string report(info.begin(), info.end());
        size_t at = report.find("Mipmap count: ");
        if (at == std::string::npos) return ::testing::AssertionFailure() << "nvddsinfo: " << report;
        *levels = std::max(1, std::atoi(report.c_str() + at + 14));
        return ::testing::AssertionSuccess();
    }
    // Every level of the saved file as convert decodes it (each level cut out into a file of
    // its own) against the texture's, each channel at precision bits, within tolerance.
    void ExpectLevelsRead(const std::string& file, IDirect3DTexture9* texture, const int bits[4], int tolerance,
                          bool opaque) {
        std::vector<uint8_t> dds = rh::testing::ReadBytes(scratch_->Path(file));
        for (UINT level = 0; level < texture->GetLevelCount(); ++level) {
            std::string slice = "level" + std::to_string(level) + "_" + file;
            rh::testing::WriteBytes(scratch_->Path(slice), rh::testing::SliceDds(dds, 0, level));
            Rgba decoded;
            ASSERT_TRUE(rh::testing::ConvertDecode(scratch_->path(), slice, 0, &decoded)) << file << " " << level;
            D3DSURFACE_DESC desc = Desc(texture, level);
            Rgba ours = AsRgba(texture, level, desc.Width, desc.Height);
            if (opaque) {
                for (size_t i = 3; i < ours.bytes.size(); i += 4) ours.bytes[i] = 255;
            }
            EXPECT_TRUE(rh::testing::SamePixels(ours, decoded, bits, tolerance)) << file << " level " << level;
        }
    }
    // A level as RGBA bytes.
    Rgba AsRgba(IDirect3DBaseTexture9* texture, UINT level, UINT width, UINT height) {
        Rgba out;
        out.width = width;
        out.height = height;
        for (DWORD p : Level(texture, level)) {
            out.bytes.push_back(static_cast<uint8_t>(p >> 16));
            out.bytes.push_back(static_cast<uint8_t>(p >> 8));
            out.bytes.push_back(static_cast<uint8_t>(p));
            out.bytes.push_back(static_cast<uint8_t>(p >> 24));
        }
        return out;
    }

    std::optional<rh::testing::ScratchDir> scratch_;
};

TEST_F(DdsSaveTest, ImageMagickReadsOurDdsFilesBack) {
    Rgba pattern = rh::testing::TestPattern(32, 16, 7);
    std::vector<DWORD> texels;
    for (uint32_t i = 0; i < 32 * 16; ++i) {
        const uint8_t* p = &pattern.bytes[i * 4];
        texels.push_back(DWORD{p[3]} << 24 | DWORD{p[0]} << 16 | DWORD{p[1]} << 8 | p[2]);
    }
    const std::vector<uint8_t> tga = Tga(32, 16, texels, 32);
    struct Case {
        const char* name;
        D3DFORMAT format;
        bool opaque;
    };
    const Case cases[] = {
        {"argb", D3DFMT_A8R8G8B8, false},
        {"xrgb", D3DFMT_X8R8G8B8, true},
        {"r5g6b5", D3DFMT_R5G6B5, true},
        {"a1r5g5b5", D3DFMT_A1R5G5B5, false},
        {"a4r4g4b4", D3DFMT_A4R4G4B4, false},
    };
    for (const Case& c : cases) {
        IDirect3DTexture9* texture = FromMemory(tga, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, c.format);
        ASSERT_NE(texture, nullptr) << c.name;
        ASSERT_EQ(texture->GetLevelCount(), 6u);
        std::string file = std::string(c.name) + ".dds";
        ASSERT_EQ(D3DXSaveTextureToFileA(scratch_->Path(file).c_str(), D3DXIFF_DDS, texture, nullptr), D3D_OK);
        std::string identified;
        int levels = 0;
        ASSERT_TRUE(Describe(file, &identified, &levels));
        EXPECT_EQ(identified, "DDS 32 16") << c.name;
        EXPECT_EQ(levels, 6) << c.name;
        int bits[4] = {8, 8, 8, 8};
        rh::testing::ChannelPrecision(c.format, bits);
        // ImageMagick widens 16-bit channels its own way: one step at their own precision.
        int tolerance = rh::d3dx9::FindChannelLayout(c.format)->bytesPerPixel == 2 ? 1 : 0;
        ExpectLevelsRead(file, texture, bits, tolerance, c.opaque);
    }
    EXPECT_EQ(D3DXSaveTextureToFileA(scratch_->Path("x.bmp").c_str(), D3DXIFF_BMP, nullptr, nullptr),
              D3DERR_INVALIDCALL);
}

TEST_F(DdsSaveTest, TheHeaderDescribesLevelsPitchesAndCubes) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device_, 16, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), D3D_OK);
    owned_.push_back(texture);
    ASSERT_EQ(D3DXSaveTextureToFileA(scratch_->Path("chain.dds").c_str(), D3DXIFF_DDS, texture, nullptr), D3D_OK);
    std::vector<uint8_t> file = rh::testing::ReadBytes(scratch_->Path("chain.dds"));
    auto at = [&](size_t offset) {
        return uint32_t{file[offset]} | uint32_t{file[offset + 1]} << 8 | uint32_t{file[offset + 2]} << 16 |
               uint32_t{file[offset + 3]} << 24;
    };
    ASSERT_EQ(file.size(), 128u + 4 * (16 * 8 + 8 * 4 + 4 * 2 + 2 * 1 + 1 * 1));
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "DDS ");
    EXPECT_EQ(at(4), 124u);
    EXPECT_EQ(at(8), 0x1u | 0x2 | 0x4 | 0x8 | 0x1000 | 0x20000) << "caps, size, pitch, pixel format, mip count";
    EXPECT_EQ(at(12), 8u);
    EXPECT_EQ(at(16), 16u);
    EXPECT_EQ(at(20), 64u) << "the pitch";
    EXPECT_EQ(at(28), 5u) << "levels";
    EXPECT_EQ(at(76), 32u);
    EXPECT_EQ(at(80), 0x41u) << "RGB with alpha";
    EXPECT_EQ(at(88), 32u);
    EXPECT_EQ(at(92), 0x00FF0000u);
    EXPECT_EQ(at(104), 0xFF000000u);
    EXPECT_EQ(at(108), 0x1000u | 0x8 | 0x400000) << "texture, complex, mip map";
    // The file reads back through our own loader as the same texture.
    IDirect3DTexture9* back = FromMemory(file);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetLevelCount(), 5u);

    // DXT: a FourCC and the linear size of level 0.
    const std::vector<std::vector<uint8_t>> blocks = {Block(0xF800)};
    IDirect3DTexture9* dxt = FromMemory(Dds(4, 4, D3DFMT_DXT1, blocks, 1, false));
    ASSERT_NE(dxt, nullptr);
    ASSERT_EQ(D3DXSaveTextureToFileA(scratch_->Path("dxt.dds").c_str(), D3DXIFF_DDS, dxt, nullptr), D3D_OK);
    file = rh::testing::ReadBytes(scratch_->Path("dxt.dds"));
    ASSERT_EQ(file.size(), 136u);
    EXPECT_EQ(at(8), 0x1u | 0x2 | 0x4 | 0x1000 | 0x80000);
    EXPECT_EQ(at(20), 8u) << "linear size";
    EXPECT_EQ(at(80), 0x4u);
    EXPECT_EQ(at(84), static_cast<uint32_t>(D3DFMT_DXT1));
    EXPECT_EQ(at(108), 0x1000u);

    // A cube: the faces one after another.
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(D3DXCreateCubeTexture(device_, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube), D3D_OK);
    owned_.push_back(cube);
    ASSERT_EQ(D3DXSaveTextureToFileA(scratch_->Path("cube.dds").c_str(), D3DXIFF_DDS, cube, nullptr), D3D_OK);
    file = rh::testing::ReadBytes(scratch_->Path("cube.dds"));
    ASSERT_EQ(file.size(), 128u + 6 * 64);
    EXPECT_EQ(at(108), 0x1000u | 0x8);
    EXPECT_EQ(at(112), 0xFE00u);
}

// A height map turned into a normal map with the height in alpha (as the engine's conversion
// does after D3DX), saved as DDS: identify names it, convert reads the same pixels.
TEST_F(DdsSaveTest, ANormalMapWithHeightInAlphaSurvivesTheRoundTrip) {
    std::vector<DWORD> texels;
    for (UINT y = 0; y < 16; ++y) {
        for (UINT x = 0; x < 16; ++x) {
            DWORD v = (x * 13 + y * 7) & 0xFF;
            texels.push_back(0xFF000000 | v << 16 | v << 8 | v);
        }
    }
    IDirect3DTexture9* heights =
        FromMemory(Tga(16, 16, texels, 24), D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, D3DFMT_L8);
    ASSERT_NE(heights, nullptr);
    IDirect3DTexture9* normals = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device_, 16, 16, heights->GetLevelCount(), 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                &normals),
              D3D_OK);
    owned_.push_back(normals);
    ASSERT_EQ(D3DXComputeNormalMap(normals, heights, nullptr, 0, D3DX_CHANNEL_LUMINANCE, 3.0f), D3D_OK);
    // The height to alpha, as the engine writes it: trunc(v / 255 * 255).
    for (UINT level = 0; level < normals->GetLevelCount(); ++level) {
        D3DLOCKED_RECT from{};
        D3DLOCKED_RECT to{};
        ASSERT_EQ(heights->LockRect(level, &from, nullptr, D3DLOCK_READONLY), D3D_OK);
        ASSERT_EQ(normals->LockRect(level, &to, nullptr, 0), D3D_OK);
        D3DSURFACE_DESC desc = Desc(normals, level);
        for (UINT y = 0; y < desc.Height; ++y) {
            const BYTE* h = static_cast<const BYTE*>(from.pBits) + y * from.Pitch;
            auto* n = reinterpret_cast<DWORD*>(static_cast<BYTE*>(to.pBits) + y * to.Pitch);
            for (UINT x = 0; x < desc.Width; ++x) n[x] = (n[x] & 0x00FFFFFF) | DWORD{h[x]} << 24;
        }
        normals->UnlockRect(level);
        heights->UnlockRect(level);
    }
    ASSERT_EQ(D3DXSaveTextureToFileA(scratch_->Path("normals.dds").c_str(), D3DXIFF_DDS, normals, nullptr), D3D_OK);
    std::string identified;
    int levels = 0;
    ASSERT_TRUE(Describe("normals.dds", &identified, &levels));
    EXPECT_EQ(identified, "DDS 16 16");
    EXPECT_EQ(levels, 5);
    const int bits[4] = {8, 8, 8, 8};
    ExpectLevelsRead("normals.dds", normals, bits, 0, false);
    // Inside, away from the wrapped edges, the normals lean against the rise of the heights
    // (13 to the right, 7 down each texel): red and green below the middle.
    std::vector<DWORD> level0 = Level(normals, 0);
    EXPECT_EQ(level0[5 * 16 + 5] & 0x00FFFFFF, Normal(13.0 / 255.0, 7.0 / 255.0, 3.0) & 0x00FFFFFF);
}

}  // namespace
}  // namespace d3d9_test
