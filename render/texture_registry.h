// The texture registry: the engine's one texture manager. Scene loader, particles, fonts, rich
// text and skins get their textures from it by file name. It finds the picture under its
// extension (or others), in extra search paths and its own; prefers a description file (".ts")
// found beside a picture; shares a texture already loaded from the same file when the flagged
// parameters agree; and otherwise loads a new one and keeps it.
//
// Ownership: the registry keeps every texture it loaded (or was given with Add) until Remove
// or its own destruction; holders share them by reference count (Get adds one, the holder
// releases it). At destruction the textures nobody holds are deleted; one still held is
// deleted when its last holder releases it, so managers destroyed later (fonts) keep valid
// pictures to the end.
#pragma once

#include "core/containers/dyn_array.h"
#include "core/containers/ordered_map.h"
#include "core/files/file_ref.h"
#include "core/files/search_paths.h"
#include "render/texture.h"

#include <vector>

// The registry's own directories and archives are its SearchPaths part, filled by the
// application.
class TextureRegistry : public SearchPaths {
public:
    using TextureSet = OrderedSet<Texture*>;
    using LocatorSet = OrderedSet<FileRef, FileRefOrder>;

    TextureRegistry() = default;
    TextureRegistry(const TextureRegistry&) = delete;
    TextureRegistry& operator=(const TextureRegistry&) = delete;
    // Deletes every kept texture that nobody holds; see the file comment for the others.
    ~TextureRegistry();

    // The texture (or sub-texture, or view) the request names, with one reference added (to a
    // sub-texture and to its texture both); null when the file is not found under any
    // candidate extension, when loading fails, when a requested sub-texture neither exists nor
    // may be made, or, lookup-only, when nothing shared serves. extraPaths (may be null) are
    // tried before the registry's own. The request is changed in place: its locator becomes
    // the resolved one, and the companion rule may add kRequestId and an Id.
    //
    // Sharing: a texture loaded from a disk file or archive member serves a later request for
    // the same resolved file whose flagged parameters it has. Requests for memory blocks and
    // resources never share (they name no file to compare), nor do bypass-cache requests.
    Texture* Get(TextureRequest& request, SearchPaths* extraPaths);
    // A search folder or archive (SearchPaths::Add), beside the registration below.
    using SearchPaths::Add;
    // Registers the texture under the locator too (each index entry once).
    void Add(Texture* texture, const FileRef& locator);
    // Forgets the texture under every locator; it is neither released nor deleted.
    void Remove(Texture* texture);

    // The textures registered under the locator (null when none): for tests and inspection.
    const TextureSet* TexturesOf(const FileRef& locator) const;
    // How many textures the registry keeps.
    int32_t TextureCount() const { return textures_.count(); }
    // Of those, the ones some holder still holds (a reference count above 0).
    int32_t HeldTextureCount() const;
    // Whether the texture is in the registry's index (it deletes it at exit).
    bool Holds(Texture* texture) const;

private:
    // For a texture loaded or shared for the request: the companion rule, then the sub-texture
    // or view the request names (found or, unless lookup-only, made). False when a sub-texture
    // was asked for and none serves.
    static bool TakeSub(Texture* texture, TextureRequest& request, Texture** sub);

    OrderedMap<FileRef, TextureSet*, FileRefOrder> files_;
    OrderedMap<Texture*, LocatorSet*> textures_;
};

// The one registry, from static construction to exit.
extern TextureRegistry g_textureRegistry;

// References taken with TextureRegistry::Get by one holder (a scene, an emitter), given back
// together, once: each entry releases the texture and, for a sub-texture or view, its parent
// too (Get counted both). Materials only point at textures, so whoever fills them keeps the
// references here. A texture taken out of the registry (Remove with no later Add) has no
// other owner: handed over with Adopt, it is deleted when its last reference goes.
class TextureReferences {
public:
    TextureReferences() = default;
    TextureReferences(const TextureReferences&) = delete;
    TextureReferences& operator=(const TextureReferences&) = delete;
    ~TextureReferences() { ReleaseAll(); }

    // Keeps the reference Get added to the texture (null is ignored); returns the texture.
    Texture* Keep(Texture* texture);
    // The texture (kept before) belongs to this holder, not to the registry.
    void Adopt(Texture* texture);
    void ReleaseAll();
    int32_t count() const { return static_cast<int32_t>(held_.size()); }

private:
    std::vector<Texture*> held_;
    std::vector<Texture*> adopted_;
};

// The extensions tried for a requested name, in order, into `out` (emptied first): without
// `others` only the requested one; with it "tga", "jpg", "dds", "bmp", "png", where a listed
// requested extension (case counts) swaps places with "tga", and any other takes the first
// place with "tga" moved to the end.
void CandidateExtensions(const String& requested, bool others, DynArray<String>& out);
