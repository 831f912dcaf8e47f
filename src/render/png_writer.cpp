#include "render/png_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tonalis {

namespace {

constexpr std::array<uint32_t, 256> makeCrcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> CrcTable = makeCrcTable();

// Deflate's length and distance code tables (RFC 1951, 3.2.5).
constexpr std::array<uint16_t, 29> LengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,
                                                 15, 17, 19, 23, 27, 31, 35, 43, 51,  59,
                                                 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> LengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> DistBase = {1,    2,    3,    4,    5,    7,     9,     13,
                                               17,   25,   33,   49,   65,   97,    129,   193,
                                               257,  385,  513,  769,  1025, 1537,  2049,  3073,
                                               4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> DistExtra = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  // Deflate packs fields from the least significant bit up.
  void bits(uint32_t value, int count) {
    acc_ |= uint64_t(value) << n_;
    n_ += count;
    while (n_ >= 8) {
      out_.push_back(uint8_t(acc_));
      acc_ >>= 8;
      n_ -= 8;
    }
  }
  // Huffman codes go most significant bit first.
  void code(uint32_t code, int len) {
    uint32_t r = 0;
    for (int i = 0; i < len; ++i) r |= ((code >> i) & 1u) << (len - 1 - i);
    bits(r, len);
  }
  void flush() {
    if (n_ > 0) out_.push_back(uint8_t(acc_));
    acc_ = 0;
    n_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  uint64_t acc_ = 0;
  int n_ = 0;
};

// The fixed literal/length code.
void writeLitLen(BitWriter& w, int sym) {
  if (sym < 144) w.code(0x30 + sym, 8);
  else if (sym < 256) w.code(0x190 + (sym - 144), 9);
  else if (sym < 280) w.code(sym - 256, 7);
  else w.code(0xC0 + (sym - 280), 8);
}

void writeMatch(BitWriter& w, int length, int distance) {
  int li = 28;
  while (LengthBase[li] > length) --li;
  writeLitLen(w, 257 + li);
  w.bits(uint32_t(length - LengthBase[li]), LengthExtra[li]);
  int di = 29;
  while (DistBase[di] > distance) --di;
  w.code(uint32_t(di), 5);
  w.bits(uint32_t(distance - DistBase[di]), DistExtra[di]);
}

void deflateFixed(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
  constexpr int Window = 32768;
  constexpr int HashBits = 15;
  constexpr int MaxChain = 32;
  constexpr int MinMatch = 3;
  constexpr int MaxMatch = 258;
  std::vector<int32_t> head(size_t(1) << HashBits, -1);
  std::vector<int32_t> prev(in.size(), -1);
  auto hashAt = [&](size_t i) {
    const uint32_t v = uint32_t(in[i]) | (uint32_t(in[i + 1]) << 8) | (uint32_t(in[i + 2]) << 16);
    return (v * 2654435761u) >> (32 - HashBits);
  };
  auto insert = [&](size_t i) {
    if (i + MinMatch > in.size()) return;
    const uint32_t h = hashAt(i);
    prev[i] = head[h];
    head[h] = int32_t(i);
  };

  BitWriter w(out);
  w.bits(1, 1);  // final block
  w.bits(1, 2);  // fixed Huffman codes
  size_t i = 0;
  while (i < in.size()) {
    int bestLen = 0;
    int bestDist = 0;
    if (i + MinMatch <= in.size()) {
      const size_t maxLen = std::min<size_t>(MaxMatch, in.size() - i);
      int32_t cand = head[hashAt(i)];
      for (int chain = 0; cand >= 0 && chain < MaxChain; ++chain, cand = prev[size_t(cand)]) {
        const size_t dist = i - size_t(cand);
        if (dist > Window) break;
        size_t len = 0;
        while (len < maxLen && in[size_t(cand) + len] == in[i + len]) ++len;
        if (int(len) > bestLen) {
          bestLen = int(len);
          bestDist = int(dist);
          if (len == maxLen) break;
        }
      }
    }
    if (bestLen >= MinMatch) {
      writeMatch(w, bestLen, bestDist);
      for (int k = 0; k < bestLen; ++k) insert(i + size_t(k));
      i += size_t(bestLen);
    } else {
      writeLitLen(w, in[i]);
      insert(i);
      ++i;
    }
  }
  writeLitLen(w, 256);
  w.flush();
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 24));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

void chunk(std::vector<uint8_t>& out, const char type[4], std::span<const uint8_t> data) {
  put32(out, uint32_t(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put32(out, crc32(std::span<const uint8_t>(out).subspan(start)));
}

}  // namespace

uint32_t crc32(std::span<const uint8_t> bytes, uint32_t crc) {
  uint32_t c = crc ^ 0xFFFFFFFFu;
  for (uint8_t b : bytes) c = CrcTable[(c ^ b) & 0xFFu] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

uint32_t adler32(std::span<const uint8_t> bytes, uint32_t adler) {
  uint32_t a = adler & 0xFFFFu;
  uint32_t b = adler >> 16;
  for (uint8_t v : bytes) {
    a = (a + v) % 65521u;
    b = (b + a) % 65521u;
  }
  return (b << 16) | a;
}

std::vector<uint8_t> encodePng(PixelView view) {
  if (view.pixels == nullptr || view.width <= 0 || view.height <= 0) return {};
  const size_t w = size_t(view.width);
  const size_t h = size_t(view.height);

  // Scanlines with filter type 0, RGB bytes.
  std::vector<uint8_t> raw;
  raw.reserve(h * (1 + 3 * w));
  for (size_t y = 0; y < h; ++y) {
    raw.push_back(0);
    const uint32_t* row = view.pixels + y * w;
    for (size_t x = 0; x < w; ++x) {
      raw.push_back(uint8_t(row[x] >> 16));
      raw.push_back(uint8_t(row[x] >> 8));
      raw.push_back(uint8_t(row[x]));
    }
  }

  std::vector<uint8_t> z = {0x78, 0x01};  // deflate, 32 KiB window, no dictionary
  deflateFixed(raw, z);
  put32(z, adler32(raw));

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  put32(ihdr, uint32_t(view.width));
  put32(ihdr, uint32_t(view.height));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit, RGB, deflate, adaptive filters, no interlace
  chunk(png, "IHDR", ihdr);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  return png;
}

}  // namespace tonalis
