// Capture with a scripted sound system: the start-up checks for the default input, the
// source state machine (chosen, absent, returns, default changes, loss and resume),
// silence by the clock, formats the device may deliver, and a bounded exit.
#include "audio/capture.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "fakes/call_log.h"
#include "fakes/fake_app_ports.h"
#include "fakes/fake_sound_input.h"

namespace tonalis {
namespace {

using fakes::CallLog;
using fakes::FakeEndpoint;
using fakes::FakeSoundInput;
using namespace std::chrono_literals;

// Time moves only when the loop waits or sleeps.
class ManualClock : public Clock {
 public:
  uint32_t now = 5000;
  uint32_t tickCount() override { return now; }
  LocalTime localTime() override { return {}; }
  void sleepMillis(uint32_t ms) override { now += ms; }
};

SoundSource device(const std::string& id) { return SoundSource{SourceKind::Device, id}; }
const SoundSource DefaultInput{};
const SoundSource Playing{SourceKind::Playing, ""};

struct Rig {
  CallLog log;
  FakeSoundInput sound{log};
  ManualClock clock;
  fakes::FakeShell shell{log};
  CaptureContext capture;

  Rig() {
    sound.passTime = [this](uint32_t ms) { clock.now += ms; };
    sound.endpoint("mic").level = 0.10f;
    sound.add(FakeEndpoint{"usb", "USB Headset", true, true, {44100, 1, 16, false}, 0.20f});
    sound.add(FakeEndpoint{"spk", "Speakers", false, true, {48000, 2, 32, true}, 0.30f});
    sound.defaultOutput = "spk";
    sound.takeEvents();
  }
  void start(const SoundSource& source) { ASSERT_EQ(prepareCapture(capture, sound, source), CaptureStart::Ready); }
  // Steps the loop for `ms` of its clock.
  void run(uint32_t ms) {
    const uint32_t until = clock.now + ms;
    while (int32_t(until - clock.now) > 0) captureStep(capture, sound, clock);
  }
  // Runs until `done` holds, at most `ms`; the time it took.
  uint32_t runUntil(const std::function<bool()>& done, uint32_t ms = 3000) {
    const uint32_t from = clock.now;
    while (!done() && clock.now - from < ms) captureStep(capture, sound, clock);
    return clock.now - from;
  }
  // The level of the newest block (its middle sample) as a fraction of full scale.
  float heard() const {
    std::array<float, BlockSamples> newest;
    EXPECT_TRUE(capture.ring.copyNewest(newest));
    return newest[BlockSamples / 2] / 32768.0f;
  }
  SourceState state() const { return capture.status().state; }
};

// ---------------------------------------------------------------- start-up

struct PrepareCase {
  const char* name;
  SoundSource source;
  std::function<void(Rig&)> script;
  CaptureStart start;
};

TEST(PrepareCapture, OnlyTheDefaultInputCanStopTheStart) {
  const auto noDevices = [](Rig& r) {
    r.sound.setPresent("mic", false);
    r.sound.setPresent("usb", false);
  };
  const PrepareCase cases[] = {
      {"default input present", DefaultInput, [](Rig&) {}, CaptureStart::Ready},
      {"no recording device", DefaultInput, noDevices, CaptureStart::NoSoundCard},
      {"held by another program", DefaultInput,
       [](Rig& r) { r.sound.endpoint("mic").openResult = SoundResult::DeviceInUse; }, CaptureStart::DeviceInUse},
      {"other open failure", DefaultInput, [](Rig& r) { r.sound.endpoint("mic").openResult = SoundResult::Error; },
       CaptureStart::Unavailable},
      {"no memory", DefaultInput, [](Rig& r) { r.capture.failAllocationAfter = 0; }, CaptureStart::NoMemory},
      {"what is playing, no recording device", Playing, noDevices, CaptureStart::Ready},
      {"a device, none present", device("usb"), noDevices, CaptureStart::Ready},
      {"a device, default held", device("usb"),
       [](Rig& r) { r.sound.endpoint("mic").openResult = SoundResult::DeviceInUse; }, CaptureStart::Ready},
  };
  for (const PrepareCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    c.script(r);
    EXPECT_EQ(prepareCapture(r.capture, r.sound, c.source), c.start);
    EXPECT_EQ(r.capture.state == nullptr, c.start != CaptureStart::Ready);
    EXPECT_FALSE(r.sound.isOpen()) << "the start-up check leaves no stream open";
    EXPECT_FALSE(r.sound.misuse());
  }
}

// ---------------------------------------------------------------- the source state machine

struct SourceCase {
  const char* name;
  SoundSource chosen;
  std::function<void(Rig&)> before;   // before the start
  SourceState state;                  // after 200 ms
  const char* endpoint;               // recorded from
  float level;                        // heard
};

TEST(SourceCapture, RecordsTheChosenSourceOrTheDefaultInputInstead) {
  const auto noLoopback = [](Rig& r) { r.sound.loopbackSupported = false; };
  const SourceCase cases[] = {
      {"default input", DefaultInput, [](Rig&) {}, SourceState::Listening, "mic", 0.10f},
      {"a device", device("usb"), [](Rig&) {}, SourceState::Listening, "usb", 0.20f},
      {"what is playing, by loopback", Playing, [](Rig&) {}, SourceState::Listening, "spk", 0.30f},
      {"what is playing, by the output's monitor", Playing,
       [&](Rig& r) {
         noLoopback(r);
         r.sound.add(FakeEndpoint{"mon", "Monitor of Speakers", true, true, {48000, 2, 16, false}, 0.40f});
       },
       SourceState::Listening, "mon", 0.40f},
      {"what is playing, neither loopback nor monitor", Playing, noLoopback, SourceState::Absent, "mic", 0.10f},
      {"what is playing, no output at all", Playing, [](Rig& r) { r.sound.defaultOutput = ""; },
       SourceState::Absent, "mic", 0.10f},
      {"a device not plugged in", device("usb"), [](Rig& r) { r.sound.setPresent("usb", false); },
       SourceState::Absent, "mic", 0.10f},
      {"a device never seen", device("gone"), [](Rig&) {}, SourceState::Absent, "mic", 0.10f},
      {"a device in a format the program cannot take", device("usb"),
       [](Rig& r) { r.sound.endpoint("usb").format = {48000, 2, 8, false}; }, SourceState::Absent, "mic",
       0.10f},
      {"a device, and no default input either", device("usb"),
       [](Rig& r) {
         r.sound.setPresent("usb", false);
         r.sound.setPresent("mic", false);
       },
       SourceState::Lost, "", 0.0f},
  };
  for (const SourceCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    c.before(r);
    r.start(c.chosen);
    r.run(200);
    EXPECT_EQ(r.state(), c.state);
    EXPECT_EQ(r.sound.openId(), c.endpoint);
    EXPECT_NEAR(r.heard(), c.level, 0.005f);
    EXPECT_EQ(r.capture.status().chosen, c.chosen);
    EXPECT_FALSE(r.sound.misuse());
  }
}

// A scripted change while running, and where capture must be within 1 s of it.
struct ChangeCase {
  const char* name;
  SoundSource chosen;
  std::function<void(Rig&)> before;
  std::function<void(Rig&)> change;
  SourceState state;
  const char* endpoint;  // nullptr: either way (a stalled stream is reopened again and again)
  float level;
  uint32_t within = 1000;  // ms after the change
};

TEST(SourceCapture, FollowsChangesWithinASecond) {
  const auto mic2 = [](Rig& r) {
    r.sound.add(FakeEndpoint{"mic2", "Webcam", true, true, {16000, 1, 16, false}, 0.50f});
  };
  const ChangeCase cases[] = {
      {"the default input moves", DefaultInput, mic2, [](Rig& r) { r.sound.setDefaultInput("mic2"); },
       SourceState::Listening, "mic2", 0.50f},
      {"the default output moves", Playing,
       [](Rig& r) {
         r.sound.add(FakeEndpoint{"hdmi", "HDMI", false, true, {96000, 6, 24, false}, 0.60f});
       },
       [](Rig& r) { r.sound.setDefaultOutput("hdmi"); }, SourceState::Listening, "hdmi", 0.60f},
      {"the default input moves while it stands in", device("usb"),
       [&](Rig& r) {
         mic2(r);
         r.sound.setPresent("usb", false);
       },
       [](Rig& r) { r.sound.setDefaultInput("mic2"); }, SourceState::Absent, "mic2", 0.50f},
      {"the chosen device is unplugged", device("usb"), [](Rig&) {},
       [](Rig& r) { r.sound.setPresent("usb", false); }, SourceState::Absent, "mic", 0.10f},
      {"the absent device comes back", device("usb"), [](Rig& r) { r.sound.setPresent("usb", false); },
       [](Rig& r) { r.sound.setPresent("usb", true); }, SourceState::Listening, "usb", 0.20f},
      {"the absent device comes back without a word", device("usb"),
       [](Rig& r) { r.sound.endpoint("usb").present = false; },
       [](Rig& r) { r.sound.endpoint("usb").present = true; }, SourceState::Listening, "usb", 0.20f},
      {"the default input is lost", DefaultInput, [](Rig&) {},
       [](Rig& r) { r.sound.endpoint("mic").present = false; }, SourceState::Lost, "", 0.0f},
      {"the default input is lost and another becomes the default", DefaultInput, mic2,
       [](Rig& r) {
         r.sound.setPresent("mic", false);
         r.sound.setDefaultInput("mic2");
       },
       SourceState::Listening, "mic2", 0.50f},
      {"the recording stalls (sound server gone)", DefaultInput, [](Rig&) {},
       [](Rig& r) { r.sound.endpoint("mic").delivers = false; }, SourceState::Lost, nullptr, 0.0f,
       2 * CaptureStallMillis + 500},
      {"the user picks another source", DefaultInput, [](Rig&) {},
       [](Rig& r) { r.capture.choose(device("usb")); }, SourceState::Listening, "usb", 0.20f},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    c.before(r);
    r.start(c.chosen);
    r.run(1500);
    c.change(r);
    r.run(c.within);
    EXPECT_EQ(r.state(), c.state);
    if (c.endpoint) {
      EXPECT_EQ(r.sound.openId(), c.endpoint);
    }
    EXPECT_NEAR(r.heard(), c.level, 0.005f);
    EXPECT_FALSE(r.sound.misuse());
  }
}

TEST(SourceCapture, ALostDeviceIsLookedForEveryHalfSecondAndResumes) {
  Rig r;
  r.start(DefaultInput);
  r.run(300);
  r.sound.endpoint("mic").present = false;  // gone without a word: only looking finds it again
  r.run(300);
  ASSERT_EQ(r.state(), SourceState::Lost);
  const int opensBefore = r.log.count("sound.open");
  r.run(5000);
  EXPECT_NEAR(r.log.count("sound.open") - opensBefore, 5000 / CaptureRetryMillis, 1);
  EXPECT_NEAR(r.heard(), 0.0f, 1e-6f) << "the bars must fall while the device is gone";
  r.sound.endpoint("mic").present = true;
  const uint32_t took = r.runUntil([&] { return r.state() == SourceState::Listening; });
  EXPECT_LE(took, CaptureRetryMillis + 2 * CaptureWaitMillis) << "half a second and one wait";
  r.run(100);
  EXPECT_NEAR(r.heard(), 0.10f, 0.005f);
  EXPECT_FALSE(r.sound.misuse());
}

// While the chosen source is away the default input stands in, and a stand-in that works is
// left alone: the chosen source is looked for beside it (a second stream that is opened and
// closed again), and only a source that opens takes its place. One that is there but will not
// open is tried again after 0.5, 1, 2, 4, 8 s, and at once after a device event.
TEST(SourceCapture, TheStandInKeepsPlayingUntilTheChosenSourceReallyOpens) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> away;   // the chosen "usb" goes (or will not open)
    int probesIn10s;                  // second streams tried meanwhile (at 1.5, 3.5 and 7.5 s)
  };
  const Case cases[] = {
      {"unplugged", [](Rig& r) { r.sound.setPresent("usb", false); }, 0},
      {"held by another program", [](Rig& r) { r.sound.endpoint("usb").openResult = SoundResult::DeviceInUse; }, 3},
      {"in a format the program cannot take", [](Rig& r) { r.sound.endpoint("usb").format = {48000, 2, 8, false}; },
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    c.away(r);
    r.start(device("usb"));
    r.run(1000);
    ASSERT_EQ(r.state(), SourceState::Absent);
    ASSERT_EQ(r.sound.openId(), "mic");
    const int opens = r.log.count("sound.open"), closes = r.log.count("sound.close");
    const int probes = r.log.count("sound.probe");
    r.run(10000);
    EXPECT_EQ(r.log.count("sound.open"), opens) << "the stand-in was reopened";
    EXPECT_EQ(r.log.count("sound.close"), closes) << "the stand-in was closed";
    EXPECT_EQ(r.log.count("sound.probe") - probes, c.probesIn10s);
    EXPECT_EQ(r.state(), SourceState::Absent);
    EXPECT_NEAR(r.heard(), 0.10f, 0.005f);

    // It comes back (or is freed) with a device event: taken within one step or two.
    r.sound.endpoint("usb").openResult = SoundResult::Ok;
    r.sound.endpoint("usb").format = {44100, 1, 16, false};
    r.sound.setPresent("usb", true);
    EXPECT_LE(r.runUntil([&] { return r.state() == SourceState::Listening; }), 2 * CaptureWaitMillis);
    EXPECT_EQ(r.sound.openId(), "usb");
    EXPECT_FALSE(r.sound.misuse());
  }
}

// A source that comes back may refuse its first opens for a while (a system still setting
// the device up): it is tried every half second for a few seconds before the pause grows,
// whether a device event told of its return or a look found it.
TEST(SourceCapture, AReturningSourceThatRefusesAtFirstIsTakenOnceItOpens) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> back;
  };
  const Case cases[] = {
      {"with a device event", [](Rig& r) { r.sound.setPresent("usb", true); }},
      {"found by looking", [](Rig& r) { r.sound.endpoint("usb").present = true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.sound.setPresent("usb", false);
    r.start(device("usb"));
    r.run(3000);
    ASSERT_EQ(r.state(), SourceState::Absent);
    r.sound.endpoint("usb").openResult = SoundResult::DeviceInUse;
    c.back(r);
    r.run(2000);
    ASSERT_EQ(r.state(), SourceState::Absent);
    r.sound.endpoint("usb").openResult = SoundResult::Ok;
    EXPECT_LE(r.runUntil([&] { return r.state() == SourceState::Listening; }),
              CaptureRetryMillis + 2 * CaptureWaitMillis);
    EXPECT_EQ(r.sound.openId(), "usb");
  }
}

// What the worker does while things are quiet or slow, checked by what it records.
TEST(SourceCapture, QuietSlowOrSleepingSourcesAreNotTakenForLostOnes) {
  // A loopback with nothing playing delivers no packets: still Listening, one stream.
  {
    Rig r;
    r.sound.endpoint("spk").delivers = false;
    r.start(Playing);
    int flips = 0;
    for (uint32_t until = r.clock.now + 10000; int32_t(until - r.clock.now) > 0;) {
      captureStep(r.capture, r.sound, r.clock);
      flips += r.state() != SourceState::Listening;
    }
    EXPECT_EQ(flips, 0) << "the status left Listening";
    EXPECT_EQ(r.sound.opens(), 1);
  }
  // Opening a headset takes 1.5 s (switching its profile) and its first packet comes a
  // little later: the stream is new, not stalled.
  {
    Rig r;
    r.sound.endpoint("usb").openMillis = 1500;
    r.sound.endpoint("usb").warmupMillis = 200;
    r.start(device("usb"));
    r.run(4000);
    EXPECT_EQ(r.state(), SourceState::Listening);
    EXPECT_EQ(r.sound.opens(), 1) << "opened again as if it had stalled";
  }
  // Eight hours asleep between two steps: one step makes at most a ring's worth of silence
  // (and what its own wait of a frame adds).
  for (bool loopback : {true, false}) {
    SCOPED_TRACE(loopback ? "loopback idle" : "no device");
    Rig r;
    if (loopback) {
      r.sound.endpoint("spk").delivers = false;
    } else {
      r.sound.endpoint("mic").present = false;
      r.sound.endpoint("usb").present = false;
    }
    r.start(loopback ? Playing : device("usb"));
    r.run(1000);
    const uint64_t before = r.capture.ring.blocksWritten();
    r.clock.now += 8 * 3600 * 1000;
    captureStep(r.capture, r.sound, r.clock);
    EXPECT_LE(r.capture.ring.blocksWritten() - before, uint64_t(RingSlotCount + CaptureWaitMillis * 256 / 1000 + 2));
    r.run(1000);
    EXPECT_NEAR(double(r.capture.ring.blocksWritten() - before), RingSlotCount + 256.0, 16.0);
  }
}

// With no stream (or a loopback with nothing playing) the ring still advances at 65 536 Hz,
// 256 blocks a second, all silent, so the long silence that starts the board's clock is
// counted as with a silent microphone: a block's worth early or late, never a drift.
TEST(SourceCapture, SilenceComesByTheClockWhenNothingIsDelivered) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> script;
    SoundSource chosen;
  };
  const Case cases[] = {
      {"loopback while nothing plays", [](Rig& r) { r.sound.endpoint("spk").delivers = false; }, Playing},
      {"no device at all",
       [](Rig& r) {
         r.sound.endpoint("mic").present = false;
         r.sound.endpoint("usb").present = false;
       },
       device("usb")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    c.script(r);
    r.start(c.chosen);
    r.run(1000);
    for (uint32_t ms : {1000u, 3333u, 10000u}) {
      const uint64_t before = r.capture.ring.blocksWritten();
      const uint32_t from = r.clock.now;
      r.run(ms);
      const double want = double(r.clock.now - from) * CaptureSampleRate / 1000.0 / BlockSamples;
      EXPECT_NEAR(double(r.capture.ring.blocksWritten() - before), want, 1.0) << ms << " ms";
    }
    std::vector<float> newest(RingSlotCount * BlockSamples, 1.0f);
    ASSERT_TRUE(r.capture.ring.copyNewest(newest));
    for (float v : newest) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(r.state(), c.chosen.kind == SourceKind::Playing ? SourceState::Listening : SourceState::Lost);
  }
}

