// The font baker's output: the files the build wrote into the media tree are what the baker
// makes again (twice, byte for byte); the pictures hold their ink inside the cells the
// descriptions give; and both fonts load through the engine's font manager from an archive of
// the media tree, with every glyph where the grid puts it and the clock's texts in their room.
#include "tools/fontbake/font_baker.h"

#include "core/files/archive/archive_file_source.h"
#include "gui/font_manager.h"
#include "tests/render/support/device_app.h"
#include "tools/rarwrite/rar_writer.h"

#include <png.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using rh::fontbake::BakedFont;
using rh::fontbake::FontLayout;

const std::string kFontDir = std::string(RIMEHOLT_MEDIA_DIR) + "/Media/Fonts/";

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The picture decoded by libpng as 0xAARRGGBB words; width 0 when it does not decode.
struct Decoded {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;
};

Decoded DecodePng(const std::vector<uint8_t>& bytes) {
    Decoded out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return out;
    image.format = PNG_FORMAT_BGRA;  // little-endian words of 0xAARRGGBB
    std::vector<uint32_t> pixels(size_t(image.width) * image.height);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return out;
    out.width = image.width;
    out.height = image.height;
    out.pixels = std::move(pixels);
    return out;
}

TEST(FontBake, TheBuildsFilesAreWhatTheBakerMakesEveryTime) {
    const char* names[] = {"sylfaen.fs", "sylfaen14.css", "sylfaen14.png", "64font.fs", "64font.css", "64font.png"};
    std::vector<std::string> made;
    for (const FontLayout& layout : rh::fontbake::SaverFonts()) {
        BakedFont first, second;
        std::string error;
        ASSERT_TRUE(rh::fontbake::BakeFont(RIMEHOLT_DEJAVU_SANS, layout, &first, &error)) << error;
        ASSERT_TRUE(rh::fontbake::BakeFont(RIMEHOLT_DEJAVU_SANS, layout, &second, &error)) << error;
        ASSERT_EQ(first.files.size(), 3u);
        for (size_t i = 0; i < first.files.size(); ++i) {
            const std::string& name = first.files[i].name;
            made.push_back(name);
            EXPECT_EQ(first.files[i].bytes, second.files[i].bytes) << name;
            EXPECT_EQ(first.files[i].bytes, ReadFile(kFontDir + name)) << name;
        }
    }
    EXPECT_EQ(made, std::vector<std::string>(std::begin(names), std::end(names)));
}

TEST(FontBake, InkStaysInsideEachGlyphsCellAndThePicturesArePowersOfTwo) {
    for (const FontLayout& layout : rh::fontbake::SaverFonts()) {
        BakedFont baked;
        std::string error;
        ASSERT_TRUE(rh::fontbake::BakeFont(RIMEHOLT_DEJAVU_SANS, layout, &baked, &error)) << error;
        const Decoded picture = DecodePng(ReadFile(kFontDir + layout.charsetName + ".png"));
        ASSERT_EQ(picture.width, uint32_t(layout.pictureWidth)) << layout.charsetName;
        ASSERT_EQ(picture.height, uint32_t(layout.pictureHeight)) << layout.charsetName;
        EXPECT_EQ(picture.width & (picture.width - 1), 0u);
        EXPECT_EQ(picture.height & (picture.height - 1), 0u);
        ASSERT_EQ(baked.ink.size(), picture.pixels.size());

        // Each texel's owner: the glyph whose cell [0, width) x [0, cell height) holds it.
        // Solid ink is opaque white; what is not ink at all is the outline's colour; and the
        // rim keeps within its reach of the ink.
        const int reach = int(layout.outlineOuter);
        auto inkNear = [&](int x, int y) {
            for (int dy = -reach; dy <= reach; ++dy) {
                for (int dx = -reach; dx <= reach; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= int(picture.width) || ny >= int(picture.height)) continue;
                    if (baked.ink[size_t(ny) * picture.width + size_t(nx)] > 0) return true;
                }
            }
            return false;
        };
        int inkOutside = 0, solidNotWhite = 0, rimNotDark = 0, rimAstray = 0, inked = 0, rim = 0;
        for (uint32_t y = 0; y < picture.height; ++y) {
            for (uint32_t x = 0; x < picture.width; ++x) {
                const size_t at = size_t(y) * picture.width + x;
                const uint32_t texel = picture.pixels[at];
                const uint8_t ink = baked.ink[at];
                if (ink == 255 && texel != 0xFFFFFFFFu) ++solidNotWhite;
                if ((texel >> 24) == 0) continue;
                const int column = int(x) / layout.cellWidth, row = int(y) / layout.cellHeight;
                const int i = row * 16 + column;
                const bool inside = column < 16 && i < 95 && int(x) % layout.cellWidth < baked.widths[size_t(i)];
                if (!inside) ++inkOutside;
                if (ink > 0) {
                    ++inked;
                } else {
                    ++rim;
                    if ((texel & 0xFFFFFF) != rh::fontbake::kOutlineColour) ++rimNotDark;
                    if (!inkNear(int(x), int(y))) ++rimAstray;
                }
            }
        }
        EXPECT_EQ(inkOutside, 0) << layout.charsetName;
        EXPECT_EQ(solidNotWhite, 0) << layout.charsetName;
        EXPECT_EQ(rimNotDark, 0) << layout.charsetName;
        EXPECT_EQ(rimAstray, 0) << layout.charsetName;
        EXPECT_GT(inked, 0) << layout.charsetName;
        EXPECT_GT(rim, inked / 2) << layout.charsetName << ": the glyphs have a rim";
    }
}

