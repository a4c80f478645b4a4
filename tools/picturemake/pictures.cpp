#include "tools/picturemake/pictures.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace picturemake {

namespace {

// A small fixed-seed generator, so the stars and flakes fall the same way on every run.
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

Rgb Mix(Rgb a, Rgb b, float t) { return Rgb{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

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

// Adds light, for glows.
void Add(Image& image, int x, int y, Rgb c, float a) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height || a <= 0.0f) return;
    uint8_t* p = image.At(x, y);
    p[0] = ToByte(p[0] + c.r * a);
    p[1] = ToByte(p[1] + c.g * a);
    p[2] = ToByte(p[2] + c.b * a);
}

void Glow(Image& image, float cx, float cy, float radius, Rgb c, float strength) {
    for (int y = static_cast<int>(cy - radius); y <= static_cast<int>(cy + radius); ++y) {
        for (int x = static_cast<int>(cx - radius); x <= static_cast<int>(cx + radius); ++x) {
            const float d = std::hypot(x - cx, y - cy) / radius;
            if (d < 1.0f) Add(image, x, y, c, strength * (1.0f - d) * (1.0f - d));
        }
    }
}

float Edge(float ax, float ay, float bx, float by, float px, float py) {
    return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
}

// A triangle, anti-aliased by 4 x 4 samples per pixel.
void Triangle(Image& image, float x0, float y0, float x1, float y1, float x2, float y2, Rgb c, float alpha = 1.0f) {
    const int minX = static_cast<int>(std::floor(std::min({x0, x1, x2})));
    const int maxX = static_cast<int>(std::ceil(std::max({x0, x1, x2})));
    const int minY = static_cast<int>(std::floor(std::min({y0, y1, y2})));
    const int maxY = static_cast<int>(std::ceil(std::max({y0, y1, y2})));
    const float area = Edge(x0, y0, x1, y1, x2, y2);
    if (area == 0.0f) return;
    for (int y = minY; y <= maxY; ++y) {
        for (int x = minX; x <= maxX; ++x) {
            int inside = 0;
            for (int sy = 0; sy < 4; ++sy) {
                for (int sx = 0; sx < 4; ++sx) {
                    const float px = x + (sx + 0.5f) / 4.0f;
                    const float py = y + (sy + 0.5f) / 4.0f;
                    const float w0 = Edge(x1, y1, x2, y2, px, py) / area;
                    const float w1 = Edge(x2, y2, x0, y0, px, py) / area;
                    const float w2 = Edge(x0, y0, x1, y1, px, py) / area;
                    if (w0 >= 0.0f && w1 >= 0.0f && w2 >= 0.0f) ++inside;
                }
            }
            if (inside > 0) Blend(image, x, y, c, alpha * inside / 16.0f);
        }
    }
}

void Rectangle(Image& image, int left, int top, int right, int bottom, Rgb c, float alpha = 1.0f) {
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) Blend(image, x, y, c, alpha);
    }
}

void Disc(Image& image, float cx, float cy, float radius, Rgb c) {
    for (int y = static_cast<int>(cy - radius - 1); y <= static_cast<int>(cy + radius + 1); ++y) {
        for (int x = static_cast<int>(cx - radius - 1); x <= static_cast<int>(cx + radius + 1); ++x) {
            const float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy);
            Blend(image, x, y, c, std::clamp(radius - d + 0.5f, 0.0f, 1.0f));
        }
    }
}

// The height of the snowy ground at x: gentle rolling hills.
float GroundAt(float x) { return 590.0f + 18.0f * std::sin(x * 0.006f + 0.7f) + 9.0f * std::sin(x * 0.017f); }
float FarHillAt(float x) { return 500.0f + 30.0f * std::sin(x * 0.005f + 2.0f) + 14.0f * std::sin(x * 0.013f + 0.4f); }

void Fir(Image& image, float x, float base, float height, Rgb body, Rgb snow) {
    Rectangle(image, static_cast<int>(x - height * 0.04f), static_cast<int>(base - height * 0.12f),
              static_cast<int>(x + height * 0.04f) + 1, static_cast<int>(base), Rgb{40, 30, 30});
    for (int tier = 0; tier < 3; ++tier) {
        const float bottom = base - height * (0.1f + 0.28f * tier);
        const float top = bottom - height * 0.45f;
        const float half = height * (0.34f - 0.08f * tier);
        Triangle(image, x - half, bottom, x + half, bottom, x, top, body);
        // Snow on the upper part of each tier.
        Triangle(image, x - half * 0.45f, top + (bottom - top) * 0.45f, x + half * 0.45f,
                 top + (bottom - top) * 0.45f, x, top, snow, 0.85f);
    }
}

