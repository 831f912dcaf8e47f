#include "font_raster.h"

#include <algorithm>

#include <ft2build.h>
#include FT_FREETYPE_H

namespace art {

struct FontRaster::Impl {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  bool mono = false;
};

FontRaster::FontRaster() : impl_(new Impl) { FT_Init_FreeType(&impl_->library); }

FontRaster::~FontRaster() {
  if (impl_->face) FT_Done_Face(impl_->face);
  if (impl_->library) FT_Done_FreeType(impl_->library);
  delete impl_;
}

bool FontRaster::open(const std::string& path, long index) {
  if (!impl_->library) return false;
  if (impl_->face) FT_Done_Face(impl_->face);
  impl_->face = nullptr;
  return FT_New_Face(impl_->library, path.c_str(), index, &impl_->face) == 0;
}

void FontRaster::setSize(int pixels, bool mono) {
  impl_->mono = mono;
  FT_Set_Pixel_Sizes(impl_->face, 0, FT_UInt(pixels));
}

int FontRaster::ascender() const { return int(impl_->face->size->metrics.ascender >> 6); }

int FontRaster::advance(char32_t ch) {
  FT_Int32 flags = impl_->mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL;
  if (FT_Load_Char(impl_->face, ch, flags) != 0) return 0;
  return int((impl_->face->glyph->advance.x + 32) >> 6);
}

int FontRaster::width(std::u32string_view text, int tracking) {
  int w = 0;
  for (size_t i = 0; i < text.size(); ++i) w += advance(text[i]) + (i + 1 < text.size() ? tracking : 0);
  return w;
}

int FontRaster::draw(Mask& m, int x, int baseline, std::u32string_view text, int tracking) {
  FT_Int32 flags = FT_LOAD_RENDER | (impl_->mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
  for (char32_t ch : text) {
    if (FT_Load_Char(impl_->face, ch, flags) != 0) continue;
    FT_GlyphSlot slot = impl_->face->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    for (unsigned row = 0; row < bm.rows; ++row)
      for (unsigned col = 0; col < bm.width; ++col) {
        const unsigned char* line = bm.buffer + std::ptrdiff_t(row) * bm.pitch;
        float v = 0;
        if (bm.pixel_mode == FT_PIXEL_MODE_MONO) v = ((line[col / 8] >> (7 - col % 8)) & 1) ? 1.0f : 0.0f;
        else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) v = float(line[col]) / float(bm.num_grays - 1);
        int px = x + slot->bitmap_left + int(col), py = baseline - slot->bitmap_top + int(row);
        if (px >= 0 && py >= 0 && px < m.width && py < m.height) m.ref(px, py) = std::max(m.ref(px, py), v);
      }
    x += int((slot->advance.x + 32) >> 6) + tracking;
  }
  return x;
}

std::u32string fromUtf8(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k <= extra && i + size_t(k) < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + size_t(k)]) & 0x3F);
    out.push_back(cp);
    i += size_t(extra) + 1;
  }
  return out;
}

}  // namespace art
