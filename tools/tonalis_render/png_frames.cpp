#include "png_frames.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/frame_pipeline.h"
#include "png_file.h"
#include "render/embedded_source.h"
#include "render/strip_renderer.h"
#include "render/theme.h"

namespace tonalis {

PngFrameWriter::PngFrameWriter(const PngOptions& options) : options_(options) {}

bool PngFrameWriter::open(std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(options_.dir, ec);
  if (ec) {
    error = "cannot make " + options_.dir + ": " + ec.message();
    return false;
  }
  EmbeddedBitmapSource source;
  if (const int failed = store_.loadAll(source); failed != 0) {
    std::fprintf(stderr, "tonalis-render: %d images missing, drawn black\n", failed);
  }
  assets_ = WindowAssets::fromStore(store_);

  if (options_.mode == DisplayMode::Window) {
    width_ = WindowWidth;
    height_ = WindowHeight;
    scale_ = WindowScale(options_.scalePercent);
    if (!scale_.identity()) scaled_.assign(size_t(scale_.size().x) * size_t(scale_.size().y), 0);
  } else {
    // As the program reads the screen: at least 400 x 300; the layout may then ask for a
    // taller buffer than the screen, and the buffer follows it.
    options_.screenWidth = std::max(options_.screenWidth, 400);
    options_.screenHeight = std::max(options_.screenHeight, 300);
    layout_ = computeLayoutMetrics(options_.screenWidth, options_.screenHeight, options_.position);
    width_ = options_.screenWidth;
    height_ = options_.mode == DisplayMode::FullScreen ? options_.screenHeight : layout_.stripHeight;
  }
  pixels_.assign(size_t(width_) * size_t(height_), 0);
  return true;
}

bool PngFrameWriter::write(const SpectrumFrame& frame, std::string& error) {
  BandLevels levels{};
  for (int b = 0; b < BandCount; ++b) levels[b] = int32_t(frame.bandLevels[b]);  // truncates
  const PixelView view{pixels_.data(), width_, height_};

  DisplayState display;
  display.displayMode = options_.mode;
  display.spectrumStyle = options_.style;
  display.transparencyMode = options_.transparency;
  display.fullScreenPosition = options_.position;
  // The window keys out black (unlit cells black) with the last two transparencies;
  // FullScreen shows grey unlit cells unless Minimal was chosen there; Desktop keys out
  // black, so its unlit cells are black.
  const bool black = options_.mode == DisplayMode::Window ? options_.transparency >= NoBackground
                     : options_.mode == DisplayMode::Desktop || options_.transparency == Minimal;
  display.unlitCellColor = black ? UnlitCellBlack : UnlitCellGrey;
  const ThemeColors colors = themeColors(options_.theme);
  const FrameState state{display, colors.barColor, colors.peakColor};

  bands_.step(levels);
  if (options_.mode == DisplayMode::Window) {
    uint32_t millis = options_.frameMillis;
    renderWindowFrame(view, bands_, FramePipeline::windowInput(state, frame.spectrumLine), assets_, windowState_,
                      millis);
  } else {
    const Point screen{options_.screenWidth, options_.screenHeight};
    renderStripFrame(view, bands_, FramePipeline::stripInput(state, screen, layout_, frame.spectrumLine),
                     stripState_);
  }

  char name[32];
  std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(count_));
  const std::filesystem::path path = std::filesystem::path(options_.dir) / name;
  if (options_.mode == DisplayMode::Window && !scale_.identity()) {
    const PixelView scaled{scaled_.data(), scale_.size().x, scale_.size().y};
    const Rect whole{0, 0, WindowWidth, WindowHeight};
    DirtyRects covered;
    scale_.scaleInto(view, scaled, std::span<const Rect>(&whole, 1), covered);
    if (!writePngFile(path, scaled, error)) return false;
  } else if (!writePngFile(path, view, error)) {
    return false;
  }
  ++count_;
  return true;
}

}  // namespace tonalis
