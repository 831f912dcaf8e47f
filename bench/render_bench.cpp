// Rendering cost per frame. References in the same run: a plain fill of the same frame
// buffer (the least any frame must do: clear it) and, for the whole frame, the analysis
// alone. The figures that matter are the ratios, not the absolute times:
//  - BM_WindowFrame/<style> (the bars stepped and drawn) against BM_ClearReference/443x145
//    (budget: about 20 us a frame);
//  - BM_StripFrame/<style> against BM_ClearReference/1920x1080;
//  - BM_WholeWindowFrame against BM_AnalysisOnly;
//  - BM_ScaledWindowFrame/<percent>/<style> against BM_ScaledWindowFrame/100/<style>: a frame
//    drawn and then scaled (its changed rectangles) into the window's buffer at 150 % and
//    200 %, against the same frame at 100 %, which is drawn only.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/analysis.h"
#include "audio/sample_ring.h"
#include "render/band_anim.h"
#include "render/embedded_source.h"
#include "render/layout_metrics.h"
#include "render/strip_renderer.h"
#include "render/window_renderer.h"
#include "render/window_scale.h"

namespace {

using namespace tonalis;

// The program's own bitmaps, as the portable build embeds them.
struct BenchImages {
  AssetStore store;
  BenchImages() {
    EmbeddedBitmapSource source;
    store.loadAll(source);
  }
};

// A cycle of level sets so the animation rises, falls and holds peaks.
std::array<BandLevels, 16> levelCycle() {
  std::array<BandLevels, 16> out{};
  for (size_t f = 0; f < out.size(); ++f)
    for (int b = 0; b < BandCount; ++b) out[f][b] = int32_t((b * 5 + f * 3) % 22);
  return out;
}

std::array<int32_t, SpectrumLineLength> makeLine() {
  std::array<int32_t, SpectrumLineLength> line{};
  for (int k = 0; k < SpectrumLineLength; ++k) line[size_t(k)] = (k * 37) % 130;
  return line;
}

void BM_ClearReference(benchmark::State& state) {
  const auto w = int32_t(state.range(0)), h = int32_t(state.range(1));
  std::vector<uint32_t> buffer(size_t(w) * size_t(h));
  for (auto _ : state) {
    std::fill(buffer.begin(), buffer.end(), 0u);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ClearReference)->Args({WindowWidth, WindowHeight})->Args({1920, 1080});

// The window's renderer as the pipeline runs it: the animator stepped through a cycle of
// levels, then the frame drawn into a 443 x 145 buffer.
struct WindowRig {
  explicit WindowRig(int32_t style) : assets(WindowAssets::fromStore(images.store)) {
    in.spectrumStyle = style;
    in.unlitCellColor = 0x1E1E1E;
    in.spectrumLine = line;
  }
  void frame() {
    bands.step(levels[f++ % levels.size()]);
    renderWindowFrame(view, bands, in, assets, rs, millis);
  }

  BenchImages images;
  const WindowAssets assets;
  std::vector<uint32_t> buffer = std::vector<uint32_t>(size_t(WindowWidth) * WindowHeight);
  const PixelView view{buffer.data(), WindowWidth, WindowHeight};
  const std::array<BandLevels, 16> levels = levelCycle();
  const std::array<int32_t, SpectrumLineLength> line = makeLine();
  WindowFrameInput in;
  WindowRendererState rs;
  uint32_t millis = 28;
  BandAnimator bands;
  size_t f = 0;
};

void BM_WindowFrame(benchmark::State& state) {
  WindowRig rig(int32_t(state.range(0)));
  for (auto _ : state) {
    rig.frame();
    benchmark::DoNotOptimize(rig.buffer.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_WindowFrame)->DenseRange(Block, Waveform)->Unit(benchmark::kMicrosecond);

void BM_StripFrame(benchmark::State& state) {
  StripFrameInput in;
  in.displayMode = DisplayMode::FullScreen;
  in.spectrumStyle = int32_t(state.range(0));
  in.unlitCellColor = 0x1E1E1E;
  in.screenWidth = 1920;
  in.screenHeight = 1080;
  in.layout = computeLayoutMetrics(in.screenWidth, in.screenHeight, Center);
  std::vector<uint32_t> buffer(size_t(in.screenWidth) * size_t(in.screenHeight));
  const PixelView view{buffer.data(), in.screenWidth, in.screenHeight};
  const auto levels = levelCycle();
  const auto line = makeLine();
  in.spectrumLine = line;
  StripRendererState anim;
  BandAnimator bands;  // stepped each frame, as the pipeline does
  size_t f = 0;
  for (auto _ : state) {
    bands.step(levels[f++ % levels.size()]);
    renderStripFrame(view, bands, in, anim);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StripFrame)->DenseRange(Block, Waveform)->Unit(benchmark::kMicrosecond);

void BM_ScaledWindowFrame(benchmark::State& state) {
  WindowRig rig(int32_t(state.range(1)));
  const WindowScale scale(int32_t(state.range(0)));
  std::vector<uint32_t> scaled(size_t(scale.size().x) * size_t(scale.size().y));
  const PixelView target{scaled.data(), scale.size().x, scale.size().y};
  DirtyRects changed;
  for (auto _ : state) {
    rig.frame();
    if (!scale.identity()) {
      changed.reset({0, 0, target.width, target.height});
      scale.scaleInto(rig.view, target, rig.rs.changed.rects(), changed);
    }
    benchmark::DoNotOptimize(scaled.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ScaledWindowFrame)
    ->ArgsProduct({{100, 150, 200}, {Block, Waveform}})
    ->Unit(benchmark::kMicrosecond);

RingSlots chordRing() {
  RingSlots ring{};
  for (int s = 0; s < RingSlotCount; ++s)
    for (int k = 0; k < BlockSamples; ++k) {
      const double t = (s * BlockSamples + k) / double(CaptureSampleRate);
      ring[size_t(s)][size_t(k)] =
          float(int(9000 * std::sin(2 * 3.14159265358979 * 440 * t) +
                    7000 * std::sin(2 * 3.14159265358979 * 3100 * t)));
    }
  return ring;
}

void BM_AnalysisOnly(benchmark::State& state) {
  const RingSlots ring = chordRing();
  SpectrumAnalyzer analyzer;
  std::array<float, AnalysisSize> samples{};
  SpectrumFrame frame;
  int32_t latest = 0;
  for (auto _ : state) {
    analyzer.analyzeSpectrum(ring, latest, samples, frame);
    latest = (latest + 1) % RingSlotCount;
    benchmark::DoNotOptimize(frame.bandLevels.data());
  }
}
BENCHMARK(BM_AnalysisOnly)->Unit(benchmark::kMicrosecond);

// The frame loop's work in Window mode: analysis, truncation, the bars' step, render.
void BM_WholeWindowFrame(benchmark::State& state) {
  const RingSlots ring = chordRing();
  SpectrumAnalyzer analyzer;
  std::array<float, AnalysisSize> samples{};
  SpectrumFrame frame;
  BenchImages images;
  const WindowAssets assets = WindowAssets::fromStore(images.store);
  std::vector<uint32_t> buffer(size_t(WindowWidth) * WindowHeight);
  const PixelView view{buffer.data(), WindowWidth, WindowHeight};
  WindowFrameInput in;
  in.spectrumStyle = int32_t(state.range(0));
  in.spectrumLine = frame.spectrumLine;
  WindowRendererState rs;
  uint32_t millis = 28;
  BandAnimator bands;  // stepped each frame, as the pipeline does
  int32_t latest = 0;
  for (auto _ : state) {
    analyzer.analyzeSpectrum(ring, latest, samples, frame);
    latest = (latest + 1) % RingSlotCount;
    BandLevels levels{};
    for (int b = 0; b < BandCount; ++b) levels[b] = int32_t(frame.bandLevels[b]);
    bands.step(levels);
    renderWindowFrame(view, bands, in, assets, rs, millis);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_WholeWindowFrame)->Arg(Block)->Arg(Waveform)->Unit(benchmark::kMicrosecond);

}  // namespace
