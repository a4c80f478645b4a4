// The picture maker's drawing: the loading picture (the saver's village at night under the moon,
// drawn by the light-map baker's ray tracer, with falling snow and a "Loading..." line), the
// title picture with alpha, and the writers of the two file formats
// the saver's pictures come in. Everything is drawn from fixed seeds: the same fonts give the
// same bytes on every run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace picturemake {

// Straight (not premultiplied) 8-bit RGBA, top row first.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    Image(int w, int h) : width(w), height(h), rgba(static_cast<size_t>(w) * h * 4, 0) {}
    uint8_t* At(int x, int y) { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};

// Text drawn with FreeType from a font file; false when the font cannot be used.
class TextPainter {
public:
    explicit TextPainter(const std::string& fontPath);
    ~TextPainter();
    TextPainter(const TextPainter&) = delete;
    TextPainter& operator=(const TextPainter&) = delete;

    bool ok() const { return face_ != nullptr; }
    // The advance width of the text at the pixel size.
    int Measure(const std::string& text, int pixelSize);
    // Draws the text with its baseline at y, blending colour over the image by the glyphs'
    // coverage (alpha too: over a transparent image it makes the text's own alpha).
    void Draw(Image& image, const std::string& text, int x, int baseline, int pixelSize, const uint8_t color[4]);

private:
    void* library_ = nullptr;
    void* face_ = nullptr;
};

// 1024 x 768, opaque.
Image DrawLoadingPicture(TextPainter& regular);
// 256 x 128 with alpha: the program's name over a transparent ground.
Image DrawTitlePicture(TextPainter& regular, TextPainter& bold);

// Baseline JPEG (quality 90, 4:2:0, no optimised tables), the alpha dropped.
bool WriteJpeg(const Image& image, const std::string& path);
// Uncompressed 32-bit TGA, bottom row first, 8 alpha bits.
bool WriteTga(const Image& image, const std::string& path);

}  // namespace picturemake
