#include "app/frame_pipeline.h"

#include <algorithm>

#include "render/canvas.h"

namespace tonalis {

FramePipeline::FramePipeline(Presenter& presenter, Clock& clock) : presenter_(presenter), clock_(clock) {}

FramePipeline::~FramePipeline() { stop(); }

void FramePipeline::start(const AssetStore& assets, const Rect& monitor, int32_t fullScreenPosition) {
  windowAssets_ = WindowAssets::fromStore(assets);
  samples_ = std::make_unique<float[]>(AnalysisSize);
  delay_ = std::make_unique<FrameDelay>();
  spectrum_.bandLevels.fill(InitialBandLevel);
  spectrum_.spectrumLine.fill(0);
  bands_ = BandAnimator{};
  frameMillis_ = 0;
  windowBuffer_ = presenter_.createBuffer(WindowWidth, WindowHeight);
  makeScaledBuffer();
  monitor_ = monitor;
  screenWidth_ = std::max(monitor.width(), 400);
  screenHeight_ = std::max(monitor.height(), 300);
  screenBuffer_ = presenter_.createBuffer(screenWidth_, screenHeight_);
  layout_ = computeLayoutMetrics(screenWidth_, screenHeight_, fullScreenPosition);
}

void FramePipeline::makeScaledBuffer() {
  if (scaledBuffer_.pixels) presenter_.releaseBuffer(scaledBuffer_);
  if (!scale_.identity()) scaledBuffer_ = presenter_.createBuffer(scale_.size().x, scale_.size().y);
  scaledStale_ = true;
}

void FramePipeline::setWindowScale(int32_t percent) {
  if (WindowScale(percent).percent() == scale_.percent()) return;
  scale_ = WindowScale(percent);
  if (started()) makeScaledBuffer();
}

void FramePipeline::stop() {
  if (scaledBuffer_.pixels) presenter_.releaseBuffer(scaledBuffer_);
  if (screenBuffer_.pixels) presenter_.releaseBuffer(screenBuffer_);
  if (windowBuffer_.pixels) presenter_.releaseBuffer(windowBuffer_);
  screenBuffer_ = {};
  windowBuffer_ = {};
  samples_.reset();
}

void FramePipeline::screenChanged(const Rect& monitor, int32_t fullScreenPosition) {
  if (!started()) return;
  monitor_ = monitor;
  const int32_t width = std::max(monitor.width(), 400);
  const int32_t height = std::max(monitor.height(), 300);
  if (width != screenWidth_ || height != screenHeight_) {
    screenWidth_ = width;
    screenHeight_ = height;
    // Only the UI thread draws, so the buffer can change between two frames.
    presenter_.releaseBuffer(screenBuffer_);
    screenBuffer_ = presenter_.createBuffer(screenWidth_, screenHeight_);
    stripRenderer_.picture = {};  // a new buffer holds nothing drawn yet
  }
  layout_ = computeLayoutMetrics(screenWidth_, screenHeight_, fullScreenPosition);
}

void FramePipeline::timerTick() {
  if (!timerSeen_) {
    timerSeen_ = true;
    measuredFrom_ = clock_.tickCount();
  }
  if (++ticks_ == 20) {
    const uint32_t now = clock_.tickCount();
    frameMillis_ = (now - measuredFrom_) / 20;  // unsigned: a wrapped tick still subtracts right
    ticks_ = 0;
    measuredFrom_ = now;
  }
}

void FramePipeline::restartMeter() {
  timerSeen_ = false;
  ticks_ = 0;
}

WindowFrameInput FramePipeline::windowInput(const FrameState& state, std::span<const int32_t> line) {
  const DisplayState& d = state.display;
  return {d.spectrumStyle,    state.barColor, state.peakColor, d.unlitCellColor,      d.transparencyMode,
          d.clickThrough,     d.topMost,      state.boardConnected, line};
}

StripFrameInput FramePipeline::stripInput(const FrameState& state, Point screenSize, const LayoutMetrics& layout,
                                          std::span<const int32_t> line) {
  const DisplayState& d = state.display;
  return {d.displayMode,    d.fullScreenPosition, d.spectrumStyle, state.barColor, state.peakColor,
          d.unlitCellColor, screenSize.x,         screenSize.y,    layout,         line};
}

void FramePipeline::frameNotDrawn(DisplayMode mode) {
  if (mode == DisplayMode::Window) {
    // As the renderer does: the activity indicator rests in a long silence.
    if (bands_.longSilence()) windowRenderer_.activityCounter = 0;
    windowRenderer_.picture = {};
  } else {
    stripRenderer_.picture = {};
  }
}

void FramePipeline::skipSilentFrames(uint32_t frames, const DisplayState& display) {
  // Held: drawn, these frames would have drawn the picture the buffer holds.
  static constexpr BandLevels Silent{};
  for (uint32_t i = 0; i < frames; ++i) {
    bands_.step(Silent);
    if (display.displayMode == DisplayMode::Window) skipWindowFrame(bands_, windowAssets_, windowRenderer_);
  }
}

uint32_t FramePipeline::holdAfter(const FrameState& state, bool silentLevels, bool nothingChanged) {
  const bool wasStill = still_;
  still_ = !state.splash && quiet_ && silentLevels && bands_.atRest();
  if (!still_) return 1;
  // The first still frame may have left something behind (a falling line, say): one more
  // frame at the full rate shows it. After that only the activity indicator moves.
  if (!nothingChanged && !wasStill) return 1;
  const DisplayState& display = state.display;
  const bool indicatorTurns = state.seen && display.displayMode == DisplayMode::Window &&
                              display.transparencyMode != Minimal && !bands_.longSilence();
  if (!indicatorTurns) return HeldUntilSound;
  const int32_t toLongSilence = SilenceRunLimit - bands_.state().silenceRun;
  const int32_t toActivity = framesToActivityChange(bands_, windowAssets_, windowRenderer_);
  const int32_t frames = toActivity > 0 ? std::min(toActivity, toLongSilence) : toLongSilence;
  return uint32_t(std::max(frames, 1));
}

void FramePipeline::drawSplash(const Image& splash) { Canvas(windowBuffer_).drawImage(splash, {0, 0}); }

void FramePipeline::clearSplash() {
  Canvas(windowBuffer_).fillRect({0, 0, WindowWidth, WindowHeight}, 0);
  windowRenderer_.picture = {};  // the splash was drawn outside the renderer
}

void FramePipeline::run(const FrameState& state, const SampleRing& ring) {
  const DisplayState& display = state.display;
  const DisplayMode mode = display.displayMode;
  bool silentLevels = false;
  if (!state.splash) {
    // A copy the worker lapped is refused: the previous frame's levels stand instead.
    const std::span<float, AnalysisSize> samples(samples_.get(), AnalysisSize);
    if (ring.copyNewest(samples)) {
      analyzer_.analyzeSamples(samples, spectrum_);
      quiet_ = std::all_of(samples.begin(), samples.end(), [](float v) { return v == 0.0f; });
    }
    const SpectrumFrame& shown = delay_->push(spectrum_, clock_.tickCount(), state.delayMillis);
    BandLevels levels;
    silentLevels = true;
    for (int b = 0; b < BandCount; ++b) {
      levels[b] = int32_t(shown.bandLevels[b]);
      silentLevels = silentLevels && levels[b] <= 0;
    }
    bands_.step(levels);
    if (!state.seen) {
      frameNotDrawn(mode);
      framesHeld_ = holdAfter(state, silentLevels, true);
      return;
    }
    if (mode == DisplayMode::Window) {
      renderWindowFrame(windowBuffer_, bands_, windowInput(state, shown.spectrumLine), windowAssets_,
                        windowRenderer_, frameMillis_);
    } else {
      renderStripFrame(screenBuffer_, bands_, stripInput(state, screenSize(), layout_, shown.spectrumLine),
                       stripRenderer_);
    }
  }

  Presentation frame;
  frame.constantAlpha = display.constantAlpha;
  static constexpr Rect WholeWindow{0, 0, WindowWidth, WindowHeight};
  if (state.splash || mode == DisplayMode::Window) {
    const bool colorKey = display.transparencyMode == NoBackground || display.transparencyMode == Minimal;
    frame.source = windowBuffer_;
    frame.size = {WindowWidth, WindowHeight};
    // A faded window keeps its layered updates (they draw the fade where no compositor
    // does); an unfaded one is painted.
    frame.surface = colorKey ? Surface::PaintedColorKey
                    : frame.constantAlpha == 255 ? Surface::PaintedAlpha : Surface::LayeredAlpha;
    // The splash is drawn outside the renderer: all of it is new.
    frame.changed = state.splash ? std::span<const Rect>(&WholeWindow, 1) : windowRenderer_.changed.rects();
    if (!scale_.identity() && scaledBuffer_.pixels) {
      scaledChanged_.reset({0, 0, scale_.size().x, scale_.size().y});
      scale_.scaleInto(windowBuffer_, scaledBuffer_,
                       scaledStale_ ? std::span<const Rect>(&WholeWindow, 1) : frame.changed, scaledChanged_);
      scaledStale_ = false;
      frame.source = scaledBuffer_;
      frame.size = scale_.size();
      frame.changed = scaledChanged_.rects();
    }
  } else if (mode == DisplayMode::FullScreen) {
    // Opaque and topmost: an ordinary window, no layering.
    frame.source = screenBuffer_;
    frame.destination = Point{monitor_.left, monitor_.top};
    frame.size = {screenWidth_, screenHeight_};
    frame.surface = Surface::Opaque;
    frame.changed = stripRenderer_.changed.rects();
  } else {
    frame.source = screenBuffer_;
    frame.destination = Point{monitor_.left, monitor_.top + layout_.stripTop};
    frame.size = {screenWidth_, layout_.stripHeight};
    frame.surface = Surface::PaintedColorKey;
    frame.changed = stripRenderer_.changed.rects();
  }
  presenter_.present(frame);
  framesHeld_ = holdAfter(state, silentLevels, frame.changed.empty());
}

}  // namespace tonalis
