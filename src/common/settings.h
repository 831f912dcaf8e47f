// The eight settings the user makes and tonalis.ini keeps: one record, which the display
// state, the settings file and the tray menu all build on.
#pragma once

#include <cstdint>

#include "common/types.h"

namespace tonalis {

struct Settings {
  int32_t savedX = 50;             // screen pixels: the window's top-left corner in Window mode
  int32_t savedY = 50;
  int32_t topMost = 0;             // 0, 1: kept above other windows in Window mode
  int32_t spectrumStyle = Block;   // SpectrumStyle 1..6 (the drawing style, not the display mode)
  int32_t clickThrough = 0;        // 0, 1: mouse input passes through the window
  int32_t transparencyMode = Opaque;    // TransparencyMode 0..6
  int32_t colorTheme = White;           // ColorTheme 1..5
  int32_t fullScreenPosition = Center;  // FullScreenPosition 0..3

  friend bool operator==(const Settings&, const Settings&) = default;
};

}  // namespace tonalis
