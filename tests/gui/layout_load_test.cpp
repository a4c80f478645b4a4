// Layout descriptions read into windows. The shipped data holds none, so the fixtures are
// written here.
#include "core/files/mem_stream.h"
#include "core/object/style_registry.h"
#include "core/script/script_node.h"
#include "core/script/script_parser.h"
#include "gui/gui_root.h"
#include "gui/gui_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::unique_ptr<ScriptNode> ParseLayout(const std::string& text) {
    auto root = std::make_unique<ScriptNode>();
    MemStream stream;
    stream.Open(String(), 1);
    stream.ShowData(text.data(), static_cast<int32_t>(text.size()), true);
    ParseScript(&stream, root.get(), nullptr);
    return root;
}

// A parent with children named A, B and C, as the saver's windows would build it.
struct Family {
    GuiWindow parent, a, b, c;
    Family() {
        a.SetName("A");
        b.SetName("B");
        c.SetName("C");
        parent.AddChild(&a, false);
        parent.AddChild(&b, false);
        parent.AddChild(&c, false);
    }
};

TEST(LoadLayout, WindowFrame) {
    struct {
        const char* script;
        Rect expected;
    } cases[] = {
        {"WindowFrame.x1 = 10; WindowFrame.y1 = 20; WindowFrame.x2 = 300; WindowFrame.y2 = 200;",
         Rect(10, 20, 300, 200)},
        {"WindowFrame.x2 = 300; WindowFrame.y2 = 200; WindowFrame.w = 50; WindowFrame.h = 60;",
         Rect(0, 0, 50, 60)},
        {"WindowFrame.x1 = 5;", Rect(5, 0, 1, 1)},  // absent sizes read 0, clamped to 1
        {"WindowFrame.x1 = -1e300; WindowFrame.y1 = 1e12; WindowFrame.w = 99999999999;",
         Rect(INT32_MIN, INT32_MAX, 2000, 1)},
        {"WindowFrame.x1 = \"nan\"; WindowFrame.y1 = \"12px\"; WindowFrame.x2 = \"inf\";",
         Rect(0, 0, 1, 1)},
        {"WindowFrame = \"10\";", Rect(7, 7, 7, 7)},  // not an object: ignored
    };
    for (const auto& c : cases) {
        GuiWindow w;
        w.SetRect(7, 7, 7, 7);
        auto root = ParseLayout(c.script);
        w.LoadLayout(root.get());
        EXPECT_TRUE(RectsEqual(w.rect(), c.expected))
            << c.script << " -> " << w.rect().left << "," << w.rect().top << ","
            << w.rect().right << "," << w.rect().bottom;
        EXPECT_EQ(root->Child("WindowFrame"), nullptr) << c.script;
        EXPECT_EQ(w.properties().node().count(), 0) << c.script;
    }
}

TEST(LoadLayout, AnchorsSizesStylesAndProperties) {
    Family f;
    auto root = ParseLayout(R"(
        WindowFrame.w = 200; WindowFrame.h = 100;
        Windows.A.width = 50;
        Windows.A.anchors.X1.window = "Parent"; Windows.A.anchors.X1.align = "X1";
        Windows.A.anchors.X1.offset = 10;
        Windows.A.anchors.Y1.window = "Parent"; Windows.A.anchors.Y1.align = "Y1";
        Windows.A.anchors.Y1.offset.b = 5;
        Windows.B.width.b = 0; Windows.B.width.k = 1;
        Windows.B.anchors.X1.window = "A"; Windows.B.anchors.X1.align = "X2";
        Windows.B.anchors.X1.offset = 4;
        Windows.B.anchors.X2.window = "Parent"; Windows.B.anchors.X2.align = "X2";
        Windows.B.anchors.X2.offset = 10;
        Windows.C.height = 8;
        Windows.C.anchors.H1.window = "A"; Windows.C.anchors.H1.align = "Y1";
        Windows.C.anchors.H1.offset = 2;
        Windows.C.anchors.H2.window = "B"; Windows.C.anchors.H2.align = "Y2";
        Windows.Nobody.width = 5;
        Styles = array("LayoutTestStyle", "LayoutTestOther");
        Level = 3;
        Alpha = "12";
    )");
    f.parent.LoadLayout(root.get());
    EXPECT_EQ(root->Child("Windows"), nullptr);
    EXPECT_EQ(root->Child("Styles"), nullptr);
    EXPECT_EQ(f.a.target(AnchorLayout::kX1), &f.parent);
    EXPECT_EQ(f.a.widthSpec().b, 50.0f);
    EXPECT_EQ(f.a.widthSpec().k, 0.0f);
    EXPECT_EQ(f.b.target(AnchorLayout::kX1), &f.a);
    EXPECT_EQ(f.b.align(AnchorLayout::kX1), AnchorLayout::kX2);

    f.parent.SetRect(0, 0, 300, 120);  // both axes change
    EXPECT_EQ(f.a.rect().left, 10);
    EXPECT_EQ(f.a.rect().right, 50);
    EXPECT_EQ(f.a.rect().top, 5);
    EXPECT_EQ(f.b.rect().left, 64);    // A's right edge (60) + 4
    EXPECT_EQ(f.b.rect().right, 226);  // up to 300 - 10
    // C's height is measured from A's top to B's bottom, plus the integer offset.
    f.c.Recalculate(false, true);
    EXPECT_EQ(f.c.rect().bottom, f.b.rect().top + f.b.rect().bottom - f.a.rect().top + 2);

    int32_t value = 0;
    EXPECT_TRUE(f.parent.properties().GetInt32("Level", value));
    EXPECT_EQ(value, 3);
    EXPECT_TRUE(f.parent.properties().GetInt32("alpha", value));
    EXPECT_EQ(value, 12);
    int plain = 0;
    EXPECT_FALSE(f.parent.properties().node().GetInt("Level", plain));  // stored as Int32
    EXPECT_EQ(f.parent.properties().styles().count(), 2);
    EXPECT_NE(f.parent.properties().styles().FindNode(
                  g_styleRegistry.GetOrCreateStyle("LayoutTestStyle")),
              nullptr);
}

