#include "gui/anchor_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

using A = AnchorLayout;

// Counts recalculations, so that propagation can be checked by what reached whom.
class CountingLayout : public AnchorLayout {
public:
    void Recalculate(bool horizontal, bool vertical) override {
        ++calls;
        AnchorLayout::Recalculate(horizontal, vertical);
    }
    int calls = 0;
};

TEST(TruncateToInt, SaturatesAndTruncatesTowardZero) {
    EXPECT_EQ(TruncateToInt(-7.9), -7);
    EXPECT_EQ(TruncateToInt(7.9), 7);
    EXPECT_EQ(TruncateToInt(std::nan("")), 0);
    EXPECT_EQ(TruncateToInt(1e20), INT32_MAX);
    EXPECT_EQ(TruncateToInt(-1e20), INT32_MIN);
    EXPECT_EQ(TruncateToInt(std::numeric_limits<double>::infinity()), INT32_MAX);
}

// One axis solved in a parent whose client area is 200 x 100, beside a sibling at x 100,
// 40 wide (y 30, 20 high).
struct AxisCase {
    const char* what;
    struct Anchor {
        int index;
        int target;  // 0 none, 1 parent, 2 sibling
        int align;
        float b, k;
    };
    std::vector<Anchor> anchors;
    A::SizeSpec rule;
    A::Offset sizeOffset;  // the W offset (horizontal) or H offset
    bool horizontal;
    int start, size;
};

class AnchorAxis : public ::testing::TestWithParam<AxisCase> {};

