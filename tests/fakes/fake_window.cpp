#include "fake_window.h"

#include <cstdio>

namespace tonalis {

const char* zOrderName(ZOrder z) {
  switch (z) {
    case ZOrder::TopMost: return "TopMost";
    case ZOrder::NoTopMost: return "NoTopMost";
    case ZOrder::Bottom: return "Bottom";
  }
  return "?";
}

void FakeWindow::restack(ZOrder insertAfter) {
  zOrder = insertAfter;
  calls.push_back(std::string("restack ") + zOrderName(insertAfter));
}

void FakeWindow::setExtendedStyle(uint32_t style) {
  exStyle = style;
  char text[40];
  std::snprintf(text, sizeof text, "exstyle 0x%08X", static_cast<unsigned>(style));
  calls.push_back(text);
}

void FakeWindow::move(int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) {
  rect = Rect{x, y, x + width, y + height};
  calls.push_back("move " + std::to_string(x) + " " + std::to_string(y) + " " +
                  std::to_string(width) + " " + std::to_string(height) +
                  (repaint ? " repaint" : ""));
}

void FakeWindow::show() {
  visible = true;
  calls.push_back("show");
}

void FakeWindow::hide() {
  visible = false;
  calls.push_back("hide");
}

void FakeWindow::beginSystemMove() { calls.push_back("system move"); }

void FakeWindow::setForeground() { calls.push_back("foreground"); }

bool FakeWindow::isOnAnyScreen(const Rect& r) {
  for (const Rect& s : screens) {
    if (r.left < s.right && s.left < r.right && r.top < s.bottom && s.top < r.bottom) return true;
  }
  return false;
}

}  // namespace tonalis
