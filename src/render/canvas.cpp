#include "render/canvas.h"

#include <algorithm>
#include <cstdlib>

namespace tonalis {

namespace {

// GDI works in 27-bit device coordinates; beyond that a line is not drawn, which also
// keeps the error terms below well inside 64 bits.
constexpr int64_t CoordLimit = int64_t(1) << 27;

// Octants numbered clockwise from the +x axis with y pointing down, as GDI numbers them;
// the number picks the major axis and the tie-break bias.
int octantOf(int64_t dx, int64_t dy) {
  if (dy > 0) {
    if (dx > 0) return dx > dy ? 1 : 2;
    return -dx > dy ? 4 : 3;
  }
  if (dx < 0) return -dx > -dy ? 5 : 6;
  return dx > -dy ? 8 : 7;
}

}  // namespace

Canvas::Canvas(PixelView view) noexcept : view_(view) {
  if (view_.pixels == nullptr || view_.width <= 0 || view_.height <= 0) view_ = PixelView{};
}

void Canvas::fillRect(const Rect& r, Rgb color) noexcept {
  const int32_t left = std::max(r.left, 0);
  const int32_t top = std::max(r.top, 0);
  const int32_t right = std::min(r.right, view_.width);
  const int32_t bottom = std::min(r.bottom, view_.height);
  if (left >= right || top >= bottom) return;
  const uint32_t pixel = color;
  for (int32_t y = top; y < bottom; ++y) {
    uint32_t* row = view_.pixels + size_t(y) * size_t(view_.width);
    std::fill(row + left, row + right, pixel);
  }
}

void Canvas::line(Point from, Point to, Rgb color) noexcept {
  if (view_.pixels == nullptr) return;
  for (int64_t c : {int64_t(from.x), int64_t(from.y), int64_t(to.x), int64_t(to.y)}) {
    if (c < -CoordLimit || c > CoordLimit) return;
  }
  const int64_t dx = int64_t(to.x) - from.x;
  const int64_t dy = int64_t(to.y) - from.y;
  if (dx == 0 && dy == 0) return;

  const int octant = octantOf(dx, dy);
  const bool xMajor = octant == 1 || octant == 4 || octant == 5 || octant == 8;
  const int64_t bias = (octant == 3 || octant == 5 || octant == 6 || octant == 8) ? 1 : 0;

  // Walk in major/minor terms: `len` major steps, the end point itself excluded.
  const int64_t majorLen = xMajor ? std::llabs(dx) : std::llabs(dy);
  const int64_t minorLen = xMajor ? std::llabs(dy) : std::llabs(dx);
  const uint32_t pixel = color;

  // Both ends inside the view: every pixel between them is too (they stay in the box of
  // the ends), so the walk needs no clipping. This is the common case of a spectrum line.
  const auto inside = [this](Point p) {
    return p.x >= 0 && p.y >= 0 && p.x < view_.width && p.y < view_.height;
  };
  if (inside(from) && inside(to)) {
    const ptrdiff_t xStep = dx > 0 ? 1 : -1;
    const ptrdiff_t yStep = dy > 0 ? view_.width : -ptrdiff_t(view_.width);
    const ptrdiff_t majorDelta = xMajor ? xStep : yStep;
    const ptrdiff_t minorDelta = xMajor ? yStep : xStep;
    uint32_t* p = view_.pixels + ptrdiff_t(from.y) * view_.width + from.x;
    if (minorLen <= 1) {
      // One or two straight runs (a spectrum line's steps are of this kind): the walk below
      // takes its single minor step after pixel i0, the first i with 2 - len + 2i + bias > 0.
      int64_t run = majorLen;
      if (minorLen == 1) {
        const int64_t t = majorLen - 2 - bias;
        run = std::min(majorLen, t < 0 ? int64_t(1) : t / 2 + 2);
      }
      for (int64_t i = 0; i < run; ++i, p += majorDelta) *p = pixel;
      p += minorDelta;
      for (int64_t i = run; i < majorLen; ++i, p += majorDelta) *p = pixel;
      return;
    }
    int64_t err = 2 * minorLen - majorLen;
    const int64_t stepUp = 2 * minorLen - 2 * majorLen;
    const int64_t stepFlat = 2 * minorLen;
    for (int64_t i = 0; i < majorLen; ++i) {
      *p = pixel;
      if (err + bias > 0) {
        p += minorDelta;
        err += stepUp;
      } else {
        err += stepFlat;
      }
      p += majorDelta;
    }
    return;
  }
  const int64_t majorStart = xMajor ? from.x : from.y;
  const int64_t minorStart = xMajor ? from.y : from.x;
  const int64_t majorStep = (xMajor ? dx : dy) > 0 ? 1 : -1;
  const int64_t minorStep = (xMajor ? dy : dx) > 0 ? 1 : -1;
  const int64_t majorLimit = xMajor ? view_.width : view_.height;

  // Only the major steps whose major coordinate lies inside the view can light a pixel.
  int64_t first = 0;
  int64_t last = majorLen;  // exclusive
  if (majorStep > 0) {
    first = std::max<int64_t>(first, -majorStart);
    last = std::min<int64_t>(last, majorLimit - majorStart);
  } else {
    first = std::max<int64_t>(first, majorStart - (majorLimit - 1));
    last = std::min<int64_t>(last, majorStart + 1);
  }
  if (first >= last) return;

  // Minor steps taken during the skipped major steps, from the invariant that keeps
  // err + bias - 2*minorLen in (-2*majorLen, 0] after every step.
  const int64_t skippedMinor = (2 * first * minorLen + bias + majorLen - 1) / (2 * majorLen);
  int64_t err = 2 * minorLen - majorLen + 2 * first * minorLen - 2 * skippedMinor * majorLen;
  int64_t major = majorStart + first * majorStep;
  int64_t minor = minorStart + skippedMinor * minorStep;

  // Major steps are all inside the view now; only the minor coordinate needs a check.
  const uint64_t minorLimit = uint64_t(xMajor ? view_.height : view_.width);
  const int64_t majorStride = xMajor ? 1 : view_.width;
  const int64_t minorStride = xMajor ? view_.width : 1;
  const int64_t stepUp = 2 * minorLen - 2 * majorLen;
  const int64_t stepFlat = 2 * minorLen;
  for (int64_t i = first; i < last; ++i) {
    if (uint64_t(minor) < minorLimit) view_.pixels[major * majorStride + minor * minorStride] = pixel;
    if (err + bias > 0) {
      minor += minorStep;
      err += stepUp;
    } else {
      err += stepFlat;
    }
    major += majorStep;
  }
}

void Canvas::polyline(std::span<const Point> points, Rgb color) noexcept {
  for (size_t i = 1; i < points.size(); ++i) line(points[i - 1], points[i], color);
}

void Canvas::drawImage(const Image& image, Point at) noexcept {
  if (image.width <= 0 || image.height <= 0) return;
  if (image.pixels.size() < size_t(image.width) * size_t(image.height)) return;
  const int64_t left = std::max<int64_t>(at.x, 0);
  const int64_t top = std::max<int64_t>(at.y, 0);
  const int64_t right = std::min<int64_t>(int64_t(at.x) + image.width, view_.width);
  const int64_t bottom = std::min<int64_t>(int64_t(at.y) + image.height, view_.height);
  if (left >= right || top >= bottom) return;
  for (int64_t y = top; y < bottom; ++y) {
    const uint32_t* src = image.pixels.data() + size_t(y - at.y) * size_t(image.width) +
                          size_t(left - at.x);
    std::copy(src, src + (right - left),
              view_.pixels + size_t(y) * size_t(view_.width) + size_t(left));
  }
}

}  // namespace tonalis
