#include "render/assets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <set>

#include "fakes/bmp_builder.h"
#include "render/embedded_source.h"

namespace tonalis {
namespace {

using fakes::BmpBuilder;
using fakes::put16;
using fakes::put32;

// 0x00RRGGBB, the layout of decoded pixels.
constexpr uint32_t px(int r, int g, int b) { return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b); }
constexpr uint32_t Black = 0;
constexpr uint32_t Cyan = px(0, 255, 255);
constexpr uint32_t Green = px(0, 255, 0);
constexpr uint32_t Grey = px(128, 128, 128);
constexpr uint32_t Orange = px(255, 102, 0);
constexpr uint32_t Violet = px(138, 43, 226);
constexpr uint32_t LightGrey = px(192, 192, 192);
constexpr uint32_t Magenta = px(255, 0, 255);
constexpr uint32_t White = px(255, 255, 255);

uint32_t at(const Image& img, int x, int y) { return img.pixels[size_t(y) * size_t(img.width) + size_t(x)]; }

bool frameIs(const Image& img, uint32_t colour) {
  for (int x = 0; x < img.width; ++x)
    if (at(img, x, 0) != colour || at(img, x, img.height - 1) != colour) return false;
  for (int y = 0; y < img.height; ++y)
    if (at(img, 0, y) != colour || at(img, img.width - 1, y) != colour) return false;
  return true;
}

std::set<uint32_t> colours(const Image& img) { return {img.pixels.begin(), img.pixels.end()}; }

// The committed bitmaps, decoded once for all the tests.
class CommittedAssets : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    EmbeddedBitmapSource source;
    failures_ = store_.loadAll(source);
  }
  static const Image& img(int id) { return store_.get(id); }
  static AssetStore store_;
  static int failures_;
};
AssetStore CommittedAssets::store_;
int CommittedAssets::failures_ = -1;

TEST_F(CommittedAssets, EveryAssetHasItsSizeAndStoredDepth) {
  EXPECT_EQ(failures_, 0);
  ASSERT_EQ(assetSpecs().size(), 43u);
  EmbeddedBitmapSource source;
  for (const AssetSpec& wanted : assetSpecs()) {
    SCOPED_TRACE(wanted.id);
    Image decoded;
    ASSERT_TRUE(decodeBitmap(source.bitmapBytes(wanted.id), decoded));
    EXPECT_EQ(decoded.width, wanted.width);
    EXPECT_EQ(decoded.height, wanted.height);
    EXPECT_EQ(decoded.bitsPerPixel, wanted.bitsPerPixel);
    EXPECT_EQ(img(wanted.id).pixels, decoded.pixels);
    // The resource compiler keeps the file without its 14-byte file header: a packed DIB.
    Image fromResource;
    ASSERT_TRUE(decodeBitmap(source.bitmapBytes(wanted.id).subspan(14), fromResource));
    EXPECT_EQ(fromResource.pixels, decoded.pixels);
  }
}

TEST_F(CommittedAssets, SpecTableMatchesTheIdsOfTheRenderers) {
  std::set<int> ids;
  for (const AssetSpec& wanted : assetSpecs()) ids.insert(wanted.id);
  EXPECT_EQ(ids.size(), assetSpecs().size()) << "an id is listed twice";
  for (int id : ActivityFrameIds) EXPECT_TRUE(ids.count(id)) << id;
  for (int id : DigitIds) EXPECT_TRUE(ids.count(id)) << id;
  // The central record's order: splash first, the ten digits, the About picture last.
  EXPECT_EQ(assetSpecs().front().id, SplashBitmap);
  EXPECT_EQ(assetSpecs().back().id, AboutPictureBitmap);
  for (size_t d = 0; d < 10; ++d) EXPECT_EQ(assetSpecs()[32 + d].id, DigitIds[d]);
}