// A long digital silence of what is playing pauses the stream (the output may then sleep)
// while the ring keeps getting silence by the clock; something playing restarts it within
// one wait. A microphone, a named device or a loopback that cannot pause goes on as before.
TEST(SourceCapture, IdlesInALongDigitalSilenceOfWhatIsPlaying) {
  struct Case {
    const char* name;
    SoundSource chosen;
    const char* endpoint;
    bool pausable;
    bool pauses;
  };
  const Case cases[] = {
      {"what is playing", Playing, "spk", true, true},
      {"what is playing, a loopback that cannot pause", Playing, "spk", false, false},
      {"the default input", DefaultInput, "mic", true, false},
      {"a named device", device("usb"), "usb", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.sound.pausable = c.pausable;
    for (const char* id : {"mic", "usb", "spk"}) r.sound.endpoint(id).level = 0.0f;
    int sounds = 0;
    r.capture.soundAfterSilence = [&sounds] { ++sounds; };
    r.start(c.chosen);
    r.run(CaptureIdleMillis - 300);
    EXPECT_FALSE(r.sound.paused()) << "not before ten seconds";
    r.run(600);
    EXPECT_EQ(r.sound.paused(), c.pauses);

    const uint64_t before = r.capture.ring.blocksWritten();
    const uint32_t from = r.clock.now;
    r.run(10000);
    const double want = double(r.clock.now - from) * CaptureSampleRate / 1000.0 / BlockSamples;
    EXPECT_NEAR(double(r.capture.ring.blocksWritten() - before), want, 1.0);
    EXPECT_EQ(r.sound.paused(), c.pauses) << "stays paused while nothing plays";
    EXPECT_EQ(r.heard(), 0.0f);
    EXPECT_EQ(sounds, 0);

    // Something plays: one step (one wait at most) restarts the stream, and its sound
    // reaches the ring and the callback at once.
    const int opens = r.sound.opens();
    r.sound.endpoint(c.endpoint).level = 0.25f;
    r.sound.playbackStarted();
    const uint32_t start = r.clock.now;
    captureStep(r.capture, r.sound, r.clock);
    EXPECT_FALSE(r.sound.paused());
    EXPECT_LE(r.clock.now - start, CaptureWaitMillis);
    r.runUntil([&] { return r.heard() > 0.2f; }, 100);
    EXPECT_NEAR(r.heard(), 0.25f, 0.01f);
    EXPECT_EQ(sounds, 1);
    EXPECT_EQ(r.sound.opens(), opens) << "the same stream goes on";
    EXPECT_EQ(r.state(), SourceState::Listening);
    EXPECT_FALSE(r.sound.misuse());
  }
}

// A paused stream whose device goes is lost like an open one, and one that comes back
// after a default change starts unpaused.
TEST(SourceCapture, APausedStreamFollowsItsOutput) {
  Rig r;
  r.sound.endpoint("spk").level = 0.0f;
  r.sound.add(FakeEndpoint{"hdmi", "HDMI", false, true, {48000, 2, 16, false}, 0.0f});
  r.start(Playing);
  r.run(CaptureIdleMillis + 500);
  ASSERT_TRUE(r.sound.paused());
  r.sound.setDefaultOutput("hdmi");
  r.runUntil([&] { return r.sound.openId() == "hdmi"; }, 1000);
  EXPECT_EQ(r.sound.openId(), "hdmi");
  EXPECT_FALSE(r.sound.paused());
  r.run(CaptureIdleMillis + 500);
  ASSERT_TRUE(r.sound.paused());
  r.sound.setPresent("hdmi", false);
  r.run(100);
  EXPECT_NE(r.sound.openId(), "hdmi");
  EXPECT_FALSE(r.sound.misuse());
}

// What the device delivers reaches the ring at its level whatever the format and layout
// (the fake's surround devices carry the level in their front pair).
TEST(SourceCapture, TakesTheFormatsDevicesDeliver) {
  const SoundFormat formats[] = {
      {44100, 1, 16, false}, {48000, 2, 16, false}, {96000, 6, 24, false},
      {48000, 8, 32, false}, {192000, 2, 32, true}, {8000, 1, 32, true},
      {48000, 6, 32, true, 0x3F}, {48000, 8, 32, true, 0x63F},
  };
  for (const SoundFormat& f : formats) {
    SCOPED_TRACE(std::to_string(f.samplesPerSecond) + " Hz, " + std::to_string(f.channels) + " ch, " +
                 std::to_string(f.bitsPerSample) + (f.isFloat ? " float" : " int") + ", mask " +
                 std::to_string(f.channelMask));
    Rig r;
    r.sound.endpoint("usb").format = f;
    r.start(device("usb"));
    r.run(300);
    EXPECT_EQ(r.state(), SourceState::Listening);
    EXPECT_NEAR(r.heard(), 0.20f, 0.005f);
  }
}

// ---------------------------------------------------------------- the worker and its end

// The ports and capture record of a worker on a real thread, with a clock that does not log.
struct ThreadedRig {
  CallLog log;
  FakeSoundInput sound{log};
  fakes::FakeShell shell{log};
  fakes::FakeClock clock{log};
  CaptureContext capture;
  std::atomic<bool> running{true};

  ThreadedRig() { clock.logSleeps = false; }
  std::future<bool> startWorker() {
    return std::async(std::launch::async, [this] { return runCapture(capture, sound, clock, running); });
  }
};

TEST(RunCapture, EndsPromptlyWhenRunningIsClearedEvenWithTheDeviceGone) {
  for (bool deviceGone : {false, true}) {
    SCOPED_TRACE(deviceGone ? "device gone" : "device delivering");
    ThreadedRig rig;
    auto& [log, sound, shell, clock, capture, running] = rig;
    ASSERT_EQ(prepareCapture(capture, sound, DefaultInput), CaptureStart::Ready);
    auto worker = rig.startWorker();
    while (capture.ring.blocksWritten() < 10 && worker.wait_for(1ms) != std::future_status::ready) {
    }
    if (deviceGone) sound.setPresent("mic", false);
    std::this_thread::sleep_for(20ms);
    running = false;
    ASSERT_EQ(worker.wait_for(2s), std::future_status::ready) << "the capture loop did not end";
    EXPECT_TRUE(worker.get()) << "a run that ends normally";
    EXPECT_FALSE(sound.isOpen());
    releaseCapture(capture, sound);
    EXPECT_FALSE(sound.misuse());
  }
}

TEST(ReleaseCapture, StopsARunningWorkerFirstAndReleasesOnce) {
  ThreadedRig rig;
  auto& [log, sound, shell, clock, capture, running] = rig;
  ASSERT_EQ(prepareCapture(capture, sound, DefaultInput), CaptureStart::Ready);
  auto worker = rig.startWorker();
  while (!sound.isOpen()) std::this_thread::sleep_for(1ms);
  releaseCapture(capture, sound);
  EXPECT_EQ(worker.wait_for(2s), std::future_status::ready);
  EXPECT_TRUE(worker.get()) << "a run that ends normally";
  EXPECT_TRUE(running);
  EXPECT_EQ(capture.state, nullptr);
  EXPECT_FALSE(sound.isOpen());
  releaseCapture(capture, sound);
  EXPECT_EQ(capture.captureReleaseCount, 2);
  EXPECT_FALSE(sound.misuse());
  // A worker arriving after the release records nothing.
  EXPECT_FALSE(runCapture(capture, sound, clock, running));
}

TEST(ConvertSamples, SignedLittleEndianWithoutScaling) {
  std::array<uint8_t, CaptureBufferBytes> bytes{};
  const std::pair<std::array<uint8_t, 2>, float> cases[] = {
      {{0x00, 0x80}, -32768.0f}, {{0xFF, 0x7F}, 32767.0f}, {{0xFF, 0xFF}, -1.0f},
      {{0x01, 0x00}, 1.0f},      {{0x00, 0x01}, 256.0f},   {{0x00, 0x00}, 0.0f}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    bytes[2 * i] = cases[i].first[0];
    bytes[2 * i + 1] = cases[i].first[1];
  }
  std::array<float, BlockSamples> samples;
  samples.fill(99.0f);
  convertSamples(bytes, samples);
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(samples[i], cases[i].second) << i;
  EXPECT_EQ(samples[255], 0.0f);  // every sample is converted
}

}  // namespace
}  // namespace tonalis