TEST_P(AnchorAxis, Solves) {
    const AxisCase& c = GetParam();
    AnchorLayout parent, sibling, layout;
    parent.SetRect(500, 500, 200, 100);  // its position never counts: children see (0, 0)
    sibling.SetRect(100, 30, 40, 20);
    sibling.SetParent(&parent);
    layout.SetParent(&parent);
    layout.SetRect(7, 9, 11, 13);
    AnchorLayout* targets[] = {nullptr, &parent, &sibling};
    AnchorLayout* size1 = nullptr;
    AnchorLayout* size2 = nullptr;
    int align1 = 0, align2 = 0;
    for (const auto& a : c.anchors) {
        if (a.index < 4) {
            layout.SetAnchor(targets[a.target], a.align, a.b, a.k, a.index);
        } else if (a.index < 6) {
            size1 = targets[a.target];
            align1 = a.align;
        } else {
            size2 = targets[a.target];
            align2 = a.align;
        }
    }
    if (c.horizontal) {
        layout.SetWidthSpec(c.rule.b, c.rule.k);
        layout.SetWidthAnchors(size1, align1, size2, align2, c.sizeOffset.b, c.sizeOffset.k);
    } else {
        layout.SetHeightSpec(c.rule.b, c.rule.k);
        layout.SetHeightAnchors(size1, align1, size2, align2, c.sizeOffset.b, c.sizeOffset.k);
    }
    layout.Recalculate(c.horizontal, !c.horizontal);
    const Rect& r = layout.rect();
    if (c.horizontal) {
        EXPECT_EQ(r.left, c.start) << c.what;
        EXPECT_EQ(r.right, c.size) << c.what;
        EXPECT_EQ(r.top, 9) << c.what;  // the other axis untouched
        EXPECT_EQ(r.bottom, 13) << c.what;
    } else {
        EXPECT_EQ(r.top, c.start) << c.what;
        EXPECT_EQ(r.bottom, c.size) << c.what;
        EXPECT_EQ(r.left, 7) << c.what;
        EXPECT_EQ(r.right, 11) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnchorAxis,
    ::testing::Values(
        AxisCase{"unanchored keeps its rectangle", {}, {0, 1}, {}, true, 7, 11},
        AxisCase{"stretched between the parent's edges, inset 10",
                 {{A::kX1, 1, A::kX1, 10, 0}, {A::kX2, 1, A::kX2, 10, 0}}, {0, 1}, {}, true,
                 10, 180},
        AxisCase{"the same vertically",
                 {{A::kY1, 1, A::kY1, 10, 0}, {A::kY2, 1, A::kY2, 10, 0}}, {0, 1}, {}, false,
                 10, 80},
        AxisCase{"fixed 50 hanging 5 px left of the sibling",
                 {{A::kX2, 2, A::kX1, 5, 0}}, {50, 0}, {}, true, 45, 50},
        AxisCase{"fixed 50 from the start, 5 px right of the sibling",
                 {{A::kX1, 2, A::kX2, 5, 0}}, {50, 0}, {}, true, 145, 50},
        AxisCase{"free room shared by the k's: 1 : 2 : 1 of 180",
                 {{A::kX1, 1, A::kX1, 0, 1}, {A::kX2, 1, A::kX2, 0, 1}}, {20, 2}, {}, true,
                 45, 110},
        AxisCase{"width measured across the sibling, halved plus 4",
                 {{A::kX1, 1, A::kX1, 3, 0}, {A::kW1, 2, A::kX1, 0, 0},
                  {A::kW2, 2, A::kX2, 0, 0}},
                 {0, 1}, {4, 0.5f}, true, 3, 24},
        AxisCase{"height measured from the parent's top to the sibling's bottom",
                 {{A::kY1, 1, A::kY1, 0, 0}, {A::kH1, 1, A::kY1, 0, 0},
                  {A::kH2, 2, A::kY2, 0, 0}},
                 {0, 1}, {0, 1}, false, 0, 50},
        AxisCase{"negative values truncate toward zero",
                 {{A::kX1, 1, A::kX1, -7.5f, 0}}, {-2.5f, 0}, {}, true, -7, -2},
        AxisCase{"all shares cancel out: the start edge and the base",
                 {{A::kX1, 1, A::kX1, 4, -1}, {A::kX2, 1, A::kX2, 0, 0}}, {6, 1}, {}, true,
                 4, 6},
        AxisCase{"an align W2 stands for X2", {{A::kX1, 2, A::kW2, 0, 0}}, {30, 0}, {}, true,
                 140, 30},
        AxisCase{"an edge of the other axis collapses onto the axis flag",
                 {{A::kX1, 2, A::kY1, 0, 0}}, {0, 1}, {}, true, 1, 0}));

TEST(AnchorPropagation, ParentResizeStretchesChild) {
    AnchorLayout parent;
    CountingLayout child;
    parent.SetRect(0, 0, 200, 100);
    child.SetParent(&parent);
    child.SetAnchor(&parent, A::kX1, 10, 0, A::kX1);
    child.SetAnchor(&parent, A::kX2, 10, 0, A::kX2);
    child.Recalculate(true, false);
    EXPECT_EQ(child.rect().right, 180);
    child.calls = 0;
    parent.SetRect(0, 0, 300, 100);
    EXPECT_EQ(child.rect().left, 10);
    EXPECT_EQ(child.rect().right, 280);
    EXPECT_EQ(child.calls, 1);  // listed once although anchored twice
    // Moving the parent moves the client area too: the child's anchors still count it.
    parent.SetRect(50, 0, 300, 100);
    EXPECT_EQ(child.calls, 2);
    // A change the child's anchors do not read reaches nobody.
    parent.SetRect(50, 0, 300, 40);
    EXPECT_EQ(child.calls, 2);
}

TEST(AnchorPropagation, RunsAlongAChainOfSiblings) {
    AnchorLayout parent;
    std::vector<std::unique_ptr<AnchorLayout>> chain;
    for (int i = 0; i < 4; ++i) {
        chain.push_back(std::make_unique<AnchorLayout>());
        chain.back()->SetParent(&parent);
        chain.back()->SetWidthSpec(10, 0);
        if (i > 0) chain.back()->SetAnchor(chain[i - 1].get(), A::kX2, 2, 0, A::kX1);
    }
    chain[0]->SetRect(5, 0, 10, 10);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(chain[i]->rect().left, 5 + 12 * i) << i;
}

// A layout anchored to a sibling's right edge follows the sibling when it moves with its
// width unchanged: the right edge moved all the same.
TEST(AnchorPropagation, EndEdgeFollowsAMoveOfItsTarget) {
    AnchorLayout sibling, horizontal, vertical;
    horizontal.SetWidthSpec(20, 0);
    horizontal.SetAnchor(&sibling, A::kX2, 0, 0, A::kX1);
    vertical.SetHeightSpec(20, 0);
    vertical.SetAnchor(&sibling, A::kY2, 0, 0, A::kY1);
    sibling.SetRect(0, 0, 30, 30);
    ASSERT_EQ(horizontal.rect().left, 30);
    ASSERT_EQ(vertical.rect().top, 30);
    sibling.SetRect(10, 5, 30, 30);
    EXPECT_EQ(horizontal.rect().left, 40);
    EXPECT_EQ(vertical.rect().top, 35);
}

TEST(AnchorPropagation, MutualAnchorsTerminate) {
    CountingLayout a, b;
    a.SetWidthSpec(10, 0);
    b.SetWidthSpec(10, 0);
    a.SetAnchor(&b, A::kX2, 0, 0, A::kX1);
    b.SetAnchor(&a, A::kX2, 0, 0, A::kX1);
    a.Recalculate(true, false);  // a at b's end, then b at a's end, then a again: stops there
    EXPECT_EQ(a.calls, 2);
    EXPECT_EQ(b.calls, 1);
    EXPECT_EQ(a.rect().left, 0);
    EXPECT_EQ(b.rect().left, 10);
    // A layout anchored to itself ends as well.
    CountingLayout self;
    self.SetWidthSpec(10, 0);
    self.SetAnchor(&self, A::kX2, 1, 0, A::kX1);
    self.SetRect(0, 0, 10, 10);
    EXPECT_EQ(self.calls, 2);  // the second call ends at the guard
    EXPECT_EQ(self.rect().left, 11);
}

TEST(AnchorLists, ClearAnchorW1AlsoClearsW2AndLeavesBothLists) {
    AnchorLayout t1, t2, layout;
    layout.SetWidthAnchors(&t1, A::kX1, &t2, A::kX2, 0, 1);
    EXPECT_EQ(t1.DependantCount(&layout), 1);
    EXPECT_EQ(t2.DependantCount(&layout), 1);
    layout.ClearAnchor(A::kW1);
    EXPECT_EQ(layout.target(A::kW1), nullptr);
    EXPECT_EQ(layout.target(A::kW2), nullptr);
    EXPECT_EQ(t1.dependants().count(), 0);
    EXPECT_EQ(t2.dependants().count(), 0);
}

// Clearing one of two anchors to a layout must not stop the other from following it.
TEST(AnchorLists, ClearingOneOfTwoAnchorsKeepsTheOtherListening) {
    AnchorLayout parent, child;
    child.SetParent(&parent);
    child.SetAnchor(&parent, A::kX1, 10, 0, A::kX1);
    child.SetAnchor(&parent, A::kX2, 10, 0, A::kX2);
    child.ClearAnchor(A::kX2);
    EXPECT_EQ(parent.DependantCount(&child), 1);
    parent.SetRect(0, 0, 100, 100);
    EXPECT_EQ(child.rect().left, 10);
}

// An anchor pointed elsewhere releases its old target; destroying that target afterwards
// must leave nothing behind that points into it (ASan checks the propagation).
TEST(AnchorLists, RetargetingAndDestructionLeaveNoStaleEntries) {
    AnchorLayout newTarget;
    auto layout = std::make_unique<AnchorLayout>();
    {
        AnchorLayout oldTarget;
        layout->SetAnchor(&oldTarget, A::kX1, 0, 0, A::kX1);
        layout->SetAnchor(&newTarget, A::kX1, 0, 0, A::kX1);
        EXPECT_EQ(oldTarget.dependants().count(), 0);
        layout->SetAnchor(&oldTarget, A::kX2, 0, 0, A::kY1);
    }  // oldTarget destroyed while layout still anchors Y1 to it
    EXPECT_EQ(layout->target(A::kY1), nullptr);
    layout->Recalculate(true, true);
    newTarget.SetRect(3, 0, 1, 1);
    EXPECT_EQ(layout->rect().left, 3);
    // Destroying the dependant takes it out of every list, however it got there.
    layout->SetWidthAnchors(&newTarget, A::kX1, &newTarget, A::kX2, 0, 1);
    layout.reset();
    EXPECT_EQ(newTarget.dependants().count(), 0);
    newTarget.SetRect(4, 0, 1, 1);
}

TEST(AnchorLists, RemoveDependantRemovesEveryOccurrence) {
    AnchorLayout t, a, b;
    a.SetAnchor(&t, A::kX1, 0, 0, A::kX1);
    b.SetAnchor(&t, A::kX1, 0, 0, A::kX1);
    a.SetAnchor(&t, A::kX1, 0, 0, A::kY1);
    EXPECT_EQ(t.dependants().count(), 2);
    t.RemoveDependant(&a);
    EXPECT_EQ(t.DependantCount(&a), 0);
    EXPECT_EQ(t.DependantCount(&b), 1);
}

TEST(AnchorLists, QueryInterfaceAnswersForTheLayout) {
    AnchorLayout layout;
    EXPECT_EQ(QueryAs<AnchorLayout>(&layout), &layout);
}

}  // namespace
