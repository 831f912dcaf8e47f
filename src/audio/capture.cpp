#include "audio/capture.h"

#include <algorithm>
#include <array>
#include <new>

namespace tonalis {

// The worker's record. It is the converter's sink: every finished block goes to the ring.
struct CaptureState final : BlockSink {
  explicit CaptureState(CaptureContext& owner) : capture(owner) {}

  void onBlock(std::span<const float, BlockSamples> block) override { capture.ring.write(block); }

  CaptureContext& capture;
  SoundConverter converter;

  uint32_t seenChoice = ~0u;    // choice version taken last
  SoundSource chosen;
  SourceState state = SourceState::Starting;
  bool attemptDue = true;       // open (or look for the absent source) at the next step
  uint32_t nextAttemptTick = 0;
  uint32_t retryPause = CaptureRetryMillis;  // grows while the chosen source is there but will not open
  uint32_t settleUntilTick = 0;  // the chosen source came back (or a device event came): its pause grows after this
  bool sourceSeenGone = false;   // the last look found the chosen source missing

  bool streamOpen = false;
  bool fallback = false;        // the open stream is the default input standing in
  SourceState openedAs = SourceState::Listening;  // the state once the stream proves alive
  SoundStreamInfo info;
  uint32_t lastPacketTick = 0;  // a packet arrived
  bool reopenedAfterStall = false;  // the stream was opened again once without a word
  uint32_t lastFedTick = 0;     // the converter was fed up to this time (packets or filled gaps)

  // Digital silence: every sample exactly 0 since lastSoundTick (packets, holes, filled gaps),
  // and in the open stream since idleFromTick.
  uint32_t lastSoundTick = 0;
  uint32_t idleFromTick = 0;
  bool paused = false;          // the open stream is paused by a long digital silence

  uint32_t silenceStartTick = 0;  // no stream: silence blocks are due from here
  uint64_t silenceBlocks = 0;     // silence blocks published since then

