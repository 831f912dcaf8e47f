// The sound converter: sample formats and speaker layouts mixed to the ring's scale, the
// resampler's passband, image and alias rejection, and block cutting that does not depend on
// how the input is split.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <numbers>
#include <vector>

#include "audio/analysis.h"
#include "audio/capture.h"
#include "audio/sound_converter.h"
#include "fakes/allocation_counter.h"

// Allocation counting for the sound path: only the test's own thread, only while armed.
using tonalis::fakes::allocations;
using tonalis::fakes::countAllocations;

namespace tonalis {
namespace {

struct CollectSink : BlockSink {
  std::vector<float> samples;
  void onBlock(std::span<const float, BlockSamples> block) override {
    samples.insert(samples.end(), block.begin(), block.end());
  }
};

// Interleaved little-endian bytes of `frames` (frame-major: frames[i][c]), values in -1..1
// of full scale (floats as they are, integers rounded and clipped).
std::vector<uint8_t> encode(SampleType type, const std::vector<std::vector<double>>& frames) {
  std::vector<uint8_t> bytes;
  const auto put = [&](uint32_t v, size_t width) {
    for (size_t b = 0; b < width; ++b) bytes.push_back(static_cast<uint8_t>(v >> (8 * b)));
  };
  const auto integer = [](double x, double full) {
    const auto limit = static_cast<int64_t>(full);
    return std::clamp<int64_t>(std::llround(x * full), -limit, limit - 1);
  };
  for (const auto& frame : frames) {
    for (double x : frame) {
      switch (type) {
        case SampleType::Int16: put(static_cast<uint32_t>(integer(x, 32768.0)), 2); break;
        case SampleType::Int24: put(static_cast<uint32_t>(integer(x, 8388608.0)), 3); break;
        case SampleType::Int32: put(static_cast<uint32_t>(integer(x, 2147483648.0)), 4); break;
        case SampleType::Float32: put(std::bit_cast<uint32_t>(static_cast<float>(x)), 4); break;
      }
    }
  }
  return bytes;
}

std::vector<float> convertAll(const StreamFormat& format, const std::vector<uint8_t>& bytes) {
  SoundConverter converter;
  EXPECT_TRUE(converter.configure(format));
  CollectSink sink;
  converter.push(bytes.data(), bytes.size() / converter.frameBytes(), sink);
  return sink.samples;
}

// Mono float input: a sine of `amplitude` (of full scale) at `hz`, `seconds` long.
std::vector<uint8_t> sine(uint32_t rate, double hz, double amplitude, double seconds) {
  std::vector<std::vector<double>> frames(static_cast<size_t>(rate * seconds));
  for (size_t i = 0; i < frames.size(); ++i) {
    frames[i] = {amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate)};
  }
  return encode(SampleType::Float32, frames);
}

TEST(SoundConverter, PassesMono16BitAt65536HzThroughAsTheCaptureLoopConvertsIt) {
  std::array<uint8_t, CaptureBufferBytes> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  bytes[0] = 0x00, bytes[1] = 0x80;  // -32768
  bytes[2] = 0xFF, bytes[3] = 0x7F;  // 32767
  std::array<float, BlockSamples> expected{};
  convertSamples(bytes, expected);

  const auto out = convertAll({}, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  ASSERT_EQ(out.size(), size_t{BlockSamples});
  EXPECT_EQ(0, std::memcmp(out.data(), expected.data(), sizeof expected));
}

TEST(SoundConverter, ScalesEachSampleTypeToTheRing) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    SampleType type;
    std::vector<uint8_t> bytes;  // one mono frame
    float expected;
  };
  const Case cases[] = {
      {SampleType::Int16, {0x00, 0x80}, -32768.0f},
      {SampleType::Int16, {0x01, 0x00}, 1.0f},
      {SampleType::Int24, {0x00, 0x00, 0x80}, -32768.0f},
      {SampleType::Int24, {0xFF, 0xFF, 0x7F}, 32767.99609375f},
      {SampleType::Int24, {0x80, 0x00, 0x00}, 0.5f},
      {SampleType::Int32, {0x00, 0x00, 0x00, 0x80}, -32768.0f},
      {SampleType::Int32, {0x00, 0x00, 0x01, 0x00}, 1.0f},
      {SampleType::Float32, encode(SampleType::Float32, {{1.0}}), 32768.0f},
      {SampleType::Float32, encode(SampleType::Float32, {{-0.25}}), -8192.0f},
      // Out of range or not a number: clipped, never carried into the history.
      {SampleType::Float32, encode(SampleType::Float32, {{1.5}}), 32768.0f},
      {SampleType::Float32, encode(SampleType::Float32, {{-1e30}}), -32768.0f},
      {SampleType::Float32, encode(SampleType::Float32, {{inf}}), 32768.0f},
      {SampleType::Float32, encode(SampleType::Float32, {{-inf}}), -32768.0f},
      {SampleType::Float32, encode(SampleType::Float32, {{nan}}), 0.0f},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < BlockSamples; ++i) bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
    const auto out = convertAll({65536, 1, c.type}, bytes);
    ASSERT_EQ(out.size(), size_t{BlockSamples});
    EXPECT_EQ(out[0], c.expected) << "type " << int(c.type) << " first byte " << int(c.bytes[0]);
    EXPECT_EQ(out[255], c.expected);
  }
}

