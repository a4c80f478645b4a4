// Textures on the real layer: each source kind builds the same picture again after a device
// reset, deferred creation, what a sub-texture made for a request releases (nothing of its
// parent's), and normal maps with height in alpha, saved as DDS and read back by ImageMagick.
#include "render/texture.h"

#include "core/types/byte_buffer.h"
#include "render/format_facts.h"
#include "tests/render/support/device_app.h"
#include "tests/render/support/picture_files.h"
#include "tests/support/scratch_dir.h"

#include "platform/d3d9/d3d9_testing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using rh::test::DeviceApp;
using rh::test::Picture;
using rh::test::ReadLevel;

ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

class TextureDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        app_ = DeviceApp::Get();
        ASSERT_NE(app_, nullptr) << "no device";
    }

    DeviceApp* app_ = nullptr;
    rh::testing::ScratchDir scratch_{"rh_texture"};
};

const uint32_t kColours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x80FFFF00};

TEST_F(TextureDeviceTest, EverySourceKindBuildsTheSamePictureAgainAfterAReset) {
    const Picture picture = rh::test::Quadrants(16, 8, kColours, 0xFF102030);
    const std::string bytes = rh::test::TgaFile(picture);
    const std::string path = scratch_.Write("quad.tga", bytes);
    struct Case {
        const char* what;
        FileRef locator;
        bool deferred;
        int32_t sourceFlags;
    };
    FileRef byName(path.c_str());
    byName.noCopy = false;
    const Case cases[] = {
        {"disk file, its bytes kept", FileRef(path.c_str()), false, kTextureSaveData},
        {"disk file, read again by name", byName, false, kTextureSaveName},
        {"disk file, made on first use", FileRef(path.c_str()), true, kTextureSaveData},
        {"memory block, lent", FileRef::Memory(bytes.data(), int32_t(bytes.size()), true), false, kTextureLentData},
        {"memory block, copied", FileRef::Memory(bytes.data(), int32_t(bytes.size()), false), false,
         kTextureSaveData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TextureRequest request;
        request.locator = c.locator;
        request.deferred = c.deferred;
        request.flags = kRequestFilters | kRequestLevels;
        request.filter = D3DX_FILTER_POINT;
        request.mipFilter = D3DX_FILTER_POINT;
        request.levels = 1;
        Texture texture;
        ASSERT_TRUE(texture.Load(request));
        if (c.deferred) {
            EXPECT_EQ(texture.GetSourceFlags(), c.sourceFlags | kTextureDeferred);
        } else {
            EXPECT_EQ(texture.GetSourceFlags(), c.sourceFlags);
        }
        ASSERT_NE(texture.GetTexture2D(), nullptr);
        EXPECT_EQ(texture.GetSourceFlags(), c.sourceFlags);
        EXPECT_EQ(texture.GetSize().x, 16);
        EXPECT_EQ(texture.GetUVRect().right, 1.0f);
        EXPECT_TRUE(rh::test::ShowsAt(ReadLevel(texture.GetTexture2D(), 0), 0, 0, picture));

        ASSERT_TRUE(app_->LoseAndReset());
        EXPECT_TRUE(rh::test::ShowsAt(ReadLevel(texture.GetTexture2D(), 0), 0, 0, picture));
    }
}

TEST_F(TextureDeviceTest, SavedLevelsBuildTheSamePicturesAgainAfterAReset) {
    // An empty texture is rebuilt from the levels it saved: a flat one, and a cube whose six
    // faces each hold a colour of their own (each face's level must come back on its face).
    const DWORD faceColours[6] = {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0, 0xFFD0E0F0, 0xFF0A0B0C};
    auto fill = [](IDirect3DSurface9* surface, DWORD colour) {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(surface->LockRect(&locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < 4; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch);
            for (int x = 0; x < 4; ++x) row[x] = colour;
        }
        surface->UnlockRect();
    };
    Texture flat;
    ASSERT_TRUE(flat.CreateEmpty(0, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false));
    IDirect3DSurface9* surface = flat.GetSurface(0);
    ASSERT_NE(surface, nullptr);
    fill(surface, faceColours[0]);
    surface->Release();
    ASSERT_TRUE(flat.SaveLevels());

    Texture cube;
    ASSERT_TRUE(cube.CreateEmpty(0, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, true, false));
    for (int face = 0; face < 6; ++face) {
        IDirect3DSurface9* side = cube.GetCubeSurface(static_cast<D3DCUBEMAP_FACES>(face), 0);
        ASSERT_NE(side, nullptr);
        fill(side, faceColours[face]);
        side->Release();
    }
    ASSERT_TRUE(cube.SaveLevels());

    ASSERT_TRUE(app_->LoseAndReset());
    std::vector<DWORD> pixels;
    ASSERT_TRUE(rh::d3d9::testing::ReadTextureLevel(flat.GetBaseTexture(), 0, 0, &pixels));
    EXPECT_EQ(pixels, std::vector<DWORD>(16, faceColours[0]));
    for (UINT face = 0; face < 6; ++face) {
        SCOPED_TRACE(face);
        ASSERT_TRUE(rh::d3d9::testing::ReadTextureLevel(cube.GetBaseTexture(), face, 0, &pixels));
        EXPECT_EQ(pixels, std::vector<DWORD>(16, faceColours[face]));
    }
}

TEST_F(TextureDeviceTest, OnlyTheLowerCaseExtensionNamesADescription) {
    scratch_.Write("plain.ts", "Width = 8; Height = 4;");
    scratch_.Write("upper.TS", "Width = 8; Height = 4;");
    Texture texture;
    TextureRequest request;
    request.locator = FileRef(scratch_.Path("plain.ts").c_str());
    ASSERT_TRUE(texture.Load(request));
    EXPECT_EQ(texture.GetSize().x, 8);
    EXPECT_EQ(texture.GetSize().y, 4);
    // D3DX reads the upper-case one as a picture, which it is not.
    request.locator = FileRef(scratch_.Path("upper.TS").c_str());
    EXPECT_FALSE(texture.Load(request));
    EXPECT_EQ(texture.GetTexture2D(), nullptr);
}

// A sub-texture made for a request holds its parent's Direct3D texture: its loss, its
// unloading and its deletion must leave the parent's references as they were.
TEST_F(TextureDeviceTest, SubTexturesMadeForRequestsNeverReleaseTheParentsTexture) {
    Texture parent;
    ASSERT_TRUE(parent.CreateEmpty(0, 32, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false));
    IDirect3DTexture9* pixels = parent.GetTexture2D();
    ASSERT_NE(pixels, nullptr);
    const ULONG before = References(pixels);

    TextureRequest byId;
    byId.flags = kRequestId;
    byId.id = "whole";
    Texture* whole = parent.CreateSub(byId);
    TextureRequest byRect;
    byRect.flags = kRequestRect;
    byRect.rect = Rect(8, 8, 24, 16);
    Texture* part = parent.CreateSub(byRect);
    EXPECT_EQ(whole->GetTexture2D(), pixels);
    EXPECT_EQ(part->GetTexture2D(), pixels);
    EXPECT_EQ(whole->GetUVRect().right, 1.0f) << "an Id alone shows the whole picture";
    EXPECT_FLOAT_EQ(part->GetUVRect().right, 0.75f) << "a rectangle shows its pixels";

    whole->OnDeviceLost();
    part->OnDeviceLost();
    EXPECT_EQ(References(pixels), before);
    whole->Unload(false);
    EXPECT_EQ(References(pixels), before);
    delete whole;
    EXPECT_EQ(References(pixels), before);
    EXPECT_EQ(parent.FindSubTexture("whole"), nullptr);

    // Through a reset the remaining one follows its parent's new texture.
    ASSERT_TRUE(app_->LoseAndReset());
    EXPECT_NE(parent.GetTexture2D(), nullptr);
    EXPECT_EQ(part->GetTexture2D(), parent.GetTexture2D());
}

// ---- Normal maps

// Fills level 0 of the texture (of any 8-, 16- or 32-bit format) with the pixel words.
void FillLevel(Texture& texture, const std::vector<uint32_t>& words) {
    D3DLOCKED_RECT locked{};
    ASSERT_TRUE(texture.LockLevel(0, 0, &locked));
    const int bytes = FormatBits(texture.GetFormat()) / 8;
    const D3DSURFACE_DESC& desc = texture.GetDescription();
    for (UINT y = 0; y < desc.Height; ++y) {
        auto* row = static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch;
        for (UINT x = 0; x < desc.Width; ++x) {
            for (int b = 0; b < bytes; ++b) row[x * bytes + b] = uint8_t(words[y * desc.Width + x] >> (8 * b));
        }
    }
    texture.UnlockLevel(0);
}

std::vector<uint32_t> LevelWords(Texture& texture, UINT level) {
    std::vector<uint32_t> words;
    D3DLOCKED_RECT locked{};
    D3DSURFACE_DESC desc{};
    if (texture.GetTexture2D() == nullptr || texture.GetTexture2D()->GetLevelDesc(level, &desc) != D3D_OK ||
        !texture.LockLevel(level, D3DLOCK_READONLY, &locked)) {
        return words;
    }
    const int bytes = FormatBits(texture.GetFormat()) / 8;
    for (UINT y = 0; y < desc.Height; ++y) {
        const auto* row = static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch;
        for (UINT x = 0; x < desc.Width; ++x) {
            uint32_t w = 0;
            for (int b = 0; b < bytes; ++b) w |= uint32_t(row[x * bytes + b]) << (8 * b);
            words.push_back(w);
        }
    }
    texture.UnlockLevel(level);
    return words;
}

TEST_F(TextureDeviceTest, NormalMapsCarryTheHeightInAlphaAsTheFormatsAllow) {
    struct Case {
        const char* what;
        D3DFORMAT source;
        uint32_t (*height)(uint32_t x);  // the source pixel word of column x
        DWORD channel;
        D3DFORMAT target;
        // The alpha expected from column x's height value v of b bits into a bits.
        bool heightToAlpha;
    };
    const Case cases[] = {
        {"8-bit red into 8-bit alpha", D3DFMT_A8R8G8B8, [](uint32_t x) { return 0xFF000000u | (x * 17) << 16; },
         D3DX_CHANNEL_RED, D3DFMT_A8R8G8B8, true},
        {"5-bit red into 8-bit alpha", D3DFMT_R5G6B5, [](uint32_t x) { return (x * 2) << 11; }, D3DX_CHANNEL_RED,
         D3DFMT_A8R8G8B8, true},
        {"6-bit green into 4-bit alpha", D3DFMT_R5G6B5, [](uint32_t x) { return (x * 4) << 5; },
         D3DX_CHANNEL_GREEN, D3DFMT_A4R4G4B4, true},
        {"luminance for a channel the source lacks", D3DFMT_L8, [](uint32_t x) { return x * 17; },
         D3DX_CHANNEL_BLUE, D3DFMT_A8R8G8B8, true},
        {"8-bit blue into 1-bit alpha", D3DFMT_X8R8G8B8, [](uint32_t x) { return x * 17; }, D3DX_CHANNEL_BLUE,
         D3DFMT_A1R5G5B5, true},
        {"no alpha in the target", D3DFMT_A8R8G8B8, [](uint32_t x) { return 0xFF000000u | (x * 17) << 16; },
         D3DX_CHANNEL_RED, D3DFMT_X8R8G8B8, true},
        {"alpha left alone", D3DFMT_A8R8G8B8, [](uint32_t x) { return 0xFF000000u | (x * 17) << 16; },
         D3DX_CHANNEL_RED, D3DFMT_A8R8G8B8, false},
        // A8L8 keeps its grey as red and names no luminance channel: nothing to copy from.
        {"no height channel at all", D3DFMT_A8L8, [](uint32_t x) { return 0xFF00u | x * 17; },
         D3DX_CHANNEL_LUMINANCE, D3DFMT_A8R8G8B8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Texture texture;
        ASSERT_TRUE(texture.CreateEmpty(0, 16, 4, 1, 0, c.source, D3DPOOL_MANAGED, false, false));
        std::vector<uint32_t> words;
        for (uint32_t y = 0; y < 4; ++y) {
            for (uint32_t x = 0; x < 16; ++x) words.push_back(c.height(x));
        }
        FillLevel(texture, words);
        const FormatChannelBits from = FormatChannels(c.source);
        ASSERT_TRUE(texture.ConvertToNormalMap(c.target, 0, c.channel, 2.0f, c.heightToAlpha));
        EXPECT_EQ(texture.GetFormat(), c.target);
        EXPECT_EQ(texture.GetSourceFlags(), kTextureEmpty) << "rebuilt from its saved levels";

        const FormatChannelBits to = FormatChannels(c.target);
        uint32_t shift = from.luminanceShift, bits = from.luminanceBits;
        if (c.channel == D3DX_CHANNEL_RED && from.redBits) shift = from.redShift, bits = from.redBits;
        if (c.channel == D3DX_CHANNEL_GREEN && from.greenBits) shift = from.greenShift, bits = from.greenBits;
        if (c.channel == D3DX_CHANNEL_BLUE && from.blueBits) shift = from.blueShift, bits = from.blueBits;
        const std::vector<uint32_t> result = LevelWords(texture, 0);
        ASSERT_EQ(result.size(), 64u);
        for (uint32_t x = 0; x < 16; ++x) {
            const uint32_t alpha = (result[x] >> to.alphaShift) & ((1u << to.alphaBits) - 1);
            if (to.alphaBits == 0) break;
            const uint32_t max = (1u << to.alphaBits) - 1;
            if (!c.heightToAlpha || bits == 0) {
                EXPECT_EQ(alpha, max) << "column " << x;
                continue;
            }
            const uint32_t v = (words[x] >> shift) & ((1u << bits) - 1);
            const auto expected = uint32_t(double(v) / double((1u << bits) - 1) * double(max));
            EXPECT_EQ(alpha, expected) << "column " << x << " height " << v;
        }
        // The saved levels bring the same words back after a reset.
        ASSERT_TRUE(app_->LoseAndReset());
        EXPECT_EQ(LevelWords(texture, 0), result);
    }
}

// Sub-textures that show the parent's pixels change with it; they cannot be converted alone,
// as their pixels are the parent's.
TEST_F(TextureDeviceTest, SharingSubTexturesFollowTheirParentIntoANormalMap) {
    Texture parent;
    ASSERT_TRUE(parent.CreateEmpty(0, 16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false));
    TextureRequest byRect;
    byRect.flags = kRequestRect;
    byRect.rect = Rect(0, 0, 8, 8);
    Texture* part = parent.CreateSub(byRect);
    TextureRequest byId;
    byId.flags = kRequestId;
    byId.id = "whole";
    Texture* whole = parent.CreateSub(byId);
    EXPECT_FALSE(part->ConvertToNormalMap(D3DFMT_A8R8G8B8, 0, D3DX_CHANNEL_RED, 1.0f, false));
    EXPECT_FALSE(whole->ConvertToNormalMap(D3DFMT_A8R8G8B8, 0, D3DX_CHANNEL_RED, 1.0f, false));
    ASSERT_TRUE(parent.ConvertToNormalMap(D3DFMT_X8R8G8B8, 0, D3DX_CHANNEL_RED, 1.0f, false));
    EXPECT_EQ(parent.GetFormat(), D3DFMT_X8R8G8B8);
    EXPECT_EQ(part->GetTexture2D(), parent.GetTexture2D());
    EXPECT_EQ(whole->GetTexture2D(), parent.GetTexture2D());
    EXPECT_EQ(part->GetDescription().Format, D3DFMT_X8R8G8B8);
}

TEST_F(TextureDeviceTest, CompressedHeightsKeepTheNormalMapsAlpha) {
    Texture texture;
    ASSERT_TRUE(texture.CreateEmpty(0, 8, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, false, false));
    ASSERT_TRUE(texture.ConvertToNormalMap(D3DFMT_A8R8G8B8, 0, D3DX_CHANNEL_RED, 1.0f, true));
    for (uint32_t word : LevelWords(texture, 0)) EXPECT_EQ(word >> 24, 0xFFu);
}

bool HaveTool(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

std::string RunAndRead(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

TEST_F(TextureDeviceTest, ANormalMapSavedAsDdsReadsBackEqualInImageMagick) {
    for (const char* tool : {"/usr/bin/identify", "/usr/bin/convert", "/usr/bin/nvddsinfo"}) {
        if (!HaveTool(tool)) GTEST_SKIP() << "needs " << tool << " (imagemagick, libnvtt-bin)";
    }
    struct Case {
        const char* what;
        uint32_t (*height)(uint32_t x, uint32_t y);
        // The normal expected inside (away from the wrapping edges), as A8R8G8B8 without alpha.
        int red, green, blue;
    };
    const Case cases[] = {
        // Flat: the normal is straight out of the picture.
        {"flat", [](uint32_t, uint32_t) { return 0xFF000000u | 0x40u << 16; }, 128, 128, 255},
        // A ramp rising to the right by 8 a column: one constant normal leaning left.
        {"ramp", [](uint32_t x, uint32_t) { return 0xFF000000u | (x * 8) << 16; }, -1, 128, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Texture texture;
        ASSERT_TRUE(texture.CreateEmpty(0, 32, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false));
        ASSERT_EQ(texture.GetLevels(), 6);
        std::vector<uint32_t> words;
        for (uint32_t y = 0; y < 16; ++y) {
            for (uint32_t x = 0; x < 32; ++x) words.push_back(c.height(x, y));
        }
        FillLevel(texture, words);
        ASSERT_TRUE(texture.ConvertToNormalMap(D3DFMT_A8R8G8B8, 0, D3DX_CHANNEL_RED, 4.0f, true));
        const std::vector<uint32_t> level0 = LevelWords(texture, 0);
        ASSERT_EQ(level0.size(), 512u);
        const uint32_t inside = level0[5 * 32 + 8];
        for (uint32_t y = 1; y < 15; ++y) {
            for (uint32_t x = 1; x < 31; ++x) {
                EXPECT_EQ(level0[y * 32 + x] & 0x00FFFFFF, inside & 0x00FFFFFF) << x << ", " << y;
                EXPECT_EQ(level0[y * 32 + x] >> 24, (words[y * 32 + x] >> 16) & 0xFF) << "alpha is the height";
            }
        }
        if (c.red >= 0) {
            EXPECT_NEAR(int((inside >> 16) & 0xFF), c.red, 1);
            EXPECT_NEAR(int(inside & 0xFF), c.blue, 1);
        } else {
            EXPECT_LT(int((inside >> 16) & 0xFF), 128) << "leans towards lower heights";
        }
        EXPECT_NEAR(int((inside >> 8) & 0xFF), c.green, 1);

        const std::string dds = scratch_.Path(std::string(c.what) + ".dds");
        ASSERT_TRUE(texture.SaveToFile(dds.c_str()));
        // identify names the file's first image (ImageMagick reads no further levels);
        // nvddsinfo reads the level count from the header.
        const std::string info = RunAndRead("/usr/bin/identify -format '%m %w %h' '" + dds + "[0]' 2>&1");
        EXPECT_EQ(info, "DDS 32 16");
        const std::string header = RunAndRead("/usr/bin/nvddsinfo '" + dds + "' 2>&1");
        EXPECT_NE(header.find("Mipmap count: 6"), std::string::npos) << header;
        // convert writes the top level's pixels as RGBA bytes.
        const std::string rgba =
            RunAndRead("/usr/bin/convert '" + dds + "[0]' -depth 8 rgba:- 2>/dev/null");
        ASSERT_EQ(rgba.size(), 512u * 4);
        for (size_t i = 0; i < 512; ++i) {
            const auto* p = reinterpret_cast<const uint8_t*>(rgba.data()) + i * 4;
            const uint32_t word = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
            ASSERT_EQ(word, level0[i]) << "pixel " << i;
        }
    }
}

}  // namespace
