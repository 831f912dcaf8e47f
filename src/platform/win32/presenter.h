// Frame buffers as 32-bpp top-down DIB sections. Window mode's frames go out as layered
// updates of their changed part; the full-screen and desktop strips paint an ordinary
// window (keyed out by the system on the desktop), which costs what changed instead of
// a whole-screen blend per frame.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/presenter.h"
#include "platform/win32/dialog_host.h"
#include "platform/win32/util.h"

namespace tonalis::win32 {

class Win32Presenter : public Presenter {
 public:
  explicit Win32Presenter(Win32DialogHost& host);
  ~Win32Presenter() override;

  PixelView createBuffer(int32_t width, int32_t height) override;
  void releaseBuffer(PixelView& buffer) override;
  void present(const Presentation& frame) override;
  bool paintsWindow() override;
  bool repaint() override;

 private:
  struct Buffer {
    PixelView view;
    GdiObject<HBITMAP> bitmap;
    MemoryDc dc;
  };
  // The last frame shown: the next one like it sends only what changed.
  struct Shown {
    const uint32_t* source = nullptr;
    Surface surface = Surface::LayeredAlpha;
    std::optional<Point> destination;
    Point size;
    uint8_t alpha = 0;
    LONG_PTR exStyle = 0;
  };
  Buffer* find(const uint32_t* pixels);
  void setSurface(HWND hwnd, Surface surface, bool changed);
  void presentLayered(HWND hwnd, Buffer& buffer, const Presentation& frame, bool whole);
  void presentPainted(HWND hwnd, Buffer& buffer, const Presentation& frame, bool whole);
  static void markOpaque(const PixelView& source, const Rect& area);

  Win32DialogHost& host_;
  std::vector<std::unique_ptr<Buffer>> buffers_;
  HDC screenDc_ = nullptr;
  bool opaqueAlphaNeeded_;
  std::optional<Shown> shown_;
  Buffer* painted_ = nullptr;  // what a paint request copies while the window is painted
  Point paintedSize_;
  bool childrenHidden_ = false;
};

}  // namespace tonalis::win32
