#include "fakes/fake_sound_input.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace tonalis::fakes {

namespace {

// One sample of `level` (fraction of full scale) in the format's encoding, little-endian.
void writeSample(const SoundFormat& f, float level, uint8_t* out) {
  const uint32_t bytes = f.bitsPerSample / 8;
  if (f.isFloat) {
    std::memcpy(out, &level, sizeof(float));
    return;
  }
  const double scale = std::ldexp(1.0, int(f.bitsPerSample) - 1);
  int64_t v = std::llround(double(level) * scale);
  v = std::min<int64_t>(std::max<int64_t>(v, int64_t(-scale)), int64_t(scale) - 1);
  for (uint32_t b = 0; b < bytes; ++b) out[b] = uint8_t(uint64_t(v) >> (8 * b));
}

}  // namespace

FakeSoundInput::FakeSoundInput(CallLog& log) : log_(log) {
  endpoints.push_back(FakeEndpoint{"mic", "Microphone"});
}

FakeEndpoint& FakeSoundInput::endpoint(const std::string& id) {
  std::lock_guard lock(mutex_);
  for (FakeEndpoint& e : endpoints) {
    if (e.id == id) return e;
  }
  throw std::logic_error("no fake endpoint " + id);
}

void FakeSoundInput::add(FakeEndpoint e) {
  std::lock_guard lock(mutex_);
  endpoints.push_back(std::move(e));
  events_ |= SoundEventDevicesChanged;
}

void FakeSoundInput::setPresent(const std::string& id, bool present) {
  endpoint(id).present = present;
  std::lock_guard lock(mutex_);
  events_ |= SoundEventDevicesChanged;
}

void FakeSoundInput::setDefaultInput(const std::string& id) {
  std::lock_guard lock(mutex_);
  defaultInput = id;
  events_ |= SoundEventDefaultInputChanged;
}

void FakeSoundInput::setDefaultOutput(const std::string& id) {
  std::lock_guard lock(mutex_);
  defaultOutput = id;
  events_ |= SoundEventDefaultOutputChanged;
}

void FakeSoundInput::playbackStarted() {
  std::lock_guard lock(mutex_);
  events_ |= SoundEventPlaybackStarted;
}

bool FakeSoundInput::paused() const {
  std::lock_guard lock(mutex_);
  return open_ && paused_;
}

bool FakeSoundInput::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

std::string FakeSoundInput::openId() const {
  std::lock_guard lock(mutex_);
  return open_ ? openId_ : std::string();
}

int FakeSoundInput::opens() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

bool FakeSoundInput::misuse() const {
  std::lock_guard lock(mutex_);
  return misuse_;
}

const FakeEndpoint* FakeSoundInput::findLocked(const std::string& id) const {
  for (const FakeEndpoint& e : endpoints) {
    if (e.id == id && e.present) return &e;
  }
  return nullptr;
}

const FakeEndpoint* FakeSoundInput::resolveLocked(const SoundSource& source, bool& loopback,
                                                  SoundResult& result) const {
  loopback = false;
  result = SoundResult::NotFound;
  const FakeEndpoint* e = nullptr;
  switch (source.kind) {
    case SourceKind::DefaultInput:
      e = findLocked(defaultInput);
      break;
    case SourceKind::Device:
      e = findLocked(source.deviceId);
      break;
    case SourceKind::Playing: {
      const FakeEndpoint* out = findLocked(defaultOutput);
      if (out == nullptr || out->capture) return nullptr;
      if (loopbackSupported) {
        loopback = true;
        result = SoundResult::Ok;
        return out;
      }
      for (const FakeEndpoint& m : endpoints) {
        if (m.present && m.capture && m.name == "Monitor of " + out->name) {
          result = SoundResult::Ok;
          return &m;
        }
      }
      result = SoundResult::NoLoopback;
      return nullptr;
    }
  }
  if (e == nullptr || !e->capture) return nullptr;
  result = SoundResult::Ok;
  return e;
}

uint32_t FakeSoundInput::deviceCount() {
  std::lock_guard lock(mutex_);
  uint32_t n = 0;
  for (const FakeEndpoint& e : endpoints) n += e.capture && e.present;
  return n;
}

std::vector<SoundDevice> FakeSoundInput::listDevices() {
  log_.add("sound.list");
  std::lock_guard lock(mutex_);
  std::vector<SoundDevice> list;
  for (const FakeEndpoint& e : endpoints) {
    if (e.capture) list.push_back(SoundDevice{e.id, e.name, e.present});
  }
  return list;
}

bool FakeSoundInput::available(const SoundSource& source) {
  std::lock_guard lock(mutex_);
  bool loopback = false;
  SoundResult result = SoundResult::Ok;
  return resolveLocked(source, loopback, result) != nullptr;
}

