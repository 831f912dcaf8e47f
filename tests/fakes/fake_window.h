// A scriptable main window. It keeps the state the calls set (stacking, click-through,
// taskbar button, rectangle, visibility) and records every call that changes something, in
// order, as a short text such as "stacking Above" or "move 10 20 443 145 repaint". Reads
// (windowRect, isVisible) are not recorded.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/window_port.h"

namespace tonalis {

class FakeWindow : public WindowPort {
 public:
  void setStacking(Stacking to) override;
  void setClickThrough(bool on) override;
  void setTaskbarButton(bool shown) override;
  Rect windowRect() override { return rect; }
  void move(int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) override;
  void show() override;
  void hide() override;
  bool isVisible() override { return visible; }
  void beginSystemMove() override;
  void setForeground() override;
  bool isOnAnyScreen(const Rect& r) override;

  // Lets a test interleave other events (a clock's sleep, say) with the window's calls.
  void note(std::string entry) { calls.push_back(std::move(entry)); }

  // State, free for a test to set up and inspect.
  bool clickThrough = false;
  bool taskbarButton = false;
  Rect rect{50, 50, 493, 197};
  bool visible = true;
  Stacking stacking = Stacking::Normal;
  std::vector<Rect> screens = std::vector<Rect>(1, Rect{0, 0, 1920, 1080});  // the monitors
  std::vector<std::string> calls;
};

const char* stackingName(Stacking stacking);

}  // namespace tonalis
