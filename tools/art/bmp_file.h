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
// One square image of an icon: `rgba` is top-down, 0xAARRGGBB, size x size (1..256).
struct IconImage {
  int size;
  std::vector<uint32_t> rgba;
};
// A .ico file of 32-bit images (BGRA with straight alpha plus the AND mask), in the given
// order: the system picks the one nearest the size it draws at (16 px at 100 %, 20 at
// 125 %, 24 at 150 %, 32 at 200 % for the tray).
std::vector<uint8_t> encodeIco(const std::vector<IconImage>& images);

// Writes the bytes; false on any I/O error.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace art
