// SoundInput on the Windows multimedia wave-in API: the default input (WAVE_MAPPER),
// no callback, completion seen through each header's WHDR_DONE flag.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <memory>

#include "platform/sound_input.h"

namespace tonalis::win32 {

class Win32SoundInput : public SoundInput {
 public:
  Win32SoundInput() = default;
  ~Win32SoundInput() override;  // closes a device still open
  Win32SoundInput(const Win32SoundInput&) = delete;
  Win32SoundInput& operator=(const Win32SoundInput&) = delete;

  uint32_t deviceCount() override;
  uint32_t open(const SoundFormat& format) override;
  uint32_t prepareBuffer(int32_t index, uint8_t* data, uint32_t bytes) override;
  uint32_t addBuffer(int32_t index) override;
  bool bufferDone(int32_t index) override;
  uint32_t start() override;
  uint32_t reset() override;
  uint32_t close() override;

 private:
  static constexpr int32_t MaxBuffers = 64;
  WAVEHDR* header(int32_t index);

  HWAVEIN device_ = nullptr;
  // The headers the driver writes to; owned here so their size and layout are the build's.
  std::unique_ptr<WAVEHDR[]> headers_ = std::make_unique<WAVEHDR[]>(MaxBuffers);
  bool prepared_[MaxBuffers] = {};
};

}  // namespace tonalis::win32
