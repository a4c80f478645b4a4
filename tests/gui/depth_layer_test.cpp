#include "gui/depth_layer.h"

#include "platform/log/log_testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// An item that remembers the depth it was last told about, so that a test can check that every
// depth the layer hands out is announced.
class TestItem : public GuiLayerItem {
public:
    explicit TestItem(int32_t refuseAtCall = -1) : refuseAtCall_(refuseAtCall) {}
    GuiWindow* GetWindow() override { return nullptr; }
    bool OnDepthChanged() override {
        told = depth();
        ++calls;
        return calls != refuseAtCall_;
    }

    int32_t told = 0;
    int32_t calls = 0;

private:
    int32_t refuseAtCall_;
};

// The items of the layer in list order.
std::vector<GuiLayerItem*> ListOf(const GuiDepthLayer& layer) {
    std::vector<GuiLayerItem*> out;
    auto* node = layer.items().first();
    for (int32_t i = 0; i < layer.items().count(); ++i, node = node->next) out.push_back(node->element);
    return out;
}

std::vector<int32_t> DepthsOf(const GuiDepthLayer& layer) {
    std::vector<int32_t> out;
    for (GuiLayerItem* item : ListOf(layer)) out.push_back(item->depth());
    return out;
}

// The layer's invariants: placed items in increasing depth with disjoint ranges inside
// [low, high], every item pointing back at its layer, used the sum of the spans, the cursor on
// the first item, and every item told of its current depth.
::testing::AssertionResult LayerIsSound(const GuiDepthLayer& layer) {
    int64_t previous = static_cast<int64_t>(layer.low()) - 1;
    int64_t used = 0;
    for (GuiLayerItem* item : ListOf(layer)) {
        if (item->layer() != &layer || !item->IsPlaced()) {
            return ::testing::AssertionFailure() << "an item in the list is not placed in it";
        }
        if (item->depth() - item->span() < previous) {
            return ::testing::AssertionFailure()
                   << "item at " << item->depth() << " span " << item->span()
                   << " overlaps what lies in front of it (up to " << previous << ")";
        }
        // Every item of these tests is a TestItem.
        if (static_cast<TestItem*>(item)->told != item->depth()) {
            return ::testing::AssertionFailure()
                   << "item at " << item->depth() << " was last told "
                   << static_cast<TestItem*>(item)->told;
        }
        previous = item->depth();
        used += item->span();
    }
    if (previous > layer.high()) {
        return ::testing::AssertionFailure() << "last item " << previous << " beyond high " << layer.high();
    }
    if (used != layer.used()) {
        return ::testing::AssertionFailure() << "used " << layer.used() << ", spans sum to " << used;
    }
    if (layer.items().count() > 0 && layer.items().cursor() != layer.items().first()) {
        return ::testing::AssertionFailure() << "the cursor is not on the first item";
    }
    return ::testing::AssertionSuccess();
}

// One table of the layer's worked numbers. Items are named by the order they were made in;
// the expected depths are in list order (front-most first).
struct NumbersCase {
    const char* name;
    int32_t low;
    int32_t high;
    std::function<void(GuiDepthLayer&, std::vector<std::unique_ptr<TestItem>>&)> steps;
    std::vector<int32_t> depths;
};

TestItem* Make(std::vector<std::unique_ptr<TestItem>>& items, int32_t span, GuiDepthLayer& layer) {
    items.push_back(std::make_unique<TestItem>());
    EXPECT_TRUE(layer.SetSpan(items.back().get(), span));  // unplaced: just takes the span
    return items.back().get();
}

