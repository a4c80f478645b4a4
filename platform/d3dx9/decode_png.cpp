// PNG files through libpng: every colour type and bit depth, palettes with transparency and
// interlaced pictures, delivered in the Direct3D byte order: colour as A8R8G8B8 (with alpha or
// a tRNS chunk) or X8R8G8B8, grey as L8, or A8L8 with alpha; 16-bit samples are scaled to 8
// bits rounding to nearest, 1-, 2- and 4-bit ones widened.
// Gamma and colour-space chunks are not applied: the samples are taken as they are stored.
//
// libpng reports errors by a long jump to the point set with setjmp.

#include "platform/d3dx9/image_local.h"

#include <algorithm>
#include <csetjmp>
#include <vector>

#include <png.h>

namespace rh::d3dx9 {
namespace {

struct PngJob {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    const DecodeLimits* limits;
    D3DXIMAGE_INFO* info;
    DecodedImage* image;
    std::vector<png_bytep> rows;
    HRESULT result = D3DXERR_INVALIDDATA;
};

void ReadBytes(png_structp png, png_bytep out, size_t length) {
    PngJob* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (length > job->size - job->at) png_error(png, "truncated");
    std::memcpy(out, job->data + job->at, length);
    job->at += length;
}

[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void OnWarning(png_structp, png_const_charp) {}

// A row of R, G, B (3 bytes) or R, G, B, A pixels as B, G, R, X (X = 0xFF) or B, G, R, A, in
// place: three-byte pixels are widened from the end of the row backwards.
void ToDirect3DOrder(uint8_t* row, uint32_t width, D3DFORMAT format) {
    if (format == D3DFMT_X8R8G8B8) {
        for (uint32_t x = width; x-- > 0;) {
            const uint8_t* p = row + 3 * size_t(x);
            const uint32_t v = 0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
            std::memcpy(row + 4 * size_t(x), &v, 4);
        }
    } else if (format == D3DFMT_A8R8G8B8) {
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t v;
            std::memcpy(&v, row + 4 * size_t(x), 4);
            v = (v & 0xFF00FF00u) | (v >> 16 & 0xFFu) | (v & 0xFFu) << 16;
            std::memcpy(row + 4 * size_t(x), &v, 4);
        }
    }
}

// Everything between setjmp and the last libpng call. Nothing in this frame has a destructor,
// so a jump back skips no clean-up; what needs freeing is in *job and the caller's structs.
bool Run(png_structp png, png_infop pngInfo, PngJob* job) {
    if (setjmp(png_jmpbuf(png))) return false;
    if (job->image != nullptr) {
        const uint32_t side = std::min(job->limits->maxSide, kLargestSide);
        png_set_user_limits(png, side, side);
    }
    png_set_read_fn(png, job, ReadBytes);
    png_read_info(png, pngInfo);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, pngInfo, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    const bool transparency = png_get_valid(png, pngInfo, PNG_INFO_tRNS) != 0;
    const bool wide = depth == 16;

    D3DFORMAT fileFormat = D3DFMT_UNKNOWN, format = D3DFMT_UNKNOWN;
    switch (colorType) {
        case PNG_COLOR_TYPE_PALETTE:
            fileFormat = D3DFMT_P8;
            format = transparency ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
            break;
        case PNG_COLOR_TYPE_GRAY:
            fileFormat = wide ? D3DFMT_L16 : D3DFMT_L8;
            format = transparency ? D3DFMT_A8L8 : D3DFMT_L8;
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            fileFormat = wide ? D3DFMT_A16B16G16R16 : D3DFMT_A8L8;
            format = D3DFMT_A8L8;
            break;
        case PNG_COLOR_TYPE_RGB:
            fileFormat = wide ? D3DFMT_A16B16G16R16 : D3DFMT_R8G8B8;
            format = transparency ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
            break;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            fileFormat = wide ? D3DFMT_A16B16G16R16 : D3DFMT_A8R8G8B8;
            format = D3DFMT_A8R8G8B8;
            break;
        default:
            return false;
    }
    *job->info = FlatInfo(width, height, fileFormat, D3DXIFF_PNG);
    if (job->image == nullptr) {
        job->result = S_OK;
        return true;
    }

    // Palettes, small grey samples and tRNS become 8-bit samples with alpha where there is
    // transparency. Colour comes as R, G, B (and A) at the start of each row and is put into
    // Direct3D's order afterwards (ToDirect3DOrder): one pass of ours is cheaper than libpng's
    // two transformations.
    png_set_expand(png);
    if (wide) png_set_scale_16(png);
    if (interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(png);
    png_read_update_info(png, pngInfo);

    if (!job->image->Allocate(*job->info, format, 1, 1)) {
        job->result = E_OUTOFMEMORY;
        return false;
    }
    const ImageLevel& out = job->image->Level(0, 0);
    const size_t samples = format == D3DFMT_X8R8G8B8 ? 3 : format == D3DFMT_A8R8G8B8 ? 4
                           : format == D3DFMT_A8L8   ? 2 : 1;
    if (png_get_rowbytes(png, pngInfo) != size_t(width) * samples) return false;
    if (interlace == PNG_INTERLACE_NONE) {
        // Each row reordered while it is still in the cache.
        for (png_uint_32 y = 0; y < height; ++y) {
            uint8_t* row = out.bits + size_t(y) * out.pitch;
            png_read_row(png, row, nullptr);
            ToDirect3DOrder(row, width, format);
        }
    } else {
        job->rows.resize(height);
        for (png_uint_32 y = 0; y < height; ++y) job->rows[y] = out.bits + size_t(y) * out.pitch;
        png_read_image(png, job->rows.data());
        for (png_uint_32 y = 0; y < height; ++y) ToDirect3DOrder(job->rows[y], width, format);
    }
    // Reads on to the end chunk, so that a file cut short after its pixels is caught.
    png_read_end(png, nullptr);
    job->result = S_OK;
    return true;
}

}  // namespace

HRESULT ReadPng(const uint8_t* data, size_t size, const DecodeLimits* limits,
                D3DXIMAGE_INFO* info, DecodedImage* image) {
    PngJob job{data, size, 0, limits, info, image, {}};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (png == nullptr) return E_OUTOFMEMORY;
    png_infop pngInfo = png_create_info_struct(png);
    if (pngInfo == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return E_OUTOFMEMORY;
    }
    if (!Run(png, pngInfo, &job) && job.result == S_OK) job.result = D3DXERR_INVALIDDATA;
    png_destroy_read_struct(&png, &pngInfo, nullptr);
    return job.result;
}

}  // namespace rh::d3dx9
