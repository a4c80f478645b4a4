// Textures and surfaces of the Direct3D layer as Direct3D documents them: levels, locked memory
// in each format's layout, what GL receives at unlock, pools and Reset, surface lifetime.

#include "platform/d3d9/texture_access.h"
#include "tests/platform/d3d9_draw_support.h"

#include <d3d9.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace d3d9_test {
namespace {

using rh::d3d9::testing::ReadTextureLevel;

class TextureTest : public DrawTest {
protected:
    void TearDown() override {
        rh::d3d9::testing::DisableS3tc(false);
        DrawTest::TearDown();
    }

    // A texture released with the fixture; null (and a failure) when creation fails.
    IDirect3DTexture9* Make(UINT width, UINT height, UINT levels, D3DFORMAT format, D3DPOOL pool = D3DPOOL_MANAGED,
                            DWORD usage = 0) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device_->CreateTexture(width, height, levels, usage, format, pool, &texture, nullptr), D3D_OK)
            << "format " << format << " pool " << pool;
        if (texture != nullptr) owned_.push_back(texture);
        return texture;
    }
};

// ---- Creation and levels ----

TEST_F(TextureTest, LevelZeroMakesTheFullChainAndEachLevelHalvesDownToOne) {
    IDirect3DTexture9* texture = Make(16, 4, 0, D3DFMT_A8R8G8B8);
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(texture->GetLevelCount(), 5u);
    const UINT expected[5][2] = {{16, 4}, {8, 2}, {4, 1}, {2, 1}, {1, 1}};
    for (UINT level = 0; level < 5; ++level) {
        D3DSURFACE_DESC desc{};
        ASSERT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, expected[level][0]) << "level " << level;
        EXPECT_EQ(desc.Height, expected[level][1]) << "level " << level;
        EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
        EXPECT_EQ(desc.Type, D3DRTYPE_SURFACE);
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
        EXPECT_EQ(desc.MultiSampleType, D3DMULTISAMPLE_NONE);
    }
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(texture->GetLevelDesc(5, &desc), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->GetType(), D3DRTYPE_TEXTURE);

    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(device_->CreateCubeTexture(8, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
    owned_.push_back(cube);
    EXPECT_EQ(cube->GetLevelCount(), 4u);
    EXPECT_EQ(cube->GetType(), D3DRTYPE_CUBETEXTURE);
    ASSERT_EQ(cube->GetLevelDesc(2, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 2u);
    EXPECT_EQ(desc.Height, 2u);
}

TEST_F(TextureTest, CreationRefusesWhatDirect3DRefuses) {
    D3DCAPS9 caps{};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    struct Case {
        const char* what;
        UINT width, height, levels;
        DWORD usage;
        D3DFORMAT format;
        D3DPOOL pool;
        HRESULT expected;
    };
    const Case cases[] = {
        {"plain", 8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3D_OK},
        {"odd DXT size", 5, 3, 0, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, D3D_OK},
        {"dynamic in the default pool", 8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3D_OK},
        {"system memory", 8, 8, 1, 0, D3DFMT_L8, D3DPOOL_SYSTEMMEM, D3D_OK},
        {"zero width", 0, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"too wide", caps.MaxTextureWidth + 1, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"more levels than the chain has", 8, 8, 5, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"dynamic and managed", 8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"scratch", 8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, D3DERR_INVALIDCALL},
        {"a depth format", 8, 8, 1, 0, D3DFMT_D24S8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"a palette format", 8, 8, 1, 0, D3DFMT_P8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"no format at all", 8, 8, 1, 0, static_cast<D3DFORMAT>(12345), D3DPOOL_MANAGED, D3DERR_INVALIDCALL},
        {"a render target", 8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DERR_NOTAVAILABLE},
    };
    for (const Case& c : cases) {
        IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(uintptr_t{1});
        EXPECT_EQ(device_->CreateTexture(c.width, c.height, c.levels, c.usage, c.format, c.pool, &texture, nullptr),
                  c.expected)
            << c.what;
        if (c.expected == D3D_OK) {
            ASSERT_NE(texture, nullptr) << c.what;
            texture->Release();
        } else {
            EXPECT_EQ(texture, nullptr) << c.what << ": the out-parameter is cleared";
        }
    }
    IDirect3DTexture9* texture = nullptr;
    HANDLE shared = nullptr;
    EXPECT_EQ(device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, &shared),
              D3DERR_INVALIDCALL)
        << "no shared resources";
    EXPECT_EQ(device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr, nullptr),
              D3DERR_INVALIDCALL);
}

