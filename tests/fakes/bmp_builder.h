// Builds .bmp files and packed DIBs byte by byte, for tests of the bitmap decoder and for
// fakes that serve bitmaps.
#pragma once

#include <cstdint>
#include <vector>

namespace tonalis::fakes {

inline void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void put32(std::vector<uint8_t>& b, uint32_t v) {
  put16(b, v);
  put16(b, v >> 16);
}

// Builds a bitmap from rows given in stored order (each padded here to 4 bytes).
struct BmpBuilder {
  int32_t width = 2, height = 2;
  uint32_t bpp = 8, headerSize = 40, compression = 0, planes = 1;
  int32_t colorsUsed = -1;  // -1: the palette's size
  std::vector<uint32_t> palette;
  std::vector<std::vector<uint8_t>> rows;
  bool fileHeader = true;

  std::vector<uint8_t> build() const {
    std::vector<uint8_t> dib;
    if (headerSize == 12) {
      put32(dib, 12);
      put16(dib, uint32_t(width));
      put16(dib, uint32_t(height));
      put16(dib, planes);
      put16(dib, bpp);
    } else {
      put32(dib, headerSize);
      put32(dib, uint32_t(width));
      put32(dib, uint32_t(height));
      put16(dib, planes);
      put16(dib, bpp);
      put32(dib, compression);
      put32(dib, 0);
      put32(dib, 0);
      put32(dib, 0);
      put32(dib, colorsUsed < 0 ? uint32_t(palette.size()) : uint32_t(colorsUsed));
      put32(dib, 0);
      dib.resize(headerSize, 0);
    }
    for (uint32_t c : palette) {
      dib.push_back(uint8_t(c));
      dib.push_back(uint8_t(c >> 8));
      dib.push_back(uint8_t(c >> 16));
      if (headerSize != 12) dib.push_back(0);
    }
    const size_t pixelOffset = dib.size();
    for (auto row : rows) {
      row.resize((row.size() + 3) / 4 * 4, 0);
      dib.insert(dib.end(), row.begin(), row.end());
    }
    if (!fileHeader) return dib;
    std::vector<uint8_t> file{'B', 'M'};
    put32(file, uint32_t(14 + dib.size()));
    put32(file, 0);
    put32(file, uint32_t(14 + pixelOffset));
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
  }
};


}  // namespace tonalis::fakes