// Each speaker's weight in the mono mix: the front pair at half each, the centre at -3 dB
// (0.7071), the LFE left out, other speakers at -3 dB into their side (0.3536).
TEST(SoundConverter, MixesToMonoByTheSpeakerLayout) {
  constexpr double c = 0.70710678;
  constexpr double o = 0.35355339;
  struct Case {
    const char* name;
    uint32_t mask;
    std::vector<double> frame;  // one value per channel
    double mono;
  };
  const Case cases[] = {
      {"stereo", 0x3, {0.5, -0.25}, 0.125},
      {"stereo, opposite phase", 0x3, {1.0, -1.0}, 0.0},
      {"stereo, unknown layout", 0, {0.5, -0.25}, 0.125},
      {"5.1", 0x3F, {0.5, 0.25, 0.125, 0.5, -0.5, 0.75}, 0.375 + c * 0.125 + o * 0.25},
      {"5.1 with side speakers", 0x60F, {0.5, 0.25, 0.125, 0.5, -0.5, 0.75}, 0.375 + c * 0.125 + o * 0.25},
      {"six channels, unknown layout: 5.1", 0, {0.5, 0.25, 0.125, 0.5, -0.5, 0.75}, 0.375 + c * 0.125 + o * 0.25},
      {"7.1", 0x63F, {0.2, 0.4, 0.1, 0.9, 0.1, 0.1, -0.1, 0.3}, 0.3 + c * 0.1 + o * 0.4},
      {"three channels, unknown layout: FL FR FC", 0, {0.25, 0.25, 0.25}, 0.25 + c * 0.25},
      {"four channels, unknown layout: quad", 0, {0.2, 0.4, 0.4, -0.2}, 0.3 + o * 0.2},
      {"2.1: the LFE left out", 0xB, {0.4, 0.2, 0.9}, 0.3},
      {"fewer positions than channels: the rest are other speakers", 0x3, {0.4, 0.2, 0.2, 0.2}, 0.3 + o * 0.4},
      {"no front pair: the mean without the LFE", 0x3C, {0.3, 0.9, 0.6, 0.0}, 0.3},
      {"ten channels, unknown layout: a front pair first", 0,
       {0.4, 0.2, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1}, 0.3 + o * 0.8},
      {"Windows' all-speakers bit names no position", 0x80000003, {0.5, -0.25}, 0.125},
  };
  for (SampleType type : {SampleType::Int16, SampleType::Int24, SampleType::Int32, SampleType::Float32}) {
    for (const Case& k : cases) {
      const std::vector<std::vector<double>> frames(BlockSamples, k.frame);
      const auto channels = static_cast<uint16_t>(k.frame.size());
      const auto out = convertAll({65536, channels, type, k.mask}, encode(type, frames));
      ASSERT_EQ(out.size(), size_t{BlockSamples});
      // Integer encodings round to their step and clip +1.0 one step below full scale.
      EXPECT_NEAR(out[17], k.mono * 32768.0, 0.51 * channels) << k.name << ", type " << int(type);
    }
  }
}

