#include "audio/analysis.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

// Vector paths. std::sqrt's errno contract keeps compilers from vectorising it, so the
// magnitudes use the packed square-root instruction where there is one (same correctly
// rounded result). With GCC or Clang on x86 the transform is also compiled a second time
// for AVX2 and chosen at start-up when the processor has it; both paths do the same
// operations in the same order (no fused multiply-add), so they give identical results.
#if defined(__SSE__) || defined(_M_X64) || defined(_M_AMD64)
#include <immintrin.h>
#define TONALIS_PACKED_SQRT 1
#else
#define TONALIS_PACKED_SQRT 0
#endif

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define TONALIS_AVX2_PATH 1
#define TONALIS_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define TONALIS_AVX2_PATH 0
#define TONALIS_ALWAYS_INLINE inline
#endif

namespace tonalis {
namespace {

// pi as the program has always computed it, once, in double precision.
const double Pi = 2.0 * std::asin(1.0);

// The 2048 real windowed samples are transformed as 1024 complex values
// z(j) = x(2j) + i x(2j+1), then untangled into the bins of the real transform.
constexpr int HalfSize = AnalysisSize / 2;  // 1024 = 4^5: five radix-4 passes

// Offsets of each radix-4 pass's twiddles in the shared tables: a pass over sub-transforms
// of length n has n/4 twiddle triples (256, 64, 16, 4, 1).
constexpr int PassTwiddleOffset[5] = {0, 256, 320, 336, 340};
constexpr int PassTwiddleTotal = 341;

// Bins computed per call, rounded up to whole 8-float groups.
constexpr int PaddedBins = (UsedBins + 7) / 8 * 8;

}  // namespace

struct SpectrumAnalyzer::Tables {
  // Hamming window split into even and odd samples, matching the real/imaginary packing.
  alignas(64) float windowEven[HalfSize];
  alignas(64) float windowOdd[HalfSize];
  // Radix-4 twiddles e^(-2 pi i k p / n) for k = 1, 2, 3, real and imaginary parts.
  alignas(64) float w1r[PassTwiddleTotal], w1i[PassTwiddleTotal];
  alignas(64) float w2r[PassTwiddleTotal], w2i[PassTwiddleTotal];
  alignas(64) float w3r[PassTwiddleTotal], w3i[PassTwiddleTotal];
  // cos and sin of 2 pi k / 2048 for the untangling step.
  alignas(64) float unCos[PaddedBins];
  alignas(64) float unSin[PaddedBins];
  // Per-bin divisor of the spectrum line and per-band divisor and bin.
  alignas(64) float lineDivisor[SpectrumLineLength];
  float bandDiv[BandCount];
  int32_t bandBin[BandCount];
  // Work arrays: the transform ping-pongs between x and y; magnitudes of bins 0..503.
  alignas(64) float xr[HalfSize], xi[HalfSize];
  alignas(64) float yr[HalfSize], yi[HalfSize];
  alignas(64) float magnitude[PaddedBins];
  // The transform path chosen for this processor.
  void (*transform)(SpectrumAnalyzer::Tables&, const float* samples) = nullptr;
  // The last analysis was of digital silence: frame and magnitudes are all zeros.
  bool silent = false;
};

float bandDivisor(int32_t hz) {
  const double f = hz;
  double d;
  if (hz < 256) {
    d = 110.0;
  } else if (hz < 1000) {
    d = 134.064 - 0.094 * f;
  } else if (hz < 6000) {
    d = 46.0 - 0.006 * f;
  } else if (hz < 15000) {
    d = 10.0;
  } else {
    d = 8.0;
  }
  return static_cast<float>(d);
}

void fftInPlace(int32_t sign, int32_t n, float* data) {
  if (n < 2 || (n & (n - 1)) != 0) {
    return;
  }
  const float theta0 = static_cast<float>(sign * Pi);

  // Bit-reversal permutation: j walks the bit-reversed counterparts of i.
  int32_t j = 0;
  for (int32_t i = 1; i < n; ++i) {
    int32_t k = n / 2;
    while (k + j >= n) {
      k /= 2;
    }
    j = (j % k) + k;
    if (j > i) {
      std::swap(data[2 * i], data[2 * j]);
      std::swap(data[2 * i + 1], data[2 * j + 1]);
    }
  }

  for (int32_t le = 1; le < n; le *= 2) {
    for (int32_t m = 0; m < le; ++m) {
      const float theta = static_cast<float>(m) * theta0 / static_cast<float>(le);
      const float wr = std::cos(theta);
      const float wi = std::sin(theta);
      for (int32_t idx = m; idx < n; idx += 2 * le) {
        float* a = data + 2 * (idx + le);
        float* b = data + 2 * idx;
        const float tr = a[0] * wr - a[1] * wi;
        const float ti = a[1] * wr + a[0] * wi;
        a[0] = b[0] - tr;
        a[1] = b[1] - ti;
        b[0] = b[0] + tr;
        b[1] = b[1] + ti;
      }
    }
  }
}

namespace {

using Tables = SpectrumAnalyzer::Tables;

// Twiddles e^(-2 pi i k p / n), k = 1, 2, 3, of one radix-4 pass, indexed by p; for the
// first pass also the window halves.
struct PassTwiddles {
  const float* w1r;
  const float* w1i;
  const float* w2r;
  const float* w2i;
  const float* w3r;
  const float* w3i;
  const float* windowEven;
  const float* windowOdd;
};

// One radix-4 Stockham pass (self-sorting, so no bit reversal): x holds `S` interleaved
// sub-transforms of length N, y receives 4S of length N/4. The loops have fixed trip
// counts and unit strides (over q when S >= 4, over p when S == 1) so they vectorise.
// The first pass (Windowed) reads the real samples instead, xr pointing at them, and
// windows them on the way: even samples become real parts, odd ones imaginary parts.
template <int N, int S, bool Windowed = false>
TONALIS_ALWAYS_INLINE void radix4Pass(const float* __restrict xr, const float* __restrict xi,
                                      float* __restrict yr, float* __restrict yi,
                                      const PassTwiddles& tw) {
  constexpr int M = N / 4;
  static_assert(!Windowed || S == 1);
  const float* __restrict w1r = tw.w1r;
  const float* __restrict w1i = tw.w1i;
  const float* __restrict w2r = tw.w2r;
  const float* __restrict w2i = tw.w2i;
  const float* __restrict w3r = tw.w3r;
  const float* __restrict w3i = tw.w3i;
  const float* __restrict we = tw.windowEven;
  const float* __restrict wo = tw.windowOdd;
  for (int p = 0; p < M; ++p) {
    const float c1 = w1r[p], s1 = w1i[p];
    const float c2 = w2r[p], s2 = w2i[p];
    const float c3 = w3r[p], s3 = w3i[p];
    for (int q = 0; q < S; ++q) {
      const int i0 = q + S * p;
      float v[8];  // a, b, c, d as (re, im)
      for (int r = 0; r < 4; ++r) {
        const int i = i0 + r * S * M;
        if constexpr (Windowed) {
          v[2 * r] = we[i] * xr[2 * i];
          v[2 * r + 1] = wo[i] * xr[2 * i + 1];
        } else {
          v[2 * r] = xr[i];
          v[2 * r + 1] = xi[i];
        }
      }
      const float apcR = v[0] + v[4], apcI = v[1] + v[5];
      const float amcR = v[0] - v[4], amcI = v[1] - v[5];
      const float bpdR = v[2] + v[6], bpdI = v[3] + v[7];
      // j * (b - d)
      const float jR = v[7] - v[3], jI = v[2] - v[6];
      const float v1r = amcR - jR, v1i = amcI - jI;
      const float v2r = apcR - bpdR, v2i = apcI - bpdI;
      const float v3r = amcR + jR, v3i = amcI + jI;
      const int o = q + S * 4 * p;
      yr[o] = apcR + bpdR;
      yi[o] = apcI + bpdI;
      if constexpr (M == 1) {
        yr[o + S] = v1r;
        yi[o + S] = v1i;
        yr[o + 2 * S] = v2r;
        yi[o + 2 * S] = v2i;
        yr[o + 3 * S] = v3r;
        yi[o + 3 * S] = v3i;
      } else {
        yr[o + S] = v1r * c1 - v1i * s1;
        yi[o + S] = v1r * s1 + v1i * c1;
        yr[o + 2 * S] = v2r * c2 - v2i * s2;
        yi[o + 2 * S] = v2r * s2 + v2i * c2;
        yr[o + 3 * S] = v3r * c3 - v3i * s3;
        yi[o + 3 * S] = v3r * s3 + v3i * c3;
      }
    }
  }
}

// Window, transform and squared magnitudes of bins 0..503 into t.magnitude; the caller takes
// the roots. Compiled once per path: the instructions come from the caller's target.
TONALIS_ALWAYS_INLINE void transformBody(Tables& t, const float* samples) {
  // 1024-point complex transform of z(j) = x(2j) + i x(2j+1), samples -> y -> x -> y -> x -> y.
  const auto tw = [&t](int pass) {
    const int at = PassTwiddleOffset[pass];
    return PassTwiddles{t.w1r + at, t.w1i + at, t.w2r + at, t.w2i + at,
                        t.w3r + at, t.w3i + at, t.windowEven, t.windowOdd};
  };
  radix4Pass<1024, 1, true>(samples, nullptr, t.yr, t.yi, tw(0));
  radix4Pass<256, 4>(t.yr, t.yi, t.xr, t.xi, tw(1));
  radix4Pass<64, 16>(t.xr, t.xi, t.yr, t.yi, tw(2));
  radix4Pass<16, 64>(t.yr, t.yi, t.xr, t.xi, tw(3));
  radix4Pass<4, 256>(t.xr, t.xi, t.yr, t.yi, tw(4));

  // Untangle the bins of the real 2048-point transform from Z = FFT(z):
  // X(k) = (Z(k) + conj Z(1024-k)) / 2 + e^(-2 pi i k / 2048) (Z(k) - conj Z(1024-k)) / 2i,
  // then scale by 1/1024 (together 1/2048, exact) and take the magnitude.
  constexpr float Scale = 1.0f / 2048.0f;
  const float* __restrict zr = t.yr;
  const float* __restrict zi = t.yi;
  const float* __restrict cosK = t.unCos;
  const float* __restrict sinK = t.unSin;
  float* __restrict mag = t.magnitude;
  {
    // Bin 0: Z(1024) is Z(0); the result is real.
    const float re = (zr[0] + zi[0]) * (2.0f * Scale);
    mag[0] = re * re;
  }
  for (int k = 1; k < PaddedBins; ++k) {
    const float pr = zr[k], pi = zi[k];
    const float nr = zr[HalfSize - k], ni = zi[HalfSize - k];
    const float sumR = pr + nr;  // 2 Re E
    const float difI = pi - ni;  // 2 Im E
    const float oR = pi + ni;    // 2 Re O
    const float oI = nr - pr;    // 2 Im O
    // e^(-i a) = (cos a, -sin a)
    const float re = (sumR + cosK[k] * oR + sinK[k] * oI) * Scale;
    const float im = (difI + cosK[k] * oI - sinK[k] * oR) * Scale;
    mag[k] = re * re + im * im;
  }
}

void transformPortable(Tables& t, const float* samples) {
  transformBody(t, samples);
  float* mag = t.magnitude;
#if TONALIS_PACKED_SQRT
  for (int k = 0; k < PaddedBins; k += 4) {
    _mm_store_ps(mag + k, _mm_sqrt_ps(_mm_load_ps(mag + k)));
  }
#else
  for (int k = 0; k < PaddedBins; ++k) {
    mag[k] = std::sqrt(mag[k]);
  }
#endif
}

#if TONALIS_AVX2_PATH
__attribute__((target("avx2"))) void transformAvx2(Tables& t, const float* samples) {
  transformBody(t, samples);
  float* mag = t.magnitude;
  for (int k = 0; k < PaddedBins; k += 8) {
    _mm256_store_ps(mag + k, _mm256_sqrt_ps(_mm256_load_ps(mag + k)));
  }
}

bool hasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

}  // namespace

bool digitalSilence(std::span<const float> samples) {
  // Bit patterns, so that -0.0 counts as zero and the loop vectorises without fast-math.
  uint32_t bits = 0;
  for (const float v : samples) bits |= std::bit_cast<uint32_t>(v);
  return (bits & 0x7FFFFFFFu) == 0;
}

SpectrumAnalyzer::SpectrumAnalyzer(Path path) : tables_(std::make_unique<Tables>()) {
  Tables& t = *tables_;
  for (int i = 0; i < AnalysisSize; ++i) {
    // i + 1, not i: the window is 0.08 at the newest sample, 1.0 at 1023.
    const float w = static_cast<float>(0.54 - 0.46 * std::cos(2.0 * Pi * (i + 1) / AnalysisSize));
    if (i % 2 == 0) {
      t.windowEven[i / 2] = w;
    } else {
      t.windowOdd[i / 2] = w;
    }
  }
  for (int pass = 0, n = HalfSize; pass < 5; ++pass, n /= 4) {
    for (int p = 0; p < n / 4; ++p) {
      const int at = PassTwiddleOffset[pass] + p;
      const double a = -2.0 * Pi * p / n;
      t.w1r[at] = static_cast<float>(std::cos(a));
      t.w1i[at] = static_cast<float>(std::sin(a));
      t.w2r[at] = static_cast<float>(std::cos(2 * a));
      t.w2i[at] = static_cast<float>(std::sin(2 * a));
      t.w3r[at] = static_cast<float>(std::cos(3 * a));
      t.w3i[at] = static_cast<float>(std::sin(3 * a));
    }
  }
  for (int k = 0; k < PaddedBins; ++k) {
    const double a = 2.0 * Pi * k / AnalysisSize;
    t.unCos[k] = static_cast<float>(std::cos(a));
    t.unSin[k] = static_cast<float>(std::sin(a));
  }
  for (int k = 0; k < SpectrumLineLength; ++k) {
    t.lineDivisor[k] = static_cast<float>(110.2208 - 0.0069 * (HzPerBin * k));
  }
  for (int b = 0; b < BandCount; ++b) {
    t.bandDiv[b] = bandDivisor(bandFrequencies[b]);
    t.bandBin[b] = bandFrequencies[b] / HzPerBin;
  }
  std::memset(t.magnitude, 0, sizeof t.magnitude);
  t.transform = transformPortable;
#if TONALIS_AVX2_PATH
  if (path == Path::Automatic && hasAvx2()) {
    t.transform = transformAvx2;
  }
#else
  (void)path;
#endif
}

SpectrumAnalyzer::~SpectrumAnalyzer() = default;

std::span<const float, UsedBins> SpectrumAnalyzer::magnitudes() const {
  return std::span<const float, UsedBins>(tables_->magnitude, UsedBins);
}

void SpectrumAnalyzer::analyzeSpectrum(const RingSlots& ring, int32_t latestBlock,
                                       std::span<float, AnalysisSize> analysisSamples,
                                       SpectrumFrame& frame) {
  // Gather the 8 slots ending at latestBlock, oldest first.
  const int32_t latest = ((latestBlock % RingSlotCount) + RingSlotCount) % RingSlotCount;
  int32_t slot = latest - (AnalysisBlocks - 1);
  if (slot < 0) {
    slot += RingSlotCount;
  }
  float* samples = analysisSamples.data();
  for (int b = 0; b < AnalysisBlocks; ++b) {
    std::memcpy(samples + b * BlockSamples, ring[slot].data(), sizeof(float) * BlockSamples);
    slot = slot + 1 < RingSlotCount ? slot + 1 : 0;
  }
  analyzeSamples(analysisSamples, frame);
}

void SpectrumAnalyzer::analyzeSamples(std::span<float, AnalysisSize> analysisSamples,
                                      SpectrumFrame& frame) {
  Tables& t = *tables_;
  if (digitalSilence(analysisSamples)) {
    // Every bin of an all-zero window is exactly zero, so is everything derived from it:
    // the transform would only confirm it.
    if (!t.silent) std::memset(t.magnitude, 0, sizeof t.magnitude);
    t.silent = true;
    frame.spectrumLine.fill(0);
    frame.bandLevels.fill(0.0f);
    return;
  }
  t.silent = false;
  t.transform(t, analysisSamples.data());

  // Frequency-weighted line over bins 0..428, then one bin per band.
  for (int k = 0; k < SpectrumLineLength; ++k) {
    const float q = t.magnitude[k] * 5.0f / t.lineDivisor[k];
    frame.spectrumLine[k] = static_cast<int32_t>(q);
  }
  for (int b = 0; b < BandCount; ++b) {
    frame.bandLevels[b] = t.magnitude[t.bandBin[b]] / t.bandDiv[b];
  }
}

}  // namespace tonalis