void House(Image& image, float left, float width, float wallHeight, Rgb wall, Random& random) {
    const float base = GroundAt(left + width * 0.5f) + 6.0f;
    const float top = base - wallHeight;
    const Rgb snow{214, 224, 244};
    Rectangle(image, static_cast<int>(left), static_cast<int>(top), static_cast<int>(left + width),
              static_cast<int>(base), wall);
    // Timber beams.
    for (float x = left + 6.0f; x < left + width - 4.0f; x += 22.0f) {
        Rectangle(image, static_cast<int>(x), static_cast<int>(top), static_cast<int>(x + 3), static_cast<int>(base),
                  Rgb{30, 24, 26});
    }
    // The roof and its snow.
    const float overhang = width * 0.08f;
    const float ridge = top - width * 0.45f;
    Triangle(image, left - overhang, top + 2, left + width + overhang, top + 2, left + width * 0.5f, ridge,
             Rgb{48, 40, 52});
    Triangle(image, left - overhang, top - 2, left + width + overhang, top - 2, left + width * 0.5f, ridge - 4,
             snow, 0.95f);
    // Warm windows with their glow.
    const int windows = std::max(1, static_cast<int>(width / 46.0f));
    for (int i = 0; i < windows; ++i) {
        const float wx = left + width * (i + 0.5f) / windows - 8.0f;
        const float wy = top + wallHeight * 0.3f;
        if (random.Unit() < 0.2f) {
            Rectangle(image, static_cast<int>(wx), static_cast<int>(wy), static_cast<int>(wx + 16),
                      static_cast<int>(wy + 20), Rgb{30, 30, 45});
            continue;
        }
        Glow(image, wx + 8, wy + 10, 46.0f, Rgb{255, 170, 80}, 0.35f);
        Rectangle(image, static_cast<int>(wx), static_cast<int>(wy), static_cast<int>(wx + 16),
                  static_cast<int>(wy + 20), Rgb{255, 206, 120});
        Rectangle(image, static_cast<int>(wx + 7), static_cast<int>(wy), static_cast<int>(wx + 9),
                  static_cast<int>(wy + 20), Rgb{70, 50, 40});
    }
}

void Lamp(Image& image, float x) {
    const float base = GroundAt(x) + 10.0f;
    Rectangle(image, static_cast<int>(x - 2), static_cast<int>(base - 90), static_cast<int>(x + 2),
              static_cast<int>(base), Rgb{25, 25, 32});
    Glow(image, x, base - 94, 90.0f, Rgb{255, 190, 110}, 0.45f);
    Disc(image, x, base - 94, 6.0f, Rgb{255, 236, 190});
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

    // Sky: deep blue at the top to a misty blue-grey at the horizon.
    const Rgb zenith{6, 10, 28};
    const Rgb horizon{52, 66, 104};
    for (int y = 0; y < image.height; ++y) {
        const Rgb c = Mix(zenith, horizon, std::min(1.0f, y / 520.0f));
        for (int x = 0; x < image.width; ++x) Blend(image, x, y, c, 1.0f);
    }
    for (int i = 0; i < 520; ++i) {
        const float x = random.Unit() * image.width;
        const float y = random.Unit() * 480.0f;
        const float bright = 0.25f + 0.75f * random.Unit() * random.Unit();
        Add(image, static_cast<int>(x), static_cast<int>(y), Rgb{255, 250, 235}, bright * (1.0f - y / 560.0f));
        if (bright > 0.8f) {
            for (int d : {-1, 1}) {
                Add(image, static_cast<int>(x) + d, static_cast<int>(y), Rgb{200, 210, 255}, 0.3f);
                Add(image, static_cast<int>(x), static_cast<int>(y) + d, Rgb{200, 210, 255}, 0.3f);
            }
        }
    }
    // The moon.
    Glow(image, 800.0f, 140.0f, 220.0f, Rgb{120, 140, 190}, 0.35f);
    Disc(image, 800.0f, 140.0f, 40.0f, Rgb{244, 242, 226});
    Disc(image, 788.0f, 130.0f, 7.0f, Rgb{222, 220, 205});
    Disc(image, 812.0f, 155.0f, 5.0f, Rgb{226, 224, 208});

    // Far hills with a forest on them.
    for (int x = 0; x < image.width; ++x) {
        const float top = FarHillAt(static_cast<float>(x));
        for (int y = static_cast<int>(top); y < image.height; ++y) {
            Blend(image, x, y, Mix(Rgb{96, 110, 148}, Rgb{60, 72, 104}, std::min(1.0f, (y - top) / 90.0f)), 1.0f);
        }
    }
    for (int i = 0; i < 70; ++i) {
        const float x = random.Unit() * image.width;
        Fir(image, x, FarHillAt(x) + 8.0f, 30.0f + 26.0f * random.Unit(), Rgb{28, 40, 56}, Rgb{120, 134, 170});
    }

    // The village.
    House(image, 90.0f, 150.0f, 78.0f, Rgb{92, 70, 62}, random);
    House(image, 300.0f, 110.0f, 66.0f, Rgb{120, 104, 92}, random);
    House(image, 470.0f, 190.0f, 92.0f, Rgb{86, 78, 86}, random);
    House(image, 740.0f, 130.0f, 74.0f, Rgb{110, 84, 70}, random);
    Lamp(image, 260.0f);
    Lamp(image, 690.0f);

    // Snowy ground in front, lit blue by the moon.
    for (int x = 0; x < image.width; ++x) {
        const float top = GroundAt(static_cast<float>(x));
        for (int y = static_cast<int>(top); y < image.height; ++y) {
            const float t = std::min(1.0f, (y - top) / 180.0f);
            Blend(image, x, y, Mix(Rgb{206, 216, 238}, Rgb{150, 162, 200}, t), 1.0f);
        }
    }
    Fir(image, 40.0f, GroundAt(40.0f) + 20.0f, 210.0f, Rgb{18, 34, 36}, Rgb{205, 216, 238});
    Fir(image, 960.0f, GroundAt(960.0f) + 24.0f, 240.0f, Rgb{18, 34, 36}, Rgb{205, 216, 238});
    Fir(image, 420.0f, GroundAt(420.0f) + 8.0f, 120.0f, Rgb{22, 38, 40}, Rgb{205, 216, 238});

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
