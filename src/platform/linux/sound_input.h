// Sound on Linux through libpulse (PulseAudio, and PipeWire through its PulseAudio server).
// The default input is the server's default source, "what is playing" its default sink's
// monitor (@DEFAULT_MONITOR@), a device a source by name. The server converts to the
// program's own rate (65 536 Hz mono 16-bit), which the converter passes through untouched.
// Server events (default changes, sources that come and go) become the port's flags; a
// server that goes away invalidates the stream, and the next open connects again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

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

  std::string appName_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool peeked_ = false;
  Defaults defaults_;  // as known to the loop thread, for telling what an event changed
  std::atomic<uint32_t> events_{0};
  std::mutex dataMutex_;
  std::condition_variable dataReady_;
  bool dataSignalled_ = false;
};

}  // namespace tonalis::lnx
