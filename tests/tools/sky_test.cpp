// The night sky box as the build made it: the scene and its six face pictures read from the
// media tree through the scene loader and drawn on the real layer with the eye at the origin.
// Every pixel away from the stars shows the colour its own view direction calls for, so faces
// turned or mirrored the wrong way, seams at the edges and corners, or pictures that do not
// span their faces show as pixels off. Frames as PNG files when RH_SKY_TEST_IMAGES names a
// folder.
#include "tools/texturemake/sky.h"

#include "render/state_cache.h"
#include "scene/scene.h"

#include "tests/render/support/layer_app.h"
#include "tests/support/png_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr float kFov = 1.2f;  // vertical, radians
constexpr DWORD kClear = 0xFFFF00FFu;

// The sky box's quads show their pictures from this texture coordinate to 1 minus it.
constexpr float kInset = rh::texturemake::kSkyInset;

// What the box shows along a direction: the face it points into, and there the picture
// sampled bilinearly at the direction's place on the face. 0..255 each.
void Sample(const std::vector<std::pair<std::string, rh::texturemake::Picture>>& pictures, const float d[3],
            float rgb[3]) {
    const auto& faces = rh::texturemake::SkyFaces();
    size_t best = 0;
    float most = -1;
    for (size_t f = 0; f < faces.size(); ++f) {
        const float k = d[0] * faces[f].forward[0] + d[1] * faces[f].forward[1] + d[2] * faces[f].forward[2];
        if (k > most) most = k, best = f;
    }
    const auto& face = faces[best];
    const rh::texturemake::Picture& picture = pictures[best].second;
    const float s = (d[0] * face.across[0] + d[1] * face.across[1] + d[2] * face.across[2]) / most;
    const float t = (d[0] * face.down[0] + d[1] * face.down[1] + d[2] * face.down[2]) / most;
    const float size = float(picture.width);
    const float x = (kInset + (s + 1) / 2 * (1 - 2 * kInset)) * size - 0.5f;
    const float y = (kInset + (t + 1) / 2 * (1 - 2 * kInset)) * size - 0.5f;
    const int x0 = std::clamp(int(std::floor(x)), 0, picture.width - 2);
    const int y0 = std::clamp(int(std::floor(y)), 0, picture.height - 2);
    const float fx = std::clamp(x - float(x0), 0.0f, 1.0f), fy = std::clamp(y - float(y0), 0.0f, 1.0f);
    rh::texturemake::Picture& p = const_cast<rh::texturemake::Picture&>(picture);
    for (int c = 0; c < 3; ++c) {
        const float a = p.At(x0, y0)[c], b = p.At(x0 + 1, y0)[c], e = p.At(x0, y0 + 1)[c], g = p.At(x0 + 1, y0 + 1)[c];
        rgb[c] = (a + (b - a) * fx) * (1 - fy) + (e + (g - e) * fx) * fy;
    }
}

