// Picture decoding of our D3DX against the libraries' own plain loops, on the same files in the
// same run: JPEG through DecodeImage against a plain libjpeg loop (default settings, RGB out),
// PNG against a plain libpng loop (no transformations), and our software DXT decoder against
// Debian's libsquish. The files are made here from a synthetic picture (smooth gradients,
// edges and noise), 1024x1024. Each pair allocates its output as it goes, as a loader must.
//
// Compare the pairs with repetitions, interleaved; Debian's libsquish decodes with OpenMP
// threads, so OMP_NUM_THREADS=1 makes that pair one thread against one:
//   OMP_NUM_THREADS=1 rh_texture_bench --benchmark_repetitions=7
//       --benchmark_enable_random_interleaving=true   (one command line)
//
// WholeLoad: a whole D3DXCreateTextureFromFileInMemoryEx of the 1024x1024 baseline JPEG with a
// BOX mip chain on a device of the layer, against the raw GL way in a context of its own:
// libjpeg's plain loop, glTexImage2D and glGenerateMipmap; each ends when GL has the texture
// (a one-texel read back) and deletes it. WholeLoad/ratio interleaves the two (reps rounds of
// loads each, the order swapped every round) and reports the ratio ours / raw of the rounds'
// mean times, median, least and greatest, and the same of processor time (all threads):
//   rh_texture_bench --benchmark_filter=WholeLoad
#include <benchmark/benchmark.h>

#include "bench/bench_device.h"
#include "bench/raw_gl.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/d3dx9/image_decode.h"
#include "platform/d3dx9/pixel_formats.h"

#include <d3dx9.h>
#include <windows.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <squish.h>

namespace {

constexpr int kSide = 1024;

// RGBA, row by row.
std::vector<uint8_t> Picture() {
    std::vector<uint8_t> out(size_t(kSide) * kSide * 4);
    uint32_t noise = 12345;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            noise = noise * 1664525u + 1013904223u;
            uint8_t* p = &out[(size_t(y) * kSide + x) * 4];
            const int n = int(noise >> 28) - 8;
            const bool edge = ((x / 97) + (y / 61)) % 2 == 0;
            p[0] = uint8_t(std::clamp(x / 4 + n + (edge ? 40 : 0), 0, 255));
            p[1] = uint8_t(std::clamp(y / 4 + n, 0, 255));
            p[2] = uint8_t(std::clamp((x + y) / 8 + n + (edge ? 0 : 60), 0, 255));
            p[3] = uint8_t(std::clamp(255 - (x ^ y) / 8 + n, 0, 255));
        }
    }
    return out;
}

