#include "backend/win32/presenter.h"

#include <algorithm>

#include "render/dirty_rects.h"

namespace tonalis::win32 {

namespace {

// Surfaces that need the window set up the same way: a window set up for layered updates
// takes no layering attributes and the other way round, until its layered style is
// cleared and set again.
int setupOf(Surface s) { return s == Surface::LayeredAlpha ? 0 : s == Surface::Opaque ? 1 : 2; }

}  // namespace

// Wine blends a layered update's pixels by their alpha byte even without per-pixel alpha
// (AlphaFormat 0), where Windows ignores that byte: frames whose words have a zero alpha
// byte would be invisible there.
Win32Presenter::Win32Presenter(Win32AppHost& host) : host_(host), opaqueAlphaNeeded_(runningUnderWine()) {}

void Win32Presenter::markOpaque(const PixelView& source, const Rect& area) {
  const int32_t right = std::min(area.right, source.width);
  const int32_t bottom = std::min(area.bottom, source.height);
  for (int32_t y = std::max(area.top, 0); y < bottom; ++y) {
    uint32_t* row = source.pixels + size_t(y) * size_t(source.width);
    for (int32_t x = std::max(area.left, 0); x < right; ++x) row[x] |= 0xFF000000u;
  }
}

Win32Presenter::~Win32Presenter() {
  painted_ = nullptr;
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
  if (painted_ && painted_->view.pixels == view.pixels) painted_ = nullptr;
  if (shown_ && shown_->source == view.pixels) shown_.reset();
  std::erase_if(buffers_, [&](const auto& b) { return b->view.pixels == view.pixels; });
  view = {};
}

Win32Presenter::Buffer* Win32Presenter::find(const uint32_t* pixels) {
  for (auto& b : buffers_) {
    if (b->view.pixels == pixels) return b.get();
  }
  return nullptr;
}

void Win32Presenter::present(const Presentation& frame) {
  Buffer* buffer = find(frame.source.pixels);
  const HWND hwnd = host_.hwnd();
  if (!buffer || !hwnd) return;

  // Under X a window manager may still answer an earlier placement after a mode switch,
  // and the system takes that for a move by the user: every frame puts the window back
  // where it belongs, even one that sends no pixels.
  RECT now{};
  GetWindowRect(hwnd, &now);
  const Point at = frame.destination ? *frame.destination : Point{now.left, now.top};
  if (now.left != at.x || now.top != at.y || now.right - now.left != frame.size.x ||
      now.bottom - now.top != frame.size.y) {
    place(hwnd, at, frame.size);
  }

  // Anything but the pixels that differs from the last frame (the window's styles too,
  // which the window commands set) makes this frame whole.
  const LONG_PTR exStyle = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  const bool whole = !shown_ || shown_->surface != frame.surface || shown_->source != frame.source.pixels ||
                     shown_->destination != frame.destination || !(shown_->size == frame.size) ||
                     shown_->alpha != frame.constantAlpha || shown_->exStyle != exStyle;
  if (!whole && frame.changed.empty()) return;  // the same picture: nothing to send

  GdiFlush();  // the canvas wrote the DIB memory directly
  if (whole) setSurface(hwnd, frame, !shown_ || setupOf(shown_->surface) != setupOf(frame.surface));
  if (frame.surface == Surface::LayeredAlpha) {
    painted_ = nullptr;
    update(hwnd, *buffer, frame, whole);
  } else {
    paint(hwnd, *buffer, frame, whole);
  }
  shown_ = Shown{frame.source.pixels, frame.surface, frame.destination, frame.size, frame.constantAlpha,
                 GetWindowLongPtrW(hwnd, GWL_EXSTYLE)};
}

void Win32Presenter::paint(HWND hwnd, Buffer& buffer, const Presentation& frame, bool whole) {
  painted_ = &buffer;
  paintedSize_ = frame.size;
  HDC dc = GetDC(hwnd);
  if (!dc) return;
  if (whole) {
    BitBlt(dc, 0, 0, frame.size.x, frame.size.y, buffer.dc.get(), 0, 0, SRCCOPY);
  } else {
    for (const Rect& r : frame.changed) {
      BitBlt(dc, r.left, r.top, r.width(), r.height(), buffer.dc.get(), r.left, r.top, SRCCOPY);
    }
  }
  ReleaseDC(hwnd, dc);
}

void Win32Presenter::update(HWND hwnd, Buffer& buffer, const Presentation& frame, bool whole) {
  Rect area{};
  for (const Rect& r : frame.changed) area = unite(area, r);
  if (whole) area = {0, 0, frame.size.x, frame.size.y};
  if (opaqueAlphaNeeded_) markOpaque(frame.source, area);
  POINT sourcePoint{0, 0};
  POINT destinationPoint{frame.destination ? frame.destination->x : 0, frame.destination ? frame.destination->y : 0};
  SIZE size{frame.size.x, frame.size.y};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, frame.constantAlpha, 0};
  const RECT dirty{area.left, area.top, area.right, area.bottom};
  UPDATELAYEREDWINDOWINFO info{};
  info.cbSize = sizeof(info);
  info.hdcDst = screenDc_;
  info.pptDst = frame.destination ? &destinationPoint : nullptr;
  info.psize = &size;
  info.hdcSrc = buffer.dc.get();
  info.pptSrc = &sourcePoint;
  info.crKey = RGB(0, 0, 0);
  info.pblend = &blend;
  info.dwFlags = ULW_ALPHA;
  info.prcDirty = whole ? nullptr : &dirty;
  UpdateLayeredWindowIndirect(hwnd, &info);
}

