// The atlas layer of Texture: sub-textures, animations, views and playback, and the packer
// that places sub-textures inside an atlas's pixels.

#include "core/bounds/range_intersection.h"
#include "core/time/clock.h"
#include "render/texture.h"

#include <cstdint>

// ---- Sub-textures

Texture* Texture::FindSubTexture(const String& id) const {
    Texture* sub = nullptr;
    subs_.Find(id, sub);
    return sub;
}

Texture* Texture::FindSub(const TextureRequest& request) {
    const bool byId = (request.flags & kRequestId) != 0;
    const bool byRect = (request.flags & kRequestRect) != 0;
    if (byId && !byRect) {
        TextureAnimation* animation = nullptr;
        if (animations_.Find(request.id, animation) != nullptr) {
            Texture* view = new Texture;
            if (view->MakeView(this, request.id)) {
                owned_.Append(view);
                return view;
            }
            delete view;
        }
    }
    if (byId) {
        if (Texture* sub = FindSubTexture(request.id)) return sub;
    }
    if (byRect) {
        Texture* found = nullptr;
        ForEachChild([&](Texture* sub) {
            if (found == nullptr && RectsEqual(sub->rect_, request.rect)) found = sub;
        });
        return found;
    }
    return nullptr;
}

Texture* Texture::CreateSub(const TextureRequest& request) {
    auto* sub = new Texture;
    if ((request.flags & kRequestId) != 0) sub->id_ = request.id;
    if ((request.flags & kRequestRect) != 0) {
        // A requested rectangle of the picture: the sub-texture shows those pixels of this
        // texture's, through its UV rectangle.
        sub->rect_ = request.rect;
        sub->parentSpace_ = true;
    }
    AddSubTexture(sub);
    return sub;
}

void Texture::AddSubTexture(Texture* sub) {
    // From now on this texture tells the sub-texture of device loss and restore, after its own.
    UnregisterDeviceResource(sub);
    if (sub->parent_ != this) {
        // A sub-texture that shares this texture's pixels gives up any of its own.
        if (sub->parentSpace_) sub->ReleaseDeviceTextures();
        sub->parent_ = this;
    }
    if (sub->parentSpace_) {
        sub->texture2D_ = texture2D_;
        sub->desc_ = desc_;
    } else if (sub->texture2D_ == nullptr && sub->cubeTexture_ == nullptr && !sub->noTexture_) {
        // Nothing of its own to show: it shows this whole picture, and never releases it.
        sub->borrowsParent_ = true;
        sub->texture2D_ = texture2D_;
        sub->desc_ = desc_;
    }
    InsertSub(sub);
}

void Texture::InsertSub(Texture* sub) {
    Texture* holder = nullptr;
    if (subs_.Find(sub->id_, holder) != nullptr && holder != sub) owned_.Append(holder);
    subs_.Insert(sub->id_, sub, 1);
}

void Texture::RemoveSubTexture(Texture* sub) {
    Texture* holder = nullptr;
    if (sub != nullptr && subs_.Find(sub->id_, holder) != nullptr && holder == sub) subs_.Erase(sub->id_);
}

void Texture::DeleteSubTextures() {
    // Each leaves the map or list before it is deleted, so its own clean-up finds nothing to
    // erase here.
    while (subs_.count() > 0) {
        subs_.SetCursor(subs_.first());
        delete subs_.EraseAtCursor();
    }
    LinkedList<Texture*> views;
    while (owned_.count() > 0) {
        Texture* owned = owned_.Pop();
        if (owned->view_) {
            views.Append(owned);
        } else {
            delete owned;
        }
    }
    owned_ = views;
}

void Texture::UpdateSubTextures() {
    const Rect whole(0, 0, static_cast<int32_t>(desc_.Width), static_cast<int32_t>(desc_.Height));
    ForEachChild([&](Texture* sub) {
        if (!sub->SharesParentTexture()) return;
        sub->texture2D_ = texture2D_;
        sub->desc_ = desc_;
        if (sub->parentSpace_) {
            Rect clipped;
            if (IntersectRects(sub->rect_, whole, clipped, false)) sub->rect_ = clipped;
        }
    });
}

// ---- Animations and views

void Texture::ResetViews(const TextureAnimation* only) {
    auto* node = owned_.first();
    for (int32_t i = 0; i < owned_.count(); ++i, node = node->next) {
        Texture* view = node->element;
        if (!view->view_ || (only != nullptr && view->playback_.animation != only)) continue;
        view->playback_ = TexturePlayback{};
        view->playback_.frame = this;
        view->playback_.uv = GetUVRect();
    }
}

void Texture::AddAnimation(const String& name, TextureAnimation* animation) {
    TextureAnimation* old = nullptr;
    if (animations_.Find(name, old) != nullptr && old != animation) {
        ResetViews(old);
        delete old;
    }
    animations_.Insert(name, animation, 1);
}

