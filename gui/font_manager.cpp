#include "gui/font_manager.h"

#include "core/debug/debug_trace.h"
#include "core/files/stream.h"
#include "core/script/script_node.h"
#include "core/script/script_parser.h"
#include "render/texture_registry.h"

#include <cstdint>

FontManager g_fontManager;

namespace {

// Character codes are 16-bit: a charset reaching past them is refused.
constexpr int32_t kLastCode = 0xFFFF;

struct FormatName {
    const char* name;
    D3DFORMAT format;
};

constexpr FormatName kFormats[] = {
    {"D3DFMT_R8G8B8", D3DFMT_R8G8B8},     {"D3DFMT_A8R8G8B8", D3DFMT_A8R8G8B8},
    {"D3DFMT_X8R8G8B8", D3DFMT_X8R8G8B8}, {"D3DFMT_R5G6B5", D3DFMT_R5G6B5},
    {"D3DFMT_X1R5G5B5", D3DFMT_X1R5G5B5}, {"D3DFMT_A1R5G5B5", D3DFMT_A1R5G5B5},
    {"D3DFMT_A4R4G4B4", D3DFMT_A4R4G4B4},
};

// The listed format of that name; D3DFMT_UNKNOWN for any other.
D3DFORMAT FormatOf(const String& name) {
    for (const FormatName& entry : kFormats) {
        if (StringEqualsText(name, entry.name)) return entry.format;
    }
    return D3DFMT_UNKNOWN;
}

int32_t IntOf(const ScriptNode* node, int32_t otherwise) { return node != nullptr ? node->AsInt() : otherwise; }

// A colour channel of a "ColorKey" array or object: element `index` or the named child; a
// missing one is 0.
uint32_t Channel(const ScriptNode& key, const char* index, const char* name) {
    const ScriptNode* channel = key.Child(index);
    if (channel == nullptr) channel = key.Child(name);
    return static_cast<uint32_t>(IntOf(channel, 0)) & 0xFFu;
}

// The picture's level-0 size: the parent's for a sub-texture, whose rectangle lies inside it.
void PictureSize(const Texture& texture, float& width, float& height) {
    const Texture* picture = texture.Parent() != nullptr ? texture.Parent() : &texture;
    width = static_cast<float>(picture->GetDescription().Width);
    height = static_cast<float>(picture->GetDescription().Height);
}

// The index of `code` in the charset's arrays, or -1 when the code lies outside the charset
// or past what `count` entries hold.
int32_t IndexOf(const Charset& charset, int32_t code, int32_t count) {
    if (code < charset.start || code > charset.end) return -1;
    const int64_t index = int64_t{code} - charset.start;
    return index < count ? static_cast<int32_t>(index) : -1;
}

}  // namespace

Charset::~Charset() { SetTexture(nullptr); }

void Charset::SetTexture(Texture* texture) {
    if (texture_ != nullptr) {
        if (texture_->Parent() != nullptr) texture_->Parent()->Release();
        texture_->Release();
    }
    texture_ = texture;
}

FontManager::~FontManager() {
    const StyleMap::Node* node = styles_.first();
    for (int32_t i = 0; i < styles_.count(); ++i, node = node->next) {
        node->value->DeleteAll();
        delete node->value;
    }
    styles_.Clear();
    while (replaced_.count() > 0) {
        CharsetList* list = replaced_.Pop();
        list->DeleteAll();
        delete list;
    }
}

FlagWord FontManager::LoadFont(const FileRef& locator, SearchPaths* extraPaths) {
    SearchPaths paths = paths_;
    if (extraPaths != nullptr) paths.Merge(*extraPaths);
    FileRef file = locator;
    if (!paths.ResolveFile(file)) return FlagWord(false);
    paths.Add(file.Location());

    Stream* stream = file.OpenFile(1);
    if (stream == nullptr) return FlagWord(false);
    ScriptNode root;
    const bool parsed = ParseScript(stream, &root, &paths);
    delete stream;
    if (!parsed) return FlagWord(false);

    FlagWord result(true);
    const ScriptNode* styles = root.Child("Styles");
    if (styles == nullptr) return result;
    const ScriptNode::Node* entry = styles->first();
    for (int32_t i = 0; i < styles->count(); ++i, entry = entry->next) {
        const ScriptNode& element = *entry->value;
        const ScriptNode* charsets = element.Child("Charsets");
        if (charsets == nullptr) continue;

        FontStyle style;
        style.size = IntOf(element.Child("Size"), 14);
        if (IntOf(element.Child("Bold"), 0) > 0) style.flags |= kFontBold;
        if (IntOf(element.Child("Italic"), 0) > 0) style.flags |= kFontItalic;
        if (const ScriptNode* name = element.Child("FontName")) style.fontName = WideString(name->value);

        auto* list = new CharsetList;
        StyleMap::Node* stored = styles_.FindNode(style);
        if (stored != nullptr) {
            // The stored style keeps its flags and name; only its list is replaced.
            replaced_.Append(stored->value);
            stored->value = list;
        } else {
            styles_.Insert(style, list, 1);
        }

        const ScriptNode::Node* nameEntry = charsets->first();
        for (int32_t k = 0; k < charsets->count(); ++k, nameEntry = nameEntry->next) {
            const String& name = nameEntry->value->value;
            auto* charset = new Charset;
            FileRef charsetFile(name);
            charsetFile.flags = FileRef::kDisk | FileRef::kArchive;
            const FlagWord loaded = LoadCharset(*charset, charsetFile, paths);
            if (loaded.Failed()) {
                DebugTrace(ConcatStringText(ConcatTextString("Error: Charset '", name), "' loading failed\n"));
            }
            list->Append(charset);
            result.Combine(loaded);
        }
    }
    return result;
}

