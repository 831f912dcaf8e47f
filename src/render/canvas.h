// Software drawing onto a frame buffer: exactly the three operations the renderers need,
// with the pixel rules of the Windows graphics calls they replace, so a frame drawn here
// matches one drawn by GDI into a 32-bpp DIB section.
#pragma once

#include <cstdint>
#include <span>

#include "common/types.h"
#include "render/assets.h"

namespace tonalis {


// Draws into memory it does not own. Every operation clips to the view; none allocates.
// A view with a null pixel pointer or a non-positive size draws nothing.
class Canvas {
 public:
  explicit Canvas(PixelView view) noexcept;

  PixelView view() const noexcept { return view_; }

  // Solid fill of r (right and bottom exclusive), clipped. An empty or inverted
  // rectangle fills nothing, as FillRect does.
  void fillRect(const Rect& r, Rgb color) noexcept;

  // One segment of a 1-pixel solid pen, as LineTo: `from` is drawn, `to` is not.
  // Pixels follow the GDI Bresenham rule including its tie-break per octant, so a
  // clipped segment lights exactly the pixels the unclipped one lights inside the view.
  void line(Point from, Point to, Rgb color) noexcept;

  // MoveTo(points[0]) followed by LineTo for each further point: every vertex but the
  // last is drawn. Fewer than two points draw nothing.
  void polyline(std::span<const Point> points, Rgb color) noexcept;

  // 1:1 copy of the whole image with its top-left corner at `at` (SRCCOPY), clipped.
  void drawImage(const Image& image, Point at) noexcept;

 private:
  PixelView view_;
};

}  // namespace tonalis
