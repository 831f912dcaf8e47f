// PNG files for the tools and the tests (not part of the program): frames out as 8-bit RGB,
// images in from any non-interlaced 8-bit grey, RGB or RGBA file. zlib does the compression,
// a row at a time, so memory grows with the compressed size, not with the frame.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "common/types.h"

namespace tonalis {

// The PNG bytes of the view's pixels (0x00RRGGBB; the top byte is ignored), or with
// `withAlpha` an RGBA picture whose alpha is the top byte (0xAARRGGBB, straight alpha, as
// icons are). An empty view (no pixels or a non-positive size) yields an empty vector.
std::vector<uint8_t> encodePng(PixelView view, bool withAlpha = false);

// Writes encodePng(view, withAlpha) to `path`; false with a message on failure.
bool writePngFile(const std::filesystem::path& path, PixelView view, std::string& error, bool withAlpha = false);

// A decoded picture: width * height words 0x00RRGGBB, top row first.
struct PngImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  uint32_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// Decodes 8-bit grey, grey + alpha, RGB or RGBA without interlace (alpha is dropped). A
// damaged or unsupported file gives false with a message and leaves `out` empty.
bool decodePng(std::span<const uint8_t> bytes, PngImage& out, std::string& error);
bool readPngFile(const std::filesystem::path& path, PngImage& out, std::string& error);

}  // namespace tonalis