CharsetList* FontManager::FindStyle(const FontStyle& style) const {
    StyleMap::Node* lower = nullptr;
    StyleMap::Node* upper = nullptr;
    styles_.FindBounds(style, lower, upper);
    if (lower != nullptr) {
        const FontStyle& found = lower->key;
        const bool exact = found.size == style.size && found.flags == style.flags &&
                           CompareWideStrings(found.fontName, style.fontName) == 0;
        if (exact || upper == nullptr) return lower->value;
    }
    return upper != nullptr ? upper->value : nullptr;
}

Charset* FontManager::FindCharset(int32_t code, const FontStyle& style) const {
    const CharsetList* list = FindStyle(style);
    if (list == nullptr) return nullptr;
    const int32_t unit = code & 0xFFFF;
    const CharsetList::Node* node = list->first();
    for (int32_t i = 0; i < list->count(); ++i, node = node->next) {
        Charset* charset = node->element;
        if (charset->start <= unit && unit <= charset->end) return charset;
    }
    return nullptr;
}

Charset* FontManager::DefaultCharset() const {
    if (styles_.count() == 0) return nullptr;
    const CharsetList* list = styles_.first()->value;
    return list->count() > 0 ? list->first()->element : nullptr;
}

Point FontManager::GlyphSize(const Charset& charset, int32_t code) {
    const int32_t index = IndexOf(charset, code, charset.widths.count());
    const int32_t width = index >= 0 ? charset.widths.items()[index] : charset.cellWidth;
    return Point(width, charset.cellHeight);
}

UvRect FontManager::GlyphRect(const Charset& charset, int32_t code) {
    const int32_t index = IndexOf(charset, code, charset.rects.count());
    if (charset.GetTexture() == nullptr || index < 0) return UvRect{0.0f, 0.0f, 0.0f, 0.0f};
    return charset.rects.items()[index];
}

UvRect FontManager::GlyphUV(const Charset& charset, int32_t code, float insetLeft, float insetTop,
                            float insetRight, float insetBottom) {
    const Texture* texture = charset.GetTexture();
    if (texture == nullptr) return UvRect{0.0f, 0.0f, 0.0f, 0.0f};
    float width = 0.0f;
    float height = 0.0f;
    PictureSize(*texture, width, height);
    if (width <= 0.0f || height <= 0.0f) return UvRect{0.0f, 0.0f, 0.0f, 0.0f};
    UvRect rect = GlyphRect(charset, code);
    rect.left += insetLeft / width;
    rect.top += insetTop / height;
    rect.right -= insetRight / width;
    rect.bottom -= insetBottom / height;
    return rect;
}

