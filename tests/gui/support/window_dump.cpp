#include "tests/gui/support/window_dump.h"

#include "gui/gui_root.h"
#include "gui/gui_window.h"

#include <cstdio>

namespace gui_test {

namespace {

std::string RectText(const Rect& r) {
    char text[80];
    std::snprintf(text, sizeof text, "(%d,%d,%d,%d)", r.left, r.top, r.right, r.bottom);
    return text;
}

void DumpInto(const GuiWindow& w, int level, std::string& out) {
    Rect screen, clip;
    w.ScreenRect(screen, clip);
    char text[200];
    std::snprintf(text, sizeof text, " depth=%d span=%d abs=%d front=%d below=%d ", w.depth(),
                  w.span(), w.AbsoluteDepth(), w.FrontDepth(), w.DepthBelowTop());
    out += std::string(2 * level, ' ') + w.name().Text() + text;
    out += "rect=" + RectText(w.rect()) + " screen=" + RectText(screen) + " clip=" +
           RectText(clip);
    std::snprintf(text, sizeof text, " shown=%d visible=%d placed=%d focused=%d pending=%d\n",
                  w.shown(), w.visible(), w.IsPlaced(), w.focused(), w.HasPendingUpdate());
    out += text;
    auto* node = w.children().first();
    for (int32_t i = 0; i < w.children().count(); ++i, node = node->next) {
        DumpInto(*node->key, level + 1, out);
    }
}

}  // namespace

std::string DumpWindow(const GuiWindow& window) {
    std::string out;
    DumpInto(window, 0, out);
    return out;
}

std::string DumpRoot() {
    std::string out;
    auto* node = g_guiRoot.items().first();
    for (int32_t i = 0; i < g_guiRoot.items().count(); ++i, node = node->next) {
        if (GuiWindow* w = node->element->GetWindow()) DumpInto(*w, 0, out);
    }
    return out;
}

}  // namespace gui_test
