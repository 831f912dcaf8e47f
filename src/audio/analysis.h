// Spectrum analysis: the 2048 newest captured samples reduced to 24 band levels and a
// 429-point per-bin line, once per frame on the UI thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "audio/sample_ring.h"
#include "common/types.h"

namespace tonalis {

inline constexpr int32_t AnalysisSize = 2048;   // samples per analysis, 8 ring slots
inline constexpr int32_t AnalysisBlocks = AnalysisSize / BlockSamples;
inline constexpr int32_t HzPerBin = CaptureSampleRate / AnalysisSize;  // 32
inline constexpr int32_t UsedBins = 501;        // bins 0..500 feed the line and the bands

// Band centre frequencies in Hz, band 0 the lowest. Each band reads the single bin f / 32.
inline constexpr std::array<int32_t, BandCount> bandFrequencies = {
    32,  64,  96,  128, 160, 192, 256,  320,  384,  448,  512,  576,
    640, 704, 768, 832, 896, 960, 1000, 2000, 3000, 4000, 8000, 16000};

// Level a band shows before the first analysis.
inline constexpr float InitialBandLevel = 22.22f;

struct SpectrumFrame {
  // Bin magnitude over the band's divisor; 0 for silence, about 160.9 in band 1 for a
  // full-scale 64 Hz sine. Not clamped: mapping to cells is the renderers' job.
  std::array<float, BandCount> bandLevels = [] {
    std::array<float, BandCount> levels{};
    levels.fill(InitialBandLevel);
    return levels;
  }();
  // Index = bin k (32*k Hz, 0 .. 13 696 Hz); frequency-weighted magnitude truncated toward
  // zero. 0 or positive, no upper bound (the Waveform renderer clamps).
  std::array<int32_t, SpectrumLineLength> spectrumLine{};
};

// Divisor applied to the magnitude of the band at `hz`: piecewise linear, continuous at
// 256 and 6000 Hz, computed in double and rounded to float.
float bandDivisor(int32_t hz);

// True when every sample is exactly zero (either sign): what a silent device or a monitor of
// a silent output delivers. Its spectrum is all zeros, which the analyzer gives without a
// transform.
bool digitalSilence(std::span<const float> samples);

// The reference transform: iterative radix-2 decimation in time, in place, unnormalised.
// `data` holds n complex values as (real, imaginary) float pairs; sign -1 is the forward
// transform X(k) = sum x(j) e^(-2 pi i k j / n). Twiddles are computed per butterfly in
// single precision from their angle. n must be a power of two; any other n (or n < 2)
// leaves the data unchanged. Slow; the analyzer uses its own transform and the tests
// hold it to this one.
void fftInPlace(int32_t sign, int32_t n, float* data);

// Owns the precomputed tables (Hamming window, twiddles, divisors) and the work arrays, all
// made once by the constructor; analyzeSpectrum allocates nothing. Not thread-safe: one
// analyzer per analysing thread. About 60 KiB on the heap.
class SpectrumAnalyzer {
 public:
  // Automatic uses the widest vector code the processor runs; Portable forces the baseline
  // code (for tests: both give identical results).
  enum class Path { Automatic, Portable };
  explicit SpectrumAnalyzer(Path path = Path::Automatic);
  ~SpectrumAnalyzer();
  SpectrumAnalyzer(const SpectrumAnalyzer&) = delete;
  SpectrumAnalyzer& operator=(const SpectrumAnalyzer&) = delete;

  // Gathers the 8 slots ending at `latestBlock` (0..29; other values are taken modulo 30)
  // into `analysisSamples`, oldest first (newest sample at 2047), windows them with a
  // Hamming window, transforms, scales by 1/1024 and rewrites both arrays of `frame`.
  // The ring must not change during the call (tools and tests; the program copies from its
  // SampleRing first and calls analyzeSamples).
  void analyzeSpectrum(const RingSlots& ring, int32_t latestBlock,
                       std::span<float, AnalysisSize> analysisSamples, SpectrumFrame& frame);

  // The same from samples already gathered (oldest first), as SampleRing::copyNewest gives them.
  void analyzeSamples(std::span<float, AnalysisSize> analysisSamples, SpectrumFrame& frame);

  // Magnitudes of bins 0..500 from the last analyzeSpectrum (scaled by 1/1024), for tests and
  // tools; valid until the next call.
  std::span<const float, UsedBins> magnitudes() const;

  struct Tables;  // defined in the source file

 private:
  std::unique_ptr<Tables> tables_;
};

}  // namespace tonalis
