#include "tools/fontbake/font_baker.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace rh::fontbake {

std::vector<FontLayout> SaverFonts() {
    // DejaVu Sans at 55 pixels keeps the clock's digits (35 px), colon and widest glyph inside
    // 64-pixel cells; at 11 pixels all of printable ASCII fits 16 x 14, descenders included.
    // The clock's outline is about three pixels wide, the labels' one; a glyph reaching its
    // cell's top or bottom loses that side's rim there.
    return {
        {"sylfaen.fs", "sylfaen14", 14, 11, 16, 14, 256, 128, 0.6f, 1.8f},
        {"64font.fs", "64font", 64, 55, 64, 64, 1024, 512, 2.0f, 4.5f},
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

// The rim's reach from the ink in whole pixels: offsets below `outer` get some of it.
int OutlinePad(const FontLayout& layout) {
    return layout.outlineOuter > 0.0f ? int(std::ceil(layout.outlineOuter)) - 1 : 0;
}

// One glyph's cell of `width` x `height` pixels from its coverage: white where the ink is, the
// outline's colour around it, alpha from both (the ink laid over the rim).
void ComposeCell(const std::vector<uint8_t>& coverage, int width, int height, const FontLayout& layout,
                 std::vector<uint32_t>* cell) {
    cell->assign(coverage.size(), kOutlineColour);
    const int pad = OutlinePad(layout);
    const float inner = layout.outlineInner, outer = layout.outlineOuter;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float ink = float(coverage[size_t(y) * size_t(width) + size_t(x)]) / 255.0f;
            // The rim: the strongest neighbour's ink, weighed by its distance.
            float rim = 0.0f;
            for (int dy = -pad; dy <= pad; ++dy) {
                for (int dx = -pad; dx <= pad; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
                    const float d = std::sqrt(float(dx * dx + dy * dy));
                    if (d >= outer) continue;
                    const float weight = d <= inner ? 1.0f : (outer - d) / (outer - inner);
                    rim = std::max(rim, weight * float(coverage[size_t(ny) * size_t(width) + size_t(nx)]) / 255.0f);
                }
            }
            const float under = kOutlineOpacity * rim * (1.0f - ink);
            const float alpha = ink + under;
            if (alpha <= 0.0f) continue;
            // Straight (not premultiplied) colour: the share of white in what covers the texel.
            const float white = ink / alpha;
            auto mix = [&](int shift) {
                const float dark = float((kOutlineColour >> shift) & 0xFF);
                return uint32_t(std::lround(dark + (255.0f - dark) * white)) << shift;
            };
            (*cell)[size_t(y) * size_t(width) + size_t(x)] =
                uint32_t(std::lround(255.0f * alpha)) << 24 | mix(16) | mix(8) | mix(0);
        }
    }
}

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

    // Transparent texels take the outline's colour, so that filtering at the rim's edge does
    // not lighten it.
    const int pad = OutlinePad(layout);
    out->pixels.assign(size_t(layout.pictureWidth) * size_t(layout.pictureHeight), kOutlineColour);
    out->ink.assign(out->pixels.size(), 0);
    // Ink starts at least the rim's reach from the cell's left and the width ends at least that
    // far past its right, so that the outline lies inside [0, width) of the cell; the width is
    // otherwise the advance. The digits keep one width, so that a ticking clock does not shift:
    // each takes the widest one's, its ink centred in the extra room.
    std::vector<int> inkLefts(size_t(count), 0), widths(size_t(count), 0);
    int digitWidth = 0;
    for (int i = 0; i < count; ++i) {
        const Glyph& g = glyphs[size_t(i)];
        inkLefts[size_t(i)] = g.width > 0 ? std::max(g.left, pad) : 0;
        widths[size_t(i)] = std::max(g.advance, g.width > 0 ? inkLefts[size_t(i)] + g.width + pad : 0);
        if (kStartChar + i >= '0' && kStartChar + i <= '9') digitWidth = std::max(digitWidth, widths[size_t(i)]);
    }
    for (int i = '0' - kStartChar; i <= '9' - kStartChar; ++i) {
        inkLefts[size_t(i)] += (digitWidth - widths[size_t(i)]) / 2;
        widths[size_t(i)] = digitWidth;
    }
    std::vector<uint8_t> coverage;
    std::vector<uint32_t> cell;
    for (int i = 0; i < count; ++i) {
        const Glyph& g = glyphs[size_t(i)];
        const int inkLeft = inkLefts[size_t(i)], width = widths[size_t(i)];
        if (width > layout.cellWidth || width > 255) {
            *error = Text("a glyph is wider than the cell: code", kStartChar + i);
            return false;
        }
        out->widths.push_back(width);
        coverage.assign(size_t(width) * size_t(layout.cellHeight), 0);
        for (int y = 0; y < g.rows; ++y) {
            for (int x = 0; x < g.width; ++x) {
                coverage[size_t(baseline - g.top + y) * size_t(width) + size_t(inkLeft + x)] =
                    g.coverage[size_t(y) * size_t(g.width) + size_t(x)];
            }
        }
        ComposeCell(coverage, width, layout.cellHeight, layout, &cell);
        const int cellX = (i % kCharsPerLine) * layout.cellWidth;
        const int cellY = (i / kCharsPerLine) * layout.cellHeight;
        for (int y = 0; y < layout.cellHeight; ++y) {
            for (int x = 0; x < width; ++x) {
                const size_t at = size_t(cellY + y) * size_t(layout.pictureWidth) + size_t(cellX + x);
                out->pixels[at] = cell[size_t(y) * size_t(width) + size_t(x)];
                out->ink[at] = coverage[size_t(y) * size_t(width) + size_t(x)];
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
