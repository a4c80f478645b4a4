#include "gui/gui_root.h"
#include "gui/gui_window.h"
#include "platform/log/log_testing.h"
#include "tests/gui/support/window_dump.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Records what reaches it: events as "name:type" (with "!" when the outside bit is set) in a
// log shared by the windows of a test, and the number of updates.
class Probe : public GuiWindow {
public:
    Probe(const char* name, std::vector<std::string>* log = nullptr) : log_(log) {
        SetName(name);
    }
    bool HandleEvent(GuiEvent event) override {
        if (log_ != nullptr) {
            std::string entry = std::string(name().Text()) + ":" +
                                std::to_string(static_cast<int>(event.type()));
            if (event.flags() & GuiEvent::kPointerOutside) entry += "!";
            log_->push_back(entry);
        }
        return true;
    }
    bool OnUpdate() override {
        ++updates;
        return GuiWindow::OnUpdate();
    }
    int updates = 0;

private:
    std::vector<std::string>* log_;
};

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : " ") + item;
    return out;
}

// Every test leaves the global root as it found it.
class GuiWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(g_guiRoot.items().count(), 0); }
    void TearDown() override {
        g_guiRoot.DispatchEvents();
        EXPECT_EQ(g_guiRoot.items().count(), 0);
        EXPECT_EQ(g_guiRoot.focusWindow(), nullptr);
    }
};

// Top-level A gets children B then C and is shown; D is shown next. The child added last lies
// in front within the child layer's numbers but at the back on screen (5000 against 4999), and
// D takes the room in front of A, which moves with its children.
TEST_F(GuiWindowTest, SampleTreeDump) {
    Probe a("A"), b("B"), c("C"), d("D");
    a.SetRect(10, 10, 100, 50);
    b.SetRect(0, 0, 20, 20);
    c.SetRect(30, 5, 20, 20);
    d.SetRect(200, 200, 50, 50);
    a.AddChild(&b, false);
    a.AddChild(&c, false);
    a.Show();
    EXPECT_EQ(gui_test::DumpRoot(),
              "A depth=5001 span=3 abs=5001 front=5001 below=0 rect=(10,10,100,50) "
              "screen=(10,10,100,50) clip=(10,10,100,50) shown=1 visible=1 placed=1 focused=0 "
              "pending=1\n"
              "  B depth=2 span=1 abs=4999 front=4999 below=2 rect=(0,0,20,20) "
              "screen=(10,10,20,20) clip=(10,10,20,20) shown=1 visible=1 placed=1 focused=0 "
              "pending=1\n"
              "  C depth=1 span=1 abs=5000 front=5000 below=1 rect=(30,5,20,20) "
              "screen=(40,15,20,20) clip=(40,15,20,20) shown=1 visible=1 placed=1 focused=0 "
              "pending=1\n");
    d.Show();
    g_guiRoot.Draw();
    EXPECT_EQ(gui_test::DumpRoot(),
              "D depth=1666 span=1 abs=1666 front=1666 below=0 rect=(200,200,50,50) "
              "screen=(200,200,50,50) clip=(200,200,50,50) shown=1 visible=1 placed=1 "
              "focused=0 pending=0\n"
              "A depth=3334 span=3 abs=3334 front=3334 below=0 rect=(10,10,100,50) "
              "screen=(10,10,100,50) clip=(10,10,100,50) shown=1 visible=1 placed=1 focused=0 "
              "pending=0\n"
              "  B depth=2 span=1 abs=3332 front=3332 below=2 rect=(0,0,20,20) "
              "screen=(10,10,20,20) clip=(10,10,20,20) shown=1 visible=1 placed=1 focused=0 "
              "pending=0\n"
              "  C depth=1 span=1 abs=3333 front=3333 below=1 rect=(30,5,20,20) "
              "screen=(40,15,20,20) clip=(40,15,20,20) shown=1 visible=1 placed=1 focused=0 "
              "pending=0\n");
    // Each window ran its update once, although A was asked again when D moved it.
    for (Probe* p : {&a, &b, &c, &d}) EXPECT_EQ(p->updates, 1) << p->name().Text();
}

