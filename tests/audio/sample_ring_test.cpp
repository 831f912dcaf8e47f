// The sample ring between the capture worker and the analysis: a copy holds whole,
// consecutive blocks, or it is refused. The hooks stop one side at the worst moment, so a
// lap and a half-written slot are shown every time, not one run in twenty.
#include "audio/sample_ring.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>
#include <vector>

namespace tonalis {
namespace {

using namespace std::chrono_literals;

// Block n holds the value n + 1 in every sample (0 is what a slot never written holds).
void writeBlocks(SampleRing& ring, int count) {
  std::array<float, BlockSamples> block;
  for (int i = 0; i < count; ++i) {
    block.fill(float(ring.blocksWritten() + 1));
    ring.write(block);
  }
}

// The value of each block of a copy, or -1 where a block is not one value throughout.
std::vector<float> blockValues(const std::vector<float>& copy) {
  std::vector<float> values;
  for (size_t b = 0; b < copy.size() / BlockSamples; ++b) {
    const float first = copy[b * BlockSamples];
    bool whole = true;
    for (int k = 0; k < BlockSamples; ++k) whole = whole && copy[b * BlockSamples + size_t(k)] == first;
    values.push_back(whole ? first : -1.0f);
  }
  return values;
}

std::vector<float> consecutive(float from, int count) {
  std::vector<float> values;
  for (int i = 0; i < count; ++i) values.push_back(std::max(0.0f, from + float(i)));
  return values;
}

TEST(SampleRing, CopiesTheNewestBlocksOldestFirstWithZerosBeforeTheStart) {
  struct Case {
    int written;
    int blocks;
  };
  const Case cases[] = {{0, 8}, {3, 8}, {33, 8}, {100, 1}, {100, 30}, {29, 30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.written) + " written, " + std::to_string(c.blocks) + " copied");
    SampleRing ring;
    writeBlocks(ring, c.written);
    std::vector<float> copy(size_t(c.blocks) * BlockSamples, -9.0f);
    ASSERT_TRUE(ring.copyNewest(copy));
    EXPECT_EQ(blockValues(copy), consecutive(float(c.written - c.blocks + 1), c.blocks));
  }
  SampleRing ring;
  std::vector<float> none, tooMany(31 * BlockSamples);
  EXPECT_FALSE(ring.copyNewest(none));
  EXPECT_FALSE(ring.copyNewest(tooMany));
}

// A reader stops after taking the newest block while the writer goes on: up to 22 more
// blocks land outside an 8-block copy, the 23rd overwrites its oldest slot, and a whole lap
// (which leaves every slot's own state as it was) must be refused as well.
TEST(SampleRing, ACopyLappedWhileTheReaderStoodIsRefused) {
  struct Case {
    int writtenMeanwhile;
    bool kept;
  };
  const Case cases[] = {{0, true}, {1, true}, {22, true}, {23, false}, {30, false}, {60, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.writtenMeanwhile) + " written while the reader stood");
    SampleRing ring;
    writeBlocks(ring, 40);
    ring.readerPaused = [&] { writeBlocks(ring, c.writtenMeanwhile); };
    std::vector<float> copy(8 * BlockSamples);
    EXPECT_EQ(ring.copyNewest(copy), c.kept);
    if (c.kept) {
      EXPECT_EQ(blockValues(copy), consecutive(33.0f, 8)) << "the blocks newest when the copy began";
    }
  }
}

// The writer stops with half a block written; a reader copying then never takes that slot.
TEST(SampleRing, AHalfWrittenSlotIsNeverHandedOut) {
  for (int blocks : {29, 30}) {
    SCOPED_TRACE(std::to_string(blocks) + " blocks copied");
    SampleRing ring;
    writeBlocks(ring, 40);
    std::vector<float> copy(size_t(blocks) * BlockSamples);
    bool kept = true;
    ring.writerPaused = [&] { kept = ring.copyNewest(copy); };
    writeBlocks(ring, 1);  // block 40 goes into the slot of block 10, the oldest of a 30-block copy
    if (blocks == 30) {
      EXPECT_FALSE(kept);
    } else {
      ASSERT_TRUE(kept);
      EXPECT_EQ(blockValues(copy), consecutive(12.0f, 29));
    }
  }
}

// The same on two threads, the writer lapping the reader as fast as it can: every copy kept
// holds 8 whole, consecutive blocks. (Run under ThreadSanitizer too: the sharing must be
// race-free.)
TEST(SampleRing, AWriterRacingTheReaderNeverTearsACopy) {
  SampleRing ring;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    while (!stop) writeBlocks(ring, 1);
  });
  std::vector<float> copy(8 * BlockSamples);
  int kept = 0, refused = 0, torn = 0;
  const auto until = std::chrono::steady_clock::now() + 200ms;
  while (std::chrono::steady_clock::now() < until || kept == 0) {
    if (!ring.copyNewest(copy)) {
      ++refused;
      continue;
    }
    ++kept;
    const std::vector<float> values = blockValues(copy);
    torn += values != consecutive(values[0] == 0.0f ? values[7] - 7.0f : values[0], 8);
  }
  stop = true;
  writer.join();
  EXPECT_EQ(torn, 0) << kept << " copies kept, " << refused << " refused";
}

}  // namespace
}  // namespace tonalis