TEST_F(TextureTest, CheckDeviceFormatOffersForTexturesExactlyWhatCreateTextureMakes) {
    const D3DFORMAT formats[] = {
        D3DFMT_R8G8B8,   D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,       D3DFMT_X1R5G5B5,   D3DFMT_A1R5G5B5,
        D3DFMT_A4R4G4B4, D3DFMT_R3G3B2,   D3DFMT_A8,       D3DFMT_X4R4G4B4,     D3DFMT_A2B10G10R10, D3DFMT_A8B8G8R8,
        D3DFMT_X8B8G8R8, D3DFMT_G16R16,   D3DFMT_A8P8,     D3DFMT_P8,           D3DFMT_L8,          D3DFMT_A8L8,
        D3DFMT_A4L4,     D3DFMT_L16,      D3DFMT_DXT1,     D3DFMT_DXT2,         D3DFMT_DXT3,        D3DFMT_DXT4,
        D3DFMT_DXT5,     D3DFMT_V8U8,     D3DFMT_D16,      D3DFMT_D24S8,        D3DFMT_R32F,        D3DFMT_A16B16G16R16F,
        D3DFMT_UYVY,     D3DFMT_INDEX16,  D3DFMT_A16B16G16R16, D3DFMT_A2R10G10B10};
    int offered = 0;
    for (D3DFORMAT format : formats) {
        HRESULT check = d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, format);
        IDirect3DTexture9* texture = nullptr;
        HRESULT made = device_->CreateTexture(4, 4, 1, 0, format, D3DPOOL_MANAGED, &texture, nullptr);
        EXPECT_EQ(check == D3D_OK, made == D3D_OK) << "format " << format;
        if (texture != nullptr) texture->Release();
        offered += check == D3D_OK ? 1 : 0;
        // Neither render-target nor depth textures are made.
        EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE,
                                          format),
                  D3DERR_NOTAVAILABLE);
        EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL,
                                          D3DRTYPE_CUBETEXTURE, format),
                  D3DERR_NOTAVAILABLE);
    }
    EXPECT_GE(offered, 15) << "the 8-bit, 16-bit, 32-bit, luminance and DXT formats at least";
    EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_CUBETEXTURE, D3DFMT_DXT5), D3D_OK);
}

// ---- Locked memory ----

// One texel written through a lock in the format's Direct3D bytes, and the colour GL must then
// hold for it (luminance as grey, missing alpha as 0xFF, missing colour as black).
struct LayoutCase {
    D3DFORMAT format;
    UINT bytesPerTexel;  // per 4x4 block for DXT
    std::vector<BYTE> bytes;
    DWORD argb;
};

// DXT blocks fill a whole 4x4 block with one colour: colour 0 red (0xF800), colour 1 blue,
// every index 0. DXT3 and DXT5 give alpha 0x88 and 0x80.
const LayoutCase kLayouts[] = {
    {D3DFMT_A8R8G8B8, 4, {0x11, 0x22, 0x33, 0x44}, 0x44332211},
    {D3DFMT_X8R8G8B8, 4, {0x11, 0x22, 0x33, 0x00}, 0xFF332211},
    {D3DFMT_A8B8G8R8, 4, {0x11, 0x22, 0x33, 0x44}, 0x44112233},
    {D3DFMT_X8B8G8R8, 4, {0x11, 0x22, 0x33, 0x00}, 0xFF112233},
    {D3DFMT_R8G8B8, 3, {0x33, 0x22, 0x11}, 0xFF112233},
    {D3DFMT_R5G6B5, 2, {0x00, 0xF8}, 0xFFFF0000},
    {D3DFMT_R5G6B5, 2, {0xE0, 0x07}, 0xFF00FF00},
    {D3DFMT_X1R5G5B5, 2, {0x1F, 0x00}, 0xFF0000FF},
    {D3DFMT_A1R5G5B5, 2, {0x00, 0xFC}, 0xFFFF0000},
    {D3DFMT_A1R5G5B5, 2, {0x00, 0x7C}, 0x00FF0000},
    {D3DFMT_A4R4G4B4, 2, {0x80, 0x4F}, 0x44FF8800},
    {D3DFMT_A8, 1, {0x80}, 0x80000000},
    {D3DFMT_L8, 1, {0x40}, 0xFF404040},
    {D3DFMT_A8L8, 2, {0x40, 0x80}, 0x80404040},
    {D3DFMT_A2R10G10B10, 4, {0x00, 0x00, 0xF0, 0xFF}, 0xFFFF0000},
    {D3DFMT_DXT1, 8, {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0}, 0xFFFF0000},
    {D3DFMT_DXT3, 16, {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0},
     0x88FF0000},
    {D3DFMT_DXT5, 16, {0x80, 0x00, 0, 0, 0, 0, 0, 0, 0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0}, 0x80FF0000},
};

