// Textures: the engine's one picture resource. A Texture is a Direct3D 9 2D or cube texture
// together with what builds it again after the device is lost (the source bytes, the file name
// or saved pixel levels), plus an atlas layer: named sub-textures that live inside its pixels,
// named animations made of sub-textures, and views that show the current frame of such an
// animation whenever they are drawn.
//
// Every pixel operation goes through D3DX and Direct3D; the texture never decodes a picture
// format itself.
//
// Ownership: a texture owns its sub-textures, its animations and the views made of its
// animations (FindSub), and deletes them with itself. Animations and views point at
// sub-textures without owning them. A sub-texture is told of device loss and restore by its
// parent only, never by the framework: its pixels (or its parent's, which it may share) must
// be rebuilt after the parent's. Top-level textures are reference counted; the texture
// registry holds them (render/texture_registry.h).
//
// Single thread, like every renderer.
#pragma once

#include "core/containers/linked_list.h"
#include "core/containers/ordered_map.h"
#include "core/files/file_ref.h"
#include "core/math/typed_matrix.h"
#include "core/object/ref_counted.h"
#include "core/text/string.h"
#include "core/types/byte_buffer.h"
#include "core/types/point_rect.h"
#include "render/app_framework.h"

#include <d3d9.h>
#include <d3dx9tex.h>

#include <cstdint>
#include <memory>

class Texture;

// How a texture is built again (source flags). The two names are also the "InitFlags" values
// of texture description files.
constexpr int32_t kTextureSaveData = 0x01;  // "SAVE_DATA": from a copy of the file's bytes
constexpr int32_t kTextureSaveName = 0x02;  // "SAVE_NAME": D3DX reads the disk file again
constexpr int32_t kTextureLentData = 0x04;  // from bytes lent by the caller, kept by pointer
constexpr int32_t kTextureEmpty = 0x08;     // no source: the saved levels, if any
constexpr int32_t kTextureDeferred = 0x10;  // the Direct3D texture is made on first use

// TextureRequest::flags.
constexpr int32_t kRequestFormat = 0x01;        // format given; a shared texture must have it
constexpr int32_t kRequestColorKey = 0x02;      // colour key given; ... must have it
constexpr int32_t kRequestSize = 0x04;          // width and height given; ... level-0 size
constexpr int32_t kRequestUsage = 0x08;         // usage given; ... level-0 usage
constexpr int32_t kRequestPool = 0x10;          // pool given; ... level-0 pool
constexpr int32_t kRequestFilters = 0x20;       // filter and mip filter given; ... both
constexpr int32_t kRequestLevels = 0x40;        // levels given; ... level count
constexpr int32_t kRequestId = 0x80;            // a sub-texture or animation by Id
constexpr int32_t kRequestRect = 0x100;         // a sub-texture by rectangle
constexpr int32_t kRequestTexture = 0x200;      // only the held texture's sub-textures
constexpr int32_t kRequestCompanion = 0x400;    // set by the registry for a companion ".ts"
constexpr int32_t kRequestNoCompanion = 0x800;  // do not look for a companion ".ts"
constexpr int32_t kRequestOtherExtensions = 0x1000;  // try the other picture extensions too
// The parameter flags a shared texture must agree with.
constexpr int32_t kRequestParameterFlags = 0x7F;

// What to find, load or create.
struct TextureRequest {
    Texture* texture = nullptr;  // with kRequestTexture: whose sub-textures; not owned
    bool cube = false;
    FileRef locator;  // the picture or description file; the empty locator makes an empty texture
    String id;
    Rect rect;
    int32_t width = 0;
    int32_t height = 0;
    int32_t levels = 0;
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_MANAGED;
    DWORD filter = 0;
    DWORD mipFilter = 0;
    D3DCOLOR colorKey = 0;
    bool bypassCache = false;  // neither share nor be shared by a cached texture
    bool lookupOnly = false;   // only find, never load or create
    bool clearSubs = false;    // handed to the creators
    bool deferred = false;     // a disk file is created on first use
    int32_t flags = 0;
};

// Texture coordinates of a rectangle: left u, top v, right u, bottom v.
struct UvRect {
    float left = 0.0f;
    float top = 0.0f;
    float right = 1.0f;
    float bottom = 1.0f;
};

