// The committed screenshots (docs/screenshots, listed in views.txt there) taken again by the
// frame harness and compared with the committed files, 64 x 64 tile by tile: the mean
// difference of a tile's channels must stay within a few levels. That survives the software
// rasteriser's rounding on another machine and catches a scene that lost its houses, lights,
// sky, fog, snow or labels. After an intended change of the media or the drawing,
// scripts/screenshots takes them again.
//
// With RIMEHOLT_FRAME_DIR naming a folder, every new frame is written there too.

#include "tests/support/png_file.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kTile = 64;
// Mean absolute difference of a tile's red, green and blue, in levels of 255.
constexpr double kTileTolerance = 6.0;

struct View {
    std::string name, path, time;
    bool shaders;
};

void PrintTo(const View& view, std::ostream* out) { *out << view.name << (view.shaders ? "-shaders" : "-fixed"); }

std::vector<View> ReadViews() {
    std::vector<View> views;
    std::ifstream in(std::string(RIMEHOLT_SOURCE_DIR) + "/docs/screenshots/views.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        View view;
        if (!(fields >> view.name >> view.path >> view.time)) continue;
        for (bool shaders : {true, false}) {
            view.shaders = shaders;
            views.push_back(view);
        }
    }
    return views;
}

// The largest tile difference of two pictures of one size, and where.
struct TileResult {
    double worst = 0.0;
    int x = 0, y = 0;
};

TileResult CompareTiles(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int width, int height) {
    TileResult result;
    for (int ty = 0; ty < height; ty += kTile) {
        for (int tx = 0; tx < width; tx += kTile) {
            double sum = 0.0;
            int count = 0;
            for (int y = ty; y < std::min(ty + kTile, height); ++y) {
                for (int x = tx; x < std::min(tx + kTile, width); ++x) {
                    const uint32_t p = a[size_t(y) * size_t(width) + size_t(x)];
                    const uint32_t q = b[size_t(y) * size_t(width) + size_t(x)];
                    for (int shift : {16, 8, 0}) sum += std::abs(int((p >> shift) & 255) - int((q >> shift) & 255));
                    count += 3;
                }
            }
            const double mean = sum / count;
            if (mean > result.worst) result = TileResult{mean, tx, ty};
        }
    }
    return result;
}

class ScreenshotTest : public ::testing::TestWithParam<View> {};

TEST_P(ScreenshotTest, MatchesTheCommittedPicture) {
    const View view = GetParam();
    const std::string file = view.name + (view.shaders ? "-shaders" : "-fixed");
    rh::testing::ScratchDir scratch("rh_screenshot");
    const std::string command = std::string("'") + RIMEHOLT_FRAMES + "' --out '" + scratch.path() + "' --path " +
                                view.path + " --shaders " + (view.shaders ? "1" : "0") + " --snow 1 " + file + "@" +
                                view.time + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    int width = 0, height = 0, oldWidth = 0, oldHeight = 0;
    std::vector<uint32_t> now, committed;
    ASSERT_TRUE(rh::testing::ReadPngFile(scratch.Path(file + ".png"), &width, &height, &now));
    rh::testing::SavePicture("RIMEHOLT_FRAME_DIR", file, width, height, now);
    const std::string committedPath = std::string(RIMEHOLT_SOURCE_DIR) + "/docs/screenshots/" + file + ".png";
    ASSERT_TRUE(rh::testing::ReadPngFile(committedPath, &oldWidth, &oldHeight, &committed))
        << committedPath << " is missing: scripts/screenshots takes it";
    ASSERT_EQ(width, 1024);
    ASSERT_EQ(height, 768);
    ASSERT_EQ(oldWidth, width);
    ASSERT_EQ(oldHeight, height);
    const TileResult result = CompareTiles(now, committed, width, height);
    std::printf("%s: worst tile %.2f levels at (%d, %d)\n", file.c_str(), result.worst, result.x, result.y);
    EXPECT_LE(result.worst, kTileTolerance)
        << file << " differs from the committed picture in the tile at (" << result.x << ", " << result.y
        << "); if the change is intended, scripts/screenshots takes the pictures again";
}

INSTANTIATE_TEST_SUITE_P(Views, ScreenshotTest, ::testing::ValuesIn(ReadViews()), [](const auto& info) {
    return info.param.name + (info.param.shaders ? "_shaders" : "_fixed");
});

// The comparison itself: equal pictures pass, a small uniform shift passes, one tile changed
// by a lit window's worth fails and is found.
TEST(ScreenshotCompare, FindsTheChangedTile) {
    const int w = 256, h = 128;
    std::vector<uint32_t> a(size_t(w) * h, 0xFF404060u);
    EXPECT_EQ(CompareTiles(a, a, w, h).worst, 0.0);
    std::vector<uint32_t> b = a;
    for (auto& p : b) p += 0x020202u;
    EXPECT_LE(CompareTiles(a, b, w, h).worst, kTileTolerance);
    for (int y = 70; y < 100; ++y) {
        for (int x = 140; x < 180; ++x) b[size_t(y) * w + x] = 0xFFE0B060u;
    }
    const TileResult result = CompareTiles(a, b, w, h);
    EXPECT_GT(result.worst, kTileTolerance);
    EXPECT_EQ(result.x, 128);
    EXPECT_EQ(result.y, 64);
}

}  // namespace
