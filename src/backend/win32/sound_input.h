// SoundInput on the Core Audio API: IMMDeviceEnumerator for the endpoints, a shared-mode
// IAudioClient with an event for the stream, IAudioCaptureClient for its packets, and an
// IMMNotificationClient whose callbacks only set flags.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

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
  SoundResult open(const SoundSource& source, SoundStreamInfo& info) override;
  SoundResult probe(const SoundSource& source, SoundStreamInfo& info) override;
  SoundResult start() override;
  SoundResult waitPacket(uint32_t timeoutMillis) override;
  SoundResult nextPacket(SoundPacket& packet) override;
  SoundResult releasePacket(uint32_t frames) override;
  // A loopback delivers no packets while nothing plays, so the output already idles.
  bool setPaused(bool) override { return false; }
  void close() override;
  uint32_t takeEvents() override;

 // One shared-mode capture stream and its event.
  struct Stream {
    IAudioClient* client = nullptr;
    IAudioCaptureClient* capture = nullptr;
    HANDLE event = nullptr;
    void release();
  };

 private:
  // What the menu and the tray tip ask for, kept by the thread that takes the events (the
  // capture loop) after every notification, so the UI thread never enumerates endpoints.
  struct Endpoints {
    std::vector<SoundDevice> devices;  // every capture endpoint
    bool defaultInput = false;         // a default capture endpoint is active
    bool defaultOutput = false;        // a default render endpoint is active
  };
  Endpoints endpoints();
  void refreshEndpoints();

  NotificationFlags* notifications_;  // owned; outlives every registration
  std::mutex endpointsMutex_;
  Endpoints endpoints_;                // guarded by endpointsMutex_
  bool endpointsKnown_ = false;        // guarded by endpointsMutex_
  std::atomic<bool> endpointsStale_{true};

  // The stream, all on the thread that opened it.
  bool comInitialized_ = false;
  IMMDeviceEnumerator* enumerator_ = nullptr;  // also holds the notification registration
  Stream stream_;
};

}  // namespace tonalis::win32