TEST(SoundConverter, RejectsFormatsItCannotTakeAndStaysInert) {
  const StreamFormat bad[] = {
      {0, 1, SampleType::Int16},        {48000, 0, SampleType::Int16},
      {999, 1, SampleType::Int16},      {768001, 2, SampleType::Float32},
      {48000, 65, SampleType::Float32}, {48000, 2, static_cast<SampleType>(7)},
  };
  for (const StreamFormat& f : bad) {
    SoundConverter converter;
    ASSERT_TRUE(converter.configure({48000, 2, SampleType::Float32}));
    EXPECT_FALSE(converter.configure(f)) << f.sampleRate << " Hz, " << f.channels << " channels";
    EXPECT_FALSE(converter.configured());
    CollectSink sink;
    const std::vector<uint8_t> bytes(4096, 0x40);
    converter.push(bytes.data(), 512, sink);
    converter.pushSilence(100000, sink);
    EXPECT_TRUE(sink.samples.empty());
  }
  SoundConverter converter;
  EXPECT_TRUE(converter.configure({1000, 1, SampleType::Int16}));
  EXPECT_TRUE(converter.configure({768000, 64, SampleType::Int24}));
  EXPECT_EQ(converter.frameBytes(), size_t{192});
}

// Amplitude and phase of the sine at `hz` (output rate) in y[from..), by least squares, and
// the RMS of what remains once it is taken out: images, aliases and noise.
struct ToneFit {
  double amplitude = 0.0;
  double residualRms = 0.0;
};

ToneFit fitTone(const std::vector<float>& y, size_t from, double hz) {
  double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
  const double w = 2.0 * std::numbers::pi * hz / CaptureSampleRate;
  for (size_t n = from; n < y.size(); ++n) {
    const double s = std::sin(w * n), c = std::cos(w * n);
    ss += s * s, sc += s * c, cc += c * c, ys += y[n] * s, yc += y[n] * c;
  }
  const double det = ss * cc - sc * sc;
  const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
  double residual = 0;
  for (size_t n = from; n < y.size(); ++n) {
    const double e = y[n] - a * std::sin(w * n) - b * std::cos(w * n);
    residual += e * e;
  }
  return {std::hypot(a, b), std::sqrt(residual / static_cast<double>(y.size() - from))};
}

double db(double ratio) { return 20.0 * std::log10(ratio); }

// Tones across each input rate's band: within the passband the level is kept to 0.1 dB and the
// output lands on the same instants as the input; everywhere, whatever is not the tone
// (images, aliases) is at least 70 dB below the input; above the output's Nyquist
// frequency nothing comes through.
TEST(SoundConverter, ResamplesWithAFlatPassbandAndNoImagesOrAliases) {
  const uint32_t rates[] = {8000, 11025, 22050, 32000, 44100, 48000, 88200, 96000, 192000, 37799};
  constexpr double amplitude = 0.5;
  constexpr double full = amplitude * 32768.0;
  for (uint32_t rate : rates) {
    const double lowNyquist = std::min<double>(rate, CaptureSampleRate) / 2.0;
    const double passEdge = std::min(16000.0, 0.8 * lowNyquist);
    std::vector<double> tones = {64.0, 997.0, passEdge * 0.5, passEdge, (passEdge + lowNyquist) / 2.0,
                                 lowNyquist - 40.0};
    if (rate > CaptureSampleRate) {
      tones.push_back(33000.0);
      tones.push_back(rate / 2.0 - 300.0);
    }
    for (double hz : tones) {
      const auto out = convertAll({rate, 1, SampleType::Float32}, sine(rate, hz, amplitude, 0.2));
      ASSERT_GT(out.size(), size_t{8192}) << rate;
      const size_t settled = 2048;
      if (hz >= CaptureSampleRate / 2.0) {
        double power = 0;
        for (size_t n = settled; n < out.size(); ++n) power += double(out[n]) * out[n];
        const double rms = std::sqrt(power / static_cast<double>(out.size() - settled));
        EXPECT_LT(db(rms * std::sqrt(2.0) / full), -70.0) << rate << " Hz input, tone " << hz;
        continue;
      }
      const ToneFit fit = fitTone(out, settled, hz);
      EXPECT_LT(db(fit.residualRms * std::sqrt(2.0) / full), -70.0) << rate << " Hz input, tone " << hz;
      if (hz <= passEdge) {
        EXPECT_NEAR(db(fit.amplitude / full), 0.0, 0.1) << rate << " Hz input, tone " << hz;
      }
    }
  }
}

