// ParseMarkupText over generated rich text of 1 and 2 MB (in characters) against expat parsing
// the same document written as XML (attribute values quoted, raw sections as CDATA, one root
// element), in the same run. Expat is timed twice: with handlers that only count, and with
// handlers that build a tree of copied tags, attributes and texts, as the markup parser does.
// The document tree is destroyed outside the timed region.
//
// Every IMG element makes its picture while the document is parsed: a skin window, shown (so
// placed in the GUI root's depth layer until a view adopts it), and a texture request that
// looks the "Src" file up on disk. ParseMarkupText is therefore timed on the document twice:
// as written, and with each IMG renamed PIC, an element with the same attributes and no
// picture, which is the parse that expat's is like for like. The run is made in an empty
// folder of its own, so that no file is found and the lookups cost the same on every machine.
#include "gui/markup_parser.h"
#include "gui/tokenizer.h"

#include <benchmark/benchmark.h>
#include <expat.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

struct Documents {
    std::u16string markup;
    std::string xml;
};

// The same rich text twice: as markup and as XML. Made-up prose with bold and italic runs,
// styled paragraphs, raw sections holding tag characters and pictures.
Documents Generate(size_t characters, bool pictures) {
    static const char* const kWords[] = {"the", "snow", "village", "lamp", "night", "under",
                                         "over", "fir", "window", "light", "cold", "gate",
                                         "tower", "morning", "a", "to", "and", "of"};
    Documents d;
    d.xml = "<root>";
    uint32_t state = 24;
    auto next = [&](uint32_t below) {
        state = state * 1103515245u + 12345u;
        return ((state >> 16) & 0x7FFF) % below;
    };
    auto both = [&](const std::string& s) {
        d.markup.append(s.begin(), s.end());
        d.xml += s;
    };
    auto words = [&](int n) {
        for (int i = 0; i < n; ++i) both(std::string(kWords[next(18)]) + " ");
    };
    while (d.markup.size() < characters) {
        const uint32_t r = next(100);
        if (r < 60) {
            words(1);
        } else if (r < 70) {
            both("<B>");
            words(1 + static_cast<int>(next(3)));
            both("</B> ");
        } else if (r < 76) {
            d.markup += u"<I Size=20 Color=\"-65536\">";
            d.xml += "<I Size=\"20\" Color=\"-65536\">";
            words(2);
            both("<B>");
            words(1);
            both("</B></I> ");
        } else if (r < 80) {
            d.markup += u"<P RowSpace=2 FontName='Serif'>";
            d.xml += "<P RowSpace=\"2\" FontName='Serif'>";
            words(6);
            both("</P>\n");
        } else if (r < 83) {
            d.markup += u"<RAW>if a <b> then c</RAW> ";
            d.xml += "<![CDATA[if a <b> then c]]> ";
        } else if (r < 86) {
            d.markup += pictures ? u"<IMG Src=\"pic.png\" Width=32/> " : u"<PIC Src=\"pic.png\" Width=32/> ";
            d.xml += "<IMG Src=\"pic.png\" Width=\"32\"/> ";
        } else {
            words(1);
            both("\n");
        }
    }
    d.xml += "</root>";
    return d;
}

const Documents& Document(int megabytes, bool pictures = true) {
    static const Documents one = Generate(size_t{1} << 20, true);
    static const Documents two = Generate(size_t{2} << 20, true);
    static const Documents onePlain = Generate(size_t{1} << 20, false);
    static const Documents twoPlain = Generate(size_t{2} << 20, false);
    if (!pictures) return megabytes == 1 ? onePlain : twoPlain;
    return megabytes == 1 ? one : two;
}

// An empty folder of its own for the whole run (see the top of the file), made before the
// benchmarks start and removed after they end.
struct EmptyFolder {
    char path[32] = "/tmp/rh_markup_bench_XXXXXX";
    bool made = false;
    EmptyFolder() { made = mkdtemp(path) != nullptr && chdir(path) == 0; }
    ~EmptyFolder() {
        if (made) rmdir(path);
    }
};
const EmptyFolder g_folder;

// Arguments: megabytes, and 1 for the document with pictures, 0 for it without.
void BM_ParseMarkupText(benchmark::State& state) {
    if (!g_folder.made) return state.SkipWithError("no empty folder to run in");
    const Documents& d = Document(static_cast<int>(state.range(0)), state.range(1) != 0);
    const WideString markup(d.markup.data(), static_cast<int32_t>(d.markup.size()), true);
    for (auto _ : state) {
        auto root = std::make_unique<RichTextNode>();
        const bool ok = ParseMarkupText(*root, markup);
        benchmark::DoNotOptimize(ok);
        state.PauseTiming();
        root.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * d.markup.size()));
}

