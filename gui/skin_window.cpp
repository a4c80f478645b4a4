#include "gui/skin_window.h"

#include "core/debug/debug_trace.h"
#include "core/script/script_node.h"
#include "gui/gui_root.h"
#include "render/app_framework.h"
#include "render/geometry.h"
#include "render/mesh.h"
#include "render/texture.h"
#include "render/texture_registry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace {

int32_t Saturate(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int32_t ReadInt(const ScriptNode* node) {
    if (node == nullptr || node->value.length() == 0 || !IsNumber(node->value)) return 0;
    return TruncateToInt(node->AsDouble());
}

float ReadFloat(const ScriptNode* node, float fallback) {
    if (node == nullptr || node->value.length() == 0 || !IsNumber(node->value)) return fallback;
    const double v = node->AsDouble();
    if (std::isnan(v)) return 0.0f;
    return static_cast<float>(std::max(-3.0e38, std::min(v, 3.0e38)));
}

// An integer b, or an object {b integer, k float (default)}.
void ReadSpec(const ScriptNode* node, float defaultK, float& b, float& k) {
    b = 0.0f;
    k = defaultK;
    if (node == nullptr) return;
    if (node->kind == ScriptNode::kObject) {
        b = static_cast<float>(ReadInt(node->Child("b")));
        k = ReadFloat(node->Child("k"), 1.0f);
    } else {
        b = static_cast<float>(ReadInt(node));
        k = 0.0f;
    }
}

int32_t AnchorIndex(const String& name) {
    static const char* const kNames[] = {"X1", "Y1", "X2", "Y2", "W1", "H1", "W2", "H2"};
    for (int32_t i = 0; i < 8; ++i) {
        if (CompareStrings(name, String(kNames[i])) == 0) return i;
    }
    return 0;
}

void EraseChild(ScriptNode* node, const char* key) {
    ScriptNode* child = node->Child(key);
    if (child != nullptr) delete node->Erase(child->name);
}

bool Intersect(const Rect& a, const Rect& b, Rect& out) {
    const int64_t l = std::max<int64_t>(a.left, b.left);
    const int64_t t = std::max<int64_t>(a.top, b.top);
    const int64_t r = std::min<int64_t>(int64_t{a.left} + a.right, int64_t{b.left} + b.right);
    const int64_t bt = std::min<int64_t>(int64_t{a.top} + a.bottom, int64_t{b.top} + b.bottom);
    if (r <= l || bt <= t) return false;
    out = Rect(Saturate(l), Saturate(t), Saturate(r - l), Saturate(bt - t));
    return true;
}

}  // namespace

// ---- ImageTile ----

ImageTile::~ImageTile() {
    ReleaseGroup();
    SetTexture(nullptr);
}

void ImageTile::SetTexture(Texture* texture) {
    if (held_ && texture_ != nullptr) {
        if (texture_->Parent() != nullptr) texture_->Parent()->Release();
        texture_->Release();
    }
    texture_ = texture;
    held_ = false;
}

void ImageTile::HoldTexture(Texture* texture) {
    SetTexture(texture);
    held_ = texture != nullptr;
}

bool ImageTile::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<ImageTile, AnchorLayout>(this, id, out);
}

void ImageTile::SetOwner(SkinWindow* owner) {
    owner_ = owner;
    SetParent(owner);
}

// A part that shares its picture's pixels is drawn from the picture itself, its rectangle
// carried by the quad's texture coordinates. Bound as the part, the material would also apply
// the part's texture transform (placing it twice), and tiles cut from one picture, which share
// a mesh (their materials compare equal by the picture), would all be drawn with the first
// tile's transform.
Texture* ImageTile::DrawnTexture(Texture* texture) {
    if (texture != nullptr && texture->GetParentSpace() && texture->Parent() != nullptr && !texture->IsView()) {
        return texture->Parent();
    }
    return texture;
}

void ImageTile::ReleaseGroup() {
    if (owner_ == nullptr) return;
    if (block_ != nullptr) block_->Free();
    block_ = nullptr;
    g_guiRoot.ReleaseRenderGroup(owner_, mesh_, &material_);
    mesh_ = nullptr;
}

