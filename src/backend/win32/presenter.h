// Frame buffers as 32-bpp top-down DIB sections, painted into the window: only the changed
// rectangles, with BitBlt; transparency from the system's layering attributes (the black
// colour key). A faded window gets layered-window updates with a dirty rectangle instead.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/presenter.h"
#include "backend/win32/app_host.h"
#include "backend/win32/util.h"

namespace tonalis::win32 {

class Win32Presenter : public Presenter {
 public:
  explicit Win32Presenter(Win32AppHost& host);
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
    Surface surface = Surface::Opaque;
    std::optional<Point> destination;
    Point size;
    uint8_t alpha = 0;
    LONG_PTR exStyle = 0;
  };
  Buffer* find(const uint32_t* pixels);
  void setSurface(HWND hwnd, const Presentation& frame, bool setupChanged);
  void place(HWND hwnd, Point at, Point size);
  void paint(HWND hwnd, Buffer& buffer, const Presentation& frame, bool whole);
  void update(HWND hwnd, Buffer& buffer, const Presentation& frame, bool whole);
  static void markOpaque(const PixelView& source, const Rect& area);

  Win32AppHost& host_;
  std::vector<std::unique_ptr<Buffer>> buffers_;
  HDC screenDc_ = nullptr;
  bool opaqueAlphaNeeded_;
  std::optional<Shown> shown_;
  Buffer* painted_ = nullptr;  // what a paint request copies from
  Point paintedSize_;
  bool childrenHidden_ = false;
};

}  // namespace tonalis::win32