FlagWord FontManager::LoadCharset(Charset& charset, const FileRef& locator, const SearchPaths& paths) {
    SearchPaths own = paths;
    FileRef file = locator;
    if (!own.ResolveFile(file)) return FlagWord(false);
    own.Add(file.Location());
    Stream* stream = file.OpenFile(1);
    if (stream == nullptr) return FlagWord(false);
    ScriptNode root;
    const bool parsed = ParseScript(stream, &root, &own);
    delete stream;
    if (!parsed) return FlagWord(false);

    D3DFORMAT format = D3DFMT_A8R8G8B8;
    if (const ScriptNode* key = root.Child("Format")) format = FormatOf(key->value);
    String pictureName;
    if (const ScriptNode* key = root.Child("Name")) pictureName = key->value;
    const int32_t charsPerLine = IntOf(root.Child("CharsPerLine"), 0);
    const int32_t start = IntOf(root.Child("StartChar"), 0);
    const int32_t end = IntOf(root.Child("EndChar"), 256);
    // Without cells per row or a picture there is no grid to lay out; codes are 16-bit. A
    // refused file leaves the charset as it was, so that no range it named claims codes.
    if (charsPerLine <= 0 || pictureName.length() == 0) return FlagWord(false);
    if (start < 0 || end > kLastCode || end < start) return FlagWord(false);
    charset.charsPerLine = charsPerLine;
    charset.cellWidth = IntOf(root.Child("CharWidth"), 14);
    charset.cellHeight = IntOf(root.Child("CharHeight"), 14);
    charset.start = start;
    charset.end = end;

    D3DCOLOR colorKey = 0;
    if (const ScriptNode* key = root.Child("ColorKey")) {
        if (key->kind == ScriptNode::kText) {
            colorKey = static_cast<D3DCOLOR>(key->AsInt());
        } else {
            colorKey = 0xFF000000u + (Channel(*key, "0", "r") << 16) + (Channel(*key, "1", "g") << 8) +
                       Channel(*key, "2", "b");
        }
    }

    const int32_t count = charset.end - charset.start + 1;
    charset.widths.Init(count, 0);
    charset.widths.Resize(count);
    charset.rects.Init(count, 0);
    charset.rects.Resize(count);
    for (int32_t i = 0; i < count; ++i) charset.rects.items()[i] = UvRect{0.0f, 0.0f, 0.0f, 0.0f};

    if (const ScriptNode* sizes = root.Child("Sizes")) {
        const ScriptNode::Node* entry = sizes->first();
        for (int32_t i = 0; i < sizes->count(); ++i, entry = entry->next) {
            int32_t offset = 0;
            if (!entry->key.ToInt(offset)) offset = 0;
            // An offset outside the charset is ignored: no negative index, and no array grown
            // to a size the file picks.
            if (offset < 0 || offset >= count) continue;
            charset.widths.items()[offset] = static_cast<uint8_t>(entry->value->AsInt());
        }
    }

    TextureRequest request;
    request.locator = FileRef(pictureName);
    request.locator.flags = FileRef::kDisk | FileRef::kArchive;
    request.format = format;
    request.colorKey = colorKey;
    request.flags = kRequestFormat | kRequestColorKey;
    Texture* texture = g_textureRegistry.Get(request, &own);
    charset.SetTexture(texture);
    float width = 0.0f;
    float height = 0.0f;
    if (texture != nullptr) PictureSize(*texture, width, height);
    if (texture == nullptr || width <= 0.0f || height <= 0.0f) {
        // A picture of no size has no texture coordinates: it counts as not loaded.
        charset.SetTexture(nullptr);
        DebugTrace("Error: font texture loading failed\n");
        return FlagWord(false);
    }

    // The grid: every code but the end one gets a cell, offset by the texture's own place
    // inside its picture. Worked in doubles, as cell sizes and positions come from the file.
    const Rect& ownRect = texture->GetRect();
    const double x = texture->Parent() != nullptr ? ownRect.left : 0.0;
    const double y = texture->Parent() != nullptr ? ownRect.top : 0.0;
    for (int32_t i = 0; i + 1 < count; ++i) {
        const int32_t row = i / charset.charsPerLine;
        const int32_t column = i % charset.charsPerLine;
        const double x0 = static_cast<double>(column) * charset.cellWidth + x;
        const double x1 = x0 + charset.widths.items()[i];
        const double y0 = static_cast<double>(row) * charset.cellHeight + y;
        const double y1 = y0 + charset.cellHeight;
        charset.rects.items()[i] = UvRect{static_cast<float>(x0 / width), static_cast<float>(y0 / height),
                                          static_cast<float>(x1 / width), static_cast<float>(y1 / height)};
    }

    if (const ScriptNode* rects = root.Child("Rects")) {
        const ScriptNode::Node* entry = rects->first();
        for (int32_t i = 0; i < rects->count(); ++i, entry = entry->next) {
            const ScriptNode& box = *entry->value;
            if (box.count() != 4) continue;
            const int32_t code = static_cast<unsigned char>(entry->key.Text()[0]);
            const int32_t index = IndexOf(charset, code, count);
            if (index < 0) continue;
            const int64_t left = IntOf(box.Child("0"), 0);
            const int64_t top = IntOf(box.Child("1"), 0);
            const int64_t right = IntOf(box.Child("2"), 0);
            const int64_t bottom = IntOf(box.Child("3"), 0);
            // Right and bottom are the last pixel; the width is kept to 8 bits.
            charset.widths.items()[index] = static_cast<uint8_t>((right - left + 1) & 0xFF);
            charset.rects.items()[index] =
                UvRect{static_cast<float>(left / double{width}), static_cast<float>(top / double{height}),
                       static_cast<float>(right / double{width}), static_cast<float>(bottom / double{height})};
        }
    }
    return FlagWord(true);
}
