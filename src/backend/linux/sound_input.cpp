#include "backend/linux/sound_input.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "common/utf8.h"

#include "common/speakers.h"

namespace tonalis::lnx {
namespace {

// Packets of one frame's worth of sound: the analysis every 28 ms has a new one, and the
// server, its thread and ours wake once a frame.
constexpr uint32_t PacketMillis = 28;
constexpr char DefaultMonitor[] = "@DEFAULT_MONITOR@";
constexpr char DefaultSource[] = "@DEFAULT_SOURCE@";

// How a stream from a source of `source` samples is recorded: in that format where the
// converter reads it, otherwise as float (the server then converts sample for sample, at the
// source's rate, which costs it next to nothing).
struct Recorded {
  pa_sample_format_t format;
  uint16_t bits;
  bool isFloat;
};

Recorded recordedFormat(pa_sample_format_t source) {
  switch (source) {
    case PA_SAMPLE_S16LE: return {PA_SAMPLE_S16LE, 16, false};
    case PA_SAMPLE_S24LE: return {PA_SAMPLE_S24LE, 24, false};
    case PA_SAMPLE_S32LE: return {PA_SAMPLE_S32LE, 32, false};
    // 24 bits at the bottom of 32: the server moves them to the top, where the converter
    // reads a 32-bit container's 24 valid bits.
    case PA_SAMPLE_S24_32LE: return {PA_SAMPLE_S32LE, 32, false};
    default: return {PA_SAMPLE_FLOAT32LE, 32, true};
  }
}

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

// Where a stream's channels go in a delivered frame: those with a speaker position in the
// order of their bits, then those without one (auxiliary channels, a second channel naming
// a speaker already taken) as they come, which the converter counts as other channels.
struct SpeakerOrder {
  std::vector<uint8_t> order;  // the stream's channel at each place; empty: as they come
  uint32_t mask = 0;           // the bits of the placed channels
};

SpeakerOrder speakerOrder(const pa_channel_map& map) {
  constexpr uint64_t Unplaced = uint64_t(1) << 32;
  uint64_t keys[PA_CHANNELS_MAX];
  SpeakerOrder out;
  for (uint8_t c = 0; c < map.channels; ++c) {
    const uint32_t bit = speakerBit(map.map[c]);
    keys[c] = bit != 0 && (out.mask & bit) == 0 ? bit : Unplaced;
    if (keys[c] != Unplaced) out.mask |= bit;
  }
  out.order.resize(map.channels);
  for (uint8_t c = 0; c < map.channels; ++c) out.order[c] = c;
  std::stable_sort(out.order.begin(), out.order.end(), [&](uint8_t a, uint8_t b) { return keys[a] < keys[b]; });
  bool asTheyCome = true;
  for (uint8_t c = 0; c < map.channels; ++c) asTheyCome = asTheyCome && out.order[c] == c;
  if (asTheyCome) out.order.clear();
  return out;
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

bool sameDevices(const std::vector<SoundDevice>& a, const std::vector<SoundDevice>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const SoundDevice& x, const SoundDevice& y) {
    return x.id == y.id && x.name == y.name && x.active == y.active;
  });
}

}  // namespace

LinuxSoundInput::LinuxSoundInput(std::string appName) : appName_(std::move(appName)) {
  loop_ = pa_threaded_mainloop_new();
  if (!loop_) return;
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
  struct timeval now;
  timer_ = api->time_new(api, pa_gettimeofday(&now), &LinuxSoundInput::timerFired, this);  // the first try
  if (!timer_ || pa_threaded_mainloop_start(loop_) < 0) {
    if (timer_) api->time_free(timer_);
    timer_ = nullptr;
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    return;
  }
  LoopLock lock(loop_);
  waitUntil([&] { return settled_; }, ServerWaitMillis);
  events_ = 0;  // how things were before anyone could ask is no news
}

LinuxSoundInput::~LinuxSoundInput() {
  if (!loop_) return;
  {
    LoopLock lock(loop_);
    closeStream();
    dropContext();
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    api->time_free(timer_);
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

bool LinuxSoundInput::ready() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }

void LinuxSoundInput::armTimer(uint32_t millis) {
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
  struct timeval when;
  pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(millis) * 1000);
  api->time_restart(timer_, &when);
}

