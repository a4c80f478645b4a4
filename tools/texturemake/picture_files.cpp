#include "tools/texturemake/picture_files.h"

#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace rh::texturemake {

namespace {

void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

// libjpeg reports errors by calling error_exit, which must not return.
struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    longjmp(error->jump, 1);
}

}  // namespace

bool EncodePng(const Picture& picture, std::vector<uint8_t>* out, std::string* error) {
    out->clear();
    if (picture.width <= 0 || picture.height <= 0) return *error = "empty picture", false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return *error = "libpng could not start", false;
    }
    std::vector<png_const_bytep> rows(size_t(picture.height));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return *error = "libpng failed", false;
    }
    png_set_write_fn(png, out, &AppendPngBytes, &FlushNothing);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, png_uint_32(picture.width), png_uint_32(picture.height), 8, PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    for (int y = 0; y < picture.height; ++y) rows[size_t(y)] = &picture.rgba[size_t(y) * size_t(picture.width) * 4];
    png_set_rows(png, info, const_cast<png_bytepp>(rows.data()));
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool EncodeJpeg(const Picture& picture, int quality, std::vector<uint8_t>* out, std::string* error) {
    out->clear();
    if (picture.width <= 0 || picture.height <= 0) return *error = "empty picture", false;
    std::vector<uint8_t> row(size_t(picture.width) * 3);
    jpeg_compress_struct info{};
    JpegError jerr{};
    info.err = jpeg_std_error(&jerr.manager);
    jerr.manager.error_exit = &JpegErrorExit;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(jerr.jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return *error = std::string("libjpeg: ") + jerr.message, false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(picture.width);
    info.image_height = JDIMENSION(picture.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        const uint8_t* source = &picture.rgba[size_t(info.next_scanline) * size_t(picture.width) * 4];
        for (int x = 0; x < picture.width; ++x) {
            row[size_t(x) * 3 + 0] = source[x * 4 + 0];
            row[size_t(x) * 3 + 1] = source[x * 4 + 1];
            row[size_t(x) * 3 + 2] = source[x * 4 + 2];
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    out->assign(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return true;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    std::error_code ec;
    const std::filesystem::path target(path);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
    if (ec) return *error = target.parent_path().string() + ": " + ec.message(), false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) return *error = "cannot write " + path, false;
    return true;
}

}  // namespace rh::texturemake
