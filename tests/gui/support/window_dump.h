// Test support: a window tree as text, one line per window, children indented by two spaces
// under their parent in insertion order. Each line holds the name, the depth and span in its
// layer, AbsoluteDepth, FrontDepth, DepthBelowTop, the rectangle, the screen rectangle and its
// clipped part (all x, y, width, height), and the shown, visible, placed, focused and pending
// flags.
#pragma once

#include <string>

class GuiWindow;

namespace gui_test {

// The window and its subtree.
std::string DumpWindow(const GuiWindow& window);
// Every top-level window of the GUI root, front-most first, each with its subtree.
std::string DumpRoot();

}  // namespace gui_test
