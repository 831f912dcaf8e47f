// The bitmap port: where the bitmap bytes come from.
#pragma once

#include <cstdint>
#include <span>

namespace tonalis {

// Where the bitmap bytes come from: the Windows resources, or the copies embedded in the
// portable build. Returns a packed DIB (BITMAPINFOHEADER first) or a whole .bmp file;
// empty when there is no such bitmap.
class BitmapSource {
 public:
  virtual ~BitmapSource() = default;
  virtual std::span<const uint8_t> bitmapBytes(int id) = 0;
};

}  // namespace tonalis
