// The texture maker: the same bytes every run, pictures that tile where they repeat, and files
// that the engine's picture loading (D3DX of our layer) and ImageMagick read back as made.
#include "tools/texturemake/textures.h"

#include "tests/render/support/layer_app.h"
#include "tests/support/scratch_dir.h"

#include <d3dx9tex.h>

#include <gtest/gtest.h>

#include <algorithm>
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

// Every picture is a power of two on each side, at most 512, as the layer's textures want;
// opaque ones are JPEG files, ones with alpha PNG.
TEST(TextureMaker, SizesAndFormats) {
    for (const auto& entry : rh::texturemake::TextureEntries()) {
        SCOPED_TRACE(entry.name);
        const Picture p = entry.make();
        EXPECT_TRUE(IsPowerOfTwo(p.width) && IsPowerOfTwo(p.height));
        EXPECT_LE(std::max(p.width, p.height), 512);
        const std::string name = entry.name;
        EXPECT_TRUE(name.ends_with(entry.alpha ? ".png" : ".jpg"));
        if (!entry.alpha) {
            for (size_t i = 3; i < p.rgba.size(); i += 4) ASSERT_EQ(p.rgba[i], 255) << "opaque";
        }
    }
}

// The colour textures and height maps repeat across walls and ground: the step from the last
// column back to the first (and the last row to the first) is no larger than a step inside
// the picture.
TEST(TextureMaker, ColourTexturesAndHeightMapsTile) {
    for (const auto& entry : rh::texturemake::TextureEntries()) {
        if (entry.alpha) continue;
        SCOPED_TRACE(entry.name);
        Picture p = entry.make();
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
        // Against the steps inside: no larger than all but the largest few (a pattern's own
        // edges, such as shingle courses, are among those).
        auto high = [](std::vector<double> steps) {
            std::sort(steps.begin(), steps.end());
            return steps[steps.size() * 98 / 100];
        };
        std::vector<double> columns, rows;
        for (int x = 0; x + 1 < p.width; ++x) columns.push_back(columnStep(x, x + 1));
        for (int y = 0; y + 1 < p.height; ++y) rows.push_back(rowStep(y, y + 1));
        const double inColumns = high(columns), inRows = high(rows);
        EXPECT_LT(columnStep(p.width - 1, 0), 1.5 * inColumns + 2.0);
        EXPECT_LT(rowStep(p.height - 1, 0), 1.5 * inRows + 2.0);
    }
}

// Sprites fade to nothing at their edges (additive glows, the moon and the snow's point
// sprites) and are solid in the middle.
TEST(TextureMaker, SpritesAreTransparentAtTheirEdges) {
    int sprites = 0;
    for (const auto& entry : rh::texturemake::TextureEntries()) {
        if (!entry.alpha) continue;
        SCOPED_TRACE(entry.name);
        ++sprites;
        Picture p = entry.make();
        for (int i = 0; i < p.width; ++i) {
            EXPECT_EQ(p.At(i, 0)[3], 0);
            EXPECT_EQ(p.At(i, p.height - 1)[3], 0);
            EXPECT_EQ(p.At(0, i)[3], 0);
            EXPECT_EQ(p.At(p.width - 1, i)[3], 0);
        }
        EXPECT_GT(p.At(p.width / 2, p.height / 2)[3], 200);
    }
    EXPECT_EQ(sprites, 3);
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
    const auto& entries = rh::texturemake::TextureEntries();
    ASSERT_EQ(files_.size(), entries.size());
    for (size_t i = 0; i < files_.size(); ++i) {
        const MadeFile& file = files_[i];
        SCOPED_TRACE(file.name);
        ASSERT_EQ(file.name, entries[i].name);
        const Picture made = entries[i].make();
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