std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgba, bool progressive) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kSide;
    cinfo.image_height = kSide;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(kSide * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* in = &rgba[size_t(cinfo.next_scanline) * kSide * 4];
        for (int x = 0; x < kSide; ++x) std::memcpy(&row[x * 3], in + x * 4, 3);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

void AppendPng(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void FlushPng(png_structp) {}

std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& rgba, bool alpha) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendPng, FlushPng);
    png_set_IHDR(png, info, kSide, kSide, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);  // drops the fourth byte
    for (int y = 0; y < kSide; ++y) png_write_row(png, &rgba[size_t(y) * kSide * 4]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<uint8_t> EncodeDxt(const std::vector<uint8_t>& rgba, int flags) {
    std::vector<uint8_t> out(size_t(squish::GetStorageRequirements(kSide, kSide, flags)));
    squish::CompressImage(rgba.data(), kSide, kSide, out.data(), flags | squish::kColourRangeFit);
    return out;
}

struct Files {
    std::vector<uint8_t> jpegBaseline, jpegProgressive, pngRgba, pngRgb, dxt1, dxt5;
};

const Files& TheFiles() {
    static const Files files = [] {
        const std::vector<uint8_t> picture = Picture();
        return Files{EncodeJpeg(picture, false), EncodeJpeg(picture, true), EncodePng(picture, true),
                     EncodePng(picture, false), EncodeDxt(picture, squish::kDxt1),
                     EncodeDxt(picture, squish::kDxt5)};
    }();
    return files;
}

const std::vector<uint8_t>& FileOf(int which) {
    const Files& f = TheFiles();
    const std::vector<uint8_t>* all[] = {&f.jpegBaseline, &f.jpegProgressive, &f.pngRgba, &f.pngRgb};
    return *all[which];
}

// ---------------------------------------------------------------------------------------------

void Ours(benchmark::State& state) {
    const std::vector<uint8_t>& file = FileOf(int(state.range(0)));
    for (auto _ : state) {
        rh::d3dx9::DecodedImage image;
        if (rh::d3dx9::DecodeImage(file.data(), file.size(), rh::d3dx9::DecodeLimits{}, &image) != S_OK) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(image.data());
    }
}

struct JumpingErrors {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void PlainJpeg(benchmark::State& state) {
    const std::vector<uint8_t>& file = FileOf(int(state.range(0)));
    for (auto _ : state) {
        jpeg_decompress_struct cinfo{};
        JumpingErrors errors{};
        cinfo.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JumpingErrors*>(c->err)->jump, 1); };
        if (setjmp(errors.jump)) {
            state.SkipWithError("libjpeg failed");
            jpeg_destroy_decompress(&cinfo);
            break;
        }
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, file.data(), file.size());
        jpeg_read_header(&cinfo, TRUE);
        jpeg_start_decompress(&cinfo);
        const size_t pitch = size_t(cinfo.output_width) * cinfo.output_components;
        std::vector<uint8_t> pixels(pitch * cinfo.output_height);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW rows[1] = {pixels.data() + cinfo.output_scanline * pitch};
            jpeg_read_scanlines(&cinfo, rows, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(pixels.data());
    }
}

struct Source {
    const uint8_t* data;
    size_t at;
};

