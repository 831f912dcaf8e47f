#include "render/theme.h"

#include <gtest/gtest.h>

namespace tonalis {
namespace {

TEST(ThemeColors, EachThemeAndTheWhiteFallback) {
  struct Case {
    int theme;
    ColorRef bar, peak;
  };
  const Case cases[] = {
      {White, 0xFFFFFF, 0x0000FF},  {Green, 0x33CC66, 0x0066FF},  {Sky, 0xEEC211, 0xF709F7},
      {Purple, 0xEE227A, 0x0066FF}, {Autumn, 0x00FFFF, 0x0066FF},
      // Values a hand-edited settings file can hold fall back to White.
      {0, 0xFFFFFF, 0x0000FF},      {6, 0xFFFFFF, 0x0000FF},      {-1, 0xFFFFFF, 0x0000FF},
      {1 << 30, 0xFFFFFF, 0x0000FF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.theme);
    const ThemeColors colors = themeColors(c.theme);
    EXPECT_EQ(colors.barColor, c.bar);
    EXPECT_EQ(colors.peakColor, c.peak);
  }
}

TEST(ThemeColors, ColourRefsAreBlueGreenRed) {
  // Green's bar colour is RGB 102, 204, 51 and the common peak colour orange 255, 102, 0.
  EXPECT_EQ(themeColors(Green).barColor, rgb(102, 204, 51));
  EXPECT_EQ(themeColors(Green).peakColor, rgb(255, 102, 0));
  EXPECT_EQ(themeColors(White).peakColor, rgb(255, 0, 0));
}

}  // namespace
}  // namespace tonalis