TEST_F(CommittedAssets, LabelsAreFramedInTheirColours) {
  struct Case {
    int id;
    uint32_t colour;
  };
  const Case cases[] = {{TitleLabelBitmap, Cyan}, {CaptionLabelBitmap, Green}, {VersionLabelBitmap, Violet},
                        {ReadoutFrameBitmap, Magenta}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const Image& label = img(c.id);
    EXPECT_TRUE(frameIs(label, c.colour));
    EXPECT_EQ(at(label, 1, 1), Black);
    // Nothing but the label colour on black.
    EXPECT_EQ(colours(label), (std::set<uint32_t>{Black, c.colour}));
  }
  // The readout box is empty inside: the digits are drawn into it.
  const Image& readout = img(ReadoutFrameBitmap);
  for (int y = 1; y < 12; ++y)
    for (int x = 1; x < 22; ++x) EXPECT_EQ(at(readout, x, y), Black);
}

TEST_F(CommittedAssets, LitIconsAreOrangeInAnOrangeFrameNormalOnesGrey) {
  const std::pair<int, int> pairs[] = {
      {BlockIconLitBitmap, BlockIconBitmap},       {TopBlockIconLitBitmap, TopBlockIconBitmap},
      {BarIconLitBitmap, BarIconBitmap},           {FloatingIconLitBitmap, FloatingIconBitmap},
      {DotsIconLitBitmap, DotsIconBitmap},         {WaveformIconLitBitmap, WaveformIconBitmap},
      {BoardOnBitmap, BoardOffBitmap},             {TopMostOnBitmap, TopMostOffBitmap},
      {ClickThroughOnBitmap, ClickThroughOffBitmap},
  };
  for (auto [litId, normalId] : pairs) {
    SCOPED_TRACE(litId);
    const Image& lit = img(litId);
    const Image& normal = img(normalId);
    ASSERT_EQ(lit.width, normal.width);
    EXPECT_TRUE(frameIs(lit, Orange));
    EXPECT_FALSE(colours(lit).count(Grey));
    EXPECT_TRUE(colours(normal).count(Grey));
    EXPECT_FALSE(colours(normal).count(Orange));
    // The same drawing in both: every grey pixel of the normal icon is orange in the lit one.
    for (int y = 1; y < normal.height - 1; ++y)
      for (int x = 1; x < normal.width - 1; ++x) {
        if (at(normal, x, y) == Grey) {
          EXPECT_EQ(at(lit, x, y), Orange) << x << "," << y;
        }
      }
  }
  // The six style icons differ from each other.
  std::set<std::vector<uint32_t>> drawings;
  for (int id : {BlockIconBitmap, TopBlockIconBitmap, BarIconBitmap, FloatingIconBitmap, DotsIconBitmap,
                 WaveformIconBitmap})
    drawings.insert(img(id).pixels);
  EXPECT_EQ(drawings.size(), 6u);
}

TEST_F(CommittedAssets, ActivityFramesFadeAndIdleShowsAWhiteSquare) {
  const int greys[6] = {255, 224, 192, 153, 112, 77};
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(ActivityFrameIds[i]);
    const Image& frame = img(ActivityFrameIds[i]);
    EXPECT_TRUE(frameIs(frame, Violet));
    EXPECT_EQ(colours(frame), (std::set<uint32_t>{Black, Violet, px(greys[i], greys[i], greys[i])}));
    EXPECT_EQ(at(frame, 6, 6), px(greys[i], greys[i], greys[i]));  // middle of the triangle
  }
  const Image& idle = img(ActivityIdleBitmap);
  EXPECT_TRUE(frameIs(idle, Violet));
  EXPECT_EQ(at(idle, 6, 6), White);
  EXPECT_EQ(colours(idle), (std::set<uint32_t>{Black, Violet, White}));
}

