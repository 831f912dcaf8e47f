// The sound input device, shaped like the waveIn calls it stands for: the same order of
// calls, the same buffers with a done flag that the caller polls, the same result codes.
#pragma once

#include <cstdint>

namespace tonalis {

// Results as waveIn reports them (MMRESULT): 0 success, 4 the device is allocated to
// another program (MMSYSERR_ALLOCATED); any other non-zero value is some other failure.
inline constexpr uint32_t SoundOk = 0;
inline constexpr uint32_t SoundDeviceInUse = 4;
inline constexpr uint32_t SoundError = 1;          // MMSYSERR_ERROR, for unnamed failures
inline constexpr uint32_t SoundNoMemory = 7;       // MMSYSERR_NOMEM
inline constexpr uint32_t SoundInvalidParam = 11;  // MMSYSERR_INVALPARAM

// The recording format, field for field a WAVEFORMATEX without extra bytes.
struct SoundFormat {
  uint16_t formatTag = 1;  // 1 = PCM
  uint16_t channels = 1;
  uint32_t samplesPerSecond = 0;
  uint32_t averageBytesPerSecond = 0;
  uint16_t blockAlign = 0;     // bytes per sample frame
  uint16_t bitsPerSample = 0;
};

// One recording device at a time, opened on the system's default input (WAVE_MAPPER)
// without a callback: completion is seen by polling bufferDone. Buffers are numbered
// 0..n-1 by the caller; the backend keeps one header per number, so header records are
// its business. The data memory is the caller's and must stay valid, unmoved, until the
// device has been reset (reset or close) after the buffer was last queued.
//
// Threads: open, prepareBuffer and close are called on one thread while no other call
// is running; addBuffer, bufferDone, start and reset may be called from another thread
// afterwards, one caller at a time. bufferDone is an acquire: once it reports true, the
// buffer's bytes are visible to the caller.
class SoundInput {
 public:
  virtual ~SoundInput() = default;
  // Number of input devices present (waveInGetNumDevs); 0 when there is no sound card.
  virtual uint32_t deviceCount() = 0;
  // Opens the default input with `format` (waveInOpen, WAVE_MAPPER, CALLBACK_NULL).
  virtual uint32_t open(const SoundFormat& format) = 0;
  // Binds buffer `index` to `bytes` bytes at `data` and prepares it (waveInPrepareHeader
  // with the header's user value = index). Requires an open device.
  virtual uint32_t prepareBuffer(int32_t index, uint8_t* data, uint32_t bytes) = 0;
  // Queues a prepared buffer for recording and clears its done flag (waveInAddBuffer).
  virtual uint32_t addBuffer(int32_t index) = 0;
  // True once the device has filled the buffer and given it back (WHDR_DONE). All of its
  // bytes are used; the recorded-byte count is not reported.
  virtual bool bufferDone(int32_t index) = 0;
  virtual uint32_t start() = 0;  // waveInStart
  // Stops recording and gives every queued buffer back marked done (waveInReset).
  virtual uint32_t reset() = 0;
  // Releases the device (waveInClose); the backend unprepares its headers first.
  virtual uint32_t close() = 0;
};

}  // namespace tonalis
