// Which cells of a band column are drawn, and in which colour: one rule for the window
// and the strip renderers, which differ only in where a cell lies.
#pragma once

#include <cstdint>
#include <optional>

#include "common/types.h"

namespace tonalis {

struct CellColors {
  Rgb bar = 0xFFFFFF;    // lit rows 2..16 (and the strip's floor row)
  Rgb peak = 0xFF0000;   // lit rows 0 and 1
  Rgb unlit = 0;         // unlit cells of Block, TopBlock and Floating
  friend bool operator==(const CellColors&, const CellColors&) = default;
};

// The colour row `row` (0 at the top .. 16 at the bottom) of a band is filled with, for a
// shown height `shown` (0..17) and a peak marker `peak` rows high (0..17); nullopt when
// the style fills nothing there (Waveform and unknown styles). Rows 17 - shown .. 16 are
// lit; Bar and Dots fill unlit cells black, the others in the unlit colour; Floating
// lights only its top cell; TopBlock also lights the peak marker's row.
constexpr std::optional<Rgb> cellColor(int32_t style, int32_t row, int32_t shown, int32_t peak,
                                            const CellColors& c) {
  const bool lit = row >= CellRows - shown;
  const Rgb litColor = row <= 1 ? c.peak : c.bar;
  switch (style) {
    case Block: return lit ? litColor : c.unlit;
    case TopBlock: return (lit || row == CellRows - peak) ? litColor : c.unlit;
    case Bar:
    case Dots: return lit ? litColor : Rgb{0};
    case Floating: return row == CellRows - shown ? litColor : c.unlit;
    default: return std::nullopt;
  }
}

// The strip's floor row under the 17 cells: always the bar colour, except that a Floating
// band shows its one block there only while its height is 0; Waveform has no floor.
constexpr std::optional<Rgb> floorColor(int32_t style, int32_t shown, const CellColors& c) {
  if (style == Waveform) return std::nullopt;
  if (style == Floating && shown != 0) return c.unlit;
  return c.bar;
}

}  // namespace tonalis