// A grandchild lies inside its parent's range, not on a sibling's depth.
TEST_F(GuiWindowTest, GrandchildrenStayInsideTheirParentsSpan) {
    GuiWindow top, child, sibling, grandchild;
    top.AddChild(&child, false);
    top.AddChild(&sibling, false);
    child.AddChild(&grandchild, false);
    top.Show();
    ASSERT_EQ(top.span(), 4);
    const int topDepth = top.AbsoluteDepth();
    // The child's own content at the back of its two values, the grandchild in front of it.
    const int childLow = topDepth - (child.depth());
    EXPECT_EQ(child.AbsoluteDepth(), childLow + 1);
    EXPECT_EQ(grandchild.AbsoluteDepth(), childLow);
    EXPECT_NE(grandchild.AbsoluteDepth(), sibling.AbsoluteDepth());
    // Every absolute depth is distinct and inside the top window's span.
    std::vector<int> depths{top.AbsoluteDepth(), child.AbsoluteDepth(), sibling.AbsoluteDepth(),
                            grandchild.AbsoluteDepth()};
    for (size_t i = 0; i < depths.size(); ++i) {
        EXPECT_GT(depths[i], topDepth - top.span());
        EXPECT_LE(depths[i], topDepth);
        for (size_t j = 0; j < i; ++j) EXPECT_NE(depths[i], depths[j]);
    }
}

TEST_F(GuiWindowTest, ShownWindowsTakeDepthsFromTheRootLayer) {
    Probe first("first"), second("second");
    first.Show();
    EXPECT_EQ(first.depth(), 5000);
    second.Show();
    EXPECT_LT(second.depth(), first.depth());
    // A window larger than the whole layer stays unplaced, says so once, and never gets an
    // update.
    Probe huge("huge");
    rh::testing::LogCapture capture(rh::LogLevel::Trace);
    huge.ReserveOwnSlots(10001);
    huge.Show();
    huge.Show();
    EXPECT_EQ(capture.texts(),
              std::vector<std::string>{"GUI window does not fit in its depth layer"});
    EXPECT_FALSE(huge.IsPlaced());
    huge.RequestUpdate(true, true);
    EXPECT_FALSE(huge.HasPendingUpdate());
    g_guiRoot.Draw();
    EXPECT_EQ(huge.updates, 0);
}

TEST_F(GuiWindowTest, TreeOperations) {
    GuiWindow p1, p2, child, other;
    child.SetName("kid");
    other.SetName("kid");
    p1.AddChild(&child, false);
    p1.AddChild(&other, false);
    EXPECT_EQ(p1.FindChild("kid"), &child);  // the first in insertion order
    EXPECT_EQ(p1.FindChild("KID"), nullptr);  // names compare with regard to case
    EXPECT_EQ(p1.span(), 3);
    child.Show();
    // Re-parenting: the child leaves p1's layer and list and keeps its shown flag.
    p2.AddChild(&child, false);
    EXPECT_EQ(child.parent(), &p2);
    EXPECT_EQ(p1.children().count(), 1);
    EXPECT_EQ(p1.span(), 2);
    EXPECT_EQ(p2.span(), 2);
    EXPECT_EQ(child.layer(), &p2.childLayer());
    EXPECT_TRUE(child.shown());
    EXPECT_TRUE(p2.sinks().Contains(&child));
    EXPECT_FALSE(p1.sinks().Contains(&child));
    // A window cannot become a child of its own descendant (or of itself).
    child.AddChild(&p2, false);
    child.AddChild(&child, false);
    EXPECT_EQ(p2.parent(), nullptr);
    EXPECT_EQ(child.children().count(), 0);
    p2.RemoveChild(&child);
    EXPECT_EQ(child.parent(), nullptr);
    EXPECT_EQ(child.layoutParent(), nullptr);
    EXPECT_FALSE(child.IsPlaced());
    EXPECT_EQ(p2.span(), 1);
    // AddChild with anchorToParent ties X1 and Y1 to the parent.
    child.SetAnchor(&p1, AnchorLayout::kX2, 0, 0, AnchorLayout::kX2);
    p2.AddChild(&child, true);
    EXPECT_EQ(child.target(AnchorLayout::kX1), &p2);
    EXPECT_EQ(child.target(AnchorLayout::kY1), &p2);
    EXPECT_EQ(child.target(AnchorLayout::kX2), nullptr);
    EXPECT_EQ(p1.DependantCount(&child), 0);
}

