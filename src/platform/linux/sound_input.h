// Sound on Linux through libpulse (PulseAudio, and PipeWire through its PulseAudio server).
// The default input is the server's default source, "what is playing" its default sink's
// monitor (@DEFAULT_MONITOR@), a device a source by name. The server converts to the
// program's own rate (65 536 Hz 16-bit) and mixes a stereo source to mono, which the
// converter passes through untouched; a surround source keeps its channels, so the
// converter mixes them by their speakers.
// Server events (default changes, sources that come and go) become the port's flags; a
// server that goes away invalidates the stream, and the next open connects again.
// The server's packets are copied out on the loop's own thread as they arrive: the capture
// thread takes them from the port's queue and never waits for the loop's lock, nor wakes
// the loop to give a packet back.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <pulse/pulseaudio.h>

#include "platform/sound_input.h"

namespace tonalis::lnx {

class LinuxSoundInput : public SoundInput {
 public:
  // The application name the server shows for the stream.
  explicit LinuxSoundInput(std::string appName = "Tonalis");
  ~LinuxSoundInput() override;
  LinuxSoundInput(const LinuxSoundInput&) = delete;
  LinuxSoundInput& operator=(const LinuxSoundInput&) = delete;

  uint32_t deviceCount() override;
  std::vector<SoundDevice> listDevices() override;
  bool available(const SoundSource& source) override;
  uint32_t open(const SoundSource& source, SoundStreamInfo& info) override;
  uint32_t probe(const SoundSource& source, SoundStreamInfo& info) override;
  uint32_t start() override;
  uint32_t waitPacket(uint32_t timeoutMillis) override;
  uint32_t nextPacket(SoundPacket& packet) override;
  uint32_t releasePacket(uint32_t frames) override;
  void close() override;
  uint32_t takeEvents() override;

  // How long a request to the server may take before it counts as gone.
  static constexpr uint32_t ServerWaitMillis = 2000;

 private:
  // The names of the server's defaults, as last read.
  struct Defaults {
    std::string source;
    std::string sink;
  };
  // All of these run with the loop locked.
  bool connect();  // true when the context is ready (connecting again after a failure)
  bool connectForQuery();  // the same, but never closing an open stream
  void disconnect();
  void closeStream();
  std::vector<SoundDevice> sources();
  bool readDefaults(Defaults& defaults);
  template <class Done> bool waitUntil(Done done, uint32_t millis);
  bool finish(pa_operation* operation);

  static void contextState(pa_context* c, void* self);
  static void contextEvent(pa_context* c, pa_subscription_event_type_t type, uint32_t index, void* self);
  static void streamState(pa_stream* s, void* self);
  static void streamRead(pa_stream* s, size_t bytes, void* self);
  static void defaultsRead(pa_context* c, const pa_server_info* info, void* self);
  void wake();  // a waitPacket caller: something to look at
  void streamFailed();  // the stream or its server is gone: the capture thread hears it next
  void takeRecorded(pa_stream* s);  // on the loop thread: the server's packets to the queue
  void clearQueue();  // the queue emptied for a new stream
  // With dataMutex_ held: the capture thread's packet given back, its memory kept for the next.
  void recycleHandedOut();

  // What the server recorded and the capture thread has not taken yet: sound, or a hole
  // (nothing recorded for a while) of so many frames.
  struct Chunk {
    std::vector<uint8_t> bytes;
    uint32_t silentFrames = 0;
  };
  // The most kept for a capture thread that is late: the newest sound is what it shows.
  static constexpr size_t MaxQueuedFrames = 65536 * 2;  // two seconds
  static constexpr size_t MaxChunkBytes = 16384;

  std::string appName_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  Defaults defaults_;  // as known to the loop thread, for telling what an event changed
  std::atomic<uint32_t> events_{0};
  std::mutex dataMutex_;  // guards what follows
  std::condition_variable dataReady_;
  bool dataSignalled_ = false;
  bool streamFailed_ = false;
  std::deque<Chunk> queue_;
  size_t queuedBytes_ = 0;
  std::vector<Chunk> spare_;  // taken chunks, their memory used again
  Chunk handedOut_;           // the packet the capture thread holds
  uint32_t frameBytes_ = 2;   // of the open stream; set by open with the loop locked
};

}  // namespace tonalis::lnx
