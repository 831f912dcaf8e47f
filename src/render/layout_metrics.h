// Geometry of the full-screen / desktop strip: the 443-pixel window design scaled to
// the screen width, 17 cell rows plus a floor row, placed by the full-screen position.
#pragma once

#include <cstdint>

namespace tonalis {

// All fields in pixels. Band b (0..23) spans x from stripMarginX + (b + 1) * bandGap +
// b * bandWidth for bandWidth pixels; row r (0..17, 17 = floor row) spans y from
// base + cellGap + r * (cellGap + cellHeight) for cellHeight pixels, base being stripTop
// in FullScreen mode and 0 in Desktop mode.
struct LayoutMetrics {
  int32_t stripMarginX = 0;  // x of the strip's left edge before the first band gap
  int32_t bandGap = 0;       // gap in front of each band column
  int32_t stripTop = 0;      // screen y of the strip's top edge
  int32_t cellGap = 0;       // vertical gap in front of each row
  int32_t cellHeight = 0;    // height of one row's cell
  int32_t bandWidth = 0;     // width of one band column
  int32_t stripHeight = 0;   // 18 * (cellGap + cellHeight), or the stretched height
  friend bool operator==(const LayoutMetrics&, const LayoutMetrics&) = default;
};

// screenWidth >= 400 and screenHeight >= 300 (the start-up clamps) keep every quotient
// non-negative. fullScreenPosition: 0 Center, 1 Upper, 2 Lower, 3 Stretch; any other value
// lays out as Center. When the strip does not fit above the 40-pixel bottom reserve
// (non-Stretch), it goes to the top; when it is taller than the screen itself (a very wide,
// short screen such as 5120 x 1080), its rows shrink so that all 18 fit on the screen.
// The strip never reaches below screenHeight, except the stretched one's trailing gap.
LayoutMetrics computeLayoutMetrics(int32_t screenWidth, int32_t screenHeight,
                                   int32_t fullScreenPosition) noexcept;

}  // namespace tonalis
