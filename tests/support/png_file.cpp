#include "tests/support/png_file.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>

namespace rh::testing {

bool WritePngFile(const std::string& path, int width, int height, const std::vector<uint32_t>& argb) {
    if (width <= 0 || height <= 0 || argb.size() != size_t(width) * size_t(height)) return false;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    std::vector<png_byte> row(size_t(width) * 3);
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint32_t p = argb[size_t(y) * size_t(width) + size_t(x)];
                row[size_t(x) * 3] = png_byte(p >> 16);
                row[size_t(x) * 3 + 1] = png_byte(p >> 8);
                row[size_t(x) * 3 + 2] = png_byte(p);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    return std::fclose(file) == 0 && ok;
}

bool ReadPngFile(const std::string& path, int* width, int* height, std::vector<uint32_t>* argb) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    std::vector<png_byte> row;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        const int type = png_get_color_type(png, info);
        const int channels = type == PNG_COLOR_TYPE_RGB ? 3 : type == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 0;
        const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
        if (channels != 0 && png_get_bit_depth(png, info) == 8 && png_get_interlace_type(png, info) == PNG_INTERLACE_NONE &&
            w > 0 && h > 0 && w <= 16384 && h <= 16384) {
            row.resize(size_t(w) * size_t(channels));
            argb->assign(size_t(w) * size_t(h), 0);
            for (png_uint_32 y = 0; y < h; ++y) {
                png_read_row(png, row.data(), nullptr);
                for (png_uint_32 x = 0; x < w; ++x) {
                    const png_byte* p = &row[size_t(x) * size_t(channels)];
                    const uint32_t alpha = channels == 4 ? p[3] : 0xFFu;
                    (*argb)[size_t(y) * w + x] = alpha << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
                }
            }
            *width = int(w);
            *height = int(h);
            ok = true;
        }
    }
    png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    std::fclose(file);
    return ok;
}

std::string PictureFolder(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? std::string(value) : std::string();
}

void SavePicture(const char* variable, const std::string& name, int width, int height,
                 const std::vector<uint32_t>& argb) {
    const std::string folder = PictureFolder(variable);
    if (folder.empty()) return;
    const std::string path = folder + "/" + name + ".png";
    EXPECT_TRUE(WritePngFile(path, width, height, argb)) << "cannot write " << path;
}

}  // namespace rh::testing
