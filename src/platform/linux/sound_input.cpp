#include "platform/linux/sound_input.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>

#include "common/speakers.h"

namespace tonalis::lnx {
namespace {

constexpr uint32_t Rate = 65536;
constexpr uint32_t BytesPerSample = 2;  // signed 16-bit
// Packets of 25 ms, a little under a frame: the analysis every 28 ms has a new one, and the
// server, its thread and ours wake less than half as often as for 10 ms packets.
constexpr uint32_t FragmentFrames = Rate / 40;
constexpr char DefaultMonitor[] = "@DEFAULT_MONITOR@";
constexpr char DefaultSource[] = "@DEFAULT_SOURCE@";

// The speaker bit (common/speakers.h) of a channel position; 0 for one that has none.
uint32_t speakerBit(pa_channel_position_t position) {
  namespace sp = speaker;
  switch (position) {
    case PA_CHANNEL_POSITION_MONO: return sp::FrontCenter;
    case PA_CHANNEL_POSITION_FRONT_LEFT: return sp::FrontLeft;
    case PA_CHANNEL_POSITION_FRONT_RIGHT: return sp::FrontRight;
    case PA_CHANNEL_POSITION_FRONT_CENTER: return sp::FrontCenter;
    case PA_CHANNEL_POSITION_LFE: return sp::LowFrequency;
    case PA_CHANNEL_POSITION_REAR_LEFT: return sp::BackLeft;
    case PA_CHANNEL_POSITION_REAR_RIGHT: return sp::BackRight;
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER: return sp::FrontLeftOfCenter;
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER: return sp::FrontRightOfCenter;
    case PA_CHANNEL_POSITION_REAR_CENTER: return sp::BackCenter;
    case PA_CHANNEL_POSITION_SIDE_LEFT: return sp::SideLeft;
    case PA_CHANNEL_POSITION_SIDE_RIGHT: return sp::SideRight;
    case PA_CHANNEL_POSITION_TOP_CENTER: return sp::TopCenter;
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT: return sp::TopFrontLeft;
    case PA_CHANNEL_POSITION_TOP_FRONT_CENTER: return sp::TopFrontCenter;
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT: return sp::TopFrontRight;
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT: return sp::TopBackLeft;
    case PA_CHANNEL_POSITION_TOP_REAR_CENTER: return sp::TopBackCenter;
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT: return sp::TopBackRight;
    default: return 0;
  }
}

// The speaker mask of a stream's channel map, when its channels come in the mask's order
// (each at a higher bit than the one before); 0 otherwise.
uint32_t speakerMask(const pa_channel_map& map) {
  uint32_t mask = 0;
  for (uint8_t c = 0; c < map.channels; ++c) {
    const uint32_t bit = speakerBit(map.map[c]);
    if (bit == 0 || bit <= mask) return 0;
    mask |= bit;
  }
  return mask;
}

class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
  ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

void signalLoop(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* loop) {
  pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

void sourceListed(pa_context* c, const pa_source_info* info, int eol, void* out) {
  auto& list = *static_cast<std::pair<pa_threaded_mainloop*, std::vector<SoundDevice>>*>(out);
  (void)c;
  if (eol != 0 || !info) {
    pa_threaded_mainloop_signal(list.first, 0);
    return;
  }
  SoundDevice device;
  device.id = info->name ? info->name : "";
  device.name = info->description && info->description[0] ? info->description : device.id;
  device.active = true;
  list.second.push_back(std::move(device));
}

}  // namespace

LinuxSoundInput::LinuxSoundInput(std::string appName) : appName_(std::move(appName)) {
  loop_ = pa_threaded_mainloop_new();
  if (loop_ && pa_threaded_mainloop_start(loop_) < 0) {
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
  }
}

LinuxSoundInput::~LinuxSoundInput() {
  if (!loop_) return;
  {
    LoopLock lock(loop_);
    closeStream();
    disconnect();
  }
  pa_threaded_mainloop_stop(loop_);
  pa_threaded_mainloop_free(loop_);
}

// The loop has no timed wait: a timer event of its own signals at the deadline.
template <class Done>
bool LinuxSoundInput::waitUntil(Done done, uint32_t millis) {
  if (done()) return true;
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
  struct timeval when;
  pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(millis) * 1000);
  pa_time_event* timer = api->time_new(api, &when, signalLoop, loop_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
  bool ok = true;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ok = false;
      break;
    }
    pa_threaded_mainloop_wait(loop_);
  }
  if (timer) api->time_free(timer);
  return ok;
}

