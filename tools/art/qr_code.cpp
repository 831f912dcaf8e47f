#include "qr_code.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace art {

namespace {

struct VersionInfo {
  int version;
  QrLevel level;
  int totalCodewords;
  int ecCodewords;
  int alignment;  // second alignment coordinate, 0 for none
};

// Single-block configurations only.
constexpr VersionInfo versions[] = {
    {1, QrLevel::L, 26, 7, 0},   {2, QrLevel::L, 44, 10, 18}, {3, QrLevel::L, 70, 15, 22},
    {4, QrLevel::L, 100, 20, 26}, {5, QrLevel::L, 134, 26, 30}, {1, QrLevel::M, 26, 10, 0},
    {2, QrLevel::M, 44, 16, 18}, {3, QrLevel::M, 70, 26, 22},
};

uint8_t gfMul(uint8_t x, uint8_t y) {
  int z = 0;
  for (int i = 7; i >= 0; --i) {
    z = (z << 1) ^ ((z >> 7) * 0x11D);
    z ^= ((y >> i) & 1) * x;
  }
  return uint8_t(z);
}

std::vector<uint8_t> reedSolomon(const std::vector<uint8_t>& data, int degree) {
  std::vector<uint8_t> divisor(size_t(degree), 0);
  divisor.back() = 1;
  uint8_t root = 1;
  for (int i = 0; i < degree; ++i) {
    for (size_t j = 0; j < divisor.size(); ++j) {
      divisor[j] = gfMul(divisor[j], root);
      if (j + 1 < divisor.size()) divisor[j] ^= divisor[j + 1];
    }
    root = gfMul(root, 0x02);
  }
  std::vector<uint8_t> result(size_t(degree), 0);
  for (uint8_t b : data) {
    uint8_t factor = b ^ result[0];
    result.erase(result.begin());
    result.push_back(0);
    for (size_t i = 0; i < result.size(); ++i) result[i] ^= gfMul(divisor[i], factor);
  }
  return result;
}

bool maskBit(int mask, int x, int y) {
  switch (mask) {
    case 0: return (x + y) % 2 == 0;
    case 1: return y % 2 == 0;
    case 2: return x % 3 == 0;
    case 3: return (x + y) % 3 == 0;
    case 4: return (x / 3 + y / 2) % 2 == 0;
    case 5: return x * y % 2 + x * y % 3 == 0;
    case 6: return (x * y % 2 + x * y % 3) % 2 == 0;
    default: return ((x + y) % 2 + x * y % 3) % 2 == 0;
  }
}

struct Matrix {
  int size;
  std::vector<uint8_t> dark, function;
  explicit Matrix(int n) : size(n), dark(size_t(n * n)), function(size_t(n * n)) {}
  void setFunction(int x, int y, bool d) {
    dark[size_t(y * size + x)] = d;
    function[size_t(y * size + x)] = 1;
  }
  bool isDark(int x, int y) const { return dark[size_t(y * size + x)] != 0; }
};

void drawFinder(Matrix& m, int cx, int cy) {
  for (int dy = -4; dy <= 4; ++dy)
    for (int dx = -4; dx <= 4; ++dx) {
      int x = cx + dx, y = cy + dy;
      if (x < 0 || y < 0 || x >= m.size || y >= m.size) continue;
      int d = std::max(std::abs(dx), std::abs(dy));
      m.setFunction(x, y, d != 2 && d != 4);
    }
}

void drawFormat(Matrix& m, QrLevel level, int mask) {
  int data = ((level == QrLevel::L ? 1 : 0) << 3) | mask;
  int rem = data;
  for (int i = 0; i < 10; ++i) rem = (rem << 1) ^ ((rem >> 9) * 0x537);
  int bits = ((data << 10) | rem) ^ 0x5412;
  auto bit = [bits](int i) { return ((bits >> i) & 1) != 0; };
  for (int i = 0; i <= 5; ++i) m.setFunction(8, i, bit(i));
  m.setFunction(8, 7, bit(6));
  m.setFunction(8, 8, bit(7));
  m.setFunction(7, 8, bit(8));
  for (int i = 9; i < 15; ++i) m.setFunction(14 - i, 8, bit(i));
  for (int i = 0; i < 8; ++i) m.setFunction(m.size - 1 - i, 8, bit(i));
  for (int i = 8; i < 15; ++i) m.setFunction(8, m.size - 15 + i, bit(i));
  m.setFunction(8, m.size - 8, true);
}

// Penalty rules for runs, 2 x 2 blocks and dark balance; picks a mask that avoids the
// patterns that confuse readers most.
long penalty(const Matrix& m) {
  long p = 0;
  for (int pass = 0; pass < 2; ++pass)
    for (int a = 0; a < m.size; ++a) {
      int run = 1;
      for (int b = 1; b < m.size; ++b) {
        bool prev = pass ? m.isDark(a, b - 1) : m.isDark(b - 1, a);
        bool cur = pass ? m.isDark(a, b) : m.isDark(b, a);
        if (cur == prev) {
          ++run;
          if (run == 5) p += 3;
          else if (run > 5) p += 1;
        } else {
          run = 1;
        }
      }
    }
  long darkCount = 0;
  for (int y = 0; y < m.size; ++y)
    for (int x = 0; x < m.size; ++x) {
      darkCount += m.isDark(x, y);
      if (x + 1 < m.size && y + 1 < m.size) {
        bool d = m.isDark(x, y);
        if (d == m.isDark(x + 1, y) && d == m.isDark(x, y + 1) && d == m.isDark(x + 1, y + 1)) p += 3;
      }
    }
  long total = long(m.size) * m.size;
  long k = (std::abs(darkCount * 20 - total * 10) + total - 1) / total - 1;
  return p + std::max(0L, k) * 10;
}

}  // namespace

