// Golden frames: one small PNG per style for each renderer, after a short scripted
// passage (a loud frame, then falling bars under held peaks). Stand-in images mark the
// status row, so the goldens do not change with the artwork.
//
// To regenerate after an intended change of the picture:
//   TONALIS_UPDATE_GOLDEN=1 ./test_render --gtest_filter='Golden*'
// then look at the changed files in tests/render/golden/ before committing them. A failure
// names the first differing pixels and leaves the frame and a picture of the differences
// (differing pixels red, the rest dimmed) in the test's temporary folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "png_file.h"
#include "render/strip_renderer.h"
#include "render/window_renderer.h"
#include "render_fixture.h"

namespace tonalis {
namespace {

const std::string GoldenDir = std::string(TONALIS_SOURCE_DIR) + "/tests/render/golden/";

std::string hex(uint32_t v) {
  char s[9];
  std::snprintf(s, sizeof s, "%06X", v & 0xFFFFFFu);
  return s;
}

// What differs between the frame and the golden picture; empty when they are the same.
std::string pixelDiff(const test::Frame& frame, const PngImage& golden, std::vector<uint32_t>& diffPicture) {
  std::ostringstream out;
  if (frame.width != golden.width || frame.height != golden.height) {
    out << "size " << frame.width << "x" << frame.height << ", golden " << golden.width << "x" << golden.height;
    return out.str();
  }
  diffPicture.assign(frame.pixels.size(), 0);
  size_t count = 0;
  for (int32_t y = 0; y < frame.height; ++y)
    for (int32_t x = 0; x < frame.width; ++x) {
      const size_t i = size_t(y) * size_t(frame.width) + size_t(x);
      const uint32_t got = frame.pixels[i] & 0xFFFFFFu, want = golden.pixels[i];
      if (got == want) {
        diffPicture[i] = (got >> 2) & 0x3F3F3Fu;
        continue;
      }
      diffPicture[i] = 0xFF0000u;
      if (++count <= 5) out << "\n  (" << x << ", " << y << "): " << hex(got) << ", golden " << hex(want);
    }
  if (count == 0) return {};
  return std::to_string(count) + " pixels differ; the first:" + out.str();
}

void compareWithGolden(test::Frame& frame, const std::string& name) {
  const std::string path = GoldenDir + name + ".png";
  std::string error;
  if (std::getenv("TONALIS_UPDATE_GOLDEN") != nullptr) {
    ASSERT_TRUE(writePngFile(path, frame.view(), error)) << error;
    return;
  }
  PngImage golden;
  ASSERT_TRUE(readPngFile(path, golden, error)) << error;
  std::vector<uint32_t> diffPicture;
  const std::string diff = pixelDiff(frame, golden, diffPicture);
  if (diff.empty()) return;
  const std::string actual = ::testing::TempDir() + name + ".actual.png";
  std::string where = "this run's frame is in " + actual;
  if (!writePngFile(actual, frame.view(), error)) where = error;
  if (!diffPicture.empty()) {
    const std::string diffPath = ::testing::TempDir() + name + ".diff.png";
    if (writePngFile(diffPath, {diffPicture.data(), frame.width, frame.height}, error)) where += ", the differences in " + diffPath;
  }
  ADD_FAILURE() << name << " differs from " << path << ": " << diff << "\n" << where;
}

// The scripted passage: a loud frame with a spread of levels, then three quieter frames.
std::vector<BandLevels> passage() {
  BandLevels loud{}, quiet{};
  for (int b = 0; b < BandCount; ++b) {
    loud[b] = (b * 7) % 20;  // 0..19: some above full scale
    quiet[b] = loud[b] / 3;
  }
  return {loud, quiet, quiet, quiet};
}

std::array<int32_t, SpectrumLineLength> waveLine() {
  std::array<int32_t, SpectrumLineLength> line{};
  for (int k = 0; k < SpectrumLineLength; ++k) line[size_t(k)] = (k * 37) % 130;
  return line;
}

TEST(GoldenWindow, OneFramePerStyle) {
  test::TestImages images;
  const WindowAssets assets = images.assets();
  const auto line = waveLine();
  for (int32_t style = Block; style <= Waveform; ++style) {
    test::Frame frame(WindowWidth, WindowHeight);
    WindowRendererState state;
    uint32_t millis = 28;
    BandAnimator bands;
    WindowFrameInput in;
    in.spectrumStyle = style;
    in.barColor = 0x66CC33;   // Green theme
    in.peakColor = 0xFF6600;
    in.unlitCellColor = 0x1E1E1E;
    in.clickThrough = style % 2;
    in.topMost = 1;
    in.boardConnected = style > 3;
    in.spectrumLine = line;
    for (const BandLevels& l : passage()) {
      bands.step(l);
      renderWindowFrame(frame.view(), bands, in, assets, state, millis);
    }
    compareWithGolden(frame, "window_style" + std::to_string(style));
  }
}

TEST(GoldenStrip, OneFramePerStyleOnTheSmallestScreen) {
  const auto line = waveLine();
  for (int32_t style = Block; style <= Waveform; ++style) {
    for (DisplayMode mode : {DisplayMode::FullScreen, DisplayMode::Desktop}) {
      StripFrameInput in;
      in.displayMode = mode;
      in.fullScreenPosition = Center;
      in.spectrumStyle = style;
      in.barColor = 0x11C2EE;  // Sky theme
      in.peakColor = 0xF709F7;
      in.unlitCellColor = 0x1E1E1E;
      in.screenWidth = 400;
      in.screenHeight = 300;
      in.layout = computeLayoutMetrics(in.screenWidth, in.screenHeight, in.fullScreenPosition);
      in.spectrumLine = line;
      const bool full = mode == DisplayMode::FullScreen;
      test::Frame frame(in.screenWidth, full ? in.screenHeight : in.layout.stripHeight);
      StripRendererState state;
      BandAnimator bands;
      for (const BandLevels& l : passage()) {
        bands.step(l);
        renderStripFrame(frame.view(), bands, in, state);
      }
      compareWithGolden(frame, std::string(full ? "fullscreen" : "desktop") + "_style" + std::to_string(style));
    }
  }
}

}  // namespace
}  // namespace tonalis