// An anchor to a window that is not a child yet waits under its name until a later layout
// names that window.
TEST(LoadLayout, AnchorsToWindowsNamedLater) {
    GuiWindow parent, a;
    a.SetName("A");
    parent.AddChild(&a, false);
    auto first = ParseLayout(R"(
        Windows.A.width = 20;
        Windows.A.anchors.X1.window = "Late"; Windows.A.anchors.X1.align = "X2";
        Windows.A.anchors.X1.offset = 1;
    )");
    parent.LoadLayout(first.get());
    EXPECT_EQ(a.target(AnchorLayout::kX1), nullptr);
    EXPECT_EQ(parent.PendingAnchorCount("Late"), 1);

    GuiWindow late;
    late.SetName("Late");
    parent.AddChild(&late, false);
    auto second = ParseLayout("Windows.Late.width = 30;");
    parent.LoadLayout(second.get());
    EXPECT_EQ(parent.PendingAnchorCount("Late"), 0);
    EXPECT_EQ(a.target(AnchorLayout::kX1), &late);
    late.SetRect(100, 0, 30, 10);
    EXPECT_EQ(a.rect().left, 131);
    EXPECT_EQ(a.rect().right, 20);
}

// A child that goes away takes its waiting anchors with it; the name coming later finds
// nothing to point (ASan would see the freed child otherwise).
TEST(LoadLayout, WaitingAnchorsLeaveWithTheirWindow) {
    GuiWindow parent;
    auto a = std::make_unique<GuiWindow>();
    a->SetName("A");
    parent.AddChild(a.get(), false);
    auto first = ParseLayout(R"(
        Windows.A.anchors.X1.window = "Ghost";
        Windows.A.anchors.W1.window = "Ghost"; Windows.A.anchors.W2.window = "Other";
    )");
    parent.LoadLayout(first.get());
    EXPECT_EQ(parent.PendingAnchorCount("Ghost"), 2);
    EXPECT_EQ(parent.PendingAnchorCount("Other"), 1);
    a.reset();
    EXPECT_EQ(parent.PendingAnchorCount("Ghost"), 0);
    EXPECT_EQ(parent.PendingAnchorCount("Other"), 0);
    GuiWindow ghost;
    ghost.SetName("Ghost");
    parent.AddChild(&ghost, false);
    auto second = ParseLayout("Windows.Ghost.width = 3;");
    parent.LoadLayout(second.get());
    EXPECT_EQ(ghost.dependants().count(), 0);
}

// Malformed layouts: each gives a defined layout of A (x, width) after a parent resize and a
// recalculation of A, and one GUI draw.
TEST(LoadLayout, BadInput) {
    struct {
        const char* what;
        const char* script;
        int32_t x, width;
    } cases[] = {
        {"unknown anchor and align names count as X1",
         "Windows.A.anchors.Q9.window = \"Parent\"; Windows.A.anchors.Q9.align = \"ZZ\";"
         "Windows.A.anchors.Q9.offset = 7;",
         7, -7},
        {"an infinite share saturates",
         "Windows.A.width.b = 10; Windows.A.width.k = 1e39;"
         "Windows.A.anchors.X1.window = \"Parent\"; Windows.A.anchors.X2.window = \"Parent\";"
         "Windows.A.anchors.X2.align = \"X2\";",
         0, INT32_MAX},
        {"a huge offset saturates",
         "Windows.A.anchors.X1.window = \"Parent\"; Windows.A.anchors.X1.offset = 1e12;",
         INT32_MAX, INT32_MIN},
        {"mutual anchors end",
         "Windows.A.width = 10; Windows.B.width = 10;"
         "Windows.A.anchors.X1.window = \"B\"; Windows.A.anchors.X1.align = \"X2\";"
         "Windows.B.anchors.X1.window = \"A\"; Windows.B.anchors.X1.align = \"X2\";",
         0, 10},
        {"an anchor to itself ends",
         "Windows.A.width = 10; Windows.A.anchors.X1.window = \"A\";"
         "Windows.A.anchors.X1.align = \"X2\"; Windows.A.anchors.X1.offset = 1;",
         1, 10},
        {"a text where the window's object belongs", "Windows.A = \"x\";", 0, 0},
        {"a text where the anchors belong", "Windows.A.anchors = \"X1\";", 0, 0},
        {"an anchor without a window", "Windows.A.anchors.X1 = \"Parent\";", 0, 0},
        {"a width that is no number", "Windows.A.width = \"wide\";", 0, 0},
        {"Windows as a text", "Windows = \"A\";", 0, 0},
        {"styles of the wrong kind", "Styles.x.y = 1; Windows.A.height = 3;", 0, 0},
        {"a window that never comes",
         "Windows.A.anchors.X2.window = \"Never\"; Windows.A.width = 4;", -4, 4},
    };
    for (const auto& c : cases) {
        Family f;
        auto root = ParseLayout(c.script);
        f.parent.LoadLayout(root.get());
        f.parent.Show();
        f.parent.SetRect(0, 0, 300, 100);
        f.a.Recalculate(true, false);
        g_guiRoot.Draw();
        EXPECT_EQ(f.a.rect().left, c.x) << c.what;
        EXPECT_EQ(f.a.rect().right, c.width) << c.what;
        Rect screen, clip;
        f.a.ScreenRect(screen, clip);
        f.a.HitTest(0, 0);
    }
}

}  // namespace
