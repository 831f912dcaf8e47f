// Frame buffers as 32-bpp top-down DIB sections, presented with UpdateLayeredWindow.
#pragma once

#include <memory>
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
  void present(const PixelView& source, std::optional<Point> destination, Point size,
               uint8_t constantAlpha, bool colorKey) override;

 private:
  struct Buffer {
    PixelView view;
    GdiObject<HBITMAP> bitmap;
    MemoryDc dc;
  };
  Buffer* find(const uint32_t* pixels);
  static void markOpaque(const PixelView& source, Point size);

  Win32DialogHost& host_;
  std::vector<std::unique_ptr<Buffer>> buffers_;
  HDC screenDc_ = nullptr;
  bool opaqueAlphaNeeded_;
};

}  // namespace tonalis::win32
