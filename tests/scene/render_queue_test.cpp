// The render queue's filing and drawing order, with renderables that log their draws. No device:
// occlusion-tested items with an attachment run their query brackets without effect; proxies
// and the colour mask are tested on the real layer (occlusion_proxy_layer_test.cpp).
#include "scene/render_queue.h"

#include "render/lit_effect_material.h"
#include "render/texture.h"
#include "scene/scene_node.h"
#include "tests/scene/support/recording_renderable.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using rh::test::DrawRecord;
using rh::test::RecordingRenderable;
using rh::test::Tags;

class NamedEffect : public LitEffectMaterial {
public:
    VertexFormat VertexElements() const override { return VertexFormat(); }
};

BoundingBox Box(float x, float size) {
    BoundingBox b;
    b.centre = Vec3{x, 0.0f, 0.0f};
    b.size = Vec3{size, size, size};
    return b;
}

class RenderQueueTest : public ::testing::Test {
protected:
    // An item of a renderable logging `tag`, its box centred at x on the x axis (the eye is at
    // the origin, so x is the distance), drawn with `material` (the opaque one when null).
    RenderItem* Item(const std::string& tag, float x, float size = 0.5f, MultiMaterial* material = nullptr) {
        renderables_.push_back(std::make_unique<RecordingRenderable>(tag, &log_));
        auto* item = new RenderItem;
        item->attachment = renderables_.back().get();
        item->material = material != nullptr ? material : &opaque_;
        item->context.worldBox = Box(x, size);
        item->node = &node_;
        return item;
    }

    std::vector<std::string> FlushTags() {
        log_.clear();
        EXPECT_TRUE(queue_.Flush().Succeeded());
        return Tags(log_);
    }

    std::vector<DrawRecord> log_;
    std::vector<std::unique_ptr<RecordingRenderable>> renderables_;
    MultiMaterial opaque_;
    SceneNode node_;
    RenderQueue queue_{nullptr};
};

using Tags_ = std::vector<std::string>;

TEST_F(RenderQueueTest, NothingFiledDrawsNothingAndSucceeds) {
    EXPECT_TRUE(queue_.Flush().Succeeded());
    EXPECT_TRUE(log_.empty());
}

// The opaque map is walked from the nearest bucket, then from the farthest down to the second.
TEST_F(RenderQueueTest, OpaqueItemsDrawNearestThenFarthestDownToTheSecond) {
    struct Case {
        std::vector<float> distances;
        Tags_ expected;
    };
    const Case cases[] = {
        {{1, 2, 3}, {"1", "3", "2"}},
        {{3, 1, 2}, {"1", "3", "2"}},
        {{1, 2, 3, 4}, {"1", "4", "3", "2"}},
        {{2}, {"2"}},
    };
    for (const Case& c : cases) {
        queue_.Clear();
        for (float d : c.distances) queue_.AddToRenderQueue(Item(std::to_string(static_cast<int>(d)), d));
        EXPECT_EQ(FlushTags(), c.expected);
    }
}

TEST_F(RenderQueueTest, ItemsOfEqualDistanceDrawInFilingOrder) {
    queue_.AddToRenderQueue(Item("a", 2));
    queue_.AddToRenderQueue(Item("b", 2));
    queue_.AddToRenderQueue(Item("near", 1));
    EXPECT_EQ(FlushTags(), (Tags_{"near", "a", "b"}));
}

// The list so far is 1, 4, 3 (walk order); the tested item at 3.5 overlaps 4 and 3 but not 1, so
// it goes between 1 and 4; 2 comes last.
TEST_F(RenderQueueTest, AnOcclusionTestedItemGoesBeforeTheRunItOverlaps) {
    queue_.AddToRenderQueue(Item("1", 1, 0.5f));
    queue_.AddToRenderQueue(Item("2", 2, 0.5f));
    queue_.AddToRenderQueue(Item("3", 3, 0.5f));
    queue_.AddToRenderQueue(Item("4", 4, 0.5f));
    RenderItem* tested = Item("tested", 3.5f, 1.2f);
    tested->occlusionTested = true;
    queue_.AddToRenderQueue(tested);
    EXPECT_EQ(FlushTags(), (Tags_{"1", "tested", "4", "3", "2"}));

    // Overlapping every item before it, it becomes the head.
    queue_.Clear();
    queue_.AddToRenderQueue(Item("1", 1, 0.5f));
    queue_.AddToRenderQueue(Item("3", 3, 0.5f));
    RenderItem* wide = Item("wide", 2, 10.0f);
    wide->occlusionTested = true;
    queue_.AddToRenderQueue(wide);
    EXPECT_EQ(FlushTags(), (Tags_{"wide", "1", "3"}));
}