// The output is the same whether the input comes in one piece, in odd pieces, or as bytes
// of silence instead of pushSilence.
TEST(SoundConverter, OutputDoesNotDependOnHowTheInputIsSplit) {
  const StreamFormat formats[] = {
      {48000, 2, SampleType::Float32},
      {44100, 6, SampleType::Int24},
      {65536, 2, SampleType::Int16},
      {192000, 1, SampleType::Int32},
  };
  for (const StreamFormat& format : formats) {
    std::vector<std::vector<double>> frames(30000, std::vector<double>(format.channels));
    for (size_t i = 0; i < frames.size(); ++i) {
      for (size_t c = 0; c < format.channels; ++c) {
        // A chirp, silent in the middle third so silence can replace it.
        const double t = static_cast<double>(i) / format.sampleRate;
        frames[i][c] = (i / 10000 == 1) ? 0.0 : 0.7 * std::sin(2.0 * std::numbers::pi * (200.0 + 9000.0 * t) * t + c);
      }
    }
    const auto bytes = encode(format.sampleType, frames);
    const auto whole = convertAll(format, bytes);
    ASSERT_GT(whole.size(), size_t{10 * BlockSamples});

    SoundConverter converter;
    ASSERT_TRUE(converter.configure(format));
    CollectSink pieces;
    const size_t sizes[] = {1, 7, 0, 255, 1000, 3, 4096, 256, 31};
    size_t at = 0;
    for (size_t k = 0; at < frames.size(); ++k) {
      size_t n = std::min(sizes[k % std::size(sizes)], frames.size() - at);
      if (at < 10000 && at + n > 10000) n = 10000 - at;  // the silent third goes in as silence
      if (at >= 10000 && at < 20000) {
        n = std::min(n, 20000 - at);
        converter.pushSilence(n, pieces);
      } else {
        converter.push(bytes.data() + at * converter.frameBytes(), n, pieces);
      }
      at += n;
    }
    ASSERT_EQ(pieces.samples.size(), whole.size()) << format.sampleRate;
    EXPECT_EQ(0, std::memcmp(pieces.samples.data(), whole.data(), whole.size() * sizeof(float)))
        << format.sampleRate << " Hz, " << format.channels << " channels";
  }
}

// One second of input gives one second of output, less the filter's wait, at every rate.
TEST(SoundConverter, DeliversTheOutputRateAndSilenceAsZeros) {
  for (uint32_t rate : {8000u, 44100u, 48000u, 65536u, 96000u, 37799u}) {
    SoundConverter converter;
    ASSERT_TRUE(converter.configure({rate, 2, SampleType::Int16}));
    CollectSink sink;
    for (int s = 0; s < 3; ++s) converter.pushSilence(rate, sink);
    const double expected =
        3.0 * CaptureSampleRate - static_cast<double>(converter.latencyFrames()) * CaptureSampleRate / rate;
    EXPECT_NEAR(static_cast<double>(sink.samples.size()), expected, BlockSamples) << rate;
    EXPECT_TRUE(std::all_of(sink.samples.begin(), sink.samples.end(), [](float x) { return x == 0.0f; }));
  }
}