// The owner's one timer: the next try once a pause is over, or the end of a try that the
// server does not answer (a stopped server accepts the connection and says nothing).
void LinuxSoundInput::timerFired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
  auto* me = static_cast<LinuxSoundInput*>(self);
  if (me->context_) {
    const pa_context_state_t state = pa_context_get_state(me->context_);
    if (state == PA_CONTEXT_READY) return;
    me->dropContext();
    if (PA_CONTEXT_IS_GOOD(state)) {
      me->connectionLost();  // still connecting: a pause, then another try
      return;
    }
  }
  me->tryConnect();
}

void LinuxSoundInput::tryConnect() {
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), appName_.c_str());
  if (!context_) {
    connectionLost();
    return;
  }
  pa_context_set_state_callback(context_, &LinuxSoundInput::contextState, this);
  armTimer(ServerWaitMillis);
  // A failure may already have been told to contextState; the timer drops the context.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 &&
      PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
    connectionLost();
  }
}

void LinuxSoundInput::dropContext() {
  listing_ = listAgain_ = false;
  listed_.clear();
  if (!context_) return;
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_set_subscribe_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  pa_context_unref(context_);
  context_ = nullptr;
}

// No server: nothing to offer the UI, and another try after a pause.
void LinuxSoundInput::connectionLost() {
  ++attemptsEnded_;
  settled_ = true;
  listing_ = listAgain_ = false;
  listed_.clear();
  bool hadDevices;
  {
    std::lock_guard lock(cacheMutex_);
    hadDevices = !devices_.empty();
    devices_.clear();
    cachedDefaults_ = {};
  }
  if (hadDevices) events_ |= SoundEventDevicesChanged;
  armTimer(RetryMillis);
  pa_threaded_mainloop_signal(loop_, 0);
}

void LinuxSoundInput::refreshSources() {
  if (listing_) {
    listAgain_ = true;  // asked again when this one is in
    return;
  }
  pa_operation* operation = pa_context_get_source_info_list(context_, &LinuxSoundInput::sourceListed, this);
  if (!operation) return;
  pa_operation_unref(operation);
  listing_ = true;
  listed_.clear();
}

void LinuxSoundInput::refreshDefaults() {
  if (pa_operation* operation = pa_context_get_server_info(context_, &LinuxSoundInput::defaultsRead, this)) {
    pa_operation_unref(operation);
  }
}

// Every source, monitors of the outputs included: a desktop without a microphone records
// from a monitor, as it does on the Windows side where monitors are capture endpoints too.
void LinuxSoundInput::sourceListed(pa_context*, const pa_source_info* info, int eol, void* self) {
  auto* me = static_cast<LinuxSoundInput*>(self);
  if (eol == 0) {
    if (!info) return;
    SoundDevice device;
    device.id = info->name ? info->name : "";  // kept byte for byte: matched and saved
    device.name = repairUtf8(info->description && info->description[0] ? info->description : device.id);
    device.active = true;
    me->listed_.push_back(std::move(device));
    return;
  }
  me->listing_ = false;
  if (eol > 0) me->publishSources(std::move(me->listed_));
  me->listed_.clear();
  if (me->listAgain_) {
    me->listAgain_ = false;
    me->refreshSources();
  }
}

void LinuxSoundInput::publishSources(std::vector<SoundDevice> devices) {
  bool changed;
  {
    std::lock_guard lock(cacheMutex_);
    changed = !sameDevices(devices_, devices);
    devices_ = std::move(devices);
  }
  // Told once the cache has it: whoever hears the flag finds the new list.
  if (changed) events_ |= SoundEventDevicesChanged;
  settled_ = true;
  pa_threaded_mainloop_signal(loop_, 0);
}

void LinuxSoundInput::defaultsRead(pa_context*, const pa_server_info* info, void* self) {
  if (!info) return;
  static_cast<LinuxSoundInput*>(self)->publishDefaults(
      {info->default_source_name ? info->default_source_name : "", info->default_sink_name ? info->default_sink_name : ""});
}

void LinuxSoundInput::publishDefaults(const Defaults& now) {
  {
    std::lock_guard lock(cacheMutex_);
    cachedDefaults_ = now;
  }
  if (now.source != defaults_.source) events_ |= SoundEventDefaultInputChanged;
  if (now.sink != defaults_.sink) events_ |= SoundEventDefaultOutputChanged;
  defaults_ = now;
}

