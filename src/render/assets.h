// The program's bitmap assets: decoded once at start-up from the bitmap resources,
// held as 32-bit pixels ready for 1:1 copies onto a frame.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/bitmap_source.h"

namespace tonalis {

// Resource ids of the bitmaps.
enum AssetId : int {
  SplashBitmap = 169,
  TitleLabelBitmap = 141,
  TopBlockIconLitBitmap = 178, TopBlockIconBitmap = 175,
  BlockIconLitBitmap = 168, BlockIconBitmap = 177,
  BarIconLitBitmap = 137, BarIconBitmap = 176,
  FloatingIconLitBitmap = 139, FloatingIconBitmap = 171,
  DotsIconLitBitmap = 182, DotsIconBitmap = 183,
  WaveformIconLitBitmap = 184, WaveformIconBitmap = 185,
  BoardOnBitmap = 186, BoardOffBitmap = 187,
  CaptionLabelBitmap = 140,
  TopMostOnBitmap = 135, TopMostOffBitmap = 149,
  ClickThroughOffBitmap = 151, ClickThroughOnBitmap = 152,
  GridIconBitmap = 142,
  ActivityIdleBitmap = 150,
  VersionLabelBitmap = 179,
  ScaleBitmap = 180,
  ReadoutFrameBitmap = 155,
  AboutPictureBitmap = 188,
};
// Six activity frames, brightest first.
inline constexpr std::array<int, 6> ActivityFrameIds = {143, 144, 145, 146, 147, 148};
// Element d shows digit d; the ids are not in digit order.
inline constexpr std::array<int, 10> DigitIds = {156, 158, 159, 160, 161, 162, 165, 163, 164, 157};

// A decoded bitmap: 0x00RRGGBB words, top-down, width words a row.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitsPerPixel = 0;  // depth as stored (4, 8, 24 or 32)
  std::vector<uint32_t> pixels;
};

// One bitmap the program loads: its resource id and the size and depth it is drawn at.
struct AssetSpec {
  int id;
  int32_t width;
  int32_t height;
  int32_t bitsPerPixel;  // palette depth as stored, 4 or 8
};

// Every asset, in the order the central record declares them: the 32 single bitmaps,
// the ten digits (element d is digit d), the About picture.
std::span<const AssetSpec> assetSpecs();

// Decodes a packed DIB or .bmp file (1/4/8-bit palette, 24 or 32-bit, bottom-up or top-down,
// uncompressed). False for anything malformed or truncated; never reads past `bytes`.
bool decodeBitmap(std::span<const uint8_t> bytes, Image& out);

class AssetStore {
 public:
  AssetStore();
  // Loads every asset of the program. An asset that is missing or cannot be decoded is
  // replaced by a black image of its specified size (bitsPerPixel 0 marks the stand-in),
  // so the renderers always have one. Returns the number of assets that failed.
  int loadAll(BitmapSource& source);
  // The asset with that resource id; a black 1 x 1 image for an unknown id.
  const Image& get(int id) const;

 private:
  std::vector<std::pair<int, Image>> images_;
  Image empty_;
};

}  // namespace tonalis
