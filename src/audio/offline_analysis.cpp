#include "audio/offline_analysis.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "audio/sample_ring.h"

namespace tonalis {

int64_t frameEnd(int64_t k, int64_t hop) {
  return (k * hop + BlockSamples - 1) / BlockSamples * BlockSamples;
}

int64_t forEachAnalysisFrame(std::span<const int16_t> samples, int64_t hop, const FrameCallback& onFrame) {
  if (hop < 1) {
    return 0;
  }
  auto ring = std::make_unique<RingSlots>();  // 30 KiB: off the stack
  SpectrumAnalyzer analyzer;
  std::vector<float> gathered(AnalysisSize);
  const std::span<float, AnalysisSize> view(gathered.data(), AnalysisSize);
  SpectrumFrame frame;

  const int64_t blocks = static_cast<int64_t>(samples.size()) / BlockSamples;
  int64_t k = 1;
  int64_t next = frameEnd(k, hop);
  for (int64_t b = 0; b < blocks; ++b) {
    const auto slot = static_cast<int32_t>(b % RingSlotCount);
    for (int i = 0; i < BlockSamples; ++i) (*ring)[slot][i] = static_cast<float>(samples[b * BlockSamples + i]);
    const int64_t end = (b + 1) * BlockSamples;
    // A hop shorter than a block analyses the same block more than once.
    while (next == end) {
      analyzer.analyzeSpectrum(*ring, slot, view, frame);
      if (!onFrame(end, frame, view)) {
        return k;
      }
      ++k;
      next = frameEnd(k, hop);
    }
  }
  return k - 1;
}

namespace {

// Publishes each converted block into the ring as the capture loop does, and runs the
// analysis at the frame ends that fall on it.
class AnalysisSink final : public BlockSink {
 public:
  AnalysisSink(int64_t hop, const FrameCallback& onFrame)
      : hop_(hop), onFrame_(onFrame), ring_(std::make_unique<RingSlots>()), gathered_(AnalysisSize) {}

  void onBlock(std::span<const float, BlockSamples> block) override {
    if (stopped_) {
      return;
    }
    const auto slot = static_cast<int32_t>(blocks_ % RingSlotCount);
    std::copy(block.begin(), block.end(), (*ring_)[slot].begin());
    ++blocks_;
    const int64_t end = blocks_ * BlockSamples;
    const std::span<float, AnalysisSize> view(gathered_.data(), AnalysisSize);
    // A hop shorter than a block analyses the same block more than once.
    while (next_ == end) {
      analyzer_.analyzeSpectrum(*ring_, slot, view, frame_);
      if (!onFrame_(end, frame_, view)) {
        stopped_ = true;
        return;
      }
      ++k_;
      next_ = frameEnd(k_, hop_);
    }
  }
  bool stopped() const { return stopped_; }
  int64_t delivered() const { return stopped_ ? k_ : k_ - 1; }

 private:
  int64_t hop_;
  const FrameCallback& onFrame_;
  std::unique_ptr<RingSlots> ring_;
  std::vector<float> gathered_;
  SpectrumAnalyzer analyzer_;
  SpectrumFrame frame_;
  int64_t blocks_ = 0;
  int64_t k_ = 1;
  int64_t next_ = frameEnd(1, hop_);
  bool stopped_ = false;
};

}  // namespace

int64_t forEachAnalysisFrame(const StreamFormat& format, const uint8_t* frames, size_t frameCount, int64_t hop,
                             const FrameCallback& onFrame) {
  auto converter = std::make_unique<SoundConverter>();
  if (!converter->configure(format)) {
    return -1;
  }
  if (hop < 1) {
    return 0;
  }
  AnalysisSink sink(hop, onFrame);
  // In pieces, so a callback that stops ends the work soon.
  constexpr size_t Piece = 4096;
  for (size_t at = 0; at < frameCount && !sink.stopped(); at += Piece) {
    converter->push(frames + at * converter->frameBytes(), std::min(Piece, frameCount - at), sink);
  }
  return sink.delivered();
}

}  // namespace tonalis
