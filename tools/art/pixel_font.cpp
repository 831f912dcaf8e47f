#include "pixel_font.h"

#include <array>
#include <string>

namespace art {

namespace {

struct Glyph {
  char ch;
  std::array<const char*, 7> rows;  // '#' set, '.' clear; all rows the same width
};

// 7 rows; lower-case letters sit on the same baseline with a 5-row x-height.
constexpr Glyph tall[] = {
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'N', {"#...#", "##..#", "##..#", "#.#.#", "#..##", "#..##", "#...#"}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'I', {"###", ".#.", ".#.", ".#.", ".#.", ".#.", "###"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."}},
    {'m', {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"}},
    {'s', {"....", "....", ".###", "#...", ".##.", "...#", "###."}},
    {'v', {".....", ".....", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {".#.", "##.", ".#.", ".#.", ".#.", ".#.", "###"}},
    {'.', {".", ".", ".", ".", ".", ".", "#"}},
    {' ', {"..", "..", "..", "..", "..", "..", ".."}},
};

constexpr Glyph small[] = {
    {'0', {"###", "#.#", "#.#", "#.#", "###"}}, {'1', {".#.", "##.", ".#.", ".#.", "###"}},
    {'2', {"###", "..#", "###", "#..", "###"}}, {'3', {"###", "..#", ".##", "..#", "###"}},
    {'4', {"#.#", "#.#", "###", "..#", "..#"}}, {'5', {"###", "#..", "###", "..#", "###"}},
    {'6', {"###", "#..", "###", "#.#", "###"}}, {'7', {"###", "..#", "..#", ".#.", ".#."}},
    {'8', {"###", "#.#", "###", "#.#", "###"}}, {'9', {"###", "#.#", "###", "..#", "###"}},
    {'k', {"#..", "#.#", "##.", "#.#", "#.#"}},
};

const Glyph* find(PixelFont font, char ch) {
  if (font == PixelFont::Tall7) {
    for (const Glyph& g : tall)
      if (g.ch == ch) return &g;
  } else {
    for (const Glyph& g : small)
      if (g.ch == ch) return &g;
  }
  return nullptr;
}

int glyphWidth(PixelFont font, char ch) {
  const Glyph* g = find(font, ch);
  return g ? int(std::string(g->rows[0]).size()) : 3;
}

int glyphRows(PixelFont font) { return font == PixelFont::Tall7 ? 7 : 5; }

}  // namespace

int textWidth(PixelFont font, std::string_view text, int spacing) {
  int w = 0;
  for (size_t i = 0; i < text.size(); ++i) w += glyphWidth(font, text[i]) + (i + 1 < text.size() ? spacing : 0);
  return w;
}

void drawText(Canvas& c, PixelFont font, int x, int y, std::string_view text, uint32_t colour, int spacing) {
  for (char ch : text) {
    if (const Glyph* g = find(font, ch)) {
      for (int row = 0; row < glyphRows(font); ++row) {
        std::string_view line = g->rows[size_t(row)];
        for (size_t col = 0; col < line.size(); ++col)
          if (line[col] == '#') c.set(x + int(col), y + row, colour);
      }
    }
    x += glyphWidth(font, ch) + spacing;
  }
}

}  // namespace art