bool LinuxSoundInput::finish(pa_operation* operation) {
  if (!operation) return false;
  const bool done = waitUntil([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
                              ServerWaitMillis);
  if (!done) pa_operation_cancel(operation);
  const bool ok = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
  pa_operation_unref(operation);
  return ok;
}

bool LinuxSoundInput::connect() {
  if (!loop_) return false;
  if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
  closeStream();
  disconnect();
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), appName_.c_str());
  if (!context_) return false;
  pa_context_set_state_callback(context_, &LinuxSoundInput::contextState, this);
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    disconnect();
    return false;
  }
  const bool settled = waitUntil([&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ||
                                              pa_context_get_state(context_) == PA_CONTEXT_READY; },
                                 ServerWaitMillis);
  if (!settled || pa_context_get_state(context_) != PA_CONTEXT_READY) {
    disconnect();
    return false;
  }
  readDefaults(defaults_);
  pa_context_set_subscribe_callback(context_, &LinuxSoundInput::contextEvent, this);
  auto subscribed = [](pa_context*, int, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
  };
  finish(pa_context_subscribe(
      context_, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER), subscribed,
      loop_));
  return true;
}

// The queries of other threads connect too, but never while a stream is open: connecting
// again closes the stream, and only the capture thread may do that (it may be reading a
// packet of it right now). It finds the failure itself and opens again.
bool LinuxSoundInput::connectForQuery() {
  if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
  return !stream_ && connect();
}

void LinuxSoundInput::disconnect() {
  if (!context_) return;
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_set_subscribe_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
}

bool LinuxSoundInput::readDefaults(Defaults& defaults) {
  struct Reply {
    pa_threaded_mainloop* loop;
    Defaults* defaults;
  } reply{loop_, &defaults};
  auto read = [](pa_context*, const pa_server_info* info, void* r) {
    auto& reply = *static_cast<Reply*>(r);
    if (info) {
      reply.defaults->source = info->default_source_name ? info->default_source_name : "";
      reply.defaults->sink = info->default_sink_name ? info->default_sink_name : "";
    }
    pa_threaded_mainloop_signal(reply.loop, 0);
  };
  return finish(pa_context_get_server_info(context_, read, &reply));
}

std::vector<SoundDevice> LinuxSoundInput::sources() {
  std::pair<pa_threaded_mainloop*, std::vector<SoundDevice>> list{loop_, {}};
  if (!finish(pa_context_get_source_info_list(context_, sourceListed, &list))) return {};
  return std::move(list.second);
}

uint32_t LinuxSoundInput::deviceCount() {
  return uint32_t(listDevices().size());
}

// Every source, monitors of the outputs included: a desktop without a microphone records
// from a monitor, as it does on the Windows side where monitors are capture endpoints too.
std::vector<SoundDevice> LinuxSoundInput::listDevices() {
  if (!loop_) return {};
  LoopLock lock(loop_);
  return connectForQuery() ? sources() : std::vector<SoundDevice>{};
}

bool LinuxSoundInput::available(const SoundSource& source) {
  if (!loop_) return false;
  LoopLock lock(loop_);
  if (!connectForQuery()) return false;
  Defaults now;
  switch (source.kind) {
    case SourceKind::DefaultInput:
      return readDefaults(now) && !now.source.empty();
    case SourceKind::Playing:
      return readDefaults(now) && !now.sink.empty();
    case SourceKind::Device:
      for (const SoundDevice& d : sources()) {
        if (d.id == source.deviceId) return true;
      }
      return false;
  }
  return false;
}

