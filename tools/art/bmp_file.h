// Palette conversion and the BMP / ICO file formats written by the art generator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "canvas.h"

namespace art {

struct IndexedImage {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 8;            // 4 or 8
  std::vector<uint32_t> palette;   // 0x00RRGGBB, black first when present
  std::vector<uint8_t> indices;    // top-down
};

// Exact conversion; fails (returns false) when the canvas has more colours than the depth holds.
bool toIndexed(const Canvas& c, int bitsPerPixel, IndexedImage& out);
// Median-cut reduction to at most 256 colours; pure black stays exactly black.
IndexedImage quantize(const Canvas& c);

// A complete .bmp file: BITMAPFILEHEADER, BITMAPINFOHEADER, palette, bottom-up rows.
std::vector<uint8_t> encodeBmp(const IndexedImage& img);
// A .ico file with one 32-bit image (BGRA with straight alpha plus the AND mask).
// `rgba` is top-down, 0xAARRGGBB.
std::vector<uint8_t> encodeIco(int size, const std::vector<uint32_t>& rgba);

// Writes the bytes; false on any I/O error.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace art