void PlainPng(benchmark::State& state) {
    const std::vector<uint8_t>& file = FileOf(int(state.range(0)));
    for (auto _ : state) {
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        Source source{file.data(), 0};
        png_set_read_fn(png, &source, [](png_structp p, png_bytep out, size_t n) {
            auto* s = static_cast<Source*>(png_get_io_ptr(p));
            std::memcpy(out, s->data + s->at, n);
            s->at += n;
        });
        if (setjmp(png_jmpbuf(png))) {
            state.SkipWithError("libpng failed");
            png_destroy_read_struct(&png, &info, nullptr);
            break;
        }
        png_read_info(png, info);
        const size_t pitch = png_get_rowbytes(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        std::vector<uint8_t> pixels(pitch * height);
        std::vector<png_bytep> rows(height);
        for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + y * pitch;
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        benchmark::DoNotOptimize(pixels.data());
    }
}

// range(0): 1 for DXT1, 5 for DXT5.
void OursDxt(benchmark::State& state) {
    const bool dxt1 = state.range(0) == 1;
    const std::vector<uint8_t>& blocks = dxt1 ? TheFiles().dxt1 : TheFiles().dxt5;
    std::vector<uint8_t> pixels(size_t(kSide) * kSide * 4);
    const D3DFORMAT format = dxt1 ? D3DFMT_DXT1 : D3DFMT_DXT5;
    for (auto _ : state) {
        rh::d3dx9::DecodeDxt(format, blocks.data(), rh::d3dx9::RowPitch(format, kSide), kSide, kSide, pixels.data(),
                             kSide * 4);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
}

void Squish(benchmark::State& state) {
    const bool dxt1 = state.range(0) == 1;
    const std::vector<uint8_t>& blocks = dxt1 ? TheFiles().dxt1 : TheFiles().dxt5;
    std::vector<uint8_t> pixels(size_t(kSide) * kSide * 4);
    for (auto _ : state) {
        squish::DecompressImage(pixels.data(), kSide, kSide, blocks.data(), dxt1 ? squish::kDxt1 : squish::kDxt5);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
}

// ---- Whole loads ----

// Loads through D3DX onto a device of the layer.
struct OurLoader : bench::BenchDevice {
    OurLoader() : BenchDevice("TextureBench", 64, 64, false) {}
    bool ok() const { return device != nullptr; }

    bool Load(const std::vector<uint8_t>& file) {
        IDirect3DTexture9* texture = nullptr;
        if (D3DXCreateTextureFromFileInMemoryEx(device, file.data(), static_cast<UINT>(file.size()), D3DX_DEFAULT,
                                                D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                D3DX_DEFAULT, D3DX_FILTER_BOX, 0, nullptr, nullptr,
                                                &texture) != D3D_OK) {
            return false;
        }
        // GL has every level once the last one reads back.
        std::vector<DWORD> last;
        bool read = rh::d3d9::testing::ReadTextureLevel(texture, 0, texture->GetLevelCount() - 1, &last);
        texture->Release();
        return read;
    }
};

// The raw GL way in a context of its own.
struct RawLoader {
#define RH_RAW_GL(X)                                                                                         \
    X(void, GenTextures, (GLsizei, GLuint*))                                                                 \
    X(void, DeleteTextures, (GLsizei, const GLuint*))                                                        \
    X(void, BindTexture, (GLenum, GLuint))                                                                   \
    X(void, PixelStorei, (GLenum, GLint))                                                                    \
    X(void, TexImage2D, (GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*))        \
    X(void, GenerateMipmap, (GLenum))                                                                        \
    X(void, GetTexImage, (GLenum, GLint, GLenum, GLenum, void*))
#define RH_RAW_MEMBER(ret, name, params) ret(APIENTRY* name) params = nullptr;
    RH_RAW_GL(RH_RAW_MEMBER)
#undef RH_RAW_MEMBER
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    bool loaded = false;

    RawLoader() {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        SDL_InitSubSystem(SDL_INIT_VIDEO);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        window = SDL_CreateWindow("raw", 0, 0, 64, 64, SDL_WINDOW_OPENGL);
        if (window == nullptr) return;
        context = SDL_GL_CreateContext(window);
        if (context == nullptr) return;
        loaded = true;
#define RH_RAW_LOAD(ret, name, params)                                                  \
    name = reinterpret_cast<decltype(name)>(SDL_GL_GetProcAddress("gl" #name));         \
    loaded = loaded && name != nullptr;
        RH_RAW_GL(RH_RAW_LOAD)
#undef RH_RAW_LOAD
    }
    ~RawLoader() {
        if (context != nullptr) SDL_GL_DeleteContext(context);
        if (window != nullptr) SDL_DestroyWindow(window);
    }
    bool ok() const { return loaded; }
    void MakeCurrent() { SDL_GL_MakeCurrent(window, context); }

    bool Load(const std::vector<uint8_t>& file) {
        jpeg_decompress_struct cinfo{};
        JumpingErrors errors{};
        cinfo.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JumpingErrors*>(c->err)->jump, 1); };
        if (setjmp(errors.jump)) {
            jpeg_destroy_decompress(&cinfo);
            return false;
        }
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, file.data(), file.size());
        jpeg_read_header(&cinfo, TRUE);
        jpeg_start_decompress(&cinfo);
        const size_t pitch = size_t(cinfo.output_width) * cinfo.output_components;
        std::vector<uint8_t> pixels(pitch * cinfo.output_height);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW rows[1] = {pixels.data() + cinfo.output_scanline * pitch};
            jpeg_read_scanlines(&cinfo, rows, 1);
        }
        const auto width = static_cast<GLsizei>(cinfo.output_width);
        const auto height = static_cast<GLsizei>(cinfo.output_height);
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        GLuint texture = 0;
        GenTextures(1, &texture);
        BindTexture(GL_TEXTURE_2D, texture);
        PixelStorei(GL_UNPACK_ALIGNMENT, 1);
        TexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        GenerateMipmap(GL_TEXTURE_2D);
        GLubyte last[4];
        GetTexImage(GL_TEXTURE_2D, 10, GL_RGBA, GL_UNSIGNED_BYTE, last);
        DeleteTextures(1, &texture);
        return true;
    }
};

struct LoadTimes {
    double wallMs = 0.0;
    double processMs = 0.0;
};

template <typename Loader>
LoadTimes TimeLoads(Loader& loader, int loads, bool* ok) {
    const std::vector<uint8_t>& file = TheFiles().jpegBaseline;
    const double processStart = bench::ProcessMs();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < loads; ++i) *ok = loader.Load(file) && *ok;
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return LoadTimes{took.count() / loads, (bench::ProcessMs() - processStart) / loads};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// range(0): 0 ours, 1 raw.
void WholeLoad(benchmark::State& state) {
    OurLoader ours;
    RawLoader raw;
    if (!ours.ok() || !raw.ok()) {
        state.SkipWithError("no device or no GL context");
        return;
    }
    bool ok = true;
    TheFiles();  // made before the clock runs
    for (auto _ : state) {
        if (state.range(0) == 0) {
            ok = ours.Load(TheFiles().jpegBaseline) && ok;
        } else {
            raw.MakeCurrent();
            ok = raw.Load(TheFiles().jpegBaseline) && ok;
        }
    }
    if (!ok) state.SkipWithError("a load failed");
}

void WholeLoadRatio(benchmark::State& state) {
    const int reps = static_cast<int>(state.range(0));
    const int loads = static_cast<int>(state.range(1));
    OurLoader ours;
    RawLoader raw;
    if (!ours.ok() || !raw.ok()) {
        state.SkipWithError("no device or no GL context");
        return;
    }
    bool ok = true;
    std::vector<double> ratios, processRatios, oursMs, rawMs;
    for (auto _ : state) {
        TimeLoads(ours, 2, &ok);  // both warm
        raw.MakeCurrent();
        TimeLoads(raw, 2, &ok);
        for (int rep = 0; rep < reps; ++rep) {
            LoadTimes o;
            LoadTimes r;
            if (rep % 2 == 0) {
                o = TimeLoads(ours, loads, &ok);
                raw.MakeCurrent();
                r = TimeLoads(raw, loads, &ok);
            } else {
                raw.MakeCurrent();
                r = TimeLoads(raw, loads, &ok);
                o = TimeLoads(ours, loads, &ok);
            }
            oursMs.push_back(o.wallMs);
            rawMs.push_back(r.wallMs);
            ratios.push_back(o.wallMs / r.wallMs);
            processRatios.push_back(o.processMs / r.processMs);
        }
    }
    if (!ok) {
        state.SkipWithError("a load failed");
        return;
    }
    state.counters["ratio_median"] = Median(ratios);
    state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
    state.counters["cpu_ratio_median"] = Median(processRatios);
    state.counters["cpu_ratio_min"] = *std::min_element(processRatios.begin(), processRatios.end());
    state.counters["cpu_ratio_max"] = *std::max_element(processRatios.begin(), processRatios.end());
    state.counters["ours_ms"] = Median(oursMs);
    state.counters["raw_ms"] = Median(rawMs);
}

// Files: 0 baseline JPEG (4:2:0, quality 90), 1 progressive JPEG, 2 RGBA PNG, 3 RGB PNG.
BENCHMARK(Ours)->Name("Jpeg/ours")->ArgName("file")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainJpeg)->Name("Jpeg/libjpeg")->ArgName("file")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Ours)->Name("Png/ours")->ArgName("file")->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainPng)->Name("Png/libpng")->ArgName("file")->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(OursDxt)->Name("Dxt/ours")->ArgName("dxt")->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(Squish)->Name("Dxt/squish")->ArgName("dxt")->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeLoad)->Name("WholeLoad/ours")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeLoad)->Name("WholeLoad/raw")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeLoadRatio)->Name("WholeLoad/ratio")->ArgNames({"reps", "loads"})->Args({9, 4})->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
