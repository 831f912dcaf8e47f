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

// Mixes to mono (mean of the channels), scales to the ring (Float32 1.0 -> 32768; NaN and
// out-of-range floats are clipped) and resamples any rate to 65 536 Hz with a band-limited
// polyphase windowed-sinc filter at the exact rational ratio. A 65 536 Hz stream is not
// filtered, so mono Int16 at that rate passes through bit-exactly.
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
  // Feeds `frameCount` interleaved frames at `data`; every completed block goes to `sink`.
  // Never allocates. Any frameCount, including 0 and odd sizes. Does nothing unconfigured.
  void push(const uint8_t* data, size_t frameCount, BlockSink& sink);
  // Feeds `frameCount` frames of silence (a source that delivers nothing while idle).
  void pushSilence(size_t frameCount, BlockSink& sink);
  // Forgets the filter history and any partial block (a new device, a gap).
  void reset();
  const StreamFormat& format() const { return format_; }
  // Bytes of one interleaved input frame (0 unconfigured).
  size_t frameBytes() const { return frameBytes_; }
  // Input frames the resampler holds before its output reaches them (its group delay),
  // in input frames; 0 when the rate needs no resampling.
  double delayFrames() const;

 private:
  // Mono input samples are converted a chunk at a time into this scratch buffer.
  static constexpr size_t ChunkFrames = 1024;

  void mixChunk(const uint8_t* data, size_t frames, float* out) const;
  void feedMono(const float* mono, size_t count, BlockSink& sink);
  void emit(float sample, BlockSink& sink);

  StreamFormat format_{};
  bool configured_ = false;
  bool resampling_ = false;
  size_t frameBytes_ = 0;

  // Polyphase filter: for output n, the input position is n * step_ / up_ (in input frames);
  // phase p = (n * down) mod up selects row p of taps_ (tapCount_ taps, padded to a multiple
  // of 8 for vector loops).
  uint32_t up_ = 1;    // output rate / gcd
  uint32_t down_ = 1;  // input rate / gcd
  size_t tapCount_ = 0;
  std::vector<float> taps_;      // up_ rows of tapCount_ taps
  std::vector<float> history_;   // input samples; the last tapCount_ - 1 stay across calls
  size_t historyFill_ = 0;       // valid samples in history_
  uint32_t phase_ = 0;           // current output phase (0 .. up_ - 1)
  size_t readPos_ = 0;           // first input of the next output's window, index in history_

  std::vector<float> mono_;      // ChunkFrames mono samples
  std::array<float, BlockSamples> block_{};
  size_t blockFill_ = 0;
};

}  // namespace tonalis
