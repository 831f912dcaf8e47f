// Golden frames: one small PNG per style for each renderer, after a short scripted
// passage (a loud frame, then falling bars under held peaks). Stand-in images mark the
// status row, so the goldens do not change with the artwork.
//
// To regenerate after an intended change of the picture:
//   TONALIS_UPDATE_GOLDEN=1 ./test_render --gtest_filter='Golden*'
// then look at the changed files in tests/render/golden/ before committing them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "render/png_writer.h"
#include "render/strip_renderer.h"
#include "render/window_renderer.h"
#include "render_fixture.h"

namespace tonalis {
namespace {

const std::string GoldenDir = std::string(TONALIS_SOURCE_DIR) + "/tests/render/golden/";

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void compareWithGolden(test::Frame& frame, const std::string& name) {
  const std::vector<uint8_t> png = encodePng(frame.view());
  const std::string path = GoldenDir + name + ".png";
  if (std::getenv("TONALIS_UPDATE_GOLDEN") != nullptr) {
    writeFile(path, png);
    return;
  }
  const std::vector<uint8_t> golden = readFile(path);
  if (golden != png) {
    const std::string actual = ::testing::TempDir() + name + ".actual.png";
    writeFile(actual, png);
    ADD_FAILURE() << name << " differs from " << path << "; this run's frame is in " << actual;
  }
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
    BoardLevels board{};
    uint8_t clock = 0;
    WindowFrameInput in;
    in.spectrumStyle = style;
    in.barColor = 0x33CC66;   // Green theme
    in.peakColor = 0x0066FF;
    in.unlitCellColor = 0x1E1E1E;
    in.clickThrough = style % 2;
    in.topMost = 1;
    in.boardConnected = style > 3;
    in.spectrumLine = line;
    for (const BandLevels& l : passage()) {
      renderWindowFrame(frame.view(), l, in, assets, state, millis, board, clock);
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
      in.barColor = 0xEEC211;  // Sky theme
      in.peakColor = 0xF709F7;
      in.unlitCellColor = 0x1E1E1E;
      in.screenWidth = 400;
      in.screenHeight = 300;
      in.layout = computeLayoutMetrics(in.screenWidth, in.screenHeight, in.fullScreenPosition);
      in.spectrumLine = line;
      const bool full = mode == DisplayMode::FullScreen;
      test::Frame frame(in.screenWidth, full ? in.screenHeight : in.layout.stripHeight);
      StripRendererState anim;
      BoardLevels board{};
      uint8_t clock = 0;
      for (const BandLevels& l : passage()) renderStripFrame(frame.view(), l, in, anim, board, clock);
      compareWithGolden(frame, std::string(full ? "fullscreen" : "desktop") + "_style" + std::to_string(style));
    }
  }
}

}  // namespace
}  // namespace tonalis