uint32_t LinuxSoundInput::open(const SoundSource& source, SoundStreamInfo& info) {
  if (!loop_) return SoundError;
  LoopLock lock(loop_);
  closeStream();
  if (!connect()) return SoundNotFound;
  clearQueue();
  const char* device = nullptr;
  if (source.kind == SourceKind::Playing) device = DefaultMonitor;
  if (source.kind == SourceKind::Device) device = source.deviceId.c_str();

  // A source of more than two channels is recorded in its own layout, its channels in the
  // order of their speaker bits, for the converter to mix: the server's own mix to mono is
  // the mean of every channel (the LFE too), which puts stereo in a 5.1 source's front pair
  // 9.5 dB low.
  // Mono and stereo sources keep the server's mix (the mean of the pair, the same thing),
  // which spares it resampling two channels.
  pa_sample_spec format{PA_SAMPLE_S16LE, Rate, 1};
  pa_channel_map layout;
  pa_channel_map_init_mono(&layout);
  struct LayoutReply {
    pa_threaded_mainloop* loop;
    pa_channel_map map;
    bool found;
  } layoutReply{loop_, {}, false};
  auto mapped = [](pa_context*, const pa_source_info* i, int eol, void* r) {
    auto& reply = *static_cast<LayoutReply*>(r);
    if (eol == 0 && i) {
      reply.map = i->channel_map;
      reply.found = true;
    }
    if (eol != 0) pa_threaded_mainloop_signal(reply.loop, 0);
  };
  const char* queried = device ? device : DefaultSource;
  if (finish(pa_context_get_source_info_by_name(context_, queried, mapped, &layoutReply)) && layoutReply.found &&
      layoutReply.map.channels > 2) {
    const pa_channel_map& sourceMap = layoutReply.map;
    pa_channel_position_t positions[PA_CHANNELS_MAX];
    uint8_t count = 0;
    for (uint8_t c = 0; c < sourceMap.channels; ++c) {
      if (speakerBit(sourceMap.map[c]) != 0) positions[count++] = sourceMap.map[c];
    }
    std::sort(positions, positions + count,
              [](pa_channel_position_t a, pa_channel_position_t b) { return speakerBit(a) < speakerBit(b); });
    // Two positions naming the same speaker (MONO and FRONT_CENTER) leave the layout unsorted.
    if (count > 2 && std::adjacent_find(positions, positions + count, [](auto a, auto b) {
                       return speakerBit(a) == speakerBit(b);
                     }) == positions + count) {
      layout.channels = count;
      std::copy(positions, positions + count, layout.map);
      format.channels = count;
    }
  }
  frameBytes_ = BytesPerSample * format.channels;
  stream_ = pa_stream_new(context_, "Spectrum", &format, &layout);
  if (!stream_) return SoundNoMemory;
  pa_stream_set_state_callback(stream_, &LinuxSoundInput::streamState, this);
  pa_stream_set_read_callback(stream_, &LinuxSoundInput::streamRead, this);
  pa_buffer_attr attr;
  attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);  // the server's choice
  attr.fragsize = FragmentFrames * BytesPerSample * format.channels;
  if (pa_stream_connect_record(stream_, device, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
    closeStream();
    return SoundError;
  }
  const bool settled = waitUntil([&] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; },
                                 ServerWaitMillis);
  if (!settled || pa_stream_get_state(stream_) != PA_STREAM_READY) {
    const int error = pa_context_errno(context_);
    closeStream();
    return error == PA_ERR_NOENTITY ? SoundNotFound : SoundError;
  }
  const pa_sample_spec* spec = pa_stream_get_sample_spec(stream_);
  const pa_channel_map* map = pa_stream_get_channel_map(stream_);
  info.format = {Rate, spec->channels, 16, false, map ? speakerMask(*map) : 0};
  info.loopback = source.kind == SourceKind::Playing;
  info.endpointName.clear();
  const uint32_t index = pa_stream_get_device_index(stream_);
  struct Reply {
    pa_threaded_mainloop* loop;
    std::string* name;
  } reply{loop_, &info.endpointName};
  auto named = [](pa_context*, const pa_source_info* i, int eol, void* r) {
    auto& reply = *static_cast<Reply*>(r);
    if (eol == 0 && i) *reply.name = i->description && i->description[0] ? i->description : (i->name ? i->name : "");
    if (eol != 0) pa_threaded_mainloop_signal(reply.loop, 0);
  };
  finish(pa_context_get_source_info_by_index(context_, index, named, &reply));
  if (info.endpointName.empty()) {
    const char* name = pa_stream_get_device_name(stream_);
    info.endpointName = name ? name : "";
  }
  return SoundOk;
}

// The server shares every source and converts it to the format asked for, so a source that
// is there opens: a second stream would tell no more than the source list does.
uint32_t LinuxSoundInput::probe(const SoundSource& source, SoundStreamInfo& info) {
  if (!available(source)) return SoundNotFound;
  info.format = {Rate, 1, 16, false};
  info.loopback = source.kind == SourceKind::Playing;
  info.endpointName.clear();
  return SoundOk;
}

uint32_t LinuxSoundInput::start() {
  if (!loop_) return SoundError;
  LoopLock lock(loop_);
  return stream_ ? SoundOk : SoundError;  // a record stream runs from its connection
}

uint32_t LinuxSoundInput::waitPacket(uint32_t timeoutMillis) {
  std::unique_lock lock(dataMutex_);
  const bool signalled =
      dataReady_.wait_for(lock, std::chrono::milliseconds(timeoutMillis), [&] { return dataSignalled_; });
  dataSignalled_ = false;
  return signalled ? SoundOk : SoundTimeout;
}

uint32_t LinuxSoundInput::nextPacket(SoundPacket& packet) {
  packet = {};
  std::lock_guard lock(dataMutex_);
  if (!stream_) return SoundError;
  if (streamFailed_) return SoundDeviceInvalidated;
  recycleHandedOut();  // the last packet, given back or not, is consumed now
  if (queue_.empty()) return SoundOk;
  handedOut_ = std::move(queue_.front());
  queue_.pop_front();
  queuedBytes_ -= handedOut_.bytes.size();
  if (handedOut_.silentFrames > 0) {
    packet.frames = handedOut_.silentFrames;
    packet.silent = true;
  } else {
    packet.frames = uint32_t(handedOut_.bytes.size() / frameBytes_);
    packet.data = handedOut_.bytes.data();
  }
  return SoundOk;
}