TEST_F(RenderQueueTest, TransparentItemsDrawFarToNearUnlessADrawOrderSaysOtherwise) {
    MultiMaterial glass;
    glass.sub(0).blendEnable = true;
    ASSERT_TRUE(glass.IsTransparent());
    struct Case {
        int farOrder, nearOrder;
        float size;  // 4 overlaps the two boxes at 5 and 2, 1 does not
        Tags_ expected;
    };
    const Case cases[] = {
        {1, 0, 4.0f, {"near", "far"}},  // the smaller draw order first, though nearer
        {0, 0, 4.0f, {"far", "near"}},
        {0, 1, 4.0f, {"far", "near"}},
        {1, 0, 1.0f, {"far", "near"}},  // apart: distance decides
    };
    for (const Case& c : cases) {
        queue_.Clear();
        RenderItem* far = Item("far", 5, c.size, &glass);
        far->drawOrder = c.farOrder;
        RenderItem* near = Item("near", 2, c.size, &glass);
        near->drawOrder = c.nearOrder;
        queue_.AddToRenderQueue(far);
        queue_.AddToRenderQueue(near);
        EXPECT_EQ(FlushTags(), c.expected) << c.farOrder << " " << c.nearOrder << " " << c.size;
    }
    // After every opaque item.
    queue_.Clear();
    queue_.AddToRenderQueue(Item("glass", 1, 0.5f, &glass));
    queue_.AddToRenderQueue(Item("wall", 9));
    EXPECT_EQ(FlushTags(), (Tags_{"wall", "glass"}));
}

// Pass flag 0x40: the group step comes first, effect groups (in order of first filing) before
// texture groups, each group's items together.
TEST_F(RenderQueueTest, GroupedItemsDrawFirstByEffectThenByTexture) {
    NamedEffect effectA;
    NamedEffect effectB;
    Texture stone;
    Texture wood;
    MultiMaterial a, b, withStone, withWood;
    a.sub(0).effectMaterial = &effectA;
    b.sub(0).effectMaterial = &effectB;
    withStone.sub(0).maps[kDiffuseMap].texture = &stone;
    withWood.sub(0).maps[kDiffuseMap].texture = &wood;
    auto grouped = [&](const std::string& tag, float x, MultiMaterial* material) {
        RenderItem* item = Item(tag, x, 0.5f, material);
        item->context.passFlags = kPassNoOcclusion;
        return item;
    };
    queue_.AddToRenderQueue(Item("plain", 0.1f));
    queue_.AddToRenderQueue(grouped("stone1", 1, &withStone));
    queue_.AddToRenderQueue(grouped("b1", 2, &b));
    queue_.AddToRenderQueue(grouped("wood1", 3, &withWood));
    queue_.AddToRenderQueue(grouped("a1", 4, &a));
    queue_.AddToRenderQueue(grouped("stone2", 5, &withStone));
    queue_.AddToRenderQueue(grouped("b2", 6, &b));
    EXPECT_EQ(FlushTags(), (Tags_{"b1", "b2", "a1", "stone1", "stone2", "wood1", "plain"}));

    // The context's effect override groups before the material's own effect.
    queue_.Clear();
    RenderItem* overridden = grouped("overridden", 1, &a);
    overridden->context.effectOverride = &effectB;
    queue_.AddToRenderQueue(grouped("a", 2, &a));
    queue_.AddToRenderQueue(overridden);
    queue_.AddToRenderQueue(grouped("b", 3, &b));
    EXPECT_EQ(FlushTags(), (Tags_{"a", "overridden", "b"}));
}

TEST_F(RenderQueueTest, FlushKeepsTheItemsAndClearFreesThem) {
    queue_.AddToRenderQueue(Item("x", 1));
    queue_.AddToRenderQueue(Item("y", 2));
    EXPECT_EQ(FlushTags(), (Tags_{"x", "y"}));
    EXPECT_EQ(FlushTags(), (Tags_{"x", "y"})) << "a second flush draws the same items";
    EXPECT_EQ(queue_.itemCount(), 2);
    queue_.Clear();
    EXPECT_EQ(queue_.itemCount(), 0);
    EXPECT_TRUE(FlushTags().empty());
    // The destructor frees what is still filed (the leak checker sees it otherwise).
    queue_.AddToRenderQueue(Item("z", 1));
}

TEST_F(RenderQueueTest, EachItemDrawsWithItsOwnContextAndTheResultsCombine) {
    RenderItem* first = Item("first", 1);
    first->context.passFlags = 7;
    queue_.AddToRenderQueue(first);
    queue_.AddToRenderQueue(Item("second", 2));
    renderables_[1]->SetResult(false);
    log_.clear();
    EXPECT_FALSE(queue_.Flush().Succeeded());
    ASSERT_EQ(log_.size(), 2u) << "a failed draw does not stop the others";
    EXPECT_EQ(log_[0].context.passFlags, 7);
    EXPECT_EQ(log_[1].context.passFlags, 0);
}