uint32_t LinuxSoundInput::deviceCount() {
  std::lock_guard lock(cacheMutex_);
  return uint32_t(devices_.size());
}

std::vector<SoundDevice> LinuxSoundInput::listDevices() {
  std::lock_guard lock(cacheMutex_);
  return devices_;
}

bool LinuxSoundInput::available(const SoundSource& source) {
  std::lock_guard lock(cacheMutex_);
  switch (source.kind) {
    case SourceKind::DefaultInput:
      return !cachedDefaults_.source.empty();
    case SourceKind::Playing:
      return !cachedDefaults_.sink.empty();
    case SourceKind::Device:
      return std::any_of(devices_.begin(), devices_.end(),
                         [&](const SoundDevice& d) { return d.id == source.deviceId; });
  }
  return false;
}

SoundResult LinuxSoundInput::open(const SoundSource& source, SoundStreamInfo& info) {
  if (!loop_) return SoundResult::Error;
  LoopLock lock(loop_);
  closeStream();
  if (!ready()) {
    // In a pause between tries: try now. Only the loop's thread connects.
    if (!context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) armTimer(0);
    const uint32_t ended = attemptsEnded_;
    waitUntil([&] { return ready() || attemptsEnded_ != ended; }, ServerWaitMillis);
    if (!ready()) return SoundResult::NotFound;
  }
  clearQueue();
  const char* device = nullptr;
  if (source.kind == SourceKind::Playing) device = DefaultMonitor;
  if (source.kind == SourceKind::Device) device = source.deviceId.c_str();

  // Ours to the end of the call, whatever the loop's thread does with context_ meanwhile
  // (a failed stream lets go of its context).
  const std::unique_ptr<pa_context, decltype(&pa_context_unref)> held(pa_context_ref(context_), pa_context_unref);
  pa_context* context = held.get();
  // The source's own format, so that the server passes its samples through as they are.
  // The flags below hold the stream to the source's rate and channels even if the default
  // changed in between; the sample format is ours to name.
  struct SourceReply {
    pa_threaded_mainloop* loop;
    pa_sample_spec sampleFormat;
    pa_channel_map map;
    bool found;
  } sourceReply{loop_, {}, {}, false};
  auto described = [](pa_context*, const pa_source_info* i, int eol, void* r) {
    auto& reply = *static_cast<SourceReply*>(r);
    if (eol == 0 && i) {
      reply.sampleFormat = i->sample_spec;
      reply.map = i->channel_map;
      reply.found = true;
    }
    if (eol != 0) pa_threaded_mainloop_signal(reply.loop, 0);
  };
  const char* queried = device ? device : DefaultSource;
  pa_sample_spec format{PA_SAMPLE_FLOAT32LE, 48000, 2};
  pa_channel_map layout;
  pa_channel_map_init_stereo(&layout);
  if (finish(pa_context_get_source_info_by_name(context, queried, described, &sourceReply)) && sourceReply.found &&
      pa_sample_spec_valid(&sourceReply.sampleFormat)) {
    format = sourceReply.sampleFormat;
    if (!pa_channel_map_valid(&sourceReply.map) || sourceReply.map.channels != format.channels) {
      pa_channel_map_init_extend(&sourceReply.map, format.channels, PA_CHANNEL_MAP_DEFAULT);
    }
    layout = sourceReply.map;
  }
  const Recorded recorded = recordedFormat(format.format);
  format.format = recorded.format;
  // Until the server has said what it settled on, the packets are taken as asked for.
  const auto useLayout = [&](const pa_sample_spec& sampleFormat, const pa_channel_map& map) {
    SpeakerOrder order = speakerOrder(map);
    std::lock_guard dataLock(dataMutex_);
    const bool same = sampleFormat.channels == frameBytes_ / sampleBytes_ && order.order == channelOrder_;
    sampleBytes_ = uint32_t(pa_sample_size(&sampleFormat));
    frameBytes_ = uint32_t(pa_frame_size(&sampleFormat));
    maxQueuedBytes_ = size_t(sampleFormat.rate) * MaxQueuedMillis / 1000 * frameBytes_;
    channelOrder_ = std::move(order.order);
    if (!same) {  // what came before was laid out otherwise
      for (Chunk& chunk : queue_) spare_.push_back(std::move(chunk));
      queue_.clear();
      queuedBytes_ = 0;
    }
    return order.mask;
  };
  useLayout(format, layout);
  stream_ = pa_stream_new(context, "Spectrum", &format, &layout);
  if (!stream_) return SoundResult::NoMemory;
  pa_stream_set_state_callback(stream_, &LinuxSoundInput::streamState, this);
  pa_stream_set_read_callback(stream_, &LinuxSoundInput::streamRead, this);
  pa_buffer_attr attr;
  attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);  // the server's choice
  attr.fragsize = uint32_t(pa_usec_to_bytes(pa_usec_t(PacketMillis) * 1000, &format));
  // A chosen device is that device or nothing: moved elsewhere when it goes, the stream
  // would record another source under its name. The defaults follow the server's.
  const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_FIX_RATE | PA_STREAM_FIX_CHANNELS |
                                       (source.kind == SourceKind::Device ? PA_STREAM_DONT_MOVE : 0));
  if (pa_stream_connect_record(stream_, device, &attr, flags) < 0) {
    closeStream();
    return SoundResult::Error;
  }
  const bool settled = waitUntil([&] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; },
                                 ServerWaitMillis);
  if (!settled || pa_stream_get_state(stream_) != PA_STREAM_READY) {
    int error = pa_context_errno(context);
    closeStream();
    // A stream that may not move is refused as an invalid request when its source is
    // missing: the server is asked whether that is why.
    if (source.kind == SourceKind::Device && error == PA_ERR_INVALID && settled) {
      struct Lookup {
        pa_threaded_mainloop* loop;
        int error = PA_OK;
      } lookup{loop_};
      auto found = [](pa_context* c, const pa_source_info*, int eol, void* l) {
        auto& lookup = *static_cast<Lookup*>(l);
        if (eol < 0) lookup.error = pa_context_errno(c);
        if (eol != 0) pa_threaded_mainloop_signal(lookup.loop, 0);
      };
      if (finish(pa_context_get_source_info_by_name(context, device, found, &lookup))) error = lookup.error;
    }
    return error == PA_ERR_NOENTITY ? SoundResult::NotFound : SoundResult::Error;
  }
  // What the server settled on: the source's rate, channels and speakers.
  const pa_sample_spec agreed = *pa_stream_get_sample_spec(stream_);
  const pa_channel_map* map = pa_stream_get_channel_map(stream_);
  pa_channel_map agreedMap = map ? *map : layout;
  if (agreedMap.channels != agreed.channels) pa_channel_map_init_extend(&agreedMap, agreed.channels, PA_CHANNEL_MAP_DEFAULT);
  const uint32_t mask = useLayout(agreed, agreedMap);
  info.format = {agreed.rate, agreed.channels, recorded.bits, recorded.isFloat, mask};
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
  finish(pa_context_get_source_info_by_index(context, index, named, &reply));
  if (info.endpointName.empty()) {
    const char* name = pa_stream_get_device_name(stream_);
    info.endpointName = name ? name : "";
  }
  info.endpointName = repairUtf8(info.endpointName);
  return SoundResult::Ok;
}

