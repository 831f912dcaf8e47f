// Turns whatever a sound device (or a WAV file) delivers into the stream the analysis takes:
// mono, 65 536 Hz, the ring's scale, cut into blocks of BlockSamples.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "audio/sample_ring.h"

namespace tonalis {

// Little-endian, interleaved. Int24 is packed (3 bytes a sample); Int32 and Float32 take 4.
enum class SampleType : uint8_t { Int16, Int24, Int32, Float32 };

struct StreamFormat {
  uint32_t sampleRate = 65536;  // frames per second
  uint16_t channels = 1;        // interleaved channels
  SampleType sampleType = SampleType::Int16;
  // Speaker positions of the channels (common/speakers.h); 0: unknown, the usual layout for
  // the channel count is assumed.
  uint32_t channelMask = 0;
  friend bool operator==(const StreamFormat&, const StreamFormat&) = default;
};

// Bytes of one sample of `type` (2, 3 or 4).
size_t bytesPerSample(SampleType type);

// Receives each finished block of 256 mono samples at 65 536 Hz, in the ring's scale
// (a full-scale 16-bit sample is -32768.0 .. 32767.0).
class BlockSink {
 public:
  virtual void onBlock(std::span<const float, BlockSamples> block) = 0;

 protected:
  ~BlockSink() = default;
};

// Mixes to mono by the channel layout (below), scales to the ring (Float32 1.0 -> 32768; floats
// beyond -1..1 and infinities are clipped to full scale as an integer device would clip,
// NaN counts as 0) and resamples any rate to 65 536 Hz with a band-limited
// polyphase windowed-sinc filter at the exact rational ratio. A 65 536 Hz stream is not
// filtered, so mono Int16 at that rate passes through bit-exactly.
//
// The mono mix is the mean of a stereo downmix (each side at full weight, the centre and
// the other speakers at -3 dB into their side), so stereo content in the front pair shows
// at the same level on any layout as on a stereo device:
//   mono = 0.5 (FL + FR) + 0.7071 FC + 0.3536 (each other channel: back, side, top, ...)
// The low-frequency channel is left out (it repeats what the others carry, boosted). A
// sound only in the centre shows as it would panned evenly over the front pair at equal
// power (-3 dB against the same amplitude in both FL and FR). One channel passes as it is.
// A layout without both front channels (or all of whose channels are LFE) is mixed to the
// mean of its channels other than the LFE. An unknown layout (mask 0) is the usual one for
// the channel count (speaker::defaultChannelMask); above 8 channels the first two are taken
// as the front pair and the rest as other channels. Channels beyond the mask's bits have no
// position and count as other channels.
// Not thread-safe: one writer (the capture loop or a file reader) owns it.
class SoundConverter {
 public:
  // Lowest and highest input rates accepted, frames per second.
  static constexpr uint32_t MinSampleRate = 1000;
  static constexpr uint32_t MaxSampleRate = 768000;
  static constexpr uint16_t MaxChannels = 64;

  // Prepares for `format` (allocates here, only here). False, leaving the converter
  // unconfigured, for a format it cannot take (0 channels, rate 0 or absurd, ...).
  bool configure(const StreamFormat& format);
  // True after a successful configure.
  bool configured() const { return configured_; }
  // Feeds `frameCount` interleaved frames at `data` (frameCount * frameBytes() bytes, any
  // alignment); every completed block goes to `sink`, from inside this call.
  // Never allocates. Any frameCount, including 0 and odd sizes. Does nothing unconfigured.
  void push(const uint8_t* data, size_t frameCount, BlockSink& sink);
  // Feeds `frameCount` frames of silence (a source that delivers nothing while idle).
  void pushSilence(size_t frameCount, BlockSink& sink);
  // Forgets the filter history and any partial block (a new device, a gap).
  void reset();
  // The configured format (a default StreamFormat when unconfigured).
  const StreamFormat& format() const { return format_; }
  // Bytes of one interleaved input frame (0 unconfigured).
  size_t frameBytes() const { return frameBytes_; }
  // Input frames the resampler needs beyond an instant before it can give the output for
  // that instant (half its filter); 0 when the rate needs no resampling.
  size_t latencyFrames() const { return resampling_ ? tapCount_ / 2 : 0; }
  // Taps per output sample of the resampling filter (0 when not resampling).
  size_t tapCount() const { return resampling_ ? tapCount_ : 0; }

 private:
  // Input is mixed to mono into the filter history this many frames at a time at most.
  static constexpr size_t ChunkFrames = 1024;

  template <typename Fill>
  void feed(size_t frameCount, Fill&& fill, BlockSink& sink);
  void mixInto(const uint8_t* data, size_t frames, float* out) const;
  template <SampleType type>
  void mixFrames(const uint8_t* data, size_t frames, float* out) const;
  void filterAvailable(BlockSink& sink);
  void emit(float sample, BlockSink& sink) {
    block_[blockFill_++] = sample;
    if (blockFill_ == block_.size()) {
      blockFill_ = 0;
      sink.onBlock(block_);
    }
  }

  StreamFormat format_{};
  bool configured_ = false;
  bool resampling_ = false;
  size_t frameBytes_ = 0;

  // How frames become mono: one channel times scale_; two at equal weight, their sum times
  // scale_; otherwise each channel times its weight (ring scale included).
  enum class Mix : uint8_t { Single, EvenPair, Weighted };
  Mix mix_ = Mix::Single;
  float scale_ = 1.0f;
  std::array<float, MaxChannels> weights_{};

  // Output n lies at input position n * down_ / up_ (frames): whole part i, phase
  // p = (n * down_) mod up_. Its window is the tapCount_ inputs starting at i - tapCount_/2 + 1.
  uint32_t up_ = 1;    // output rate / gcd of the rates
  uint32_t down_ = 1;  // input rate / gcd of the rates
  uint32_t stepWhole_ = 0;  // down_ / up_
  uint32_t stepPhase_ = 0;  // down_ % up_
  size_t tapCount_ = 0;     // a multiple of 8, for the vector loops
  // Rows of taps, one per phase when up_ is small; otherwise tableRows_ + 1 rows at evenly
  // spaced phases, between which the output is interpolated linearly.
  std::vector<float> taps_;
  uint32_t tableRows_ = 0;  // 0: one row per phase
  std::vector<float> history_;  // mono input; what the next windows need stays across calls
  size_t historyFill_ = 0;      // valid samples in history_
  size_t readPos_ = 0;          // start of the next output's window in history_
  uint32_t phase_ = 0;          // phase of the next output, 0 .. up_ - 1

  std::array<float, BlockSamples> block_{};
  size_t blockFill_ = 0;
};

}  // namespace tonalis
