// WindowPort on a real window handle: stacking through SetWindowPos, click-through and the
// taskbar button through the extended style bits. The handle is borrowed, never destroyed
// here.
#pragma once

#include <windows.h>

#include "platform/window_port.h"

namespace tonalis::win32 {

class Win32WindowPort : public WindowPort {
 public:
  explicit Win32WindowPort(HWND hwnd = nullptr) : hwnd_(hwnd) {}
  void attach(HWND hwnd) { hwnd_ = hwnd; }
  HWND hwnd() const { return hwnd_; }

  void setStacking(Stacking stacking) override;
  // WS_EX_TRANSPARENT, with WS_EX_LAYERED (hit-testing passes through only a layered
  // window); every other bit is kept.
  void setClickThrough(bool on) override;
  // Hidden: the whole extended style becomes WS_EX_TOOLWINDOW (the template's
  // WS_EX_APPWINDOW would force a button); shown: WS_EX_APPWINDOW.
  void setTaskbarButton(bool shown) override;
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
