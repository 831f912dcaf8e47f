#include "audio/capture.h"

#include <new>

namespace tonalis {
namespace {

// Allocation with the test hook: counts down failAllocationAfter and fails at zero.
bool allocationAllowed(CaptureContext& capture) {
  if (capture.failAllocationAfter < 0) {
    return true;
  }
  if (capture.failAllocationAfter == 0) {
    return false;
  }
  --capture.failAllocationAfter;
  return true;
}

}  // namespace

void convertSamples(std::span<const uint8_t, CaptureBufferBytes> bytes,
                    std::span<float, BlockSamples> samples) {
  for (int k = 0; k < BlockSamples; ++k) {
    const auto value = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * k]) |
                                            static_cast<uint16_t>(bytes[2 * k + 1] << 8));
    samples[k] = static_cast<float>(value);
  }
}

void publishBlock(CaptureContext& capture, int32_t slot,
                  std::span<const uint8_t, CaptureBufferBytes> bytes) {
  std::array<float, BlockSamples> samples;
  convertSamples(bytes, samples);
  // The slot's count is odd while it is written. The samples are stored as atomics (plain
  // moves on x86): a lapped reader may look at them meanwhile, and then discards what it saw.
  // Release stores, so that a reader that sees a new sample also sees the odd count.
  std::atomic<uint32_t>& version = capture.slotVersions[size_t(slot)];
  const uint32_t before = version.load(std::memory_order_relaxed);
  version.store(before + 1, std::memory_order_relaxed);
  auto& target = capture.ring[size_t(slot)];
  for (int k = 0; k < BlockSamples; ++k) {
    std::atomic_ref<float>(target[size_t(k)]).store(samples[size_t(k)], std::memory_order_release);
  }
  version.store(before + 2, std::memory_order_release);
  // The slot is complete before its index becomes visible to the analysis.
  capture.latestBlock.store(slot, std::memory_order_release);
}

bool copyNewestBlocks(const CaptureContext& capture, std::span<float> out) {
  const int32_t blocks = int32_t(out.size()) / BlockSamples;
  if (blocks <= 0 || blocks > RingSlotCount) return false;
  const int32_t latest = capture.latestBlock.load(std::memory_order_acquire);
  const int32_t first = ((latest - (blocks - 1)) % RingSlotCount + RingSlotCount) % RingSlotCount;
  std::array<uint32_t, RingSlotCount> versions;
  int32_t slot = first;
  for (int32_t b = 0; b < blocks; ++b) {
    versions[size_t(b)] = capture.slotVersions[size_t(slot)].load(std::memory_order_acquire);
    if (versions[size_t(b)] & 1u) return false;  // being written right now
    auto& source = const_cast<std::array<float, BlockSamples>&>(capture.ring[size_t(slot)]);
    float* to = out.data() + size_t(b) * BlockSamples;
    for (int k = 0; k < BlockSamples; ++k) {
      to[k] = std::atomic_ref<float>(source[size_t(k)]).load(std::memory_order_acquire);
    }
    slot = slot + 1 < RingSlotCount ? slot + 1 : 0;
  }
  // The acquire loads above keep these checks after the copy.
  slot = first;
  for (int32_t b = 0; b < blocks; ++b) {
    if (capture.slotVersions[size_t(slot)].load(std::memory_order_relaxed) != versions[size_t(b)]) return false;
    slot = slot + 1 < RingSlotCount ? slot + 1 : 0;
  }
  return true;
}

bool prepareCapture(CaptureContext& capture, SoundInput& sound, Shell& shell) {
  capture.state.reset();
  capture.stopRequested = false;
  if (sound.deviceCount() == 0) {
    shell.showMessage(NoSoundCardMessage);
    return true;
  }
  if (allocationAllowed(capture)) {
    capture.state.reset(new (std::nothrow) CaptureState());
  }
  if (!capture.state) {
    shell.showMessage(OutOfMemoryMessage);
    releaseCapture(capture, sound);
    return true;
  }
  capture.captureReleaseCount = 0;
  capture.captureStage = 1;
  CaptureState& state = *capture.state;
  state.sampleRate = 65536.0;
  state.channelCount = 1;
  state.bufferBytes = CaptureBufferBytes;
  state.bufferCount = RingSlotCount;
  if (openCaptureDevice(capture, sound, shell)) {
    releaseCapture(capture, sound);
    return true;
  }
  return false;
}

