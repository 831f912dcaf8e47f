// The ring of captured sound shared by the capture loop (the writer, on the worker thread)
// and the analysis (a reader, on the UI thread). Lock-free: the writer never waits, and a
// reader that the writer lapped learns so and drops its copy.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>

namespace tonalis {

inline constexpr int32_t RingSlotCount = 30;    // slots; also the number of device buffers
inline constexpr int32_t BlockSamples = 256;    // samples per slot (one 3.90625 ms buffer)
inline constexpr int32_t CaptureSampleRate = 65536;  // samples per second, mono

// The ring's storage as plain blocks of samples, signed 16-bit values as floats without
// scaling (-32768.0 .. 32767.0). The analysis gathers from it by slot index.
using RingSlots = std::array<std::array<float, BlockSamples>, RingSlotCount>;

// Block n (counting from 0 since the start) is written into slot n % 30. Two monotonic
// counts make a sequence lock over the whole ring: `started` goes up before a block is
// written, `completed` after. A reader takes `completed`, copies the blocks before it, and
// then reads `started`: if the writer began a block that lands in a slot of the copy
// (even a whole lap ago, which a per-slot count cannot see), the copy is refused.
class SampleRing {
 public:
  SampleRing();
  SampleRing(const SampleRing&) = delete;
  SampleRing& operator=(const SampleRing&) = delete;

  // Writer thread only: appends one block after the newest.
  void write(std::span<const float, BlockSamples> block);

  // Any thread, alongside the writer: copies the out.size() / 256 newest blocks (1..30),
  // oldest first; slots never written read as zeros. False, with `out` unusable, when the
  // writer wrote into one of them during the copy, or for a size out of range.
  bool copyNewest(std::span<float> out) const;

  // Blocks written since the start (or the last clear).
  uint64_t blocksWritten() const { return completed_.load(std::memory_order_acquire); }

  // Zeros every slot and the counts. Only while no writer runs.
  void clear();

  // Test hooks, called on the calling thread: `readerPaused` in copyNewest between taking
  // the newest block and copying, `writerPaused` in write with half of the block written.
  // Both null (the default) in the program.
  std::function<void()> readerPaused;
  std::function<void()> writerPaused;

 private:
  RingSlots slots_{};
  std::atomic<uint64_t> started_{0};
  std::atomic<uint64_t> completed_{0};
};

}  // namespace tonalis
