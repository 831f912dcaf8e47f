// The bitmap source of the portable build: the res/ files compiled into the program.
#pragma once

#include <span>

#include "render/assets.h"
#include "render/embedded_assets.h"

namespace tonalis {

class EmbeddedBitmapSource final : public BitmapSource {
 public:
  // Serves embeddedAssets().
  EmbeddedBitmapSource();
  // Serves the given table (tests); the table must outlive the source.
  explicit EmbeddedBitmapSource(std::span<const EmbeddedAsset> assets) : assets_(assets) {}

  // The whole .bmp file of that id; empty when the id is not embedded.
  std::span<const uint8_t> bitmapBytes(int id) override;

 private:
  std::span<const EmbeddedAsset> assets_;
};

}  // namespace tonalis
