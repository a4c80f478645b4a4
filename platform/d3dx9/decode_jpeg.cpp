// JPEG files through libjpeg, with its default decoding settings (the accurate integer DCT,
// smooth upsampling): grey pictures become L8, colour ones X8R8G8B8, written by libjpeg
// straight into the Direct3D byte order. CMYK pictures are not read.
//
// libjpeg's default error handler ends the process, so ours jumps back to the decoder; its
// warnings (a truncated file is one: libjpeg pads it with an end marker and goes on) count as
// damage too, and stop the decoding at once.

#include "platform/d3dx9/image_local.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace rh::d3dx9 {
namespace {

// Far more scans than any encoder writes. Each scan walks the whole picture, so a small file
// of many empty scans would otherwise take very long.
constexpr int kMaxScans = 500;

struct JpegErrors {
    jpeg_error_mgr manager;  // first, so that cinfo->err points at the whole record
    jmp_buf jump;
};

[[noreturn]] void Fail(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
    if (level < 0) Fail(cinfo);  // a warning: the data is damaged
}

void OnOutput(j_common_ptr) {}

void OnProgress(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) Fail(cinfo);
}

struct JpegJob {
    const uint8_t* data;
    size_t size;
    const DecodeLimits* limits;
    D3DXIMAGE_INFO* info;
    DecodedImage* image;
    HRESULT result = D3DXERR_INVALIDDATA;
};

// Everything between setjmp and the last libjpeg call. Nothing in this frame has a
// destructor, so a jump back skips no clean-up; the caller destroys the decompressor.
bool Run(jpeg_decompress_struct* cinfo, JpegErrors* errors, JpegJob* job) {
    if (setjmp(errors->jump)) return false;
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
    jpeg_read_header(cinfo, TRUE);

    const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
    if (!grey && cinfo->jpeg_color_space != JCS_YCbCr && cinfo->jpeg_color_space != JCS_RGB) {
        return false;
    }
    const D3DFORMAT format = grey ? D3DFMT_L8 : D3DFMT_X8R8G8B8;
    *job->info = FlatInfo(cinfo->image_width, cinfo->image_height, format, D3DXIFF_JPG);
    if (job->image == nullptr) {
        job->result = S_OK;
        return true;
    }
    if (!WithinLimits(*job->limits, cinfo->image_width, cinfo->image_height)) return false;

    // Multi-scan pictures keep every coefficient (2 bytes each, a few per pixel and
    // component) until the last scan; nothing else comes near that.
    cinfo->mem->max_memory_to_use =
        long(uint64_t{cinfo->image_width} * cinfo->image_height * 16 + (16u << 20));
    // JCS_EXT_BGRA rather than BGRX: its fourth byte is always 0xFF.
    cinfo->out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGRA;
    jpeg_start_decompress(cinfo);
    if (!job->image->Allocate(*job->info, format, 1, 1)) {
        job->result = E_OUTOFMEMORY;
        return false;
    }
    const ImageLevel& out = job->image->Level(0, 0);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW rows[8];
        const JDIMENSION first = cinfo->output_scanline;
        JDIMENSION count = cinfo->output_height - first;
        if (count > 8) count = 8;
        for (JDIMENSION i = 0; i < count; ++i) rows[i] = out.bits + size_t(first + i) * out.pitch;
        jpeg_read_scanlines(cinfo, rows, count);
    }
    // Reads on to the end marker, so that a file cut short after its last scan is caught.
    jpeg_finish_decompress(cinfo);
    job->result = S_OK;
    return true;
}

}  // namespace

HRESULT ReadJpeg(const uint8_t* data, size_t size, const DecodeLimits* limits,
                 D3DXIMAGE_INFO* info, DecodedImage* image) {
    JpegJob job{data, size, limits, info, image};
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = Fail;
    errors.manager.emit_message = OnMessage;
    errors.manager.output_message = OnOutput;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = OnProgress;
    cinfo.progress = &progress;
    if (!Run(&cinfo, &errors, &job) && job.result == S_OK) job.result = D3DXERR_INVALIDDATA;
    jpeg_destroy_decompress(&cinfo);
    return job.result;
}

}  // namespace rh::d3dx9
