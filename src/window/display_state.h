// The part of the central record the display modes and window commands work on.
// CTonalisDlg owns one; the handlers in window_commands.h read and write it.
#pragma once

#include <cstdint>

#include "common/types.h"

namespace tonalis {

inline constexpr ColorRef UnlitCellGrey = 0x1E1E1E;   // cells above the level, drawn
inline constexpr ColorRef UnlitCellBlack = 0x000000;  // cells above the level, keyed out

struct DisplayState {
  DisplayMode displayMode = DisplayMode::Window;   // never persisted; Window at start
  int32_t topMost = 0;            // 0 or 1: kept above other windows in Window mode
  int32_t clickThrough = 0;       // 0 or 1: mouse input passes through the window
  int32_t savedClickThrough = 0;  // clickThrough when Window mode was last left
  int32_t savedX = 50;            // screen pixels: top-left corner to return to
  int32_t savedY = 50;
  int32_t transparencyMode = Opaque;    // TransparencyMode 0..6; kept through other modes
  ColorRef unlitCellColor = UnlitCellGrey;
  uint8_t constantAlpha = 255;          // source constant alpha of the presentation
  int32_t spectrumStyle = Block;        // SpectrumStyle 1..6
  int32_t colorTheme = White;           // ColorTheme 1..5
  int32_t fullScreenPosition = Center;  // FullScreenPosition 0..3

  friend bool operator==(const DisplayState&, const DisplayState&) = default;
};

}  // namespace tonalis