SoundResult FakeSoundInput::open(const SoundSource& source, SoundStreamInfo& info) {
  std::unique_lock lock(mutex_);
  bool loopback = false;
  SoundResult result = SoundResult::Ok;
  const FakeEndpoint* e = resolveLocked(source, loopback, result);
  log_.add("sound.open " + (e ? e->id : std::string("-")));
  if (open_) misuse_ = true;  // one stream at a time
  if (e == nullptr) return result;
  if (e->openMillis != 0 && passTime) {
    const uint32_t millis = e->openMillis;
    lock.unlock();
    passTime(millis);
    lock.lock();
  }
  if (e->openResult != SoundResult::Ok) return e->openResult;
  open_ = true;
  started_ = false;
  paused_ = false;
  openId_ = e->id;
  pendingFrames_ = 0;
  warmupLeft_ = e->warmupMillis;
  outstanding_ = false;
  ++opens_;
  describe(*e, loopback, info);
  return SoundResult::Ok;
}

SoundResult FakeSoundInput::probe(const SoundSource& source, SoundStreamInfo& info) {
  std::lock_guard lock(mutex_);
  bool loopback = false;
  SoundResult result = SoundResult::Ok;
  const FakeEndpoint* e = resolveLocked(source, loopback, result);
  log_.add("sound.probe " + (e ? e->id : std::string("-")));
  if (e == nullptr) return result;
  if (e->openResult == SoundResult::Ok) describe(*e, loopback, info);
  return e->openResult;
}

void FakeSoundInput::describe(const FakeEndpoint& e, bool loopback, SoundStreamInfo& info) {
  info.format = e.format;
  info.endpointName = e.name;
  info.loopback = loopback;
}

SoundResult FakeSoundInput::start() {
  std::lock_guard lock(mutex_);
  if (!open_) misuse_ = true;
  started_ = true;
  return SoundResult::Ok;
}

SoundResult FakeSoundInput::waitPacket(uint32_t timeoutMillis) {
  bool signalled = false;
  uint32_t millis = timeoutMillis;
  {
    std::lock_guard lock(mutex_);
    if (!open_ || !started_) misuse_ = true;
    const FakeEndpoint* e = findLocked(openId_);
    if (warmupLeft_ != 0) {
      warmupLeft_ -= std::min(warmupLeft_, timeoutMillis);
    } else if (open_ && started_ && !paused_ && e != nullptr && e->delivers) {
      signalled = true;
      millis = packetMillis;
      pendingFrames_ += e->format.samplesPerSecond * packetMillis / 1000;
    }
  }
  if (passTime) {
    passTime(millis);
  } else {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return signalled ? SoundResult::Ok : SoundResult::Timeout;
}

SoundResult FakeSoundInput::nextPacket(SoundPacket& packet) {
  std::lock_guard lock(mutex_);
  packet = SoundPacket{};
  if (!open_ || outstanding_) misuse_ = true;
  const FakeEndpoint* e = findLocked(openId_);
  if (e == nullptr) return SoundResult::DeviceInvalidated;
  if (pendingFrames_ == 0 || !e->delivers || paused_) return SoundResult::Ok;
  const SoundFormat& f = e->format;
  const uint32_t sampleBytes = f.bitsPerSample / 8;
  packet_.assign(size_t(pendingFrames_) * f.channels * sampleBytes, 0);
  // Beyond two channels the level is in the front pair only, as stereo played into a
  // surround output lands.
  for (size_t at = 0, c = 0; at < packet_.size(); at += sampleBytes, c = (c + 1) % f.channels) {
    writeSample(f, f.channels <= 2 || c < 2 ? e->level : 0.0f, &packet_[at]);
  }
  packet.data = packet_.data();
  packet.frames = pendingFrames_;
  pendingFrames_ = 0;
  outstanding_ = true;
  return SoundResult::Ok;
}

SoundResult FakeSoundInput::releasePacket(uint32_t frames) {
  std::lock_guard lock(mutex_);
  if (!outstanding_ || frames == 0) misuse_ = true;
  outstanding_ = false;
  return SoundResult::Ok;
}

bool FakeSoundInput::setPaused(bool paused) {
  std::lock_guard lock(mutex_);
  if (!open_) misuse_ = true;
  if (!pausable || !open_) return false;
  log_.add(paused ? "sound.pause" : "sound.resume");
  paused_ = paused;
  return true;
}

void FakeSoundInput::close() {
  log_.add("sound.close");
  std::lock_guard lock(mutex_);
  if (!open_ || outstanding_) misuse_ = true;
  open_ = false;
  started_ = false;
  paused_ = false;
  openId_.clear();
}

uint32_t FakeSoundInput::takeEvents() {
  std::lock_guard lock(mutex_);
  const uint32_t events = events_;
  events_ = 0;
  return events;
}

}  // namespace tonalis::fakes
