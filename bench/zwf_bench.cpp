// Loading a scene-sized data file (about 50 MB: 1600 meshes whose vertex and index leaves
// take 10 to 30 KB each, with materials and lamps) through the engine's reader with the
// program's flags 0, from a disk file and from memory; and the writer building that file.
// Figures are bytes of file per second.
#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/files/stream.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

using rh::zwf::Bytes;
using rh::zwf::Node;

constexpr int kMeshes = 1600;
constexpr int kMaterials = 200;
constexpr int kLamps = 500;

struct Lcg {
    uint32_t state;
    uint32_t Next() { return state = state * 1103515245u + 12345u; }
    int Range(int lo, int hi) { return lo + int((Next() >> 8) % uint32_t(hi - lo + 1)); }
    Bytes Fill(size_t n) {
        Bytes b(n);
        for (auto& c : b) c = uint8_t(Next() >> 16);
        return b;
    }
};

Node Colour(const char* name, Lcg& r) {
    return Node::Reals(name, {1.0f, float(r.Range(0, 255)) / 255, float(r.Range(0, 255)) / 255, 0.5f});
}

const Node& Scene() {
    static const Node scene = [] {
        Lcg r{7};
        Node root = Node::Compound("root");
        root.AddChild(Colour("Ambient", r));
        Node& materials = root.AddChild(Node::Compound("Materials"));
        for (int i = 0; i < kMaterials; ++i) {
            materials.AddChild(Node::Compound("Mat" + std::to_string(i), "Standard"))
                .With(Colour("Diffuse", r))
                .With(Colour("Specular", r))
                .With(Node::Real("Shininess", 20))
                .With(Node::Compound("Textures").With(
                    Node::Compound("Diffuse", "Diffuse").With(Node::Text("FileName", "tex" + std::to_string(i) + ".dds"))));
        }
        Node& lights = root.AddChild(Node::Compound("Lights"));
        for (int i = 0; i < kLamps; ++i) {
            lights.AddChild(Node::Compound("Lamp" + std::to_string(i), "Omni"))
                .With(Colour("Color", r))
                .With(Node::Reals("Position", {float(r.Range(-500, 500)), 10, float(r.Range(-500, 500))}))
                .With(Node::Real("Range", 30));
        }
        Node& children = root.AddChild(Node::Compound("Children"));
        for (int i = 0; i < kMeshes; ++i) {
            int verts = r.Range(10 << 10, 30 << 10) / 32;
            int indexes = r.Range(10 << 10, 14 << 10) / 2;
            children.AddChild(Node::Compound("House" + std::to_string(i), "Mesh"))
                .With(Node::Leaf("Matrix", "matrix", r.Fill(68)))
                .With(Node::Text("Material", "Mat" + std::to_string(i % kMaterials)))
                .With(Node::Int("NumVerts", verts))
                .With(Node::Int("NumIndexes", indexes))
                .With(Node::Int("IndexSize", 2))
                .With(Node::Leaf("DECL", "decl", r.Fill(48)))
                .With(Node::Leaf("Verts", "vertices", r.Fill(size_t(verts) * 32)))
                .With(Node::Leaf("Indexes", "indexes", r.Fill(size_t(indexes) * 2)));
        }
        return root;
    }();
    return scene;
}

const Bytes& SceneBytes() {
    static const Bytes bytes = rh::zwf::Write(Scene());
    return bytes;
}

const std::string& ScenePath() {
    static const std::string path = [] {
        std::string file = "/tmp/rh_zwf_bench.zwf", error;
        if (!rh::zwf::WriteFile(file, Scene(), {}, {}, &error)) std::abort();
        return file;
    }();
    return path;
}

// One whole load as the program does it; the reader's destructor frees the tree.
void LoadOnce(Stream* stream, benchmark::State& state) {
    BinaryDataReader reader;
    DataNode* root = reader.OpenStream(stream);
    if (root == nullptr || !root->Load(0, 0) || root->Children().count() != 4) state.SkipWithError("load failed");
    reader.CloseDataFile();
}

void BM_LoadFromDisk(benchmark::State& state) {
    FileRef ref(ScenePath().c_str());
    for (auto _ : state) {
        Stream* stream = ref.OpenFile(1);
        if (stream == nullptr) {
            state.SkipWithError("cannot open the file");
            break;
        }
        LoadOnce(stream, state);
        delete stream;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SceneBytes().size()));
}
BENCHMARK(BM_LoadFromDisk)->Unit(benchmark::kMillisecond);

void BM_LoadFromMemory(benchmark::State& state) {
    const Bytes& file = SceneBytes();
    for (auto _ : state) {
        MemStream stream;
        stream.ShowData(file.data(), int32_t(file.size()), true);
        stream.Open(String(), 1);
        LoadOnce(&stream, state);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}
BENCHMARK(BM_LoadFromMemory)->Unit(benchmark::kMillisecond);

void BM_Write(benchmark::State& state) {
    const Node& scene = Scene();
    size_t size = 0;
    for (auto _ : state) {
        Bytes out = rh::zwf::Write(scene);
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}
BENCHMARK(BM_Write)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
