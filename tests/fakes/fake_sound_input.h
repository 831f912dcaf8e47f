// A scripted sound input: results per call, and a device that records queued sample
// blocks into the queued buffers in queue order. Calls are logged ("sound.add 3").
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "fakes/call_log.h"
#include "platform/sound_input.h"

namespace tonalis::fakes {

class FakeSoundInput : public SoundInput {
 public:
  explicit FakeSoundInput(CallLog& log) : log_(log) {}

  // Script (set before use).
  uint32_t devices = 1;
  uint32_t openResult = SoundOk;
  int32_t prepareFailIndex = -1;      // prepareBuffer of this index fails
  int32_t addFailCall = -1;           // the n-th addBuffer call (0-based) fails
  uint32_t startResult = SoundOk;
  uint32_t resetResult = SoundOk;
  uint32_t failResult = SoundInvalidParam;  // result of the scripted failures above

  // Samples the device will record, in order; each 256 of them fill the buffer at the head
  // of the queue, as soon as the loop polls. When they run out the device stops delivering.
  void record(const std::vector<int16_t>& samples);
  // Buffers still waiting to be recorded.
  size_t pendingBlocks() const;

  // Observations.
  SoundFormat openedFormat{};
  bool isOpen() const;
  int polls() const;
  // A buffer was polled, queued or filled while the device was closed or the buffer's
  // memory unbound: the core touched what it had released.
  bool misuse() const;

  uint32_t deviceCount() override;
  uint32_t open(const SoundFormat& format) override;
  uint32_t prepareBuffer(int32_t index, uint8_t* data, uint32_t bytes) override;
  uint32_t addBuffer(int32_t index) override;
  bool bufferDone(int32_t index) override;
  uint32_t start() override;
  uint32_t reset() override;
  uint32_t close() override;

 private:
  struct Buffer {
    uint8_t* data = nullptr;
    uint32_t bytes = 0;
    bool queued = false;
    bool done = false;
  };
  void deliverLocked();

  CallLog& log_;
  mutable std::mutex mutex_;
  std::vector<Buffer> buffers_;
  std::deque<int32_t> queue_;                 // queued buffer indices, oldest first
  std::deque<std::vector<int16_t>> pending_;  // 256-sample blocks to record
  bool open_ = false;
  bool started_ = false;
  bool misuse_ = false;
  int addCalls_ = 0;
  int polls_ = 0;
};

}  // namespace tonalis::fakes