bool ImageTile::EnsureGroup() {
    if (owner_ == nullptr) return false;
    if (mesh_ == nullptr || mesh_->IsHidden()) {
        ReleaseGroup();
        context_.world = IdentityMatrix();
        context_.view = IdentityMatrix();
        material_.SetRenderContext(&context_);
        SubMaterial& sub = material_.sub(0);
        sub.opacity = opacity_;
        sub.maps[kDiffuseMap].texture = DrawnTexture(texture_);
        sub.stages[0].map.texture = sub.maps[kDiffuseMap].texture;
        // An axis that does not repeat is clamped, so its edge texels do not take in the
        // opposite edge under linear filtering.
        sub.stages[0].map.addressU = tiledX_ ? D3DTADDRESS_WRAP : D3DTADDRESS_CLAMP;
        sub.stages[0].map.addressV = tiledY_ ? D3DTADDRESS_WRAP : D3DTADDRESS_CLAMP;
        sub.maps[kDiffuseMap].addressU = sub.stages[0].map.addressU;
        sub.maps[kDiffuseMap].addressV = sub.stages[0].map.addressV;
        material_.BuildStageCombination();
        // After the combination, which leaves every stage's alpha automatic (the texture's
        // alpha): mode 0 must make the tile opaque, or no tile would ever share a mesh.
        sub.stages[0].SetAlphaSource(alphaMode_);
        // What draws with alpha blends over what lies behind it.
        sub.blendEnable = material_.HasAlpha(-1);
        GeometryDesc desc;
        desc.primitiveType = D3DPT_TRIANGLELIST;
        desc.format.SetFromFVF(D3DFVF_XYZ | D3DFVF_TEX1);
        desc.streams[0].format = desc.format;
        desc.streams[0].stride = kVertexStride;
        desc.streams[0].size = kBlockSize;
        mesh_ = g_guiRoot.CreateRenderGroup(owner_, desc, &material_);
        if (mesh_ == nullptr) return false;
    }
    if (block_ != nullptr && block_->size() == kBlockSize) return true;
    if (block_ != nullptr) block_->Free();
    block_ = nullptr;
    if (mesh_->GetGeometry().Get() == nullptr) return false;
    GrowableBuffer* buffer = mesh_->GetGeometry().Get()->streamBuffer(0);
    if (buffer == nullptr) return false;
    block_ = buffer->AllocateBlock(kBlockSize, 0, this);
    return block_ != nullptr;
}

bool ImageTile::ScreenRect(Rect& unclipped, Rect& clipped) const {
    Rect windowUnclipped, windowClipped;
    bool inside = owner_ != nullptr && owner_->ScreenRect(windowUnclipped, windowClipped);
    unclipped = Rect(Saturate(int64_t{rect().left} + windowUnclipped.left),
                     Saturate(int64_t{rect().top} + windowUnclipped.top), rect().right, rect().bottom);
    if (inside && Intersect(unclipped, windowClipped, clipped)) return true;
    clipped = Rect(unclipped.left, unclipped.top, 0, 0);
    return false;
}

void ImageTile::ComputeQuad(const Rect& unclipped, const Rect& clipped, float uMin, float vMin,
                            float uMax, float vMax, bool tiledX, bool tiledY, Point textureSize,
                            float z, float out[30]) {
    if (tiledX) {
        uMin = 0.0f;
        uMax = textureSize.x > 0 ? static_cast<float>(unclipped.right) / static_cast<float>(textureSize.x) : 1.0f;
    }
    if (tiledY) {
        vMin = 0.0f;
        vMax = textureSize.y > 0 ? static_cast<float>(unclipped.bottom) / static_cast<float>(textureSize.y) : 1.0f;
    }
    // Linear from the unclipped rectangle's edges to the clipped one's.
    auto along = [](double from, double size, double at, float a, float b) {
        if (size <= 0) return a;
        return static_cast<float>(a + (b - a) * ((at - from) / size));
    };
    const double l = clipped.left, t = clipped.top;
    const double r = static_cast<double>(clipped.left) + clipped.right;
    const double b = static_cast<double>(clipped.top) + clipped.bottom;
    const float u0 = along(unclipped.left, unclipped.right, l, uMin, uMax);
    const float u1 = along(unclipped.left, unclipped.right, r, uMin, uMax);
    const float v0 = along(unclipped.top, unclipped.bottom, t, vMin, vMax);
    const float v1 = along(unclipped.top, unclipped.bottom, b, vMin, vMax);
    const float x0 = static_cast<float>(l - 0.5), x1 = static_cast<float>(r - 0.5);
    const float y0 = static_cast<float>(t - 0.5), y1 = static_cast<float>(b - 0.5);
    const float v[30] = {x0, y0, z, u0, v0, x1, y0, z, u1, v0, x0, y1, z, u0, v1,
                         x1, y0, z, u1, v0, x1, y1, z, u1, v1, x0, y1, z, u0, v1};
    std::memcpy(out, v, sizeof v);
}