// The server shares every source and can give any of them in a format the converter reads,
// so a source that is there opens: a second stream would tell no more than the source list
// does. The format reported is one such (the stream itself reports the source's own).
SoundResult LinuxSoundInput::probe(const SoundSource& source, SoundStreamInfo& info) {
  if (!available(source)) return SoundResult::NotFound;
  info.format = {48000, 2, 32, true, speaker::Stereo};
  info.loopback = source.kind == SourceKind::Playing;
  info.endpointName.clear();
  return SoundResult::Ok;
}

SoundResult LinuxSoundInput::start() {
  if (!loop_) return SoundResult::Error;
  LoopLock lock(loop_);
  return stream_ ? SoundResult::Ok : SoundResult::Error;  // a record stream runs from its connection
}

SoundResult LinuxSoundInput::waitPacket(uint32_t timeoutMillis) {
  std::unique_lock lock(dataMutex_);
  const bool signalled =
      dataReady_.wait_for(lock, std::chrono::milliseconds(timeoutMillis), [&] { return dataSignalled_; });
  dataSignalled_ = false;
  return signalled ? SoundResult::Ok : SoundResult::Timeout;
}

SoundResult LinuxSoundInput::nextPacket(SoundPacket& packet) {
  packet = {};
  std::lock_guard lock(dataMutex_);
  if (!stream_) return SoundResult::Error;
  if (streamFailed_) return SoundResult::DeviceInvalidated;
  recycleHandedOut();  // the last packet, given back or not, is consumed now
  if (queue_.empty()) return SoundResult::Ok;
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
  return SoundResult::Ok;
}

