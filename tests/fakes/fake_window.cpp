#include "fake_window.h"


namespace tonalis {

const char* stackingName(Stacking stacking) {
  switch (stacking) {
    case Stacking::Above: return "Above";
    case Stacking::Normal: return "Normal";
    case Stacking::Below: return "Below";
  }
  return "?";
}

void FakeWindow::setStacking(Stacking to) {
  stacking = to;
  calls.push_back(std::string("stacking ") + stackingName(to));
}

void FakeWindow::setClickThrough(bool on) {
  clickThrough = on;
  calls.push_back(on ? "clickThrough on" : "clickThrough off");
}

void FakeWindow::setTaskbarButton(bool shown) {
  taskbarButton = shown;
  calls.push_back(shown ? "taskbarButton on" : "taskbarButton off");
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
