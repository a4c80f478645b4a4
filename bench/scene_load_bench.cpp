// Reading the generated city through Scene::ReadSceneFile (the data file parsed, every mesh
// checked and copied, the materials built and every picture decoded into a texture of our
// layer's device) against what a program reading the same city itself would at least do: load
// the same data file and decode every picture it references with plain libjpeg and libpng
// loops.
//
// SceneLoad/ratio interleaves the two (rounds swapped in order every round) and reports ours /
// peer of the rounds' wall times (ratio_*) and processor times (cpu_ratio_*): median, least and
// greatest.
#include <benchmark/benchmark.h>

#include "bench/raw_gl.h"
#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/disk_stream.h"
#include "render/texture_registry.h"
#include "scene/scene.h"
#include "tests/render/support/device_app.h"

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string kMedia = std::string(RIMEHOLT_MEDIA_DIR) + "/Media";

void CollectTextures(SceneNode& node, std::set<Texture*>& out) {
    MultiMaterial& m = node.GetMaterial();
    for (int32_t i = 0; i < kMaxSubMaterials; ++i) {
        for (const TextureMap& map : m.sub(i).maps) {
            if (map.texture != nullptr) out.insert(map.texture);
        }
        for (const TextureStage& stage : m.sub(i).stages) {
            if (stage.map.texture != nullptr) out.insert(stage.map.texture);
        }
    }
    for (int32_t i = 0; i < node.childCount(); ++i) CollectTextures(*node.child(i), out);
}

// Property entries the last load of ours looked at (its inheritance work).
int64_t g_propertyEntries = 0;

// Ours: a fresh scene each time; afterwards its textures leave the registry and are deleted, so
// that every load decodes them again.
bool OurLoad() {
    std::set<Texture*> textures;
    bool ok = false;
    {
        Scene scene;
        SceneLoadOptions options;
        options.flags = kSceneOtherExtensions;
        ok = scene.ReadSceneFile(FileRef((kMedia + "/city.zwf").c_str()), &options);
        CollectTextures(scene.GetRoot(), textures);
        g_propertyEntries = scene.propertyEntriesRead();
    }
    for (Texture* texture : textures) {
        g_textureRegistry.Remove(texture);
        delete texture;
    }
    return ok && textures.size() > 100;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool DecodeJpeg(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& pixels) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    const size_t stride = size_t(info.output_width) * info.output_components;
    pixels.assign(stride * info.output_height, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
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
    const png_uint_32 height = png_get_image_height(png, info);
    const size_t stride = png_get_rowbytes(png, info);
    pixels.assign(stride * height, 0);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + stride * y;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// Every distinct "FileName" of the city's materials, as a path on disk.
const std::vector<std::string>& Pictures() {
    static const std::vector<std::string> pictures = [] {
        std::set<std::string> names;
        DiskStream stream;
        BinaryDataReader reader;
        if (stream.Open(String((kMedia + "/city.zwf").c_str()), 1)) {
            if (DataNode* root = reader.OpenStream(&stream); root != nullptr && root->Load(0, 0)) {
                std::vector<DataNode*> pending{root};
                while (!pending.empty()) {
                    DataNode* node = pending.back();
                    pending.pop_back();
                    if (StringEqualsText(node->GetName(), "FileName")) names.insert(node->DataAsString().Text());
                    const DataNodeMap::Node* e = node->Children().first();
                    for (int32_t i = 0; i < node->Children().count(); ++i, e = e->next) pending.push_back(e->value);
                }
            }
            reader.CloseDataFile();
        }
        std::vector<std::string> out;
        for (const std::string& name : names) {
            const bool lightMap = std::ifstream(kMedia + "/LightMap/" + name).good();
            out.push_back(kMedia + (lightMap ? "/LightMap/" : "/Txt/") + name);
        }
        return out;
    }();
    return pictures;
}

bool PeerLoad() {
    bool ok = false;
    {
        DiskStream stream;
        BinaryDataReader reader;
        if (stream.Open(String((kMedia + "/city.zwf").c_str()), 1)) {
            DataNode* root = reader.OpenStream(&stream);
            ok = root != nullptr && root->Load(0, 0);
            reader.CloseDataFile();
        }
    }
    for (const std::string& path : Pictures()) {
        std::vector<uint8_t> pixels;
        const std::vector<uint8_t> bytes = ReadFile(path);
        const bool png = path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0;
        ok = (png ? DecodePng(bytes, pixels) : DecodeJpeg(bytes, pixels)) && ok;
    }
    return ok;
}

struct LoadTime {
    double wallMs;
    double processorMs;
};

LoadTime TimeLoad(bool (*load)(), bool* ok) {
    const double processor = bench::ProcessMs();
    const auto start = std::chrono::steady_clock::now();
    *ok = load() && *ok;
    return {std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
            bench::ProcessMs() - processor};
}

void Spread(benchmark::State& state, const char* name, std::vector<double>& ratios) {
    std::sort(ratios.begin(), ratios.end());
    state.counters[std::string(name) + "_median"] = ratios[ratios.size() / 2];
    state.counters[std::string(name) + "_min"] = ratios.front();
    state.counters[std::string(name) + "_max"] = ratios.back();
}

void SceneLoadRatio(benchmark::State& state) {
    if (rh::test::DeviceApp::Get() == nullptr) {
        state.SkipWithError("no device");
        return;
    }
    // The texture folders the saver adds.
    g_textureRegistry.Add(FileRef((kMedia + "/Txt").c_str()));
    g_textureRegistry.Add(FileRef((kMedia + "/LightMap").c_str()));
    const int reps = static_cast<int>(state.range(0));
    bool ok = true;
    std::vector<double> ratios, processorRatios, ours, peer;
    for (auto _ : state) {
        TimeLoad(OurLoad, &ok);
        TimeLoad(PeerLoad, &ok);
        for (int rep = 0; rep < reps; ++rep) {
            LoadTime o, p;
            if (rep % 2 == 0) {
                o = TimeLoad(OurLoad, &ok);
                p = TimeLoad(PeerLoad, &ok);
            } else {
                p = TimeLoad(PeerLoad, &ok);
                o = TimeLoad(OurLoad, &ok);
            }
            ours.push_back(o.wallMs);
            peer.push_back(p.wallMs);
            ratios.push_back(o.wallMs / p.wallMs);
            processorRatios.push_back(o.processorMs / p.processorMs);
        }
    }
    if (!ok) state.SkipWithError("a load failed");
    std::sort(ours.begin(), ours.end());
    std::sort(peer.begin(), peer.end());
    Spread(state, "ratio", ratios);
    // The same from the process's processor time, which a machine busy with other work
    // disturbs far less than the wall clock.
    Spread(state, "cpu_ratio", processorRatios);
    state.counters["ours_ms"] = ours[ours.size() / 2];
    state.counters["peer_ms"] = peer[peer.size() / 2];
    state.counters["pictures"] = double(Pictures().size());
    state.counters["property_entries"] = double(g_propertyEntries);
}

}  // namespace

BENCHMARK(SceneLoadRatio)->Name("SceneLoad/ratio")->Arg(6)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