TEST(GuiDepthLayer, WorkedNumbers) {
    const NumbersCase cases[] = {
        {"the first item goes to the middle", 1, 10000,
         [](auto& l, auto& v) { EXPECT_TRUE(l.Insert(Make(v, 1, l))); }, {5000}},
        {"two items spread evenly", 1, 10000,
         [](auto& l, auto& v) {
             EXPECT_TRUE(l.Insert(Make(v, 1, l)));
             EXPECT_TRUE(l.Insert(Make(v, 1, l)));
             EXPECT_TRUE(l.SpreadEvenly());
         },
         {3333, 6666}},
        // The gap below the first item (4999) is room enough; the room behind it is not used.
        {"a second item goes in front, both from the room below", 1, 10000,
         [](auto& l, auto& v) {
             EXPECT_TRUE(l.Insert(Make(v, 1, l)));
             EXPECT_TRUE(l.Insert(Make(v, 1, l)));
         },
         {1667, 3334}},
        {"a window of span 3, then one of span 1 in front", 1, 10000,
         [](auto& l, auto& v) {
             EXPECT_TRUE(l.Insert(Make(v, 3, l)));
             EXPECT_EQ(v[0]->depth(), 5001);
             EXPECT_TRUE(l.Insert(Make(v, 1, l)));
         },
         {1666, 3334}},
        {"a span of the whole range fills it", 1, 10,
         [](auto& l, auto& v) { EXPECT_TRUE(l.Insert(Make(v, 10, l))); }, {10}},
        {"a span larger than the range is refused", 1, 10,
         [](auto& l, auto& v) { EXPECT_FALSE(l.Insert(Make(v, 11, l))); }, {}},
        {"pack to high: spans 2 and 3 end at 9", 1, 9,
         [](auto& l, auto& v) {
             EXPECT_TRUE(l.Insert(Make(v, 3, l)));
             EXPECT_TRUE(l.Insert(Make(v, 2, l)));
             EXPECT_TRUE(l.Pack(true));
         },
         {6, 9}},
        {"pack to low: spans 2 and 3 start at 1", 1, 9,
         [](auto& l, auto& v) {
             EXPECT_TRUE(l.Insert(Make(v, 3, l)));
             EXPECT_TRUE(l.Insert(Make(v, 2, l)));
             EXPECT_TRUE(l.Pack(false));
         },
         {2, 5}},
        {"removing an item leaves the others where they are", 1, 10000,
         [](auto& l, auto& v) {
             for (int i = 0; i < 3; ++i) EXPECT_TRUE(l.Insert(Make(v, 1, l)));
             const std::vector<int32_t> before = DepthsOf(l);
             l.Remove(v[1].get());
             EXPECT_EQ(v[1]->depth(), -1);
             EXPECT_FALSE(v[1]->IsPlaced());
             EXPECT_EQ(DepthsOf(l), (std::vector<int32_t>{before[0], before[2]}));
         },
         {556, 3334}},
        // An over-full range (the owner shrank it) spreads with a gap truncated toward zero:
        // (4 - 6 - 1 + 1) / 3 = 0, not -1.
        {"a negative room truncates toward zero", 1, 4,
         [](auto& l, auto& v) {
             EXPECT_TRUE(l.Insert(Make(v, 3, l)));
             EXPECT_TRUE(l.Insert(Make(v, 1, l)));
             l.SetRange(1, 3);
             EXPECT_TRUE(l.SpreadEvenly());
         },
         {1, 4}},
    };
    for (const NumbersCase& c : cases) {
        SCOPED_TRACE(c.name);
        GuiDepthLayer layer(c.low, c.high);
        std::vector<std::unique_ptr<TestItem>> items;
        c.steps(layer, items);
        EXPECT_EQ(DepthsOf(layer), c.depths);
        if (layer.high() - layer.low() + 1 >= layer.used()) {
            EXPECT_TRUE(LayerIsSound(layer));
        }
        for (auto& item : items) layer.Remove(item.get());
    }
}

