#include "render/png_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "render_fixture.h"

namespace tonalis {
namespace {

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}

// A minimal inflate for what the encoder may emit (stored and fixed-Huffman blocks),
// so the test checks the stream decodes rather than trusting the encoder's own view.
class Inflater {
 public:
  explicit Inflater(std::span<const uint8_t> in) : in_(in) {}
  bool run(std::vector<uint8_t>& out) {
    bool last = false;
    while (!last) {
      last = bits(1) != 0;
      const uint32_t type = bits(2);
      if (type == 0) {
        pos_ = (pos_ + 7) / 8 * 8;
        const uint32_t len = bits(16);
        if ((bits(16) ^ 0xFFFF) != len) return false;
        for (uint32_t i = 0; i < len; ++i) out.push_back(uint8_t(bits(8)));
      } else if (type == 1) {
        for (;;) {
          const int sym = fixedSymbol();
          if (sym < 0) return false;
          if (sym < 256) {
            out.push_back(uint8_t(sym));
          } else if (sym == 256) {
            break;
          } else {
            static const int lb[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
            static const int le[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
            static const int db[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                     33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                     1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
            static const int de[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
            if (sym > 285) return false;
            const int len = lb[sym - 257] + int(bits(le[sym - 257]));
            int dcode = 0;
            for (int i = 0; i < 5; ++i) dcode = (dcode << 1) | int(bits(1));
            if (dcode > 29) return false;
            const size_t dist = size_t(db[dcode]) + bits(de[dcode]);
            if (dist > out.size()) return false;
            for (int i = 0; i < len; ++i) out.push_back(out[out.size() - dist]);
          }
        }
      } else {
        return false;
      }
      if (pos_ > in_.size() * 8) return false;
    }
    return true;
  }
  size_t bytesUsed() const { return (pos_ + 7) / 8; }

 private:
  uint32_t bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++pos_) {
      const uint32_t bit = pos_ / 8 < in_.size() ? (in_[pos_ / 8] >> (pos_ % 8)) & 1u : 0u;
      v |= bit << i;
    }
    return v;
  }
  int fixedSymbol() {
    int code = 0;
    for (int i = 0; i < 7; ++i) code = (code << 1) | int(bits(1));
    if (code <= 0x17) return 256 + code;
    code = (code << 1) | int(bits(1));
    if (code >= 0x30 && code <= 0xBF) return code - 0x30;
    if (code >= 0xC0 && code <= 0xC7) return 280 + code - 0xC0;
    code = (code << 1) | int(bits(1));
    if (code >= 0x190 && code <= 0x1FF) return 144 + code - 0x190;
    return -1;
  }
  std::span<const uint8_t> in_;
  size_t pos_ = 0;
};

TEST(PngChecksums, KnownVectors) {
  const std::string digits = "123456789";
  const std::string wiki = "Wikipedia";
  EXPECT_EQ(crc32({reinterpret_cast<const uint8_t*>(digits.data()), digits.size()}), 0xCBF43926u);
  EXPECT_EQ(adler32({reinterpret_cast<const uint8_t*>(wiki.data()), wiki.size()}), 0x11E60398u);
  EXPECT_EQ(crc32({}), 0u);
  EXPECT_EQ(adler32({}), 1u);
}

// Decodes the encoder's output and compares it with the source pixels.
void roundTrip(test::Frame& f) {
  const std::vector<uint8_t> png = encodePng(f.view());
  ASSERT_GE(png.size(), 8u + 25u + 12u + 12u);
  const std::vector<uint8_t> sig = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  ASSERT_TRUE(std::equal(sig.begin(), sig.end(), png.begin()));

  std::vector<uint8_t> idat;
  size_t at = 8;
  std::vector<std::string> types;
  while (at + 12 <= png.size()) {
    const uint32_t len = be32(png, at);
    ASSERT_LE(at + 12 + len, png.size());
    const std::string type(png.begin() + long(at + 4), png.begin() + long(at + 8));
    types.push_back(type);
    EXPECT_EQ(crc32(std::span<const uint8_t>(png).subspan(at + 4, len + 4)), be32(png, at + 8 + len))
        << type;
    if (type == "IHDR") {
      EXPECT_EQ(be32(png, at + 8), uint32_t(f.width));
      EXPECT_EQ(be32(png, at + 12), uint32_t(f.height));
      EXPECT_EQ(png[at + 16], 8);  // bit depth
      EXPECT_EQ(png[at + 17], 2);  // RGB
    }
    if (type == "IDAT") idat.insert(idat.end(), png.begin() + long(at + 8), png.begin() + long(at + 8 + len));
    at += 12 + len;
  }
  EXPECT_EQ(at, png.size());
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

  ASSERT_GE(idat.size(), 6u);
  EXPECT_EQ((idat[0] * 256 + idat[1]) % 31, 0);
  EXPECT_EQ(idat[0] & 0x0F, 8);  // deflate
  std::vector<uint8_t> raw;
  Inflater inf(std::span<const uint8_t>(idat).subspan(2));
  ASSERT_TRUE(inf.run(raw));
  ASSERT_EQ(raw.size(), size_t(f.height) * (1 + 3 * size_t(f.width)));
  EXPECT_EQ(be32(idat, 2 + inf.bytesUsed()), adler32(raw));
  for (int y = 0; y < f.height; ++y) {
    const size_t row = size_t(y) * (1 + 3 * size_t(f.width));
    ASSERT_EQ(raw[row], 0) << "filter of row " << y;
    for (int x = 0; x < f.width; ++x) {
      const uint32_t p = f.at(x, y) & 0xFFFFFF;
      const size_t o = row + 1 + 3 * size_t(x);
      ASSERT_EQ((uint32_t(raw[o]) << 16) | (uint32_t(raw[o + 1]) << 8) | raw[o + 2], p) << x << "," << y;
    }
  }
}

TEST(PngWriter, RoundTripsFlatNoisyAndRepetitivePixels) {
  {
    test::Frame flat(443, 145, 0);
    roundTrip(flat);
  }
  {
    test::Frame noisy(97, 61);
    std::mt19937 rng(3);
    for (auto& p : noisy.pixels) p = rng() & 0xFFFFFF;
    roundTrip(noisy);
  }
  {
    // Long runs and repeats across rows farther apart than a short match window.
    test::Frame bars(2000, 20);
    for (int y = 0; y < bars.height; ++y)
      for (int x = 0; x < bars.width; ++x) bars.pixels[size_t(y * bars.width + x)] = (x / 7 % 3) * 0x405060u;
    roundTrip(bars);
  }
  {
    test::Frame one(1, 1, 0xFF000000u | 0x123456);  // top byte ignored
    roundTrip(one);
  }
}

TEST(PngWriter, EmptyViewYieldsNothing) {
  EXPECT_TRUE(encodePng(PixelView{}).empty());
  uint32_t p = 0;
  EXPECT_TRUE(encodePng(PixelView{&p, 0, 1}).empty());
}

TEST(PngWriter, CompressesRenderedFrames) {
  test::Frame flat(1920, 1080, 0);
  EXPECT_LT(encodePng(flat.view()).size(), 40000u);
}

}  // namespace
}  // namespace tonalis
