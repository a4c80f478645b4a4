// Pictures of drawing tests as PNG files, for a person to look at: an 8-bit RGB file from
// 0xAARRGGBB words, top row first (alpha dropped, as a screen shows it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rh::testing {

// False when the file cannot be written or the pixels do not fill width x height.
bool WritePngFile(const std::string& path, int width, int height, const std::vector<uint32_t>& argb);

// Reads an 8-bit RGB or RGBA file into 0xAARRGGBB words, top row first (alpha 0xFF for RGB).
// False for a file that cannot be read or has another layout.
bool ReadPngFile(const std::string& path, int* width, int* height, std::vector<uint32_t>* argb);

// The folder named by the environment variable, or empty when it is unset or empty: drawing
// tests write their pictures only when asked.
std::string PictureFolder(const char* variable);

// With the environment variable naming a folder, writes the picture there as NAME.png; a
// failed write is a test failure. Does nothing when the variable is unset or empty.
void SavePicture(const char* variable, const std::string& name, int width, int height,
                 const std::vector<uint32_t>& argb);

}  // namespace rh::testing
