#include "audio/offline_analysis.h"

#include <array>
#include <memory>
#include <vector>

#include "audio/capture.h"

namespace tonalis {

int64_t frameEnd(int64_t k, int64_t hop) {
  return (k * hop + BlockSamples - 1) / BlockSamples * BlockSamples;
}

int64_t forEachAnalysisFrame(std::span<const int16_t> samples, int64_t hop, const FrameCallback& onFrame) {
  if (hop < 1) {
    return 0;
  }
  // The capture records are large and hold a mutex: keep them off the stack.
  auto capture = std::make_unique<CaptureContext>();
  SpectrumAnalyzer analyzer;
  std::vector<float> gathered(AnalysisSize);
  const std::span<float, AnalysisSize> view(gathered.data(), AnalysisSize);
  SpectrumFrame frame;
  std::array<uint8_t, CaptureBufferBytes> bytes{};

  const int64_t blocks = static_cast<int64_t>(samples.size()) / BlockSamples;
  int64_t k = 1;
  int64_t next = frameEnd(k, hop);
  for (int64_t b = 0; b < blocks; ++b) {
    // As the device would deliver them: little-endian 16-bit bytes.
    for (int i = 0; i < BlockSamples; ++i) {
      const auto v = static_cast<uint16_t>(samples[b * BlockSamples + i]);
      bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
      bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    publishBlock(*capture, static_cast<int32_t>(b % RingSlotCount), bytes);
    const int64_t end = (b + 1) * BlockSamples;
    // A hop shorter than a block analyses the same block more than once.
    while (next == end) {
      analyzer.analyzeSpectrum(capture->ring, capture->latestBlock.load(std::memory_order_acquire), view,
                               frame);
      if (!onFrame(end, frame, view)) {
        return k;
      }
      ++k;
      next = frameEnd(k, hop);
    }
  }
  return k - 1;
}

}  // namespace tonalis
