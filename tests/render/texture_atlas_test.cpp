// The atlas layer without a device: the packer's placements, scores, moves and rollback;
// playback against a hand-driven clock; sub-textures and views found or made for requests,
// and who owns them.
#include "render/texture.h"

#include "core/time/clock_source.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

void Size(Texture& texture, UINT width, UINT height) {
    D3DSURFACE_DESC desc{};
    desc.Width = width;
    desc.Height = height;
    texture.SetDescription(desc);
}

// A fresh sub-texture that shares its atlas's pixels, sized by its Rect as a picture would be.
Texture* Sub(const char* id, int32_t w, int32_t h) {
    auto* sub = new Texture;
    sub->SetId(id);
    sub->SetParentSpace(true);
    sub->SetRect(Rect(0, 0, w, h));
    return sub;
}

// A sub-texture placed at a rectangle by its description.
Texture* Placed(Texture& atlas, const char* id, const Rect& rect) {
    auto* sub = new Texture;
    sub->SetId(id);
    sub->SetParentSpace(true);
    sub->SetRect(rect);
    sub->SetPlacement(Placement::kPlaced);
    atlas.AddSubTexture(sub);
    return sub;
}

std::vector<Texture*> Elements(const LinkedList<Texture*>& list) {
    std::vector<Texture*> out;
    const auto* node = list.first();
    for (int32_t i = 0; i < list.count(); ++i, node = node->next) out.push_back(node->element);
    return out;
}

