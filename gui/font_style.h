// The text style a font is chosen and glyphs are drawn with: the key of the font manager's style
// map (by size) and the colours and spacing of rich text. A plain value, copied as a whole.
#pragma once

#include "core/text/wide_string.h"
#include "core/types/argb_color.h"

#include <cstdint>

constexpr int32_t kFontBold = 1;
constexpr int32_t kFontItalic = 2;

struct FontStyle {
    int32_t size = 14;    // the font size in the font description file
    int32_t flags = 0;    // kFontBold, kFontItalic
    float scale = 1.0f;   // drawing scale of the glyphs
    int32_t charSpacing = 0;  // extra pixels between characters
    int32_t rowSpacing = 0;   // extra pixels between rows
    ArgbColor color{1.0f, 1.0f, 1.0f, 1.0f};
    ArgbColor background{1.0f, 0.0f, 0.0f, 0.0f};  // opaque black
    WideString fontName;
};