void Win32Presenter::place(HWND hwnd, Point at, Point size) {
  // Moving and sizing invalidates the window: its paint request repaints it.
  SetWindowPos(hwnd, nullptr, at.x, at.y, size.x, size.y, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Presenter::setSurface(HWND hwnd, const Presentation& frame, bool setupChanged) {
  // The window commands keep the window layered in every mode; an opaque one needs no
  // layering at all.
  LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  if ((style & WS_EX_LAYERED) && (frame.surface == Surface::Opaque || (setupChanged && shown_))) {
    style &= ~LONG_PTR(WS_EX_LAYERED);
    SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style);
  }
  if (frame.surface != Surface::Opaque && !(style & WS_EX_LAYERED)) {
    SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style | WS_EX_LAYERED);
  }
  if (frame.surface == Surface::PaintedColorKey) {
    SetLayeredWindowAttributes(hwnd, RGB(0, 0, 0), 255, LWA_COLORKEY);
  } else if (frame.surface == Surface::PaintedAlpha) {
    SetLayeredWindowAttributes(hwnd, RGB(0, 0, 0), frame.constantAlpha, LWA_ALPHA);
  }
  if (frame.surface != Surface::LayeredAlpha && !childrenHidden_) {
    // A painted window would show its child controls over the frame (a layered update
    // never does): the frame is the whole picture.
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      ShowWindow(child, SW_HIDE);
    }
    childrenHidden_ = true;
  }
}

bool Win32Presenter::paintsWindow() { return painted_ != nullptr; }

bool Win32Presenter::repaint() {
  const HWND hwnd = host_.hwnd();
  if (!painted_ || !hwnd) return false;
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  if (dc) {
    const RECT& r = ps.rcPaint;
    const LONG right = std::min<LONG>(r.right, paintedSize_.x);
    const LONG bottom = std::min<LONG>(r.bottom, paintedSize_.y);
    if (right > r.left && bottom > r.top) {
      BitBlt(dc, r.left, r.top, right - r.left, bottom - r.top, painted_->dc.get(), r.left, r.top, SRCCOPY);
    }
  }
  EndPaint(hwnd, &ps);
  return true;
}

}  // namespace tonalis::win32
