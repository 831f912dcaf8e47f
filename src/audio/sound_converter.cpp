#include "audio/sound_converter.h"

#include "common/speakers.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <numeric>
#include <vector>

namespace tonalis {
namespace {

// The resampler's design: flat up to PassbandHz (or 80 % of the lower Nyquist frequency when
// that is lower), at least StopbandDb down from the lower Nyquist frequency on, so images
// and aliases of everything the output can hold stay below it. The design aims above the
// 70 dB we need to leave room for the float taps and the interpolated tables.
constexpr double PassbandHz = 16000.0;
constexpr double PassbandOfNyquist = 0.8;
constexpr double StopbandDb = 80.0;
// One row of taps per phase while the table stays small; above that, a fixed number of
// rows with linear interpolation between neighbours (its error stays near -100 dB).
constexpr size_t DirectTableFloats = size_t{1} << 18;
constexpr uint32_t InterpolatedRows = 1024;

constexpr bool validType(SampleType type) {
  return type == SampleType::Int16 || type == SampleType::Int24 || type == SampleType::Int32 ||
         type == SampleType::Float32;
}

// Ring scale per unit of the decoded integer (before the channel weights).
float ringScale(SampleType type) {
  switch (type) {
    case SampleType::Int16: return 1.0f;
    case SampleType::Int24: return 1.0f / 256.0f;
    case SampleType::Int32: return 1.0f / 65536.0f;
    case SampleType::Float32: return 32768.0f;
  }
  return 1.0f;
}

uint32_t le24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16);
}
uint32_t le32(const uint8_t* p) { return le24(p) | (static_cast<uint32_t>(p[3]) << 24); }

// One decoded sample, before the ring scale. Floats outside -1..1, infinities and NaN are
// clipped (NaN to 0): one bad sample must not poison the filter history.
template <SampleType type>
float decode(const uint8_t* p) {
  if constexpr (type == SampleType::Int16) {
    return static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))));
  } else if constexpr (type == SampleType::Int24) {
    return static_cast<float>(static_cast<int32_t>(le24(p) << 8) >> 8);
  } else if constexpr (type == SampleType::Int32) {
    return static_cast<float>(static_cast<int32_t>(le32(p)));
  } else {
    float f = std::bit_cast<float>(le32(p));
    // Selects rather than branches, so the mixing loops stay vector code.
    f = f == f ? f : 0.0f;
    f = f < -1.0f ? -1.0f : f;
    return f > 1.0f ? 1.0f : f;
  }
}

constexpr float MinusThreeDb = 0.70710678f;  // sqrt(1/2)

// Weight of each channel in the mono mix, before the ring scale (see the header).
void layoutWeights(uint16_t channels, uint32_t mask, float* weights) {
  namespace sp = speaker;
  if (channels == 1) {
    weights[0] = 1.0f;
    return;
  }
  mask &= sp::AllPositions;
  if (mask == 0) mask = channels > 8 ? sp::Stereo : sp::defaultChannelMask(channels);
  // Channel c sits at the c-th lowest bit; channels past the last bit have no position (0).
  uint32_t positions[SoundConverter::MaxChannels] = {};
  uint32_t rest = mask;
  for (uint16_t c = 0; c < channels && rest != 0; ++c) {
    positions[c] = rest & (~rest + 1);
    rest &= rest - 1;
  }
  bool left = false;
  bool right = false;
  uint16_t notLfe = 0;
  for (uint16_t c = 0; c < channels; ++c) {
    left = left || positions[c] == sp::FrontLeft;
    right = right || positions[c] == sp::FrontRight;
    notLfe += positions[c] != sp::LowFrequency ? 1 : 0;
  }
  for (uint16_t c = 0; c < channels; ++c) {
    const bool lfe = positions[c] == sp::LowFrequency;
    if (left && right) {
      weights[c] = positions[c] == sp::FrontLeft || positions[c] == sp::FrontRight ? 0.5f
                   : positions[c] == sp::FrontCenter                               ? MinusThreeDb
                   : lfe                                                            ? 0.0f
                                                                                    : 0.5f * MinusThreeDb;
    } else if (notLfe > 0) {
      weights[c] = lfe ? 0.0f : 1.0f / static_cast<float>(notLfe);
    } else {
      weights[c] = 1.0f / static_cast<float>(channels);
    }
  }
}

// Dot product of n taps (a multiple of 8) with n samples, in eight lanes the compiler turns
// into vector registers (a single running sum would pin the order and stay scalar).
inline float dot(const float* taps, const float* x, size_t n) {
  float lane[8] = {};
  for (size_t j = 0; j < n; j += 8) {
    for (size_t l = 0; l < 8; ++l) {
      lane[l] += taps[j + l] * x[j + l];
    }
  }
  return ((lane[0] + lane[4]) + (lane[1] + lane[5])) + ((lane[2] + lane[6]) + (lane[3] + lane[7]));
}