// Frames in playing order: frame name (the sub-texture's Id) to the sub-texture, not owned.
// A name appears once; the list of a map runs in insertion order.
struct TextureAnimation {
    using Frames = OrderedMap<String, Texture*, StringCompare>;
    Frames frames;
    // The sum of the frames' Delay in milliseconds (Texture::ComputeAnimationLengths), held
    // within the int range.
    int32_t total = 0;
};

// An animation being played, or one picture shown. Views and particles hold one.
struct TexturePlayback {
    TextureAnimation* animation = nullptr;  // null: a still picture
    Texture* frame = nullptr;               // what is shown
    TextureAnimation::Frames::Node* position = nullptr;  // the frame's place in the animation
    uint64_t start = 0;                     // ClockNow milliseconds when the frame began
    int32_t delay = 0;                      // the frame's Delay
    UvRect uv;                              // the frame's GetUVRect

    // Moves to the frame shown at `now`; true when the frame changed. False without an
    // animation or when its total length is 0. Whole cycles are skipped in one step, then
    // frames one by one; after the last frame comes the first.
    bool Advance(uint64_t now);
};

// Where the atlas packer may put a sub-texture.
enum class Placement {
    kMovable,  // the packer may move it to make room
    kPinned,   // being placed right now: nothing may overlap it
    kPlaced,   // placed at a rectangle its description gave; nothing may overlap it
};

class Texture : public DeviceResource, public virtual RefCounted {
public:
    using SubMap = OrderedMap<String, Texture*, StringCompare>;
    using AnimationMap = OrderedMap<String, TextureAnimation*, StringCompare>;

    static constexpr int kMaxLevels = 14;
    static constexpr int kCubeFaces = 6;

    // Empty: source flags kTextureEmpty, no Direct3D texture, Delay 100, filters BOX.
    Texture() = default;
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;
    // Unload with clearSubs; deletes the sub-textures, animations and views it owns.
    ~Texture() override;

    bool QueryInterface(int32_t id, void** out) override;

    // ---- Creation. Each first unloads the texture (clearSubs as given), then registers it as
    // a device resource and fails without a device. With kTextureDeferred in the flags only the
    // parameters are stored. Sizes, levels, format, pool and filters take D3DX's meanings
    // (D3DX_DEFAULT and 0 choose).

    // An empty texture; source flags := flags | kTextureEmpty.
    bool CreateEmpty(int32_t flags, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                     D3DPOOL pool, bool cube, bool clearSubs);
    // From a disk file. kTextureSaveData reads and keeps a copy of its bytes; kTextureLentData
    // fails (there is nothing to lend); otherwise D3DX reads the path (and reads it again on
    // every restore).
    bool CreateFromFile(const String& path, int32_t flags, UINT width, UINT height, UINT levels, DWORD usage,
                        D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                        bool cube, bool clearSubs);
    // From a picture file's bytes. kind kTextureSaveData copies them; kTextureLentData keeps the
    // pointer (the caller keeps the bytes alive as long as the texture); kTextureSaveName fails.
    // kTextureDeferred may be added to either.
    bool CreateFromMemory(const void* data, int32_t size, int32_t kind, UINT width, UINT height, UINT levels,
                          DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                          D3DCOLOR colorKey, bool cube, bool clearSubs);
    // Loads what the request names: a texture description (extension "ts", in lower case
    // only), a disk file, an archive member, resource or memory block, or (empty locator) an
    // empty texture, with the parameters whose request flags are set.
    bool Load(const TextureRequest& request);
    // Releases the Direct3D textures it owns, the source bytes and the saved levels; leaves its
    // parent (a sub-texture or view stands alone afterwards). With clearSubs, a texture without
    // parent also deletes its sub-textures and animations, and its views show the whole
    // texture from then on.
    void Unload(bool clearSubs);

    // Builds the Direct3D texture again from the source flags (also deferred creation), then
    // the sub-textures in map order. A sub-texture that shares its parent's pixels loads its
    // own picture into them at its Rect.
    bool OnDeviceRestore() override;
    // Releases the Direct3D textures it owns (nothing of a parent it shares), then tells its
    // sub-textures.
    bool OnDeviceLost() override;