  SourceStatus published;
  bool statusPublished = false;
};

CaptureContext::CaptureContext() = default;
CaptureContext::~CaptureContext() = default;

void CaptureContext::choose(const SoundSource& source) {
  {
    std::lock_guard lock(mutex);
    chosen_ = source;
  }
  choiceVersion_.fetch_add(1, std::memory_order_acq_rel);
}

SoundSource CaptureContext::chosen() const {
  std::lock_guard lock(mutex);
  return chosen_;
}

SourceStatus CaptureContext::status() const {
  std::lock_guard lock(mutex);
  return status_;
}

void CaptureContext::publishStatus(const SourceStatus& status) {
  {
    std::lock_guard lock(mutex);
    status_ = status;
  }
  statusVersion_.fetch_add(1, std::memory_order_acq_rel);
}

namespace {

bool allocationAllowed(CaptureContext& capture) {
  if (capture.failAllocationAfter < 0) return true;
  if (capture.failAllocationAfter == 0) return false;
  --capture.failAllocationAfter;
  return true;
}

bool due(uint32_t now, uint32_t at) { return int32_t(now - at) >= 0; }

SoundSource defaultInput() { return SoundSource{}; }

// The source the open stream actually records: the chosen one, or the default input.
SourceKind recordedKind(const CaptureState& s) {
  return s.fallback ? SourceKind::DefaultInput : s.chosen.kind;
}

void closeStream(CaptureState& s, SoundInput& sound) {
  if (s.streamOpen) sound.close();
  s.streamOpen = false;
  s.fallback = false;
  s.paused = false;
}

bool allZero(const uint8_t* data, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

// Sound after a silence: whoever slowed down for the silence hears of it at once.
void heardSound(CaptureState& s, uint32_t now) {
  if (now - s.lastSoundTick >= CaptureHushMillis && s.capture.soundAfterSilence) s.capture.soundAfterSilence();
  s.lastSoundTick = now;
  s.idleFromTick = now;
}

// A format the converter cannot take is as good as no device.
SoundResult checkFormat(const SoundStreamInfo& info, StreamFormat& format) {
  return streamFormatFor(info.format, format) ? SoundResult::Ok : SoundResult::UnsupportedFormat;
}

SoundResult openStream(CaptureState& s, SoundInput& sound, Clock& clock, const SoundSource& source) {
  SoundStreamInfo info;
  const SoundResult opened = sound.open(source, info);
  if (opened != SoundResult::Ok) return opened;
  StreamFormat format;
  if (checkFormat(info, format) != SoundResult::Ok || !s.converter.configure(format)) {
    sound.close();
    return SoundResult::UnsupportedFormat;
  }
  if (sound.start() != SoundResult::Ok) {
    sound.close();
    return SoundResult::Error;
  }
  s.streamOpen = true;
  s.info = info;
  // Opening can take a second or more (a headset switching profile): the stream's time
  // starts now, not when the step began, or it would be judged stalled at once.
  const uint32_t now = clock.tickCount();
  s.lastPacketTick = now;
  s.lastFedTick = now;
  s.idleFromTick = now;  // a new stream gets its full time before it counts as idle
  s.paused = false;
  return SoundResult::Ok;
}

void startSilence(CaptureState& s, uint32_t now) {
  s.silenceStartTick = now;
  s.silenceBlocks = 0;
}

// Nothing could be opened (or the stream died): silence from now, and try again at once.
void lose(CaptureState& s, SoundInput& sound, uint32_t now) {
  closeStream(s, sound);
  s.state = SourceState::Lost;
  s.attemptDue = true;
  startSilence(s, now);
}

// The next look after a failure to open the chosen source: soon for a source that is not
// there (looking is cheap), with a growing pause for one that is there but refuses (held
// by another program, a format the converter refuses), so it is not hammered. A source that
// has just come back is given a few seconds at the short pause: a system may refuse the first
// opens of a device it is still setting up.
void scheduleRetry(CaptureState& s, uint32_t now, SoundResult failure) {
  if (failure == SoundResult::NotFound || !due(now, s.settleUntilTick)) {
    s.nextAttemptTick = now + CaptureRetryMillis;
    return;
  }
  s.nextAttemptTick = now + s.retryPause;
  s.retryPause = std::min(s.retryPause * 2, CaptureMaxRetryMillis);
}

void attempt(CaptureState& s, SoundInput& sound, Clock& clock) {
  const uint32_t now = clock.tickCount();
  s.attemptDue = false;
  if (s.state == SourceState::Absent && s.streamOpen) {
    // The default input stands in and keeps playing until the chosen source is there and
    // proves it opens, in a second stream beside it.
    if (!sound.available(s.chosen)) {
      s.sourceSeenGone = true;
      s.retryPause = CaptureRetryMillis;
      s.nextAttemptTick = now + CaptureRetryMillis;
      return;
    }
    if (s.sourceSeenGone) {
      s.sourceSeenGone = false;
      s.settleUntilTick = now + CaptureSettleMillis;
    }
    SoundStreamInfo info;
    StreamFormat format;
    SoundResult probed = sound.probe(s.chosen, info);
    if (probed == SoundResult::Ok) probed = checkFormat(info, format);
    if (probed != SoundResult::Ok) {
      scheduleRetry(s, now, probed);
      return;
    }
    closeStream(s, sound);
  }
  const bool wasLost = s.state == SourceState::Lost;
  const auto opened = [&](SourceState as) {
    s.openedAs = as;
    // After a loss, a recording stream counts once it delivers: a sound server that is
    // still away lets the open succeed and then sends nothing.
    s.state = wasLost && !s.info.loopback ? SourceState::Lost : as;
  };
  const SoundResult result = openStream(s, sound, clock, s.chosen);
  if (result == SoundResult::Ok) {
    s.retryPause = CaptureRetryMillis;
    opened(SourceState::Listening);
    return;
  }
  scheduleRetry(s, now, result);
  if (s.chosen.kind != SourceKind::DefaultInput &&
      openStream(s, sound, clock, defaultInput()) == SoundResult::Ok) {
    s.fallback = true;
    opened(SourceState::Absent);
    return;
  }
  if (s.state != SourceState::Lost) startSilence(s, clock.tickCount());
  s.state = SourceState::Lost;
}

// Silence blocks at the ring's rate while no stream is open, so the bars fall and the long
// silence that starts the board's clock is counted as with a silent microphone.
void silenceByClock(CaptureState& s, uint32_t now) {
  static constexpr std::array<float, BlockSamples> Zeros{};
  const uint64_t due = uint64_t(now - s.silenceStartTick) * CaptureSampleRate / 1000 / BlockSamples;
  // After a long stall only the newest ring's worth matters.
  if (due > s.silenceBlocks + RingSlotCount) s.silenceBlocks = due - RingSlotCount;
  for (; s.silenceBlocks < due; ++s.silenceBlocks) s.onBlock(Zeros);
}

void pump(CaptureState& s, SoundInput& sound, Clock& clock) {
  sound.waitPacket(CaptureWaitMillis);
  bool got = false;
  for (;;) {
    SoundPacket packet;
    if (sound.nextPacket(packet) != SoundResult::Ok) {
      lose(s, sound, clock.tickCount());
      return;
    }
    if (packet.frames == 0) break;
    if (packet.silent || packet.data == nullptr) {
      s.converter.pushSilence(packet.frames, s);
    } else {
      if (!allZero(packet.data, size_t(packet.frames) * s.info.format.channels * (s.info.format.bitsPerSample / 8))) {
        heardSound(s, clock.tickCount());
      }
      s.converter.push(packet.data, packet.frames, s);
    }
    sound.releasePacket(packet.frames);
    got = true;
  }
  const uint32_t now = clock.tickCount();
  if (got) {
    s.lastPacketTick = now;
    s.lastFedTick = now;
    s.reopenedAfterStall = false;
    s.state = s.openedAs;
    return;
  }
  if (s.info.loopback || s.state == SourceState::Lost || now - s.lastPacketTick >= CaptureQuietMillis) {
    // A loopback delivers nothing while nothing plays, and a stream not yet back may
    // deliver nothing: that time is silence.
    const uint32_t idle = now - s.lastFedTick;
    if (idle >= CaptureGapMillis) {
      // Only the newest ring's worth can show: a long gap (the computer slept) is not
      // resampled in full.
      const uint64_t rate = s.info.format.samplesPerSecond;
      const uint64_t ringFrames = uint64_t(RingSlotCount) * BlockSamples * rate / CaptureSampleRate;
      const uint64_t frames = std::min(uint64_t(idle) * rate / 1000, ringFrames + s.converter.latencyFrames());
      s.converter.pushSilence(size_t(frames), s);
      s.lastFedTick = now;
    }
  }
  if (!s.info.loopback && now - s.lastPacketTick >= CaptureStallMillis) {
    // A recording device always delivers, zeros in silence: this one has gone quiet
    // without saying so (a sound server that went away). A stream that never got going
    // (Wine's sometimes does not) is opened again once before the device counts as lost.
    if (s.reopenedAfterStall || s.state == SourceState::Lost) {
      lose(s, sound, now);
    } else {
      closeStream(s, sound);
      startSilence(s, now);
      s.attemptDue = true;
      s.reopenedAfterStall = true;
    }
  }
}

void publishStatusIfChanged(CaptureState& s) {
  SourceStatus status;
  status.state = s.state;
  status.chosen = s.chosen;
  if (s.streamOpen) status.endpointName = s.info.endpointName;
  if (s.statusPublished && status == s.published) return;
  s.published = status;
  s.statusPublished = true;
  s.capture.publishStatus(status);
}

}  // namespace

void convertSamples(std::span<const uint8_t, CaptureBufferBytes> bytes,
                    std::span<float, BlockSamples> samples) {
  for (int k = 0; k < BlockSamples; ++k) {
    const auto value = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * k]) |
                                            static_cast<uint16_t>(bytes[2 * k + 1] << 8));
    samples[k] = static_cast<float>(value);
  }
}

