// Skin windows: frame windows drawn from image tiles, textured rectangles each placed by its
// own anchor layout relative to the window or to other tiles and drawn as one screen quad.
// Tiles are grouped into named states; the window shows the tiles of its current state (the
// state with the empty name).
#pragma once

#include "core/containers/ordered_map.h"
#include "core/text/string.h"
#include "gui/anchor_layout.h"
#include "gui/frame_window.h"
#include "render/hardware_buffer.h"
#include "render/material.h"

#include <cstdint>
#include <utility>
#include <vector>

class Mesh;
class SkinWindow;
class Texture;

// One textured rectangle of a skin window: six vertices (x, y, z, u, v) in a 120-byte block
// of a GUI render group.
class ImageTile : public AnchorLayout, public BufferBlockUser {
public:
    static constexpr int32_t kVertexStride = 20;
    static constexpr int32_t kBlockSize = 6 * kVertexStride;

    ImageTile() = default;
    // Gives its render group back.
    ~ImageTile() override;

    bool QueryInterface(int32_t id, void** out) override;

    // A texture the caller keeps alive (a held one is given back first).
    void SetTexture(Texture* texture);
    // A texture from the registry with the references Get added (to it and to its parent),
    // given back when replaced or when the tile goes.
    void HoldTexture(Texture* texture);
    Texture* texture() const { return texture_; }
    void SetTiled(bool x, bool y) {
        tiledX_ = x;
        tiledY_ = y;
    }
    void SetName(const String& name) { name_ = name; }
    const String& name() const { return name_; }
    // The window the tile belongs to (also its layout parent).
    void SetOwner(SkinWindow* owner);
    SkinWindow* owner() const { return owner_; }
    void SetAlphaMode(int32_t mode) { alphaMode_ = mode; }
    int32_t alphaMode() const { return alphaMode_; }
    void SetOpacity(float opacity) { opacity_ = opacity; }
    float opacity() const { return opacity_; }

    // Frees the block and gives the mesh back.
    void ReleaseGroup();
    // A render group and a 120-byte block for the tile (made again when the mesh was hidden);
    // false without an owner or when no mesh or block can be had.
    bool EnsureGroup();
    // The tile's rectangle on the screen, and its part inside the window's clipped screen
    // rectangle; false when nothing of it is inside.
    bool ScreenRect(Rect& unclipped, Rect& clipped) const;
    // Writes the tile's quad for the current viewport; a tile that is not visible writes a
    // quad of no area, so nothing of an earlier place stays on the screen.
    bool BuildQuad();
    // BufferBlockUser: the owner window rebuilds its tiles.
    bool OnBlockMoved(BufferBlock* block) override;

    // The six vertices (x, y, z, u, v) of a tile at `unclipped` drawn inside `clipped`: the
    // texture coordinates span `uv` over the unclipped rectangle (with tiling, 0 .. the
    // rectangle's size over the texture size) and are cut with it; corners at -0.5, in the
    // order left-top, right-top, left-bottom, right-top, right-bottom, left-bottom.
    static void ComputeQuad(const Rect& unclipped, const Rect& clipped, float uMin, float vMin,
                            float uMax, float vMax, bool tiledX, bool tiledY, Point textureSize,
                            float z, float out[30]);

    // The texture a tile binds for `texture`: the picture a part shares its pixels with,
    // else the texture itself.
    static Texture* DrawnTexture(Texture* texture);

    Mesh* mesh() const { return mesh_; }
    BufferBlock* block() const { return block_; }
    MultiMaterial& material() { return material_; }
    RenderContext& context() { return context_; }

private:
    String name_;
    Texture* texture_ = nullptr;
    bool held_ = false;
    bool tiledX_ = false;
    bool tiledY_ = false;
    Mesh* mesh_ = nullptr;
    MultiMaterial material_;
    // The tile's own: made once, not per group.
    RenderContext context_;
    SkinWindow* owner_ = nullptr;
    BufferBlock* block_ = nullptr;
    int32_t alphaMode_ = 0;
    float opacity_ = 1.0f;
};

class SkinWindow : public FrameWindow {
public:
    SkinWindow() = default;
    // Deletes the tiles (each gives its group back).
    ~SkinWindow() override;

    // Enters the tile (owned from now on) unless one of its name is there, and lists its name
    // under the state (once).
    void AddTile(ImageTile* tile, const String& stateName);
    ImageTile* FindTile(const String& name) const;
    // Tile names of a state, or null.
    const std::vector<String>* StateTiles(const String& state) const;
    int32_t TileCount() const { return tiles_.count(); }

    // Builds the quads of the current state's tiles, then cancels the request; true.
    bool OnUpdate() override;
    // The current state's tiles give their groups back, then the frame hides.
    void Hide() override;
    // Tiles whose mode changes give their groups back, and the window asks for an update so
    // that they are drawn again with the new mode.
    void SetAlphaMode(int32_t mode) override;
    // Tiles drawing with the texture factor (mode 1) take the new opacity at once.
    void SetOpacity(float opacity) override;
    // Reads "Tiles" and "States" (both removed from the node), then the frame's keys.
    void LoadSkin(ScriptNode* node);
    void LoadLayout(ScriptNode* node) override { LoadSkin(node); }
    // A tile's block moved: the window asks for an update (or, while its tiles are being
    // written, writes them all again).
    void TileBlockMoved();
    // Anchor slots still waiting for a tile of that name.
    int32_t PendingTileAnchorCount(const String& name) const;

private:
    struct TileSlot {
        ImageTile* tile;
        int32_t index;
    };
    std::vector<String>* StateList(const String& state, bool create);

    bool building_ = false;
    bool movedWhileBuilding_ = false;
    String state_;
    OrderedMap<String, ImageTile*, StringCompare> tiles_;
    std::vector<std::pair<String, std::vector<String>>> stateTiles_;
    std::vector<std::pair<String, std::vector<String>>> stateWords_;
    std::vector<std::pair<String, std::vector<TileSlot>>> pendingTileAnchors_;
};