void Texture::DeleteAnimations() {
    if (animations_.count() == 0) return;
    auto* node = animations_.first();
    for (int32_t i = 0; i < animations_.count(); ++i, node = node->next) ResetViews(node->value);
    animations_.DeleteAll();
}

void Texture::ComputeAnimationLengths() {
    auto* node = animations_.first();
    for (int32_t i = 0; i < animations_.count(); ++i, node = node->next) {
        TextureAnimation* animation = node->value;
        int64_t total = 0;
        auto* frame = animation->frames.first();
        for (int32_t f = 0; f < animation->frames.count(); ++f, frame = frame->next) {
            total += frame->value->GetDelay();
        }
        animation->total = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
    }
}

bool Texture::StartPlayback(TexturePlayback& playback, const String& name) {
    TextureAnimation* animation = nullptr;
    if (name.length() == 0) {
        playback.frame = this;
    } else if (animations_.Find(name, animation) != nullptr && animation->frames.count() > 0) {
        playback.animation = animation;
        playback.position = animation->frames.first();
        playback.start = ClockNow();
        playback.frame = playback.position->value;
        playback.delay = playback.frame->GetDelay();
    } else if (Texture* sub = FindSubTexture(name)) {
        playback.frame = sub;
    } else {
        return false;
    }
    playback.uv = playback.frame->GetUVRect();
    return true;
}

bool Texture::MakeView(Texture* parent, const String& name) {
    view_ = true;
    parent_ = parent;
    return parent != nullptr && parent->StartPlayback(playback_, name);
}

bool TexturePlayback::Advance(uint64_t now) {
    if (animation == nullptr || position == nullptr || animation->total <= 0) return false;
    const int64_t total = animation->total;
    // Whole cycles at once: a long pause costs one division, not a walk through every frame.
    const int64_t elapsed = static_cast<int64_t>(now - start);
    start += static_cast<uint64_t>((elapsed / total) * total);
    if (static_cast<int64_t>(now - start) < delay) return false;
    // Frames whose delays were all set to 0 after the total was computed would never catch
    // up: a whole round of frames without progress ends the walk.
    const int32_t count = animation->frames.count();
    int32_t stalled = 0;
    do {
        start += static_cast<uint64_t>(static_cast<int64_t>(delay));
        stalled = delay > 0 ? 0 : stalled + 1;
        position = position->next;
        delay = position->value->GetDelay();
    } while (static_cast<int64_t>(now - start) >= delay && stalled <= count);
    frame = position->value;
    uv = frame->GetUVRect();
    return true;
}

// ---- The atlas packer

namespace {

// Counts the equal pairs between the corners of a and of b.
int32_t SharedCorners(const Rect& a, const Rect& b) {
    const Point ca[4] = {{a.left, a.top}, {a.right, a.top}, {a.left, a.bottom}, {a.right, a.bottom}};
    const Point cb[4] = {{b.left, b.top}, {b.right, b.top}, {b.left, b.bottom}, {b.right, b.bottom}};
    int32_t shared = 0;
    for (const Point& p : ca) {
        for (const Point& q : cb) shared += PointsEqual(p, q) ? 1 : 0;
    }
    return shared;
}

int64_t Area(const Rect& r) {
    return static_cast<int64_t>(r.right - r.left) * static_cast<int64_t>(r.bottom - r.top);
}

// The sub-textures that occupy the atlas's pixels: those sharing them, other than `except`.
template <typename F>
void ForEachOccupant(const Texture& atlas, const Texture* except, F f) {
    const auto* node = atlas.SubTextures().first();
    for (int32_t i = 0; i < atlas.SubTextures().count(); ++i, node = node->next) {
        if (node->value != except && node->value->GetParentSpace()) f(node->value);
    }
}

PlacementScore Score(const Texture& atlas, const Texture* except, const Rect& r) {
    PlacementScore result;
    const D3DSURFACE_DESC& desc = atlas.GetDescription();
    const int64_t width = desc.Width;
    const int64_t height = desc.Height;
    if (r.left < 0 || r.top < 0 || r.right > width || r.bottom > height) {
        result.valid = false;
        return result;
    }
    const Rect whole(0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height));
    result.score -= 2 * SharedCorners(r, whole);
    ForEachOccupant(atlas, except, [&](Texture* other) {
        if (!result.valid) return;
        Point point;
        Rect segment;
        Rect area;
        const Rect& s = other->GetRect();
        switch (ClassifyRectIntersection(r, s, point, segment, area)) {
            case kRectsShareSegment:
                result.score -= 2 * SharedCorners(r, s);
                break;
            case kRectsShareArea:
                if (other->GetPlacement() != Placement::kMovable) {
                    result.valid = false;
                    break;
                }
                result.overlapped.Append(other);
                result.overlap += Area(s);
                break;
            default:
                break;
        }
    });
    return result;
}

}  // namespace

