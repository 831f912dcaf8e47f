#include "render/layout_metrics.h"

namespace tonalis {

namespace {
constexpr int32_t BottomReserve = 40;  // kept free at the bottom in Lower and Stretch
}

LayoutMetrics computeLayoutMetrics(int32_t screenWidth, int32_t screenHeight,
                                   int32_t fullScreenPosition) noexcept {
  const int32_t W = screenWidth;
  const int32_t H = screenHeight;
  LayoutMetrics m;
  // The window design: 4-pixel margin, then per band a 3-pixel gap and a 15-pixel column.
  m.stripMarginX = (4 * W) / 443;
  m.bandGap = (3 * W) / 443;
  m.bandWidth = (15 * W) / 443;

  if (fullScreenPosition == 3) {  // Stretch: rows follow the height, not the width
    const int32_t d = H - BottomReserve;
    m.cellHeight = (4 * d) / 116;
    m.cellGap = (2 * d) / 116;
    m.stripHeight = d;
    m.stripTop = (6 * d) / 116;
    return m;
  }

  // Rows keep the design's 4:2 proportion to the 15-pixel column.
  m.cellGap = (2 * m.bandWidth) / 15;
  m.cellHeight = (4 * m.bandWidth) / 15;
  m.stripHeight = 18 * (m.cellGap + m.cellHeight);
  if (H < m.stripHeight) {
    // Rows keep their 4:2 proportion, 18 of them in the screen's height.
    m.cellGap = (2 * H) / 108;
    m.cellHeight = (4 * H) / 108;
    m.stripHeight = 18 * (m.cellGap + m.cellHeight);
    m.stripTop = 0;
    return m;
  }
  if (H < m.stripHeight + BottomReserve) {
    m.stripTop = 0;
    return m;
  }
  switch (fullScreenPosition) {
    case 1: m.stripTop = 0; break;
    case 2: m.stripTop = H - m.stripHeight - BottomReserve; break;
    default: m.stripTop = (H - m.stripHeight) / 2; break;
  }
  return m;
}

}  // namespace tonalis
