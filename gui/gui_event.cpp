#include "gui/gui_event.h"

#include <cstring>

namespace {

constexpr int32_t kKeyPayloadSize = 4;
constexpr int32_t kPositionPayloadSize = 16;
constexpr int32_t kDragPayloadSize = 2;

GuiEventType TypeOfInput(InputEventKind kind) {
    switch (kind) {
        case InputEventKind::kLeftButtonDown: return GuiEventType::kLeftButtonDown;
        case InputEventKind::kLeftButtonUp: return GuiEventType::kLeftButtonUp;
        case InputEventKind::kLeftDoubleClick: return GuiEventType::kLeftDoubleClick;
        case InputEventKind::kRightButtonDown: return GuiEventType::kRightButtonDown;
        case InputEventKind::kRightButtonUp: return GuiEventType::kRightButtonUp;
        case InputEventKind::kRightDoubleClick: return GuiEventType::kRightDoubleClick;
        case InputEventKind::kKeyDown: return GuiEventType::kKeyDown;
        case InputEventKind::kKeyUp: return GuiEventType::kKeyUp;
        default: return GuiEventType::kNone;
    }
}

int32_t ReadInt(const GuiEventPayload& payload, int32_t index) {
    int32_t value;
    std::memcpy(&value, payload.bytes + index * 4, sizeof value);
    return value;
}

}  // namespace

GuiEvent GuiEvent::FromInput(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY, int32_t,
                             int32_t, int32_t key) {
    GuiEvent event(TypeOfInput(kind));
    if (IsKeyEvent(event)) {
        event.SetPayload(&key, kKeyPayloadSize);
    } else {
        const int32_t positions[4] = {prevX, prevY, x, y};
        event.SetPayload(positions, kPositionPayloadSize);
    }
    return event;
}

GuiEvent GuiEvent::Drag(GuiEventType type, const String& name, GuiWindow* sender, bool moving, bool resizing) {
    GuiEvent event(type);
    event.name_ = name;
    event.sender_ = sender;
    const uint8_t bytes[kDragPayloadSize] = {static_cast<uint8_t>(moving), static_cast<uint8_t>(resizing)};
    event.SetPayload(bytes, kDragPayloadSize);
    return event;
}

void GuiEvent::SetPayload(const void* bytes, int32_t size) {
    auto* block = new GuiEventPayload;
    block->size = size;
    std::memcpy(block->bytes, bytes, static_cast<size_t>(size));
    payload_ = SharedRef<GuiEventPayload>(block);
}

int32_t GuiEvent::KeyCode() const {
    return PayloadSize() == kKeyPayloadSize ? ReadInt(*payload_.Get(), 0) : 0;
}

Point GuiEvent::PreviousPosition() const {
    if (PayloadSize() != kPositionPayloadSize) return Point();
    return Point(ReadInt(*payload_.Get(), 0), ReadInt(*payload_.Get(), 1));
}

Point GuiEvent::Position() const {
    if (PayloadSize() != kPositionPayloadSize) return Point();
    return Point(ReadInt(*payload_.Get(), 2), ReadInt(*payload_.Get(), 3));
}

bool GuiEvent::IsMoving() const { return PayloadSize() == kDragPayloadSize && payload_.Get()->bytes[0] != 0; }

bool GuiEvent::IsResizing() const { return PayloadSize() == kDragPayloadSize && payload_.Get()->bytes[1] != 0; }

bool IsKeyEvent(const GuiEvent& event) {
    return event.type() == GuiEventType::kKeyDown || event.type() == GuiEventType::kKeyUp;
}

bool IsPointerEvent(const GuiEvent& event) {
    return event.type() >= GuiEventType::kPointerEntered && event.type() <= GuiEventType::kRightDoubleClick;
}

bool IsHoverEvent(const GuiEvent& event) {
    return event.type() >= GuiEventType::kPointerEntered && event.type() <= GuiEventType::kPointerLeft;
}

bool GuiEventSink::HandleEvent(GuiEvent) { return true; }

void GuiEventSink::Broadcast(const GuiEvent& event) {
    auto* node = sinks_.first();
    for (int32_t i = 0; i < sinks_.count(); ++i, node = node->next) node->element->HandleEvent(event);
}