TEST_F(CommittedAssets, DigitsShowTheirSegmentsInIdOrder) {
  // Probe points of the segments a..g (top, upper right, lower right, bottom, lower left,
  // upper left, middle) of a 5 x 7 digit, and the segments each digit lights.
  const int probes[7][2] = {{2, 0}, {4, 1}, {4, 5}, {2, 6}, {0, 5}, {0, 1}, {2, 3}};
  const uint8_t segments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
  for (int d = 0; d < 10; ++d) {
    SCOPED_TRACE(d);
    const Image& digit = img(DigitIds[size_t(d)]);
    for (int s = 0; s < 7; ++s) {
      const bool lit = at(digit, probes[s][0], probes[s][1]) == Magenta;
      EXPECT_EQ(lit, ((segments[d] >> s) & 1) != 0) << "segment " << s;
    }
    EXPECT_EQ(at(digit, 0, 0), Black);  // segment ends leave the corners dark
  }
}

TEST_F(CommittedAssets, ScaleLabelsAreCentredUnderTheirBandColumns) {
  const Image& scale = img(ScaleBitmap);
  EXPECT_EQ(colours(scale), (std::set<uint32_t>{Black, LightGrey}));
  for (int b = 0; b < 24; ++b) {
    SCOPED_TRACE(b);
    // Column b spans scale x 1 + 18b .. 15 + 18b (the scale is drawn at x 6, the columns at 7 + 18b).
    int lo = INT_MAX, hi = INT_MIN;
    for (int x = 18 * b - 1; x < 18 * b + 18 && x < scale.width; ++x)
      for (int y = 0; y < scale.height; ++y)
        if (x >= 0 && at(scale, x, y) == LightGrey) {
          lo = std::min(lo, x);
          hi = std::max(hi, x);
        }
    ASSERT_NE(lo, INT_MAX) << "no label";
    EXPECT_GE(lo, 1 + 18 * b);
    EXPECT_LE(hi, 15 + 18 * b);
    EXPECT_EQ(lo + hi, 2 * (8 + 18 * b));
  }
}

TEST_F(CommittedAssets, SplashAndAboutPicture) {
  const Image& splash = img(SplashBitmap);
  // Black corners disappear under the colour key like the rest of the window.
  EXPECT_EQ(at(splash, 0, 0), Black);
  EXPECT_EQ(at(splash, 442, 0), Black);
  EXPECT_GT(colours(splash).size(), 100u);
  const Image& about = img(AboutPictureBitmap);
  EXPECT_EQ(at(about, 199, 0), White);
  // The QR code's top-left finder, wherever the code's size puts it in the right half: a
  // dark 7 x 7 ring of 3-pixel modules around a light ring.
  int qx = -1, qy = -1;
  for (int y = 0; y < about.height && qx < 0; ++y)
    for (int x = about.width / 2; x < about.width; ++x)
      if (at(about, x, y) == Black) {
        qx = x;
        qy = y;
        break;
      }
  ASSERT_GE(qx, 0);
  EXPECT_EQ(at(about, qx + 20, qy + 20), Black);
  EXPECT_EQ(at(about, qx + 20, qy), Black);
  EXPECT_EQ(at(about, qx + 4, qy + 4), White);
  EXPECT_EQ(at(about, qx + 9, qy + 9), Black);  // the 3 x 3 centre
}

// --- decoder -------------------------------------------------------------------------

BmpBuilder fourBit() {
  BmpBuilder b;
  b.width = 3;
  b.height = 2;
  b.bpp = 4;
  b.palette = {px(0, 0, 0), px(255, 0, 0), px(0, 0, 255)};
  b.rows = {{0x12, 0x00}, {0x21, 0x10}};  // bottom row first
  return b;
}

