// Which monitor a window or a strip belongs on.
#include "window/monitors.h"

#include <gtest/gtest.h>

#include <vector>

namespace tonalis {
namespace {

// Primary on the left; the second monitor to its right and 200 pixels higher.
const std::vector<Monitor> Layout{
    {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, 1.0},
    {{1920, -200, 4480, 1240}, {1920, -200, 4480, 1240}, false, 1.0},
};

TEST(Monitors, AWindowBelongsOnTheMonitorHoldingMostOfItOrTheNearest) {
  struct Row {
    const char* what;
    Rect window;
    size_t monitor;
  };
  const Row rows[] = {
      {"all on the primary", {100, 100, 543, 245}, 0},
      {"astride, more on the right", {1700, 500, 2143, 645}, 1},
      {"astride, more on the primary", {1600, 500, 2043, 645}, 0},
      {"above the primary, nearer to it", {100, -400, 543, -255}, 0},
      {"below both, nearer to the right", {4000, 1300, 4443, 1445}, 1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(monitorFor(Layout, row.window), Layout[row.monitor]) << row.what;
  }
}

TEST(Monitors, AfterAChangeTheStripKeepsItsMonitorOrGoesToThePrimary) {
  EXPECT_EQ(monitorAfterChange(Layout, Layout[1].area), Layout[1]);
  const std::vector<Monitor> primaryOnly{Layout[0]};
  EXPECT_EQ(monitorAfterChange(primaryOnly, Layout[1].area), Layout[0]);
  // A list that names no primary: the first monitor stands in; no list: nothing to place on.
  std::vector<Monitor> unnamed = Layout;
  unnamed[0].primary = false;
  EXPECT_EQ(primaryMonitor(unnamed), unnamed[0]);
  EXPECT_EQ(placeSavedWindow({}, {300, 200}, {443, 145}), (Point{50, 50}));
}

TEST(Monitors, TheDefaultPlaceIsOnThePrimaryWhereverItIs) {
  // On X11 the primary monitor need not be at the origin.
  std::vector<Monitor> layout = Layout;
  layout[0].primary = false;
  layout[1].primary = true;
  EXPECT_EQ(placeSavedWindow(layout, {-2000, 0}, {443, 145}), (Point{1970, -150}));
  // Coordinates near the 32-bit limits do not wrap around onto a monitor.
  EXPECT_EQ(placeSavedWindow(Layout, {INT32_MAX - 100, 0}, {443, 145}), (Point{50, 50}));
}

}  // namespace
}  // namespace tonalis