std::string Text(const Rect& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

// ---- The packer

TEST(AtlasPacker, TwoSquaresGoToTheCornerThenAlongTheFirstSEdge) {
    Texture atlas;
    Size(atlas, 256, 256);
    LinkedList<Texture*> placed;

    const PlacementScore corner = ScorePlacement(atlas, Rect(0, 0, 64, 64));
    EXPECT_TRUE(corner.valid);
    EXPECT_EQ(corner.score, 6) << "one atlas corner";
    Texture* first = Sub("first", 64, 64);
    ASSERT_TRUE(PackSubTexture(&atlas, first, placed, 3));
    EXPECT_EQ(Text(first->GetRect()), Text(Rect(0, 0, 64, 64)));

    // Below the first and right of it score the same (two corners shared with it); below comes
    // first among the candidates.
    EXPECT_EQ(ScorePlacement(atlas, Rect(0, 64, 64, 128)).score, 4);
    EXPECT_EQ(ScorePlacement(atlas, Rect(64, 0, 128, 64)).score, 4);
    EXPECT_EQ(ScorePlacement(atlas, Rect(192, 0, 256, 64)).score, 6);
    Texture* second = Sub("second", 64, 64);
    ASSERT_TRUE(PackSubTexture(&atlas, second, placed, 3));
    EXPECT_EQ(Text(second->GetRect()), Text(Rect(0, 64, 64, 128)));
    EXPECT_EQ(Elements(placed), (std::vector<Texture*>{first, second}));
    EXPECT_EQ(atlas.FindSubTexture("second"), second);
}

TEST(AtlasPacker, OverlapOutranksScoreAndPinnedOrPlacedSubTexturesAreNeverCovered) {
    struct Case {
        const char* what;
        UINT atlasW, atlasH;
        Rect existing;
        Placement existingPlacement;
        int32_t w, h;
        int depth;
        bool packs;
        Rect expected;          // the new sub-texture's place when it packs
        Rect existingAfter;     // where the existing one ends up
    };
    const Case cases[] = {
        // (0, 0) scores 4 like (0, 16) and comes first, but it covers the movable one.
        {"least overlap first", 64, 64, Rect(16, 0, 48, 16), Placement::kMovable, 64, 48, 3, true,
         Rect(0, 16, 64, 64), Rect(16, 0, 48, 16)},
        {"a placed one is never covered", 64, 64, Rect(0, 0, 32, 32), Placement::kPlaced, 64, 64, 3, false,
         Rect(), Rect(0, 0, 32, 32)},
        {"nor a pinned one", 64, 64, Rect(0, 0, 32, 32), Placement::kPinned, 64, 64, 3, false, Rect(),
         Rect(0, 0, 32, 32)},
        // Every place for a 64 x 32 covers the one in the middle.
        {"depth 0 moves nothing", 64, 64, Rect(16, 16, 48, 48), Placement::kMovable, 64, 32, 0, false, Rect(),
         Rect(16, 16, 48, 48)},
        {"depth 1 moves it below the new one", 64, 64, Rect(16, 16, 48, 48), Placement::kMovable, 64, 32, 1, true,
         Rect(0, 0, 64, 32), Rect(0, 32, 32, 64)},
        {"no room even when moving", 64, 32, Rect(0, 0, 32, 32), Placement::kMovable, 64, 32, 3, false, Rect(),
         Rect(0, 0, 32, 32)},
        {"larger than the atlas", 64, 64, Rect(0, 0, 8, 8), Placement::kMovable, 65, 8, 3, false, Rect(),
         Rect(0, 0, 8, 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Texture atlas;
        Size(atlas, c.atlasW, c.atlasH);
        Texture* existing = Placed(atlas, "existing", c.existing);
        existing->SetPlacement(c.existingPlacement);
        Texture* sub = Sub("new", c.w, c.h);
        LinkedList<Texture*> placed;
        const bool packed = PackSubTexture(&atlas, sub, placed, c.depth);
        EXPECT_EQ(packed, c.packs);
        if (packed) {
            EXPECT_EQ(Text(sub->GetRect()), Text(c.expected));
            EXPECT_EQ(sub->GetPlacement(), Placement::kMovable);
        } else {
            EXPECT_EQ(placed.count(), 0);
            EXPECT_EQ(atlas.FindSubTexture("new"), nullptr);
            delete sub;
        }
        EXPECT_EQ(Text(existing->GetRect()), Text(c.existingAfter));
        EXPECT_EQ(atlas.FindSubTexture("existing"), existing);
    }
}

TEST(AtlasPacker, AnAtlasInsideAnotherOrATakenIdIsRefused) {
    Texture outer;
    Size(outer, 64, 64);
    Texture* inner = Sub("inner", 32, 32);
    outer.AddSubTexture(inner);
    Size(*inner, 32, 32);
    LinkedList<Texture*> placed;
    Texture* sub = Sub("x", 8, 8);
    EXPECT_FALSE(PackSubTexture(inner, sub, placed, 3));
    delete sub;

    Texture atlas;
    Size(atlas, 64, 64);
    Texture* first = Sub("same", 8, 8);
    ASSERT_TRUE(PackSubTexture(&atlas, first, placed, 3));
    Texture* second = Sub("same", 8, 8);
    EXPECT_FALSE(PackSubTexture(&atlas, second, placed, 3)) << "it would push the first out of the map";
    EXPECT_EQ(atlas.FindSubTexture("same"), first);
    delete second;
}

// Random atlases and sizes, every depth. After each call: a success leaves every sub-texture
// inside the atlas, no two overlapping, the placed ones where they were, and every moved one
// in the placed list; a failure leaves every Rect, the map's members and the placed list as
// they were.
TEST(AtlasPacker, RandomSizesKeepTheInvariantsAndFailuresRollBack) {
    std::mt19937 random(15);
    int successes = 0;
    int failures = 0;
    int moves = 0;
    for (int trial = 0; trial < 300; ++trial) {
        Texture atlas;
        const int32_t width = 16 * (1 + int32_t(random() % 16));
        const int32_t height = 16 * (1 + int32_t(random() % 16));
        Size(atlas, UINT(width), UINT(height));
        std::set<Texture*> fixed;
        // A few placed by description, apart from each other.
        for (int k = 0; k < int(random() % 3); ++k) {
            const int32_t w = 1 + int32_t(random() % uint32_t(width / 4));
            const int32_t h = 1 + int32_t(random() % uint32_t(height / 4));
            const Rect r(int32_t(random() % uint32_t(width - w + 1)), int32_t(random() % uint32_t(height - h + 1)), 0,
                         0);
            const Rect rect(r.left, r.top, r.left + w, r.top + h);
            bool apart = true;
            for (Texture* f : fixed) {
                Rect common;
                apart = apart && !(IntersectRects(rect, f->GetRect(), common, false) && common.left < common.right &&
                                   common.top < common.bottom);
            }
            if (apart) fixed.insert(Placed(atlas, ("placed" + std::to_string(k)).c_str(), rect));
        }
        LinkedList<Texture*> placed;
        for (int n = 0; n < 24; ++n) {
            const int32_t w = 1 + int32_t(random() % uint32_t(width / 2));
            const int32_t h = 1 + int32_t(random() % uint32_t(height / 2));
            const int depth = int(random() % 4);
            Texture* sub = Sub(("s" + std::to_string(n)).c_str(), w, h);

            std::map<Texture*, std::string> before;
            const auto* node = atlas.SubTextures().first();
            for (int32_t i = 0; i < atlas.SubTextures().count(); ++i, node = node->next) {
                before[node->value] = Text(node->value->GetRect());
            }
            const std::vector<Texture*> placedBefore = Elements(placed);

            const bool packed = PackSubTexture(&atlas, sub, placed, depth);
            SCOPED_TRACE("trial " + std::to_string(trial) + " sub " + std::to_string(n) + " depth " +
                         std::to_string(depth));
            std::map<Texture*, std::string> after;
            node = atlas.SubTextures().first();
            for (int32_t i = 0; i < atlas.SubTextures().count(); ++i, node = node->next) {
                after[node->value] = Text(node->value->GetRect());
            }
            if (!packed) {
                ++failures;
                EXPECT_EQ(after, before);
                EXPECT_EQ(Elements(placed), placedBefore);
                delete sub;
                continue;
            }
            ++successes;
            ASSERT_EQ(after.size(), before.size() + 1);
            const std::vector<Texture*> now = Elements(placed);
            const std::set<Texture*> listed(now.begin() + long(placedBefore.size()), now.end());
            EXPECT_TRUE(listed.count(sub));
            for (const auto& [texture, rect] : before) {
                if (after[texture] == rect) continue;
                ++moves;
                EXPECT_FALSE(fixed.count(texture)) << "a placed sub-texture moved";
                EXPECT_TRUE(listed.count(texture)) << "a moved sub-texture is not in the placed list";
            }
            std::vector<Rect> rects;
            for (const auto& entry : after) rects.push_back(entry.first->GetRect());
            for (size_t i = 0; i < rects.size(); ++i) {
                const Rect& a = rects[i];
                EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= width && a.bottom <= height) << Text(a);
                for (size_t j = i + 1; j < rects.size(); ++j) {
                    const Rect& b = rects[j];
                    const bool overlap = a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
                    EXPECT_FALSE(overlap) << Text(a) << " and " << Text(b);
                }
            }
        }
    }
    // The cases must have reached every branch.
    EXPECT_GT(successes, 100);
    EXPECT_GT(failures, 100);
    EXPECT_GT(moves, 10);
}

// ---- Playback

uint32_t g_now = 0;
uint32_t HandClock() { return g_now; }

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 1000;
        SetClockSource(&HandClock);
        Size(atlas_, 64, 64);
    }
    void TearDown() override { SetClockSource(nullptr); }

    // Frames "f0", "f1", ... with those delays, played in that order as animation "run".
    void Animate(const std::vector<int32_t>& delays) {
        auto* animation = new TextureAnimation;
        for (size_t i = 0; i < delays.size(); ++i) {
            Texture* frame = Placed(atlas_, ("f" + std::to_string(i)).c_str(),
                                    Rect(int32_t(i) * 8, 0, int32_t(i) * 8 + 8, 8));
            frame->SetDelay(delays[i]);
            animation->frames.Insert(frame->GetId(), frame, 1);
        }
        atlas_.AddAnimation("run", animation);
        atlas_.ComputeAnimationLengths();
    }
    std::string Shown(const TexturePlayback& playback) const {
        return playback.frame == &atlas_ ? "atlas" : playback.frame->GetId().Text();
    }

    Texture atlas_;
};

