// The per-frame spectrum analysis against FFTW's 2048-point single-precision complex
// forward transform, in the same run. The ratio of the two times is the figure that
// matters: the analysis (gather, window, transform, magnitudes, line and bands) should
// cost at most 1.5 times the bare FFTW transform. A window of digital silence costs a small
// part of a transform.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/analysis.h"
#include "audio/sample_ring.h"

namespace {

using tonalis::AnalysisSize;
using tonalis::RingSlots;

// A ring full of a chord with some noise, so the work is not trivially zeros.
RingSlots makeRing() {
  RingSlots ring{};
  uint32_t seed = 12345;
  for (int s = 0; s < tonalis::RingSlotCount; ++s) {
    for (int k = 0; k < tonalis::BlockSamples; ++k) {
      const double t = (s * tonalis::BlockSamples + k) / 65536.0;
      seed = seed * 1664525u + 1013904223u;
      const double noise = static_cast<int32_t>(seed >> 16) - 32768;
      const double v = 9000 * std::sin(2 * 3.14159265358979 * 440 * t) +
                       7000 * std::sin(2 * 3.14159265358979 * 3100 * t) + 0.1 * noise;
      ring[s][k] = static_cast<float>(static_cast<int16_t>(v));
    }
  }
  return ring;
}

// One analysis per iteration, each of the next ring slot's newest window.
void analyzeRing(benchmark::State& state, const RingSlots& ring) {
  tonalis::SpectrumAnalyzer analyzer;
  std::vector<float> samples(AnalysisSize);
  tonalis::SpectrumFrame frame;
  int32_t latest = 0;
  for (auto _ : state) {
    analyzer.analyzeSpectrum(ring, latest, std::span<float, AnalysisSize>(samples.data(), AnalysisSize),
                             frame);
    benchmark::DoNotOptimize(frame);
    benchmark::ClobberMemory();
    latest = latest + 1 < tonalis::RingSlotCount ? latest + 1 : 0;
  }
}

void BM_AnalyzeSpectrum(benchmark::State& state) { analyzeRing(state, makeRing()); }
BENCHMARK(BM_AnalyzeSpectrum);

// A ring of digital silence (what a silent device delivers for as long as nothing plays):
// the analysis answers it without the transform.
void BM_AnalyzeSilence(benchmark::State& state) { analyzeRing(state, RingSlots{}); }
BENCHMARK(BM_AnalyzeSilence);

void BM_FftwForward2048(benchmark::State& state) {
  fftwf_complex* in = fftwf_alloc_complex(AnalysisSize);
  fftwf_complex* out = fftwf_alloc_complex(AnalysisSize);
  fftwf_plan plan = fftwf_plan_dft_1d(AnalysisSize, in, out, FFTW_FORWARD, FFTW_MEASURE);
  // FFTW_MEASURE scribbles over the arrays while planning; fill them afterwards.
  const RingSlots ring = makeRing();
  for (int i = 0; i < AnalysisSize; ++i) {
    in[i][0] = ring[i / tonalis::BlockSamples][i % tonalis::BlockSamples];
    in[i][1] = 0.0f;
  }
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
  fftwf_free(in);
  fftwf_free(out);
}
BENCHMARK(BM_FftwForward2048);

}  // namespace

BENCHMARK_MAIN();