// Three items packed together, then one more in front of `ref`: the room comes from behind
// ref (the items in front keep their depths) or, when there is none, from in front of it.
TEST(GuiDepthLayer, InsertBeforeGathersRoomFromBehindThenFromInFront) {
    struct Case {
        const char* name;
        bool packHigh;
        int refIndex;
        std::vector<int32_t> depths;  // A, B, C and the new item X in list order
    };
    const Case cases[] = {
        // A 1, B 2, C 3. Behind B: 0 + 0 + the 7 above C; gap (7 - 1) / 4 = 1, counted from
        // A's depth: B's stretch is B and C only, and A stays.
        {"room from behind", false, 1, {1, 3, 5, 7}},
        // A 8, B 9, C 10. Nothing behind C; in front: 0 under C, 0 under B, 7 under A;
        // gap (7 - 1) / 5 = 1 from low - 1.
        {"room from in front", true, 2, {2, 4, 6, 8}},
        // A 8, B 9, C 10, X before A: the 7 below A are enough and B, C stay.
        {"room below the first item", true, 0, {3, 6, 9, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GuiDepthLayer layer(1, 10);
        TestItem a, b, c3, x;
        ASSERT_TRUE(layer.Insert(&c3));
        ASSERT_TRUE(layer.Insert(&b));
        ASSERT_TRUE(layer.Insert(&a));
        ASSERT_TRUE(layer.Pack(c.packHigh));
        TestItem* refs[] = {&a, &b, &c3};
        ASSERT_TRUE(layer.InsertBefore(&x, refs[c.refIndex]));
        EXPECT_EQ(DepthsOf(layer), c.depths);
        std::vector<GuiLayerItem*> order = {&a, &b, &c3};
        order.insert(order.begin() + c.refIndex, &x);
        EXPECT_EQ(ListOf(layer), order);
        EXPECT_TRUE(LayerIsSound(layer));
    }
}

TEST(GuiDepthLayer, RefusalsChangeNothing) {
    GuiDepthLayer layer(1, 4);
    TestItem a, b, wide, stranger, placedElsewhere;
    ASSERT_TRUE(layer.Insert(&a));
    ASSERT_TRUE(layer.Insert(&b));
    ASSERT_TRUE(layer.SetSpan(&wide, 3));
    GuiDepthLayer other(1, 100);
    ASSERT_TRUE(other.Insert(&placedElsewhere));
    const std::vector<int32_t> depths = DepthsOf(layer);

    EXPECT_FALSE(layer.Insert(&wide)) << "3 more depths in a range of 4 holding 2";
    EXPECT_FALSE(layer.InsertBefore(&wide, &a));
    EXPECT_FALSE(layer.Insert(&a)) << "already placed";
    EXPECT_FALSE(layer.InsertBefore(&stranger, &placedElsewhere)) << "ref of another layer";
    EXPECT_FALSE(layer.InsertBefore(&stranger, &stranger)) << "unplaced ref";
    EXPECT_FALSE(layer.SetSpan(&placedElsewhere, 2));
    EXPECT_FALSE(layer.SetSpan(&a, -1));
    layer.Remove(&placedElsewhere);

    EXPECT_EQ(DepthsOf(layer), depths);
    EXPECT_EQ(layer.used(), 2);
    EXPECT_FALSE(wide.IsPlaced());
    EXPECT_EQ(placedElsewhere.layer(), &other);
    EXPECT_EQ(placedElsewhere.span(), 1);
    EXPECT_TRUE(LayerIsSound(layer));
}

// SetSpan keeps the item's place in the list whether it grows or shrinks; an item whose new
// span does not fit ends unplaced with that span (windows rely on that), the rest sound.
TEST(GuiDepthLayer, SetSpanGrowsAndShrinksInPlace) {
    GuiDepthLayer layer(1, 100);
    TestItem a, b, c;
    ASSERT_TRUE(layer.Insert(&c));
    ASSERT_TRUE(layer.Insert(&b));
    ASSERT_TRUE(layer.Insert(&a));
    const std::vector<GuiLayerItem*> order = {&a, &b, &c};

    struct Step {
        int32_t span;
        bool fits;
    };
    for (const Step& step : {Step{40, true}, Step{98, true}, Step{1, true}, Step{0, true},
                             Step{60, true}, Step{99, false}}) {
        SCOPED_TRACE(step.span);
        EXPECT_EQ(layer.SetSpan(&b, step.span), step.fits);
        EXPECT_EQ(b.span(), step.span);
        EXPECT_TRUE(LayerIsSound(layer));
        if (step.fits) {
            EXPECT_EQ(ListOf(layer), order);
            EXPECT_EQ(layer.used(), 2 + step.span);
        } else {
            EXPECT_FALSE(b.IsPlaced());
            EXPECT_EQ(ListOf(layer), (std::vector<GuiLayerItem*>{&a, &c}));
            EXPECT_EQ(layer.used(), 2);
        }
    }
}

// A span change that leaves its item out is not silent, and a layer that keeps failing does
// not flood the log.
TEST(GuiDepthLayer, ItemLeftOutBySetSpanIsTracedOnce) {
    rh::testing::LogCapture capture(rh::LogLevel::Trace);
    GuiDepthLayer layer(1, 10);
    TestItem a, b;
    ASSERT_TRUE(layer.Insert(&a));
    ASSERT_TRUE(layer.Insert(&b));
    EXPECT_FALSE(layer.SetSpan(&a, 10));
    ASSERT_TRUE(layer.SetSpan(&a, 1));
    ASSERT_TRUE(layer.Insert(&a));
    EXPECT_FALSE(layer.SetSpan(&a, 20));
    EXPECT_EQ(capture.texts(),
              std::vector<std::string>{"GUI depth layer: no room for an item's new span; the item stays unplaced"});
}

// The layer keeps a pointer per item and each item one to its layer: whichever goes first
// must leave the other with nothing dangling (ASan watches).
TEST(GuiDepthLayer, ItemsAndLayersOutliveEachOther) {
    auto layer = std::make_unique<GuiDepthLayer>(1, 100);
    auto a = std::make_unique<TestItem>();
    TestItem b, c;
    ASSERT_TRUE(layer->Insert(a.get()));
    ASSERT_TRUE(layer->Insert(&b));
    ASSERT_TRUE(layer->Insert(&c));
    a.reset();
    EXPECT_EQ(ListOf(*layer), (std::vector<GuiLayerItem*>{&c, &b}));
    EXPECT_EQ(layer->used(), 2);
    EXPECT_TRUE(LayerIsSound(*layer));

    layer.reset();
    EXPECT_FALSE(b.IsPlaced());
    EXPECT_EQ(b.layer(), nullptr);

    void* part = nullptr;
    ASSERT_TRUE(c.QueryInterface(TypeId<GuiLayerItem>::Get(), &part));
    EXPECT_EQ(part, static_cast<GuiLayerItem*>(&c));
}

// A refusing OnDepthChanged stops a redistribution: the later items keep their old depths.
TEST(GuiDepthLayer, RefusedDepthChangeStopsTheRedistribution) {
    GuiDepthLayer layer(1, 100);
    TestItem front(/*refuseAtCall=*/3), back;
    ASSERT_TRUE(layer.Insert(&back));
    ASSERT_TRUE(layer.Insert(&front));  // front told once here
    ASSERT_TRUE(layer.Pack(true));      // twice
    const int32_t backBefore = back.depth();
    EXPECT_FALSE(layer.SpreadEvenly());
    EXPECT_EQ(back.depth(), backBefore);
}

// Random sequences of every operation against a list model, with the invariants checked after
// each step. Small ranges make refusals and room gathered from both sides common.
TEST(GuiDepthLayer, RandomOperationsKeepTheInvariants) {
    for (const int32_t high : {12, 40, 10000}) {
        SCOPED_TRACE(high);
        std::mt19937 random(20261211u + static_cast<uint32_t>(high));
        GuiDepthLayer layer(1, high);
        std::vector<std::unique_ptr<TestItem>> pool;
        for (int i = 0; i < 24; ++i) pool.push_back(std::make_unique<TestItem>());
        std::vector<GuiLayerItem*> model;
        auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
        auto spanOf = [&] { return static_cast<int32_t>(1 + random() % (high < 100 ? 4 : 300)); };

        for (int step = 0; step < 3000; ++step) {
            TestItem* item = pool[pick(pool.size())].get();
            const auto at = std::find(model.begin(), model.end(), item);
            const bool placed = at != model.end();
            const std::vector<int32_t> before = DepthsOf(layer);
            const int op = static_cast<int>(random() % 6);
            std::string what = "step " + std::to_string(step) + " op " + std::to_string(op);
            switch (op) {
                case 0:  // Insert
                    if (!placed) {
                        ASSERT_TRUE(layer.SetSpan(item, spanOf()));
                    }
                    if (layer.Insert(item)) {
                        ASSERT_FALSE(placed) << what;
                        model.insert(model.begin(), item);
                    } else {
                        ASSERT_TRUE(placed || high - layer.used() < item->span()) << what;
                        ASSERT_EQ(DepthsOf(layer), before) << what;
                    }
                    break;
                case 1: {  // InsertBefore
                    if (placed || model.empty()) break;
                    ASSERT_TRUE(layer.SetSpan(item, spanOf()));
                    const size_t refAt = pick(model.size());
                    if (layer.InsertBefore(item, model[refAt])) {
                        model.insert(model.begin() + static_cast<std::ptrdiff_t>(refAt), item);
                    } else {
                        ASSERT_LT(high - layer.used(), item->span()) << what << ": refused with room";
                        ASSERT_EQ(DepthsOf(layer), before) << what;
                    }
                    break;
                }
                case 2:  // Remove
                    layer.Remove(item);
                    if (placed) model.erase(at);
                    ASSERT_EQ(item->depth(), -1) << what;
                    break;
                case 3:  // SetSpan
                    if (!layer.SetSpan(item, spanOf())) {
                        ASSERT_TRUE(placed) << what;
                        ASSERT_LT(high - layer.used(), item->span()) << what << ": refused with room";
                        model.erase(at);
                    }
                    break;
                case 4:
                    ASSERT_TRUE(layer.SpreadEvenly()) << what;
                    break;
                case 5:
                    ASSERT_TRUE(layer.Pack(random() % 2 == 0)) << what;
                    break;
            }
            ASSERT_EQ(ListOf(layer), model) << what;
            ASSERT_TRUE(LayerIsSound(layer)) << what;
        }
    }
}

}  // namespace