    // ---- Queries.
    D3DXIMAGE_INFO GetImageInfo() const { return imageInfo_; }
    bool HasAnimations() const { return animations_.count() != 0; }
    // A view whose playback has an animation.
    bool PlaysAnimation() const { return view_ && playback_.animation != nullptr; }
    // The parent, or the texture itself.
    Texture* Owner() { return parent_ != nullptr ? parent_ : this; }
    SubMap& SubTextures() { return subs_; }
    const SubMap& SubTextures() const { return subs_; }
    AnimationMap& Animations() { return animations_; }
    const AnimationMap& Animations() const { return animations_; }
    Texture* Parent() const { return parent_; }
    // Level 0 (for a texture not made yet: what was asked for).
    D3DFORMAT GetFormat() const { return desc_.Format; }
    const D3DSURFACE_DESC& GetDescription() const { return desc_; }
    // Stores a level-0 description, as deferred creation does (and as a test may, to give a
    // texture a size without a device).
    void SetDescription(const D3DSURFACE_DESC& desc) { desc_ = desc; }
    int32_t GetLevels() const { return levels_; }
    bool FormatHasAlpha() const;
    const String& GetId() const { return id_; }
    void SetId(const String& id) { id_ = id; }
    // In pixels inside the parent; a top-level texture's is (0, 0, width, height).
    const Rect& GetRect() const { return rect_; }
    void SetRect(const Rect& rect) { rect_ = rect; }
    // The Rect's size for a texture with a parent, else the level-0 size.
    Point GetSize() const;
    int32_t GetSourceFlags() const { return sourceFlags_; }
    DWORD GetFilter() const { return filter_; }
    DWORD GetMipFilter() const { return mipFilter_; }
    D3DCOLOR GetColorKey() const { return colorKey_; }
    const String& GetFileName() const { return fileName_; }
    bool IsCube() const { return cube_; }
    // Milliseconds shown as an animation frame; never negative.
    int32_t GetDelay() const { return delay_; }
    // A negative delay is stored as 0: a negative frame could make an animation's total
    // negative, and playback would never catch up with the clock.
    void SetDelay(int32_t delay) { delay_ = delay < 0 ? 0 : delay; }
    bool GetParentSpace() const { return parentSpace_; }
    // The sub-texture's pixels live inside its parent's Direct3D texture.
    void SetParentSpace(bool shared) { parentSpace_ = shared; }
    Placement GetPlacement() const { return placement_; }
    void SetPlacement(Placement placement) { placement_ = placement; }
    // "Empty" of the description files: this texture never gets a Direct3D texture of its own.
    bool GetNoTexture() const { return noTexture_; }
    void SetNoTexture(bool none) { noTexture_ = none; }
    bool IsView() const { return view_; }
    const TexturePlayback& Playback() const { return playback_; }
    // Whether the Direct3D texture it holds is its parent's (shared pixels, or a sub-texture
    // made for a request that shows the whole parent). Such a texture never releases it.
    bool SharesParentTexture() const { return parent_ != nullptr && (parentSpace_ || borrowsParent_); }

    // The level's surface with a reference the caller releases; null without a 2D texture or
    // when Direct3D refuses.
    IDirect3DSurface9* GetSurface(UINT level);
    IDirect3DSurface9* GetCubeSurface(D3DCUBEMAP_FACES face, UINT level);
    // Locks the whole level of the 2D texture; true on success.
    bool LockLevel(UINT level, DWORD flags, D3DLOCKED_RECT* locked);
    void UnlockLevel(UINT level);

    // The Rect divided by the parent's level-0 size for a sub-texture that shares its parent's
    // pixels (and a parent of non-zero size); otherwise the whole picture (0, 0, 1, 1).
    UvRect GetUVRect() const;
    // The texture-coordinate transform that maps 0..1 onto GetUVRect, for two-component
    // coordinates: scale in (0,0) and (1,1), offset in row 2 ((2,0), (2,1)), because Direct3D
    // feeds (u, v, 1) through the matrix for D3DTTFF_COUNT2. The identity unless the texture
    // shares its parent's pixels; otherwise of kind general.
    TypedMatrix GetUVMatrix() const;

    // The Direct3D texture to draw with, not add-referenced. A view first advances its playback
    // to ClockNow and answers for the frame shown. A deferred texture (or a sub-texture of a
    // deferred parent) is created here. Null when there is none.
    IDirect3DTexture9* GetTexture2D();
    IDirect3DCubeTexture9* GetCubeTexture();
    // The cube texture for a cube texture, else the 2D one.
    IDirect3DBaseTexture9* GetBaseTexture();

