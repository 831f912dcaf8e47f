// The ring of captured sound shared by the capture loop (writer, worker thread) and the
// analysis (reader, UI thread).
#pragma once

#include <array>
#include <cstdint>

namespace tonalis {

inline constexpr int32_t RingSlotCount = 30;    // slots; also the number of device buffers
inline constexpr int32_t BlockSamples = 256;    // samples per slot (one 3.90625 ms buffer)
inline constexpr int32_t CaptureSampleRate = 65536;  // samples per second, mono

// Slot i holds the samples of device buffer i as signed 16-bit values converted to float
// without scaling (-32768.0 .. 32767.0). A slot is written completely before its index is
// published (release store of the latest-block index), and the writer only ever writes the
// slot after the published one, so a reader that loads the index with acquire may copy the
// 8 slots ending there without a lock.
using SampleRing = std::array<std::array<float, BlockSamples>, RingSlotCount>;

}  // namespace tonalis
