// The window's place on a layer-shell compositor: which layer a mode's stacking and rectangle
// give, and the margins from the monitor the window stands on.
#include "backend/linux/layer_surface.h"

#include <gtest/gtest.h>

namespace tonalis::lnx {
namespace {

const Rect Monitors[] = {{0, 0, 1280, 800}, {1280, 100, 3200, 1180}};

TEST(LayerRole, FollowsTheModesStackingAndSize) {
  struct Case {
    bool topMost, bottom;
    Rect rect;
    LayerRole want;
  } cases[] = {
      {false, false, {200, 120, 643, 265}, LayerRole::Toplevel},     // Window, keep-on-top off
      {true, false, {200, 120, 643, 265}, LayerRole::Window},        // Window, keep-on-top on
      {true, false, {0, 0, 1280, 800}, LayerRole::FullScreen},       // a whole monitor
      {true, false, {1280, 100, 3200, 1180}, LayerRole::FullScreen},  // the second one
      {true, false, {0, 0, 1280, 799}, LayerRole::Window},           // short of a monitor
      {false, true, {0, 256, 1280, 544}, LayerRole::Desktop},        // the desktop strip
      {false, true, {0, 0, 1280, 800}, LayerRole::Desktop},          // below wins over size
  };
  for (const Case& c : cases) {
    EXPECT_EQ(layerRoleFor(c.topMost, c.bottom, c.rect, Monitors, 2), c.want)
        << c.rect.left << "," << c.rect.top << " " << c.rect.width() << "x" << c.rect.height();
  }
}

TEST(LayerMargins, AreFromTheMonitorHoldingTheCorner) {
  struct Case {
    Rect rect;
    Margins want;
  } cases[] = {
      {{200, 120, 643, 265}, {0, 200, 120}},
      {{1300, 150, 1743, 295}, {1, 20, 50}},
      {{1279, 799, 1722, 944}, {0, 1279, 799}},
      {{-100, 50, 343, 195}, {0, -100, 50}},  // corner off every monitor: the first one's
  };
  for (const Case& c : cases) {
    const Margins got = marginsOn(c.rect, Monitors, 2);
    EXPECT_EQ(got.monitor, c.want.monitor) << c.rect.left << "," << c.rect.top;
    EXPECT_EQ(got.left, c.want.left) << c.rect.left << "," << c.rect.top;
    EXPECT_EQ(got.top, c.want.top) << c.rect.left << "," << c.rect.top;
  }
  EXPECT_EQ(marginsOn({7, 9, 10, 10}, Monitors, 0).left, 7);
}

}  // namespace
}  // namespace tonalis::lnx
