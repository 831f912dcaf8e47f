// A small PNG encoder for frames (tools and tests): 8-bit RGB, no interlace, one
// fixed-Huffman deflate block with a simple LZ77 match finder. Not used on the frame path.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/types.h"

namespace tonalis {

// The PNG file bytes of the view's pixels (0x00RRGGBB); the top byte is ignored.
// An empty view (no pixels or a non-positive size) yields an empty vector.
std::vector<uint8_t> encodePng(PixelView view);

// Checksums used by PNG and zlib, exposed for tests.
uint32_t crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);
uint32_t adler32(std::span<const uint8_t> bytes, uint32_t adler = 1);

}  // namespace tonalis