bool IsDxt(D3DFORMAT f) { return f == D3DFMT_DXT1 || f == D3DFMT_DXT3 || f == D3DFMT_DXT5; }

// Each format on a 10 x 6 level (partial DXT blocks at the right and bottom): the pitch is one
// row of texels or of blocks; a rectangle lock points at its first texel; what is written there
// reaches GL at unlock, and the rest of the level stays as it was. DXT runs twice: as blocks in
// GL and as their decoding.
TEST_F(TextureTest, LockedMemoryIsTheFormatsLayoutAndReachesGlAtUnlock) {
    for (bool decodeDxt : {false, true}) {
        rh::d3d9::testing::DisableS3tc(decodeDxt);
        for (const LayoutCase& c : kLayouts) {
            if (decodeDxt && !IsDxt(c.format)) continue;
            SCOPED_TRACE(testing::Message() << "format " << c.format << (decodeDxt ? " decoded" : ""));
            IDirect3DTexture9* texture = Make(10, 6, 1, c.format);
            ASSERT_NE(texture, nullptr);
            bool dxt = IsDxt(c.format);
            UINT unit = dxt ? 4 : 1;  // texels per column of the layout
            INT pitch = dxt ? static_cast<INT>(3 * c.bytesPerTexel) : static_cast<INT>(10 * c.bytesPerTexel);

            D3DLOCKED_RECT whole{};
            ASSERT_EQ(texture->LockRect(0, &whole, nullptr, D3DLOCK_READONLY), D3D_OK);
            EXPECT_EQ(whole.Pitch, pitch);
            auto* base = static_cast<BYTE*>(whole.pBits);
            for (INT i = 0; i < pitch * static_cast<INT>(dxt ? 2 : 6); ++i) ASSERT_EQ(base[i], 0) << "starts zeroed";
            ASSERT_EQ(texture->UnlockRect(0), D3D_OK);

            // The texel (or block) at column 1, row 1 of the layout.
            // (A DXT block row there is cut short by the level's bottom edge.)
            UINT bottom = std::min(2 * unit, 6u);
            RECT rect{static_cast<LONG>(unit), static_cast<LONG>(unit), static_cast<LONG>(2 * unit),
                      static_cast<LONG>(bottom)};
            D3DLOCKED_RECT part{};
            ASSERT_EQ(texture->LockRect(0, &part, &rect, 0), D3D_OK);
            EXPECT_EQ(part.Pitch, pitch);
            EXPECT_EQ(static_cast<BYTE*>(part.pBits), base + pitch + c.bytesPerTexel);
            std::memcpy(part.pBits, c.bytes.data(), c.bytes.size());
            ASSERT_EQ(texture->UnlockRect(0), D3D_OK);

            std::vector<DWORD> gl;
            ASSERT_TRUE(ReadTextureLevel(texture, 0, 0, &gl));
            ASSERT_EQ(gl.size(), 60u);
            DWORD zero = 0;
            if (dxt) {
                // An all-zero block is black; DXT1 reads it opaque (three-colour block).
                zero = c.format == D3DFMT_DXT1 ? 0xFF000000 : 0x00000000;
            } else if (c.format == D3DFMT_A8) {
                zero = 0x00000000;
            } else if (c.format == D3DFMT_X8R8G8B8 || c.format == D3DFMT_X8B8G8R8 || c.format == D3DFMT_R8G8B8 ||
                       c.format == D3DFMT_R5G6B5 || c.format == D3DFMT_X1R5G5B5 || c.format == D3DFMT_L8) {
                zero = 0xFF000000;
            }
            for (UINT y = 0; y < 6; ++y) {
                for (UINT x = 0; x < 10; ++x) {
                    bool inside = x >= unit && x < 2 * unit && y >= unit && y < bottom;
                    ASSERT_EQ(gl[y * 10 + x], inside ? c.argb : zero) << "texel " << x << ", " << y;
                }
            }
        }
    }
}

