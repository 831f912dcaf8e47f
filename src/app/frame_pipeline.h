// One frame, from the sample ring to the screen: the newest 2048 samples analysed, held back
// by the drawing delay, the bars stepped once (BandAnimator, which also says what the board
// shows), drawn by the window or strip renderer into buffers made at start-up, and the
// changed rectangles presented. Also the frame-time meter and the strip's layout,
// which follow the screen. A frame allocates nothing; only the UI thread calls it.
#pragma once

#include <cstdint>
#include <memory>

#include "app/frame_delay.h"
#include "audio/analysis.h"
#include "audio/sample_ring.h"
#include "common/types.h"
#include "platform/clock.h"
#include "platform/presenter.h"
#include "render/assets.h"
#include "render/band_anim.h"
#include "render/layout_metrics.h"
#include "render/strip_renderer.h"
#include "render/window_renderer.h"
#include "render/window_scale.h"
#include "window/display_state.h"

namespace tonalis {

// What a frame takes from the application's state.
struct FrameState {
  const DisplayState& display;
  Rgb barColor = 0xFFFFFF;
  Rgb peakColor = 0xFF0000;
  bool boardConnected = false;
  bool splash = false;         // the splash is up: the window buffer is shown as it is
  uint32_t delayMillis = 0;    // "画面延迟"
  // Someone can see the window (not hidden, minimised or behind a locked session): when
  // false nothing is drawn or presented, but the bars still animate for the board.
  bool seen = true;
};

class FramePipeline {
 public:
  FramePipeline(Presenter& presenter, Clock& clock);
  ~FramePipeline();
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // Start-up: the window's buffer, one the size of the strip's monitor (at least 400 x 300)
  // and the strip's layout for it. `monitor` is in virtual-screen pixels. `assets` must
  // outlive the pipeline.
  void start(const AssetStore& assets, const Rect& monitor, int32_t fullScreenPosition);
  // A screen at the origin.
  void start(const AssetStore& assets, Point screenSize, int32_t fullScreenPosition) {
    start(assets, Rect{0, 0, screenSize.x, screenSize.y}, fullScreenPosition);
  }
  bool started() const { return windowBuffer_.pixels != nullptr; }
  // Exit: the buffers go back to the presenter.
  void stop();

  // The strip's monitor changed (another one, a new size, or the full-screen position): a
  // new strip buffer when the size changed, and the layout again. FullScreen and Desktop
  // frames are placed on `monitor` from the next frame on.
  void screenChanged(const Rect& monitor, int32_t fullScreenPosition);
  void screenChanged(Point screenSize, int32_t fullScreenPosition) {
    screenChanged(Rect{0, 0, screenSize.x, screenSize.y}, fullScreenPosition);
  }

  // The scale of the window's monitor, in percent (100, 125, 150, 200 ...). The renderer
  // keeps drawing the 443 x 145 picture; at any other scale each frame is also scaled into
  // a buffer of the window's scaled size, and that one is presented. May be called before
  // start(); after it, the scaled buffer is made again and the next frame is whole.
  void setWindowScale(int32_t percent);
  const WindowScale& windowScale() const { return scale_; }
  // The window's size on the screen at its scale.
  Point windowSize() const { return scale_.size(); }

  // Every tick of the frame timer: the mean interval of the last 20 ticks is what the
  // window's readout shows.
  void timerTick();

  // One frame: from `ring` unless the splash is up, then presented.
  void run(const FrameState& state, const SampleRing& ring);

  // Frames of digital silence that a slowed timer skipped, animated without drawing so the
  // board's clock (counted in frames) comes after the same time as at full speed.
  void skipSilentFrames(uint32_t frames, const DisplayState& display);

  // How many frame periods the picture holds as it was presented if the digital silence
  // goes on, counting the next frame as 1: 1 while anything moves; while only the window's
  // activity indicator turns (bars and peaks down), the frames to its next picture or to the
  // long silence that stops it; HeldUntilSound when nothing but sound can change it. The
  // frame timer need not wake before then.
  static constexpr uint32_t HeldUntilSound = UINT32_MAX;
  uint32_t framesHeld() const { return framesHeld_; }

  // The frame-time meter starts over (the timer's period changed).
  void restartMeter();

  // The splash is drawn into the window buffer outside the renderer, and cleared after.
  void drawSplash(const Image& splash);
  void clearSplash();

  // What the board shows, as the last frame decided it.
  const BoardLevels& boardLevels() const { return bands_.boardLevels(); }
  uint8_t boardClockMode() const { return bands_.boardClockMode(); }
  // The bars, as the last frame (drawn or not) left them; one set for every display mode.
  const BandAnimator& bands() const { return bands_; }

  // What the renderers take from `state` for a frame showing `line` (the Waveform's bins):
  // the window's, and the strip's on a screen of `screenSize` laid out by `layout`. The
  // tools that draw the program's frames take them from here too.
  static WindowFrameInput windowInput(const FrameState& state, std::span<const int32_t> line);
  static StripFrameInput stripInput(const FrameState& state, Point screenSize, const LayoutMetrics& layout,
                                    std::span<const int32_t> line);

  const SpectrumFrame& spectrum() const { return spectrum_; }
  SpectrumFrame& spectrum() { return spectrum_; }  // tests set levels
  const LayoutMetrics& layout() const { return layout_; }
  Point screenSize() const { return {screenWidth_, screenHeight_}; }
  // The strip's monitor as it was given (not raised to the minimum size).
  const Rect& monitor() const { return monitor_; }
  PixelView screenBuffer() const { return screenBuffer_; }
  PixelView windowBuffer() const { return windowBuffer_; }
  // What the window shows: the scaled buffer, or the window buffer itself at 100 %.
  PixelView shownWindowBuffer() const { return scale_.identity() ? windowBuffer_ : scaledBuffer_; }
  uint32_t frameMillis() const { return frameMillis_; }

 private:
  Presenter& presenter_;
  Clock& clock_;
  WindowAssets windowAssets_;
  PixelView windowBuffer_;
  WindowScale scale_;
  PixelView scaledBuffer_;      // scale_.size(); none at 100 %
  bool scaledStale_ = true;     // the scaled buffer does not show the window buffer yet
  DirtyRects scaledChanged_;
  PixelView screenBuffer_;
  int32_t screenWidth_ = 0;
  int32_t screenHeight_ = 0;
  Rect monitor_;
  LayoutMetrics layout_;
  SpectrumAnalyzer analyzer_;
  std::unique_ptr<float[]> samples_;          // the 2048 gathered samples
  std::unique_ptr<FrameDelay> delay_;
  SpectrumFrame spectrum_;                    // the latest analysis
  BandAnimator bands_;                        // stepped once a frame, whatever is drawn
  WindowRendererState windowRenderer_;
  StripRendererState stripRenderer_;
  // A frame whose bars were stepped but not drawn because nobody can see it: the next drawn
  // frame is drawn whole.
  void frameNotDrawn(DisplayMode mode);
  void makeScaledBuffer();
  uint32_t holdAfter(const FrameState& state, bool silentLevels, bool nothingChanged);

  bool quiet_ = false;    // the newest analysed samples are all 0
  bool still_ = false;    // the last frame: digital silence, no bars or peaks
  uint32_t framesHeld_ = 1;
  uint32_t frameMillis_ = 0;
  bool timerSeen_ = false;
  uint32_t ticks_ = 0;
  uint32_t measuredFrom_ = 0;
};

}  // namespace tonalis
