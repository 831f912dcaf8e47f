// Text through FreeType into a coverage mask: the splash lettering and the Chinese
// paragraph of the About picture.
#pragma once

#include <string>
#include <string_view>

#include "canvas.h"

namespace art {

class FontRaster {
 public:
  FontRaster();
  ~FontRaster();
  FontRaster(const FontRaster&) = delete;
  FontRaster& operator=(const FontRaster&) = delete;

  // Opens face `index` of a font file; false when it cannot be read.
  bool open(const std::string& path, long index);
  // Pixel size; `mono` asks for unsmoothed glyphs (embedded bitmaps are used when the face has them).
  void setSize(int pixels, bool mono);
  // Horizontal advance of one code point, in pixels.
  int advance(char32_t ch);
  int width(std::u32string_view text, int tracking = 0);
  // Draws with the pen starting at (x, baseline); returns the pen position after the text.
  int draw(Mask& m, int x, int baseline, std::u32string_view text, int tracking = 0);
  int ascender() const;

 private:
  struct Impl;
  Impl* impl_;
};

std::u32string fromUtf8(std::string_view s);

}  // namespace art