// A new texture's levels read as zeros, through a lock and through GL, even where the memory
// an earlier texture of the same size filled has come back to it.
TEST_F(TextureTest, ANewTexturesLevelsAreZerosWhateverTheMemoryHeldBefore) {
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(device_->CreateTexture(32, 32, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        const UINT levels = texture->GetLevelCount();
        // Level 1 read through a lock, level 3 through GL, before anything was written.
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(1, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        const auto* bytes = static_cast<const BYTE*>(locked.pBits);
        EXPECT_TRUE(std::all_of(bytes, bytes + locked.Pitch * 16, [](BYTE b) { return b == 0; }));
        ASSERT_EQ(texture->UnlockRect(1), D3D_OK);
        std::vector<DWORD> gl;
        ASSERT_TRUE(ReadTextureLevel(texture, 0, 3, &gl));
        EXPECT_EQ(gl, std::vector<DWORD>(16, 0));
        // Every level filled, for the next round's texture to be given this memory.
        for (UINT level = 0; level < levels; ++level) {
            ASSERT_EQ(texture->LockRect(level, &locked, nullptr, 0), D3D_OK);
            D3DSURFACE_DESC desc{};
            ASSERT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
            std::memset(locked.pBits, 0xAB, size_t(locked.Pitch) * desc.Height);
            ASSERT_EQ(texture->UnlockRect(level), D3D_OK);
        }
        texture->Release();
    }
}

TEST_F(TextureTest, EachLevelAndEachCubeFaceIsItsOwn) {
    IDirect3DTexture9* texture = Make(8, 8, 0, D3DFMT_A8R8G8B8);
    ASSERT_NE(texture, nullptr);
    for (UINT level = 0; level < 4; ++level) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(level, &locked, nullptr, 0), D3D_OK);
        UINT side = 8 >> level;
        EXPECT_EQ(locked.Pitch, static_cast<INT>(side * 4));
        for (UINT i = 0; i < side * side; ++i) static_cast<DWORD*>(locked.pBits)[i] = 0xFF000000 | (level * 0x40);
        ASSERT_EQ(texture->UnlockRect(level), D3D_OK);
    }
    for (UINT level = 0; level < 4; ++level) {
        std::vector<DWORD> gl;
        ASSERT_TRUE(ReadTextureLevel(texture, 0, level, &gl));
        EXPECT_EQ(gl, std::vector<DWORD>(size_t(64) >> (2 * level), 0xFF000000 | (level * 0x40))) << level;
    }

    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(device_->CreateCubeTexture(4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
    owned_.push_back(cube);
    for (UINT face = 0; face < 6; ++face) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(cube->LockRect(static_cast<D3DCUBEMAP_FACES>(face), 0, &locked, nullptr, 0), D3D_OK);
        for (int i = 0; i < 16; ++i) static_cast<DWORD*>(locked.pBits)[i] = 0xFF000010 * (face + 1);
        ASSERT_EQ(cube->UnlockRect(static_cast<D3DCUBEMAP_FACES>(face), 0), D3D_OK);
    }
    for (UINT face = 0; face < 6; ++face) {
        std::vector<DWORD> gl;
        ASSERT_TRUE(ReadTextureLevel(cube, face, 0, &gl));
        EXPECT_EQ(gl, std::vector<DWORD>(16, 0xFF000010 * (face + 1))) << "face " << face;
    }
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(cube->LockRect(static_cast<D3DCUBEMAP_FACES>(6), 0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(6), 0, &surface), D3DERR_INVALIDCALL);
    EXPECT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_NEGATIVE_Z, 1, &surface), D3DERR_INVALIDCALL);
    EXPECT_EQ(surface, nullptr);
}