bool ImageTile::BuildQuad() {
    if (!EnsureGroup()) return false;
    SkinWindow* w = owner_;
    mesh_->properties().SetIntProperty("z", w->BackDepthBelowTop());
    Rect unclipped, clipped;
    float vertices[30] = {};
    if (ScreenRect(unclipped, clipped)) {
        D3DVIEWPORT9 viewport{};
        if (g_device != nullptr) g_device->GetViewport(&viewport);
        TypedMatrix projection = IdentityMatrix();
        if (viewport.Width > 0 && viewport.Height > 0) {
            projection.At(0, 0) = 1.0f / (static_cast<float>(viewport.Width) * 0.5f);
            projection.At(1, 1) = -1.0f / (static_cast<float>(viewport.Height) * 0.5f);
            projection.At(3, 0) = -1.0f;
            projection.At(3, 1) = 1.0f;
            projection.kind = kMatrixGeneral;
        }
        context_.projection = projection;
        // The coordinates span the texture's own rectangle in the picture it is drawn from
        // (see DrawnTexture).
        UvRect uv;
        Point size(1, 1);
        if (texture_ != nullptr) {
            uv = texture_->GetUVRect();
            size = texture_->GetSize();
        }
        ImageTile::ComputeQuad(unclipped, clipped, uv.left, uv.top, uv.right, uv.bottom, tiledX_,
                               tiledY_, size, g_guiRoot.DepthToZ(w->FrontDepth()), vertices);
    }
    // A tile that is not visible leaves a quad of no area, not its old one.
    void* data = nullptr;
    if (!block_->Lock(0, &data)) return false;
    std::memcpy(data, vertices, sizeof vertices);
    return block_->Unlock();
}

bool ImageTile::OnBlockMoved(BufferBlock* /*block*/) {
    if (owner_ != nullptr) owner_->TileBlockMoved();
    return true;
}

// ---- SkinWindow ----

SkinWindow::~SkinWindow() {
    auto* node = tiles_.first();
    for (int32_t i = 0; i < tiles_.count(); ++i, node = node->next) delete node->value;
    tiles_.Clear();
}

std::vector<String>* SkinWindow::StateList(const String& state, bool create) {
    for (auto& entry : stateTiles_) {
        if (CompareStrings(entry.first, state) == 0) return &entry.second;
    }
    if (!create) return nullptr;
    stateTiles_.emplace_back(state, std::vector<String>());
    return &stateTiles_.back().second;
}

const std::vector<String>* SkinWindow::StateTiles(const String& state) const {
    return const_cast<SkinWindow*>(this)->StateList(state, false);
}

void SkinWindow::AddTile(ImageTile* tile, const String& stateName) {
    if (tile == nullptr) return;
    if (tiles_.ValueRef(tile->name()) == nullptr) {
        tiles_.Insert(tile->name(), tile, 1);
        tile->SetOwner(this);
    }
    std::vector<String>* list = StateList(stateName, true);
    for (const String& name : *list) {
        if (CompareStrings(name, tile->name()) == 0) return;
    }
    list->push_back(tile->name());
}

ImageTile* SkinWindow::FindTile(const String& name) const { return tiles_.ValueRef(name); }

void SkinWindow::TileBlockMoved() {
    if (building_) {
        movedWhileBuilding_ = true;
    } else {
        RequestUpdate(true, false);
    }
}

bool SkinWindow::OnUpdate() {
    // A tile's block may grow the shared buffer and move the blocks of tiles written before
    // it; the update asked for then would be cancelled below with the one running, leaving
    // those tiles unwritten. Such tiles are written again here instead.
    for (int round = 0; round < 4; ++round) {
        building_ = true;
        movedWhileBuilding_ = false;
        if (const std::vector<String>* list = StateList(state_, false)) {
            for (const String& name : *list) {
                if (ImageTile* tile = FindTile(name)) tile->BuildQuad();
            }
        }
        building_ = false;
        if (!movedWhileBuilding_) break;
    }
    CancelUpdate();
    return true;
}