bool openCaptureDevice(CaptureContext& capture, SoundInput& sound, Shell& shell) {
  CaptureState& state = *capture.state;
  SoundFormat format;
  format.formatTag = 1;
  format.channels = static_cast<uint16_t>(state.channelCount);
  format.samplesPerSecond = static_cast<uint32_t>(state.sampleRate);
  format.blockAlign = static_cast<uint16_t>(2 * state.channelCount);
  format.averageBytesPerSecond = static_cast<uint32_t>(format.blockAlign * state.sampleRate);
  format.bitsPerSample = static_cast<uint16_t>(format.blockAlign / state.channelCount * 8);

  const uint32_t opened = sound.open(format);
  if (opened == SoundDeviceInUse) {
    shell.showMessage(DeviceInUseMessage);
    releaseCapture(capture, sound);
    return true;
  }
  if (opened != SoundOk) {
    releaseCapture(capture, sound);
    return true;
  }
  state.deviceOpen = true;

  if (allocationAllowed(capture)) {
    state.buffers.reset(new (std::nothrow) std::unique_ptr<uint8_t[]>[state.bufferCount]);
  }
  if (!state.buffers) {
    releaseCapture(capture, sound);
    return true;
  }
  capture.captureStage = 2;

  for (int32_t i = 0; i < state.bufferCount; ++i) {
    if (allocationAllowed(capture)) {
      state.buffers[i].reset(new (std::nothrow) uint8_t[state.bufferBytes]);
    }
    if (!state.buffers[i]) {
      releaseCapture(capture, sound);
      return true;
    }
    capture.captureStage = 3;
    if (sound.prepareBuffer(i, state.buffers[i].get(), static_cast<uint32_t>(state.bufferBytes)) !=
        SoundOk) {
      releaseCapture(capture, sound);
      return true;
    }
  }
  return false;
}

bool runCapture(CaptureContext& capture, SoundInput& sound, Clock& clock,
                const std::atomic<bool>& running) {
  {
    std::lock_guard lock(capture.mutex);
    // Never after a failed preparation or a release: there is nothing to record into.
    if (!capture.state || capture.captureReleaseCount != 0 || capture.stopRequested) {
      return true;
    }
    capture.workerInside = true;
  }
  const auto leave = [&capture] {
    std::lock_guard lock(capture.mutex);
    capture.workerInside = false;
    capture.workerLeft.notify_all();
  };

  CaptureState& state = *capture.state;
  bool failed = false;
  for (int32_t i = 0; i < state.bufferCount && !failed; ++i) {
    failed = sound.addBuffer(i) != SoundOk;
  }
  if (!failed) {
    failed = sound.start() != SoundOk;
  }
  if (!failed) {
    state.capturing = 1;
    captureLoop(capture, sound, clock, running);  // a failed re-queue just stops recording
    failed = sound.reset() != SoundOk;
  }
  leave();
  if (failed) {
    releaseCapture(capture, sound);
  }
  return failed;
}

int32_t captureLoop(CaptureContext& capture, SoundInput& sound, Clock& clock,
                    const std::atomic<bool>& running) {
  CaptureState& state = *capture.state;
  state.currentBuffer = 0;
  if (state.capturing == 0) {
    return CaptureLoopEnded;
  }
  const auto keepGoing = [&] {
    return running.load(std::memory_order_acquire) &&
           !capture.stopRequested.load(std::memory_order_acquire);
  };
  do {
    const int32_t current = state.currentBuffer;
    while (!sound.bufferDone(current)) {
      if (!keepGoing()) {
        return CaptureLoopEnded;
      }
      clock.sleepMillis(CapturePollMillis);
    }
    publishBlock(capture, current,
                 std::span<const uint8_t, CaptureBufferBytes>(state.buffers[current].get(),
                                                              CaptureBufferBytes));
    if (sound.addBuffer(current) != SoundOk) {
      return CaptureRequeueFailed;
    }
    state.currentBuffer = current + 1 < state.bufferCount ? current + 1 : 0;
  } while (keepGoing() && state.capturing != 0);
  return CaptureLoopEnded;
}

void releaseCapture(CaptureContext& capture, SoundInput& sound) {
  std::unique_lock lock(capture.mutex);
  // A worker still inside runCapture is asked to stop and waited for, so nothing it may
  // touch goes away under it.
  capture.stopRequested = true;
  capture.workerLeft.wait(lock, [&capture] { return !capture.workerInside; });

  if (capture.captureReleaseCount != 0 || !capture.state) {
    ++capture.captureReleaseCount;
    return;
  }
  CaptureState& state = *capture.state;
  const int32_t stage = capture.captureStage;
  if (stage == 1 || stage == 2 || stage == 3) {
    // The device gives back every queued buffer on reset, and forgets them on close;
    // only then may their memory go.
    if (state.deviceOpen) {
      sound.reset();
      sound.close();
      state.deviceOpen = false;
    }
    state.buffers.reset();  // with stage 3, every allocated data buffer too
    capture.state.reset();
  }
  ++capture.captureReleaseCount;
}

}  // namespace tonalis