bool streamFormatFor(const SoundFormat& device, StreamFormat& out) {
  SampleType type;
  if (device.isFloat) {
    if (device.bitsPerSample != 32) return false;
    type = SampleType::Float32;
  } else if (device.bitsPerSample == 16) {
    type = SampleType::Int16;
  } else if (device.bitsPerSample == 24) {
    type = SampleType::Int24;
  } else if (device.bitsPerSample == 32) {
    type = SampleType::Int32;  // also 24 valid bits in a 32-bit container: the top bits hold them
  } else {
    return false;
  }
  if (device.channels == 0 || device.samplesPerSecond == 0) return false;
  out = StreamFormat{device.samplesPerSecond, device.channels, type, device.channelMask};
  return true;
}

CaptureStart prepareCapture(CaptureContext& capture, SoundInput& sound, const SoundSource& source) {
  capture.state.reset();
  capture.stopRequested = false;
  const bool defaultInputChosen = source.kind == SourceKind::DefaultInput;
  if (defaultInputChosen && sound.deviceCount() == 0) return CaptureStart::NoSoundCard;
  if (allocationAllowed(capture)) {
    capture.state.reset(new (std::nothrow) CaptureState(capture));
  }
  if (!capture.state) {
    releaseCapture(capture, sound);
    return CaptureStart::NoMemory;
  }
  capture.captureReleaseCount = 0;
  capture.choose(source);
  if (defaultInputChosen) {
    // The one check the user can act on before the program shows itself; the worker opens
    // its own stream.
    SoundStreamInfo info;
    const SoundResult opened = sound.open(source, info);
    if (opened == SoundResult::Ok) {
      sound.close();
    } else {
      releaseCapture(capture, sound);
      return opened == SoundResult::DeviceInUse ? CaptureStart::DeviceInUse : CaptureStart::Unavailable;
    }
  }
  return CaptureStart::Ready;
}

