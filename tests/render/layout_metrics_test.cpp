#include "render/layout_metrics.h"

#include <gtest/gtest.h>

namespace tonalis {
namespace {

TEST(LayoutMetrics, WorkedExamples) {
  struct Case {
    int32_t w, h, pos;
    LayoutMetrics expect;  // stripMarginX, bandGap, stripTop, cellGap, cellHeight, bandWidth, stripHeight
    int32_t heightAfter;
  };
  const Case cases[] = {
      {1920, 1080, 0, {17, 13, 315, 8, 17, 65, 450}, 1080},   // Center
      {1920, 1080, 1, {17, 13, 0, 8, 17, 65, 450}, 1080},     // Upper
      {1920, 1080, 2, {17, 13, 590, 8, 17, 65, 450}, 1080},   // Lower: ends 40 above the bottom
      {1920, 1080, 3, {17, 13, 53, 17, 35, 65, 1040}, 1080},  // Stretch: d = 1040
      {400, 300, 0, {3, 2, 114, 1, 3, 13, 72}, 300},
      {400, 300, 1, {3, 2, 0, 1, 3, 13, 72}, 300},
      {400, 300, 2, {3, 2, 188, 1, 3, 13, 72}, 300},
      {400, 300, 3, {3, 2, 13, 4, 8, 13, 260}, 300},
      // Too short for the strip: top of the screen, and the stored height is replaced.
      {5120, 1080, 0, {46, 34, 0, 23, 46, 173, 1242}, 1242},
      {5120, 1080, 1, {46, 34, 0, 23, 46, 173, 1242}, 1242},
      {5120, 1080, 2, {46, 34, 0, 23, 46, 173, 1242}, 1242},
      {5120, 1080, 3, {46, 34, 53, 17, 35, 173, 1040}, 1080},  // Stretch never replaces it
      {3440, 1000, 0, {31, 23, 95, 15, 30, 116, 810}, 1000},
      // Between stripHeight and stripHeight + 40: the stored height shrinks.
      {1920, 470, 0, {17, 13, 0, 8, 17, 65, 450}, 450},
      {1920, 490, 0, {17, 13, 20, 8, 17, 65, 450}, 490},  // exactly fits the reserve
      // Out-of-range positions lay out as Center.
      {1920, 1080, 4, {17, 13, 315, 8, 17, 65, 450}, 1080},
      {1920, 1080, -1, {17, 13, 315, 8, 17, 65, 450}, 1080},
  };
  for (const Case& c : cases) {
    int32_t h = c.h;
    const LayoutMetrics m = computeLayoutMetrics(c.w, h, c.pos);
    EXPECT_EQ(m, c.expect) << c.w << "x" << c.h << " pos " << c.pos << ": got " << m.stripMarginX
                           << "," << m.bandGap << "," << m.stripTop << "," << m.cellGap << ","
                           << m.cellHeight << "," << m.bandWidth << "," << m.stripHeight;
    EXPECT_EQ(h, c.heightAfter) << c.w << "x" << c.h << " pos " << c.pos;
    if (c.pos != 3) {
      EXPECT_EQ(m.stripHeight, 18 * (m.cellGap + m.cellHeight));
      EXPECT_LE(m.stripTop + m.stripHeight, h);
    }
  }
}

TEST(LayoutMetrics, RecomputingStartsFromTheReplacedHeight) {
  int32_t h = 1080;
  computeLayoutMetrics(5120, h, 0);
  ASSERT_EQ(h, 1242);
  // 1242 < 1242 + 40, so every later non-Stretch position stays at the top.
  for (int32_t pos : {0, 1, 2}) {
    EXPECT_EQ(computeLayoutMetrics(5120, h, pos).stripTop, 0) << pos;
    EXPECT_EQ(h, 1242);
  }
  // Stretch then works from the replaced height.
  EXPECT_EQ(computeLayoutMetrics(5120, h, 3).stripHeight, 1202);
}

TEST(LayoutMetrics, ReselectingThePositionGivesTheSameValues) {
  for (int32_t pos = 0; pos <= 3; ++pos) {
    int32_t h = 1080;
    const LayoutMetrics first = computeLayoutMetrics(1920, h, pos);
    EXPECT_EQ(computeLayoutMetrics(1920, h, pos), first) << pos;
  }
}

}  // namespace
}  // namespace tonalis