TEST(SoundConverter, ResetForgetsTheHistoryAndThePartialBlock) {
  for (uint32_t rate : {48000u, 65536u}) {
    SoundConverter converter;
    ASSERT_TRUE(converter.configure({rate, 1, SampleType::Float32}));
    const auto loud = sine(rate, 1000.0, 0.9, 0.05);
    CollectSink sink;
    converter.push(loud.data(), loud.size() / 4 - 100, sink);  // ends inside a block
    converter.reset();
    sink.samples.clear();
    converter.pushSilence(rate / 10, sink);
    ASSERT_GE(sink.samples.size(), size_t{BlockSamples});
    EXPECT_TRUE(std::all_of(sink.samples.begin(), sink.samples.end(), [](float x) { return x == 0.0f; })) << rate;
    // The same as a fresh converter fed the same way.
    SoundConverter fresh;
    ASSERT_TRUE(fresh.configure({rate, 1, SampleType::Float32}));
    CollectSink a, b;
    converter.push(loud.data(), 3000, a);
    fresh.pushSilence(rate / 10, b);
    b.samples.clear();
    fresh.push(loud.data(), 3000, b);
    EXPECT_EQ(a.samples, b.samples) << rate;
  }
}

// The capture thread converts every packet: after configure, nothing on that path allocates.
TEST(SoundConverter, PushingAllocatesNothing) {
  struct CountingSink : BlockSink {
    size_t blocks = 0;
    void onBlock(std::span<const float, BlockSamples>) override { ++blocks; }
  } sink;
  const std::vector<uint8_t> bytes(6 * 4 * 5000, 0x3C);
  for (const StreamFormat format : {StreamFormat{48000, 6, SampleType::Float32, 0x3F}, StreamFormat{44100, 2, SampleType::Int16},
                                    StreamFormat{65536, 1, SampleType::Int16}, StreamFormat{768000, 1, SampleType::Int24}}) {
    SoundConverter converter;
    ASSERT_TRUE(converter.configure(format));
    allocations = 0;
    countAllocations = true;
    for (size_t n : {size_t{1}, size_t{441}, size_t{5000}, size_t{0}}) {
      converter.push(bytes.data(), n, sink);
      converter.pushSilence(n, sink);
    }
    converter.reset();
    converter.push(bytes.data(), 5000, sink);
    countAllocations = false;
    EXPECT_EQ(allocations, 0) << format.sampleRate << " Hz";
  }
  EXPECT_GT(sink.blocks, size_t{40});
}

// Writes the first `limit` blocks into a ring as the capture loop does, for the analysis.
struct RingSink final : BlockSink {
  RingSlots ring{};
  int32_t latest = RingSlotCount - 1;
  int32_t limit = 0;
  void onBlock(std::span<const float, BlockSamples> block) override {
    if (limit-- <= 0) return;
    latest = (latest + 1) % RingSlotCount;
    std::copy(block.begin(), block.end(), ring[latest].begin());
  }
};

TEST(SoundConverter, A64HzToneShowsTheSameBandLevelsFrom48kHzAsFrom65536Hz) {
  SpectrumAnalyzer analyzer;
  std::vector<float> gathered(AnalysisSize);
  std::array<SpectrumFrame, 2> frames;
  const uint32_t rates[] = {65536, 48000};
  for (size_t r = 0; r < 2; ++r) {
    SoundConverter converter;
    ASSERT_TRUE(converter.configure({rates[r], 1, SampleType::Int16}));
    // Output sample n lies on input instant n / 65536 s at every rate: the same 128 blocks
    // of the tone reach the ring (the 48 kHz input runs on to fill them).
    std::vector<std::vector<double>> input(rates[r] / 2 + 1000);
    for (size_t i = 0; i < input.size(); ++i) {
      input[i] = {0.8 * std::sin(2.0 * std::numbers::pi * 64.0 * static_cast<double>(i) / rates[r])};
    }
    const auto bytes = encode(SampleType::Int16, input);
    auto sink = std::make_unique<RingSink>();
    sink->limit = 128;
    converter.push(bytes.data(), input.size(), *sink);
    analyzer.analyzeSpectrum(sink->ring, sink->latest, std::span<float, AnalysisSize>(gathered), frames[r]);
  }
  const float tone = frames[0].bandLevels[1];
  ASSERT_GT(tone, 100.0f);
  for (int32_t band = 0; band < BandCount; ++band) {
    EXPECT_NEAR(frames[1].bandLevels[band], frames[0].bandLevels[band],
                0.01 * std::max(frames[0].bandLevels[band], 0.05f * tone))
        << "band " << band << " (" << bandFrequencies[band] << " Hz)";
  }
}

