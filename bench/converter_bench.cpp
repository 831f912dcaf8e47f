// One second of 48 kHz stereo float (what a shared-mode device commonly delivers) mixed to
// mono and resampled to 65 536 Hz, against speexdsp's resampler at quality 5 in the same run.
// The figure that matters is the ratio of the two times; the target is at most 1.0.
// Both are fed the same 10 ms device packets. speexdsp gets the same mono mix first (the
// work before the filter is the same code), so both filter one channel: the fair
// comparison. BM_SpeexStereoQuality5 shows speexdsp filtering both channels, for reference.
#include <benchmark/benchmark.h>
#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/sound_converter.h"

namespace {

using tonalis::BlockSamples;

constexpr uint32_t InputRate = 48000;
constexpr size_t PacketFrames = 480;  // 10 ms, a typical shared-mode period

// A chord with some noise in both channels, as float samples in -1..1.
std::vector<float> makeInput() {
  std::vector<float> frames(2 * InputRate);
  uint32_t seed = 12345;
  for (size_t i = 0; i < InputRate; ++i) {
    const double t = static_cast<double>(i) / InputRate;
    seed = seed * 1664525u + 1013904223u;
    const double noise = (static_cast<int32_t>(seed >> 16) - 32768) / 32768.0;
    const double v = 0.3 * std::sin(2 * 3.14159265358979 * 440 * t) + 0.2 * std::sin(2 * 3.14159265358979 * 3100 * t);
    frames[2 * i] = static_cast<float>(v + 0.01 * noise);
    frames[2 * i + 1] = static_cast<float>(v - 0.01 * noise);
  }
  return frames;
}

// Where the blocks go in the program: a copy into the ring.
struct RingSink final : tonalis::BlockSink {
  tonalis::RingSlots ring{};
  int32_t slot = 0;
  void onBlock(std::span<const float, BlockSamples> block) override {
    std::copy(block.begin(), block.end(), ring[slot].begin());
    slot = slot + 1 < tonalis::RingSlotCount ? slot + 1 : 0;
  }
};

void BM_ConverterStereoFloat48kTo65536(benchmark::State& state) {
  const std::vector<float> input = makeInput();
  tonalis::SoundConverter converter;
  converter.configure({InputRate, 2, tonalis::SampleType::Float32});
  auto sink = std::make_unique<RingSink>();
  const auto* bytes = reinterpret_cast<const uint8_t*>(input.data());
  for (auto _ : state) {
    converter.reset();
    for (size_t at = 0; at < InputRate; at += PacketFrames) {
      converter.push(bytes + at * converter.frameBytes(), std::min(PacketFrames, InputRate - at), *sink);
    }
    benchmark::DoNotOptimize(sink->ring);
    benchmark::ClobberMemory();
  }
  state.counters["taps"] = static_cast<double>(converter.tapCount());
}
BENCHMARK(BM_ConverterStereoFloat48kTo65536)->Unit(benchmark::kMicrosecond);

// Mean of the two channels in the ring's scale, clipped as the converter clips.
void mixToMono(const float* frames, size_t count, float* mono) {
  for (size_t i = 0; i < count; ++i) {
    const float l = std::clamp(frames[2 * i], -1.0f, 1.0f);
    const float r = std::clamp(frames[2 * i + 1], -1.0f, 1.0f);
    mono[i] = (l + r) * 16384.0f;
  }
}

// Runs speexdsp over the input in packets; `channels` 1 takes the mono mix first.
void runSpeex(benchmark::State& state, uint32_t channels) {
  const std::vector<float> input = makeInput();
  int error = 0;
  SpeexResamplerState* resampler = speex_resampler_init(channels, InputRate, 65536, 5, &error);
  if (resampler == nullptr || error != RESAMPLER_ERR_SUCCESS) {
    state.SkipWithError("speex_resampler_init failed");
    return;
  }
  std::vector<float> mono(PacketFrames);
  std::vector<float> out(2 * 2 * PacketFrames);
  auto sink = std::make_unique<RingSink>();
  size_t filled = 0;
  for (auto _ : state) {
    speex_resampler_reset_mem(resampler);
    for (size_t at = 0; at < InputRate; at += PacketFrames) {
      spx_uint32_t inLength = static_cast<spx_uint32_t>(std::min(PacketFrames, InputRate - at));
      spx_uint32_t outLength = static_cast<spx_uint32_t>(out.size() / channels);
      if (channels == 1) {
        mixToMono(input.data() + 2 * at, inLength, mono.data());
        speex_resampler_process_float(resampler, 0, mono.data(), &inLength, out.data(), &outLength);
      } else {
        speex_resampler_process_interleaved_float(resampler, input.data() + 2 * at, &inLength, out.data(),
                                                  &outLength);
      }
      // Into ring blocks as the converter does (stereo output mixed down here).
      for (spx_uint32_t i = 0; i < outLength; ++i) {
        const float y = channels == 1 ? out[i] : (out[2 * i] + out[2 * i + 1]) * 16384.0f;
        sink->ring[sink->slot][filled++] = y;
        if (filled == BlockSamples) {
          filled = 0;
          sink->slot = sink->slot + 1 < tonalis::RingSlotCount ? sink->slot + 1 : 0;
        }
      }
    }
    benchmark::DoNotOptimize(sink->ring);
    benchmark::ClobberMemory();
  }
  speex_resampler_destroy(resampler);
}

void BM_SpeexMonoQuality5(benchmark::State& state) { runSpeex(state, 1); }
BENCHMARK(BM_SpeexMonoQuality5)->Unit(benchmark::kMicrosecond);

void BM_SpeexStereoQuality5(benchmark::State& state) { runSpeex(state, 2); }
BENCHMARK(BM_SpeexStereoQuality5)->Unit(benchmark::kMicrosecond);

}  // namespace