PlacementScore ScorePlacement(const Texture& atlas, const Rect& candidate) {
    return Score(atlas, nullptr, candidate);
}

bool PackSubTexture(Texture* atlas, Texture* sub, LinkedList<Texture*>& placed, int depth) {
    if (atlas == nullptr || sub == nullptr || atlas->Parent() != nullptr) return false;
    // The map holds one sub-texture per Id: packing another under a taken Id would push that
    // one out of the atlas unseen.
    Texture* holder = atlas->FindSubTexture(sub->GetId());
    if (holder != nullptr && holder != sub) return false;

    const Rect own = sub->GetRect();
    const int32_t w = own.right - own.left;
    const int32_t h = own.bottom - own.top;
    const D3DSURFACE_DESC& desc = atlas->GetDescription();
    const auto width = static_cast<int32_t>(desc.Width);
    const auto height = static_cast<int32_t>(desc.Height);
    if (w < 0 || h < 0 || desc.Width > INT32_MAX || desc.Height > INT32_MAX) return false;

    bool found = false;
    Rect best;
    PlacementScore bestScore;
    auto consider = [&](int32_t x, int32_t y) {
        const Rect candidate(x, y, x + w, y + h);
        PlacementScore score = Score(*atlas, sub, candidate);
        if (!score.valid) return;
        if (!found || score.overlap < bestScore.overlap ||
            (score.overlap == bestScore.overlap && score.score < bestScore.score)) {
            found = true;
            best = candidate;
            bestScore = score;
        }
    };
    // Candidates near the atlas's far edges and around wide neighbours may overflow an int;
    // such a rectangle cannot lie inside the atlas, so it is left out.
    auto fits = [](int64_t x, int64_t y) {
        return x >= INT32_MIN && y >= INT32_MIN && x <= INT32_MAX && y <= INT32_MAX;
    };
    auto consider64 = [&](int64_t x, int64_t y) {
        if (fits(x, y) && fits(x + w, y + h)) consider(static_cast<int32_t>(x), static_cast<int32_t>(y));
    };
    consider64(0, 0);
    consider64(int64_t{width} - w, 0);
    consider64(0, int64_t{height} - h);
    consider64(int64_t{width} - w, int64_t{height} - h);
    ForEachOccupant(*atlas, sub, [&](Texture* other) {
        const Rect& s = other->GetRect();
        const int64_t x1 = s.left, y1 = s.top, x2 = s.right, y2 = s.bottom;
        consider64(x1, y1 - h);
        consider64(x2 - w, y1 - h);
        consider64(x1, y2);
        consider64(x2 - w, y2);
        consider64(x1 - w, y1);
        consider64(x1 - w, y2 - h);
        consider64(x2, y1);
        consider64(x2, y2 - h);
    });
    if (!found) return false;

    if (bestScore.overlapped.count() == 0) {
        sub->SetRect(best);
        atlas->InsertSub(sub);
        placed.Append(sub);
        return true;
    }
    if (depth <= 0) return false;

    // Everything this call and the calls under it may move, to put back on failure: the
    // nested calls that succeed move sub-textures this call never sees.
    OrderedMap<Texture*, Rect> remembered;
    ForEachOccupant(*atlas, nullptr, [&](Texture* other) { remembered.Insert(other, other->GetRect(), 1); });
    const int32_t placedBefore = placed.count();

    auto* node = bestScore.overlapped.first();
    for (int32_t i = 0; i < bestScore.overlapped.count(); ++i, node = node->next) {
        atlas->RemoveSubTexture(node->element);
    }
    sub->SetRect(best);
    sub->SetPlacement(Placement::kPinned);
    atlas->InsertSub(sub);
    bool ok = true;
    node = bestScore.overlapped.first();
    for (int32_t i = 0; i < bestScore.overlapped.count() && ok; ++i, node = node->next) {
        ok = PackSubTexture(atlas, node->element, placed, depth - 1);
    }
    sub->SetPlacement(Placement::kMovable);
    if (ok) {
        placed.Append(sub);
        return true;
    }

    atlas->RemoveSubTexture(sub);
    sub->SetRect(own);
    node = bestScore.overlapped.first();
    for (int32_t i = 0; i < bestScore.overlapped.count(); ++i, node = node->next) atlas->InsertSub(node->element);
    auto* saved = remembered.first();
    for (int32_t i = 0; i < remembered.count(); ++i, saved = saved->next) saved->key->SetRect(saved->value);
    while (placed.count() > placedBefore) placed.Take();
    return false;
}
