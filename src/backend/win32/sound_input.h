// SoundInput on the Core Audio API: IMMDeviceEnumerator for the endpoints, a shared-mode
// IAudioClient with an event for the stream, IAudioCaptureClient for its packets, and an
// IMMNotificationClient whose callbacks only set flags.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <atomic>
#include <cstdint>
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

// How often a paused stream through which zeros keep coming is looked at: the longest a sound
// waits to be noticed, beside one device period. Each look takes what came since the last.
inline constexpr uint32_t PausedLookMillis = 40;

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
  // What is playing (a loopback or a monitor) rests in a silence; other streams are not paused.
  bool setPaused(bool paused) override;
  void close() override;
  uint32_t takeEvents() override;

  // One shared-mode capture stream and its event, with what pausing it needs. A paused
  // stream keeps running, as only its packets can tell that sound has come, but it is not
  // woken per packet: a loopback on Windows delivers nothing while nothing plays, so the
  // wait rests on the event; where zeros keep coming (Wine's loopback and monitors) they
  // are taken a look at a time, PausedLookMillis apart. The packet that brings sound is
  // kept and handed out first when the pause ends, so the first bars need not wait for the
  // next one.
  class Stream {
   public:
    IAudioClient* client = nullptr;
    IAudioCaptureClient* capture = nullptr;
    HANDLE event = nullptr;
    uint32_t frameBytes = 0;  // one frame of the stream's format
    bool pausable = false;    // records what is playing

    // The port's stream calls on this stream. wait() sets `soundCame` when a paused stream
    // found sound (it then returns Ok; nothing is handed out until the pause ends). A
    // device lost while paused is told by the next next().
    SoundResult wait(uint32_t timeoutMillis, bool& soundCame);
    SoundResult next(SoundPacket& packet);
    SoundResult giveBack(uint32_t frames);
    bool pause(bool paused);
    bool paused() const { return paused_; }
    void release();

   private:
    enum class Look { Nothing, Zeros, Sound, Failed };
    Look look();
    // The next packet the device holds (to be given back); false when none is waiting or
    // the device failed (`hr` then says so).
    bool takePacket(BYTE*& data, UINT32& frames, DWORD& flags, HRESULT& hr);

    bool paused_ = false;
    ULONGLONG restUntil_ = 0;     // zeros seen: the next look not before this tick
    std::vector<uint8_t> held_;   // the packet that brought sound while paused
    uint32_t heldFrames_ = 0;     // 0: none held
    bool heldOut_ = false;        // the held packet is handed out until given back
    HRESULT failure_ = S_OK;      // what a look while paused ran into
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
