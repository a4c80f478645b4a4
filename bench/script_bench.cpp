// Parse speed of both script dialects, in MB/s of script text, on a few MB of generated
// statements shaped like the real files (font and texture descriptions for the free-form
// dialect, settings and message texts for the line dialect). The tree is destroyed outside
// the timed region.
#include "core/files/mem_stream.h"
#include "core/script/line_script.h"
#include "core/script/script_node.h"
#include "core/script/script_parser.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

constexpr size_t kTargetBytes = 4u << 20;

std::string FreeFormScript() {
    std::string s;
    for (int block = 0; s.size() < kTargetBytes; ++block) {
        const std::string b = std::to_string(block);
        s += "// font " + b + "\n";
        s += "Font" + b + ".Name = \"Sylfaen " + b + "\";\n";
        s += "Font" + b + ".Styles[0].Size = " + std::to_string(8 + block % 64) + ";\n";
        s += "Font" + b + ".Styles[0].Charsets = array(\"64font.css\", \"64font_ext.css\");\n";
        s += "Font" + b + ".ColorKey = array(255, 0, 255);\n";
        s += "using Textures.T" + b + ";\n";
        s += "  Format = \"A8R8G8B8\"; MipLevels = 0;\n";
        s += "  Frames = array(object(file = \"water01.dds\", time = 0.25),\n";
        s += "                 object(file = \"water02.dds\", time = 0.5));\n";
        s += "using ;\n";
        if (block % 16 == 15) s += "Copy" + b + " = Font" + b + ";\n";
    }
    return s;
}

std::string LineScript() {
    std::string s;
    for (int block = 0; s.size() < kTargetBytes; ++block) {
        const std::string b = std::to_string(block);
        s += "; section " + b + "\n";
        s += "using Section" + b + "\n";
        s += "AppName = Rimeholt 3D Screensaver " + b + "\n";
        s += "RegKey = Software\\Rimeholt\\Screensaver\\" + b + "\n";
        s += "FarPlane = 5500 ; far clip\n";
        s += "Ambient = array(225,225,225)\n";
        s += "Animations = array(\"c01.cam\",\"c02.cam\",\"c03.cam\")\n";
        s += "Message = \"Loading the village, please wait...\"\n";
        s += "using\n";
    }
    return s;
}

template <bool (*Parse)(Stream*, ScriptNode*, SearchPaths*)>
void ParseBench(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        MemStream stream;
        stream.Open(String(), 1);
        stream.ShowData(text.data(), static_cast<int32_t>(text.size()), true);
        ScriptNode* root = new ScriptNode;
        benchmark::DoNotOptimize(Parse(&stream, root, nullptr));
        state.PauseTiming();
        delete root;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

void BM_ParseScript(benchmark::State& state) {
    static const std::string text = FreeFormScript();
    ParseBench<ParseScript>(state, text);
}

void BM_ParseLineScript(benchmark::State& state) {
    static const std::string text = LineScript();
    ParseBench<ParseLineScript>(state, text);
}

BENCHMARK(BM_ParseScript)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseLineScript)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