    // Reads the level-0 description and the level count of the Direct3D texture; unless the
    // texture shares its parent's pixels, Rect := (0, 0, width, height); then
    // UpdateSubTextures.
    void RefreshDescription();
    // Copies every level (and face) into the saved levels, so that the texture is rebuilt from
    // them after a device loss. False when a level cannot be read.
    bool SaveLevels();
    // Replaces the picture by its normal map (D3DXComputeNormalMap into `format`). With
    // heightToAlpha and a target format with alpha, the height channel (D3DX_CHANNEL_RED, _GREEN
    // or _BLUE; anything else luminance) goes into alpha as trunc(v / (2^b - 1) * (2^a - 1));
    // a source with no such channel, or a compressed one, keeps the normal map's alpha. The
    // levels are saved, so the result survives device loss. Sub-textures with pixels of their
    // own follow; those sharing the parent's pixels change with it. False on the first failure.
    bool ConvertToNormalMap(D3DFORMAT format, DWORD flags, DWORD channel, float amplitude, bool heightToAlpha);
    // Writes the 2D texture as a DDS file; false without one or when D3DX fails.
    bool SaveToFile(const String& path);

    // ---- Sub-textures, animations and views.

    // The sub-texture of that Id (case counts), or null.
    Texture* FindSubTexture(const String& id) const;
    // With kRequestId alone and an animation of that name: a new view playing it, owned by this
    // texture. Otherwise with kRequestId the sub-texture of that Id; then with kRequestRect the
    // first sub-texture (in map order) of exactly that Rect. Null when none.
    Texture* FindSub(const TextureRequest& request);
    // A new sub-texture for a request FindSub could not serve: with kRequestId it takes the Id,
    // with kRequestRect the Rect and shares this texture's pixels (it shows that rectangle);
    // with an Id alone it shows the whole picture. Added with AddSubTexture; owned here.
    Texture* CreateSub(const TextureRequest& request);
    // Makes `sub` (owned from now on) a sub-texture under its Id, told of device loss and
    // restore by this texture only. One that shares this texture's pixels (ParentSpace) gives up
    // any Direct3D texture of its own for this one's; one without pixels of its own (and not
    // "Empty") shows this whole picture; one with its own keeps them. A different sub-texture
    // already under that Id stays owned here (it may have been handed out) but leaves the map.
    void AddSubTexture(Texture* sub);
    // Erases the map entry of the sub's Id when it holds this very sub (the sub is not deleted).
    void RemoveSubTexture(Texture* sub);
    // Deletes every sub-texture this texture owns; the map is empty afterwards.
    void DeleteSubTextures();
    // Gives every sub-texture that shows this texture's pixels the current Direct3D texture and
    // description, and clips the Rect of each sharing one to the level-0 size. Runs after every
    // (re)creation of this texture's Direct3D texture.
    void UpdateSubTextures();
    // Adds an animation (owned from now on) under its name; one already under that name is
    // deleted. Views playing the old one show the whole texture afterwards.
    void AddAnimation(const String& name, TextureAnimation* animation);
    // Each animation's total := the sum of its frames' Delay (held within the int range).
    void ComputeAnimationLengths();
    // name "": the playback shows this texture; an animation's name starts it at ClockNow; a
    // sub-texture's Id shows it (the animation field is left as it was). False for any other
    // name. On success the playback's uv is the frame's GetUVRect.
    bool StartPlayback(TexturePlayback& playback, const String& name);
    // Makes this texture a view of `parent` playing `name` (StartPlayback on the parent). The
    // view is not entered in the parent's maps; FindSub's views are owned by their parent.
    bool MakeView(Texture* parent, const String& name);

    // The cache match: for each parameter flag the request sets, this texture has that value
    // (level-0 format, colour key, level-0 size, usage and pool, both filters, level count).
    bool Matches(const TextureRequest& request) const;

private:
    friend bool PackSubTexture(Texture* atlas, Texture* sub, LinkedList<Texture*>& placed, int depth);

