// Wave-in capture: the default input recorded as mono 16-bit PCM at 65 536 Hz into 30
// buffers of 256 samples that circulate between the device and a polling loop on the
// worker thread; each finished buffer is converted into its slot of the sample ring.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>

#include "audio/sample_ring.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "platform/sound_input.h"

namespace tonalis {

inline constexpr int32_t CaptureBufferBytes = BlockSamples * 2;  // 512 bytes per buffer
inline constexpr uint32_t CapturePollMillis = 4;                 // wait step of the loop

// The texts shown when capture cannot be prepared.
inline constexpr std::string_view NoSoundCardMessage = "电脑没有声卡";
inline constexpr std::string_view OutOfMemoryMessage = "开辟内存失败";
inline constexpr std::string_view DeviceInUseMessage = "其他程序正在使用声卡，请关闭其他程序";

// captureLoop results.
inline constexpr int32_t CaptureLoopEnded = 0;
inline constexpr int32_t CaptureRequeueFailed = 8;

// One per run: made by prepareCapture, freed by releaseCapture.
struct CaptureState {
  double sampleRate = 65536.0;  // samples per second
  int32_t channelCount = 1;
  int32_t currentBuffer = 0;    // 0..29, the buffer the loop waits for next (worker only)
  int32_t bufferBytes = CaptureBufferBytes;
  int32_t bufferCount = RingSlotCount;
  int32_t capturing = 0;        // 1 once recording has started (worker only)
  bool deviceOpen = false;      // the port's device is open
  // Data buffers of the device buffers: the table (null until allocated) and in it one
  // 512-byte block per buffer (null until allocated). Owned here; the port points at them.
  std::unique_ptr<std::unique_ptr<uint8_t[]>[]> buffers;
};

// The capture fields of the main window, kept together so the window can embed them.
// Not copyable. `ring` and `latestBlock` are read by the analysis on the UI thread.
struct CaptureContext {
  SampleRing ring{};                      // 30 x 256 samples; zero it before recording starts
  std::atomic<int32_t> latestBlock{0};    // slot written last, 0..29; release-stored
  // Per slot, the number of times its writing began or ended: odd while the worker writes
  // it. A reader that finds a count changed across its copy was lapped (seqlock).
  std::array<std::atomic<uint32_t>, RingSlotCount> slotVersions{};
  int32_t captureStage = 0;               // 1 state exists, 2 buffer table, 3 a data buffer
  int32_t captureReleaseCount = 0;        // releaseCapture calls so far; only the first frees
  std::unique_ptr<CaptureState> state;    // null before prepareCapture and after release

  // Test hook: the number of allocations (state, buffer table, each data buffer) that
  // succeed before one fails; -1 = never fail.
  int32_t failAllocationAfter = -1;

  // Hand-over between the worker inside runCapture and releaseCapture on another thread.
  std::mutex mutex;
  std::condition_variable workerLeft;
  bool workerInside = false;              // guarded by mutex
  std::atomic<bool> stopRequested{false}; // set by releaseCapture; ends the loop like `running`
};

// Converts one device buffer (256 signed 16-bit little-endian samples) to floats without
// scaling: -32768 -> -32768.0f, 32767 -> 32767.0f.
void convertSamples(std::span<const uint8_t, CaptureBufferBytes> bytes,
                    std::span<float, BlockSamples> samples);

// Converts `bytes` into ring slot `slot` (0..29) and then publishes the slot in
// latestBlock with one release store. The capture loop's step; tools feed files through it.
void publishBlock(CaptureContext& capture, int32_t slot,
                  std::span<const uint8_t, CaptureBufferBytes> bytes);

// Any thread, alongside the worker: copies the out.size() / 256 slots ending at the latest
// one, oldest first. False when the worker wrote into one of them during the copy (it
// lapped a reader that stalled): `out` is then partly new, partly old, and must not be used.
bool copyNewestBlocks(const CaptureContext& capture, std::span<float> out);

// UI thread, once, before the worker starts. Checks for a device, creates the state,
// opens the device and prepares the 30 buffers. On failure (true) the reason has been
// shown through `shell` where the user can act on it ("电脑没有声卡", "开辟内存失败",
// "其他程序正在使用声卡，请关闭其他程序"), releaseCapture has run, and the caller must end
// the program without calling runCapture (it would only report failure).
bool prepareCapture(CaptureContext& capture, SoundInput& sound, Shell& shell);

// Called by prepareCapture only: opens the device and prepares the buffers. True = failure.
bool openCaptureDevice(CaptureContext& capture, SoundInput& sound, Shell& shell);

// Worker thread, once, after prepareCapture succeeded. Queues the buffers, starts
// recording, runs captureLoop until `running` is cleared (or releaseCapture asks it to
// stop, or a buffer cannot be re-queued), then resets the device. Failure (true) when
// queuing, starting or resetting fails; capture has then been released. Also failure,
// touching nothing, when there is no prepared state.
bool runCapture(CaptureContext& capture, SoundInput& sound, Clock& clock,
                const std::atomic<bool>& running);

// Called by runCapture only. Handles the buffers strictly in order 0..29, 0, ...; the wait
// for the next one sleeps 4 ms at a time and also ends as soon as `running` is clear (or a
// stop is requested), so a device that stopped delivering cannot hold up the exit.
// Returns CaptureLoopEnded, or CaptureRequeueFailed when a buffer could not be queued
// again (the device is left running; the ring keeps its last contents).
int32_t captureLoop(CaptureContext& capture, SoundInput& sound, Clock& clock,
                    const std::atomic<bool>& running);

// Releases what openCaptureDevice acquired: resets and closes the device, then frees the
// buffers and the state. Only the first call releases; every call adds 1 to
// captureReleaseCount. Safe from either thread at any time: when the worker is inside
// runCapture, this asks its loop to stop and waits until it has left (within one 4 ms
// wait step, or one port call) before touching anything. The exit sequence still should
// clear `running` and join the worker first, so the worker's own reset is the one used.
void releaseCapture(CaptureContext& capture, SoundInput& sound);

}  // namespace tonalis