double besselI0(double x) {
  double sum = 1.0;
  double term = 1.0;
  const double q = x * x / 4.0;
  for (int k = 1; k < 64 && term > sum * 1e-17; ++k) {
    term *= q / (static_cast<double>(k) * k);
    sum += term;
  }
  return sum;
}

struct FilterDesign {
  double cutoff = 0.0;  // cycles per input frame
  double beta = 0.0;    // Kaiser window
  size_t taps = 0;      // multiple of 8
};

FilterDesign designFilter(uint32_t inRate, uint32_t stepWhole) {
  const double lowNyquist = std::min<double>(inRate, CaptureSampleRate) / 2.0;
  const double pass = std::min(PassbandHz, PassbandOfNyquist * lowNyquist);
  const double stop = lowNyquist;
  const double width = 2.0 * std::numbers::pi * (stop - pass) / inRate;  // radians per frame
  FilterDesign d;
  d.cutoff = (pass + stop) / 2.0 / inRate;
  d.beta = 0.1102 * (StopbandDb - 8.7);
  // Kaiser's estimate of the order; every window must also reach past one output step.
  const auto order = static_cast<size_t>(std::ceil((StopbandDb - 8.0) / (2.285 * width)));
  const size_t taps = std::max<size_t>(order, stepWhole + 2);
  d.taps = (taps + 7) / 8 * 8;
  return d;
}

// Taps for an output at fraction `frac` (0 <= frac <= 1) of an input frame past the window's
// centre frame, normalised to a sum of 1 so every phase passes DC unchanged.
void fillRow(const FilterDesign& d, double frac, float* row) {
  const double half = static_cast<double>(d.taps) / 2.0;
  const double i0Beta = besselI0(d.beta);
  double sum = 0.0;
  std::vector<double> values(d.taps);
  for (size_t j = 0; j < d.taps; ++j) {
    const double t = frac + half - 1.0 - static_cast<double>(j);  // distance in input frames
    const double r = t / half;
    double value = 0.0;
    if (r > -1.0 && r < 1.0) {
      const double x = 2.0 * d.cutoff * t;
      const double sinc = x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
      value = 2.0 * d.cutoff * sinc * besselI0(d.beta * std::sqrt(1.0 - r * r)) / i0Beta;
    }
    values[j] = value;
    sum += value;
  }
  for (size_t j = 0; j < d.taps; ++j) {
    row[j] = static_cast<float>(values[j] / sum);
  }
}

}  // namespace

size_t bytesPerSample(SampleType type) {
  switch (type) {
    case SampleType::Int16: return 2;
    case SampleType::Int24: return 3;
    case SampleType::Int32: return 4;
    case SampleType::Float32: return 4;
  }
  return 0;
}

bool SoundConverter::configure(const StreamFormat& format) {
  configured_ = false;
  resampling_ = false;
  format_ = StreamFormat{};
  frameBytes_ = 0;
  if (format.channels == 0 || format.channels > MaxChannels || format.sampleRate < MinSampleRate ||
      format.sampleRate > MaxSampleRate || !validType(format.sampleType)) {
    return false;
  }
  const uint32_t g = std::gcd(format.sampleRate, static_cast<uint32_t>(CaptureSampleRate));
  up_ = static_cast<uint32_t>(CaptureSampleRate) / g;
  down_ = format.sampleRate / g;
  stepWhole_ = down_ / up_;
  stepPhase_ = down_ % up_;
  const bool resampling = format.sampleRate != static_cast<uint32_t>(CaptureSampleRate);
  try {
    if (resampling) {
      const FilterDesign d = designFilter(format.sampleRate, stepWhole_);
      tapCount_ = d.taps;
      tableRows_ = static_cast<size_t>(up_) * tapCount_ <= DirectTableFloats ? 0 : InterpolatedRows;
      const size_t rows = tableRows_ == 0 ? up_ : tableRows_ + 1;
      taps_.assign(rows * tapCount_, 0.0f);
      for (size_t p = 0; p < rows; ++p) {
        const double frac = tableRows_ == 0 ? static_cast<double>(p) / up_
                                            : static_cast<double>(p) / tableRows_;
        fillRow(d, frac, taps_.data() + p * tapCount_);
      }
      history_.assign(tapCount_ + ChunkFrames, 0.0f);
    } else {
      tapCount_ = 0;
      tableRows_ = 0;
      taps_.clear();
      taps_.shrink_to_fit();
      history_.clear();
      history_.shrink_to_fit();
    }
  } catch (const std::bad_alloc&) {
    taps_ = {};
    history_ = {};
    return false;
  }
  format_ = format;
  resampling_ = resampling;
  frameBytes_ = bytesPerSample(format.sampleType) * format.channels;
  const float ring = ringScale(format.sampleType);
  std::array<float, MaxChannels> weights{};
  layoutWeights(format.channels, format.channelMask, weights.data());
  // The two common cases keep their plain loops: mono exact, stereo as a scaled sum.
  if (format.channels == 1) {
    mix_ = Mix::Single;
    scale_ = ring;
  } else if (format.channels == 2 && weights[0] == weights[1]) {
    mix_ = Mix::EvenPair;
    scale_ = ring * weights[0];
  } else {
    mix_ = Mix::Weighted;
  }
  for (size_t c = 0; c < weights_.size(); ++c) weights_[c] = weights[c] * ring;
  configured_ = true;
  reset();
  return true;
}