// The clock over bright snow: each of its glyphs, drawn white through its picture on a
// near-white background, shows both its white ink and a dark rim right around it, so the
// shapes keep their edges.
TEST(FontBake, TheClocksGlyphsKeepADarkRimOverSnow) {
    const FontLayout layout = rh::fontbake::SaverFonts()[1];
    ASSERT_EQ(layout.size, 64);
    BakedFont baked;
    std::string error;
    ASSERT_TRUE(rh::fontbake::BakeFont(RIMEHOLT_DEJAVU_SANS, layout, &baked, &error)) << error;
    const double snow[3] = {236, 240, 250};
    for (const char* c = "0123456789:apm"; *c != '\0'; ++c) {
        const int i = *c - 32;
        const int x0 = i % 16 * layout.cellWidth, y0 = i / 16 * layout.cellHeight;
        double darkest = 255, lightest = 0;
        int rimTexels = 0, inkTexels = 0;
        for (int y = y0; y < y0 + layout.cellHeight; ++y) {
            for (int x = x0; x < x0 + baked.widths[size_t(i)]; ++x) {
                const size_t at = size_t(y) * size_t(layout.pictureWidth) + size_t(x);
                const uint32_t t = baked.pixels[at];
                const double a = double(t >> 24) / 255.0;
                double level = 0;
                for (int k = 0; k < 3; ++k) level += (double((t >> (16 - 8 * k)) & 0xFF) * a + snow[k] * (1 - a)) / 3;
                darkest = std::min(darkest, level);
                lightest = std::max(lightest, level);
                if (baked.ink[at] == 255) ++inkTexels;
                // A texel without ink within two of solid ink along its row: the rim, which
                // must be dark.
                const bool besideSolid = (x - 2 >= x0 && baked.ink[at - 2] == 255) || (x - 1 >= x0 && baked.ink[at - 1] == 255) ||
                                         baked.ink[at + 1] == 255 || baked.ink[at + 2] == 255;
                if (baked.ink[at] == 0 && besideSolid) {
                    ++rimTexels;
                    EXPECT_LT(level, 80) << *c << " at " << x - x0 << "," << y - y0;
                }
            }
        }
        EXPECT_GT(inkTexels, 20) << *c;
        EXPECT_GT(rimTexels, 10) << *c;
        EXPECT_LT(darkest, 60) << *c;
        EXPECT_GT(lightest, 250) << *c;
    }
}