TEST_F(PlaybackTest, FramesFollowTheClockAndCycle) {
    struct Step {
        uint64_t now;
        bool changed;
        const char* frame;
    };
    struct Case {
        const char* what;
        std::vector<int32_t> delays;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"cyclic", {100, 50}, {{1099, false, "f0"}, {1100, true, "f1"}, {1149, false, "f1"}, {1150, true, "f0"}}},
        {"a long pause skips whole cycles, then steps", {100, 50}, {{1000 + 150 * 1000 + 120, true, "f1"},
                                                                    {1000 + 150 * 1000 + 150, true, "f0"}}},
        {"a frame of delay 0 is passed over", {100, 0, 50}, {{1100, true, "f2"}, {1150, true, "f0"}}},
        {"total 0 never advances", {0, 0}, {{1000, false, "f0"}, {999999, false, "f0"}}},
        {"a clock behind the start waits", {100, 50}, {{500, false, "f0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        atlas_.DeleteSubTextures();
        Animate(c.delays);
        TexturePlayback playback;
        g_now = 1000;
        ASSERT_TRUE(atlas_.StartPlayback(playback, "run"));
        EXPECT_EQ(playback.start, 1000u);
        EXPECT_EQ(Shown(playback), "f0");
        for (const Step& step : c.steps) {
            EXPECT_EQ(playback.Advance(step.now), step.changed) << "at " << step.now;
            EXPECT_EQ(Shown(playback), step.frame) << "at " << step.now;
            const UvRect uv = playback.frame->GetUVRect();
            EXPECT_EQ(playback.uv.left, uv.left);
        }
    }
}

TEST_F(PlaybackTest, WhatAPlaybackShowsForEachName) {
    Animate({100, 50});
    TexturePlayback playback;
    EXPECT_TRUE(atlas_.StartPlayback(playback, ""));
    EXPECT_EQ(Shown(playback), "atlas");
    EXPECT_EQ(playback.uv.right, 1.0f);
    EXPECT_FALSE(atlas_.StartPlayback(playback, "nothing"));
    EXPECT_TRUE(atlas_.StartPlayback(playback, "run"));
    // A sub-texture's Id shows it; the animation stays, as particles rely on.
    EXPECT_TRUE(atlas_.StartPlayback(playback, "f1"));
    EXPECT_EQ(Shown(playback), "f1");
    EXPECT_NE(playback.animation, nullptr);
    EXPECT_FLOAT_EQ(playback.uv.left, 8.0f / 64.0f);
    EXPECT_FLOAT_EQ(playback.uv.right, 16.0f / 64.0f);
}

TEST_F(PlaybackTest, DelaysStayNonNegativeAndTotalsStayInRange) {
    Texture texture;
    texture.SetDelay(-5);
    EXPECT_EQ(texture.GetDelay(), 0);
    Animate({INT32_MAX, INT32_MAX, 7});
    EXPECT_EQ(atlas_.Animations().ValueRef("run")->total, INT32_MAX);
}

// ---- Sub-textures and views for requests

// Counts the textures destroyed while it listens.
class DestroyCounter : public RefCounted {
public:
    void OnDestroyed(RefCounted*) override { ++destroyed; }
    int destroyed = 0;
};

TEST(AtlasRequests, FindSubAndCreateSubServeEachKindOfRequest) {
    auto* atlas = new Texture;
    Size(*atlas, 64, 32);
    Placed(*atlas, "lamp", Rect(0, 0, 16, 16));
    Placed(*atlas, "run", Rect(16, 0, 32, 16));  // a sub-texture named as an animation
    auto* animation = new TextureAnimation;
    animation->frames.Insert("lamp", atlas->FindSubTexture("lamp"), 1);
    atlas->AddAnimation("run", animation);
    atlas->ComputeAnimationLengths();

    auto request = [](int32_t flags, const char* id, Rect rect = Rect()) {
        TextureRequest r;
        r.flags = flags;
        r.id = id;
        r.rect = rect;
        return r;
    };
    // Id alone: the animation wins over the sub-texture of the same name.
    Texture* view = atlas->FindSub(request(kRequestId, "run"));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->IsView());
    EXPECT_TRUE(view->PlaysAnimation());
    EXPECT_EQ(view->Parent(), atlas);
    EXPECT_EQ(atlas->FindSubTexture(""), nullptr) << "a view is not entered in the map";
    // Id and Rect never make a view.
    EXPECT_EQ(atlas->FindSub(request(kRequestId | kRequestRect, "run")), atlas->FindSubTexture("run"));
    EXPECT_EQ(atlas->FindSub(request(kRequestRect, "", Rect(0, 0, 16, 16))), atlas->FindSubTexture("lamp"));
    EXPECT_EQ(atlas->FindSub(request(kRequestId, "absent")), nullptr);

    // Made for an Id: the whole picture, through the parent's texture.
    Texture* whole = atlas->CreateSub(request(kRequestId, "whole"));
    EXPECT_EQ(atlas->FindSubTexture("whole"), whole);
    EXPECT_TRUE(whole->SharesParentTexture());
    EXPECT_FALSE(whole->GetParentSpace());
    EXPECT_EQ(whole->GetUVRect().right, 1.0f);
    EXPECT_EQ(whole->GetUVMatrix().kind, kMatrixIdentity);
    // Made for a rectangle: those pixels of the parent.
    Texture* part = atlas->CreateSub(request(kRequestRect, "", Rect(32, 16, 48, 32)));
    EXPECT_TRUE(part->GetParentSpace());
    const UvRect uv = part->GetUVRect();
    EXPECT_FLOAT_EQ(uv.left, 0.5f);
    EXPECT_FLOAT_EQ(uv.top, 0.5f);
    EXPECT_FLOAT_EQ(uv.right, 0.75f);
    EXPECT_FLOAT_EQ(uv.bottom, 1.0f);
    // A second rectangle-only sub-texture takes the Id "" over; the first stays findable.
    Texture* other = atlas->CreateSub(request(kRequestRect, "", Rect(48, 16, 64, 32)));
    EXPECT_EQ(atlas->FindSub(request(kRequestRect, "", Rect(32, 16, 48, 32))), part);
    EXPECT_EQ(atlas->FindSub(request(kRequestRect, "", Rect(48, 16, 64, 32))), other);

    // The parent owns all of them: the two placed, the view, the three made.
    DestroyCounter counter;
    for (Texture* t : {view, whole, part, other, atlas->FindSubTexture("lamp"), atlas->FindSubTexture("run")}) {
        t->SetDestroyListener(&counter);
    }
    delete atlas;
    EXPECT_EQ(counter.destroyed, 6);
}

TEST(AtlasRequests, UVMatrixMapsTheUnitSquareOntoTheUVRect) {
    Texture atlas;
    Size(atlas, 256, 128);
    Texture* sub = Placed(atlas, "s", Rect(64, 32, 128, 96));
    const TypedMatrix m = sub->GetUVMatrix();
    EXPECT_EQ(m.kind, kMatrixGeneral);
    // (u, v, 1) times the matrix: u' = u * 0.25 + 0.25, v' = v * 0.5 + 0.25.
    const float expected[16] = {0.25f, 0, 0, 0, 0, 0.5f, 0, 0, 0.25f, 0.25f, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(m.m[i], expected[i]) << "element " << i;
    EXPECT_EQ(atlas.GetUVMatrix().kind, kMatrixIdentity) << "a top-level texture";
    Texture empty;
    Texture* inEmpty = Placed(empty, "s", Rect(0, 0, 4, 4));
    EXPECT_EQ(inEmpty->GetUVRect().right, 1.0f) << "a parent of size 0";
}

TEST(AtlasRequests, ReplacingAnimationsOrUnloadingLeavesViewsShowingTheWholeTexture) {
    Texture atlas;
    Size(atlas, 32, 32);
    Texture* frame = Placed(atlas, "f", Rect(0, 0, 8, 8));
    auto* first = new TextureAnimation;
    first->frames.Insert("f", frame, 1);
    atlas.AddAnimation("a", first);
    TextureRequest byId;
    byId.flags = kRequestId;
    byId.id = "a";
    Texture* view = atlas.FindSub(byId);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->Playback().frame, frame);

    auto* second = new TextureAnimation;
    second->frames.Insert("f", frame, 1);
    atlas.AddAnimation("a", second);
    EXPECT_EQ(view->Playback().animation, nullptr);
    EXPECT_EQ(view->Playback().frame, &atlas);

    Texture* again = atlas.FindSub(byId);
    atlas.Unload(true);
    EXPECT_EQ(atlas.SubTextures().count(), 0);
    EXPECT_EQ(again->Playback().frame, &atlas) << "views outlive the sub-textures they showed";
    EXPECT_EQ(again->Parent(), &atlas);
}

}  // namespace
