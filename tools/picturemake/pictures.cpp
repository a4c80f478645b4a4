#include "tools/picturemake/pictures.h"
#include "tools/picturemake/village_view.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace picturemake {

namespace {

// A small fixed-seed generator, so the flakes fall the same way on every run.
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    // 0 <= value < 1.
    float Unit() { return static_cast<float>(Next() & 0xFFFF) / 65536.0f; }

private:
    uint32_t state_;
};

struct Rgb {
    float r, g, b;
};

uint8_t ToByte(float v) { return static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f); }

// Source-over with straight alpha.
void Blend(Image& image, int x, int y, Rgb c, float a) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height || a <= 0.0f) return;
    a = std::min(a, 1.0f);
    uint8_t* p = image.At(x, y);
    const float da = p[3] / 255.0f;
    const float oa = a + da * (1.0f - a);
    if (oa <= 0.0f) return;
    p[0] = ToByte((c.r * a + p[0] * da * (1.0f - a)) / oa);
    p[1] = ToByte((c.g * a + p[1] * da * (1.0f - a)) / oa);
    p[2] = ToByte((c.b * a + p[2] * da * (1.0f - a)) / oa);
    p[3] = ToByte(oa * 255.0f);
}

void Disc(Image& image, float cx, float cy, float radius, Rgb c) {
    for (int y = static_cast<int>(cy - radius - 1); y <= static_cast<int>(cy + radius + 1); ++y) {
        for (int x = static_cast<int>(cx - radius - 1); x <= static_cast<int>(cx + radius + 1); ++x) {
            const float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy);
            Blend(image, x, y, c, std::clamp(radius - d + 0.5f, 0.0f, 1.0f));
        }
    }
}

}  // namespace

TextPainter::TextPainter(const std::string& fontPath) {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return;
    library_ = library;
    FT_Face face = nullptr;
    if (FT_New_Face(library, fontPath.c_str(), 0, &face) != 0) return;
    face_ = face;
}

TextPainter::~TextPainter() {
    if (face_ != nullptr) FT_Done_Face(static_cast<FT_Face>(face_));
    if (library_ != nullptr) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

int TextPainter::Measure(const std::string& text, int pixelSize) {
    auto face = static_cast<FT_Face>(face_);
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize));
    long width = 0;
    for (unsigned char c : text) {
        if (FT_Load_Char(face, c, FT_LOAD_DEFAULT) == 0) width += face->glyph->advance.x;
    }
    return static_cast<int>(width >> 6);
}

void TextPainter::Draw(Image& image, const std::string& text, int x, int baseline, int pixelSize,
                       const uint8_t color[4]) {
    auto face = static_cast<FT_Face>(face_);
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize));
    long penX = static_cast<long>(x) << 6;
    const Rgb c{static_cast<float>(color[0]), static_cast<float>(color[1]), static_cast<float>(color[2])};
    for (unsigned char ch : text) {
        if (FT_Load_Char(face, ch, FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot glyph = face->glyph;
        const FT_Bitmap& bitmap = glyph->bitmap;
        const int left = static_cast<int>(penX >> 6) + glyph->bitmap_left;
        const int top = baseline - glyph->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            for (unsigned col = 0; col < bitmap.width; ++col) {
                const uint8_t coverage = bitmap.buffer[row * bitmap.pitch + col];
                Blend(image, left + static_cast<int>(col), top + static_cast<int>(row), c,
                      coverage / 255.0f * color[3] / 255.0f);
            }
        }
        penX += glyph->advance.x;
    }
}

Image DrawLoadingPicture(TextPainter& regular) {
    Image image(1024, 768);
    Random random(20261211u);

    // The village itself, drawn by the light-map baker's ray tracer: over the roofs towards the
    // church, the moon above it.
    const ViewCamera camera{{430.0f, 120.0f, -500.0f}, {70.0f, 110.0f, 20.0f}, 1.0f};
    const Image village = RenderVillage(image.width, image.height, camera);
    image.rgba = village.rgba;

    // Falling snow.
    for (int i = 0; i < 900; ++i) {
        const float x = random.Unit() * image.width;
        const float y = random.Unit() * image.height;
        const float size = 0.6f + 1.8f * random.Unit() * random.Unit();
        Disc(image, x, y, size, Rgb{240, 244, 255});
    }

    const uint8_t textColor[4] = {232, 238, 255, 235};
    const int width = regular.Measure("Loading...", 30);
    regular.Draw(image, "Loading...", (image.width - width) / 2, 720, 30, textColor);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) image.At(x, y)[3] = 255;
    }
    return image;
}

Image DrawTitlePicture(TextPainter& regular, TextPainter& bold) {
    Image image(256, 128);
    const uint8_t shadow[4] = {0, 0, 20, 150};
    const uint8_t white[4] = {250, 252, 255, 255};
    const uint8_t frost[4] = {190, 210, 255, 255};
    const int nameWidth = bold.Measure("Rimeholt", 44);
    const int lineWidth = regular.Measure("3D Screensaver", 22);
    for (int pass = 0; pass < 2; ++pass) {
        const int d = pass == 0 ? 2 : 0;
        bold.Draw(image, "Rimeholt", (256 - nameWidth) / 2 + d, 66 + d, 44, pass == 0 ? shadow : white);
        regular.Draw(image, "3D Screensaver", (256 - lineWidth) / 2 + d, 100 + d, 22, pass == 0 ? shadow : frost);
    }
    return image;
}

bool WriteJpeg(const Image& image, const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.optimize_coding = FALSE;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(image.width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* src = &image.rgba[static_cast<size_t>(cinfo.next_scanline) * image.width * 4];
        for (int x = 0; x < image.width; ++x) {
            row[x * 3 + 0] = src[x * 4 + 0];
            row[x * 3 + 1] = src[x * 4 + 1];
            row[x * 3 + 2] = src[x * 4 + 2];
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

bool WriteTga(const Image& image, const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    uint8_t header[18] = {};
    header[2] = 2;  // uncompressed true colour
    header[12] = static_cast<uint8_t>(image.width);
    header[13] = static_cast<uint8_t>(image.width >> 8);
    header[14] = static_cast<uint8_t>(image.height);
    header[15] = static_cast<uint8_t>(image.height >> 8);
    header[16] = 32;
    header[17] = 8;  // 8 alpha bits, bottom row first
    std::fwrite(header, 1, sizeof header, file);
    std::vector<uint8_t> row(static_cast<size_t>(image.width) * 4);
    for (int y = image.height - 1; y >= 0; --y) {
        const uint8_t* src = &image.rgba[static_cast<size_t>(y) * image.width * 4];
        for (int x = 0; x < image.width; ++x) {
            row[x * 4 + 0] = src[x * 4 + 2];
            row[x * 4 + 1] = src[x * 4 + 1];
            row[x * 4 + 2] = src[x * 4 + 0];
            row[x * 4 + 3] = src[x * 4 + 3];
        }
        std::fwrite(row.data(), 1, row.size(), file);
    }
    return std::fclose(file) == 0;
}

}  // namespace picturemake
