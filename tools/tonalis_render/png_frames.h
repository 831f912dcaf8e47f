// The PNG forms of tonalis-render: each analysed frame drawn by the program's own
// animation and renderer (window, or the full-screen / desktop strip), with the inputs the
// program's frame pipeline gives them, into a PNG file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/analysis.h"
#include "common/types.h"
#include "render/assets.h"
#include "render/band_anim.h"
#include "render/layout_metrics.h"
#include "render/strip_renderer.h"
#include "render/window_renderer.h"
#include "render/window_scale.h"

namespace tonalis {

struct PngOptions {
  std::string dir;                       // output folder, made if missing
  DisplayMode mode = DisplayMode::Window;
  int32_t style = Block;                 // 1..6
  int32_t theme = White;                 // 1..5
  int32_t transparency = Opaque;         // 0..6
  int32_t screenWidth = 1920;            // strip modes: raised to 400 as the program does
  int32_t screenHeight = 1080;           // strip modes: raised to 300, may grow with the layout
  int32_t position = Center;             // strip modes: 0..3
  uint32_t frameMillis = 28;             // shown by the window's readout
  int32_t scalePercent = 100;            // window mode: the screen's scale (strips are drawn to size)
};

// Renders frames in order, one file each: DIR/frame_000000.png, frame_000001.png, ...
// The picture is the frame buffer as drawn, before presentation (black stays black even
// where the window would key it out or fade it); at a scale, the window as that screen
// shows it.
class PngFrameWriter {
 public:
  explicit PngFrameWriter(const PngOptions& options);
  // Makes the folder and loads the images; false with a message on failure.
  bool open(std::string& error);
  // Draws `frame` and writes the next file; false with a message on failure.
  bool write(const SpectrumFrame& frame, std::string& error);
  int64_t framesWritten() const { return count_; }

 private:
  PngOptions options_;
  AssetStore store_;
  WindowAssets assets_;
  BandAnimator bands_;
  WindowRendererState windowState_;
  StripRendererState stripState_;
  LayoutMetrics layout_;
  std::vector<uint32_t> pixels_;
  WindowScale scale_;
  std::vector<uint32_t> scaled_;  // the window at scale_, when it is not 100 %
  int32_t width_ = 0;
  int32_t height_ = 0;
  int64_t count_ = 0;
};

}  // namespace tonalis
