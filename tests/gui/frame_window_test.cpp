// Frame windows: border zones, resizing and moving by the left button, drag events to the
// children, the cursor per zone and the layout flags.
#include "core/files/mem_stream.h"
#include "core/script/script_node.h"
#include "core/script/script_parser.h"
#include "gui/frame_window.h"
#include "gui/gui_root.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace {

GuiEvent Pointer(GuiEventType type, int32_t x, int32_t y, int32_t prevX, int32_t prevY) {
    GuiEvent e = GuiEvent::FromInput(InputEventKind::kCursorMoved, x, y, prevX, prevY, 0, 0, 0);
    e.SetType(type);
    return e;
}

std::string RectText(const Rect& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

// Records the drag events that reach it as "type:moving resizing".
class DragProbe : public GuiWindow {
public:
    bool HandleEvent(GuiEvent event) override {
        log.push_back(std::to_string(static_cast<int>(event.type())) + ":" +
                      std::to_string(event.IsMoving()) + std::to_string(event.IsResizing()) +
                      (event.sender() != nullptr ? "" : " no sender"));
        return true;
    }
    std::vector<std::string> log;
};

class FrameWindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        g_guiRoot.DispatchEvents();
        EXPECT_EQ(g_guiRoot.items().count(), 0);
        EXPECT_EQ(g_guiRoot.focusWindow(), nullptr);
    }
};

