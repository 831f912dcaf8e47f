// The sound input, shaped like the Core Audio calls it stands for: endpoints listed by id
// and friendly name, one shared-mode capture stream at a time that delivers packets in the
// device's own format (waited for with an event and a timeout, taken and released like
// IAudioCaptureClient's buffers), and device notifications collected as flags.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tonalis {

// What a sound call came to.
enum class SoundResult : uint32_t {
  Ok,
  Error,              // some other failure
  NotFound,           // no such endpoint, or none is the default
  DeviceInvalidated,  // the device went away
  DeviceInUse,        // held exclusively by another program
  NoLoopback,         // the output can be neither looped back nor monitored
  UnsupportedFormat,  // the device's format is none the program can take
  NoMemory,
  Timeout,            // waitPacket: nothing arrived in time
};

// What to listen to.
enum class SourceKind : int32_t {
  DefaultInput = 0,  // the system's default recording device, followed when it changes
  Playing = 1,       // what the default output plays (loopback), followed when it changes
  Device = 2,        // one capture endpoint, by id
};

struct SoundSource {
  SourceKind kind = SourceKind::DefaultInput;
  std::string deviceId;  // Device only: the endpoint id as the system gives it (UTF-8)
  friend bool operator==(const SoundSource&, const SoundSource&) = default;
};

// A capture endpoint. Ids are opaque and stable across runs; names are what the system
// shows the user.
struct SoundDevice {
  std::string id;    // UTF-8
  std::string name;  // UTF-8 friendly name
  bool active = true;  // present and enabled; false: known to the system but unplugged or disabled
};

// The stream format the device delivers, as its WAVEFORMATEX(TENSIBLE) says.
struct SoundFormat {
  uint32_t samplesPerSecond = 0;
  uint16_t channels = 0;
  uint16_t bitsPerSample = 0;  // container bits of one sample: 8, 16, 24, 32, 64
  bool isFloat = false;        // IEEE float samples (else signed integer PCM)
  // Speaker positions of the channels in order (common/speakers.h: dwChannelMask's bits);
  // 0 when the device does not say.
  uint32_t channelMask = 0;
  friend bool operator==(const SoundFormat&, const SoundFormat&) = default;
};

// What open() reports about the stream it opened.
struct SoundStreamInfo {
  SoundFormat format;
  std::string endpointName;  // friendly name of the endpoint recorded from
  // A loopback stream may deliver no packets at all while nothing plays; a capture stream
  // always delivers (zeros in silence), so one that stops delivering has stalled.
  bool loopback = false;
};

// One packet of interleaved frames in the stream's format.
struct SoundPacket {
  const uint8_t* data = nullptr;  // valid until releasePacket
  uint32_t frames = 0;            // 0: no packet waiting
  bool silent = false;            // AUDCLNT_BUFFERFLAGS_SILENT: treat the frames as silence
};

// Device events since the last takeEvents, as bits.
inline constexpr uint32_t SoundEventDefaultInputChanged = 1;
inline constexpr uint32_t SoundEventDefaultOutputChanged = 2;
inline constexpr uint32_t SoundEventDevicesChanged = 4;  // added, removed, state changed
// Something began to play on the default output (a new stream, or the output running
// again): a paused stream has sound to take.
inline constexpr uint32_t SoundEventPlaybackStarted = 8;

// Threads: deviceCount, listDevices, available and takeEvents may be called from any
// thread at any time. The stream calls (open, start, waitPacket, nextPacket, releasePacket,
// close) are made by one thread at a time, and open and close on the same thread.
class SoundInput {
 public:
  virtual ~SoundInput() = default;
  // Active capture endpoints; 0 when the computer has no recording device.
  virtual uint32_t deviceCount() = 0;
  // Every capture endpoint the system knows, active or not (for the menu).
  virtual std::vector<SoundDevice> listDevices() = 0;
  // Whether open(source) would find its endpoint now, without opening a stream.
  virtual bool available(const SoundSource& source) = 0;
  // Opens a shared-mode stream on `source` in the device's own format, event-driven.
  // For Playing: a loopback of the default output or, where the system cannot loop back,
  // a capture endpoint that monitors it; `NoLoopback` when neither exists.
  virtual SoundResult open(const SoundSource& source, SoundStreamInfo& info) = 0;
  // What open(source) would answer now, found by opening a second stream on it beside the
  // open one (which goes on undisturbed) and closing it again: `Ok` with `info`, or why
  // not. Made by the thread that makes the stream calls.
  virtual SoundResult probe(const SoundSource& source, SoundStreamInfo& info) = 0;
  virtual SoundResult start() = 0;
  // Waits until the device signals data or `timeoutMillis` pass: `Ok` or `Timeout`.
  virtual SoundResult waitPacket(uint32_t timeoutMillis) = 0;
  // The next packet, or frames 0 when none is waiting. `DeviceInvalidated` when the
  // device has gone: close and open again.
  virtual SoundResult nextPacket(SoundPacket& packet) = 0;
  // Gives back the packet nextPacket returned.
  virtual SoundResult releasePacket(uint32_t frames) = 0;
  // Stops (true) or restarts (false) the open stream's delivery without closing it, so the
  // system may let an idle output sleep and the caller need not wake per packet; packets
  // while paused are none. A paused stream still tells of its device going (nextPacket) and
  // raises SoundEventPlaybackStarted, ending a waitPacket early, when sound comes. False,
  // doing nothing, where the backend does not pause that stream or no stream is open: the
  // caller then goes on taking packets.
  virtual bool setPaused(bool paused) = 0;
  // Stops and releases the stream; nothing if none is open.
  virtual void close() = 0;
  // The events seen since the last call, cleared by the call.
  virtual uint32_t takeEvents() = 0;
};

}  // namespace tonalis