TEST_F(TextureTest, LocksCheckPoolUsageFlagsAndRectangles) {
    IDirect3DTexture9* managed = Make(8, 8, 2, D3DFMT_A8R8G8B8);
    IDirect3DTexture9* dynamic = Make(8, 8, 1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC);
    IDirect3DTexture9* card = Make(8, 8, 1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    IDirect3DTexture9* system = Make(8, 8, 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
    IDirect3DTexture9* blocks = Make(10, 10, 1, D3DFMT_DXT5);
    ASSERT_TRUE(managed && dynamic && card && system && blocks);
    struct Case {
        const char* what;
        IDirect3DTexture9* texture;
        UINT level;
        RECT rect;
        bool whole;
        DWORD flags;
        HRESULT expected;
    };
    const RECT none{};
    const Case cases[] = {
        {"managed", managed, 0, none, true, 0, D3D_OK},
        {"managed, read-only", managed, 1, none, true, D3DLOCK_READONLY, D3D_OK},
        {"managed, discard", managed, 0, none, true, D3DLOCK_DISCARD, D3DERR_INVALIDCALL},
        {"dynamic, discard", dynamic, 0, none, true, D3DLOCK_DISCARD, D3D_OK},
        {"dynamic, read-only discard", dynamic, 0, none, true, D3DLOCK_DISCARD | D3DLOCK_READONLY, D3DERR_INVALIDCALL},
        {"default pool, not dynamic", card, 0, none, true, 0, D3DERR_INVALIDCALL},
        {"system memory", system, 0, none, true, D3DLOCK_NOSYSLOCK, D3D_OK},
        {"no overwrite (buffers only)", managed, 0, none, true, D3DLOCK_NOOVERWRITE, D3DERR_INVALIDCALL},
        {"a level past the chain", managed, 2, none, true, 0, D3DERR_INVALIDCALL},
        {"a rectangle inside", managed, 0, {1, 2, 8, 8}, false, 0, D3D_OK},
        {"a rectangle past the edge", managed, 0, {4, 4, 9, 8}, false, 0, D3DERR_INVALIDCALL},
        {"an empty rectangle", managed, 0, {4, 4, 4, 8}, false, 0, D3DERR_INVALIDCALL},
        {"a negative corner", managed, 0, {-1, 0, 4, 4}, false, 0, D3DERR_INVALIDCALL},
        {"a rectangle of the level below", managed, 1, {0, 0, 8, 8}, false, 0, D3DERR_INVALIDCALL},
        {"whole blocks", blocks, 0, {4, 4, 8, 8}, false, 0, D3D_OK},
        {"partial blocks at the edge", blocks, 0, {8, 8, 10, 10}, false, 0, D3D_OK},
        {"half a block", blocks, 0, {2, 0, 8, 4}, false, 0, D3DERR_INVALIDCALL},
        {"a block cut short inside", blocks, 0, {0, 0, 4, 6}, false, 0, D3DERR_INVALIDCALL},
    };
    for (const Case& c : cases) {
        D3DLOCKED_RECT locked{7, reinterpret_cast<void*>(uintptr_t{1})};
        HRESULT hr = c.texture->LockRect(c.level, &locked, c.whole ? nullptr : &c.rect, c.flags);
        EXPECT_EQ(hr, c.expected) << c.what;
        if (hr == D3D_OK) {
            EXPECT_NE(locked.pBits, nullptr) << c.what;
            EXPECT_EQ(c.texture->UnlockRect(c.level), D3D_OK) << c.what;
        } else {
            EXPECT_EQ(locked.pBits, nullptr) << c.what;
            EXPECT_EQ(c.texture->UnlockRect(c.level), D3DERR_INVALIDCALL) << c.what << ": nothing to unlock";
        }
    }
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(managed->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(managed->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL) << "one lock per level";
    D3DLOCKED_RECT other{};
    EXPECT_EQ(managed->LockRect(1, &other, nullptr, 0), D3D_OK) << "levels lock on their own";
    EXPECT_EQ(managed->UnlockRect(1), D3D_OK);
    EXPECT_EQ(managed->UnlockRect(0), D3D_OK);
    EXPECT_EQ(managed->UnlockRect(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(managed->LockRect(0, nullptr, nullptr, 0), D3DERR_INVALIDCALL);
}

TEST_F(TextureTest, AReadOnlyLockUploadsNothing) {
    IDirect3DTexture9* texture = Make(4, 4, 1, D3DFMT_A8R8G8B8);
    ASSERT_NE(texture, nullptr);
    std::vector<DWORD> gl;
    ASSERT_TRUE(ReadTextureLevel(texture, 0, 0, &gl));  // GL has the level now
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    static_cast<DWORD*>(locked.pBits)[0] = 0xFFFFFFFF;
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    ASSERT_TRUE(ReadTextureLevel(texture, 0, 0, &gl));
    EXPECT_EQ(gl[0], 0u) << "a read-only lock uploads nothing";
}

// Once GL has a level, a lock still gives what was written: every byte of every level of each
// format (the unused X bits excepted: Direct3D leaves them undefined), then a rectangle patched
// in, which reaches GL while the rest of the level stays. DXT runs as blocks in GL and as their
// decoding.
TEST_F(TextureTest, ALockAfterTheUploadGivesWhatWasWritten) {
    struct Case {
        D3DFORMAT format;
        std::vector<BYTE> mask;  // per texel (per block for DXT): the bits Direct3D defines
    };
    const Case cases[] = {
        {D3DFMT_A8R8G8B8, {0xFF, 0xFF, 0xFF, 0xFF}},
        {D3DFMT_X8R8G8B8, {0xFF, 0xFF, 0xFF, 0x00}},
        {D3DFMT_A8B8G8R8, {0xFF, 0xFF, 0xFF, 0xFF}},
        {D3DFMT_X8B8G8R8, {0xFF, 0xFF, 0xFF, 0x00}},
        {D3DFMT_R8G8B8, {0xFF, 0xFF, 0xFF}},
        {D3DFMT_R5G6B5, {0xFF, 0xFF}},
        {D3DFMT_X1R5G5B5, {0xFF, 0x7F}},
        {D3DFMT_A1R5G5B5, {0xFF, 0xFF}},
        {D3DFMT_A4R4G4B4, {0xFF, 0xFF}},
        {D3DFMT_X4R4G4B4, {0xFF, 0x0F}},
        {D3DFMT_R3G3B2, {0xFF}},
        {D3DFMT_A8, {0xFF}},
        {D3DFMT_L8, {0xFF}},
        {D3DFMT_A8L8, {0xFF, 0xFF}},
        {D3DFMT_L16, {0xFF, 0xFF}},
        {D3DFMT_A2R10G10B10, {0xFF, 0xFF, 0xFF, 0xFF}},
        {D3DFMT_A2B10G10R10, {0xFF, 0xFF, 0xFF, 0xFF}},
        {D3DFMT_A16B16G16R16, std::vector<BYTE>(8, 0xFF)},
        {D3DFMT_DXT1, std::vector<BYTE>(8, 0xFF)},
        {D3DFMT_DXT3, std::vector<BYTE>(16, 0xFF)},
        {D3DFMT_DXT5, std::vector<BYTE>(16, 0xFF)},
    };
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<BYTE>(seed >> 24);
    };
    for (bool decodeDxt : {false, true}) {
        rh::d3d9::testing::DisableS3tc(decodeDxt);
        for (const Case& c : cases) {
            if (decodeDxt && !IsDxt(c.format)) continue;
            SCOPED_TRACE(testing::Message() << "format " << c.format << (decodeDxt ? " decoded" : ""));
            IDirect3DTexture9* texture = Make(16, 8, 0, c.format);
            ASSERT_NE(texture, nullptr);
            const UINT levels = texture->GetLevelCount();
            const size_t unit = c.mask.size();
            // Each level's bytes as written: a whole lock of every level, then a draw's worth of
            // GL (the chain complete).
            std::vector<std::vector<BYTE>> written(levels);
            for (UINT level = 0; level < levels; ++level) {
                D3DSURFACE_DESC desc{};
                ASSERT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
                UINT rows = IsDxt(c.format) ? (desc.Height + 3) / 4 : desc.Height;
                D3DLOCKED_RECT locked{};
                ASSERT_EQ(texture->LockRect(level, &locked, nullptr, 0), D3D_OK);
                written[level].resize(size_t(locked.Pitch) * rows);
                for (BYTE& b : written[level]) b = next();
                std::memcpy(locked.pBits, written[level].data(), written[level].size());
                ASSERT_EQ(texture->UnlockRect(level), D3D_OK);
            }
            std::vector<DWORD> gl;
            ASSERT_TRUE(ReadTextureLevel(texture, 0, levels - 1, &gl));
            auto expectLevel = [&](UINT level, const char* when) {
                D3DLOCKED_RECT locked{};
                ASSERT_EQ(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
                const auto* bytes = static_cast<const BYTE*>(locked.pBits);
                size_t i = 0;
                while (i < written[level].size() && ((bytes[i] ^ written[level][i]) & c.mask[i % unit]) == 0) ++i;
                EXPECT_EQ(i, written[level].size()) << when << ", level " << level << ": the first byte that differs";
                ASSERT_EQ(texture->UnlockRect(level), D3D_OK);
            };
            for (UINT level = 0; level < levels; ++level) expectLevel(level, "written whole");

            // A rectangle of level 0 (a block for DXT) patched through a lock.
            std::vector<DWORD> before;
            ASSERT_TRUE(ReadTextureLevel(texture, 0, 0, &before));
            RECT rect{4, 4, 8, 8};
            D3DLOCKED_RECT part{};
            ASSERT_EQ(texture->LockRect(0, &part, &rect, 0), D3D_OK);
            auto* first = static_cast<BYTE*>(part.pBits);
            UINT rectRows = IsDxt(c.format) ? 1 : 4;
            size_t rectBytes = IsDxt(c.format) ? unit : 4 * unit;
            for (UINT y = 0; y < rectRows; ++y) {
                for (size_t i = 0; i < rectBytes; ++i) {
                    BYTE b = next();
                    first[y * part.Pitch + i] = b;
                    written[0][size_t(part.Pitch) * ((IsDxt(c.format) ? 1 : 4) + y) + (IsDxt(c.format) ? 1 : 4) * unit + i] = b;
                }
            }
            ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
            expectLevel(0, "patched");
            std::vector<DWORD> after;
            ASSERT_TRUE(ReadTextureLevel(texture, 0, 0, &after));
            for (UINT y = 0; y < 8; ++y) {
                for (UINT x = 0; x < 16; ++x) {
                    if (x >= 4 && x < 8 && y >= 4 && y < 8) continue;
                    ASSERT_EQ(after[y * 16 + x], before[y * 16 + x]) << "outside the rectangle, texel " << x << ", " << y;
                }
            }
        }
    }
}

// D3DX fills a level from a decoded picture through the layer's WriteWhole: straight to GL for
// a fresh level of a store that keeps no copies, through a lock otherwise. Either way the level
// holds the rows, for locks and for GL alike.
TEST_F(TextureTest, ALevelWrittenWholeHoldsTheRowsWhicheverWayItWent) {
    struct Case {
        const char* what;
        D3DPOOL pool;
        DWORD usage;
        UINT extraPitch;  // bytes past each row of the caller's
        bool writtenBefore;
    };
    const Case cases[] = {
        {"managed, fresh level", D3DPOOL_MANAGED, 0, 0, false},
        {"managed, rows wider than the level", D3DPOOL_MANAGED, 0, 12, false},
        {"managed, level GL already has", D3DPOOL_MANAGED, 0, 0, true},
        {"dynamic (keeps copies)", D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC, 0, false},
        {"system memory (no GL)", D3DPOOL_SYSTEMMEM, 0, 0, false},
    };
    constexpr UINT kWidth = 8, kHeight = 4;
    uint32_t seed = 777;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<BYTE>(seed >> 24);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IDirect3DTexture9* texture = Make(kWidth, kHeight, 2, D3DFMT_A8R8G8B8, c.pool, c.usage);
        ASSERT_NE(texture, nullptr);
        IDirect3DSurface9* surface = nullptr;
        ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
        owned_.push_back(surface);
        rh::d3d9::SurfaceAccess* access = nullptr;
        ASSERT_EQ(surface->QueryInterface(rh::d3d9::kIidSurfaceAccess, reinterpret_cast<void**>(&access)), S_OK);
        owned_.push_back(access);
        if (c.writtenBefore) {
            D3DLOCKED_RECT locked{};
            ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
            std::memset(locked.pBits, 0x5A, size_t(locked.Pitch) * kHeight);
            ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
        }
        const UINT pitch = kWidth * 4 + c.extraPitch;
        std::vector<BYTE> rows(size_t{pitch} * kHeight);
        for (BYTE& b : rows) b = next();
        ASSERT_EQ(access->WriteWhole(rows.data(), pitch), D3D_OK);

        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        for (UINT y = 0; y < kHeight; ++y) {
            EXPECT_EQ(std::memcmp(static_cast<const BYTE*>(locked.pBits) + size_t(locked.Pitch) * y,
                                  rows.data() + size_t{pitch} * y, kWidth * 4),
                      0)
                << "row " << y << " through a lock";
        }
        ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
        if (c.pool != D3DPOOL_SYSTEMMEM) {
            std::vector<DWORD> gl;
            ASSERT_TRUE(ReadTextureLevel(texture, 0, 0, &gl));
            for (UINT y = 0; y < kHeight; ++y) {
                EXPECT_EQ(std::memcmp(gl.data() + size_t{y} * kWidth, rows.data() + size_t{pitch} * y, kWidth * 4), 0)
                    << "row " << y << " in GL";
            }
        }

        // Rows narrower than the level, or a level that is locked, are refused.
        EXPECT_EQ(access->WriteWhole(rows.data(), kWidth * 4 - 4), D3DERR_INVALIDCALL);
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        EXPECT_EQ(access->WriteWhole(rows.data(), pitch), D3DERR_INVALIDCALL);
        ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    }
}

// ---- Pools, Reset and binding ----

TEST_F(TextureTest, DefaultPoolTexturesStopResetManagedOnesKeepTheirPixelsAcrossIt) {
    IDirect3DTexture9* managed = Make(4, 4, 1, D3DFMT_A8R8G8B8);
    ASSERT_NE(managed, nullptr);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(managed->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int i = 0; i < 16; ++i) static_cast<DWORD*>(locked.pBits)[i] = 0xFF123456;
    ASSERT_EQ(managed->UnlockRect(0), D3D_OK);

    IDirect3DTexture9* card = nullptr;
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &card, nullptr), D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(card->GetSurfaceLevel(0, &surface), D3D_OK);
    EXPECT_EQ(card->Release(), 1u) << "the surface holds its texture";

    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    EXPECT_EQ(device_->Reset(&pp), D3DERR_INVALIDCALL) << "a default-pool texture is alive through its surface";
    surface->Release();
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);

    ASSERT_EQ(managed->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<DWORD*>(locked.pBits)[5], 0xFF123456u);
    ASSERT_EQ(managed->UnlockRect(0), D3D_OK);
    std::vector<DWORD> gl;
    ASSERT_TRUE(ReadTextureLevel(managed, 0, 0, &gl));
    EXPECT_EQ(gl, std::vector<DWORD>(16, 0xFF123456));

    // Bound but released by the program: the binding does not count against Reset.
    IDirect3DTexture9* bound = nullptr;
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &bound, nullptr),
              D3D_OK);
    ASSERT_EQ(device_->SetTexture(0, bound), D3D_OK);
    bound->Release();
    EXPECT_EQ(device_->Reset(&pp), D3D_OK);
    IDirect3DBaseTexture9* after = reinterpret_cast<IDirect3DBaseTexture9*>(uintptr_t{1});
    ASSERT_EQ(device_->GetTexture(0, &after), D3D_OK);
    EXPECT_EQ(after, nullptr) << "Reset unbinds textures";
}