TEST_F(GuiWindowTest, VisibilityKeepsThePlaceAndTheShownFlags) {
    Probe parent("parent"), child("child");
    parent.AddChild(&child, false);
    parent.Show();
    g_guiRoot.Draw();
    const int depth = parent.depth();
    parent.SetVisible(false);
    EXPECT_FALSE(parent.IsShown());
    EXPECT_TRUE(parent.shown());
    EXPECT_TRUE(parent.IsPlaced());
    parent.RequestUpdate(true, true);
    EXPECT_FALSE(parent.HasPendingUpdate());
    parent.SetVisible(true);
    EXPECT_EQ(parent.depth(), depth);
    EXPECT_TRUE(child.IsShown());
    g_guiRoot.Draw();
    EXPECT_EQ(parent.updates, 2);
    EXPECT_EQ(child.updates, 2);
    // Hide clears the shown flags of the subtree.
    parent.Hide();
    EXPECT_FALSE(child.shown());
    EXPECT_TRUE(parent.IsPlaced());
}

TEST_F(GuiWindowTest, UpdatesRunOnceAtTheNextDraw) {
    Probe w("w");
    w.RequestUpdate(true, false);  // not shown: nothing
    EXPECT_FALSE(w.HasPendingUpdate());
    w.Show();
    EXPECT_TRUE(w.HasPendingUpdate());
    EXPECT_EQ(w.updates, 0);
    w.RequestUpdate(true, false);  // already pending: still one
    g_guiRoot.Draw();
    g_guiRoot.Draw();
    EXPECT_EQ(w.updates, 1);
    w.RequestUpdate(true, false);
    w.RequestUpdate(false, false);
    g_guiRoot.Draw();
    EXPECT_EQ(w.updates, 1);
    w.OnBlockMoved(nullptr);
    g_guiRoot.Draw();
    EXPECT_EQ(w.updates, 2);
}

TEST_F(GuiWindowTest, FocusAmongChildren) {
    std::vector<std::string> log;
    Probe parent("P", &log), one("one", &log), two("two", &log);
    parent.AddChild(&one, false);
    parent.AddChild(&two, false);
    one.SetFocus();
    two.SetFocus();
    two.SetFocus();  // already the focused child: nothing
    EXPECT_EQ(Join(log), "one:1 one:2 two:1");
    EXPECT_FALSE(one.focused());
    EXPECT_EQ(parent.focusedChild(), &two);
    log.clear();
    one.KillFocus();  // not focused: nothing
    two.KillFocus();
    EXPECT_EQ(Join(log), "two:2");
    EXPECT_EQ(parent.focusedChild(), nullptr);
}

TEST_F(GuiWindowTest, FocusOfTopLevelWindowsIsQueued) {
    std::vector<std::string> log;
    Probe t1("t1", &log), t2("t2", &log);
    t1.SetFocus();
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(g_guiRoot.DispatchEvents());
    t2.SetFocus();
    g_guiRoot.DispatchEvents();
    EXPECT_EQ(Join(log), "t1:1 t1:2 t2:1");
    // t1 giving up a focus it no longer has leaves t2 focused.
    log.clear();
    t1.KillFocus();
    EXPECT_EQ(g_guiRoot.focusWindow(), &t2);
    t2.KillFocus();
    g_guiRoot.DispatchEvents();
    EXPECT_EQ(Join(log), "t1:2 t2:2 t2:2");
    EXPECT_EQ(g_guiRoot.focusWindow(), nullptr);
}

