// A scriptable main window. It keeps the state the calls set (stacking, extended style,
// rectangle, visibility) and records every call that changes something, in order, as
// a short text such as "restack TopMost" or "move 10 20 443 145 repaint". Reads
// (extendedStyle, windowRect, isVisible) are not recorded.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/window_port.h"

namespace tonalis {

class FakeWindow : public WindowPort {
 public:
  void restack(ZOrder insertAfter) override;
  uint32_t extendedStyle() override { return exStyle; }
  void setExtendedStyle(uint32_t style) override;
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
  uint32_t exStyle = ExStyleToolWindow;
  Rect rect{50, 50, 493, 197};
  bool visible = true;
  ZOrder zOrder = ZOrder::NoTopMost;
  std::vector<Rect> screens = std::vector<Rect>(1, Rect{0, 0, 1920, 1080});  // the monitors
  std::vector<std::string> calls;
};

const char* zOrderName(ZOrder z);

}  // namespace tonalis
