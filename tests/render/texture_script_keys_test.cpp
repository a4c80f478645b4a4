// The keys of texture description files as the reader looks them up, read without a device;
// and the picture extensions the registry tries for a name.
#include "render/texture_registry.h"
#include "render/texture_script.h"

#include "core/files/mem_stream.h"
#include "core/script/script_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

bool Parse(const std::string& text, ScriptNode& root) {
    MemStream stream;
    stream.Open(String(), 1);
    stream.ShowData(text.data(), static_cast<int32_t>(text.size()), true);
    return ParseScript(&stream, &root, nullptr);
}

// Each field of a description as text, by name.
std::map<std::string, std::string> Fields(const TextureDescription& d) {
    char key[16];
    std::snprintf(key, sizeof key, "%08X", unsigned(d.colorKey));
    const std::string rect = d.hasRect ? std::to_string(d.rect.left) + "," + std::to_string(d.rect.top) + "," +
                                             std::to_string(d.rect.right) + "," + std::to_string(d.rect.bottom)
                                       : "none";
    return {
        {"file", d.fileName.Text()},
        {"empty", d.empty ? "1" : "0"},
        {"kind", std::to_string(d.kind)},
        {"size", std::to_string(d.width) + "x" + std::to_string(d.height)},
        {"rect", rect},
        {"parentSpace", d.parentSpace ? "1" : "0"},
        {"delay", std::to_string(d.delay)},
        {"usage", std::to_string(d.usage)},
        {"id", d.id.Text()},
        {"pool", std::to_string(int(d.pool))},
        {"levels", std::to_string(d.levels)},
        {"format", std::to_string(int(d.format))},
        {"colorKey", key},
        {"filter", std::to_string(d.filter)},
        {"mipFilter", std::to_string(d.mipFilter)},
    };
}

TEST(TextureScriptKeys, EachKeyWithItsDefaultsAndForms) {
    struct Case {
        const char* script;
        std::map<std::string, std::string> expected;  // the fields the row is about
    };
    const Case cases[] = {
        {"", {{"file", ""}, {"empty", "0"}, {"kind", "8"}, {"size", "-1x-1"}, {"rect", "none"}, {"parentSpace", "0"},
              {"delay", "77"}, {"usage", "0"}, {"id", "entry"}, {"pool", "1"}, {"levels", "1"}, {"format", "0"},
              {"colorKey", "00000000"}, {"filter", "3"}, {"mipFilter", "5"}}},
        {"filename = \"a.png\";", {{"file", "a.png"}, {"kind", "1"}}},
        {"FileName = \"a.png\"; InitFlags = \"SAVE_NAME\";", {{"kind", "2"}}},
        {"InitFlags = \"SAVE_DATA\";", {{"kind", "1"}}},
        {"FileName = \"a.png\"; InitFlags = \"save_name\";", {{"kind", "1"}}},
        {"Empty = 1; BumpAmount = 3; Cube = 1;", {{"empty", "1"}}},
        {"Width = 64;", {{"size", "-1x-1"}}},
        {"Width = 64; Height = 32;", {{"size", "64x32"}}},
        {"x1 = 1; y1 = 2; x2 = 30; y2 = 40;", {{"rect", "1,2,30,40"}, {"parentSpace", "1"}}},
        {"x1 = 1; y1 = 2; w = 30; h = 40;", {{"rect", "1,2,31,42"}, {"parentSpace", "1"}}},
        {"x1 = 1; y1 = 2; x2 = 30;", {{"rect", "none"}, {"parentSpace", "0"}}},
        {"x1 = 1; x2 = 30; y2 = 40;", {{"rect", "none"}}},
        // A mix of the two forms names no rectangle.
        {"x1 = 1; y1 = 2; x2 = 30; w = 5;", {{"rect", "none"}, {"parentSpace", "0"}}},
        {"x1 = 1; y1 = 2; h = 30; y2 = 5;", {{"rect", "none"}}},
        {"Rect = array(4, 5, 6, 7);", {{"rect", "4,5,6,7"}, {"parentSpace", "1"}}},
        {"x1 = 1; y1 = 2; x2 = 30; y2 = 40; Rect = array(9);", {{"rect", "9,2,30,40"}}},
        {"Rect = array(4, 5, 6, 7); ParentSpace = 0;", {{"parentSpace", "0"}}},
        {"ParentSpace = 1;", {{"parentSpace", "1"}, {"rect", "none"}}},
        {"Delay = 250;", {{"delay", "250"}}},
        {"Delay = -40;", {{"delay", "0"}}},
        {"Delay = fast;", {{"delay", "0"}}},
        {"Usage = \"D3DUSAGE_DYNAMIC\";", {{"usage", "512"}}},
        {"Usage = \"D3DUSAGE_WRITEONLY\";", {{"usage", "0"}}},
        {"Id = \"Lamp\";", {{"id", "Lamp"}}},
        {"Pool = \"D3DPOOL_DEFAULT\";", {{"pool", "0"}}},
        {"Pool = \"D3DPOOL_SYSTEMMEM\";", {{"pool", "2"}}},
        {"Pool = \"D3DPOOL_SCRATCH\";", {{"pool", "1"}}},
        {"Levels = 0;", {{"levels", "0"}}},
        {"Format = \"D3DFMT_A4R4G4B4\";", {{"format", "26"}}},
        {"Format = \"D3DFMT_DXT1\";", {{"format", "0"}}},
        {"ColorKey = object(r = 255);", {{"colorKey", "FFFF0000"}}},
        {"ColorKey = array(1, 2, 3);", {{"colorKey", "FF010203"}}},
        {"ColorKey = object(g = 511, b = 1);", {{"colorKey", "FF00FF01"}}},
        {"ColorKey = -65536;", {{"colorKey", "FFFF0000"}}},
        {"Filter = \"D3DX_FILTER_NONE\"; MipFilter = \"D3DX_FILTER_TRIANGLE\";",
         {{"filter", "1"}, {"mipFilter", "4"}}},
        {"Filter = \"D3DX_FILTER_POINT\"; MipFilter = \"D3DX_FILTER_LINEAR\";", {{"filter", "3"}, {"mipFilter", "3"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        ScriptNode root;
        Parse(c.script, root);
        TextureDescription d;
        ReadTextureDescription(root, 77, "entry", d);
        const std::map<std::string, std::string> fields = Fields(d);
        for (const auto& [name, value] : c.expected) EXPECT_EQ(fields.at(name), value) << name;
    }
}

TEST(TextureRegistryCandidates, ExtensionsInTheOrderTheyAreTried) {
    struct Case {
        const char* requested;
        bool others;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"dds", true, {"dds", "jpg", "tga", "bmp", "png"}},
        {"tga", true, {"tga", "jpg", "dds", "bmp", "png"}},
        {"png", true, {"png", "jpg", "dds", "bmp", "tga"}},
        // Case counts: "TGA" is not listed, so it goes first and "tga" last.
        {"TGA", true, {"TGA", "jpg", "dds", "bmp", "png", "tga"}},
        {"gif", true, {"gif", "jpg", "dds", "bmp", "png", "tga"}},
        {"dds", false, {"dds"}},
        {"", false, {""}},
    };
    for (const Case& c : cases) {
        DynArray<String> out;
        out.At(3) = "stale";
        CandidateExtensions(c.requested, c.others, out);
        std::vector<std::string> got;
        for (int32_t i = 0; i < out.count(); ++i) got.push_back(out.items()[i].Text());
        EXPECT_EQ(got, c.expected) << c.requested << (c.others ? " with others" : "");
    }
}

}  // namespace