SoundResult LinuxSoundInput::releasePacket(uint32_t) {
  std::lock_guard lock(dataMutex_);
  recycleHandedOut();
  return SoundResult::Ok;
}

bool LinuxSoundInput::setPaused(bool paused) {
  if (!loop_) return false;
  LoopLock lock(loop_);
  if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return false;
  pa_operation* operation = pa_stream_cork(stream_, paused ? 1 : 0, nullptr, nullptr);
  if (!operation) return false;
  pa_operation_unref(operation);
  return true;
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
  const pa_context_state_t state = pa_context_get_state(c);
  if (state == PA_CONTEXT_READY) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(me->loop_);
    api->time_restart(me->timer_, nullptr);  // connected: no try is due
    pa_context_set_subscribe_callback(c, &LinuxSoundInput::contextEvent, self);
    const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK |
                                             PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER);
    if (pa_operation* o = pa_context_subscribe(c, mask, nullptr, nullptr)) pa_operation_unref(o);
    me->refreshDefaults();
    me->refreshSources();
  } else if (!PA_CONTEXT_IS_GOOD(state)) {
    me->streamFailed();
    me->connectionLost();
  }
}

// On the loop's thread: the cache asked again for what an event may have changed.
void LinuxSoundInput::contextEvent(pa_context* c, pa_subscription_event_type_t type, uint32_t index, void* self) {
  auto* me = static_cast<LinuxSoundInput*>(self);
  const int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const int kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) me->refreshSources();
  // A stream that starts (or uncorks) may play into the output we listen to: told at once,
  // without asking where it plays, as a wrong guess only costs a few seconds of listening.
  if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && kind != PA_SUBSCRIPTION_EVENT_REMOVE) me->playbackStarted();
  // The output running again (a stream we were not told of, or one moved onto it).
  if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind == PA_SUBSCRIPTION_EVENT_CHANGE) {
    if (pa_operation* o = pa_context_get_sink_info_by_index(c, index, &LinuxSoundInput::sinkRead, self)) {
      pa_operation_unref(o);
    }
  }
  // A sink that comes or goes may take the default output with it.
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER ||
      (facility == PA_SUBSCRIPTION_EVENT_SINK && kind != PA_SUBSCRIPTION_EVENT_CHANGE)) {
    me->refreshDefaults();
  }
}

void LinuxSoundInput::sinkRead(pa_context*, const pa_sink_info* info, int eol, void* self) {
  auto* me = static_cast<LinuxSoundInput*>(self);
  if (eol != 0 || !info || info->state != PA_SINK_RUNNING) return;
  if (info->name && me->defaults_.sink == info->name) me->playbackStarted();
}

void LinuxSoundInput::playbackStarted() {
  events_ |= SoundEventPlaybackStarted;
  wake();
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
      const size_t frames = bytes / frameBytes_;
      appendFrames(queue_.back().bytes, static_cast<const uint8_t*>(data), frames);
      queuedBytes_ += frames * frameBytes_;
    }
    pa_stream_drop(s);
  }
  // A capture thread that has fallen behind loses the oldest sound, never the newest.
  while (queuedBytes_ > maxQueuedBytes_ && queue_.size() > 1) {
    queuedBytes_ -= queue_.front().bytes.size();
    spare_.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
}

void LinuxSoundInput::appendFrames(std::vector<uint8_t>& out, const uint8_t* from, size_t frames) const {
  const size_t at = out.size();
  if (channelOrder_.empty()) {
    out.insert(out.end(), from, from + frames * frameBytes_);
    return;
  }
  out.resize(at + frames * frameBytes_);
  uint8_t* to = out.data() + at;
  const size_t places = channelOrder_.size();
  for (size_t f = 0; f < frames; ++f, from += frameBytes_) {
    for (size_t p = 0; p < places; ++p, to += sampleBytes_) {
      std::memcpy(to, from + channelOrder_[p] * sampleBytes_, sampleBytes_);
    }
  }
}

}  // namespace tonalis::lnx
