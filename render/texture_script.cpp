#include "render/texture_script.h"

#include "core/containers/linked_list.h"
#include "core/files/search_paths.h"
#include "core/files/stream.h"
#include "core/script/script_parser.h"
#include "core/types/byte_buffer.h"
#include "render/format_facts.h"
#include "render/texture.h"

namespace {

struct NamedValue {
    const char* name;
    int32_t value;
};

// The value of the name in the table, or `otherwise` for a name it does not list.
int32_t LookUp(const String& text, const NamedValue* table, int count, int32_t otherwise) {
    for (int i = 0; i < count; ++i) {
        if (StringEqualsText(text, table[i].name)) return table[i].value;
    }
    return otherwise;
}

constexpr NamedValue kFilters[] = {
    {"D3DX_FILTER_NONE", 1},
    {"D3DX_FILTER_LINEAR", 3},
    {"D3DX_FILTER_TRIANGLE", 4},
    {"D3DX_FILTER_BOX", 5},
};
constexpr NamedValue kPools[] = {
    {"D3DPOOL_DEFAULT", D3DPOOL_DEFAULT},
    {"D3DPOOL_MANAGED", D3DPOOL_MANAGED},
    {"D3DPOOL_SYSTEMMEM", D3DPOOL_SYSTEMMEM},
};
constexpr NamedValue kInitFlags[] = {
    {"SAVE_NAME", 2},
    {"SAVE_DATA", 1},
};

// A present key's whole text as an int; 0 for anything that is not one number.
int32_t Number(const ScriptNode* node) { return node != nullptr ? node->AsInt() : 0; }

// The colour channel of a "ColorKey" object or array: element `index` or the named child.
uint32_t Channel(const ScriptNode& key, const char* index, const char* name) {
    const ScriptNode* channel = key.Child(index);
    if (channel == nullptr) channel = key.Child(name);
    return static_cast<uint32_t>(Number(channel)) & 0xFFu;
}

}  // namespace

void ReadTextureDescription(const ScriptNode& node, int32_t inheritedDelay, const String& defaultId,
                            TextureDescription& out) {
    out = TextureDescription{};
    if (const ScriptNode* key = node.Child("FileName")) out.fileName = key->value;
    out.empty = Number(node.Child("Empty")) != 0;
    out.kind = out.fileName.length() > 0 ? 1 : 8;
    if (const ScriptNode* key = node.Child("InitFlags")) out.kind = LookUp(key->value, kInitFlags, 2, out.kind);

    const ScriptNode* width = node.Child("Width");
    const ScriptNode* height = node.Child("Height");
    if (width != nullptr && height != nullptr) {
        out.width = width->AsInt();
        out.height = height->AsInt();
    }

    // The corner form names x2 and y2, the size form w and h; each slot reads its corner key
    // first. A slot filled by each form gives no rectangle.
    const ScriptNode* x1 = node.Child("x1");
    const ScriptNode* y1 = node.Child("y1");
    const ScriptNode* x2 = node.Child("x2");
    const ScriptNode* y2 = node.Child("y2");
    const ScriptNode* w = node.Child("w");
    const ScriptNode* h = node.Child("h");
    const bool corners = x2 != nullptr && y2 != nullptr;
    const bool size = x2 == nullptr && y2 == nullptr && w != nullptr && h != nullptr;
    out.rect.left = Number(x1);
    out.rect.top = Number(y1);
    if (corners) {
        out.rect.right = Number(x2);
        out.rect.bottom = Number(y2);
    } else if (size) {
        // Sums in 64 bits: the engine's ints wrap nowhere.
        const int64_t right = int64_t{out.rect.left} + Number(w);
        const int64_t bottom = int64_t{out.rect.top} + Number(h);
        out.rect.right = static_cast<int32_t>(right > INT32_MAX ? INT32_MAX : (right < INT32_MIN ? INT32_MIN : right));
        out.rect.bottom =
            static_cast<int32_t>(bottom > INT32_MAX ? INT32_MAX : (bottom < INT32_MIN ? INT32_MIN : bottom));
    }
    out.hasRect = x1 != nullptr && y1 != nullptr && (corners || size);
    if (const ScriptNode* rect = node.Child("Rect")) {
        out.hasRect = true;
        const char* const elements[4] = {"0", "1", "2", "3"};
        for (int i = 0; i < 4; ++i) {
            if (const ScriptNode* element = rect->Child(elements[i])) out.rect.Component(i) = element->AsInt();
        }
    }
    const ScriptNode* parentSpace = node.Child("ParentSpace");
    out.parentSpace = parentSpace != nullptr ? parentSpace->AsInt() != 0 : out.hasRect;

    const ScriptNode* delay = node.Child("Delay");
    out.delay = delay != nullptr ? delay->AsInt() : inheritedDelay;
    // A negative frame time could make an animation's total negative, and playback would never
    // catch up with the clock: it counts as 0.
    if (out.delay < 0) out.delay = 0;

    if (const ScriptNode* key = node.Child("Usage")) {
        out.usage = StringEqualsText(key->value, "D3DUSAGE_DYNAMIC") ? D3DUSAGE_DYNAMIC : 0;
    }
    const ScriptNode* id = node.Child("Id");
    out.id = id != nullptr ? id->value : defaultId;
    if (const ScriptNode* key = node.Child("Pool")) {
        out.pool = static_cast<D3DPOOL>(LookUp(key->value, kPools, 3, D3DPOOL_MANAGED));
    }
    if (const ScriptNode* key = node.Child("Levels")) out.levels = key->AsInt();
    if (const ScriptNode* key = node.Child("Format")) out.format = ParseFormatName(key->value.Text());
    if (const ScriptNode* key = node.Child("ColorKey")) {
        if (key->kind == ScriptNode::kText) {
            out.colorKey = static_cast<D3DCOLOR>(key->AsInt());
        } else {
            out.colorKey = 0xFF000000u | Channel(*key, "0", "r") << 16 | Channel(*key, "1", "g") << 8 |
                           Channel(*key, "2", "b");
        }
    }
    if (const ScriptNode* key = node.Child("Filter")) out.filter = LookUp(key->value, kFilters, 4, 3);
    if (const ScriptNode* key = node.Child("MipFilter")) out.mipFilter = LookUp(key->value, kFilters, 4, 5);
}

