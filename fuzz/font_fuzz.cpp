// Arbitrary bytes as a font description and two charset descriptions, loaded by a font manager
// on a headless device made once per process. The input is split at its first two zero bytes:
// the font text (read from a memory block), then the texts of "a.css" and "b.css", written
// into the working folder (scripts/fuzz gives an empty one) beside two small pictures, "p.tga"
// (64 x 32) and "q.tga" (1 x 1), that a "Name" may pick. After the load every style answers
// FindStyle, FindCharset and the glyph queries for codes round each charset's ends and the
// 16-bit limits; a charset that loaded must have one width per code.
//
// The texture registry keeps every picture it loaded, and a fuzzed colour key or format makes
// a new one each time: after each input the pictures the charsets held are taken out of the
// registry and deleted, so memory measures the reader and not the pictures.
#include "core/files/file_ref.h"
#include "gui/font_manager.h"
#include "render/texture_registry.h"
#include "tests/render/support/device_app.h"
#include "tests/render/support/picture_files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void WriteFile(const char* name, const std::string& bytes) {
    std::FILE* file = std::fopen(name, "wb");
    Check(file != nullptr);
    if (!bytes.empty()) Check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    std::fclose(file);
}

void WritePictures() {
    WriteFile("p.tga", rh::test::TgaFile(rh::test::Solid(64, 32, 0xFFFFFFFF)));
    WriteFile("q.tga", rh::test::TgaFile(rh::test::Solid(1, 1, 0xFFFF00FF)));
}

// Every query a text view makes, for codes where the arithmetic turns.
void Query(const FontManager& fonts, const FontStyle& style, std::vector<Texture*>& textures) {
    const CharsetList* list = fonts.FindStyle(style);
    Check(list != nullptr);
    const CharsetList::Node* node = list->first();
    for (int32_t i = 0; i < list->count(); ++i, node = node->next) {
        const Charset& charset = *node->element;
        if (Texture* texture = charset.GetTexture()) {
            textures.push_back(texture);
            Check(charset.start >= 0 && charset.end <= 0xFFFF && charset.start <= charset.end);
            Check(charset.widths.count() == charset.end - charset.start + 1);
            Check(charset.rects.count() == charset.widths.count());
        }
        // A charset keeps 16-bit codes (a refused file changes nothing of it).
        Check(charset.start >= 0 && charset.end <= 0xFFFF);
        const int32_t codes[] = {charset.start - 1, charset.start, charset.start + 1, charset.end - 1, charset.end,
                                 charset.end + 1, 0, 0xFFFF, 0x10000, -1, INT32_MAX, INT32_MIN};
        for (int32_t code : codes) {
            FontManager::GlyphSize(charset, code);
            FontManager::GlyphRect(charset, code);
            FontManager::GlyphUV(charset, code, 1.0f, 2.0f, 3.0f, 4.0f);
            fonts.FindCharset(code, style);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static rh::test::DeviceApp* app = [] {
        WritePictures();
        return rh::test::DeviceApp::Get();
    }();
    Check(app != nullptr);
    if (size > 8192) return 0;

    // font \0 a.css \0 b.css
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t first = input.find('\0');
    const size_t second = first == std::string::npos ? std::string::npos : input.find('\0', first + 1);
    const std::string font = input.substr(0, first);
    const std::string a = first == std::string::npos ? std::string() : input.substr(first + 1, second - first - 1);
    const std::string b = second == std::string::npos ? std::string() : input.substr(second + 1);
    WriteFile("a.css", a);
    WriteFile("b.css", b);

    // An exact heap copy of the font text, so ASan sees any read past it.
    std::unique_ptr<char[]> bytes(new char[font.size() + 1]);
    std::memcpy(bytes.get(), font.data(), font.size());

    std::vector<Texture*> textures;
    {
        FontManager fonts;
        fonts.LoadFont(FileRef::Memory(bytes.get(), static_cast<int32_t>(font.size())));
        const FontManager::StyleMap& styles = fonts.Styles();
        const FontManager::StyleMap::Node* node = styles.first();
        for (int32_t i = 0; i < styles.count(); ++i, node = node->next) Query(fonts, node->key, textures);
        fonts.DefaultCharset();
        FontStyle big;
        big.size = INT32_MAX;
        if (styles.count() > 0) Check(fonts.FindStyle(big) != nullptr);
    }
    // The manager gave its references back (replaced lists too); take the pictures out of the
    // registry and delete the ones nobody holds.
    std::vector<Texture*> owners;
    auto add = [&owners](Texture* texture) {
        Texture* owner = texture->Parent() != nullptr ? texture->Parent() : texture;
        for (Texture* known : owners) {
            if (known == owner) return;
        }
        owners.push_back(owner);
    };
    for (Texture* texture : textures) add(texture);
    for (const char* name : {"p.tga", "q.tga"}) {
        if (const TextureRegistry::TextureSet* set = g_textureRegistry.TexturesOf(FileRef(name))) {
            const TextureRegistry::TextureSet::Node* entry = set->first();
            for (int32_t i = 0; i < set->count(); ++i, entry = entry->next) add(entry->key);
        }
    }
    for (Texture* owner : owners) {
        g_textureRegistry.Remove(owner);
        if (owner->RefCount() == 0) delete owner;
    }
    return 0;
}
