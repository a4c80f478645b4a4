// The GUI root as an input listener: input events through OnInputEvent, routed over the
// top-level windows and down their children, then dispatched.
#include "gui/gui_root.h"
#include "gui/gui_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records every event that reaches it as "name:type", "!" marking the outside bit.
class Probe : public GuiWindow {
public:
    Probe(const char* name, std::vector<std::string>* log) : log_(log) { SetName(name); }
    bool HandleEvent(GuiEvent event) override {
        std::string entry =
            std::string(name().Text()) + ":" + std::to_string(static_cast<int>(event.type()));
        if (event.flags() & GuiEvent::kPointerOutside) entry += "!";
        log_->push_back(entry);
        return true;
    }

private:
    std::vector<std::string>* log_;
};

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : " ") + item;
    return out;
}

// Top-level A (0, 0, 100, 100) with children A1 (10, 10, 30, 30) and A2 (50, 50, 30, 30); B
// (60, 60, 100, 100), shown after A and so in front of it, with child B1 (0, 0, 20, 20); C
// far away at (500, 500, 10, 10).
struct Scene {
    std::vector<std::string> log;
    Probe a{"A", &log}, a1{"A1", &log}, a2{"A2", &log}, b{"B", &log}, b1{"B1", &log},
        c{"C", &log};
    Scene() {
        a.SetRect(0, 0, 100, 100);
        a1.SetRect(10, 10, 30, 30);
        a2.SetRect(50, 50, 30, 30);
        b.SetRect(60, 60, 100, 100);
        b1.SetRect(0, 0, 20, 20);
        c.SetRect(500, 500, 10, 10);
        a.AddChild(&a1, false);
        a.AddChild(&a2, false);
        b.AddChild(&b1, false);
        a.Show();
        b.Show();
        c.Show();
    }
    Probe* ByName(const std::string& name) {
        for (Probe* p : {&a, &a1, &a2, &b, &b1, &c}) {
            if (name == p->name().Text()) return p;
        }
        return nullptr;
    }
};

TEST(GuiRootInput, RoutingTable) {
    using K = InputEventKind;
    struct Row {
        const char* what;
        const char* focus;         // the focused top-level window, "" for none
        bool a2Focused;            // A's focused child
        bool hideB;
        K kind;
        int32_t x, y, prevX, prevY;
        const char* expected;
    };
    const Row rows[] = {
        {"button in A only", "", false, false, K::kLeftButtonDown, 20, 20, 20, 20, "A:6 A1:6"},
        {"button on the overlap: the front window only", "", false, false, K::kLeftButtonDown,
         70, 70, 70, 70, "B:6 B1:6"},
        {"overlap with the front one hidden", "", false, true, K::kLeftButtonDown, 70, 70, 70,
         70, "A:6 A2:6"},
        {"button over nothing", "", false, false, K::kLeftButtonUp, 300, 300, 300, 300, ""},
        {"button over nothing, focus elsewhere", "C", false, false, K::kLeftButtonUp, 300, 300,
         300, 300, "C:7!"},
        {"button in A, focus elsewhere", "C", false, false, K::kLeftButtonDown, 20, 20, 20, 20,
         "A:6 A1:6 C:6!"},
        {"button in the focus window", "A", false, false, K::kLeftButtonDown, 20, 20, 20, 20,
         "A:6 A1:6"},
        {"right button", "", false, false, K::kRightDoubleClick, 20, 20, 20, 20, "A:11 A1:11"},
        {"move within A", "", false, false, K::kCursorMoved, 25, 25, 20, 20, "A:4 A1:4"},
        {"move A to B", "", false, false, K::kCursorMoved, 150, 150, 20, 20, "B:3 A:5 A1:5"},
        {"move B to A", "", false, false, K::kCursorMoved, 20, 20, 150, 150, "B:5 A:3 A1:3"},
        {"move within the overlap stops at the front window", "", false, false,
         K::kCursorMoved, 75, 75, 70, 70, "B:4 B1:4"},
        {"move from the overlap into A", "", false, false, K::kCursorMoved, 20, 20, 70, 70,
         "B:5 B1:5 A:3 A1:3"},
        {"move between children", "", false, false, K::kCursorMoved, 55, 55, 20, 20,
         "A:4 A1:5 A2:3"},
        {"move outside the children reaches the focused child", "", true, false,
         K::kCursorMoved, 25, 5, 20, 5, "A:4 A2:4!"},
        {"move over nothing, focus elsewhere", "C", false, false, K::kCursorMoved, 300, 310,
         300, 300, "C:4!"},
        {"move over nothing, no focus", "", false, false, K::kCursorMoved, 300, 310, 300, 300,
         ""},
        {"move in A, focus elsewhere", "C", false, false, K::kCursorMoved, 25, 25, 20, 20,
         "A:4 A1:4 C:4!"},
        {"move in the focus window", "A", false, false, K::kCursorMoved, 25, 25, 20, 20,
         "A:4 A1:4"},
        {"key down along the focus chain", "A", true, false, K::kKeyDown, 0, 0, 0, 0,
         "A:12 A2:12"},
        {"key up without focused child", "C", false, false, K::kKeyUp, 0, 0, 0, 0, "C:13"},
        {"key without focus window", "", true, false, K::kKeyDown, 20, 20, 20, 20, ""},
        {"character to the focus window as type 0", "C", false, false, K::kCharacter, 20, 20,
         20, 20, "C:0"},
        {"axes as type 0", "C", false, false, K::kMouseAxesMoved, 20, 20, 20, 20, "C:0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Scene scene;
        if (row.hideB) scene.b.Hide();
        if (row.a2Focused) scene.a2.SetFocus();
        if (row.focus[0] != '\0') scene.ByName(row.focus)->SetFocus();
        g_guiRoot.DispatchEvents();
        scene.log.clear();
        g_guiRoot.OnInputEvent(row.kind, row.x, row.y, row.prevX, row.prevY, row.x - row.prevX,
                               row.y - row.prevY, 30);
        EXPECT_EQ(Join(scene.log), row.expected);
        EXPECT_EQ(g_guiRoot.QueuedCount(), 0) << "dispatched";
        if (row.focus[0] != '\0') scene.ByName(row.focus)->KillFocus();
        g_guiRoot.DispatchEvents();
    }
    EXPECT_EQ(g_guiRoot.items().count(), 0);
    EXPECT_EQ(g_guiRoot.focusWindow(), nullptr);
}

// The focus events the root queues wait for the next input event's dispatch.
TEST(GuiRootInput, FocusEventsGoOutWithTheNextInput) {
    std::vector<std::string> log;
    Probe a("A", &log), c("C", &log);
    a.SetRect(0, 0, 100, 100);
    c.SetRect(500, 500, 10, 10);
    a.Show();
    c.Show();
    a.SetFocus();
    c.SetFocus();
    EXPECT_EQ(Join(log), "");
    g_guiRoot.OnInputEvent(InputEventKind::kCursorMoved, 20, 20, 20, 20, 0, 0, 0);
    EXPECT_EQ(Join(log), "A:1 A:2 C:1 A:4 C:4!");
    c.KillFocus();
    g_guiRoot.DispatchEvents();
}

}  // namespace