bool LoadTextureScript(Texture* texture, const FileRef& locator) {
    texture->Unload(true);
    FileRef file = locator;
    Stream* stream = file.OpenFile(1);
    if (stream == nullptr) return false;
    const FileRef directory = file.Location();
    SearchPaths paths;
    paths.Add(directory);
    ScriptNode root;
    const bool parsed = ParseScript(stream, &root, &paths);
    delete stream;
    if (!parsed) return false;
    return ParseTextureScript(texture, root, nullptr, directory, String());
}

namespace {

// The texture's "Subs": read, placed or packed, then loaded into the texture's pixels.
bool ReadSubTextures(Texture* texture, const ScriptNode& subs, const FileRef& directory) {
    LinkedList<Texture*> placed;
    LinkedList<Texture*> restore;
    const ScriptNode::Node* entry = subs.first();
    for (int32_t i = 0; i < subs.count(); ++i, entry = entry->next) {
        auto* sub = new Texture;
        if (!ParseTextureScript(sub, *entry->value, texture, directory, entry->key)) {
            delete sub;
            return false;
        }
        // A later entry under a taken Id replaces the earlier one, which nobody holds yet.
        if (Texture* earlier = texture->FindSubTexture(sub->GetId())) {
            restore.RemoveAll(earlier);
            delete earlier;
        }
        if (!sub->GetParentSpace()) {
            texture->AddSubTexture(sub);
            continue;
        }
        const bool wasPlaced = sub->GetPlacement() == Placement::kPlaced;
        if (!wasPlaced && !PackSubTexture(texture, sub, placed, 3)) {
            delete sub;
            return false;
        }
        texture->AddSubTexture(sub);
        if (wasPlaced) {
            // Placed by its description; later packings may move it.
            sub->SetPlacement(Placement::kMovable);
            restore.AddIfAbsent(sub);
        } else {
            const LinkedList<Texture*>::Node* moved = placed.first();
            for (int32_t k = 0; k < placed.count(); ++k, moved = moved->next) restore.AddIfAbsent(moved->element);
        }
        placed.Clear();
    }
    // Every rectangle is final now: each picture goes into the texture's pixels once.
    const LinkedList<Texture*>::Node* node = restore.first();
    for (int32_t i = 0; i < restore.count(); ++i, node = node->next) {
        if (!node->element->OnDeviceRestore()) return false;
    }
    return true;
}

void ReadAnimations(Texture* texture, const ScriptNode& animations) {
    const ScriptNode::Node* entry = animations.first();
    for (int32_t i = 0; i < animations.count(); ++i, entry = entry->next) {
        auto* animation = new TextureAnimation;
        const ScriptNode& frames = *entry->value;
        const ScriptNode::Node* element = frames.first();
        for (int32_t k = 0; k < frames.count(); ++k, element = element->next) {
            const String& id = element->value->value;
            // An Id given again keeps its first place (the map keeps a present key where it is).
            if (Texture* frame = texture->FindSubTexture(id)) animation->frames.Insert(id, frame, 1);
        }
        if (animation->frames.count() == 0) {
            delete animation;
            continue;
        }
        texture->AddAnimation(entry->key, animation);
    }
    texture->ComputeAnimationLengths();
}

}  // namespace

bool ParseTextureScript(Texture* texture, const ScriptNode& node, Texture* parent, const FileRef& directory,
                        const String& defaultId) {
    if (!RegisterDeviceResource(texture)) return false;
    TextureDescription d;
    ReadTextureDescription(node, parent != nullptr ? parent->GetDelay() : texture->GetDelay(), defaultId, d);
    texture->SetId(d.id);
    texture->SetParentSpace(d.parentSpace);
    texture->SetNoTexture(d.empty);
    texture->SetDelay(d.delay);

    const auto width = static_cast<UINT>(d.width);
    const auto height = static_cast<UINT>(d.height);
    const auto levels = static_cast<UINT>(d.levels);
    if (d.fileName.length() > 0) {
        FileRef picture(d.fileName);
        picture.flags = FileRef::kDisk | FileRef::kArchive;
        SearchPaths paths;
        paths.Add(directory);
        ByteBuffer bytes;
        if (!paths.ResolveFile(picture) || !picture.ReadWholeFile(bytes)) return false;
        if (!texture->CreateFromMemory(bytes.Data(), bytes.Size(), d.kind, width, height, levels, d.usage, d.format,
                                       d.pool, d.filter, d.mipFilter, d.colorKey, false, false)) {
            return false;
        }
    } else if (!d.empty) {
        if (!texture->CreateEmpty(d.kind, width, height, levels, d.usage, d.format, d.pool, false, false)) {
            return false;
        }
    }
    if (d.hasRect) {
        texture->SetRect(d.rect);
        texture->SetPlacement(Placement::kPlaced);
    }
    if (parent == nullptr) {
        if (const ScriptNode* subs = node.Child("Subs")) {
            if (!ReadSubTextures(texture, *subs, directory)) return false;
        }
        if (const ScriptNode* animations = node.Child("Animation")) ReadAnimations(texture, *animations);
    }
    return true;
}
