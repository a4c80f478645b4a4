#include "gui/gui_event.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Every input kind as the GUI sees it: the type and what the payload holds. The input is the
// same for every row: at (30, 40), before at (10, 20), moved by (20, 20), key 0x1C.
TEST(GuiEvent, FromInputForEveryKind) {
    struct Case {
        InputEventKind kind;
        GuiEventType type;
        bool keyPayload;  // else the 16-byte block of positions
    };
    const Case cases[] = {
        {InputEventKind::kLeftButtonDown, GuiEventType::kLeftButtonDown, false},
        {InputEventKind::kLeftButtonUp, GuiEventType::kLeftButtonUp, false},
        {InputEventKind::kLeftDoubleClick, GuiEventType::kLeftDoubleClick, false},
        {InputEventKind::kRightButtonDown, GuiEventType::kRightButtonDown, false},
        {InputEventKind::kRightButtonUp, GuiEventType::kRightButtonUp, false},
        {InputEventKind::kRightDoubleClick, GuiEventType::kRightDoubleClick, false},
        {InputEventKind::kCursorMoved, GuiEventType::kNone, false},
        {InputEventKind::kMouseAxesMoved, GuiEventType::kNone, false},
        {InputEventKind::kKeyDown, GuiEventType::kKeyDown, true},
        {InputEventKind::kKeyUp, GuiEventType::kKeyUp, true},
        {InputEventKind::kCharacter, GuiEventType::kNone, false},
        {InputEventKind::kFocusGained, GuiEventType::kNone, false},
        {static_cast<InputEventKind>(12), GuiEventType::kNone, false},
        {static_cast<InputEventKind>(-1), GuiEventType::kNone, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        const GuiEvent event = GuiEvent::FromInput(c.kind, 30, 40, 10, 20, 20, 20, 0x1C);
        EXPECT_EQ(event.type(), c.type);
        EXPECT_EQ(event.name().length(), 0);
        EXPECT_EQ(event.sender(), nullptr);
        EXPECT_EQ(event.flags(), 0);
        if (c.keyPayload) {
            EXPECT_EQ(event.PayloadSize(), 4);
            EXPECT_EQ(event.KeyCode(), 0x1C);
            EXPECT_EQ(event.payload().Get()->bytes[0], 0x1C);
        } else {
            EXPECT_EQ(event.PayloadSize(), 16);
            EXPECT_EQ(event.PreviousPosition().x, 10);
            EXPECT_EQ(event.PreviousPosition().y, 20);
            EXPECT_EQ(event.Position().x, 30);
            EXPECT_EQ(event.Position().y, 40);
            EXPECT_EQ(event.KeyCode(), 0);
        }
    }
}

TEST(GuiEvent, CopiesShareThePayload) {
    const GuiEvent original = GuiEvent::FromInput(InputEventKind::kKeyDown, 0, 0, 0, 0, 0, 0, 0x1C);
    const GuiEventPayload* block = original.payload().Get();
    {
        GuiEvent copy = original;
        EXPECT_EQ(copy.payload().Get(), block);
        EXPECT_EQ(*original.payload().refs(), 2);
        GuiEvent assigned;
        assigned = copy;
        EXPECT_EQ(assigned.payload().Get(), block);
        EXPECT_EQ(*original.payload().refs(), 3);
    }
    EXPECT_EQ(*original.payload().refs(), 1);

    const GuiEvent none;
    EXPECT_EQ(none.type(), GuiEventType::kNone);
    EXPECT_EQ(none.PayloadSize(), 0);
    EXPECT_EQ(none.KeyCode(), 0);
    EXPECT_FALSE(none.IsMoving());
}

TEST(GuiEvent, DragCarriesMovingAndResizing) {
    const GuiEvent drag = GuiEvent::Drag(GuiEventType::kDragged, "Frame", nullptr, false, true);
    EXPECT_EQ(drag.PayloadSize(), 2);
    EXPECT_FALSE(drag.IsMoving());
    EXPECT_TRUE(drag.IsResizing());
    EXPECT_STREQ(drag.name().data(), "Frame");
}

TEST(GuiEvent, Classes) {
    for (int type = 0; type <= 16; ++type) {
        SCOPED_TRACE(type);
        const GuiEvent event(static_cast<GuiEventType>(type));
        EXPECT_EQ(IsKeyEvent(event), type == 12 || type == 13);
        EXPECT_EQ(IsPointerEvent(event), type >= 3 && type <= 11);
        EXPECT_EQ(IsHoverEvent(event), type >= 3 && type <= 5);
    }
}

// Broadcast hands every sink its own copy, in list order, whatever the sinks answer.
TEST(GuiEventSink, BroadcastTellsEverySinkInOrder) {
    struct Recorder : GuiEventSink {
        Recorder(std::vector<int>* log, int id, bool answer) : log_(log), id_(id), answer_(answer) {}
        bool HandleEvent(GuiEvent event) override {
            log_->push_back(id_);
            event.SetFlags(GuiEvent::kPointerOutside);  // a copy: the others must not see it
            return answer_;
        }
        std::vector<int>* log_;
        int id_;
        bool answer_;
    };
    std::vector<int> log;
    Recorder a(&log, 1, false), b(&log, 2, true), c(&log, 3, true);
    struct Parent : GuiEventSink {} parent;
    parent.sinks().Append(&a);
    parent.sinks().Append(&b);
    parent.sinks().Append(&c);
    parent.sinks().SetCursor(parent.sinks().first()->next);
    GuiEvent event(GuiEventType::kFocusLost);
    parent.Broadcast(event);
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(event.flags(), 0);
}

}  // namespace
