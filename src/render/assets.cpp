#include "render/assets.h"

#include <algorithm>
#include <limits>

namespace tonalis {

namespace {

constexpr AssetSpec specs[] = {
    {SplashBitmap, 443, 145, 8},
    {TitleLabelBitmap, 97, 13, 4},
    {TopBlockIconLitBitmap, 28, 13, 8},
    {TopBlockIconBitmap, 28, 13, 4},
    {BlockIconLitBitmap, 28, 13, 8},
    {BlockIconBitmap, 28, 13, 4},
    {BarIconLitBitmap, 28, 13, 8},
    {BarIconBitmap, 28, 13, 4},
    {FloatingIconLitBitmap, 28, 13, 8},
    {FloatingIconBitmap, 28, 13, 4},
    {DotsIconLitBitmap, 28, 13, 8},
    {DotsIconBitmap, 28, 13, 4},
    {WaveformIconLitBitmap, 28, 13, 8},
    {WaveformIconBitmap, 28, 13, 4},
    {BoardOnBitmap, 26, 13, 8},
    {BoardOffBitmap, 26, 13, 4},
    {CaptionLabelBitmap, 27, 13, 4},
    {TopMostOnBitmap, 26, 13, 8},
    {TopMostOffBitmap, 26, 13, 4},
    {ClickThroughOffBitmap, 26, 13, 4},
    {ClickThroughOnBitmap, 26, 13, 8},
    {GridIconBitmap, 28, 13, 4},
    {ActivityFrameIds[0], 12, 13, 8},
    {ActivityFrameIds[1], 12, 13, 8},
    {ActivityFrameIds[2], 12, 13, 8},
    {ActivityFrameIds[3], 12, 13, 8},
    {ActivityFrameIds[4], 12, 13, 8},
    {ActivityFrameIds[5], 12, 13, 8},
    {ActivityIdleBitmap, 12, 13, 8},
    {VersionLabelBitmap, 27, 13, 8},
    {ScaleBitmap, 429, 7, 4},
    {ReadoutFrameBitmap, 23, 13, 4},
    {DigitIds[0], 5, 7, 4},
    {DigitIds[1], 5, 7, 4},
    {DigitIds[2], 5, 7, 4},
    {DigitIds[3], 5, 7, 4},
    {DigitIds[4], 5, 7, 4},
    {DigitIds[5], 5, 7, 4},
    {DigitIds[6], 5, 7, 4},
    {DigitIds[7], 5, 7, 4},
    {DigitIds[8], 5, 7, 4},
    {DigitIds[9], 5, 7, 4},
    {AboutPictureBitmap, 200, 100, 8},
};

// Bitmaps larger than this are refused before anything is allocated: the program's own
// are far smaller, and a corrupt header must not ask for gigabytes.
constexpr int64_t MaxDimension = 16384;
constexpr int64_t MaxPixels = int64_t(1) << 24;

constexpr uint32_t BiRgb = 0;
constexpr uint32_t BiBitfields = 3;

// Little-endian reads; the caller has checked that the bytes exist.
uint32_t read16(std::span<const uint8_t> b, size_t at) { return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8); }
uint32_t read32(std::span<const uint8_t> b, size_t at) { return read16(b, at) | (read16(b, at + 2) << 16); }

// [at, at + length) lies inside a buffer of `size` bytes, without overflow.
bool fits(uint64_t at, uint64_t length, uint64_t size) { return at <= size && length <= size - at; }

}  // namespace

std::span<const AssetSpec> assetSpecs() { return specs; }

