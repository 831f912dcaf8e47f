#include "audio/capture.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "fakes/call_log.h"
#include "fakes/fake_app_ports.h"
#include "fakes/fake_sound_input.h"

namespace tonalis {
namespace {

using fakes::CallLog;
using fakes::FakeSoundInput;
using namespace std::chrono_literals;

class TestClock : public Clock {
 public:
  std::atomic<int> sleeps{0};
  std::function<void()> onSleep;  // runs at every sleep, before it
  bool realSleep = false;
  uint32_t tickCount() override { return 0; }
  LocalTime localTime() override { return {}; }
  void sleepMillis(uint32_t ms) override {
    EXPECT_EQ(ms, CapturePollMillis);
    ++sleeps;
    if (onSleep) onSleep();
    if (realSleep) std::this_thread::sleep_for(1ms);
  }
};

// Samples of block b: b * 256 + k, so every slot shows which block it holds.
std::vector<int16_t> numberedBlocks(int first, int count) {
  std::vector<int16_t> s;
  for (int b = first; b < first + count; ++b) {
    for (int k = 0; k < BlockSamples; ++k) s.push_back(static_cast<int16_t>(b * 256 + k));
  }
  return s;
}

struct Fixture {
  CallLog log;
  FakeSoundInput sound{log};
  TestClock clock;
  fakes::FakeShell shell{log};
  CaptureContext capture;
  std::atomic<bool> running{true};