// A focused top-level window that goes away must not be handed its focus-lost event later
// (ASan would report the use of the freed window).
TEST_F(GuiWindowTest, DestroyedWindowGetsNoQueuedEvents) {
    std::vector<std::string> log;
    auto doomed = std::make_unique<Probe>("doomed", &log);
    Probe other("other", &log);
    doomed->Show();
    doomed->SetFocus();
    g_guiRoot.PostEvent(doomed.get(), GuiEvent(GuiEventType::kKeyDown));
    g_guiRoot.PostEvent(&other, GuiEvent(GuiEventType::kKeyUp));
    doomed.reset();
    EXPECT_EQ(g_guiRoot.focusWindow(), nullptr);
    EXPECT_TRUE(g_guiRoot.DispatchEvents());
    // The queued focus-gained and key events of the gone window are dropped; its focus-lost
    // reached only the base part, the probe part being gone by then.
    EXPECT_EQ(Join(log), "other:13");
}

struct RouteCase {
    const char* what;
    GuiEventType type;
    Point from, to;
    bool focusLeft;
    const char* expected;
};

class GuiEventRouting : public GuiWindowTest, public ::testing::WithParamInterface<RouteCase> {};

// A parent 100 x 100 with a left child (x 0..40) and a right child (x 60..100), and a hidden
// child over the whole parent that never gets anything.
TEST_P(GuiEventRouting, RoutesDownTheShownChildren) {
    const RouteCase& c = GetParam();
    std::vector<std::string> log;
    Probe parent("P", &log), left("L", &log), right("R", &log), hidden("H", &log);
    parent.SetRect(0, 0, 100, 100);
    left.SetRect(0, 0, 40, 100);
    right.SetRect(60, 0, 40, 100);
    hidden.SetRect(0, 0, 100, 100);
    parent.AddChild(&left, false);
    parent.AddChild(&right, false);
    parent.AddChild(&hidden, false);
    parent.Show();
    hidden.Hide();
    if (c.focusLeft) left.SetFocus();
    g_guiRoot.DispatchEvents();
    log.clear();
    GuiEvent event = GuiEvent::FromInput(InputEventKind::kCursorMoved, c.to.x, c.to.y, c.from.x,
                                         c.from.y, 0, 0, 0);
    event.SetType(c.type);
    g_guiRoot.PostEvent(&parent, event);
    g_guiRoot.DispatchEvents();
    EXPECT_EQ(Join(log), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GuiEventRouting,
    ::testing::Values(
        RouteCase{"move from left to right", GuiEventType::kPointerMoved, {10, 10}, {70, 10},
                  false, "P:4 L:5 R:3"},
        RouteCase{"move inside left", GuiEventType::kPointerMoved, {10, 10}, {20, 10}, false,
                  "P:4 L:4"},
        RouteCase{"move in the gap reaches only the focused child", GuiEventType::kPointerMoved,
                  {45, 10}, {50, 10}, true, "P:4 L:4!"},
        RouteCase{"move in the gap without focus", GuiEventType::kPointerMoved, {45, 10},
                  {50, 10}, false, "P:4"},
        RouteCase{"the shared edge counts", GuiEventType::kPointerMoved, {50, 10}, {40, 10},
                  false, "P:4 L:3"},
        RouteCase{"button over right", GuiEventType::kLeftButtonDown, {0, 0}, {70, 10}, true,
                  "P:6 R:6"},
        RouteCase{"button in the gap", GuiEventType::kRightButtonUp, {0, 0}, {50, 10}, true,
                  "P:10"},
        RouteCase{"entered where right is", GuiEventType::kPointerEntered, {10, 10}, {70, 10},
                  true, "P:3 L:4 R:3"},
        RouteCase{"left where left was", GuiEventType::kPointerLeft, {10, 10}, {70, 10}, false,
                  "P:5 L:5"},
        RouteCase{"key events follow the focused child", GuiEventType::kKeyDown, {10, 10},
                  {70, 10}, true, "P:12 L:12"}));

TEST_F(GuiWindowTest, SetRectClampsTheSize) {
    struct {
        int in, out;
    } cases[] = {{0, 1}, {-5, 1}, {1, 1}, {1500, 1500}, {2000, 2000}, {5000, 2000}};
    GuiWindow w;
    for (const auto& c : cases) {
        w.SetRect(3, 4, c.in, c.in);
        EXPECT_EQ(w.rect().right, c.out) << c.in;
        EXPECT_EQ(w.rect().bottom, c.out) << c.in;
        w.SetSize(c.in, 7);
        EXPECT_EQ(w.GetSize().x, c.out) << c.in;
    }
    w.SetPosition(-9, 11);
    EXPECT_EQ(w.GetPosition().x, -9);
    EXPECT_EQ(w.GetPosition().y, 11);
}

TEST_F(GuiWindowTest, SetRectUpdatesOnlyChildrenThatMovedOnScreen) {
    Probe parent("P"), inside("in"), edge("edge");
    parent.SetRect(0, 0, 100, 100);
    inside.SetRect(10, 10, 20, 20);
    edge.SetRect(70, 70, 20, 20);
    parent.AddChild(&inside, false);
    parent.AddChild(&edge, false);
    parent.Show();
    g_guiRoot.Draw();
    parent.SetRect(0, 0, 80, 80);  // clips the edge child only
    EXPECT_TRUE(parent.HasPendingUpdate());
    EXPECT_FALSE(inside.HasPendingUpdate());
    EXPECT_TRUE(edge.HasPendingUpdate());
    g_guiRoot.Draw();
    parent.SetRect(5, 0, 80, 80);  // a move moves them all
    EXPECT_TRUE(inside.HasPendingUpdate());
    EXPECT_TRUE(edge.HasPendingUpdate());
    g_guiRoot.Draw();
    EXPECT_EQ(inside.updates, 2);
    EXPECT_EQ(edge.updates, 3);
}

TEST_F(GuiWindowTest, HideReanchorsDependants) {
    GuiWindow parent, hidden, follower, inner;
    parent.AddChild(&hidden, false);
    parent.AddChild(&follower, false);
    hidden.AddChild(&inner, false);
    follower.SetAnchor(&hidden, AnchorLayout::kX2, 4, 0, AnchorLayout::kX1);
    follower.SetAnchor(&hidden, AnchorLayout::kY2, 4, 0, AnchorLayout::kY1);
    follower.SetAnchor(&hidden, AnchorLayout::kX2, 0, 0, AnchorLayout::kX2);
    follower.SetWidthAnchors(&hidden, AnchorLayout::kX1, &parent, AnchorLayout::kX2, 0, 1);
    inner.SetAnchor(&hidden, AnchorLayout::kX1, 0, 0, AnchorLayout::kX1);
    hidden.SetAnchor(&parent, AnchorLayout::kX1, 0, 0, AnchorLayout::kX1);
    hidden.Show();
    hidden.Hide();
    EXPECT_EQ(follower.target(AnchorLayout::kX1), &parent);
    EXPECT_EQ(follower.align(AnchorLayout::kX1), AnchorLayout::kX1);
    EXPECT_EQ(follower.offset(AnchorLayout::kX1).b, 0.0f);
    EXPECT_EQ(follower.target(AnchorLayout::kY1), &parent);
    EXPECT_EQ(follower.align(AnchorLayout::kY1), AnchorLayout::kY1);
    EXPECT_EQ(follower.target(AnchorLayout::kX2), nullptr);
    EXPECT_EQ(follower.target(AnchorLayout::kW1), nullptr);
    EXPECT_EQ(inner.target(AnchorLayout::kX1), nullptr);  // its parent went: cleared
    EXPECT_EQ(hidden.dependants().count(), 0);
    EXPECT_EQ(hidden.target(AnchorLayout::kX1), nullptr);  // its own anchors are cleared too
    EXPECT_EQ(parent.DependantCount(&hidden), 0);
    EXPECT_EQ(parent.DependantCount(&follower), 1);
}

TEST(TestPointInRect, Table) {
    const Rect size(10, 20, 30, 40);         // x 10..40, y 20..60
    const Rect corners(10, 20, 40, 60);      // the same as corners
    struct {
        int x, y, expected;
    } cases[] = {{25, 40, 3}, {10, 40, 2}, {40, 40, 2}, {25, 20, 2}, {25, 60, 2}, {10, 20, 2},
                 {9, 40, 4},  {41, 40, 4}, {25, 19, 4}, {25, 61, 4}, {40, 60, 2}};
    for (const auto& c : cases) {
        EXPECT_EQ(GuiWindow::TestPointInRect(size, c.x, c.y, true), c.expected)
            << c.x << "," << c.y;
        EXPECT_EQ(GuiWindow::TestPointInRect(corners, c.x, c.y, false), c.expected)
            << c.x << "," << c.y;
    }
    // Far-apart numbers do not overflow.
    EXPECT_EQ(GuiWindow::TestPointInRect(Rect(INT32_MIN, 0, INT32_MAX, 5), INT32_MAX, 1, true),
              4);
}

TEST_F(GuiWindowTest, ScreenAndClientThroughThreeLevels) {
    GuiWindow top, mid, leaf;
    top.SetRect(100, 200, 300, 300);
    mid.SetRect(5, 5, 50, 50);
    leaf.SetRect(10, 20, 30, 40);
    top.AddChild(&mid, false);
    mid.AddChild(&leaf, false);
    Rect screen, clip;
    EXPECT_TRUE(leaf.ScreenRect(screen, clip));
    EXPECT_TRUE(RectsEqual(screen, Rect(115, 225, 30, 40)));
    EXPECT_TRUE(RectsEqual(clip, Rect(115, 225, 30, 30)));  // cut at mid's bottom (255)
    const Point s = leaf.ClientToScreen(1, 2);
    EXPECT_EQ(s.x, 116);
    EXPECT_EQ(s.y, 227);
    const Point back = leaf.ScreenToClient(s.x, s.y);
    EXPECT_EQ(back.x, 1);
    EXPECT_EQ(back.y, 2);
    EXPECT_TRUE(leaf.HitTest(115, 225));   // corner
    EXPECT_TRUE(leaf.HitTest(145, 255));   // clipped edge
    EXPECT_FALSE(leaf.HitTest(130, 260));  // inside the leaf but outside mid
    // Wholly outside its parent: the clipped rectangle is empty and nothing hits it.
    leaf.SetRect(80, 80, 10, 10);
    clip = Rect(0, 0, 1000, 1000);
    EXPECT_FALSE(leaf.ScreenRect(screen, clip));
    EXPECT_EQ(clip.right, 0);
    EXPECT_EQ(clip.bottom, 0);
    EXPECT_FALSE(leaf.HitTest(screen.left + 1, screen.top + 1));
    EXPECT_FALSE(leaf.HitTest(screen.left, screen.top));
}

TEST(GuiRoot, DepthToZ) {
    EXPECT_FLOAT_EQ(g_guiRoot.DepthToZ(1), 0.0f);
    EXPECT_FLOAT_EQ(g_guiRoot.DepthToZ(10000), 1.0f);
    EXPECT_LT(g_guiRoot.DepthToZ(4000), g_guiRoot.DepthToZ(5000));
}

TEST(GuiWindowQuery, AnswersForItsParts) {
    GuiWindow w;
    RefCounted* base = static_cast<AnchorLayout*>(&w);
    EXPECT_EQ(QueryAs<GuiWindow>(base), &w);
    EXPECT_EQ(QueryAs<AnchorLayout>(base), static_cast<AnchorLayout*>(&w));
    EXPECT_EQ(QueryAs<GuiLayerItem>(base), static_cast<GuiLayerItem*>(&w));
}

}  // namespace
