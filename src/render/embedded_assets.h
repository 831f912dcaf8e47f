// The bitmap files of res/ compiled into the program (portable build), keyed by
// resource id. The Windows build also has them as resources; the asset loader
// reads these bytes on every platform so both draw the same pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tonalis {

struct EmbeddedAsset {
  int id;                       // resource id
  const unsigned char* bytes;   // the whole .bmp file
  std::size_t size;
};

std::span<const EmbeddedAsset> embeddedAssets();

}  // namespace tonalis
