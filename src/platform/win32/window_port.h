// WindowPort on a real window handle. Each operation is the one user32 call named in
// window_port.h; the handle is borrowed, never destroyed here.
#pragma once

#include <windows.h>

#include "platform/window_port.h"

namespace tonalis::win32 {

class Win32WindowPort : public WindowPort {
 public:
  explicit Win32WindowPort(HWND hwnd = nullptr) : hwnd_(hwnd) {}
  void attach(HWND hwnd) { hwnd_ = hwnd; }
  HWND hwnd() const { return hwnd_; }

  void restack(ZOrder insertAfter) override;
  uint32_t extendedStyle() override;
  void setExtendedStyle(uint32_t style) override;
  Rect windowRect() override;
  void move(int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) override;
  void show() override;
  void hide() override;
  bool isVisible() override;
  void beginSystemMove() override;
  void setForeground() override;
  bool isOnAnyScreen(const Rect& rect) override;

 private:
  HWND hwnd_;
};

}  // namespace tonalis::win32