void captureStep(CaptureContext& capture, SoundInput& sound, Clock& clock) {
  CaptureState& s = *capture.state;
  uint32_t now = clock.tickCount();

  const uint32_t version = capture.choiceVersion();
  if (version != s.seenChoice) {
    s.seenChoice = version;
    const SoundSource chosen = capture.chosen();
    if (!(chosen == s.chosen) || s.state == SourceState::Starting) {
      s.chosen = chosen;
      const bool wasOpen = s.streamOpen;
      closeStream(s, sound);
      if (wasOpen) startSilence(s, now);
      s.attemptDue = true;
      s.retryPause = CaptureRetryMillis;
    }
  }

  const uint32_t allEvents = sound.takeEvents();
  // Playback is news only to a paused stream; to a search it says nothing.
  const uint32_t events = allEvents & ~SoundEventPlaybackStarted;
  if (s.paused && (allEvents & SoundEventPlaybackStarted)) {
    s.paused = false;
    if (sound.setPaused(false)) {
      // The silence by the clock ran up to now: the stream's time starts here.
      s.lastPacketTick = now;
      s.lastFedTick = now;
      s.idleFromTick = now;
    } else {
      closeStream(s, sound);  // a stream that will not restart is opened afresh
      startSilence(s, now);
      s.attemptDue = true;
    }
  }
  if (s.streamOpen) {
    // The followed default moved: record from the new one.
    const SourceKind kind = recordedKind(s);
    if (((events & SoundEventDefaultInputChanged) && kind == SourceKind::DefaultInput) ||
        ((events & SoundEventDefaultOutputChanged) && kind == SourceKind::Playing)) {
      closeStream(s, sound);
      startSilence(s, now);
      s.attemptDue = true;
    }
  }
  if (events != 0 && (s.state == SourceState::Absent || s.state == SourceState::Lost)) {
    s.attemptDue = true;  // whatever changed may have brought the source back
    s.retryPause = CaptureRetryMillis;
    s.settleUntilTick = now + CaptureSettleMillis;
  }
  const bool searching = !s.streamOpen || s.state == SourceState::Absent;
  if (searching && (s.attemptDue || due(now, s.nextAttemptTick))) attempt(s, sound, clock);

  if (s.paused) {
    // Silence by the clock, as with no stream; the wait ends early when something plays.
    silenceByClock(s, now);
    sound.waitPacket(CapturePausedWaitMillis);
    // What was on its way when the stream paused is the silence already counted; a stream
    // that died meanwhile is lost like an open one.
    for (;;) {
      SoundPacket packet;
      if (sound.nextPacket(packet) != SoundResult::Ok) {
        lose(s, sound, clock.tickCount());
        break;
      }
      if (packet.frames == 0) break;
      sound.releasePacket(packet.frames);
    }
    silenceByClock(s, clock.tickCount());
  } else if (s.streamOpen) {
    pump(s, sound, clock);
    // What is playing has been all zeros for long: the stream is paused so the server stops
    // converting them for us and the output may sleep. A microphone is never paused.
    now = clock.tickCount();
    if (s.streamOpen && recordedKind(s) == SourceKind::Playing && now - s.idleFromTick >= CaptureIdleMillis &&
        sound.setPaused(true)) {
      s.paused = true;
      startSilence(s, now);
    }
  } else {
    silenceByClock(s, now);
    clock.sleepMillis(CaptureWaitMillis);
    now = clock.tickCount();
    silenceByClock(s, now);
  }
  publishStatusIfChanged(s);
}

void closeCaptureStream(CaptureContext& capture, SoundInput& sound) {
  if (capture.state) closeStream(*capture.state, sound);
}

bool runCapture(CaptureContext& capture, SoundInput& sound, Clock& clock,
                const std::atomic<bool>& running) {
  {
    std::lock_guard lock(capture.mutex);
    // Never after a failed preparation or a release: there is nothing to record into.
    if (!capture.state || capture.captureReleaseCount != 0 || capture.stopRequested) {
      return false;
    }
    capture.workerInside = true;
  }
  while (running.load(std::memory_order_acquire) &&
         !capture.stopRequested.load(std::memory_order_acquire)) {
    captureStep(capture, sound, clock);
  }
  closeCaptureStream(capture, sound);
  std::lock_guard lock(capture.mutex);
  capture.workerInside = false;
  capture.workerLeft.notify_all();
  return true;
}

void releaseCapture(CaptureContext& capture, SoundInput& sound) {
  std::unique_lock lock(capture.mutex);
  // A worker still inside runCapture is asked to stop and waited for, so nothing it may
  // touch goes away under it.
  capture.stopRequested = true;
  capture.workerLeft.wait(lock, [&capture] { return !capture.workerInside; });

  if (capture.captureReleaseCount != 0 || !capture.state) {
    ++capture.captureReleaseCount;
    return;
  }
  closeStream(*capture.state, sound);
  capture.state.reset();
  ++capture.captureReleaseCount;
}

}  // namespace tonalis
