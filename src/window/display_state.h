// The display state: modes, style, theme, transparency, stacking and the place to return to.
// The application (Tonalis) owns one; the handlers in window_commands.h read and write it.
#pragma once

#include <cstdint>

#include "common/settings.h"
#include "common/types.h"

namespace tonalis {

inline constexpr Rgb UnlitCellGrey = 0x1E1E1E;   // cells above the level, drawn
inline constexpr Rgb UnlitCellBlack = 0x000000;  // cells above the level, keyed out

// The settings as they are live (clickThrough is the one in force now), and the rest of
// the display's state.
struct DisplayState : Settings {
  DisplayMode displayMode = DisplayMode::Window;   // never persisted; Window at start
  int32_t savedClickThrough = 0;  // clickThrough when Window mode was last left
  Rgb unlitCellColor = UnlitCellGrey;
  uint8_t constantAlpha = 255;    // source constant alpha of the presentation

  friend bool operator==(const DisplayState&, const DisplayState&) = default;
};

}  // namespace tonalis
