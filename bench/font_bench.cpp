// Loading the saver's two baked fonts through the font manager (font and charset files parsed,
// both pictures decoded and made into textures on a device of our layer, the grids laid out,
// everything freed again) against what a program that reads the same fonts itself would at
// least do: read the four description files and decode the two pictures with a plain libpng
// loop (no transformations), freeing the pixels again.
//
// FontLoad/ratio interleaves the two (reps rounds of `loads` loads each, the order swapped every
// round) and reports ours / peer of the rounds' mean times, median, least and greatest, and the
// same of processor time (all threads):
//   rh_font_bench --benchmark_filter=ratio
#include <benchmark/benchmark.h>

#include "bench/raw_gl.h"

#include "gui/font_manager.h"
#include "render/texture_registry.h"
#include "tests/render/support/device_app.h"

#include <png.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string kFontDir = std::string(RIMEHOLT_MEDIA_DIR) + "/Media/Fonts";

// Ours: both fonts through a fresh manager, then the pictures taken out of the registry and
// deleted, so that every load decodes them again.
bool OurLoad() {
    std::vector<Texture*> textures;
    bool ok = true;
    {
        FontManager fonts;
        fonts.Paths().Add(FileRef(kFontDir.c_str()));
        ok = fonts.LoadFont(FileRef("sylfaen.fs")).Succeeded() && ok;
        ok = fonts.LoadFont(FileRef("64font.fs")).Succeeded() && ok;
        const FontManager::StyleMap& styles = fonts.Styles();
        const FontManager::StyleMap::Node* node = styles.first();
        for (int32_t i = 0; i < styles.count(); ++i, node = node->next) {
            const CharsetList::Node* entry = node->value->first();
            for (int32_t k = 0; k < node->value->count(); ++k, entry = entry->next) {
                if (Texture* texture = entry->element->GetTexture()) textures.push_back(texture);
            }
        }
    }
    for (Texture* texture : textures) {
        g_textureRegistry.Remove(texture);
        if (texture->RefCount() == 0) delete texture;
    }
    return ok && textures.size() == 2;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct PngSource {
    const std::vector<uint8_t>* bytes;
    size_t at;
};

void ReadPng(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source->at + length > source->bytes->size()) png_error(png, "short");
    std::copy_n(source->bytes->data() + source->at, length, out);
    source->at += length;
}

// A plain libpng decode of an RGBA picture into rows of its own.
bool DecodePng(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& pixels) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    PngSource source{&bytes, 0};
    png_set_read_fn(png, &source, ReadPng);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const size_t stride = png_get_rowbytes(png, info);
    pixels.assign(stride * height, 0);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + stride * y;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return width > 0 && height > 0;
}

bool PeerLoad() {
    bool ok = true;
    for (const char* name : {"sylfaen.fs", "sylfaen14.css", "64font.fs", "64font.css"}) {
        ok = !ReadFile(kFontDir + "/" + name).empty() && ok;
    }
    for (const char* name : {"sylfaen14.png", "64font.png"}) {
        std::vector<uint8_t> pixels;
        ok = DecodePng(ReadFile(kFontDir + "/" + name), pixels) && ok;
    }
    return ok;
}

struct LoadTimes {
    double wallMs;
    double processMs;  // processor time of every thread (the layer's GL driver has its own)
};

LoadTimes TimeLoads(bool (*load)(), int loads, bool* ok) {
    const double processStart = bench::ProcessMs();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < loads; ++i) *ok = load() && *ok;
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return LoadTimes{took.count() / loads, (bench::ProcessMs() - processStart) / loads};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// range(0): 0 ours, 1 the peer.
void FontLoad(benchmark::State& state) {
    if (rh::test::DeviceApp::Get() == nullptr) {
        state.SkipWithError("no device");
        return;
    }
    bool ok = true;
    for (auto _ : state) ok = (state.range(0) == 0 ? OurLoad() : PeerLoad()) && ok;
    if (!ok) state.SkipWithError("a load failed");
}

void FontLoadRatio(benchmark::State& state) {
    if (rh::test::DeviceApp::Get() == nullptr) {
        state.SkipWithError("no device");
        return;
    }
    const int reps = static_cast<int>(state.range(0));
    const int loads = static_cast<int>(state.range(1));
    bool ok = true;
    std::vector<double> ratios, processRatios, oursMs, peerMs;
    for (auto _ : state) {
        TimeLoads(OurLoad, 2, &ok);  // both warm
        TimeLoads(PeerLoad, 2, &ok);
        for (int rep = 0; rep < reps; ++rep) {
            LoadTimes o{};
            LoadTimes p{};
            if (rep % 2 == 0) {
                o = TimeLoads(OurLoad, loads, &ok);
                p = TimeLoads(PeerLoad, loads, &ok);
            } else {
                p = TimeLoads(PeerLoad, loads, &ok);
                o = TimeLoads(OurLoad, loads, &ok);
            }
            oursMs.push_back(o.wallMs);
            peerMs.push_back(p.wallMs);
            ratios.push_back(o.wallMs / p.wallMs);
            processRatios.push_back(o.processMs / p.processMs);
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
    state.counters["peer_ms"] = Median(peerMs);
}

BENCHMARK(FontLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(FontLoadRatio)->Args({11, 10})->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
