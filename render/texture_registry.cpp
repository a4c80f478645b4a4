#include "render/texture_registry.h"
#include "core/init_order.h"

#include "core/text/paths.h"

#include <rimeholt/file_lookups.h>

TextureRegistry g_textureRegistry RH_INIT_ORDER(RH_INIT_TEXTURE_REGISTRY);

namespace {

// Deletes a texture the registry left to its holders once the last of them releases it.
// Made on first use and never destroyed, so that it outlives every global that may still
// release a texture at exit.
class OrphanDeleter final : public RefCounted {
public:
    void OnReleased(RefCounted* object) override { delete object; }
};

OrphanDeleter* Orphans() {
    static OrphanDeleter* deleter = new OrphanDeleter;
    return deleter;
}

const char* const kPictureExtensions[] = {"tga", "jpg", "dds", "bmp", "png"};
constexpr int32_t kPictureExtensionCount = 5;

}  // namespace

void CandidateExtensions(const String& requested, bool others, DynArray<String>& out) {
    out.Resize(0);
    if (!others) {
        out.At(0) = requested;
        return;
    }
    int32_t listed = -1;
    for (int32_t i = 0; i < kPictureExtensionCount; ++i) {
        out.At(i) = kPictureExtensions[i];
        if (listed < 0 && StringEqualsText(requested, kPictureExtensions[i])) listed = i;
    }
    if (listed >= 0) {
        // The requested one and "tga" (always first) trade places.
        const String first = out.At(0);
        out.At(listed) = first;
        out.At(0) = requested;
        return;
    }
    const String first = out.At(0);
    out.At(kPictureExtensionCount) = first;  // At may move the block: no reference across it
    out.At(0) = requested;
}

