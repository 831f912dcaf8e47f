// The libpulse backend against a real PulseAudio server of its own (a null sink whose
// monitor hears what is played into it, and a null source standing in for a microphone).
#include "platform/linux/sound_input.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "audio/sound_converter.h"
#include "common/speakers.h"

namespace tonalis::lnx {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool run(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }

// Raw 48 kHz 16-bit samples of a sine, the same in each channel, for pacat.
void writeTone(const fs::path& path, double hz, double seconds, uint32_t channels = 1) {
  const uint32_t rate = 48000, frames = uint32_t(rate * seconds);
  std::vector<int16_t> samples(size_t(frames) * channels);
  for (uint32_t i = 0; i < frames * channels; ++i) {
    samples[i] = int16_t(16000 * std::sin(2 * M_PI * hz * (i / channels) / rate));
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(samples.data()),
                                              std::streamsize(samples.size() * sizeof(int16_t)));
}

class PulseServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!run("command -v pulseaudio && command -v pactl && command -v pacat")) {
      GTEST_SKIP() << "no PulseAudio server to test against";
    }
    dir_ = fs::temp_directory_path() / ("tonalis-pulse-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms::owner_all);
    std::ofstream(dir_ / "client.conf") << "autospawn = no\n";
    ::setenv("PULSE_RUNTIME_PATH", dir_.c_str(), 1);
    ::setenv("PULSE_STATE_PATH", dir_.c_str(), 1);
    ::setenv("PULSE_CLIENTCONFIG", (dir_ / "client.conf").c_str(), 1);
    ::setenv("PULSE_SERVER", ("unix:" + (dir_ / "native").string()).c_str(), 1);
    startServer();
  }

  void TearDown() override {
    stopServer();
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  void startServer() {
    server_ = ::fork();
    if (server_ == 0) {
      const std::string socket = "--load=module-native-protocol-unix socket=" + (dir_ / "native").string() +
                                 " auth-anonymous=1";
      ::execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
               "--system=no", "--disallow-exit", "--log-target=stderr", "--log-level=0", socket.c_str(),
               "--load=module-null-sink sink_name=speakers rate=48000",
               "--load=module-null-source source_name=mic1 description=Mic-One",
               "--load=module-null-source source_name=mic2 description=Mic-Two", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto end = Clock::now() + std::chrono::seconds(15);
    while (!run("pactl info")) {
      ASSERT_LT(Clock::now(), end) << "the sound server did not start";
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(run("pactl set-default-sink speakers && pactl set-default-source mic1"));
  }

  void stopServer() {
    if (server_ <= 0) return;
    ::kill(server_, SIGKILL);
    ::waitpid(server_, nullptr, 0);
    server_ = -1;
  }

  struct Heard {
    uint32_t peak = 0;    // the loudest sample
    uint32_t frames = 0;
    uint32_t result = SoundOk;  // the first failure of the stream, if any
  };
  // What the stream delivers within `seconds` (or until a sample louder than `enough`).
  static Heard listen(LinuxSoundInput& input, double seconds, uint32_t enough = 65536) {
    Heard heard;
    const auto end = Clock::now() + std::chrono::milliseconds(int(seconds * 1000));
    while (Clock::now() < end && heard.peak <= enough) {
      input.waitPacket(10);
      for (;;) {
        SoundPacket packet;
        heard.result = input.nextPacket(packet);
        if (heard.result != SoundOk) return heard;
        if (packet.frames == 0) break;
        heard.frames += packet.frames;
        for (uint32_t i = 0; packet.data && i < packet.frames; ++i) {
          const int16_t v = int16_t(packet.data[2 * i] | (packet.data[2 * i + 1] << 8));
          heard.peak = std::max(heard.peak, uint32_t(std::abs(int(v))));
        }
        input.releasePacket(packet.frames);
      }
    }
    return heard;
  }

  fs::path dir_;
  pid_t server_ = -1;
};

TEST_F(PulseServer, ListsSourcesAndHearsWhatIsPlayingAtTheProgramsRate) {
  LinuxSoundInput input;
  const auto devices = input.listDevices();
  auto has = [&](const std::string& id, const std::string& name) {
    return std::any_of(devices.begin(), devices.end(), [&](const SoundDevice& d) { return d.id == id && d.name == name; });
  };
  EXPECT_TRUE(has("mic1", "Mic-One"));
  EXPECT_TRUE(has("mic2", "Mic-Two"));
  EXPECT_TRUE(has("speakers.monitor", "Monitor of Null Output"));
  EXPECT_EQ(input.deviceCount(), devices.size());
  EXPECT_TRUE(input.available({SourceKind::DefaultInput, ""}));
  EXPECT_TRUE(input.available({SourceKind::Playing, ""}));
  EXPECT_TRUE(input.available({SourceKind::Device, "mic2"}));
  EXPECT_FALSE(input.available({SourceKind::Device, "unplugged"}));

  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::Playing, ""}, info), SoundOk);
  EXPECT_EQ(info.format, (SoundFormat{65536, 1, 16, false, speaker::Mono}))
      << "a stereo output's monitor comes mixed by the server";
  EXPECT_TRUE(info.loopback);
  EXPECT_EQ(info.endpointName, "Monitor of Null Output");
  ASSERT_EQ(input.start(), SoundOk);
  // A monitor may deliver nothing at all while nothing plays (so the stream counts as a
  // loopback: the capture fills that time with silence by the clock).
  const Heard quiet = listen(input, 0.5);
  EXPECT_EQ(quiet.result, SoundOk);
  EXPECT_LT(quiet.peak, 100u) << "nothing plays yet";

  writeTone(dir_ / "tone.raw", 1000, 4.0);
  const pid_t player = ::fork();
  if (player == 0) {
    ::execlp("pacat", "pacat", "--playback", "--raw", "--format=s16le", "--rate=48000", "--channels=1",
             (dir_ / "tone.raw").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // A null output starts its monitor late (a second or two): listen until the tone shows.
  const Heard tone = listen(input, 3.5, 8000);
  ::kill(player, SIGTERM);
  ::waitpid(player, nullptr, 0);
  EXPECT_EQ(tone.result, SoundOk);
  EXPECT_GT(tone.peak, 8000u) << "the tone played into the output reaches the stream";
  input.close();
}

// A 5.1 output in the order ALSA gives it (FL FR RL RR FC LFE): its monitor is recorded in
// the speaker bits' order with its layout, and stereo played into its front pair shows at
// the level it has on a stereo output once the converter has mixed it.
TEST_F(PulseServer, ASurroundMonitorKeepsItsChannelsAndLayout) {
  ASSERT_TRUE(run("pactl load-module module-null-sink sink_name=surround rate=48000 channels=6 "
                  "channel_map=front-left,front-right,rear-left,rear-right,front-center,lfe"));
  LinuxSoundInput input;
  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::Device, "surround.monitor"}, info), SoundOk);
  ASSERT_EQ(info.format, (SoundFormat{65536, 6, 16, false, speaker::Surround51}));
  ASSERT_EQ(input.start(), SoundOk);
  SoundConverter converter;
  ASSERT_TRUE(converter.configure({65536, 6, SampleType::Int16, info.format.channelMask}));

  // Plays a tone of 16000 into the named channels (by index: no remixing) and returns the
  // loudest sample of each of the stream's channels and of the converter's mono.
  struct Peaks {
    std::array<int, 6> channel{};
    float mono = 0.0f;
  };
  auto play = [&](uint32_t channels, const char* map) {
    struct MonoPeak final : BlockSink {
      float peak = 0.0f;
      void onBlock(std::span<const float, BlockSamples> block) override {
        for (float v : block) peak = std::max(peak, std::abs(v));
      }
    } sink;
    writeTone(dir_ / "tone.raw", 1000, 4.0, channels);
    const pid_t player = ::fork();
    if (player == 0) {
      const std::string channelArg = "--channels=" + std::to_string(channels);
      const std::string mapArg = std::string("--channel-map=") + map;
      ::execlp("pacat", "pacat", "--playback", "--device=surround", "--raw", "--format=s16le", "--rate=48000",
               channelArg.c_str(), mapArg.c_str(), "--no-remix", (dir_ / "tone.raw").c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    Peaks peaks;
    // A null output starts its monitor late: listen until the tone has shown for a while.
    uint32_t loudFrames = 0;
    for (auto end = Clock::now() + std::chrono::milliseconds(3500); Clock::now() < end && loudFrames < 16384;) {
      input.waitPacket(10);
      for (;;) {
        SoundPacket packet;
        EXPECT_EQ(input.nextPacket(packet), SoundOk);
        if (packet.frames == 0) break;
        for (uint32_t i = 0; packet.data && i < packet.frames; ++i) {
          int loudest = 0;
          for (uint32_t c = 0; c < 6; ++c) {
            const uint8_t* s = packet.data + 2 * (6 * i + c);
            const int v = std::abs(int(int16_t(s[0] | (s[1] << 8))));
            peaks.channel[c] = std::max(peaks.channel[c], v);
            loudest = std::max(loudest, v);
          }
          if (loudest > 8000) ++loudFrames;
        }
        if (packet.data) converter.push(packet.data, packet.frames, sink);
        input.releasePacket(packet.frames);
      }
    }
    ::kill(player, SIGTERM);
    ::waitpid(player, nullptr, 0);
    peaks.mono = sink.peak;
    return peaks;
  };

  const Peaks stereo = play(2, "front-left,front-right");
  for (int c : {0, 1}) EXPECT_NEAR(stereo.channel[c], 16000, 800) << "front channel " << c;
  for (int c : {2, 3, 4, 5}) EXPECT_LT(stereo.channel[c], 100) << "channel " << c;
  EXPECT_NEAR(stereo.mono, 16000.0f, 800.0f) << "the level of the same tone on a stereo output";

  // The output's third channel is its rear left, the stream's fifth (after FC and LFE).
  converter.reset();
  const Peaks rear = play(3, "front-left,front-right,rear-left");
  // (The end of the stereo tone may still be in the output's front pair.)
  for (int c : {0, 1, 4}) EXPECT_GT(rear.channel[c], 12000) << "channel " << c;
  for (int c : {2, 3, 5}) EXPECT_LT(rear.channel[c], 100) << "channel " << c;
  input.close();
}

TEST_F(PulseServer, AMissingDeviceIsNotFoundAndANamedOneOpens) {
  LinuxSoundInput input;
  SoundStreamInfo info;
  EXPECT_EQ(input.open({SourceKind::Device, "unplugged"}, info), SoundNotFound);
  ASSERT_EQ(input.open({SourceKind::Device, "mic2"}, info), SoundOk);
  EXPECT_EQ(info.endpointName, "Mic-Two");
  EXPECT_FALSE(info.loopback);
  const Heard heard = listen(input, 0.5);
  EXPECT_EQ(heard.result, SoundOk);
  EXPECT_GT(heard.frames, 0u);
}

TEST_F(PulseServer, ACaptureThatFallsBehindKeepsOnlyTheNewestSound) {
  LinuxSoundInput input;
  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::Device, "mic2"}, info), SoundOk);
  ASSERT_EQ(input.start(), SoundOk);
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));  // nobody reads meanwhile
  uint32_t frames = 0;
  for (;;) {
    SoundPacket packet;
    ASSERT_EQ(input.nextPacket(packet), SoundOk);
    if (packet.frames == 0) break;
    frames += packet.frames;
    input.releasePacket(packet.frames);
  }
  EXPECT_LE(frames, 65536u * 2 + 16384) << "at most two seconds are kept, not all 3.5";
  EXPECT_GE(frames, 65536u * 3 / 2) << "what is kept is most of those two seconds";
}

