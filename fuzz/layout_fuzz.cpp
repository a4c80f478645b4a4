// Arbitrary bytes as a free-form layout description. The text up to the first zero byte is
// loaded into a shown window with three named children (A, B, C); a fourth child D is added,
// and the text after the zero byte is loaded too, so that anchors waiting for D find it. Then
// the parent is resized, one GUI draw runs, B is destroyed, and another resize and draw run.
// C is a skin window (its layout is a skin description: tiles, anchors between tiles, states)
// and the parent a frame window: after the loads the pointer presses on the parent's
// bottom-right corner and on C's move area and drags to positions taken from the input's
// first bytes, through the GUI root as input events.
// Besides what ASan and UBSan see, an anchor whose target does not list its layout exactly
// once, or a listed dependant with no anchor to the layout, aborts.
#include "core/files/mem_stream.h"
#include "core/script/script_node.h"
#include "core/script/script_parser.h"
#include "gui/frame_window.h"
#include "gui/gui_root.h"
#include "gui/gui_window.h"
#include "gui/skin_window.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void Load(GuiWindow& window, const char* text, size_t size) {
    ScriptNode root;
    MemStream stream;
    stream.Open(String(), 1);
    stream.ShowData(text, static_cast<int32_t>(size), true);
    ParseScript(&stream, &root, nullptr);
    window.LoadLayout(&root);
}

void CheckLists(GuiWindow* const* windows, int count) {
    for (int w = 0; w < count; ++w) {
        if (windows[w] == nullptr) continue;
        const AnchorLayout* layout = windows[w];
        for (int32_t i = 0; i < AnchorLayout::kAnchorCount; ++i) {
            if (AnchorLayout* target = layout->target(i)) {
                Check(target->DependantCount(windows[w]) == 1);
            }
        }
        const auto& list = layout->dependants();
        auto* node = list.first();
        for (int32_t d = 0; d < list.count(); ++d, node = node->next) {
            bool anchored = false;
            for (int32_t i = 0; i < AnchorLayout::kAnchorCount; ++i) {
                anchored = anchored || node->element->target(i) == layout;
            }
            Check(anchored);
        }
        Rect screen, clip;
        windows[w]->ScreenRect(screen, clip);
        windows[w]->HitTest(clip.left, clip.top);
        windows[w]->AbsoluteDepth();
    }
}

int32_t Clamp32(int64_t v) {
    return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
}

// A pointer position from four bytes of the input (wrapping), spread over the int32 range.
Point PointFrom(const uint8_t* data, size_t size, size_t at) {
    if (size == 0) return Point(0, 0);
    auto byte = [&](size_t i) { return static_cast<uint32_t>(data[(at + i) % size]); };
    const int32_t x = static_cast<int32_t>((byte(0) << 24) | (byte(1) << 8)) >> 8;
    const int32_t y = static_cast<int32_t>((byte(2) << 24) | (byte(3) << 8)) >> 8;
    // Small values most of the time, the extremes when the top bit is set.
    return Point(byte(0) & 0x80 ? x * 256 : x / 1024, byte(2) & 0x80 ? y * 256 : y / 1024);
}

// Presses at `from`, drags to `to` and `to2`, releases at `to2`.
void Drag(Point from, Point to, Point to2) {
    using K = InputEventKind;
    g_guiRoot.OnInputEvent(K::kCursorMoved, from.x, from.y, 0, 0, from.x, from.y, 0);
    g_guiRoot.OnInputEvent(K::kLeftButtonDown, from.x, from.y, 0, 0, 0, 0, 0);
    g_guiRoot.OnInputEvent(K::kCursorMoved, to.x, to.y, from.x, from.y, 0, 0, 0);
    g_guiRoot.OnInputEvent(K::kCursorMoved, to2.x, to2.y, to.x, to.y, 0, 0, 0);
    g_guiRoot.OnInputEvent(K::kLeftButtonUp, to2.x, to2.y, 0, 0, 0, 0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    // An exact heap copy, so ASan sees any read past the text.
    std::unique_ptr<char[]> bytes(new char[size == 0 ? 1 : size]);
    if (size > 0) std::memcpy(bytes.get(), data, size);
    const char* text = bytes.get();
    const void* zero = size > 0 ? std::memchr(text, 0, size) : nullptr;
    const size_t first =
        zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - text) : size;

    {
        FrameWindow parent;
        SkinWindow c;
        GuiWindow a, d;
        auto b = std::make_unique<GuiWindow>();
        a.SetName("A");
        b->SetName("B");
        c.SetName("C");
        d.SetName("D");
        parent.SetRect(0, 0, 320, 240);
        parent.AddChild(&a, false);
        parent.AddChild(b.get(), true);
        parent.AddChild(&c, false);
        parent.Show();
        Load(parent, text, first);
        parent.AddChild(&d, false);
        d.Show();
        if (zero != nullptr) Load(parent, text + first + 1, size - first - 1);
        GuiWindow* all[] = {&parent, &a, b.get(), &c, &d};
        CheckLists(all, 5);
        parent.SetResizable(true);
        parent.SetMovable(true);
        parent.SetMoveArea(Rect(8, 8, 40, 40));
        c.SetResizable(true);
        c.SetMovable(true);
        c.SetMoveArea(Rect(0, 0, 10, 10));
        Rect screen, clip;
        parent.ScreenRect(screen, clip);
        Drag(Point(Clamp32(int64_t{screen.left} + screen.right - 1),
                   Clamp32(int64_t{screen.top} + screen.bottom - 1)),
             PointFrom(data, size, 0), PointFrom(data, size, 4));
        c.ScreenRect(screen, clip);
        Drag(Point(Clamp32(int64_t{screen.left} + 2), Clamp32(int64_t{screen.top} + 2)), PointFrom(data, size, 8),
             PointFrom(data, size, 12));
        CheckLists(all, 5);
        parent.SetRect(10, 20, 640, 480);
        g_guiRoot.Draw();
        CheckLists(all, 5);
        a.SetFocus();
        b.reset();
        all[2] = nullptr;
        CheckLists(all, 5);
        parent.SetRect(0, 0, 100, 50);
        a.Hide();
        g_guiRoot.Draw();
        CheckLists(all, 5);
    }
    g_guiRoot.DispatchEvents();
    Check(g_guiRoot.items().count() == 0 && g_guiRoot.QueuedCount() == 0);
    return 0;
}
