// SoundInput on the Core Audio API: IMMDeviceEnumerator for the endpoints, a shared-mode
// IAudioClient with an event for the stream, IAudioCaptureClient for its packets, and an
// IMMNotificationClient whose callbacks only set flags.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <atomic>
#include <string>

#include "platform/sound_input.h"

struct IMMDeviceEnumerator;
struct IMMDevice;
struct IAudioClient;
struct IAudioCaptureClient;

namespace tonalis::win32 {

class NotificationFlags;

// What a mix format says, in the port's words. The speaker positions come from an extensible
// header's dwChannelMask; a plain header gets the usual layout for its channel count. A
// sub-format other than PCM or IEEE float gives bitsPerSample 0 (nothing the program takes).
SoundFormat soundFormatOf(const WAVEFORMATEX* wf);

class Win32SoundInput : public SoundInput {
 public:
  Win32SoundInput();
  ~Win32SoundInput() override;  // closes a stream still open
  Win32SoundInput(const Win32SoundInput&) = delete;
  Win32SoundInput& operator=(const Win32SoundInput&) = delete;

  uint32_t deviceCount() override;
  std::vector<SoundDevice> listDevices() override;
  bool available(const SoundSource& source) override;
  uint32_t open(const SoundSource& source, SoundStreamInfo& info) override;
  uint32_t start() override;
  uint32_t waitPacket(uint32_t timeoutMillis) override;
  uint32_t nextPacket(SoundPacket& packet) override;
  uint32_t releasePacket(uint32_t frames) override;
  void close() override;
  uint32_t takeEvents() override;

 private:
  uint32_t openEndpoint(IMMDevice* device, bool loopback, SoundStreamInfo& info);

  NotificationFlags* notifications_;  // owned; outlives every registration
  // The stream, all on the thread that opened it.
  bool comInitialized_ = false;
  IMMDeviceEnumerator* enumerator_ = nullptr;  // also holds the notification registration
  IAudioClient* client_ = nullptr;
  IAudioCaptureClient* capture_ = nullptr;
  HANDLE event_ = nullptr;
};

}  // namespace tonalis::win32
