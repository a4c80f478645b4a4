#include "tools/fontbake/font_baker.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>

namespace rh::fontbake {

std::vector<FontLayout> SaverFonts() {
    // DejaVu Sans at 55 pixels keeps the clock's digits (35 px), colon and widest glyph inside
    // 64-pixel cells; at 11 pixels all of printable ASCII fits 16 x 14, descenders included.
    return {
        {"sylfaen.fs", "sylfaen14", 14, 11, 16, 14, 256, 128},
        {"64font.fs", "64font", 64, 55, 64, 64, 1024, 512},
    };
}

namespace {

// One rendered glyph: its coverage, where its ink starts, and its advance.
struct Glyph {
    int left = 0;  // ink's x relative to the pen position
    int top = 0;   // ink's top row above the baseline
    int width = 0;
    int rows = 0;
    int advance = 0;
    std::vector<uint8_t> coverage;
};

std::string Text(const char* what, int value) { return std::string(what) + " " + std::to_string(value); }

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void PngFlush(png_structp) {}

// Keeps libpng's messages out of the tool's output; errors unwind through setjmp.
void PngWarning(png_structp, png_const_charp) {}

}  // namespace

bool EncodePng(const std::vector<uint32_t>& pixels, int width, int height, std::vector<uint8_t>* out,
               std::string* error) {
    out->clear();
    if (width <= 0 || height <= 0 || pixels.size() != size_t(width) * size_t(height)) {
        *error = "picture size does not match its pixels";
        return false;
    }
    std::vector<uint8_t> rgba(pixels.size() * 4);
    for (size_t i = 0; i < pixels.size(); ++i) {
        rgba[i * 4 + 0] = uint8_t(pixels[i] >> 16);
        rgba[i * 4 + 1] = uint8_t(pixels[i] >> 8);
        rgba[i * 4 + 2] = uint8_t(pixels[i]);
        rgba[i * 4 + 3] = uint8_t(pixels[i] >> 24);
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, PngWarning);
    if (png == nullptr) {
        *error = "libpng: out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        *error = "libpng: encoding failed";
        return false;
    }
    png_set_write_fn(png, out, PngWrite, PngFlush);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, rgba.data() + size_t(y) * size_t(width) * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool BakeFont(const std::string& fontPath, const FontLayout& layout, BakedFont* out, std::string* error) {
    *out = BakedFont{};
    const int count = kEndChar - kStartChar;
    const int rows = (count + kCharsPerLine - 1) / kCharsPerLine;
    if (kCharsPerLine * layout.cellWidth > layout.pictureWidth || rows * layout.cellHeight > layout.pictureHeight) {
        *error = "the grid does not fit the picture";
        return false;
    }

    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        *error = "FreeType does not start";
        return false;
    }
    FT_Face face = nullptr;
    std::vector<Glyph> glyphs(size_t(count), Glyph{});
    bool ok = FT_New_Face(library, fontPath.c_str(), 0, &face) == 0;
    if (!ok) *error = "cannot read the font " + fontPath;
    if (ok && FT_Set_Pixel_Sizes(face, 0, FT_UInt(layout.pixelSize)) != 0) {
        *error = Text("the font has no pixel size", layout.pixelSize);
        ok = false;
    }
    for (int i = 0; ok && i < count; ++i) {
        if (FT_Load_Char(face, FT_ULong(kStartChar + i), FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) {
            *error = Text("FreeType cannot render code", kStartChar + i);
            ok = false;
            break;
        }
        const FT_GlyphSlot slot = face->glyph;
        Glyph& g = glyphs[size_t(i)];
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.width = int(slot->bitmap.width);
        g.rows = int(slot->bitmap.rows);
        g.advance = int((slot->advance.x + 32) >> 6);
        g.coverage.resize(size_t(g.width) * size_t(g.rows));
        for (int y = 0; y < g.rows; ++y) {
            const unsigned char* row = slot->bitmap.buffer + ptrdiff_t(y) * slot->bitmap.pitch;
            std::copy(row, row + g.width, g.coverage.begin() + ptrdiff_t(y) * g.width);
        }
    }
    if (face != nullptr) FT_Done_Face(face);
    FT_Done_FreeType(library);
    if (!ok) return false;

    // One baseline for every glyph, with the spare rows shared above and below the ink.
    int highest = INT_MIN;
    int lowest = INT_MAX;
    for (const Glyph& g : glyphs) {
        if (g.rows == 0 || g.width == 0) continue;
        highest = std::max(highest, g.top);
        lowest = std::min(lowest, g.top - g.rows);
    }
    if (highest == INT_MIN) {
        *error = "the font has no ink";
        return false;
    }
    if (highest - lowest > layout.cellHeight) {
        *error = Text("the ink is taller than the cell:", highest - lowest);
        return false;
    }
    const int baseline = highest + (layout.cellHeight - (highest - lowest)) / 2;

    out->pixels.assign(size_t(layout.pictureWidth) * size_t(layout.pictureHeight), 0x00FFFFFFu);
    for (int i = 0; i < count; ++i) {
        const Glyph& g = glyphs[size_t(i)];
        // Ink left of the pen moves right, so that all of it lies inside [0, width) of the
        // cell; the width is the advance widened to the ink's right edge.
        const int shift = g.width > 0 ? std::max(0, -g.left) : 0;
        const int inkLeft = g.width > 0 ? g.left + shift : 0;
        const int width = std::max(g.advance, inkLeft + g.width);
        if (width > layout.cellWidth || width > 255) {
            *error = Text("a glyph is wider than the cell: code", kStartChar + i);
            return false;
        }
        out->widths.push_back(width);
        const int cellX = (i % kCharsPerLine) * layout.cellWidth;
        const int cellY = (i / kCharsPerLine) * layout.cellHeight;
        for (int y = 0; y < g.rows; ++y) {
            for (int x = 0; x < g.width; ++x) {
                const uint32_t alpha = g.coverage[size_t(y) * size_t(g.width) + size_t(x)];
                const size_t at = size_t(cellY + baseline - g.top + y) * size_t(layout.pictureWidth) +
                                  size_t(cellX + inkLeft + x);
                out->pixels[at] = alpha << 24 | 0x00FFFFFFu;
            }
        }
    }

    std::string font = "// Made by the font baker from DejaVu Sans; do not edit.\n";
    font += "Styles[0].Size = " + std::to_string(layout.size) + ";\n";
    font += "Styles[0].Charsets = array(\"" + layout.charsetName + ".css\");\n";

    std::string charset = "// Made by the font baker from DejaVu Sans; do not edit.\n";
    charset += "Name = \"" + layout.charsetName + ".png\";\n";
    charset += "Format = \"D3DFMT_A8R8G8B8\";\n";
    charset += "CharsPerLine = " + std::to_string(kCharsPerLine) + ";\n";
    charset += "CharWidth = " + std::to_string(layout.cellWidth) + ";\n";
    charset += "CharHeight = " + std::to_string(layout.cellHeight) + ";\n";
    charset += "StartChar = " + std::to_string(kStartChar) + ";\n";
    charset += "EndChar = " + std::to_string(kEndChar) + ";\n";
    charset += "Sizes = array(";
    for (size_t i = 0; i < out->widths.size(); ++i) {
        if (i > 0) charset += i % 16 == 0 ? ",\n    " : ", ";
        charset += std::to_string(out->widths[i]);
    }
    charset += ");\n";

    std::vector<uint8_t> png;
    if (!EncodePng(out->pixels, layout.pictureWidth, layout.pictureHeight, &png, error)) return false;
    out->files.push_back({layout.fontFile, std::vector<uint8_t>(font.begin(), font.end())});
    out->files.push_back({layout.charsetName + ".css", std::vector<uint8_t>(charset.begin(), charset.end())});
    out->files.push_back({layout.charsetName + ".png", std::move(png)});
    return true;
}

bool BakeSaverFonts(const std::string& fontPath, const std::string& outDir, std::string* error) {
    for (const FontLayout& layout : SaverFonts()) {
        BakedFont baked;
        if (!BakeFont(fontPath, layout, &baked, error)) {
            *error = layout.fontFile + ": " + *error;
            return false;
        }
        for (const BakedFile& file : baked.files) {
            const std::string path = outDir + "/" + file.name;
            std::ofstream stream(path, std::ios::binary | std::ios::trunc);
            stream.write(reinterpret_cast<const char*>(file.bytes.data()), std::streamsize(file.bytes.size()));
            if (!stream.good()) {
                *error = "cannot write " + path;
                return false;
            }
        }
    }
    return true;
}

}  // namespace rh::fontbake
