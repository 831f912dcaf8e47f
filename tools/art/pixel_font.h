// Hand-drawn pixel fonts for the small labels: a 7-row font (capitals, a few lower-case
// letters, digits) and a 3 x 5 font for the frequency scale.
#pragma once

#include <cstdint>
#include <string_view>

#include "canvas.h"

namespace art {

enum class PixelFont { Tall7, Small5 };

// Width in pixels of `text` with `spacing` blank columns between glyphs.
int textWidth(PixelFont font, std::string_view text, int spacing = 1);
// Draws `text` with its top-left at (x, y); unknown characters draw nothing but keep their width.
void drawText(Canvas& c, PixelFont font, int x, int y, std::string_view text, uint32_t colour, int spacing = 1);

}  // namespace art