TEST_F(FrameWindowTest, HitZones) {
    FrameWindow w;
    w.SetRect(0, 0, 100, 50);
    struct {
        int32_t x, y, zone;
    } cases[] = {
        {98, 48, 5}, {50, 0, 2},  {2, 25, 8},  {50, 25, 0}, {0, 0, 1},    {99, 0, 3},
        {0, 49, 7},  {50, 49, 6}, {99, 25, 4}, {4, 25, 8},  {5, 25, 0},   {95, 25, 0},
        {96, 25, 4}, {100, 50, 5}, {101, 25, 0}, {-1, 25, 0}, {50, 4, 2}, {50, 5, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(w.HitZone(c.x, c.y), c.zone) << c.x << "," << c.y;
    }
    // No move area by default; with one, its points move a movable window only.
    EXPECT_EQ(w.HitZone(50, 25), 0);
    w.SetMoveArea(Rect(4, 4, 92, 42));
    EXPECT_EQ(w.HitZone(50, 25), 9);
    EXPECT_EQ(w.HitZone(2, 25), 8) << "the border comes first";
    w.SetMovable(false);
    EXPECT_EQ(w.HitZone(50, 25), 0);
    // Not resizable: no border zone anywhere.
    w.SetResizable(false);
    for (const auto& c : cases) EXPECT_EQ(w.HitZone(c.x, c.y), 0);
    // A window smaller than the border: the rectangles are clipped to it and the first one
    // (bottom-right) takes every point.
    FrameWindow tiny;
    tiny.SetRect(0, 0, 3, 2);
    EXPECT_EQ(tiny.HitZone(0, 0), 5);
    EXPECT_EQ(tiny.HitZone(3, 2), 5);
    EXPECT_EQ(tiny.HitZone(4, 0), 0);
}

// One drag per row: press at a window-local point, move the pointer to a screen point, and
// compare the rectangle (relative to the parent when there is one).
TEST_F(FrameWindowTest, DragTable) {
    struct Case {
        const char* what;
        bool hasParent;
        Point minSize, maxSize;
        bool resizable, movable;
        Point press;  // window-local
        Point to;     // screen
        int32_t zone;
        Rect expected;
    };
    const Point kMin(1, 1), kMax(2000, 2000);
    // The window lies at (100, 100) 100 x 50 on the screen; with a parent at (50, 50) its own
    // rectangle is (50, 50, 100, 50).
    const Case cases[] = {
        {"right edge to local 299", false, kMin, kMax, true, true, {98, 25}, {399, 120}, 4,
         Rect(100, 100, 300, 50)},
        {"right edge to local -10", false, kMin, kMax, true, true, {98, 25}, {90, 120}, 4,
         Rect(100, 100, 1, 50)},
        {"right edge past max", false, kMin, Point(250, 2000), true, true, {98, 25}, {900, 120},
         4, Rect(100, 100, 250, 50)},
        {"left edge out", false, kMin, kMax, true, true, {1, 25}, {50, 120}, 8,
         Rect(50, 100, 150, 50)},
        {"left edge in", false, Point(40, 1), kMax, true, true, {1, 25}, {150, 120}, 8,
         Rect(150, 100, 50, 50)},
        {"left edge within min width of the right", false, Point(40, 1), kMax, true, true,
         {1, 25}, {170, 120}, 8, Rect(100, 100, 100, 50)},
        {"left edge stopped by max: right edge stays", false, kMin, Point(120, 2000), true,
         true, {1, 25}, {0, 120}, 8, Rect(80, 100, 120, 50)},
        {"left edge to the far left: no overflow", false, kMin, kMax, true, true, {1, 25},
         {INT32_MIN, 120}, 8, Rect(-1800, 100, 2000, 50)},
        {"right edge to the far right: no overflow", false, kMin, kMax, true, true, {98, 25},
         {INT32_MAX, 120}, 4, Rect(100, 100, 2000, 50)},
        {"top edge", false, kMin, kMax, true, true, {50, 1}, {150, 80}, 2,
         Rect(100, 80, 100, 70)},
        {"top edge stopped by max", false, kMin, Point(2000, 60), true, true, {50, 1},
         {150, 0}, 2, Rect(100, 90, 100, 60)},
        {"bottom edge", false, kMin, kMax, true, true, {50, 48}, {150, 179}, 6,
         Rect(100, 100, 100, 80)},
        {"top-left corner", false, kMin, kMax, true, true, {1, 1}, {90, 90}, 1,
         Rect(90, 90, 110, 60)},
        {"top-right corner", false, kMin, kMax, true, true, {98, 1}, {250, 90}, 3,
         Rect(100, 90, 151, 60)},
        {"bottom-right corner", false, kMin, kMax, true, true, {98, 48}, {250, 200}, 5,
         Rect(100, 100, 151, 101)},
        {"bottom-left corner", false, kMin, kMax, true, true, {1, 48}, {90, 200}, 7,
         Rect(90, 100, 110, 101)},
        {"child: left edge in the parent's coordinates", true, kMin, kMax, true, true, {1, 25},
         {70, 120}, 8, Rect(20, 50, 130, 50)},
        {"child: top edge in the parent's coordinates", true, kMin, kMax, true, true, {50, 1},
         {150, 90}, 2, Rect(50, 40, 100, 60)},
        {"not resizable", false, kMin, kMax, false, true, {98, 25}, {399, 120}, 0,
         Rect(100, 100, 100, 50)},
        {"move area", false, kMin, kMax, true, true, {50, 25}, {180, 145}, 9,
         Rect(130, 120, 100, 50)},
        {"move area, not movable", false, kMin, kMax, true, false, {50, 25}, {180, 145}, 0,
         Rect(100, 100, 100, 50)},
        {"move far: no overflow", false, kMin, kMax, true, true, {50, 25},
         {2000000000, -2000000000}, 9, Rect(1999999950, -2000000025, 100, 50)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GuiWindow parent;
        FrameWindow w;
        w.SetMinSize(c.minSize);
        w.SetMaxSize(c.maxSize);
        if (c.hasParent) {
            parent.SetRect(50, 50, 400, 400);
            parent.AddChild(&w, false);
            w.SetRect(50, 50, 100, 50);
        } else {
            w.SetRect(100, 100, 100, 50);
        }
        w.SetResizable(c.resizable);
        w.SetMovable(c.movable);
        w.SetMoveArea(Rect(4, 4, 92, 42));
        const Point press(100 + c.press.x, 100 + c.press.y);
        w.HandleEvent(Pointer(GuiEventType::kLeftButtonDown, press.x, press.y, press.x, press.y));
        EXPECT_EQ(w.zone(), c.zone);
        w.HandleEvent(Pointer(GuiEventType::kPointerMoved, c.to.x, c.to.y, press.x, press.y));
        EXPECT_EQ(RectText(w.rect()), RectText(c.expected));
        w.HandleEvent(Pointer(GuiEventType::kLeftButtonUp, c.to.x, c.to.y, c.to.x, c.to.y));
        EXPECT_FALSE(w.resizing() || w.moving());
        if (c.hasParent) parent.RemoveChild(&w);
        w.KillFocus();
    }
    g_guiRoot.DispatchEvents();
}

// A drag goes to the children as started, dragged (per step) and ended, with {moving,
// resizing}; a drag that leaves the window still follows the pointer (moves with the outside
// bit reach the focused frame).
TEST_F(FrameWindowTest, DragEventsReachTheChildren) {
    FrameWindow w;
    DragProbe child;
    w.SetName("frame");
    w.SetRect(100, 100, 100, 50);
    w.SetMoveArea(Rect(4, 4, 92, 42));
    w.AddChild(&child, true);
    w.HandleEvent(Pointer(GuiEventType::kLeftButtonDown, 198, 125, 198, 125));
    EXPECT_TRUE(w.focused()) << "a drag takes the focus";
    GuiEvent outside = Pointer(GuiEventType::kPointerMoved, 300, 125, 198, 125);
    outside.SetFlags(GuiEvent::kPointerOutside);
    w.HandleEvent(outside);
    EXPECT_EQ(w.rect().right, 201);
    w.HandleEvent(Pointer(GuiEventType::kLeftButtonUp, 300, 125, 300, 125));
    w.HandleEvent(Pointer(GuiEventType::kLeftButtonDown, 150, 125, 150, 125));
    w.HandleEvent(Pointer(GuiEventType::kPointerMoved, 160, 125, 150, 125));
    w.HandleEvent(Pointer(GuiEventType::kPointerMoved, 170, 125, 160, 125));
    EXPECT_EQ(w.rect().left, 120);
    w.Hide();
    EXPECT_FALSE(w.moving()) << "hiding ends the drag";
    w.HandleEvent(Pointer(GuiEventType::kLeftButtonUp, 170, 125, 170, 125));
    const std::vector<std::string> expected = {"14:01", "16:01", "15:01", "14:10",
                                               "16:10", "16:10"};
    EXPECT_EQ(child.log, expected);
    w.RemoveChild(&child);
    w.KillFocus();
    g_guiRoot.DispatchEvents();
}

TEST_F(FrameWindowTest, CursorPerZone) {
    FrameWindow w;
    w.SetRect(0, 0, 100, 50);
    w.SetMoveArea(Rect(4, 4, 92, 42));
    struct {
        Point at;
        LPCSTR cursor;
    } cases[] = {
        {{50, 25}, IDC_ARROW},  {{0, 0}, IDC_SIZENWSE},  {{98, 48}, IDC_SIZENWSE},
        {{99, 0}, IDC_SIZENESW}, {{0, 49}, IDC_SIZENESW}, {{50, 0}, IDC_SIZENS},
        {{50, 49}, IDC_SIZENS}, {{0, 25}, IDC_SIZEWE},   {{99, 25}, IDC_SIZEWE},
        {{300, 25}, IDC_ARROW},
    };
    for (const auto& c : cases) {
        SetCursor(nullptr);
        w.HandleEvent(Pointer(GuiEventType::kPointerMoved, c.at.x, c.at.y, c.at.x, c.at.y));
        EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, c.cursor)) << c.at.x << "," << c.at.y;
    }
    // A move with the outside bit changes nothing; leaving puts the arrow back.
    w.HandleEvent(Pointer(GuiEventType::kPointerMoved, 0, 25, 0, 25));
    GuiEvent outside = Pointer(GuiEventType::kPointerMoved, 50, 25, 0, 25);
    outside.SetFlags(GuiEvent::kPointerOutside);
    w.HandleEvent(outside);
    EXPECT_EQ(w.zone(), 8);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_SIZEWE));
    w.HandleEvent(Pointer(GuiEventType::kPointerLeft, 300, 25, 0, 25));
    EXPECT_EQ(w.zone(), 0);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_ARROW));
}

std::unique_ptr<ScriptNode> Parse(const std::string& text) {
    auto root = std::make_unique<ScriptNode>();
    MemStream stream;
    stream.Open(String(), 1);
    stream.ShowData(text.data(), static_cast<int32_t>(text.size()), true);
    ParseScript(&stream, root.get(), nullptr);
    return root;
}

TEST_F(FrameWindowTest, LayoutFlags) {
    struct {
        const char* script;
        bool resizable, movable;
    } cases[] = {
        {"", false, false},
        {"Resizable = 1; Movable = 0;", true, false},
        {"Resizable = 0; Movable = 7;", false, true},
        {"Resizable = \"yes\";", false, false},
    };
    for (const auto& c : cases) {
        FrameWindow w;
        auto node = Parse(c.script);
        w.LoadLayout(node.get());
        EXPECT_EQ(w.resizable(), c.resizable) << c.script;
        EXPECT_EQ(w.movable(), c.movable) << c.script;
        EXPECT_EQ(node->Child("Resizable"), nullptr) << "the keys are taken";
        int32_t value = 0;
        EXPECT_FALSE(w.properties().GetInt32("Resizable", value)) << "not a property";
    }
}

}  // namespace