void SkinWindow::Hide() {
    if (const std::vector<String>* list = StateList(state_, false)) {
        for (const String& name : *list) {
            if (ImageTile* tile = FindTile(name)) tile->ReleaseGroup();
        }
    }
    FrameWindow::Hide();
}

void SkinWindow::SetAlphaMode(int32_t mode) {
    bool released = false;
    auto* node = tiles_.first();
    for (int32_t i = 0; i < tiles_.count(); ++i, node = node->next) {
        ImageTile* tile = node->value;
        if (tile->mesh() != nullptr && tile->alphaMode() != mode) {
            tile->ReleaseGroup();
            released = true;
        }
        tile->SetAlphaMode(mode);
    }
    // The released tiles come back only through an update.
    if (released) RequestUpdate(true, false);
}

void SkinWindow::SetOpacity(float opacity) {
    auto* node = tiles_.first();
    for (int32_t i = 0; i < tiles_.count(); ++i, node = node->next) {
        ImageTile* tile = node->value;
        if (tile->mesh() != nullptr && tile->alphaMode() == 1) tile->material().sub(0).opacity = opacity;
        tile->SetOpacity(opacity);
    }
}

int32_t SkinWindow::PendingTileAnchorCount(const String& name) const {
    for (const auto& entry : pendingTileAnchors_) {
        if (CompareStrings(entry.first, name) == 0) return static_cast<int32_t>(entry.second.size());
    }
    return 0;
}

