// The texture maker: the same bytes every run, pictures that tile where they repeat, and files
// that the engine's picture loading (D3DX of our layer) and ImageMagick read back as made.
#include "tools/texturemake/textures.h"

#include "tests/render/support/layer_app.h"
#include "tests/support/scratch_dir.h"

#include <d3dx9tex.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using rh::texturemake::MadeFile;
using rh::texturemake::Picture;

bool IsPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

TEST(TextureMaker, SameBytesEveryRun) {
    std::vector<MadeFile> one, two;
    std::string error;
    ASSERT_TRUE(rh::texturemake::MakeTextures(&one, &error)) << error;
    ASSERT_TRUE(rh::texturemake::MakeTextures(&two, &error)) << error;
    ASSERT_EQ(one.size(), two.size());
    for (size_t i = 0; i < one.size(); ++i) {
        EXPECT_EQ(one[i].name, two[i].name);
        EXPECT_TRUE(one[i].bytes == two[i].bytes) << one[i].name;
    }
}

// The colour textures repeat across walls and ground: the step from the last column back to
// the first (and the last row to the first) is no larger than a step inside the picture.
TEST(TextureMaker, ColourTexturesTile) {
    const struct {
        const char* what;
        Picture (*make)();
    } textures[] = {{"snow", &rh::texturemake::SnowPicture},
                    {"plaster", &rh::texturemake::PlasterPicture},
                    {"timber", &rh::texturemake::TimberPicture},
                    {"bark", &rh::texturemake::BarkPicture}};
    for (const auto& t : textures) {
        SCOPED_TRACE(t.what);
        Picture p = t.make();
        EXPECT_TRUE(IsPowerOfTwo(p.width) && IsPowerOfTwo(p.height));
        auto columnStep = [&](int a, int b) {
            double sum = 0;
            for (int y = 0; y < p.height; ++y)
                for (int c = 0; c < 3; ++c) sum += std::abs(int(p.At(a, y)[c]) - int(p.At(b, y)[c]));
            return sum / p.height;
        };
        auto rowStep = [&](int a, int b) {
            double sum = 0;
            for (int x = 0; x < p.width; ++x)
                for (int c = 0; c < 3; ++c) sum += std::abs(int(p.At(x, a)[c]) - int(p.At(x, b)[c]));
            return sum / p.width;
        };
        EXPECT_LT(columnStep(p.width - 1, 0), 2.0 * columnStep(p.width / 2, p.width / 2 + 1) + 3.0);
        EXPECT_LT(rowStep(p.height - 1, 0), 2.0 * rowStep(p.height / 2, p.height / 2 + 1) + 3.0);
    }
}

// Sprites fade to nothing at their edges (additive glows and the snow's point sprites).
TEST(TextureMaker, SpritesAreTransparentAtTheirEdges) {
    for (Picture (*make)() : {&rh::texturemake::GlowPicture, &rh::texturemake::SnowflakePicture}) {
        Picture p = make();
        EXPECT_EQ(p.At(0, 0)[3], 0);
        EXPECT_EQ(p.At(p.width - 1, p.height / 2)[3], 0);
        EXPECT_GT(p.At(p.width / 2, p.height / 2)[3], 200);
    }
}

class TextureMakerFiles : public rh::testing::ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        std::string error;
        ASSERT_TRUE(rh::texturemake::MakeTextures(&files_, &error)) << error;
    }
    std::vector<MadeFile> files_;
};

TEST_F(TextureMakerFiles, TheEnginesPictureLoadingReadsWhatWasMade) {
    rh::test::LayerApp app;
    ASSERT_TRUE(app.Open(64, 64));
    const std::map<std::string, Picture (*)()> pictures = {
        {"Media/Txt/snow.jpg", &rh::texturemake::SnowPicture},      {"Media/Txt/plaster.jpg", &rh::texturemake::PlasterPicture},
        {"Media/Txt/timber.jpg", &rh::texturemake::TimberPicture},  {"Media/Txt/bark.jpg", &rh::texturemake::BarkPicture},
        {"Media/Txt/lampglow.png", &rh::texturemake::GlowPicture}, {"Media/Txt/snowflake.png", &rh::texturemake::SnowflakePicture}};
    ASSERT_EQ(files_.size(), pictures.size());
    for (const MadeFile& file : files_) {
        SCOPED_TRACE(file.name);
        ASSERT_EQ(pictures.count(file.name), 1u);
        const Picture made = pictures.at(file.name)();
        const bool png = file.name.ends_with(".png");
        D3DXIMAGE_INFO info{};
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(g_device, file.bytes.data(), UINT(file.bytes.size()), 0, 0, 1, 0,
                                                      D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_NONE,
                                                      D3DX_FILTER_NONE, 0, &info, nullptr, &texture),
                  D3D_OK);
        EXPECT_EQ(info.Width, UINT(made.width));
        EXPECT_EQ(info.Height, UINT(made.height));
        EXPECT_EQ(info.ImageFileFormat, png ? D3DXIFF_PNG : D3DXIFF_JPG);
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        // PNG is exact; baseline JPEG at quality 90 stays close on average.
        double error = 0;
        int worstAlpha = 0;
        for (int y = 0; y < made.height; ++y) {
            const auto* row = reinterpret_cast<const DWORD*>(static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch);
            for (int x = 0; x < made.width; ++x) {
                const uint8_t* m = const_cast<Picture&>(made).At(x, y);
                const DWORD p = row[x];
                error += std::abs(int((p >> 16) & 0xFF) - m[0]) + std::abs(int((p >> 8) & 0xFF) - m[1]) +
                         std::abs(int(p & 0xFF) - m[2]);
                if (png) worstAlpha = std::max(worstAlpha, std::abs(int(p >> 24) - m[3]));
            }
        }
        texture->UnlockRect(0);
        texture->Release();
        error /= 3.0 * made.width * made.height;
        if (png) {
            EXPECT_EQ(error, 0.0);
            EXPECT_EQ(worstAlpha, 0);
        } else {
            EXPECT_LT(error, 3.0);
        }
    }
}

TEST_F(TextureMakerFiles, ImageMagickReadsEveryPicture) {
    for (const MadeFile& file : files_) {
        SCOPED_TRACE(file.name);
        std::string error;
        ASSERT_TRUE(rh::texturemake::WriteBytes(dir_ + "/" + file.name, file.bytes, &error)) << error;
        const std::string command = "identify -regard-warnings '" + dir_ + "/" + file.name + "' > /dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

}  // namespace