class BakedFontsFromTheArchive : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(rh::test::DeviceApp::Get(), nullptr) << "no device";
        std::vector<rh::rarwrite::Member> members;
        std::string error;
        ASSERT_TRUE(rh::rarwrite::CollectTree(RIMEHOLT_MEDIA_DIR, &members, &error)) << error;
        ASSERT_TRUE(rh::rarwrite::WriteArchive(members, {}, &archive_, &error)) << error;
        ASSERT_TRUE(media_.Mount(FileRef::Memory(archive_.data(), int32_t(archive_.size()))));
        fonts_.Paths().Add(FileRef::Member(&media_, ""));
    }

    static FontStyle Style(int size) {
        FontStyle style;
        style.size = size;
        return style;
    }
    // The width of a text at scale 1: the glyphs' widths added up.
    int Width(const char* text, int size) {
        int width = 0;
        for (const char* c = text; *c != '\0'; ++c) {
            const Charset* charset = fonts_.FindCharset(*c, Style(size));
            if (charset == nullptr) return -1;
            width += FontManager::GlyphSize(*charset, *c).x;
        }
        return width;
    }
    FileRef Locator(const char* name) {
        FileRef file(name);
        file.flags = FileRef::kArchive;
        return file;
    }

    std::vector<uint8_t> archive_;
    ArchiveFileSource media_;
    FontManager fonts_;
};

TEST_F(BakedFontsFromTheArchive, BothLoadWithEveryGlyphOnTheGrid) {
    ASSERT_TRUE(fonts_.LoadFont(Locator("Media/Fonts/sylfaen.fs")).Succeeded());
    ASSERT_TRUE(fonts_.LoadFont(Locator("Media/Fonts/64font.fs")).Succeeded());
    ASSERT_EQ(fonts_.Styles().count(), 2);

    for (const FontLayout& layout : rh::fontbake::SaverFonts()) {
        const CharsetList* list = fonts_.FindStyle(Style(layout.size));
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->count(), 1);
        const Charset& charset = *list->first()->element;
        ASSERT_NE(charset.GetTexture(), nullptr);
        EXPECT_EQ(charset.GetTexture()->GetDescription().Width, UINT(layout.pictureWidth));
        EXPECT_EQ(charset.GetTexture()->GetDescription().Height, UINT(layout.pictureHeight));
        EXPECT_EQ(charset.GetTexture()->GetFormat(), D3DFMT_A8R8G8B8);
        EXPECT_LE(charset.cellHeight, 74);
        const float w = float(layout.pictureWidth), h = float(layout.pictureHeight);
        for (int code = 32; code < 127; ++code) {
            const int i = code - 32;
            const int width = FontManager::GlyphSize(charset, code).x;
            const float x0 = float(i % 16 * layout.cellWidth), y0 = float(i / 16 * layout.cellHeight);
            const UvRect r = FontManager::GlyphRect(charset, code);
            EXPECT_FLOAT_EQ(r.left, x0 / w) << code;
            EXPECT_FLOAT_EQ(r.top, y0 / h) << code;
            EXPECT_FLOAT_EQ(r.right, (x0 + float(width)) / w) << code;
            EXPECT_FLOAT_EQ(r.bottom, (y0 + float(layout.cellHeight)) / h) << code;
            if (layout.size == 14) {
                EXPECT_GT(width, 0) << code;
            }
        }
    }
}

TEST_F(BakedFontsFromTheArchive, TheClockAndItsLabelsFitTheirRoom) {
    ASSERT_TRUE(fonts_.LoadFont(Locator("Media/Fonts/64font.fs")).Succeeded());
    for (const char* c = " 0123456789:amp"; *c != '\0'; ++c) {
        EXPECT_GT(Width(std::string(1, *c).c_str(), 64), 0) << *c;
    }
    const struct {
        const char* text;
        int room;
    } cases[] = {{"23:59:59", 300}, {"12:59:59", 400}, {"am", 100}, {"pm", 100}};
    for (const auto& c : cases) {
        const int width = Width(c.text, 64);
        EXPECT_GT(width, 0) << c.text;
        EXPECT_LE(width, c.room) << c.text;
    }
}

}  // namespace
