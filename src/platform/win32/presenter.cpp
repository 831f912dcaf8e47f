#include "platform/win32/presenter.h"

#include <algorithm>

namespace tonalis::win32 {

// Wine blends a layered window's pixels by their alpha byte even without per-pixel alpha
// (AlphaFormat 0), where Windows ignores that byte: frames whose words have a zero alpha
// byte would be invisible there.
Win32Presenter::Win32Presenter(Win32DialogHost& host) : host_(host), opaqueAlphaNeeded_(runningUnderWine()) {}

void Win32Presenter::markOpaque(const PixelView& source, Point size) {
  const int32_t w = std::min(size.x, source.width);
  const int32_t h = std::min(size.y, source.height);
  for (int32_t y = 0; y < h; ++y) {
    uint32_t* row = source.pixels + size_t(y) * size_t(source.width);
    for (int32_t x = 0; x < w; ++x) row[x] |= 0xFF000000u;
  }
}

Win32Presenter::~Win32Presenter() {
  buffers_.clear();
  if (screenDc_) ReleaseDC(nullptr, screenDc_);
}

PixelView Win32Presenter::createBuffer(int32_t width, int32_t height) {
  if (!screenDc_) screenDc_ = GetDC(nullptr);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, like the canvas
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screenDc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) return {};
  auto buffer = std::make_unique<Buffer>();
  buffer->bitmap = GdiObject<HBITMAP>(bitmap);
  new (&buffer->dc) MemoryDc(screenDc_);
  // Without a DC the buffer could never be presented: no buffer (the core draws nothing).
  if (!buffer->dc.get()) return {};
  buffer->dc.select(bitmap);
  buffer->view = {static_cast<uint32_t*>(bits), width, height};
  std::fill_n(buffer->view.pixels, size_t(width) * size_t(height), 0u);
  buffers_.push_back(std::move(buffer));
  return buffers_.back()->view;
}

void Win32Presenter::releaseBuffer(PixelView& view) {
  std::erase_if(buffers_, [&](const auto& b) { return b->view.pixels == view.pixels; });
  view = {};
}

Win32Presenter::Buffer* Win32Presenter::find(const uint32_t* pixels) {
  for (auto& b : buffers_) {
    if (b->view.pixels == pixels) return b.get();
  }
  return nullptr;
}

void Win32Presenter::present(const PixelView& source, std::optional<Point> destination, Point size,
                             uint8_t constantAlpha, bool colorKey) {
  Buffer* buffer = find(source.pixels);
  if (!buffer || !host_.hwnd()) return;
  GdiFlush();  // the canvas wrote the DIB memory directly
  POINT sourcePoint{0, 0};
  POINT destinationPoint{destination ? destination->x : 0, destination ? destination->y : 0};
  SIZE sz{size.x, size.y};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, constantAlpha, 0};
  if (opaqueAlphaNeeded_) markOpaque(source, size);
  UpdateLayeredWindow(host_.hwnd(), screenDc_, destination ? &destinationPoint : nullptr, &sz,
                      buffer->dc.get(), &sourcePoint, RGB(0, 0, 0), &blend,
                      colorKey ? ULW_COLORKEY : ULW_ALPHA);
}

}  // namespace tonalis::win32