// Bad input from hostile trees: distances that are not numbers must not break the map's order.
TEST_F(RenderQueueTest, NonFiniteDistancesAreFiledAsTheFarthest) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    RenderItem probe;
    probe.context.worldBox.centre = Vec3{nan, 0, 0};
    EXPECT_EQ(RenderQueue::ItemDistance(probe), FLT_MAX);
    probe.context.worldBox.centre = Vec3{inf, 0, 0};
    EXPECT_EQ(RenderQueue::ItemDistance(probe), FLT_MAX);
    probe.context.worldBox.centre = Vec3{3, 4, 0};
    EXPECT_FLOAT_EQ(RenderQueue::ItemDistance(probe), 5.0f);

    queue_.AddToRenderQueue(Item("nan", nan));
    queue_.AddToRenderQueue(Item("1", 1));
    queue_.AddToRenderQueue(Item("inf", inf));
    queue_.AddToRenderQueue(Item("2", 2));
    queue_.AddToRenderQueue(Item("3", 3));
    // nan and inf share the farthest bucket, in filing order.
    EXPECT_EQ(FlushTags(), (Tags_{"1", "nan", "inf", "3", "2"}));
}

// Many items, so that the flush orders them by its radix passes rather than by insertion:
// the order must be that of a stable sort by distance, the buckets drawn as for few items.
// Distances repeat, lie far apart and close together (one bit apart), and include 0 and the
// farthest (non-finite) bucket.
TEST_F(RenderQueueTest, ManyItemsDrawInTheOrderOfAStableSortByDistance) {
    MultiMaterial glass;
    glass.sub(0).blendEnable = true;
    std::mt19937 random(19);
    const float values[] = {0.0f, 1.0f, std::nextafter(1.0f, 2.0f), 2.5f, 3.0f, 70.0f, 4096.0f, 1e-30f, 3e8f,
                            std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};
    for (int count : {5, 32, 33, 300, 2000}) {
        SCOPED_TRACE(count);
        queue_.Clear();
        std::vector<std::pair<float, std::string>> opaque, transparent;
        for (int i = 0; i < count; ++i) {
            const float x = random() % 4 == 0 ? values[random() % std::size(values)]
                                              : static_cast<float>(random() % 5000) / 16.0f;
            const bool clear = random() % 3 == 0;
            const std::string tag = std::to_string(i);
            queue_.AddToRenderQueue(Item(tag, x, 0.5f, clear ? &glass : nullptr));
            RenderItem probe;
            probe.context.worldBox.centre = Vec3{x, 0, 0};
            (clear ? transparent : opaque).emplace_back(RenderQueue::ItemDistance(probe), tag);
        }
        auto byDistance = [](const auto& a, const auto& b) { return a.first < b.first; };
        std::stable_sort(opaque.begin(), opaque.end(), byDistance);
        std::stable_sort(transparent.begin(), transparent.end(), byDistance);
        // The buckets: runs of equal distance.
        auto buckets = [](const std::vector<std::pair<float, std::string>>& sorted) {
            std::vector<Tags_> runs;
            for (size_t i = 0; i < sorted.size(); ++i) {
                if (i == 0 || sorted[i].first != sorted[i - 1].first) runs.emplace_back();
                runs.back().push_back(sorted[i].second);
            }
            return runs;
        };
        Tags_ expected;
        const std::vector<Tags_> opaqueRuns = buckets(opaque);
        for (size_t k = 0; k < opaqueRuns.size(); ++k) {
            const Tags_& run = opaqueRuns[k == 0 ? 0 : opaqueRuns.size() - k];
            expected.insert(expected.end(), run.begin(), run.end());
        }
        // One draw order: the transparent items go far to near, each bucket in filing order.
        const std::vector<Tags_> transparentRuns = buckets(transparent);
        for (size_t k = transparentRuns.size(); k-- > 0;) {
            expected.insert(expected.end(), transparentRuns[k].begin(), transparentRuns[k].end());
        }
        EXPECT_EQ(FlushTags(), expected);
        EXPECT_EQ(FlushTags(), expected) << "a second flush draws the same";
    }
}

TEST_F(RenderQueueTest, AnItemWithoutMaterialIsOpaqueAndNotGrouped) {
    // A proxy-like item: no material, no attachment, pass flags that would group.
    auto* proxy = new RenderItem;
    proxy->context.passFlags = kPassNoOcclusion;
    proxy->context.worldBox = Box(1, 1);
    queue_.AddToRenderQueue(proxy);
    queue_.AddToRenderQueue(Item("drawn", 2));
    EXPECT_EQ(FlushTags(), (Tags_{"drawn"})) << "nothing to draw for it without a proxy";
    EXPECT_EQ(queue_.itemCount(), 2);
}

}  // namespace
