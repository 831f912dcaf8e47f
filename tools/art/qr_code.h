// A small QR code encoder: byte mode, error correction level L or M, versions 1..5 with a
// single error-correction block. Enough for a short web address.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace art {

enum class QrLevel { L, M };

struct QrCode {
  int size = 0;                // modules per side
  int version = 0;
  int mask = 0;
  std::vector<uint8_t> dark;   // size * size, row-major, 1 = dark
  bool at(int x, int y) const { return dark[size_t(y) * size_t(size) + size_t(x)] != 0; }
};

// The smallest version that holds `text`; false when it does not fit any supported version.
bool encodeQr(std::string_view text, QrLevel level, QrCode& out);

}  // namespace art
