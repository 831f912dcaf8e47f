#include "audio/analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace tonalis {
namespace {

constexpr double TwoPi = 2.0 * std::numbers::pi;

using Signal = std::vector<float>;  // 2048 samples, oldest first

// Lays a 2048-sample signal into the ring so that it ends at slot `latest`.
RingSlots ringHolding(const Signal& signal, int32_t latest) {
  RingSlots ring{};
  for (int b = 0; b < AnalysisBlocks; ++b) {
    const int slot = (latest - (AnalysisBlocks - 1) + b + RingSlotCount) % RingSlotCount;
    std::copy_n(signal.begin() + b * BlockSamples, BlockSamples, ring[slot].begin());
  }
  return ring;
}

// What capture would store for a sine: 16-bit samples as floats.
Signal tone(double hz, double amplitude) {
  Signal s(AnalysisSize);
  for (int i = 0; i < AnalysisSize; ++i) {
    s[i] = static_cast<float>(std::lround(amplitude * std::sin(TwoPi * hz * i / CaptureSampleRate)));
  }
  return s;
}

Signal noise(uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> dist(-32768, 32767);
  Signal s(AnalysisSize);
  for (float& v : s) {
    v = static_cast<float>(dist(gen));
  }
  return s;
}

struct Analysis {
  SpectrumFrame frame;
  std::vector<float> samples = std::vector<float>(AnalysisSize);
  std::vector<float> magnitudes;
};

Analysis analyze(const RingSlots& ring, int32_t latest) {
  static SpectrumAnalyzer analyzer;  // tables are made once, as in the program
  Analysis a;
  analyzer.analyzeSpectrum(ring, latest, std::span<float, AnalysisSize>(a.samples.data(), AnalysisSize),
                           a.frame);
  a.magnitudes.assign(analyzer.magnitudes().begin(), analyzer.magnitudes().end());
  return a;
}

Analysis analyze(const Signal& signal) { return analyze(ringHolding(signal, 11), 11); }

// The analysis done the slow, literal way: float window, the reference radix-2 transform,
// scaling, float magnitudes.
std::vector<float> referenceMagnitudes(const Signal& x) {
  const double pi = 2.0 * std::asin(1.0);
  std::vector<float> work(2 * AnalysisSize);
  for (int i = 0; i < AnalysisSize; ++i) {
    const float w = static_cast<float>(0.54 - 0.46 * std::cos(2.0 * pi * (i + 1) / AnalysisSize));
    work[2 * i] = w * x[i];
    work[2 * i + 1] = 0.0f;
  }
  fftInPlace(-1, AnalysisSize, work.data());
  std::vector<float> m(UsedBins);
  for (int k = 0; k < UsedBins; ++k) {
    const float re = work[2 * k] * 0.0009765625f;
    const float im = work[2 * k + 1] * 0.0009765625f;
    m[k] = std::sqrt(re * re + im * im);
  }
  return m;
}

// The same in double precision with a direct DFT: the ideal both are held to.
std::vector<double> exactMagnitudes(const Signal& x) {
  std::vector<double> m(UsedBins);
  for (int k = 0; k < UsedBins; ++k) {
    std::complex<double> sum = 0;
    for (int i = 0; i < AnalysisSize; ++i) {
      const double w = 0.54 - 0.46 * std::cos(TwoPi * (i + 1) / AnalysisSize);
      sum += w * x[i] * std::polar(1.0, -TwoPi * ((static_cast<int64_t>(k) * i) % AnalysisSize) / AnalysisSize);
    }
    m[k] = std::abs(sum) / 1024.0;
  }
  return m;
}

double rms(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x * x;
  return std::sqrt(s / v.size());
}

TEST(FftInPlace, MatchesDirectDftForEverySize) {
  for (int n : {2, 4, 8, 64, 512, 2048}) {
    std::mt19937 gen(n);
    std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
    std::vector<float> data(2 * n);
    for (float& v : data) v = dist(gen);
    const std::vector<float> input = data;
    fftInPlace(-1, n, data.data());
    double worst = 0, scale = 0;
    for (int k = 0; k < n; ++k) {
      std::complex<double> sum = 0;
      for (int j = 0; j < n; ++j) {
        sum += std::complex<double>(input[2 * j], input[2 * j + 1]) *
               std::polar(1.0, -TwoPi * ((static_cast<int64_t>(k) * j) % n) / n);
      }
      worst = std::max(worst, std::abs(sum - std::complex<double>(data[2 * k], data[2 * k + 1])));
      scale = std::max(scale, std::abs(sum));
    }
    EXPECT_LT(worst, 1e-5 * scale) << "n = " << n;
  }
}

TEST(FftInPlace, InverseSignRoundTripsAndBadSizesAreLeftAlone) {
  std::vector<float> data = {1, 2, 3, 4, 5, 6, 7, 8, -1, -2, -3, -4, 0, 0, 9, 9};
  const std::vector<float> input = data;
  fftInPlace(-1, 8, data.data());
  fftInPlace(1, 8, data.data());
  for (size_t i = 0; i < data.size(); ++i) {
    EXPECT_NEAR(data[i] / 8, input[i], 1e-5);
  }
  for (int n : {0, 1, 3, 6, -4}) {
    std::vector<float> same = input;
    fftInPlace(-1, n, same.data());
    EXPECT_EQ(same, input) << "n = " << n;
  }
}

// The fast transform must stay within single-precision rounding of the literal algorithm:
// its error against the exact spectrum is of the same order as the reference's.
TEST(SpectrumAnalyzer, MagnitudesMatchReferenceWithinSinglePrecision) {
  std::vector<Signal> signals = {noise(1), noise(2), tone(440.0, 30000), tone(3100.5, 20000)};
  Signal mix = tone(100.0, 10000);
  const Signal n3 = noise(3);
  for (int i = 0; i < AnalysisSize; ++i) mix[i] += std::round(n3[i] / 64);
  signals.push_back(mix);
  for (size_t s = 0; s < signals.size(); ++s) {
    const std::vector<double> exact = exactMagnitudes(signals[s]);
    const std::vector<float> ref = referenceMagnitudes(signals[s]);
    const Analysis fast = analyze(signals[s]);
    double refErr = 0, fastErr = 0;
    for (int k = 0; k < UsedBins; ++k) {
      refErr = std::max(refErr, std::abs(ref[k] - exact[k]));
      fastErr = std::max(fastErr, std::abs(fast.magnitudes[k] - exact[k]));
    }
    const double level = rms(exact);
    SCOPED_TRACE(testing::Message() << "signal " << s << " rms " << level << " ref err "
                                    << refErr << " fast err " << fastErr);
    EXPECT_LT(refErr, 5e-6 * level + 1e-3);
    EXPECT_LT(fastErr, 5e-6 * level + 1e-3);
    // Outputs derived from the magnitudes agree with the literal computation.
    for (int k = 0; k < SpectrumLineLength; ++k) {
      const float d = static_cast<float>(110.2208 - 0.0069 * (32 * k));
      EXPECT_NEAR(fast.frame.spectrumLine[k], static_cast<int32_t>(ref[k] * 5.0f / d), 1) << "bin " << k;
    }
    for (int b = 0; b < BandCount; ++b) {
      const float want = ref[bandFrequencies[b] / 32] / bandDivisor(bandFrequencies[b]);
      EXPECT_NEAR(fast.frame.bandLevels[b], want, 1e-4 * std::max(1.0f, want)) << "band " << b;
    }
  }
}

// The vector path chosen for the processor and the baseline path do the same arithmetic.
TEST(SpectrumAnalyzer, ProcessorPathsAgreeExactly) {
  SpectrumAnalyzer automatic(SpectrumAnalyzer::Path::Automatic);
  SpectrumAnalyzer portable(SpectrumAnalyzer::Path::Portable);
  std::vector<float> samples(AnalysisSize);
  const std::span<float, AnalysisSize> view(samples.data(), AnalysisSize);
  for (uint32_t seed : {7u, 8u, 9u}) {
    const RingSlots ring = ringHolding(noise(seed), 20);
    SpectrumFrame a, b;
    automatic.analyzeSpectrum(ring, 20, view, a);
    portable.analyzeSpectrum(ring, 20, view, b);
    EXPECT_EQ(a.bandLevels, b.bandLevels);
    EXPECT_EQ(a.spectrumLine, b.spectrumLine);
    EXPECT_TRUE(std::equal(automatic.magnitudes().begin(), automatic.magnitudes().end(),
                           portable.magnitudes().begin()));
  }
}

// Each band reads one bin through a divisor. A tone on the band's bin gives 0.54 A there
// (the window's mean); a band reading a neighbouring bin would see 0.23 A, and one further
// away nothing.
TEST(SpectrumAnalyzer, EachBandReadsItsBinThroughItsDivisor) {
  struct Row {
    int32_t hz;
    int bin;
    float divisor;
  };
  const Row rows[BandCount] = {
      {32, 1, 110},       {64, 2, 110},       {96, 3, 110},       {128, 4, 110},
      {160, 5, 110},      {192, 6, 110},      {256, 8, 110},      {320, 10, 103.984f},
      {384, 12, 97.968f}, {448, 14, 91.952f}, {512, 16, 85.936f}, {576, 18, 79.92f},
      {640, 20, 73.904f}, {704, 22, 67.888f}, {768, 24, 61.872f}, {832, 26, 55.856f},
      {896, 28, 49.84f},  {960, 30, 43.824f}, {1000, 31, 40},     {2000, 62, 34},
      {3000, 93, 28},     {4000, 125, 22},    {8000, 250, 10},    {16000, 500, 8},
  };
  constexpr double A = 32767;
  for (int b = 0; b < BandCount; ++b) {
    SCOPED_TRACE(testing::Message() << "band " << b);
    EXPECT_EQ(bandFrequencies[b], rows[b].hz);
    EXPECT_FLOAT_EQ(bandDivisor(rows[b].hz), rows[b].divisor);
    const Analysis a = analyze(tone(rows[b].bin * 32.0, A));
    EXPECT_NEAR(a.frame.bandLevels[b], 0.54 * A / rows[b].divisor, 0.002 * 0.54 * A / rows[b].divisor);
  }
  EXPECT_FLOAT_EQ(bandDivisor(5999), 10.006f);
  EXPECT_FLOAT_EQ(bandDivisor(6000), 10.0f);
  EXPECT_FLOAT_EQ(bandDivisor(14999), 10.0f);
  EXPECT_FLOAT_EQ(bandDivisor(15000), 8.0f);
}

// The worked values: which bands a signal reaches, and how far.
struct BandCase {
  const char* name;
  Signal signal;
  std::vector<std::pair<int, double>> lit;  // band, expected level; every other band is 0
};

TEST(SpectrumAnalyzer, WorkedBandValues) {
  constexpr double A = 32767;
  const std::vector<BandCase> cases = {
      {"64 Hz", tone(64, A), {{0, 0.23 * A / 110}, {1, 0.54 * A / 110}, {2, 0.23 * A / 110}}},
      {"288 Hz between bands 6 and 7", tone(288, A), {{6, 0.23 * A / 110}, {7, 0.23 * A / 103.984}}},
      {"8000 Hz", tone(8000, A), {{22, 0.54 * A / 10}}},
      {"16000 Hz", tone(16000, A), {{23, 0.54 * A / 8}}},
      {"constant offset", Signal(AnalysisSize, 10000.0f), {{0, 0.46 * 10000 / 110}}},
      {"silence", Signal(AnalysisSize, 0.0f), {}},
  };
  for (const BandCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Analysis a = analyze(c.signal);
    std::vector<double> want(BandCount, 0.0);
    for (auto [band, level] : c.lit) want[band] = level;
    for (int b = 0; b < BandCount; ++b) {
      if (want[b] == 0.0) {
        // Only the 16-bit rounding of the tone is left there; the renderers see 0.
        EXPECT_EQ(static_cast<int32_t>(a.frame.bandLevels[b]), 0) << "band " << b;
        EXPECT_LT(a.frame.bandLevels[b], 0.01) << "band " << b;
      } else {
        EXPECT_NEAR(a.frame.bandLevels[b], want[b], 0.001 * want[b]) << "band " << b;
      }
    }
  }
  // What a full-scale tone reads at the low, middle and top end of the scale.
  EXPECT_NEAR(analyze(tone(64, A)).frame.bandLevels[1], 160.9, 0.05);
  EXPECT_NEAR(analyze(tone(8000, A)).frame.bandLevels[22], 1769.4, 0.5);
  EXPECT_NEAR(analyze(tone(16000, A)).frame.bandLevels[23], 2211.8, 0.5);
}

TEST(SpectrumAnalyzer, SpectrumLineWeightsEachBin) {
  // A constant shows only in bin 0 (and bin 1 through the window).
  const Analysis dc = analyze(Signal(AnalysisSize, 10000.0f));
  EXPECT_EQ(dc.frame.spectrumLine[0], static_cast<int32_t>(1.08 * 10000 * 5 / 110.2208));
  EXPECT_EQ(dc.frame.spectrumLine[1], static_cast<int32_t>(0.46 * 10000 * 5 / (110.2208 - 0.0069 * 32)));
  for (int k = 2; k < SpectrumLineLength; ++k) {
    EXPECT_EQ(dc.frame.spectrumLine[k], 0) << "bin " << k;
  }
  // The top of the line is weighted most: bin 428 divides by 15.7184. Values above 99
  // are passed through unclamped.
  const Analysis top = analyze(tone(428 * 32, 32767));
  EXPECT_NEAR(top.frame.spectrumLine[428], 0.54 * 32767 * 5 / 15.7184, 2);
  EXPECT_NEAR(top.frame.spectrumLine[427], 0.23 * 32767 * 5 / (110.2208 - 0.0069 * 32 * 427), 2);
  EXPECT_EQ(top.frame.spectrumLine[425], 0);

  const Analysis quiet = analyze(Signal(AnalysisSize, 0.0f));
  for (int k = 0; k < SpectrumLineLength; ++k) {
    EXPECT_EQ(quiet.frame.spectrumLine[k], 0) << "bin " << k;
  }
}

// An impulse of height 1024 at sample i puts exactly the window value w(i) into bin 0: the
// window uses i + 1, so it is 0.0800022 at the oldest sample, 1 at 1023, 0.08 at the newest.
TEST(SpectrumAnalyzer, HammingWindowPositions) {
  const std::pair<int, double> cases[] = {{0, 0.0800022}, {1023, 1.0}, {1024, 0.9999978}, {2047, 0.08}};
  for (auto [at, w] : cases) {
    Signal s(AnalysisSize, 0.0f);
    s[at] = 1024.0f;
    EXPECT_NEAR(analyze(s).magnitudes[0], w, 1e-6) << "sample " << at;
  }
}

TEST(SpectrumAnalyzer, GathersEightSlotsEndingAtLatestBlock) {
  RingSlots ring{};
  for (int slot = 0; slot < RingSlotCount; ++slot) {
    for (int k = 0; k < BlockSamples; ++k) ring[slot][k] = static_cast<float>(slot * 1000 + k);
  }
  const std::pair<int32_t, std::vector<int>> cases[] = {
      {0, {23, 24, 25, 26, 27, 28, 29, 0}}, {3, {26, 27, 28, 29, 0, 1, 2, 3}},
      {7, {0, 1, 2, 3, 4, 5, 6, 7}},        {29, {22, 23, 24, 25, 26, 27, 28, 29}},
      // A value outside the ring never reads outside it.
      {30, {23, 24, 25, 26, 27, 28, 29, 0}}, {-1, {22, 23, 24, 25, 26, 27, 28, 29}},
  };
  for (const auto& [latest, slots] : cases) {
    const Analysis a = analyze(ring, latest);
    for (int b = 0; b < AnalysisBlocks; ++b) {
      for (int k : {0, 255}) {
        EXPECT_EQ(a.samples[b * BlockSamples + k], slots[b] * 1000 + k)
            << "latestBlock " << latest << " block " << b << " sample " << k;
      }
    }
  }
}

TEST(SpectrumAnalyzer, FreshRingAnalysesToZeros) {
  const Analysis a = analyze(RingSlots{}, 0);
  for (float level : a.frame.bandLevels) EXPECT_EQ(level, 0.0f);
  for (int32_t v : a.frame.spectrumLine) EXPECT_EQ(v, 0);
  // Before the first analysis the bands show their start value.
  EXPECT_EQ(SpectrumFrame{}.bandLevels[5], 22.22f);
}

TEST(SpectrumAnalyzer, EachCallRewritesTheWholeFrame) {
  SpectrumAnalyzer analyzer;
  std::vector<float> samples(AnalysisSize);
  const std::span<float, AnalysisSize> view(samples.data(), AnalysisSize);
  SpectrumFrame frame;
  analyzer.analyzeSpectrum(ringHolding(tone(8000, 32767), 4), 4, view, frame);
  EXPECT_GT(frame.bandLevels[22], 1000.0f);
  analyzer.analyzeSpectrum(RingSlots{}, 4, view, frame);
  for (float level : frame.bandLevels) EXPECT_EQ(level, 0.0f);
  for (int32_t v : frame.spectrumLine) EXPECT_EQ(v, 0);
}

// An all-zero window is answered without the transform; anything else is transformed. A
// single sample of value 1 anywhere in the window is sound (even at the oldest sample, where
// the window weighs it least), and -0.0 is silence. Whatever came before, the frame and
// the magnitudes are what a fresh analyzer gives for the same window.
TEST(SpectrumAnalyzer, DigitalSilenceIsExactAndSoundAfterItShowsAtOnce) {
  Signal negativeZeros(AnalysisSize, -0.0f);
  struct Row {
    const char* name;
    Signal signal;
    bool silent;
  };
  std::vector<Row> rows = {{"zeros", Signal(AnalysisSize, 0.0f), true},
                           {"negative zeros", negativeZeros, true},
                           {"tone", tone(1000, 20000), false}};
  for (int at : {0, 1023, AnalysisSize - 1}) {
    Signal one(AnalysisSize, 0.0f);
    one[at] = 1.0f;
    rows.push_back({"one sample of 1", one, false});
  }
  SpectrumAnalyzer analyzer;
  std::vector<float> samples(AnalysisSize);
  const std::span<float, AnalysisSize> view(samples.data(), AnalysisSize);
  // Each row after every other (and after itself), so a stale frame or magnitude shows.
  for (const Row& before : rows) {
    for (const Row& row : rows) {
      EXPECT_EQ(digitalSilence(row.signal), row.silent) << row.name;
      SpectrumFrame frame;
      analyzer.analyzeSpectrum(ringHolding(before.signal, 3), 3, view, frame);
      analyzer.analyzeSpectrum(ringHolding(row.signal, 3), 3, view, frame);
      SpectrumAnalyzer fresh;
      SpectrumFrame want;
      fresh.analyzeSpectrum(ringHolding(row.signal, 3), 3, view, want);
      EXPECT_EQ(frame.bandLevels, want.bandLevels) << row.name << " after " << before.name;
      EXPECT_EQ(frame.spectrumLine, want.spectrumLine) << row.name << " after " << before.name;
      EXPECT_TRUE(std::equal(analyzer.magnitudes().begin(), analyzer.magnitudes().end(), fresh.magnitudes().begin()))
          << row.name << " after " << before.name;
      const bool allZero = std::all_of(frame.bandLevels.begin(), frame.bandLevels.end(),
                                       [](float v) { return v == 0.0f; });
      EXPECT_EQ(allZero, row.silent) << row.name;
      if (row.silent) {
        // What the slow transform gives for it, to the bit.
        const std::vector<float> ref = referenceMagnitudes(row.signal);
        EXPECT_TRUE(std::equal(ref.begin(), ref.end(), analyzer.magnitudes().begin())) << row.name;
      }
    }
  }
}

}  // namespace
}  // namespace tonalis