uint32_t LinuxSoundInput::releasePacket(uint32_t) {
  std::lock_guard lock(dataMutex_);
  recycleHandedOut();
  return SoundOk;
}

void LinuxSoundInput::close() {
  if (!loop_) return;
  LoopLock lock(loop_);
  closeStream();
}

void LinuxSoundInput::closeStream() {
  if (!stream_) return;
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  std::lock_guard lock(dataMutex_);
  stream_ = nullptr;
}

void LinuxSoundInput::recycleHandedOut() {
  if (!handedOut_.bytes.empty()) spare_.push_back(std::move(handedOut_));
  handedOut_ = {};
}

void LinuxSoundInput::clearQueue() {
  std::lock_guard lock(dataMutex_);
  for (Chunk& chunk : queue_) spare_.push_back(std::move(chunk));
  queue_.clear();
  queuedBytes_ = 0;
  streamFailed_ = false;
}

uint32_t LinuxSoundInput::takeEvents() { return events_.exchange(0); }

void LinuxSoundInput::wake() {
  {
    std::lock_guard lock(dataMutex_);
    dataSignalled_ = true;
  }
  dataReady_.notify_all();
}

void LinuxSoundInput::streamFailed() {
  {
    std::lock_guard lock(dataMutex_);
    streamFailed_ = true;
  }
  wake();  // the capture loop finds out at once
}

void LinuxSoundInput::contextState(pa_context* c, void* self) {
  auto* me = static_cast<LinuxSoundInput*>(self);
  pa_threaded_mainloop_signal(me->loop_, 0);
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) me->streamFailed();
}

void LinuxSoundInput::contextEvent(pa_context* c, pa_subscription_event_type_t type, uint32_t, void* self) {
  auto* me = static_cast<LinuxSoundInput*>(self);
  const int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const int kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && kind != PA_SUBSCRIPTION_EVENT_CHANGE) {
    me->events_ |= SoundEventDevicesChanged;
  }
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
    // Which default moved is known once the server says what they are now.
    if (pa_operation* o = pa_context_get_server_info(c, &LinuxSoundInput::defaultsRead, self)) pa_operation_unref(o);
  }
}

void LinuxSoundInput::defaultsRead(pa_context*, const pa_server_info* info, void* self) {
  auto* me = static_cast<LinuxSoundInput*>(self);
  if (!info) return;
  const std::string source = info->default_source_name ? info->default_source_name : "";
  const std::string sink = info->default_sink_name ? info->default_sink_name : "";
  if (source != me->defaults_.source) me->events_ |= SoundEventDefaultInputChanged;
  if (sink != me->defaults_.sink) me->events_ |= SoundEventDefaultOutputChanged;
  me->defaults_ = {source, sink};
}

void LinuxSoundInput::streamState(pa_stream* s, void* self) {
  auto* me = static_cast<LinuxSoundInput*>(self);
  pa_threaded_mainloop_signal(me->loop_, 0);
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) me->streamFailed();
}

void LinuxSoundInput::streamRead(pa_stream* s, size_t, void* self) {
  auto* me = static_cast<LinuxSoundInput*>(self);
  me->takeRecorded(s);
  me->wake();
}

void LinuxSoundInput::takeRecorded(pa_stream* s) {
  std::lock_guard lock(dataMutex_);
  for (;;) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) break;
    if (data == nullptr) {
      // A hole: its length in frames, kept apart so that it stays silence.
      Chunk hole;
      hole.silentFrames = uint32_t(bytes / frameBytes_);
      queue_.push_back(std::move(hole));
    } else {
      // Sound joins the sound before it, up to a size: few packets for whatever the capture
      // thread has not taken yet.
      if (queue_.empty() || queue_.back().silentFrames > 0 || queue_.back().bytes.size() >= MaxChunkBytes) {
        Chunk chunk;
        if (!spare_.empty()) {
          chunk = std::move(spare_.back());
          spare_.pop_back();
          chunk.bytes.clear();
        }
        queue_.push_back(std::move(chunk));
      }
      const auto* from = static_cast<const uint8_t*>(data);
      queue_.back().bytes.insert(queue_.back().bytes.end(), from, from + bytes);
      queuedBytes_ += bytes;
    }
    pa_stream_drop(s);
  }
  // A capture thread that has fallen behind loses the oldest sound, never the newest.
  while (queuedBytes_ > MaxQueuedFrames * frameBytes_ && queue_.size() > 1) {
    queuedBytes_ -= queue_.front().bytes.size();
    spare_.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
}

}  // namespace tonalis::lnx
