#include "platform/win32/presenter.h"

#include <algorithm>

#include "render/dirty_rects.h"

namespace tonalis::win32 {

namespace {

bool isLayeredUpdate(Surface s) { return s == Surface::LayeredAlpha || s == Surface::LayeredColorKey; }

// Surfaces that need the window set up the same way.
int setupOf(Surface s) { return isLayeredUpdate(s) ? 0 : s == Surface::Opaque ? 1 : 2; }

}  // namespace

// Wine blends a layered window's pixels by their alpha byte even without per-pixel alpha
// (AlphaFormat 0), where Windows ignores that byte: frames whose words have a zero alpha
// byte would be invisible there.
Win32Presenter::Win32Presenter(Win32DialogHost& host) : host_(host), opaqueAlphaNeeded_(runningUnderWine()) {}

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
  const LONG_PTR exStyle = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  // Where the window is now: under X a window manager may still answer an earlier
  // placement after a mode switch, and the system takes that for a move by the user.
  // Every frame puts the window back, as a whole-window update used to.
  RECT now{};
  GetWindowRect(hwnd, &now);
  const Point at = frame.destination ? *frame.destination : Point{now.left, now.top};
  const bool misplaced = now.left != at.x || now.top != at.y || now.right - now.left != frame.size.x ||
                         now.bottom - now.top != frame.size.y;
  const bool sameSurface = shown_ && shown_->surface == frame.surface;
  const bool sameSetup = shown_ && setupOf(shown_->surface) == setupOf(frame.surface);
  // Anything but the pixels that differs from the last frame (the window's styles too,
  // which the window commands set) makes this frame whole.
  const bool whole = !sameSurface || shown_->source != frame.source.pixels ||
                     shown_->destination != frame.destination || !(shown_->size == frame.size) ||
                     shown_->alpha != frame.constantAlpha || shown_->exStyle != exStyle ||
                     (misplaced && isLayeredUpdate(frame.surface));
  if (misplaced && !isLayeredUpdate(frame.surface) && sameSetup) {
    // Moving and sizing invalidates the window: its paint request repaints it.
    SetWindowPos(hwnd, nullptr, at.x, at.y, frame.size.x, frame.size.y, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (!whole && frame.changed.empty()) return;  // the same picture: nothing to send

  GdiFlush();  // the canvas wrote the DIB memory directly
  setSurface(hwnd, frame.surface, !sameSetup);
  if (isLayeredUpdate(frame.surface)) {
    painted_ = nullptr;
    presentLayered(hwnd, *buffer, frame, whole);
  } else {
    presentPainted(hwnd, *buffer, frame, whole);
  }
  shown_ = Shown{frame.source.pixels, frame.surface, frame.destination, frame.size, frame.constantAlpha,
                 GetWindowLongPtrW(hwnd, GWL_EXSTYLE)};
}

void Win32Presenter::setSurface(HWND hwnd, Surface surface, bool changed) {
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  const bool layered = (style & WS_EX_LAYERED) != 0;
  if (!changed && layered == (surface != Surface::Opaque)) return;
  // A window set up for layered updates takes no layering attributes and the other way
  // round, until its layered style is cleared and set again. The first frame (the
  // splash) keeps the style the window commands gave it.
  const bool reset = changed && shown_ && layered;
  if (surface == Surface::Opaque || reset) SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style & ~LONG_PTR(WS_EX_LAYERED));
  if (surface != Surface::Opaque) SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style | WS_EX_LAYERED);
  if (surface == Surface::PaintedColorKey) SetLayeredWindowAttributes(hwnd, RGB(0, 0, 0), 255, LWA_COLORKEY);
  if (!isLayeredUpdate(surface) && !childrenHidden_) {
    // A painted window would show its child controls over the frame; a layered update
    // never does. The frame is the whole picture.
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      ShowWindow(child, SW_HIDE);
    }
    childrenHidden_ = true;
  }
}

void Win32Presenter::presentLayered(HWND hwnd, Buffer& buffer, const Presentation& frame, bool whole) {
  Rect changed{};
  for (const Rect& r : frame.changed) changed = unite(changed, r);
  const Rect all{0, 0, frame.size.x, frame.size.y};
  const Rect area = whole ? all : changed;
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
  info.dwFlags = frame.surface == Surface::LayeredColorKey ? ULW_COLORKEY : ULW_ALPHA;
  info.prcDirty = whole ? nullptr : &dirty;
  UpdateLayeredWindowIndirect(hwnd, &info);
}

void Win32Presenter::presentPainted(HWND hwnd, Buffer& buffer, const Presentation& frame, bool whole) {
  RECT now{};
  GetWindowRect(hwnd, &now);
  const Point at = frame.destination ? *frame.destination : Point{now.left, now.top};
  if (now.left != at.x || now.top != at.y || now.right - now.left != frame.size.x ||
      now.bottom - now.top != frame.size.y) {
    SetWindowPos(hwnd, nullptr, at.x, at.y, frame.size.x, frame.size.y, SWP_NOZORDER | SWP_NOACTIVATE);
  }
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
