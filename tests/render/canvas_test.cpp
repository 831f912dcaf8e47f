#include "render/canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>

#include "render_fixture.h"

namespace tonalis {
namespace {

using test::Frame;

constexpr uint32_t Mark = 0x123456;  // background that no drawing uses

std::set<std::pair<int, int>> litPixels(const Frame& f) {
  std::set<std::pair<int, int>> out;
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x)
      if (f.at(x, y) != Mark) out.insert({x, y});
  return out;
}

TEST(CanvasColour, AColourIsThePixelItDraws) {
  EXPECT_EQ(rgb(1, 2, 3), 0x010203u);
  Frame f(2, 1, 0);
  Canvas(f.view()).fillRect({0, 0, 1, 1}, rgb(0xFF, 0, 0));
  EXPECT_EQ(f.at(0, 0), 0xFF0000u) << "red";
  EXPECT_EQ(f.at(1, 0), 0u);
}

TEST(CanvasFill, RectanglesAreRightBottomExclusiveAndClipped) {
  struct Case {
    Rect r;
    std::set<std::pair<int, int>> lit;
  };
  const Case cases[] = {
      {{1, 1, 3, 2}, {{1, 1}, {2, 1}}},
      {{-5, -5, 1, 1}, {{0, 0}}},                       // clipped at top-left
      {{4, 4, 99, 99}, {{4, 4}}},                       // clipped at bottom-right
      {{2, 2, 2, 4}, {}},                               // empty
      {{3, 3, 1, 1}, {}},                               // inverted: nothing, as FillRect
      {{-10, 0, -1, 5}, {}},                            // wholly outside
  };
  for (const Case& c : cases) {
    Frame f(5, 5, Mark);
    Canvas(f.view()).fillRect(c.r, 0xFF0000);
    EXPECT_EQ(litPixels(f), c.lit) << c.r.left << "," << c.r.top << "," << c.r.right << "," << c.r.bottom;
    for (auto [x, y] : c.lit) EXPECT_EQ(f.at(x, y), 0xFF0000u);
  }
}

TEST(CanvasFill, EmptyViewDrawsNothing) {
  Canvas c(PixelView{nullptr, 10, 10});
  c.fillRect({0, 0, 10, 10}, 0xFFFFFF);
  c.line({0, 0}, {9, 9}, 0xFFFFFF);
  Image img{2, 2, 32, {1, 2, 3, 4}};
  c.drawImage(img, {0, 0});  // must not crash
}

TEST(CanvasLine, EndPointIsNotDrawn) {
  struct Case {
    Point a, b;
    std::set<std::pair<int, int>> lit;
  };
  const Case cases[] = {
      {{0, 0}, {3, 0}, {{0, 0}, {1, 0}, {2, 0}}},
      {{3, 1}, {0, 1}, {{3, 1}, {2, 1}, {1, 1}}},
      {{1, 0}, {1, 3}, {{1, 0}, {1, 1}, {1, 2}}},
      {{1, 3}, {1, 0}, {{1, 3}, {1, 2}, {1, 1}}},
      {{0, 0}, {3, 3}, {{0, 0}, {1, 1}, {2, 2}}},
      {{2, 2}, {2, 2}, {}},  // zero length: nothing
      // Ties at the half-way pixel: both directions agree on the middle pixel.
      {{0, 0}, {2, 1}, {{0, 0}, {1, 0}}},
      {{2, 1}, {0, 0}, {{2, 1}, {1, 0}}},
      {{0, 0}, {1, 2}, {{0, 0}, {0, 1}}},
      {{1, 2}, {0, 0}, {{1, 2}, {0, 1}}},
      {{0, 1}, {2, 0}, {{0, 1}, {1, 0}}},
      {{2, 0}, {0, 1}, {{2, 0}, {1, 0}}},
  };
  for (const Case& c : cases) {
    Frame f(5, 5, Mark);
    Canvas(f.view()).line(c.a, c.b, 0xFFFFFF);
    EXPECT_EQ(litPixels(f), c.lit) << "(" << c.a.x << "," << c.a.y << ")->(" << c.b.x << "," << c.b.y << ")";
  }
}

TEST(CanvasLine, PixelsDoNotDependOnDirection) {
  // GDI's per-octant tie-break makes a segment light the same pixels either way round,
  // apart from which end point is excluded.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> coord(0, 39);
  for (int i = 0; i < 2000; ++i) {
    const Point a{coord(rng), coord(rng)}, b{coord(rng), coord(rng)};
    if (a == b) continue;
    Frame f1(40, 40, Mark), f2(40, 40, Mark);
    Canvas c1(f1.view()), c2(f2.view());
    c1.line(a, b, 0xFFFFFF);
    c1.fillRect({b.x, b.y, b.x + 1, b.y + 1}, 0xFFFFFF);
    c2.line(b, a, 0xFFFFFF);
    c2.fillRect({a.x, a.y, a.x + 1, a.y + 1}, 0xFFFFFF);
    ASSERT_EQ(f1.pixels, f2.pixels) << "(" << a.x << "," << a.y << ")-(" << b.x << "," << b.y << ")";
  }
}

TEST(CanvasLine, ClippingKeepsTheUnclippedPixels) {
  // A line drawn into a small view equals the same line drawn into a large view and cut
  // out, wherever its ends lie (including far outside and steep/shallow octants).
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> coord(-300, 340);
  constexpr int Off = 400;
  Frame small(40, 30, Mark);
  Frame large(800, 800, Mark);
  for (int i = 0; i < 3000; ++i) {
    const Point a{coord(rng), coord(rng)}, b{coord(rng), coord(rng)};
    const Point la{a.x + Off, a.y + Off}, lb{b.x + Off, b.y + Off};
    std::fill(small.pixels.begin(), small.pixels.end(), Mark);
    Canvas(small.view()).line(a, b, 0xFFFFFF);
    Canvas(large.view()).line(la, lb, 0xFFFFFF);
    for (int y = 0; y < small.height; ++y)
      for (int x = 0; x < small.width; ++x)
        ASSERT_EQ(small.at(x, y), large.at(x + Off, y + Off))
            << "(" << a.x << "," << a.y << ")-(" << b.x << "," << b.y << ") at " << x << "," << y;
    Canvas(large.view()).line(la, lb, Mark);  // erase exactly what was drawn
  }
}

TEST(CanvasLine, NearlyStraightSegmentsMatchTheClippedWalk) {
  // Segments at most one pixel off vertical or horizontal (every step of a spectrum line)
  // take a shorter road when both ends are inside the view. Moved so that the excluded end
  // point lies just outside, the same segment takes the clipping walk: same pixels.
  for (int len = 1; len <= 30; ++len) {
    for (int side : {-1, 0, 1}) {
      for (bool steep : {true, false}) {
        for (int dir : {-1, 1}) {
          const Point a{50, 50};
          const Point b = steep ? Point{a.x + side, a.y + dir * len} : Point{a.x + dir * len, a.y + side};
          Frame whole(100, 100, Mark);
          Canvas(whole.view()).line(a, b, 0xFFFFFF);

          Point t{0, 0};
          int32_t w = 100, h = 100;
          if (steep) {
            if (dir > 0) h = b.y; else t.y = -(b.y + 1);
          } else {
            if (dir > 0) w = b.x; else t.x = -(b.x + 1);
          }
          Frame cut(w, h, Mark);
          Canvas(cut.view()).line({a.x + t.x, a.y + t.y}, {b.x + t.x, b.y + t.y}, 0xFFFFFF);
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
              const int wx = x - t.x, wy = y - t.y;
              if (wx < 0 || wy < 0 || wx >= 100 || wy >= 100) continue;
              ASSERT_EQ(cut.at(x, y), whole.at(wx, wy)) << "to " << b.x << "," << b.y << " at " << wx << "," << wy;
            }
        }
      }
    }
  }
}

