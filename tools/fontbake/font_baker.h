// The font baker: renders printable ASCII of a TrueType font with FreeType into a grid of
// glyph cells and writes the font and charset description files the engine's font manager
// reads. Glyphs are white with a soft dark outline around them, both in the picture's colour
// and alpha: the engine draws text as picture x text colour, so a white clock keeps a dark rim
// that reads over bright snow. The same font file gives the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rh::fontbake {

// One baked font: a font description with one style of `size` and one charset.
struct FontLayout {
    std::string fontFile;     // the font description's file name, "sylfaen.fs"
    std::string charsetName;  // stem of the charset file and its picture, "sylfaen14"
    int size = 14;            // the style's size
    int pixelSize = 11;       // FreeType's pixel size of the em
    int cellWidth = 16;
    int cellHeight = 14;
    int pictureWidth = 256;   // powers of two, so that picture and texture sizes agree
    int pictureHeight = 128;
    // The outline around the ink: full strength up to `outlineInner` pixels from it, fading to
    // nothing at `outlineOuter`; 0 for none. Glyphs keep this much room from their cell's sides.
    float outlineInner = 0.0f;
    float outlineOuter = 0.0f;
};

// The outline's colour (0xRRGGBB) and its opacity at full strength.
constexpr uint32_t kOutlineColour = 0x0A0C14;
constexpr float kOutlineOpacity = 0.85f;

constexpr int kCharsPerLine = 16;
constexpr int kStartChar = 32;
constexpr int kEndChar = 127;  // one past the last glyph: the end code gets no cell

// The two fonts of the saver: labels at 14 and the clock at 64.
std::vector<FontLayout> SaverFonts();

struct BakedFile {
    std::string name;
    std::vector<uint8_t> bytes;
};

// The glyphs of one baked font, for checks: pixels are 0xAARRGGBB, top row first.
struct BakedFont {
    std::vector<BakedFile> files;  // the font description, the charset, the picture
    std::vector<int> widths;       // by code - kStartChar
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> ink;      // FreeType's coverage alone, where the pixels are
};

// Renders the font at `fontPath` as `layout` says. Fails with a message when FreeType cannot
// read the font, or when a glyph's ink does not fit its cell or the grid its picture.
bool BakeFont(const std::string& fontPath, const FontLayout& layout, BakedFont* out, std::string* error);

// A deterministic PNG (8-bit RGBA, no time or text chunks) of 0xAARRGGBB pixels.
bool EncodePng(const std::vector<uint32_t>& pixels, int width, int height, std::vector<uint8_t>* out,
               std::string* error);

// Bakes every font of SaverFonts into the folder `outDir` (which must exist).
bool BakeSaverFonts(const std::string& fontPath, const std::string& outDir, std::string* error);

}  // namespace rh::fontbake
