// Capture: the chosen sound source recorded on the worker thread, converted to 65 536 Hz
// mono and cut into the 256-sample blocks of the sample ring. Losing a device is a state,
// never a hang: the ring gets silence by the clock, opening is retried, capture resumes.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "audio/sample_ring.h"
#include "audio/source_status.h"
#include "audio/sound_converter.h"
#include "platform/clock.h"
#include "platform/sound_input.h"

namespace tonalis {

inline constexpr int32_t CaptureBufferBytes = BlockSamples * 2;  // one block as 16-bit PCM

// Timing of the capture loop, in milliseconds.
inline constexpr uint32_t CaptureWaitMillis = 28;     // longest wait for a packet, a frame (exit, events, silence)
inline constexpr uint32_t CaptureGapMillis = 50;      // no packet this long: the gap is filled with silence
inline constexpr uint32_t CaptureQuietMillis = 500;   // a capture stream this late: silence meanwhile
inline constexpr uint32_t CaptureStallMillis = 1000;  // a capture stream silent this long has stalled
inline constexpr uint32_t CaptureRetryMillis = 500;   // retry opening (and look for an absent source)
inline constexpr uint32_t CaptureIdleMillis = 10000;  // "what is playing" all zeros this long: paused
inline constexpr uint32_t CapturePausedWaitMillis = 100;  // a paused stream's wait: playback news ends it early
inline constexpr uint32_t CaptureHushMillis = 200;    // zeros this long count as a silence that sound ends
inline constexpr uint32_t CaptureMaxRetryMillis = 8000;  // a source there that will not open: the pause
                                                         // doubles from CaptureRetryMillis up to this
inline constexpr uint32_t CaptureSettleMillis = 3000;  // a source that just came back may refuse its first
                                                      // opens: retried every CaptureRetryMillis meanwhile

// Why capture could not be prepared (what the user can act on is told apart).
enum class CaptureStart : uint8_t {
  Ready,
  NoSoundCard,   // the default input is chosen and there is no recording device
  DeviceInUse,   // the default input is held by another program
  NoMemory,      // the capture record could not be made
  Unavailable,   // the default input would not open for another reason
};


// The worker's private record: the converter and the stream bookkeeping.
struct CaptureState;

// The capture fields of the main window. Not copyable. `ring` is read by the analysis on
// the UI thread; the rest is shared through the mutex.
struct CaptureContext {
  CaptureContext();
  ~CaptureContext();

  SampleRing ring;                        // the worker writes, the analysis copies
  int32_t captureReleaseCount = 0;        // releaseCapture calls so far; only the first frees
  std::unique_ptr<CaptureState> state;    // null before prepareCapture and after release

  // Called on the worker when sound follows a silence of CaptureHushMillis or more (the
  // first block that is not all zeros), so a slowed frame timer can speed up at once.
  // Set before the worker starts; must be thread-safe and quick.
  std::function<void()> soundAfterSilence;

  // Test hook: the number of allocations that succeed before one fails; -1 = never fail.
  int32_t failAllocationAfter = -1;

  // The user's choice (UI thread writes, worker reads) and the worker's status.
  void choose(const SoundSource& source);
  SoundSource chosen() const;
  SourceStatus status() const;
  uint32_t statusVersion() const { return statusVersion_.load(std::memory_order_acquire); }

  // Hand-over between the worker inside runCapture and releaseCapture on another thread.
  mutable std::mutex mutex;
  std::condition_variable workerLeft;
  bool workerInside = false;              // guarded by mutex
  std::atomic<bool> stopRequested{false}; // set by releaseCapture; ends the loop like `running`

  // Worker side of the shared fields.
  uint32_t choiceVersion() const { return choiceVersion_.load(std::memory_order_acquire); }
  void publishStatus(const SourceStatus& status);

 private:
  SoundSource chosen_;                    // guarded by mutex
  SourceStatus status_;                   // guarded by mutex
  std::atomic<uint32_t> choiceVersion_{0};
  std::atomic<uint32_t> statusVersion_{0};
};

// Converts one block of 256 signed 16-bit little-endian samples to floats without scaling:
// -32768 -> -32768.0f, 32767 -> 32767.0f.
void convertSamples(std::span<const uint8_t, CaptureBufferBytes> bytes,
                    std::span<float, BlockSamples> samples);

// The converter's format for what a device delivers; false for a format the converter
// cannot take (8-bit or 64-bit samples, float that is not 32-bit).
bool streamFormatFor(const SoundFormat& device, StreamFormat& out);

// UI thread, once, before the worker starts, with the source the settings name. For the
// default input it checks there is a recording device and that it can be opened; any
// other source never stops the program (it waits for its device). Unless Ready,
// releaseCapture has run and the caller must end the program without calling runCapture.
CaptureStart prepareCapture(CaptureContext& capture, SoundInput& sound, const SoundSource& source);

// Worker thread, once, after prepareCapture succeeded: records until `running` is cleared
// or releaseCapture asks it to stop, then closes the stream. Device loss, absent sources
// and default changes are handled inside. False (touching nothing) when there is nothing to
// record into (no preparation, or released).
bool runCapture(CaptureContext& capture, SoundInput& sound, Clock& clock,
                const std::atomic<bool>& running);

// One turn of the capture loop: events, (re)opening, one wait for packets (at most
// CaptureWaitMillis) and what it brought, or silence by the clock. runCapture repeats it;
// tests step it with a fake clock. Requires prepareCapture to have succeeded.
void captureStep(CaptureContext& capture, SoundInput& sound, Clock& clock);

// Closes the stream the loop may have open (the end of runCapture).
void closeCaptureStream(CaptureContext& capture, SoundInput& sound);

// Frees the capture record; only the first call does, every call adds 1 to
// captureReleaseCount. Safe from either thread: a worker inside runCapture is asked to
// stop and waited for (one packet wait at most) before anything goes.
void releaseCapture(CaptureContext& capture, SoundInput& sound);

}  // namespace tonalis