// Band levels of half a second of a 48 kHz float stream whose channel `c` carries a 4 kHz sine
// of amplitude[c] (of full scale), after the converter and the analysis.
SpectrumFrame bandsOfTone(uint32_t mask, const std::vector<double>& amplitude) {
  constexpr uint32_t rate = 48000;
  SoundConverter converter;
  EXPECT_TRUE(converter.configure({rate, static_cast<uint16_t>(amplitude.size()), SampleType::Float32, mask}));
  std::vector<std::vector<double>> input(rate / 2 + 1000, std::vector<double>(amplitude.size()));
  for (size_t i = 0; i < input.size(); ++i) {
    const double x = std::sin(2.0 * std::numbers::pi * 4000.0 * static_cast<double>(i) / rate);
    for (size_t c = 0; c < amplitude.size(); ++c) input[i][c] = amplitude[c] * x;
  }
  const auto bytes = encode(SampleType::Float32, input);
  auto sink = std::make_unique<RingSink>();
  sink->limit = 128;
  converter.push(bytes.data(), input.size(), *sink);
  SpectrumAnalyzer analyzer;
  std::vector<float> gathered(AnalysisSize);
  SpectrumFrame frame;
  analyzer.analyzeSpectrum(sink->ring, sink->latest, std::span<float, AnalysisSize>(gathered), frame);
  return frame;
}

// Stereo music looped back from a surround output arrives in its front pair (the rest
// silent): it must show as it does on a stereo output, whatever the channel count.
TEST(SoundConverter, StereoInTheFrontPairShowsTheSameOnEveryLayout) {
  constexpr int tone = 21;  // 4000 Hz
  const double a = 0.5;
  const SpectrumFrame stereo = bandsOfTone(0x3, {a, a});
  ASSERT_GT(stereo.bandLevels[tone], 50.0f);
  struct Case {
    const char* name;
    uint32_t mask;
    std::vector<double> amplitude;
    double db;  // band level against stereo; -inf: nothing shows
  };
  const double none = -std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"2 channels, stereo", 0x3, {a, a}, 0.0},
      {"6 channels, 5.1", 0x3F, {a, a, 0, 0, 0, 0}, 0.0},
      {"8 channels, 7.1", 0x63F, {a, a, 0, 0, 0, 0, 0, 0}, 0.0},
      {"6 channels, unknown layout", 0, {a, a, 0, 0, 0, 0}, 0.0},
      // A centre-only sound shows as the same sound panned to the middle at equal power.
      {"centre only, 5.1", 0x3F, {0, 0, a, 0, 0, 0}, -3.0103},
      {"LFE only, 5.1", 0x3F, {0, 0, 0, a, 0, 0}, none},
  };
  for (const Case& k : cases) {
    const SpectrumFrame got = bandsOfTone(k.mask, k.amplitude);
    const double db = 20.0 * std::log10(got.bandLevels[tone] / stereo.bandLevels[tone]);
    std::printf("  %-28s band %d: %7.3f dB against stereo\n", k.name, tone, db);
    if (k.db == none) {
      EXPECT_LT(got.bandLevels[tone], 0.001f * stereo.bandLevels[tone]) << k.name;
      continue;
    }
    EXPECT_NEAR(db, k.db, 0.1) << k.name;
    const double gain = std::pow(10.0, k.db / 20.0);
    for (int32_t band = 0; band < BandCount; ++band) {
      EXPECT_NEAR(got.bandLevels[band], gain * stereo.bandLevels[band],
                  0.012 * std::max(stereo.bandLevels[band], 0.05f * stereo.bandLevels[tone]))
          << k.name << ", band " << band;
    }
  }
}

}  // namespace
}  // namespace tonalis