namespace {

// The candidate locator: the request's with the name's stem and another extension. An empty
// extension leaves the bare stem, as Windows drops a name's trailing dot.
FileRef WithExtension(const FileRef& requested, const String& extension) {
    FileRef candidate = requested;
    const String stem = ConcatStrings(ExtractDirectoryPrefix(requested.name), ExtractBaseName(requested.name));
    candidate.name = extension.length() > 0 ? ConcatStrings(ConcatStringText(stem, "."), extension) : stem;
    return candidate;
}

// The first candidate that resolves in `paths`, into `out`.
bool ResolveFirst(SearchPaths& paths, const DynArray<String>& extensions, const FileRef& requested, FileRef& out) {
    for (int32_t i = 0; i < extensions.count(); ++i) {
        FileRef candidate = WithExtension(requested, extensions.items()[i]);
        if (paths.ResolveFile(candidate)) {
            out = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace

TextureRegistry::~TextureRegistry() {
    auto* node = textures_.first();
    for (int32_t i = 0; i < textures_.count(); ++i, node = node->next) {
        Texture* texture = node->key;
        delete node->value;
        // Holders of the rest (fonts, destroyed after the registry) release them later.
        if (texture->RefCount() == 0) {
            delete texture;
        } else {
            texture->SetReleaseWatcher(Orphans());
        }
    }
    textures_.Clear();
    files_.DeleteAll();
}

bool TextureRegistry::TakeSub(Texture* texture, TextureRequest& request, Texture** sub) {
    *sub = nullptr;
    // The companion rule: a picture whose description defines animations is handed out as a
    // view of the last of them.
    if ((request.flags & kRequestCompanion) != 0 && texture->HasAnimations()) {
        request.flags |= kRequestId;
        request.id = texture->Animations().cursor()->key;
    }
    if ((request.flags & (kRequestId | kRequestRect)) == 0) return true;
    *sub = texture->FindSub(request);
    if (*sub == nullptr && !request.lookupOnly) *sub = texture->CreateSub(request);
    return *sub != nullptr;
}

Texture* TextureRegistry::Get(TextureRequest& request, SearchPaths* extraPaths) {
    if ((request.flags & kRequestTexture) != 0) {
        Texture* texture = request.texture;
        if (texture == nullptr) return nullptr;
        Texture* sub = nullptr;
        if ((request.flags & (kRequestId | kRequestRect)) != 0) {
            sub = texture->FindSub(request);
            if (sub == nullptr && !request.lookupOnly) sub = texture->CreateSub(request);
            if (sub == nullptr) return nullptr;
            sub->AddRef();
        }
        texture->AddRef();
        return sub != nullptr ? sub : texture;
    }

    const bool located = (request.locator.flags & (FileRef::kDisk | FileRef::kArchive)) != 0;
    if (located) {
        FileRef companion;
        bool described = false;
        {
            // A picture is tried under several names in several folders: each folder is read
            // once for all of them.
            rh::FileLookupBatch batch;
            DynArray<String> extensions;
            CandidateExtensions(ExtractExtension(request.locator.name),
                                (request.flags & kRequestOtherExtensions) != 0, extensions);
            FileRef resolved;
            if (!(extraPaths != nullptr && ResolveFirst(*extraPaths, extensions, request.locator, resolved)) &&
                !ResolveFirst(*this, extensions, request.locator, resolved)) {
                return nullptr;
            }
            request.locator = resolved;

            if ((request.flags & kRequestNoCompanion) == 0) {
                const String file = ExtractFileName(resolved.name);
                const String extension = ExtractExtension(file);
                if (extension.length() > 0 && !StringEqualsText(extension, "ts") && file.Find(":", 0) < 0) {
                    companion = resolved;
                    companion.name = ConcatStrings(ConcatStringText(ExtractDirectory(resolved.name), "/"),
                                                   ConcatStringText(ExtractBaseName(file), ".ts"));
                    SearchPaths none;
                    described = none.ResolveFile(companion);
                }
            }
        }
        if (described) {
            TextureRequest description = request;
            description.locator = companion;
            description.flags |= kRequestCompanion;
            return Get(description, nullptr);
        }
    }

    if (!request.bypassCache && located) {
        TextureSet* set = nullptr;
        if (files_.Find(request.locator, set) != nullptr) {
            // Oldest first: a request that flags nothing shares the first texture kept for the
            // file, whatever was loaded for it since.
            auto* node = set->first();
            for (int32_t i = 0; i < set->count(); ++i, node = node->next) {
                Texture* texture = node->key;
                if (!texture->Matches(request)) continue;
                Texture* sub = nullptr;
                if (!TakeSub(texture, request, &sub)) continue;
                if (sub != nullptr) sub->AddRef();
                texture->AddRef();
                return sub != nullptr ? sub : texture;
            }
        }
    }
    if (request.lookupOnly) return nullptr;

    auto* texture = new Texture;
    Texture* sub = nullptr;
    if (!texture->Load(request) || !TakeSub(texture, request, &sub)) {
        delete texture;
        return nullptr;
    }
    if (sub != nullptr) sub->AddRef();
    // Kept under the file it came from, so that the next request for it shares it; textures
    // of memory blocks and resources are kept under the empty disk name, where no file request
    // looks.
    Add(texture, located ? request.locator : FileRef(""));
    texture->AddRef();
    return sub != nullptr ? sub : texture;
}

void TextureRegistry::Add(Texture* texture, const FileRef& locator) {
    TextureSet* set = nullptr;
    if (files_.Find(locator, set) == nullptr) {
        set = new TextureSet;
        files_.Insert(locator, set, 1);
    }
    set->InsertIfAbsent(texture);
    LocatorSet* locators = nullptr;
    if (textures_.Find(texture, locators) == nullptr) {
        locators = new LocatorSet;
        textures_.Insert(texture, locators, 1);
    }
    locators->InsertIfAbsent(locator);
}

void TextureRegistry::Remove(Texture* texture) {
    LocatorSet* locators = nullptr;
    if (textures_.Find(texture, locators) == nullptr) return;
    auto* node = locators->first();
    for (int32_t i = 0; i < locators->count(); ++i, node = node->next) {
        TextureSet* set = nullptr;
        if (files_.Find(node->key, set) == nullptr) continue;
        set->Erase(texture);
        if (set->count() == 0) {
            files_.Erase(node->key);
            delete set;
        }
    }
    textures_.Erase(texture);
    delete locators;
}

int32_t TextureRegistry::HeldTextureCount() const {
    int32_t held = 0;
    const auto* node = textures_.first();
    for (int32_t i = 0; i < textures_.count(); ++i, node = node->next) {
        if (node->key->RefCount() > 0) ++held;
    }
    return held;
}

bool TextureRegistry::Holds(Texture* texture) const {
    const auto* node = textures_.first();
    for (int32_t i = 0; i < textures_.count(); ++i, node = node->next) {
        if (node->key == texture) return true;
    }
    return false;
}

Texture* TextureReferences::Keep(Texture* texture) {
    if (texture != nullptr) held_.push_back(texture);
    return texture;
}

void TextureReferences::Adopt(Texture* texture) {
    for (Texture* adopted : adopted_) {
        if (adopted == texture) return;
    }
    adopted_.push_back(texture);
}

void TextureReferences::ReleaseAll() {
    // Newest first. The parent is read before the sub-texture's release and released after
    // it: once the registry is gone the parent's last release deletes it with its subs.
    while (!held_.empty()) {
        Texture* texture = held_.back();
        held_.pop_back();
        Texture* parent = texture->Parent();
        texture->Release();
        if (parent != nullptr) parent->Release();
    }
    for (Texture* texture : adopted_) {
        if (texture->RefCount() == 0) delete texture;
    }
    adopted_.clear();
}

const TextureRegistry::TextureSet* TextureRegistry::TexturesOf(const FileRef& locator) const {
    TextureSet* set = nullptr;
    files_.Find(locator, set);
    return set;
}