void SoundConverter::reset() {
  blockFill_ = 0;
  phase_ = 0;
  readPos_ = 0;
  if (resampling_) {
    // Silence before the first sample; the first output lies on the first input frame.
    std::fill(history_.begin(), history_.end(), 0.0f);
    historyFill_ = tapCount_ / 2 - 1;
  } else {
    historyFill_ = 0;
  }
}

template <SampleType type>
void SoundConverter::mixFrames(const uint8_t* data, size_t frames, float* out) const {
  constexpr size_t width = type == SampleType::Int16 ? 2 : type == SampleType::Int24 ? 3 : 4;
  const float scale = scale_;
  switch (mix_) {
    case Mix::Single:
      for (size_t i = 0; i < frames; ++i) {
        out[i] = decode<type>(data + i * width) * scale;
      }
      break;
    case Mix::EvenPair:
      for (size_t i = 0; i < frames; ++i) {
        const uint8_t* frame = data + i * 2 * width;
        out[i] = (decode<type>(frame) + decode<type>(frame + width)) * scale;
      }
      break;
    case Mix::Weighted: {
      const uint16_t channels = format_.channels;
      const size_t stride = channels * width;
      const float* weights = weights_.data();
      for (size_t i = 0; i < frames; ++i) {
        const uint8_t* frame = data + i * stride;
        float sum = 0.0f;
        for (uint16_t c = 0; c < channels; ++c) {
          sum += decode<type>(frame + c * width) * weights[c];
        }
        out[i] = sum;
      }
      break;
    }
  }
}

void SoundConverter::mixInto(const uint8_t* data, size_t frames, float* out) const {
  switch (format_.sampleType) {
    case SampleType::Int16: mixFrames<SampleType::Int16>(data, frames, out); break;
    case SampleType::Int24: mixFrames<SampleType::Int24>(data, frames, out); break;
    case SampleType::Int32: mixFrames<SampleType::Int32>(data, frames, out); break;
    case SampleType::Float32: mixFrames<SampleType::Float32>(data, frames, out); break;
  }
}

void SoundConverter::filterAvailable(BlockSink& sink) {
  const size_t taps = tapCount_;
  const float* table = taps_.data();
  while (readPos_ + taps <= historyFill_) {
    const float* x = history_.data() + readPos_;
    float y;
    if (tableRows_ == 0) {
      y = dot(table + static_cast<size_t>(phase_) * taps, x, taps);
    } else {
      const uint64_t at = static_cast<uint64_t>(phase_) * tableRows_;
      const auto row = static_cast<size_t>(at / up_);
      const float frac = static_cast<float>(at % up_) / static_cast<float>(up_);
      const float a = dot(table + row * taps, x, taps);
      const float b = dot(table + (row + 1) * taps, x, taps);
      y = a + frac * (b - a);
    }
    emit(y, sink);
    readPos_ += stepWhole_;
    phase_ += stepPhase_;
    if (phase_ >= up_) {
      phase_ -= up_;
      ++readPos_;
    }
  }
  // Keep only what later windows need (the filter is never shorter than a step, so the
  // next window never starts past the samples held).
  const size_t keep = historyFill_ - readPos_;
  std::memmove(history_.data(), history_.data() + readPos_, keep * sizeof(float));
  historyFill_ = keep;
  readPos_ = 0;
}

template <typename Fill>
void SoundConverter::feed(size_t frameCount, Fill&& fill, BlockSink& sink) {
  if (!configured_) {
    return;
  }
  while (frameCount > 0) {
    if (resampling_) {
      const size_t n = std::min(frameCount, history_.size() - historyFill_);
      fill(history_.data() + historyFill_, n);
      historyFill_ += n;
      frameCount -= n;
      filterAvailable(sink);
    } else {
      const size_t n = std::min(frameCount, block_.size() - blockFill_);
      fill(block_.data() + blockFill_, n);
      blockFill_ += n;
      frameCount -= n;
      if (blockFill_ == block_.size()) {
        blockFill_ = 0;
        sink.onBlock(block_);
      }
    }
  }
}

void SoundConverter::push(const uint8_t* data, size_t frameCount, BlockSink& sink) {
  if (data == nullptr) {
    return;
  }
  feed(
      frameCount,
      [&](float* out, size_t n) {
        mixInto(data, n, out);
        data += n * frameBytes_;
      },
      sink);
}

void SoundConverter::pushSilence(size_t frameCount, BlockSink& sink) {
  feed(
      frameCount, [](float* out, size_t n) { std::fill(out, out + n, 0.0f); }, sink);
}

}  // namespace tonalis
