#include "png_file.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tonalis {
namespace {

struct Picture {
  Picture(int32_t w, int32_t h, uint32_t fill = 0) : width(w), height(h), pixels(size_t(w) * size_t(h), fill) {}
  PixelView view() { return {pixels.data(), width, height}; }
  int32_t width, height;
  std::vector<uint32_t> pixels;
};

std::vector<uint8_t> fixture(const std::string& name) {
  std::ifstream in(std::string(TONALIS_SOURCE_DIR) + "/tests/png/data/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void expectRoundTrip(Picture& p) {
  const std::vector<uint8_t> png = encodePng(p.view());
  PngImage back;
  std::string error;
  ASSERT_TRUE(decodePng(png, back, error)) << error;
  ASSERT_EQ(back.width, p.width);
  ASSERT_EQ(back.height, p.height);
  for (size_t i = 0; i < p.pixels.size(); ++i) {
    ASSERT_EQ(back.pixels[i], p.pixels[i] & 0xFFFFFFu) << "pixel " << i % size_t(p.width) << "," << i / size_t(p.width);
  }
}

TEST(PngFile, RoundTripsFlatNoisyAndRepetitivePixels) {
  Picture flat(443, 145, 0x1E1E1E);
  expectRoundTrip(flat);

  Picture noisy(97, 61);
  std::mt19937 rng(3);
  for (auto& px : noisy.pixels) px = rng() & 0xFFFFFF;
  expectRoundTrip(noisy);

  // Rows longer than one output buffer of compressed data, repeats far apart.
  Picture bars(5120, 40);
  for (int32_t y = 0; y < bars.height; ++y)
    for (int32_t x = 0; x < bars.width; ++x) bars.pixels[size_t(y * bars.width + x)] = uint32_t(x / 7 % 3) * 0x405060u + uint32_t(y);
  expectRoundTrip(bars);

  Picture one(1, 1, 0xFF123456u);  // the top byte is not a colour
  expectRoundTrip(one);
}

// Icons keep their alpha: the top byte of each word, straight, after the colour.
TEST(PngFile, WritesAlphaWhenAsked) {
  Picture p(3, 2);
  p.pixels = {0x00FF0000u, 0x80102030u, 0xFFFFFFFFu, 0x01000000u, 0xFE0A0B0Cu, 0x7F7F7F7Fu};
  const std::vector<uint8_t> png = encodePng(p.view(), true);
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png[24], 8);  // bit depth
  EXPECT_EQ(png[25], 6);  // RGBA
  // Rows are stored unfiltered; the data may be split over several chunks.
  std::vector<uint8_t> packed;
  for (size_t at = 8; at + 12 <= png.size();) {
    const size_t length = (size_t(png[at]) << 24) | (size_t(png[at + 1]) << 16) | (size_t(png[at + 2]) << 8) | png[at + 3];
    if (std::string(png.begin() + long(at) + 4, png.begin() + long(at) + 8) == "IDAT")
      packed.insert(packed.end(), png.begin() + long(at) + 8, png.begin() + long(at + 8 + length));
    at += 12 + length;
  }
  std::vector<uint8_t> raw(2 * (1 + 3 * 4));
  uLongf rawSize = raw.size();
  ASSERT_EQ(uncompress(raw.data(), &rawSize, packed.data(), uLong(packed.size())), Z_OK);
  ASSERT_EQ(rawSize, raw.size());
  for (size_t y = 0; y < 2; ++y) {
    EXPECT_EQ(raw[y * 13], 0);
    for (size_t x = 0; x < 3; ++x) {
      const uint32_t w = p.pixels[y * 3 + x];
      const uint8_t* px = &raw[y * 13 + 1 + 4 * x];
      EXPECT_EQ((uint32_t(px[3]) << 24) | (uint32_t(px[0]) << 16) | (uint32_t(px[1]) << 8) | px[2], w) << x << "," << y;
    }
  }
  PngImage back;
  std::string error;
  ASSERT_TRUE(decodePng(png, back, error)) << error;
  EXPECT_EQ(back.at(1, 0), 0x102030u);
}

TEST(PngFile, EmptyViewYieldsNothing) {
  EXPECT_TRUE(encodePng(PixelView{}).empty());
  uint32_t px = 0;
  EXPECT_TRUE(encodePng(PixelView{&px, 0, 1}).empty());
  EXPECT_TRUE(encodePng(PixelView{&px, 1, -1}).empty());
}

TEST(PngFile, CompressesRenderedFrames) {
  Picture frame(1920, 1080, 0);
  EXPECT_LT(encodePng(frame.view()).size(), 40000u);
}

// Written by another encoder: RGBA, every row filter (row y uses filter y), the data split
// over two chunks behind a text chunk.
TEST(PngFile, ReadsEveryRowFilterOfAnotherEncoder) {
  PngImage img;
  std::string error;
  ASSERT_TRUE(decodePng(fixture("filters_rgba.png"), img, error)) << error;
  ASSERT_EQ(img.width, 7);
  ASSERT_EQ(img.height, 5);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 7; ++x) {
      const uint32_t r = uint32_t(x * 37 + y * 11) & 255, g = uint32_t(x * x * 5 + y * 53) & 255,
                     b = uint32_t(255 - x * 29 - y * 7) & 255;
      EXPECT_EQ(img.at(x, y), (r << 16) | (g << 8) | b) << "filter " << y << " x " << x;
    }
}

TEST(PngFile, DamagedFilesAreRefusedWithAMessage) {
  Picture p(20, 10, 0x336699);
  const std::vector<uint8_t> good = encodePng(p.view());
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases = {{"empty", {}}, {"not a PNG", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0}}};
  cases.push_back({"cut in the data", std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2))});
  ASSERT_GT(good.size(), 60u);
  std::vector<uint8_t> flipped = good;
  flipped.at(good.size() - 20) ^= 0x40;  // inside the last data chunk
  cases.push_back({"a flipped bit", flipped});
  std::vector<uint8_t> changed = good;
  changed.at(16) = 0x01;  // the width, with the header's checksum left as it was
  cases.push_back({"header changed", changed});
  // A well-formed header that asks for a picture a million pixels wide is not believed.
  std::vector<uint8_t> huge = good;
  huge.at(17) = 0x10;  // the width's second byte
  const uint32_t crc = uint32_t(crc32(0L, &huge[12], 17));  // "IHDR" and its 13 bytes
  for (size_t i = 0; i < 4; ++i) huge.at(29 + i) = uint8_t(crc >> (24 - 8 * i));
  cases.push_back({"a picture too wide", huge});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PngImage img;
    img.width = 3;
    std::string error;
    EXPECT_FALSE(decodePng(c.bytes, img, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(img.width, 0);
    EXPECT_TRUE(img.pixels.empty());
  }
}

TEST(PngFile, FilesAreWrittenAndReadBack) {
  Picture p(31, 17, 0x00FF00);
  p.pixels[5] = 0x123456;
  const std::string path = ::testing::TempDir() + "png_file_test.png";
  std::string error;
  ASSERT_TRUE(writePngFile(path, p.view(), error)) << error;
  PngImage back;
  ASSERT_TRUE(readPngFile(path, back, error)) << error;
  EXPECT_EQ(back.pixels, p.pixels);
  EXPECT_FALSE(readPngFile(path + ".missing", back, error));
  EXPECT_NE(error.find(".missing"), std::string::npos);
  EXPECT_FALSE(writePngFile(::testing::TempDir() + "no/such/folder/x.png", p.view(), error));
}

}  // namespace
}  // namespace tonalis
