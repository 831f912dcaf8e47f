// The main window's port: what it reads back and the screen test.
#include "backend/linux/window_port.h"

#include <gtest/gtest.h>

#include "x_display.h"

namespace tonalis::lnx {
namespace {

TEST(WindowOnScreens, IsSeenWhereItOverlapsAMonitor) {
  const Rect monitors[] = {{0, 0, 1920, 1080}, {1920, 200, 3200, 1224}};
  struct Case {
    Rect rect;
    bool seen;
  } cases[] = {
      {{100, 100, 543, 245}, true},
      {{-443, 0, 0, 145}, false},          // touches the left edge only
      {{-442, 0, 1, 145}, true},           // one column on screen
      {{1900, 100, 2300, 150}, true},      // across both
      {{2000, 0, 2443, 145}, false},       // above the second monitor, right of the first
      {{2000, 100, 2443, 201}, true},      // one row on the second
      {{0, 1080, 443, 1225}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LinuxWindowPort::intersectsAny(c.rect, monitors, 2), c.seen)
        << c.rect.left << "," << c.rect.top << "," << c.rect.right << "," << c.rect.bottom;
  }
  EXPECT_FALSE(LinuxWindowPort::intersectsAny({0, 0, 10, 10}, monitors, 0));
}

TEST(WindowPort, KeepsItsTaskbarButtonAndThePlaceItWasGiven) {
  TONALIS_REQUIRE_DISPLAY();
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  LinuxWindowPort port;
  port.attach(GTK_WINDOW(window));
  EXPECT_FALSE(port.isVisible());
  port.setTaskbarButton(false);
  port.setClickThrough(true);
  EXPECT_TRUE(gtk_window_get_skip_taskbar_hint(GTK_WINDOW(window)));
  port.move(120, 80, 443, 145, true);
  EXPECT_EQ(port.windowRect(), (Rect{120, 80, 563, 225})) << "read back before the display answers";
  port.show();
  testing::pumpEvents(200);
  EXPECT_TRUE(port.isVisible());
  EXPECT_EQ(port.windowRect(), (Rect{120, 80, 563, 225}));
  EXPECT_TRUE(port.isOnAnyScreen(port.windowRect()));
  EXPECT_FALSE(port.isOnAnyScreen({-600, 0, -100, 100}));
  port.setClickThrough(false);
  EXPECT_TRUE(gtk_window_get_skip_taskbar_hint(GTK_WINDOW(window))) << "click-through leaves the button alone";
  port.setTaskbarButton(true);
  EXPECT_FALSE(gtk_window_get_skip_taskbar_hint(GTK_WINDOW(window)));
  port.hide();
  EXPECT_FALSE(port.isVisible());
  port.detach();
  gtk_widget_destroy(window);
}

}  // namespace
}  // namespace tonalis::lnx