// The markup tokenizer alone over the same text: the share of the parse that is reading tokens.
void BM_TokenizeMarkup(benchmark::State& state) {
    const Documents& d = Document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Tokenizer t;
        MakeMarkupTokenizer(t);
        t.ShowText(d.markup.data(), static_cast<int32_t>(d.markup.size()));
        int32_t id = 0;
        int64_t tokens = 0;
        while (t.SkipToken(id) == TokenResult::kRead) ++tokens;
        benchmark::DoNotOptimize(tokens);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * d.markup.size()));
}

// ParseDocument without the style pass.
void BM_ParseDocument(benchmark::State& state) {
    const Documents& d = Document(static_cast<int>(state.range(0)));
    const WideString markup(d.markup.data(), static_cast<int32_t>(d.markup.size()), true);
    for (auto _ : state) {
        auto root = std::make_unique<RichTextNode>();
        const bool ok = ParseDocument(*root, markup);
        benchmark::DoNotOptimize(ok);
        state.PauseTiming();
        root.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * d.markup.size()));
}

struct Counts {
    int64_t elements = 0;
    int64_t characters = 0;
};

void XMLCALL CountStart(void* user, const XML_Char*, const XML_Char**) {
    ++static_cast<Counts*>(user)->elements;
}
void XMLCALL CountEnd(void*, const XML_Char*) {}
void XMLCALL CountText(void* user, const XML_Char*, int length) {
    static_cast<Counts*>(user)->characters += length;
}

// A tree as plain as the markup parser's: tag, attributes and text copied into each node.
struct XmlNode {
    std::string tag;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
    std::vector<std::unique_ptr<XmlNode>> children;
    XmlNode* parent = nullptr;
};

struct TreeBuilder {
    XmlNode root;
    XmlNode* current = &root;
};

void XMLCALL TreeStart(void* user, const XML_Char* name, const XML_Char** attributes) {
    auto* b = static_cast<TreeBuilder*>(user);
    auto node = std::make_unique<XmlNode>();
    node->tag = name;
    for (int i = 0; attributes[i] != nullptr; i += 2) node->attributes.emplace_back(attributes[i], attributes[i + 1]);
    node->parent = b->current;
    XmlNode* raw = node.get();
    b->current->children.push_back(std::move(node));
    b->current = raw;
}
void XMLCALL TreeEnd(void* user, const XML_Char*) {
    auto* b = static_cast<TreeBuilder*>(user);
    b->current = b->current->parent;
}
void XMLCALL TreeText(void* user, const XML_Char* text, int length) {
    auto* b = static_cast<TreeBuilder*>(user);
    // Expat may hand a text over in pieces: consecutive pieces make one text node.
    if (b->current->children.empty() || !b->current->children.back()->tag.empty()) {
        auto node = std::make_unique<XmlNode>();
        node->parent = b->current;
        b->current->children.push_back(std::move(node));
    }
    b->current->children.back()->text.append(text, static_cast<size_t>(length));
}

void BM_Expat(benchmark::State& state) {
    const Documents& d = Document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate("UTF-8");
        Counts counts;
        XML_SetUserData(parser, &counts);
        XML_SetElementHandler(parser, CountStart, CountEnd);
        XML_SetCharacterDataHandler(parser, CountText);
        const bool ok = XML_Parse(parser, d.xml.data(), static_cast<int>(d.xml.size()), 1) == XML_STATUS_OK;
        if (!ok) state.SkipWithError(XML_ErrorString(XML_GetErrorCode(parser)));
        benchmark::DoNotOptimize(counts);
        XML_ParserFree(parser);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * d.markup.size()));
}

void BM_ExpatTree(benchmark::State& state) {
    const Documents& d = Document(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate("UTF-8");
        auto builder = std::make_unique<TreeBuilder>();
        XML_SetUserData(parser, builder.get());
        XML_SetElementHandler(parser, TreeStart, TreeEnd);
        XML_SetCharacterDataHandler(parser, TreeText);
        const bool ok = XML_Parse(parser, d.xml.data(), static_cast<int>(d.xml.size()), 1) == XML_STATUS_OK;
        if (!ok) state.SkipWithError(XML_ErrorString(XML_GetErrorCode(parser)));
        XML_ParserFree(parser);
        state.PauseTiming();
        builder.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * d.markup.size()));
}

}  // namespace

// Items are the markup's characters, so the rates compare directly.
BENCHMARK(BM_ParseMarkupText)->ArgsProduct({{1, 2}, {1, 0}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseDocument)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TokenizeMarkup)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Expat)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpatTree)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
