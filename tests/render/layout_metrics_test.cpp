#include "render/layout_metrics.h"

#include <gtest/gtest.h>

namespace tonalis {
namespace {

TEST(LayoutMetrics, WorkedExamples) {
  struct Case {
    int32_t w, h, pos;
    LayoutMetrics expect;  // stripMarginX, bandGap, stripTop, cellGap, cellHeight, bandWidth, stripHeight
  };
  const Case cases[] = {
      {1920, 1080, 0, {17, 13, 315, 8, 17, 65, 450}},   // Center
      {1920, 1080, 1, {17, 13, 0, 8, 17, 65, 450}},     // Upper
      {1920, 1080, 2, {17, 13, 590, 8, 17, 65, 450}},   // Lower: ends 40 above the bottom
      {1920, 1080, 3, {17, 13, 53, 17, 35, 65, 1040}},  // Stretch: d = 1040
      {400, 300, 0, {3, 2, 114, 1, 3, 13, 72}},
      {400, 300, 1, {3, 2, 0, 1, 3, 13, 72}},
      {400, 300, 2, {3, 2, 188, 1, 3, 13, 72}},
      {400, 300, 3, {3, 2, 13, 4, 8, 13, 260}},
      // Shorter than the strip the width asks for (1242 rows): 18 rows of 20 + 40 fill
      // the screen from the top, whatever the position.
      {5120, 1080, 0, {46, 34, 0, 20, 40, 173, 1080}},
      {5120, 1080, 1, {46, 34, 0, 20, 40, 173, 1080}},
      {5120, 1080, 2, {46, 34, 0, 20, 40, 173, 1080}},
      {5120, 1000, 0, {46, 34, 0, 18, 37, 173, 990}},
      {5120, 1080, 3, {46, 34, 53, 17, 35, 173, 1040}},
      {3440, 1000, 0, {31, 23, 95, 15, 30, 116, 810}},
      // Between stripHeight and stripHeight + 40: at the top, rows as the width asks.
      {1920, 470, 0, {17, 13, 0, 8, 17, 65, 450}},
      {1920, 470, 2, {17, 13, 0, 8, 17, 65, 450}},
      {1920, 490, 0, {17, 13, 20, 8, 17, 65, 450}},  // exactly fits the reserve
      // Out-of-range positions lay out as Center.
      {1920, 1080, 4, {17, 13, 315, 8, 17, 65, 450}},
      {1920, 1080, -1, {17, 13, 315, 8, 17, 65, 450}},
  };
  for (const Case& c : cases) {
    const LayoutMetrics m = computeLayoutMetrics(c.w, c.h, c.pos);
    EXPECT_EQ(m, c.expect) << c.w << "x" << c.h << " pos " << c.pos << ": got " << m.stripMarginX
                           << "," << m.bandGap << "," << m.stripTop << "," << m.cellGap << ","
                           << m.cellHeight << "," << m.bandWidth << "," << m.stripHeight;
    if (c.pos != 3) {
      EXPECT_EQ(m.stripHeight, 18 * (m.cellGap + m.cellHeight));
      EXPECT_LE(m.stripTop + m.stripHeight, c.h) << c.w << "x" << c.h << " pos " << c.pos;
    }
  }
}

TEST(LayoutMetrics, ReselectingThePositionGivesTheSameValues) {
  for (int32_t pos = 0; pos <= 3; ++pos) {
    const LayoutMetrics first = computeLayoutMetrics(1920, 1080, pos);
    EXPECT_EQ(computeLayoutMetrics(1920, 1080, pos), first) << pos;
  }
}

}  // namespace
}  // namespace tonalis