TEST_F(TextureTest, SystemMemoryTexturesAreNeverDrawn) {
    D3DCAPS9 caps{};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(caps.DevCaps & D3DDEVCAPS_TEXTURESYSTEMMEMORY, 0u);
    IDirect3DTexture9* system = Make(4, 4, 1, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(device_->SetTexture(0, system), D3DERR_INVALIDCALL);
    IDirect3DBaseTexture9* bound = reinterpret_cast<IDirect3DBaseTexture9*>(uintptr_t{1});
    ASSERT_EQ(device_->GetTexture(0, &bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    std::vector<DWORD> gl;
    EXPECT_FALSE(ReadTextureLevel(system, 0, 0, &gl)) << "no GL object behind system memory";
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(system->LockRect(0, &locked, nullptr, 0), D3D_OK) << "but the CPU reaches it";
    EXPECT_EQ(system->UnlockRect(0), D3D_OK);
}

// ---- Surfaces ----

TEST_F(TextureTest, ASurfaceKeepsItsTextureAliveAndLocksItsLevel) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(8, 4, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    IDirect3DSurface9* missing = reinterpret_cast<IDirect3DSurface9*>(uintptr_t{1});
    EXPECT_EQ(texture->GetSurfaceLevel(2, &missing), D3DERR_INVALIDCALL);
    EXPECT_EQ(missing, nullptr);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(1, &surface), D3D_OK);
    ASSERT_NE(surface, nullptr);
    ULONG deviceRefs = RefCount(device_);
    EXPECT_EQ(texture->Release(), 1u) << "only the surface holds the texture now";

    D3DSURFACE_DESC desc{};
    ASSERT_EQ(surface->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 4u);
    EXPECT_EQ(desc.Height, 2u);
    EXPECT_EQ(desc.Type, D3DRTYPE_SURFACE);
    EXPECT_EQ(surface->GetType(), D3DRTYPE_SURFACE);

    D3DLOCKED_RECT locked{};
    RECT right{2, 0, 4, 2};
    ASSERT_EQ(surface->LockRect(&locked, &right, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 16);
    for (int row = 0; row < 2; ++row) {
        auto* p = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + row * locked.Pitch);
        p[0] = p[1] = 0xFF00FF00;
    }
    EXPECT_EQ(surface->LockRect(&locked, nullptr, 0), D3DERR_INVALIDCALL) << "the level is locked";
    ASSERT_EQ(surface->UnlockRect(), D3D_OK);

    IDirect3DTexture9* container = nullptr;
    ASSERT_EQ(surface->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)), D3D_OK);
    ASSERT_EQ(container, texture);
    IDirect3DCubeTexture9* cube = nullptr;
    EXPECT_EQ(surface->GetContainer(IID_IDirect3DCubeTexture9, reinterpret_cast<void**>(&cube)), E_NOINTERFACE);
    std::vector<DWORD> gl;
    ASSERT_TRUE(ReadTextureLevel(container, 0, 1, &gl));
    EXPECT_EQ(gl, (std::vector<DWORD>{0, 0, 0xFF00FF00, 0xFF00FF00, 0, 0, 0xFF00FF00, 0xFF00FF00}));
    EXPECT_EQ(container->Release(), 1u);

    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(surface->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, device_);
    owner->Release();
    EXPECT_EQ(surface->Release(), 0u);
    EXPECT_LT(RefCount(device_), deviceRefs) << "the last surface let the texture, and its device reference, go";
}

}  // namespace
}  // namespace d3d9_test
