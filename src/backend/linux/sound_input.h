// Sound on Linux through libpulse (PulseAudio, and PipeWire through its PulseAudio server).
// The default input is the server's default source, "what is playing" its default sink's
// monitor (@DEFAULT_MONITOR@), a device a source by name. The server converts to the
// program's own rate (65 536 Hz 16-bit) and mixes a stereo source to mono, which the
// converter passes through untouched; a surround source keeps its channels, so the
// converter mixes them by their speakers.
//
// One owner of the server connection: the loop's own thread connects, notices the server
// going away and connects again after a pause; no other thread makes or drops the context
// (two threads doing so threw each other's context away). What the UI asks (devices,
// whether a source is there) is answered from a cache that the server's events keep
// current on the loop's thread, so the UI never waits on the server. Server events
// (default changes, sources that come and go) become the port's flags once the cache says
// so. A server that goes away invalidates the stream; a named device's stream never moves
// to another source, so a device that goes invalidates its stream too.
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
  // The application name the server shows for the stream. Waits (up to ServerWaitMillis)
  // for the first answer of the server, so the first questions find the devices there.
  explicit LinuxSoundInput(std::string appName = "Tonalis");
  ~LinuxSoundInput() override;
  LinuxSoundInput(const LinuxSoundInput&) = delete;
  LinuxSoundInput& operator=(const LinuxSoundInput&) = delete;

  // From the cache, at once, on any thread.
  uint32_t deviceCount() override;
  std::vector<SoundDevice> listDevices() override;
  bool available(const SoundSource& source) override;
  // Waits for the connection (up to ServerWaitMillis) and for the stream (as long again).
  SoundResult open(const SoundSource& source, SoundStreamInfo& info) override;
  SoundResult probe(const SoundSource& source, SoundStreamInfo& info) override;
  SoundResult start() override;
  SoundResult waitPacket(uint32_t timeoutMillis) override;
  SoundResult nextPacket(SoundPacket& packet) override;
  SoundResult releasePacket(uint32_t frames) override;
  // Corks the stream: the server stops converting the monitor for us and the output may
  // suspend. Not waited for.
  bool setPaused(bool paused) override;
  void close() override;
  uint32_t takeEvents() override;

  // How long a request to the server, or a connection, may take before it counts as gone.
  static constexpr uint32_t ServerWaitMillis = 2000;
  // The pause between tries to connect while the server is away.
  static constexpr uint32_t RetryMillis = 1000;

 private:
  // The names of the server's defaults.
  struct Defaults {
    std::string source;
    std::string sink;
    friend bool operator==(const Defaults&, const Defaults&) = default;
  };

  // All of these run with the loop locked; those marked "loop thread" only there.
  void tryConnect();     // loop thread: a new context, given ServerWaitMillis to get ready
  void dropContext();    // loop thread (and the destructor)
  void connectionLost(); // loop thread: the cache emptied, a pause before the next try
  void refreshSources(); // loop thread: the source list asked for again
  void refreshDefaults();
  void publishSources(std::vector<SoundDevice> devices);
  void publishDefaults(const Defaults& now);
  bool ready() const;
  void closeStream();
  template <class Done> bool waitUntil(Done done, uint32_t millis);
  bool finish(pa_operation* operation);

  static void timerFired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
  static void contextState(pa_context* c, void* self);
  static void contextEvent(pa_context* c, pa_subscription_event_type_t type, uint32_t index, void* self);
  static void sinkRead(pa_context* c, const pa_sink_info* info, int eol, void* self);
  static void sourceListed(pa_context* c, const pa_source_info* info, int eol, void* self);
  static void defaultsRead(pa_context* c, const pa_server_info* info, void* self);
  static void streamState(pa_stream* s, void* self);
  static void streamRead(pa_stream* s, size_t bytes, void* self);
  void armTimer(uint32_t millis);
  void playbackStarted();  // the flag raised, and a paused capture thread woken to see it
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
  // Guarded by the loop's lock.
  pa_context* context_ = nullptr;
  pa_time_event* timer_ = nullptr;  // the next try, or the end of a try's time to connect
  uint32_t attemptsEnded_ = 0;      // tries that ended without a connection, for open to see
  bool settled_ = false;            // the first try has its answer (devices read, or none)
  bool listing_ = false;            // a source list is on its way
  bool listAgain_ = false;          // and the list changed meanwhile
  std::vector<SoundDevice> listed_;  // the one on its way
  Defaults defaults_;               // as last read, kept over a lost connection: what changed
  pa_stream* stream_ = nullptr;

  std::atomic<uint32_t> events_{0};

  std::mutex cacheMutex_;  // guards what follows, held only to copy
  std::vector<SoundDevice> devices_;
  Defaults cachedDefaults_;  // empty while there is no server

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