    // Calls f(sub) for every sub-texture in map order, then for the sub-textures that left the
    // map (an Id taken again) but are still owned here. Views are not visited. f must not add
    // or remove sub-textures.
    template <typename F>
    void ForEachChild(F f) {
        auto* node = subs_.first();
        for (int32_t i = 0; i < subs_.count(); ++i, node = node->next) f(node->value);
        auto* owned = owned_.first();
        for (int32_t i = 0; i < owned_.count(); ++i, owned = owned->next) {
            if (!owned->element->view_) f(owned->element);
        }
    }
    // The stored parameters of a texture before (or instead of) its creation.
    void StoreParameters(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                         bool cube);
    // The texture a draw shows: the frame of a view (advanced to ClockNow), else this one; null
    // for a view that shows nothing.
    Texture* Shown();
    // The views owned here that play `only` (null: every view) show the whole texture instead.
    void ResetViews(const TextureAnimation* only);
    // Inserts into the map under the sub's Id (after the cursor); a different sub-texture under
    // that Id moves to the owned list.
    void InsertSub(Texture* sub);
    // Releases the Direct3D textures unless they are the parent's.
    void ReleaseDeviceTextures();
    // Detaches the texture from its parent: out of the map or the owned list, parent null.
    void LeaveParent();
    void DeleteAnimations();
    // Writes the saved levels into the Direct3D texture just made.
    bool WriteSavedLevels();
    // Reloads a sharing sub-texture's picture into the parent's pixels at its Rect.
    bool ReloadIntoParent();
    // The creation step of OnDeviceRestore for a texture with pixels of its own.
    bool CreateDeviceTexture();
    bool CreateFromFileData();
    bool CopyHeightToAlpha(Texture& normals, DWORD channel);

    D3DSURFACE_DESC desc_{};
    bool noTexture_ = false;
    IDirect3DTexture9* texture2D_ = nullptr;
    bool cube_ = false;
    IDirect3DCubeTexture9* cubeTexture_ = nullptr;
    D3DXIMAGE_INFO imageInfo_{};
    // The source bytes: the owned copy (kTextureSaveData) or the caller's block (lent).
    ByteBuffer ownedData_;
    const uint8_t* data_ = nullptr;
    int32_t dataSize_ = 0;
    String fileName_;
    ByteBuffer savedLevels_[kMaxLevels];
    // A cube texture's saved levels, made when a cube first saves them: most textures are flat,
    // and the 84 empty buffers would cost each of them two kilobytes.
    struct SavedCubeLevels {
        ByteBuffer levels[kCubeFaces][kMaxLevels];
    };
    std::unique_ptr<SavedCubeLevels> savedCubeLevels_;
    int32_t sourceFlags_ = kTextureEmpty;
    int32_t levels_ = 0;
    DWORD filter_ = D3DX_FILTER_BOX;
    DWORD mipFilter_ = D3DX_FILTER_BOX;
    D3DCOLOR colorKey_ = 0;
    Texture* parent_ = nullptr;
    bool parentSpace_ = false;
    // Shows the parent's whole picture through the parent's Direct3D texture (CreateSub by Id).
    bool borrowsParent_ = false;
    SubMap subs_;
    // Owned textures outside the map: views made by FindSub and sub-textures that an Id taken
    // again pushed out of the map (they may have been handed out).
    LinkedList<Texture*> owned_;
    Placement placement_ = Placement::kMovable;
    String id_;
    int32_t delay_ = 100;
    Rect rect_;
    AnimationMap animations_;
    TexturePlayback playback_;
    bool view_ = false;
};

// ---- The atlas packer.

// What a candidate rectangle would cost (ScorePlacement).
struct PlacementScore {
    bool valid = true;
    // The summed areas of the movable sub-textures it overlaps.
    int64_t overlap = 0;
    // 8, less 2 for every corner it shares with the atlas or with a sub-texture it touches
    // along an edge: lower fits snugger.
    int32_t score = 8;
    // The movable sub-textures it overlaps, in map order.
    LinkedList<Texture*> overlapped;
};

// Scores `candidate` (corners, in atlas pixels) against the atlas's level-0 size and the
// sub-textures that share its pixels. Invalid outside the atlas or over a pinned or placed
// sub-texture.
PlacementScore ScorePlacement(const Texture& atlas, const Rect& candidate);

// Places `sub` (sized by its Rect, which a fresh sub-texture has as (0, 0, width, height))
// inside the atlas, among the sub-textures that share the atlas's pixels. Candidates: the four
// atlas corners, then eight around every such sub-texture in map order; the best has the
// least overlap, then the lowest score, the first on ties. At depth 0 nothing is moved; above,
// overlapped movable sub-textures are taken out and placed again at depth - 1 around the new
// one, which is pinned meanwhile. True: sub's Rect is set, it is in the atlas's map, and it and
// every moved sub-texture are appended to `placed`. False (no room, an atlas that has a parent
// itself, or an Id another sub-texture holds): every Rect, the map's members and `placed` are
// as before the call. The caller then loads every texture of `placed` into the atlas again.
bool PackSubTexture(Texture* atlas, Texture* sub, LinkedList<Texture*>& placed, int depth);