TEST(DecodeBitmap, PaletteAndTrueColourLayouts) {
  Image out;
  // 4-bit, bottom-up, with a file header.
  ASSERT_TRUE(decodeBitmap(fourBit().build(), out));
  EXPECT_EQ(out.bitsPerPixel, 4);
  EXPECT_EQ(out.pixels, (std::vector<uint32_t>{px(0, 0, 255), px(255, 0, 0), px(255, 0, 0),  //
                                               px(255, 0, 0), px(0, 0, 255), px(0, 0, 0)}));
  // The same as a packed DIB (what a Windows resource holds).
  BmpBuilder packed = fourBit();
  packed.fileHeader = false;
  Image fromDib;
  ASSERT_TRUE(decodeBitmap(packed.build(), fromDib));
  EXPECT_EQ(fromDib.pixels, out.pixels);

  // 1-bit, top-down (negative height), 10 pixels a row.
  BmpBuilder mono;
  mono.width = 10;
  mono.height = -2;
  mono.bpp = 1;
  mono.palette = {Black, White};
  mono.rows = {{0b10000000, 0b01000000}, {0b00000001, 0b10000000}};
  ASSERT_TRUE(decodeBitmap(mono.build(), out));
  EXPECT_EQ(out.height, 2);
  EXPECT_EQ(at(out, 0, 0), White);
  EXPECT_EQ(at(out, 9, 0), White);
  EXPECT_EQ(at(out, 1, 0), Black);
  EXPECT_EQ(at(out, 7, 1), White);
  EXPECT_EQ(at(out, 8, 1), White);

  // 24-bit BGR and 32-bit BGRX.
  BmpBuilder rgb24;
  rgb24.width = 1;
  rgb24.height = 2;
  rgb24.bpp = 24;
  rgb24.rows = {{0x01, 0x02, 0x03}, {0x0A, 0x0B, 0x0C}};
  ASSERT_TRUE(decodeBitmap(rgb24.build(), out));
  EXPECT_EQ(out.pixels, (std::vector<uint32_t>{0x0C0B0A, 0x030201}));
  BmpBuilder rgb32 = rgb24;
  rgb32.bpp = 32;
  rgb32.height = -2;
  rgb32.rows = {{0x01, 0x02, 0x03, 0xFF}, {0x0A, 0x0B, 0x0C, 0x80}};
  ASSERT_TRUE(decodeBitmap(rgb32.build(), out));
  EXPECT_EQ(out.pixels, (std::vector<uint32_t>{0x030201, 0x0C0B0A}));

  // The old core header with 3-byte palette entries.
  BmpBuilder core = fourBit();
  core.headerSize = 12;
  core.palette.resize(16, 0);
  ASSERT_TRUE(decodeBitmap(core.build(), out));
  EXPECT_EQ(at(out, 0, 1), px(255, 0, 0));
}

