#include "render/theme.h"

#include <gtest/gtest.h>

namespace tonalis {
namespace {

TEST(ThemeColors, EachThemeAndTheWhiteFallback) {
  struct Case {
    int theme;
    Rgb bar, peak;
  };
  const Case cases[] = {
      {White, 0xFFFFFF, 0xFF0000},  {Green, 0x66CC33, 0xFF6600},  {Sky, 0x11C2EE, 0xF709F7},
      {Purple, 0x7A22EE, 0xFF6600}, {Autumn, 0xFFFF00, 0xFF6600},
      // Values a hand-edited settings file can hold fall back to White.
      {0, 0xFFFFFF, 0xFF0000},      {6, 0xFFFFFF, 0xFF0000},      {-1, 0xFFFFFF, 0xFF0000},
      {1 << 30, 0xFFFFFF, 0xFF0000},
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