bool decodeBitmap(std::span<const uint8_t> bytes, Image& out) {
  const uint64_t size = bytes.size();
  uint64_t dibStart = 0;
  uint64_t fileOffset = 0;
  const bool isFile = size >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
  if (isFile) {
    if (size < 14) return false;
    fileOffset = read32(bytes, 10);
    dibStart = 14;
  }
  if (!fits(dibStart, 4, size)) return false;
  const uint32_t headerSize = read32(bytes, size_t(dibStart));
  if (!fits(dibStart, headerSize, size)) return false;
  const size_t h = size_t(dibStart);

  int64_t width = 0, height = 0;
  uint32_t planes = 0, bpp = 0, compression = BiRgb, colorsUsed = 0;
  uint64_t entrySize = 4;
  if (headerSize == 12) {  // BITMAPCOREHEADER: 16-bit sizes, 3-byte palette entries
    width = read16(bytes, h + 4);
    height = read16(bytes, h + 6);
    planes = read16(bytes, h + 8);
    bpp = read16(bytes, h + 10);
    entrySize = 3;
  } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 || headerSize == 124) {
    width = int32_t(read32(bytes, h + 4));
    height = int32_t(read32(bytes, h + 8));
    planes = read16(bytes, h + 12);
    bpp = read16(bytes, h + 14);
    compression = read32(bytes, h + 16);
    colorsUsed = read32(bytes, h + 32);
  } else {
    return false;
  }

  if (planes != 1) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  const bool topDown = height < 0;
  const int64_t rows = topDown ? -height : height;
  if (width <= 0 || rows <= 0 || width > MaxDimension || rows > MaxDimension || width * rows > MaxPixels) return false;

  uint64_t tableStart = dibStart + headerSize;
  if (compression == BiBitfields) {
    // Only the plain 8-8-8 layout of 32-bit pixels, which some tools write instead of BI_RGB.
    if (bpp != 32) return false;
    uint64_t masksAt = headerSize == 40 ? tableStart : dibStart + 40;
    if (!fits(masksAt, 12, size)) return false;
    if (read32(bytes, size_t(masksAt)) != 0x00FF0000 || read32(bytes, size_t(masksAt + 4)) != 0x0000FF00 ||
        read32(bytes, size_t(masksAt + 8)) != 0x000000FF)
      return false;
    if (headerSize == 40) tableStart += 12;
  } else if (compression != BiRgb) {
    return false;
  }

  uint64_t paletteCount = 0;
  if (bpp <= 8) {
    const uint64_t maxColors = uint64_t(1) << bpp;
    if (colorsUsed > maxColors) return false;
    paletteCount = colorsUsed ? colorsUsed : maxColors;
  } else if (colorsUsed > 256) {
    return false;  // an optional table before true-colour pixels; anything larger is corrupt
  } else {
    paletteCount = colorsUsed;
  }
  const uint64_t tableBytes = paletteCount * entrySize;
  if (!fits(tableStart, tableBytes, size)) return false;
  const uint64_t tableEnd = tableStart + tableBytes;

  uint64_t pixelStart = tableEnd;
  if (isFile) {
    if (fileOffset < tableEnd) return false;
    pixelStart = fileOffset;
  }
  const uint64_t stride = ((uint64_t(width) * bpp + 31) / 32) * 4;
  if (!fits(pixelStart, stride * uint64_t(rows), size)) return false;

  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    palette.resize(size_t(paletteCount));
    for (uint64_t i = 0; i < paletteCount; ++i) {
      size_t at = size_t(tableStart + i * entrySize);
      palette[size_t(i)] = (uint32_t(bytes[at + 2]) << 16) | (uint32_t(bytes[at + 1]) << 8) | bytes[at];
    }
  }

  Image image;
  image.width = int32_t(width);
  image.height = int32_t(rows);
  image.bitsPerPixel = int32_t(bpp);
  image.pixels.resize(size_t(width * rows));
  for (int64_t y = 0; y < rows; ++y) {
    const int64_t sourceRow = topDown ? y : rows - 1 - y;
    const size_t row = size_t(pixelStart + uint64_t(sourceRow) * stride);
    uint32_t* dest = image.pixels.data() + size_t(y * width);
    for (int64_t x = 0; x < width; ++x) {
      uint32_t value = 0;
      if (bpp <= 8) {
        const uint64_t bit = uint64_t(x) * bpp;
        const uint32_t byte = bytes[row + size_t(bit / 8)];
        const uint32_t index = (byte >> (8 - bpp - uint32_t(bit % 8))) & ((1u << bpp) - 1);
        if (index >= palette.size()) return false;  // points past the colour table
        value = palette[index];
      } else {
        const size_t at = row + size_t(x) * (bpp / 8);
        value = (uint32_t(bytes[at + 2]) << 16) | (uint32_t(bytes[at + 1]) << 8) | bytes[at];
      }
      dest[x] = value;
    }
  }
  out = std::move(image);
  return true;
}

AssetStore::AssetStore() {
  empty_.width = 1;
  empty_.height = 1;
  empty_.pixels.assign(1, 0);
}

int AssetStore::loadAll(BitmapSource& source) {
  images_.clear();
  images_.reserve(std::size(specs));
  int failed = 0;
  for (const AssetSpec& wanted : specs) {
    Image image;
    const std::span<const uint8_t> bytes = source.bitmapBytes(wanted.id);
    if (bytes.empty() || !decodeBitmap(bytes, image)) {
      ++failed;
      image = Image{};
      image.width = wanted.width;
      image.height = wanted.height;
      image.pixels.assign(size_t(wanted.width) * size_t(wanted.height), 0);
    }
    images_.emplace_back(wanted.id, std::move(image));
  }
  // Sorted by id so that a lookup on the frame path is a binary search.
  std::sort(images_.begin(), images_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return failed;
}

const Image& AssetStore::get(int id) const {
  auto it = std::lower_bound(images_.begin(), images_.end(), id, [](const auto& e, int key) { return e.first < key; });
  return (it != images_.end() && it->first == id) ? it->second : empty_;
}

}  // namespace tonalis
