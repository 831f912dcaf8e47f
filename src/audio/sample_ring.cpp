#include "audio/sample_ring.h"

namespace tonalis {

SampleRing::SampleRing() = default;

// The samples are stored and loaded as relaxed atomics (plain moves on x86): a lapped
// reader may look at a slot while it is rewritten, and then discards what it saw. The
// fences order the sample accesses against the counts as a sequence lock needs.
void SampleRing::write(std::span<const float, BlockSamples> block) {
  const uint64_t n = completed_.load(std::memory_order_relaxed);
  started_.store(n + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  auto& slot = slots_[size_t(n % RingSlotCount)];
  constexpr int Half = BlockSamples / 2;
  for (int k = 0; k < Half; ++k) {
    std::atomic_ref<float>(slot[size_t(k)]).store(block[size_t(k)], std::memory_order_relaxed);
  }
  if (writerPaused) writerPaused();
  for (int k = Half; k < BlockSamples; ++k) {
    std::atomic_ref<float>(slot[size_t(k)]).store(block[size_t(k)], std::memory_order_relaxed);
  }
  completed_.store(n + 1, std::memory_order_release);
}

bool SampleRing::copyNewest(std::span<float> out) const {
  const int64_t blocks = int64_t(out.size()) / BlockSamples;
  if (blocks <= 0 || blocks > RingSlotCount) return false;
  const uint64_t end = completed_.load(std::memory_order_acquire);  // blocks end-blocks .. end-1
  if (readerPaused) readerPaused();
  auto& slots = const_cast<RingSlots&>(slots_);
  // Blocks "before the start" are slots not yet written: zeros, like the ring's first state.
  uint64_t slot = (end + RingSlotCount - uint64_t(blocks)) % RingSlotCount;
  for (int64_t b = 0; b < blocks; ++b) {
    float* to = out.data() + size_t(b) * BlockSamples;
    auto& from = slots[size_t(slot)];
    for (int k = 0; k < BlockSamples; ++k) {
      to[k] = std::atomic_ref<float>(from[size_t(k)]).load(std::memory_order_relaxed);
    }
    slot = slot + 1 < RingSlotCount ? slot + 1 : 0;
  }
  std::atomic_thread_fence(std::memory_order_acquire);
  // The first block written into a slot of the copy is block end - blocks + 30.
  const uint64_t started = started_.load(std::memory_order_relaxed);
  return started + uint64_t(blocks) <= end + RingSlotCount;
}

void SampleRing::clear() {
  for (auto& slot : slots_) slot.fill(0.0f);
  started_.store(0, std::memory_order_relaxed);
  completed_.store(0, std::memory_order_release);
}

}  // namespace tonalis