TEST(CanvasLine, HugeCoordinatesAreRejectedNotWalked) {
  Frame f(10, 10, Mark);
  Canvas(f.view()).line({-2000000000, 5}, {2000000000, 5}, 0xFFFFFF);
  EXPECT_TRUE(litPixels(f).empty());
  // Long but legal lines are walked only across the view.
  Canvas(f.view()).line({-100000000, 5}, {100000000, 5}, 0xFFFFFF);
  EXPECT_EQ(litPixels(f).size(), 10u);
}

TEST(CanvasPolyline, EveryVertexButTheLastIsDrawn) {
  Frame f(6, 6, Mark);
  const Point pts[] = {{0, 0}, {0, 2}, {3, 2}, {3, 0}};
  Canvas(f.view()).polyline(pts, 0x00FF00);
  const std::set<std::pair<int, int>> expected = {{0, 0}, {0, 1}, {0, 2}, {1, 2}, {2, 2},
                                                  {3, 2}, {3, 1}};
  EXPECT_EQ(litPixels(f), expected);
  EXPECT_EQ(f.at(3, 1), 0x00FF00u);
}

TEST(CanvasImage, CopiesOneToOneAndClips) {
  Image img{3, 2, 32, {1, 2, 3, 4, 5, 6}};
  struct Case {
    Point at;
    std::vector<std::pair<std::pair<int, int>, uint32_t>> expect;
    size_t litCount;
  };
  const Case cases[] = {
      {{1, 1}, {{{1, 1}, 1}, {{3, 1}, 3}, {{1, 2}, 4}, {{3, 2}, 6}}, 6},
      {{-2, -1}, {{{0, 0}, 6}}, 1},                 // only the bottom-right pixel shows
      {{3, 3}, {{{3, 3}, 1}, {{3, 4}, 4}}, 4},      // cut at the right and bottom edges
      {{5, 0}, {}, 0},
      {{0, -2}, {}, 0},
  };
  for (const Case& c : cases) {
    Frame f(5, 5, Mark);
    Canvas(f.view()).drawImage(img, c.at);
    EXPECT_EQ(litPixels(f).size(), c.litCount) << c.at.x << "," << c.at.y;
    for (auto [p, v] : c.expect) EXPECT_EQ(f.at(p.first, p.second), v);
  }
}

TEST(CanvasImage, MalformedImageIsSkipped) {
  Frame f(4, 4, Mark);
  Image img{3, 3, 32, {1, 2}};  // fewer pixels than its size says
  Canvas(f.view()).drawImage(img, {0, 0});
  EXPECT_TRUE(litPixels(f).empty());
}

}  // namespace
}  // namespace tonalis