TEST_F(PulseServer, DefaultChangesAndNewDevicesBecomeEvents) {
  LinuxSoundInput input;
  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::DefaultInput, ""}, info), SoundOk);
  EXPECT_EQ(info.endpointName, "Mic-One");
  input.takeEvents();
  ASSERT_TRUE(run("pactl set-default-source mic2"));
  uint32_t events = 0;
  for (auto end = Clock::now() + std::chrono::seconds(3); Clock::now() < end && !events;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    events |= input.takeEvents();
  }
  EXPECT_EQ(events & SoundEventDefaultInputChanged, SoundEventDefaultInputChanged);
  EXPECT_EQ(events & SoundEventDefaultOutputChanged, 0u);

  ASSERT_TRUE(run("pactl load-module module-null-source source_name=mic3"));
  events = 0;
  for (auto end = Clock::now() + std::chrono::seconds(3); Clock::now() < end && !events;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    events |= input.takeEvents();
  }
  EXPECT_EQ(events & SoundEventDevicesChanged, SoundEventDevicesChanged);
}

TEST_F(PulseServer, AServerThatGoesAwayInvalidatesTheStreamAndComesBack) {
  LinuxSoundInput input;
  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::Playing, ""}, info), SoundOk);
  stopServer();
  // The menu asks for the devices meanwhile: that must not pull the stream from under the
  // capture, which finds out by itself.
  EXPECT_TRUE(input.listDevices().empty());
  EXPECT_EQ(listen(input, 2.0).result, SoundDeviceInvalidated);
  input.close();
  const auto before = Clock::now();
  EXPECT_NE(input.open({SourceKind::Playing, ""}, info), SoundOk);
  EXPECT_EQ(input.deviceCount(), 0u);
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(10)) << "no server must not hang the caller";

  startServer();
  ASSERT_EQ(input.open({SourceKind::Playing, ""}, info), SoundOk);
  EXPECT_EQ(listen(input, 0.3).result, SoundOk);
}

}  // namespace
}  // namespace tonalis::lnx
