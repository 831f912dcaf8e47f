// Frames painted into a real GTK window on a private X display, read back from the screen.
#include "backend/linux/presenter.h"

#include <gtest/gtest.h>

#include <vector>

#include "x_display.h"

// X11's headers last: their macros clash with the program's names.
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

// GTK, GLib and fontconfig keep per-process caches that live until exit.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libgtk-3\nleak:libgdk-3\nleak:libglib-2.0\nleak:libgobject-2.0\nleak:libfontconfig\n"
         "leak:libpango\nleak:libcairo\nleak:libgio-2.0\nleak:libX11\nleak:libdbusmenu\nleak:libayatana\n";
}

namespace tonalis::lnx {
namespace {

using testing::pumpEvents;

constexpr uint32_t Black = 0x000000, White = 0xFFFFFF;

TEST(ToArgb, MakesThePixelsOpaqueOrKeysBlackOutInsideTheAreaOnly) {
  const std::vector<uint32_t> source = {0x000000, 0x000001, 0xFF000000, 0x123456,  //
                                        0x000000, 0xFFFFFF, 0x010000, 0x000000};
  struct Case {
    bool keyBlack;
    std::vector<uint32_t> expected;
  };
  const Case cases[] = {
      {true, {0x00000000, 0xFF000001, 0x00000000, 0xFF123456, 0xDEADBEEF, 0xDEADBEEF, 0xFF010000, 0x00000000}},
      {false, {0xFF000000, 0xFF000001, 0xFF000000, 0xFF123456, 0xDEADBEEF, 0xDEADBEEF, 0xFF010000, 0xFF000000}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> argb(source.size(), 0xDEADBEEF);
    const PixelView view{const_cast<uint32_t*>(source.data()), 4, 2};
    LinuxPresenter::toArgb(view, argb.data(), Rect{0, 0, 4, 1}, c.keyBlack);
    LinuxPresenter::toArgb(view, argb.data(), Rect{2, 1, 9, 9}, c.keyBlack);  // clipped to the buffer
    EXPECT_EQ(argb, c.expected) << "keyBlack " << c.keyBlack;
  }
}

class PresenterOnScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    TONALIS_REQUIRE_DISPLAY();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    area_ = gtk_drawing_area_new();
    gtk_container_add(GTK_CONTAINER(window_), area_);
    port_.attach(GTK_WINDOW(window_));
    presenter_.attach(area_);
    buffer_ = presenter_.createBuffer(W, H);
    ASSERT_NE(buffer_.pixels, nullptr);
    port_.move(40, 30, W, H, true);
    port_.show();
    gtk_widget_show_all(window_);
    pumpEvents(200);
  }
  void TearDown() override {
    if (!window_) return;
    presenter_.releaseBuffer(buffer_);
    presenter_.detach();
    port_.detach();
    gtk_widget_destroy(window_);
    pumpEvents();
  }

  void fill(const Rect& r, uint32_t colour) {
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) buffer_.pixels[y * W + x] = colour;
  }
  void present(std::vector<Rect> changed, Surface surface = Surface::Opaque) {
    Presentation frame;
    frame.source = buffer_;
    frame.size = {W, H};
    frame.surface = surface;
    frame.changed = changed;
    presenter_.present(frame);
    pumpEvents(100);
  }
  // The window's pixels as the X server holds them, 0x00RRGGBB. Read from the server
  // itself: GDK's own reading goes through cairo, which may answer from a copy of its own
  // that knows nothing of rectangles put onto the window straight.
  std::vector<uint32_t> onScreen() {
    Display* display = gdk_x11_display_get_xdisplay(gtk_widget_get_display(window_));
    XImage* shot = XGetImage(display, gdk_x11_window_get_xid(gtk_widget_get_window(window_)), 0, 0, W, H,
                             AllPlanes, ZPixmap);
    if (!shot) return {};
    std::vector<uint32_t> out(size_t(W) * H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) out[y * W + x] = uint32_t(XGetPixel(shot, x, y)) & 0xFFFFFFu;
    XDestroyImage(shot);
    return out;
  }
  uint32_t at(const std::vector<uint32_t>& shot, int x, int y) { return shot[y * W + x]; }

  static constexpr int32_t W = 64, H = 32;
  GtkWidget* window_ = nullptr;
  GtkWidget* area_ = nullptr;
  LinuxWindowPort port_;
  LinuxPresenter presenter_{port_};
  PixelView buffer_;
};

TEST_F(PresenterOnScreen, ShowsTheFramePixelForPixel) {
  for (int32_t i = 0; i < W * H; ++i) buffer_.pixels[i] = uint32_t(i * 2654435761u) & 0xFFFFFF;
  present({});  // the first frame is whole whatever it says changed
  const std::vector<uint32_t> expected(buffer_.pixels, buffer_.pixels + W * H);
  EXPECT_EQ(onScreen(), expected);
  EXPECT_TRUE(presenter_.paintsWindow());
}

TEST_F(PresenterOnScreen, SendsOnlyWhatChangedAndNothingForAnUnchangedFrame) {
  present({});
  ASSERT_EQ(at(onScreen(), 5, 5), Black);
  fill({0, 0, 10, 10}, White);
  fill({40, 20, 50, 30}, White);
  present({Rect{0, 0, 10, 10}});
  auto shot = onScreen();
  EXPECT_EQ(at(shot, 5, 5), White);
  EXPECT_EQ(at(shot, 45, 25), Black) << "a part not said to have changed is not sent";
  fill({0, 0, 10, 10}, 0x00FF00);
  present({});
  EXPECT_EQ(at(onScreen(), 5, 5), White) << "an empty change sends nothing";
  // Another surface makes the frame whole.
  present({}, Surface::PaintedAlpha);
  shot = onScreen();
  EXPECT_EQ(at(shot, 5, 5), 0x00FF00u);
  EXPECT_EQ(at(shot, 45, 25), White);
}

TEST_F(PresenterOnScreen, PlacesTheWindowAndShowsTransparencyOpaqueWithoutACompositor) {
  ASSERT_FALSE(presenter_.alphaShows()) << "a bare virtual display has no compositing manager";
  fill({0, 0, W, H}, White);
  fill({0, 0, 8, 8}, Black);
  Presentation frame;
  frame.source = buffer_;
  frame.size = {W, H};
  frame.destination = Point{100, 50};
  frame.surface = Surface::PaintedColorKey;
  presenter_.present(frame);
  pumpEvents(200);
  EXPECT_EQ(port_.windowRect(), (Rect{100, 50, 100 + W, 50 + H}));
  const auto shot = onScreen();
  EXPECT_EQ(at(shot, 2, 2), Black);
  EXPECT_EQ(at(shot, 20, 20), White);
  EXPECT_EQ(gtk_widget_get_opacity(window_), 1.0);
}

}  // namespace
}  // namespace tonalis::lnx
