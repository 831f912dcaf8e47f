// A scripted sound system: capture and output endpoints that come and go, defaults that
// move, streams that deliver a steady level in any format, stall or fail. A stream call
// on a closed stream, or a packet not given back, is recorded as misuse. Calls are logged
// ("sound.open mic").
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/call_log.h"
#include "platform/sound_input.h"

namespace tonalis::fakes {

struct FakeEndpoint {
  std::string id;
  std::string name;
  bool capture = true;    // false: an output, recorded from by loopback
  bool present = true;    // plugged in and enabled
  SoundFormat format{48000, 2, 32, true};
  float level = 0.0f;     // every sample's value as a fraction of full scale (front pair only
                          // beyond two channels)
  bool delivers = true;   // false: the stream opens but no packet ever comes (silent loopback)
  SoundResult openResult = SoundResult::Ok;
  uint32_t openMillis = 0;  // how long opening takes (a headset switching profile)
  uint32_t warmupMillis = 0;  // how long a new stream delivers nothing
};

class FakeSoundInput : public SoundInput {
 public:
  explicit FakeSoundInput(CallLog& log);

  // Script. Defaults: one microphone "mic" (48 kHz stereo float, silent) as the default
  // input, and no output.
  std::vector<FakeEndpoint> endpoints;
  std::string defaultInput = "mic";
  std::string defaultOutput;          // "" = none
  bool loopbackSupported = true;      // false: "Playing" needs a "Monitor of <output>" endpoint
  uint32_t packetMillis = 10;         // one packet per wait, this long
  bool pausable = true;               // false: setPaused does nothing (a backend that does not pause)
  // How a wait passes time: by default a short real sleep; tests hand in their fake clock.
  std::function<void(uint32_t millis)> passTime;

  FakeEndpoint& endpoint(const std::string& id);  // must exist
  void add(FakeEndpoint endpoint);                // and a device-list event
  void setPresent(const std::string& id, bool present);  // and a device-list event
  void setDefaultInput(const std::string& id);    // and its event
  void setDefaultOutput(const std::string& id);
  void playbackStarted();                         // the event a new stream playing raises

  // Observations.
  bool isOpen() const;
  bool paused() const;
  std::string openId() const;  // endpoint of the open stream, "" when none
  int opens() const;
  bool misuse() const;

  uint32_t deviceCount() override;
  std::vector<SoundDevice> listDevices() override;
  bool available(const SoundSource& source) override;
  SoundResult open(const SoundSource& source, SoundStreamInfo& info) override;
  SoundResult probe(const SoundSource& source, SoundStreamInfo& info) override;
  SoundResult start() override;
  SoundResult waitPacket(uint32_t timeoutMillis) override;
  SoundResult nextPacket(SoundPacket& packet) override;
  SoundResult releasePacket(uint32_t frames) override;
  bool setPaused(bool paused) override;
  void close() override;
  uint32_t takeEvents() override;

 private:
  // The endpoint `source` resolves to and whether it is a loopback; null and the result.
  const FakeEndpoint* resolveLocked(const SoundSource& source, bool& loopback, SoundResult& result) const;
  const FakeEndpoint* findLocked(const std::string& id) const;
  static void describe(const FakeEndpoint& e, bool loopback, SoundStreamInfo& info);

  CallLog& log_;
  mutable std::mutex mutex_;
  bool open_ = false;
  bool started_ = false;
  bool paused_ = false;
  std::string openId_;
  uint32_t pendingFrames_ = 0;
  uint32_t warmupLeft_ = 0;
  bool outstanding_ = false;
  std::vector<uint8_t> packet_;
  uint32_t events_ = 0;
  int opens_ = 0;
  bool misuse_ = false;
};

}  // namespace tonalis::fakes