  // Prepares capture and runs the capture loop on a worker thread with real (1 ms) sleeps,
  // like the program's StartupThread; the result is runCapture's.
  std::future<bool> startWorker() {
    EXPECT_FALSE(prepareCapture(capture, sound, shell));
    clock.realSleep = true;
    return std::async(std::launch::async, [this] { return runCapture(capture, sound, clock, running); });
  }
  // Waits (at most 5 s) until `done` holds.
  template <class Done>
  void waitUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  }
};

TEST(PrepareCapture, OpensTheDefaultInputAndPreparesThirtyBuffers) {
  Fixture f;
  ASSERT_FALSE(prepareCapture(f.capture, f.sound, f.shell));
  EXPECT_TRUE(f.shell.messages.empty());
  EXPECT_EQ(f.sound.openedFormat.formatTag, 1);
  EXPECT_EQ(f.sound.openedFormat.channels, 1);
  EXPECT_EQ(f.sound.openedFormat.samplesPerSecond, 65536u);
  EXPECT_EQ(f.sound.openedFormat.averageBytesPerSecond, 131072u);
  EXPECT_EQ(f.sound.openedFormat.blockAlign, 2);
  EXPECT_EQ(f.sound.openedFormat.bitsPerSample, 16);
  const std::vector<std::string> prepares = f.log.callsStartingWith("sound.prepare");
  ASSERT_EQ(prepares.size(), 30u);
  EXPECT_EQ(prepares.front(), "sound.prepare 0");
  EXPECT_EQ(prepares.back(), "sound.prepare 29");
  EXPECT_EQ(f.capture.captureStage, 3);
  EXPECT_EQ(f.capture.captureReleaseCount, 0);
  ASSERT_NE(f.capture.state, nullptr);
  EXPECT_EQ(f.capture.state->capturing, 0);
  EXPECT_EQ(f.log.count("sound.add"), 0);  // nothing is queued before the worker runs
}

struct PrepareFailure {
  const char* name;
  std::function<void(Fixture&)> script;
  const char* message;     // "" = none
  int32_t stage;           // captureStage afterwards
  bool deviceWasOpen;      // so release must reset and close it
  int32_t releases;        // releaseCapture calls made by the preparation itself
};

TEST(PrepareCapture, FailuresShowTheirMessageAndReleaseOnce) {
  const PrepareFailure cases[] = {
      {"no sound card", [](Fixture& f) { f.sound.devices = 0; }, "电脑没有声卡", 0, false, 0},
      {"no memory for the state", [](Fixture& f) { f.capture.failAllocationAfter = 0; },
       "开辟内存失败", 0, false, 1},
      {"device in use", [](Fixture& f) { f.sound.openResult = SoundDeviceInUse; },
       "其他程序正在使用声卡，请关闭其他程序", 1, false, 2},
      {"other open error", [](Fixture& f) { f.sound.openResult = 2; }, "", 1, false, 2},
      {"no memory for the buffer table", [](Fixture& f) { f.capture.failAllocationAfter = 1; }, "", 1,
       true, 2},
      {"no memory for buffer 5", [](Fixture& f) { f.capture.failAllocationAfter = 2 + 5; }, "", 3, true, 2},
      {"prepare of buffer 7 fails", [](Fixture& f) { f.sound.prepareFailIndex = 7; }, "", 3, true, 2},
  };
  for (const PrepareFailure& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    c.script(f);
    EXPECT_TRUE(prepareCapture(f.capture, f.sound, f.shell));
    if (*c.message) {
      EXPECT_EQ(f.shell.messages, std::vector<std::string>{c.message});
    } else {
      EXPECT_TRUE(f.shell.messages.empty());
    }
    EXPECT_EQ(f.capture.captureStage, c.stage);
    EXPECT_EQ(f.capture.state, nullptr);
    EXPECT_FALSE(f.sound.isOpen());
    EXPECT_EQ(f.log.count("sound.close"), c.deviceWasOpen ? 1 : 0);
    if (c.deviceWasOpen) {
      EXPECT_LT(f.log.indexOf("sound.reset"), f.log.indexOf("sound.close"));
    }
    // The start-up's own release afterwards, and a worker that was never meant to run,
    // change nothing but the count.
    EXPECT_EQ(f.capture.captureReleaseCount, c.releases);
    releaseCapture(f.capture, f.sound);
    EXPECT_EQ(f.capture.captureReleaseCount, c.releases + 1);
    const size_t calls = f.log.calls().size();
    EXPECT_TRUE(runCapture(f.capture, f.sound, f.clock, f.running));
    EXPECT_EQ(f.log.calls().size(), calls);
    EXPECT_EQ(f.log.count("sound.close"), c.deviceWasOpen ? 1 : 0);
    EXPECT_FALSE(f.sound.misuse());
  }
}

TEST(ConvertSamples, SignedLittleEndianWithoutScaling) {
  std::array<uint8_t, CaptureBufferBytes> bytes{};
  const std::pair<std::array<uint8_t, 2>, float> cases[] = {
      {{0x00, 0x80}, -32768.0f}, {{0xFF, 0x7F}, 32767.0f}, {{0xFF, 0xFF}, -1.0f},
      {{0x01, 0x00}, 1.0f},      {{0x00, 0x01}, 256.0f},   {{0x00, 0x00}, 0.0f}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    bytes[2 * i] = cases[i].first[0];
    bytes[2 * i + 1] = cases[i].first[1];
  }
  std::array<float, BlockSamples> samples;
  samples.fill(99.0f);
  convertSamples(bytes, samples);
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(samples[i], cases[i].second) << i;
  EXPECT_EQ(samples[255], 0.0f);  // every sample is converted
}

// Records 35 blocks and stops at the first wait: buffers are handled strictly in order,
// back to back while they are done, and the slot index wraps from 29 to 0.
TEST(RunCapture, FillsTheRingInOrderAndWraps) {
  Fixture f;
  ASSERT_FALSE(prepareCapture(f.capture, f.sound, f.shell));
  std::vector<int16_t> samples = numberedBlocks(0, 35);
  samples[0] = -32768;
  samples[1] = 32767;
  f.sound.record(samples);
  f.clock.onSleep = [&f] { f.running = false; };
  EXPECT_FALSE(runCapture(f.capture, f.sound, f.clock, f.running));

  EXPECT_EQ(f.clock.sleeps, 1);  // no sleeping while finished buffers were waiting
  EXPECT_EQ(f.capture.latestBlock, 4);
  std::vector<std::string> adds = f.log.callsStartingWith("sound.add");
  ASSERT_EQ(adds.size(), 30u + 35u);
  for (int i = 0; i < 65; ++i) EXPECT_EQ(adds[i], "sound.add " + std::to_string(i % 30)) << i;
  EXPECT_LT(f.log.indexOf("sound.add 29"), f.log.indexOf("sound.start"));
  EXPECT_EQ(f.log.calls().back(), "sound.reset");

  // Slots 0..4 hold blocks 30..34, slots 5..29 blocks 5..29.
  for (int slot = 0; slot < RingSlotCount; ++slot) {
    const int block = slot < 5 ? slot + 30 : slot;
    EXPECT_EQ(f.capture.ring[slot][7], block * 256 + 7) << "slot " << slot;
    EXPECT_EQ(f.capture.ring[slot][255], block * 256 + 255) << "slot " << slot;
  }
}

TEST(RunCapture, StoresExtremeSamplesUnchanged) {
  Fixture f;
  ASSERT_FALSE(prepareCapture(f.capture, f.sound, f.shell));
  std::vector<int16_t> samples(BlockSamples, 0);
  samples[0] = -32768;
  samples[1] = 32767;
  samples[255] = -1;
  f.sound.record(samples);
  f.clock.onSleep = [&f] { f.running = false; };
  EXPECT_FALSE(runCapture(f.capture, f.sound, f.clock, f.running));
  EXPECT_EQ(f.capture.latestBlock, 0);
  EXPECT_EQ(f.capture.ring[0][0], -32768.0f);
  EXPECT_EQ(f.capture.ring[0][1], 32767.0f);
  EXPECT_EQ(f.capture.ring[0][255], -1.0f);
}

struct StartFailure {
  const char* name;
  std::function<void(Fixture&)> script;
};

// Queuing, starting or the final reset fails: failure is reported and capture is released
// (device reset before it is closed), so the exit sequence's release only counts.
TEST(RunCapture, StartAndResetFailuresReleaseCapture) {
  const StartFailure cases[] = {
      {"queuing buffer 4", [](Fixture& f) { f.sound.addFailCall = 4; }},
      {"start", [](Fixture& f) { f.sound.startResult = SoundError; }},
      {"reset after the loop", [](Fixture& f) {
         f.sound.resetResult = SoundError;
         f.running = false;
       }},
  };
  for (const StartFailure& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    ASSERT_FALSE(prepareCapture(f.capture, f.sound, f.shell));
    c.script(f);
    EXPECT_TRUE(runCapture(f.capture, f.sound, f.clock, f.running));
    EXPECT_EQ(f.capture.state, nullptr);
    EXPECT_EQ(f.capture.captureReleaseCount, 1);
    EXPECT_FALSE(f.sound.isOpen());
    EXPECT_EQ(f.log.count("sound.close"), 1);
    EXPECT_LT(f.log.indexOf("sound.reset"), f.log.indexOf("sound.close"));
    releaseCapture(f.capture, f.sound);
    EXPECT_EQ(f.capture.captureReleaseCount, 2);
    EXPECT_EQ(f.log.count("sound.close"), 1);
    EXPECT_FALSE(f.sound.misuse());
  }
}

// A buffer that cannot be queued again stops recording quietly: the loop reports 8, the
// ring keeps what it had, and capture is still there for the exit sequence to release.
TEST(CaptureLoop, RequeueFailureEndsTheLoopWithEight) {
  Fixture f;
  ASSERT_FALSE(prepareCapture(f.capture, f.sound, f.shell));
  f.sound.record(numberedBlocks(0, 10));
  f.sound.addFailCall = 30 + 2;  // the third re-queue
  for (int i = 0; i < 30; ++i) ASSERT_EQ(f.sound.addBuffer(i), SoundOk);
  ASSERT_EQ(f.sound.start(), SoundOk);
  f.capture.state->capturing = 1;
  EXPECT_EQ(captureLoop(f.capture, f.sound, f.clock, f.running), CaptureRequeueFailed);
  EXPECT_EQ(f.capture.latestBlock, 2);
  EXPECT_EQ(f.capture.ring[2][0], 2 * 256);
  EXPECT_EQ(f.clock.sleeps, 0);
  EXPECT_EQ(f.log.count("sound.reset"), 0);  // the loop leaves the device running

  // Through runCapture the same stop is a success: reset, nothing released.
  Fixture g;
  ASSERT_FALSE(prepareCapture(g.capture, g.sound, g.shell));
  g.sound.record(numberedBlocks(0, 10));
  g.sound.addFailCall = 30 + 2;
  EXPECT_FALSE(runCapture(g.capture, g.sound, g.clock, g.running));
  EXPECT_NE(g.capture.state, nullptr);
  EXPECT_EQ(g.capture.captureReleaseCount, 0);
  releaseCapture(g.capture, g.sound);
  EXPECT_EQ(g.capture.captureReleaseCount, 1);
  EXPECT_EQ(g.log.count("sound.close"), 1);
  EXPECT_FALSE(g.sound.misuse());
}

TEST(CaptureLoop, NotCapturingEndsAtOnce) {
  Fixture f;
  ASSERT_FALSE(prepareCapture(f.capture, f.sound, f.shell));
  f.capture.state->currentBuffer = 17;
  EXPECT_EQ(captureLoop(f.capture, f.sound, f.clock, f.running), CaptureLoopEnded);
  EXPECT_EQ(f.capture.state->currentBuffer, 0);
  EXPECT_EQ(f.sound.polls(), 0);
}

TEST(ReleaseCapture, OnlyTheFirstCallReleases) {
  Fixture f;
  ASSERT_FALSE(prepareCapture(f.capture, f.sound, f.shell));
  releaseCapture(f.capture, f.sound);
  releaseCapture(f.capture, f.sound);
  EXPECT_EQ(f.capture.captureReleaseCount, 2);
  EXPECT_EQ(f.log.count("sound.reset"), 1);
  EXPECT_EQ(f.log.count("sound.close"), 1);
  EXPECT_EQ(f.capture.state, nullptr);
  EXPECT_FALSE(f.sound.misuse());
}

// The device stops delivering (input unplugged): the worker waits for a buffer that never
// comes, and clearing `running` must still end it promptly.
TEST(RunCapture, ExitWhileTheDeviceHasStoppedDelivering) {
  Fixture f;
  f.sound.record(numberedBlocks(0, 3));
  auto worker = f.startWorker();
  f.waitUntil([&f] { return f.capture.latestBlock == 2 && f.clock.sleeps >= 3; });
  ASSERT_EQ(f.capture.latestBlock, 2);
  f.running = false;
  ASSERT_EQ(worker.wait_for(5s), std::future_status::ready) << "the capture loop did not end";
  EXPECT_FALSE(worker.get());
  EXPECT_EQ(f.log.calls().back(), "sound.reset");
  releaseCapture(f.capture, f.sound);
  EXPECT_EQ(f.log.count("sound.close"), 1);
  EXPECT_FALSE(f.sound.misuse());
}

// Releasing while the worker is still inside the loop (the exit did not wait for it):
// the release first stops the loop and waits for it, then resets and frees.
TEST(ReleaseCapture, WhileTheLoopRunsWaitsForItToLeave) {
  Fixture f;
  f.sound.record(numberedBlocks(0, 2));
  auto worker = f.startWorker();
  f.waitUntil([&f] { return f.clock.sleeps >= 3; });
  releaseCapture(f.capture, f.sound);
  EXPECT_EQ(worker.wait_for(0s), std::future_status::ready);
  EXPECT_FALSE(worker.get());
  EXPECT_TRUE(f.running);
  EXPECT_EQ(f.capture.state, nullptr);
  EXPECT_EQ(f.capture.captureReleaseCount, 1);
  EXPECT_EQ(f.log.count("sound.close"), 1);
  EXPECT_EQ(f.log.calls().back(), "sound.close");
  EXPECT_FALSE(f.sound.misuse());
  // A worker arriving after the release records nothing.
  EXPECT_TRUE(runCapture(f.capture, f.sound, f.clock, f.running));
}

// A writer that laps the reader: every copy the reader keeps holds 8 whole, consecutive
// blocks; a copy the writer wrote into is refused, never used. (Run it under
// ThreadSanitizer too: the ring's sharing must be race-free.)
TEST(CopyNewestBlocks, ACopyLappedByTheWriterIsRefusedNeverTorn) {
  CaptureContext capture;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    std::array<uint8_t, CaptureBufferBytes> bytes{};
    for (int block = 1; !stop; ++block) {
      const int16_t marker = int16_t(1 + block % 20000);  // never 0, the ring's first content
      for (int k = 0; k < BlockSamples; ++k) {
        bytes[size_t(2 * k)] = uint8_t(uint16_t(marker) & 0xFF);
        bytes[size_t(2 * k + 1)] = uint8_t(uint16_t(marker) >> 8);
      }
      publishBlock(capture, block % RingSlotCount, bytes);
    }
  });
  std::vector<float> copy(8 * BlockSamples);
  int kept = 0, refused = 0, torn = 0;
  const auto until = std::chrono::steady_clock::now() + 300ms;
  while (std::chrono::steady_clock::now() < until || kept == 0) {
    if (!copyNewestBlocks(capture, copy)) {
      ++refused;
      continue;
    }
    ++kept;
    const int first = int(copy[0]);
    if (first == 0) continue;  // before the writer's first lap
    for (int b = 0; b < 8; ++b) {
      const float want = float(1 + (first - 1 + b) % 20000);
      for (int k = 0; k < BlockSamples; ++k) torn += copy[size_t(b * BlockSamples + k)] != want;
    }
  }
  stop = true;
  writer.join();
  EXPECT_EQ(torn, 0) << kept << " copies kept, " << refused << " refused";
  EXPECT_GT(kept, 0);
}

TEST(CopyNewestBlocks, TakesTheSlotsEndingAtTheLatestOldestFirst) {
  CaptureContext capture;
  std::array<uint8_t, CaptureBufferBytes> bytes{};
  for (int block = 0; block < 33; ++block) {
    bytes[0] = uint8_t(block);
    publishBlock(capture, block % RingSlotCount, bytes);
  }
  std::vector<float> copy(8 * BlockSamples);
  ASSERT_TRUE(copyNewestBlocks(capture, copy));
  for (int b = 0; b < 8; ++b) EXPECT_EQ(copy[size_t(b * BlockSamples)], float(25 + b)) << b;
  // A slot being written right now (its count odd) refuses the copy.
  capture.slotVersions[27] += 1;
  EXPECT_FALSE(copyNewestBlocks(capture, copy));
}

}  // namespace
}  // namespace tonalis