bool encodeQr(std::string_view text, QrLevel level, QrCode& out) {
  const VersionInfo* info = nullptr;
  for (const VersionInfo& v : versions) {
    int dataBits = (v.totalCodewords - v.ecCodewords) * 8;
    if (v.level == level && 4 + 8 + int(text.size()) * 8 <= dataBits) {
      info = &v;
      break;
    }
  }
  if (!info) return false;

  // Data codewords: byte mode, 8-bit count, the bytes, terminator, pad bytes.
  const int dataCodewords = info->totalCodewords - info->ecCodewords;
  std::vector<bool> bits;
  auto append = [&bits](uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bits.push_back(((v >> i) & 1) != 0);
  };
  append(0x4, 4);
  append(uint32_t(text.size()), 8);
  for (char ch : text) append(uint8_t(ch), 8);
  append(0, std::min(4, dataCodewords * 8 - int(bits.size())));
  while (bits.size() % 8) bits.push_back(false);
  for (uint8_t pad = 0xEC; int(bits.size()) < dataCodewords * 8; pad ^= 0xEC ^ 0x11) append(pad, 8);
  std::vector<uint8_t> codewords(size_t(dataCodewords), 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) codewords[i / 8] |= uint8_t(0x80 >> (i % 8));
  std::vector<uint8_t> ecc = reedSolomon(codewords, info->ecCodewords);
  codewords.insert(codewords.end(), ecc.begin(), ecc.end());

  // Function patterns.
  const int size = info->version * 4 + 17;
  Matrix base(size);
  for (int i = 0; i < size; ++i) {
    base.setFunction(6, i, i % 2 == 0);
    base.setFunction(i, 6, i % 2 == 0);
  }
  drawFinder(base, 3, 3);
  drawFinder(base, size - 4, 3);
  drawFinder(base, 3, size - 4);
  if (info->alignment) {
    int c = info->alignment;
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) base.setFunction(c + dx, c + dy, std::max(std::abs(dx), std::abs(dy)) != 1);
  }
  drawFormat(base, level, 0);  // reserves the format areas

  // Data in the zig-zag order, two columns at a time from the bottom right.
  size_t i = 0;
  for (int right = size - 1; right >= 1; right -= 2) {
    if (right == 6) right = 5;
    for (int vert = 0; vert < size; ++vert)
      for (int j = 0; j < 2; ++j) {
        int x = right - j;
        bool upward = ((right + 1) & 2) == 0;
        int y = upward ? size - 1 - vert : vert;
        if (!base.function[size_t(y * size + x)] && i < codewords.size() * 8) {
          base.dark[size_t(y * size + x)] = (codewords[i >> 3] >> (7 - (i & 7))) & 1;
          ++i;
        }
      }
  }

  long bestPenalty = -1;
  for (int mask = 0; mask < 8; ++mask) {
    Matrix m = base;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x)
        if (!m.function[size_t(y * size + x)] && maskBit(mask, x, y)) m.dark[size_t(y * size + x)] ^= 1;
    drawFormat(m, level, mask);
    long p = penalty(m);
    if (bestPenalty < 0 || p < bestPenalty) {
      bestPenalty = p;
      out.size = size;
      out.version = info->version;
      out.mask = mask;
      out.dark = m.dark;
    }
  }
  return true;
}

}  // namespace art