Vec3 Cross(const Vec3& a, const Vec3& b) {
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 Unit(const Vec3& v) {
    const float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return Vec3{v.x / l, v.y / l, v.z / l};
}

TEST(SkyBox, EveryPixelShowsItsDirectionsColourAcrossTheFaces) {
    rh::test::LayerApp app;
    ASSERT_TRUE(app.Open(kWidth, kHeight));
    {
        Scene sky;
        SceneLoadOptions options;
        options.flags = kSceneOtherExtensions;
        const std::string file = std::string(RIMEHOLT_MEDIA_DIR) + "/Media/skybox/skybox.zwf";
        ASSERT_TRUE(sky.ReadSceneFile(FileRef(file.c_str()), &options));
        const std::string pictures = rh::testing::PictureFolder("RH_SKY_TEST_IMAGES");
        const auto faces = rh::texturemake::SkyPictures(kInset);

        // Views across edges and corners: level along a face, level at an edge between side
        // faces, up into a corner with the top face, at the top face's middle, down past the
        // horizon.
        const struct {
            Vec3 forward, up;
        } views[] = {
            {{0, 0, 1}, {0, 1, 0}},      {{1, 0.05f, -1}, {0, 1, 0}}, {{-1, 0.9f, 1}, {0, 1, 0}},
            {{0.2f, 1, 0.1f}, {0, 0, 1}}, {{-1, -0.2f, -0.4f}, {0, 1, 0}}, {{1, 0.5f, 1}, {0, 1, 0}},
        };
        int v = 0;
        for (const auto& view : views) {
            SCOPED_TRACE("view " + std::to_string(v));
            RenderPass pass;
            pass.SetProjection(1.0f, 6000.0f, kFov, float(kWidth) / kHeight);
            pass.SetView(Vec3{0, 0, 0}, view.forward, view.up);
            pass.flags = kPassNoOcclusion;
            app.PumpMessages();
            g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kClear, 1.0f, 0);
            ASSERT_EQ(g_device->BeginScene(), D3D_OK);
            StateCache::SetRenderState(D3DRS_ZENABLE, TRUE);
            sky.GetRoot().Draw(pass);
            ASSERT_EQ(g_device->EndScene(), D3D_OK);
            const std::vector<DWORD> frame = app.ReadFrame();
            g_device->Present(nullptr, nullptr, nullptr, nullptr);
            if (!pictures.empty()) {
                rh::testing::WritePngFile(pictures + "/sky-view" + std::to_string(v) + ".png", kWidth, kHeight,
                                          std::vector<uint32_t>(frame.begin(), frame.end()));
            }

            // Each pixel's direction from the camera's own axes (left-handed: right = up x forward).
            const Vec3 forward = Unit(view.forward);
            const Vec3 right = Unit(Cross(view.up, forward));
            const Vec3 up = Cross(forward, right);
            const float ty = std::tan(kFov / 2), tx = ty * float(kWidth) / kHeight;
            int cleared = 0, off = 0, starsOff = 0;
            std::vector<int> errors;
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    const DWORD c = frame[size_t(y) * kWidth + x];
                    if ((c & 0xFFFFFF) == (kClear & 0xFFFFFF)) ++cleared;
                    const float sx = ((float(x) + 0.5f) / kWidth * 2 - 1) * tx;
                    const float sy = (1 - (float(y) + 0.5f) / kHeight * 2) * ty;
                    const float d[3] = {forward.x + sx * right.x + sy * up.x, forward.y + sx * right.y + sy * up.y,
                                        forward.z + sx * right.z + sy * up.z};
                    float want[3], shown[3];
                    rh::texturemake::SkyColour(d, want);
                    Sample(faces, d, shown);
                    // Stars are small and bright: each channel's least over the pixel and its
                    // eight neighbours leaves the sky between them.
                    int worst = 0, worstShown = 0;
                    for (int k = 0; k < 3; ++k) {
                        int got = 255;
                        for (int ny = std::max(0, y - 1); ny <= std::min(kHeight - 1, y + 1); ++ny) {
                            for (int nx = std::max(0, x - 1); nx <= std::min(kWidth - 1, x + 1); ++nx) {
                                got = std::min(got, int((frame[size_t(ny) * kWidth + nx] >> (16 - 8 * k)) & 0xFF));
                            }
                        }
                        worst = std::max(worst, std::abs(got - int(std::lround(want[k]))));
                        // The nearest of the pixel and its neighbours: rasterisation may put a
                        // star a pixel off.
                        int nearest = 255;
                        for (int ny = std::max(0, y - 1); ny <= std::min(kHeight - 1, y + 1); ++ny) {
                            for (int nx = std::max(0, x - 1); nx <= std::min(kWidth - 1, x + 1); ++nx) {
                                const int drawn = int((frame[size_t(ny) * kWidth + nx] >> (16 - 8 * k)) & 0xFF);
                                nearest = std::min(nearest, std::abs(drawn - int(std::lround(shown[k]))));
                            }
                        }
                        worstShown = std::max(worstShown, nearest);
                    }
                    errors.push_back(worst);
                    if (worst > 8) ++off;
                    if (worstShown > 24) ++starsOff;
                }
            }
            std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
            EXPECT_EQ(cleared, 0) << "the box covers every direction";
            EXPECT_LE(errors[errors.size() / 2], 2) << "median level difference";
            // The brightest stars, wider than three pixels: one per cent at most.
            EXPECT_LT(off, kWidth * kHeight / 100);
            // With the stars: the drawn sky is the pictures placed as the faces say, stars
            // continuing across the edges (a mirrored face would move its stars).
            EXPECT_LT(starsOff, kWidth * kHeight / 500);
            ++v;
        }
    }
}

}  // namespace