void SkinWindow::LoadSkin(ScriptNode* node) {
    if (node == nullptr) return;
    // A waiting anchor: which tile, which anchor, and what it will attach with.
    struct Waiting {
        ImageTile* tile;
        int32_t index;
        int32_t align;
        float b, k;
    };
    std::vector<std::pair<String, std::vector<Waiting>>> waiting;
    ScriptNode* tilesNode = node->Child("Tiles");
    if (tilesNode != nullptr && tilesNode->kind == ScriptNode::kObject) {
        // First pass: every named tile exists before any anchor is read.
        auto* child = tilesNode->first();
        for (int32_t i = 0; i < tilesNode->count(); ++i, child = child->next) {
            if (FindTile(child->key) != nullptr) continue;
            auto* tile = new ImageTile();
            tile->SetName(child->key);
            tiles_.Insert(child->key, tile, 1);
            tile->SetOwner(this);
        }
        child = tilesNode->first();
        for (int32_t i = 0; i < tilesNode->count(); ++i, child = child->next) {
            ScriptNode* desc = child->value;
            ImageTile* tile = FindTile(child->key);
            if (tile == nullptr || desc == nullptr) continue;
            // Slots of an earlier load waiting for this name.
            for (size_t p = 0; p < pendingTileAnchors_.size(); ++p) {
                if (CompareStrings(pendingTileAnchors_[p].first, child->key) != 0) continue;
                for (const TileSlot& slot : pendingTileAnchors_[p].second) slot.tile->RetargetAnchor(slot.index, tile);
                pendingTileAnchors_.erase(pendingTileAnchors_.begin() + static_cast<ptrdiff_t>(p));
                break;
            }
            if (ScriptNode* texture = desc->Child("texture")) {
                const std::string text = texture->value.Text();
                const size_t colon = text.find(':');
                TextureRequest request;
                request.locator = FileRef(String(text.substr(0, colon).c_str()));
                if (colon != std::string::npos) {
                    request.id = String(text.substr(colon + 1).c_str());
                    request.flags |= kRequestId;
                } else if (ScriptNode* r = desc->Child("texrect")) {
                    const int32_t x1 = ReadInt(r->Child("x1")), y1 = ReadInt(r->Child("y1"));
                    const int32_t w = r->Child("w") != nullptr ? ReadInt(r->Child("w")) : ReadInt(r->Child("x2"));
                    const int32_t h = r->Child("h") != nullptr ? ReadInt(r->Child("h")) : ReadInt(r->Child("y2"));
                    // The description gives a size; a texture's rectangle has corners.
                    request.rect = Rect(x1, y1, Saturate(int64_t{x1} + w), Saturate(int64_t{y1} + h));
                    request.flags |= kRequestRect;
                }
                tile->HoldTexture(g_textureRegistry.Get(request, nullptr));
            }
            tile->SetTiled((ReadInt(desc->Child("tiledx")) & 1) != 0, (ReadInt(desc->Child("tiledy")) & 1) != 0);
            float b = 0, k = 0;
            ReadSpec(desc->Child("width"), 1.0f, b, k);
            tile->SetWidthSpec(b, k);
            ReadSpec(desc->Child("height"), 1.0f, b, k);
            tile->SetHeightSpec(b, k);
            AnchorLayout* targets[8] = {};
            int32_t aligns[8] = {};
            float offB[8] = {}, offK[8] = {};
            bool present[8] = {};
            if (ScriptNode* anchors = desc->Child("anchors")) {
                auto* a = anchors->first();
                for (int32_t j = 0; j < anchors->count(); ++j, a = a->next) {
                    const int32_t index = AnchorIndex(a->key);
                    ScriptNode* an = a->value;
                    present[index] = true;
                    aligns[index] = an != nullptr && an->Child("align") != nullptr
                                        ? AnchorIndex(an->Child("align")->value)
                                        : 0;
                    ReadSpec(an != nullptr ? an->Child("offset") : nullptr, 0.0f, offB[index], offK[index]);
                    const String target = an != nullptr && an->Child("tile") != nullptr ? an->Child("tile")->value : String();
                    if (CompareStrings(target, String("PARENT")) == 0) {
                        targets[index] = this;
                    } else if (ImageTile* other = FindTile(target)) {
                        targets[index] = other;
                    } else if (index < 4) {
                        // Waits for a tile of that name (a later load may bring it).
                        bool filed = false;
                        for (auto& entry : waiting) {
                            if (CompareStrings(entry.first, target) == 0) {
                                entry.second.push_back({tile, index, aligns[index], offB[index], offK[index]});
                                filed = true;
                            }
                        }
                        if (!filed) waiting.push_back({target, {{tile, index, aligns[index], offB[index], offK[index]}}});
                    }
                }
            }
            for (int32_t index = 0; index < 4; ++index) {
                if (present[index] && targets[index] != nullptr) {
                    tile->SetAnchor(targets[index], aligns[index], offB[index], offK[index], index);
                }
            }
            if (targets[4] != nullptr && targets[6] != nullptr) {
                tile->SetWidthAnchors(targets[4], aligns[4], targets[6], aligns[6], offB[4], offK[4]);
            }
            if (targets[5] != nullptr && targets[7] != nullptr) {
                tile->SetHeightAnchors(targets[5], aligns[5], targets[7], aligns[7], offB[5], offK[5]);
            }
            AddTile(tile, String());
        }
    }
    EraseChild(node, "Tiles");
    // Anchors whose tile never came: attached to this window for now, and retargeted when a
    // tile of that name is loaded.
    for (auto& entry : waiting) {
        std::vector<TileSlot> slots;
        for (const Waiting& w : entry.second) {
            w.tile->SetAnchor(this, w.align, w.b, w.k, w.index);
            slots.push_back({w.tile, w.index});
        }
        pendingTileAnchors_.emplace_back(entry.first, std::move(slots));
    }
    if (ScriptNode* states = node->Child("States"); states != nullptr && states->kind == ScriptNode::kObject) {
        auto* s = states->first();
        for (int32_t i = 0; i < states->count(); ++i, s = s->next) {
            std::vector<String>* list = StateList(s->key, true);
            list->clear();
            if (ScriptNode* names = s->value != nullptr ? s->value->Child("tiles") : nullptr) {
                auto* n = names->first();
                for (int32_t j = 0; j < names->count(); ++j, n = n->next) {
                    if (n->value != nullptr) list->push_back(n->value->value);
                }
            }
            std::vector<String> words;
            const std::string name = s->key.Text();
            size_t start = 0;
            while (true) {
                const size_t end = name.find('_', start);
                words.push_back(String(name.substr(start, end - start).c_str()));
                if (end == std::string::npos) break;
                start = end + 1;
            }
            stateWords_.emplace_back(s->key, std::move(words));
        }
    }
    EraseChild(node, "States");
    if (pendingTileAnchors_.empty()) {
        auto* t = tiles_.first();
        for (int32_t i = 0; i < tiles_.count(); ++i, t = t->next) t->value->Recalculate(true, true);
        ReserveOwnSlots(1);
        UpdateDepthRange();
    } else {
        DebugTrace("skin tile anchors wait for tiles that were not described\n");
    }
    FrameWindow::LoadLayout(node);
}
