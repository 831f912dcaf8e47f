#include "render/embedded_source.h"

namespace tonalis {

EmbeddedBitmapSource::EmbeddedBitmapSource() : assets_(embeddedAssets()) {}

std::span<const uint8_t> EmbeddedBitmapSource::bitmapBytes(int id) {
  for (const EmbeddedAsset& asset : assets_)
    if (asset.id == id && asset.bytes != nullptr) return {asset.bytes, asset.size};
  return {};
}

}  // namespace tonalis