TEST(DecodeBitmap, RejectsMalformedHeaders) {
  struct Case {
    const char* what;
    void (*mutate)(BmpBuilder&);
  };
  const Case cases[] = {
      {"zero width", [](BmpBuilder& b) { b.width = 0; }},
      {"negative width", [](BmpBuilder& b) { b.width = -3; }},
      {"zero height", [](BmpBuilder& b) { b.height = 0; }},
      {"most negative height", [](BmpBuilder& b) { b.height = INT32_MIN; }},
      {"huge size", [](BmpBuilder& b) { b.width = 1 << 20; b.height = 1 << 20; }},
      {"three bits a pixel", [](BmpBuilder& b) { b.bpp = 3; }},
      {"two planes", [](BmpBuilder& b) { b.planes = 2; }},
      {"RLE compression", [](BmpBuilder& b) { b.compression = 2; }},
      {"unknown header size", [](BmpBuilder& b) { b.headerSize = 44; }},
      {"more colours than the depth", [](BmpBuilder& b) { b.colorsUsed = 17; }},
      {"colour count past the end", [](BmpBuilder& b) { b.colorsUsed = 16; }},
      {"index past the colour table", [](BmpBuilder& b) { b.palette.resize(2); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BmpBuilder b = fourBit();
    c.mutate(b);
    Image out;
    out.width = 77;
    EXPECT_FALSE(decodeBitmap(b.build(), out));
    EXPECT_EQ(out.width, 77) << "output touched on failure";
  }
}

TEST(DecodeBitmap, RejectsBadOffsetsAndEveryTruncation) {
  const std::vector<uint8_t> good = fourBit().build();
  Image out;
  ASSERT_TRUE(decodeBitmap(good, out));
  // Every prefix is too short for the pixels it announces.
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_FALSE(decodeBitmap(std::span(good.data(), n), out)) << n;

  auto withOffset = [&](uint32_t offset) {
    std::vector<uint8_t> b = good;
    std::memcpy(&b[10], &offset, 4);  // little-endian host, as the file
    return b;
  };
  EXPECT_FALSE(decodeBitmap(withOffset(uint32_t(good.size())), out));  // pixels past the end
  EXPECT_FALSE(decodeBitmap(withOffset(0xFFFFFFF0u), out));            // would wrap around
  EXPECT_FALSE(decodeBitmap(withOffset(20), out));                     // inside the header
  std::vector<uint8_t> hugeHeader = good;
  const uint32_t bogus = 0xFFFFFFFFu;
  std::memcpy(&hugeHeader[14], &bogus, 4);
  EXPECT_FALSE(decodeBitmap(hugeHeader, out));

  // A real asset cut anywhere in its pixel rows.
  EmbeddedBitmapSource source;
  const std::span<const uint8_t> splash = source.bitmapBytes(SplashBitmap);
  ASSERT_FALSE(splash.empty());
  for (size_t cut : {size_t(1), size_t(100), splash.size() / 2})
    EXPECT_FALSE(decodeBitmap(splash.first(splash.size() - cut), out)) << cut;
}

// --- store ---------------------------------------------------------------------------

class MapSource : public BitmapSource {
 public:
  std::map<int, std::vector<uint8_t>> files;
  std::span<const uint8_t> bitmapBytes(int id) override {
    auto it = files.find(id);
    return it == files.end() ? std::span<const uint8_t>{} : std::span<const uint8_t>(it->second);
  }
};

TEST(AssetStore, MissingOrBrokenAssetsBecomeBlackImagesOfTheirSize) {
  MapSource source;
  EmbeddedBitmapSource embedded;
  for (const AssetSpec& wanted : assetSpecs()) {
    auto bytes = embedded.bitmapBytes(wanted.id);
    source.files[wanted.id].assign(bytes.begin(), bytes.end());
  }
  source.files.erase(ScaleBitmap);
  source.files[DigitIds[6]].resize(20);  // truncated

  AssetStore store;
  EXPECT_EQ(store.loadAll(source), 2);
  const Image& scale = store.get(ScaleBitmap);
  EXPECT_EQ(scale.width, 429);
  EXPECT_EQ(scale.height, 7);
  EXPECT_EQ(scale.bitsPerPixel, 0);
  EXPECT_TRUE(std::all_of(scale.pixels.begin(), scale.pixels.end(), [](uint32_t p) { return p == 0; }));
  EXPECT_EQ(store.get(DigitIds[6]).width, 5);
  EXPECT_EQ(store.get(DigitIds[6]).pixels.size(), 35u);
  EXPECT_EQ(store.get(TitleLabelBitmap).bitsPerPixel, 4);  // the others load normally
}

TEST(AssetStore, UnknownIdGivesABlackPixelEvenBeforeLoading) {
  AssetStore store;
  for (int id : {0, 999, int(SplashBitmap)}) {
    const Image& none = store.get(id);
    EXPECT_EQ(none.width, 1);
    EXPECT_EQ(none.height, 1);
    EXPECT_EQ(none.pixels, std::vector<uint32_t>{0});
  }
  EmbeddedBitmapSource source;
  store.loadAll(source);
  EXPECT_EQ(store.get(12345).width, 1);
  EXPECT_EQ(store.get(SplashBitmap).width, 443);
}

TEST(EmbeddedBitmapSource, ServesWholeFilesByIdAndNothingForOthers) {
  const unsigned char bytes[] = {'B', 'M', 1, 2};
  const EmbeddedAsset table[] = {{5, bytes, sizeof bytes}};
  EmbeddedBitmapSource source{std::span<const EmbeddedAsset>(table)};
  EXPECT_EQ(source.bitmapBytes(5).size(), 4u);
  EXPECT_TRUE(source.bitmapBytes(6).empty());
  EmbeddedBitmapSource real;
  EXPECT_EQ(real.bitmapBytes(SplashBitmap)[0], 'B');
}

}  // namespace
}  // namespace tonalis
