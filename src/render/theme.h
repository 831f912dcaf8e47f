// Colour themes: the two drawing colours of the spectrum for each ColorTheme value.
#pragma once

#include "common/types.h"

namespace tonalis {

struct ThemeColors {
  Rgb barColor;   // lit cells of rows 2..16, the floor row and the Waveform line
  Rgb peakColor;  // lit cells of rows 0 and 1 and the peak markers there
};

// White, Green, Sky, Purple or Autumn (1..5); any other value, such as one from a
// hand-edited settings file, gets White's colours.
ThemeColors themeColors(int colorTheme);

}  // namespace tonalis
