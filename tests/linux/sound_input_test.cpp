// The libpulse backend against a real PulseAudio server of its own (a null sink whose
// monitor hears what is played into it, and a null source standing in for a microphone).
#include "backend/linux/sound_input.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "audio/capture.h"
#include "audio/sound_converter.h"
#include "common/speakers.h"

namespace tonalis::lnx {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool run(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }

// What a command prints, without the last line break (pactl load-module: the module's index).
std::string output(const std::string& command) {
  std::string out;
  if (FILE* f = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, f)) out += buffer;
    ::pclose(f);
  }
  while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back()))) out.pop_back();
  return out;
}

double millisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Milliseconds until `done` holds, or nothing when it does not within `seconds`.
template <class Done>
std::optional<double> within(double seconds, Done done) {
  const auto start = Clock::now();
  while (!done()) {
    if (millisSince(start) > seconds * 1000) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return millisSince(start);
}

bool lists(LinuxSoundInput& input, const std::string& id) {
  const auto devices = input.listDevices();
  return std::any_of(devices.begin(), devices.end(), [&](const SoundDevice& d) { return d.id == id; });
}

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
    float peak = 0.0f;    // the loudest sample of the converter's mono (16-bit full scale 32768)
    uint32_t frames = 0;  // in the stream's own rate
    SoundResult result = SoundResult::Ok;  // the first failure of the stream, if any
  };
  // What the stream delivers within `seconds` (or until a sample louder than `enough`), mixed
  // and resampled by the converter as the capture does.
  static Heard listen(LinuxSoundInput& input, const SoundStreamInfo& info, double seconds, float enough = 65536) {
    Heard heard;
    StreamFormat format;
    if (!streamFormatFor(info.format, format)) {
      ADD_FAILURE() << "a format the converter cannot take";
      return heard;
    }
    SoundConverter converter;
    EXPECT_TRUE(converter.configure(format));
    struct Peak final : BlockSink {
      float peak = 0.0f;
      void onBlock(std::span<const float, BlockSamples> block) override {
        for (float v : block) peak = std::max(peak, std::abs(v));
      }
    } sink;
    const auto end = Clock::now() + std::chrono::milliseconds(int(seconds * 1000));
    while (Clock::now() < end && sink.peak <= enough) {
      input.waitPacket(10);
      for (;;) {
        SoundPacket packet;
        heard.result = input.nextPacket(packet);
        if (heard.result != SoundResult::Ok) {
          heard.peak = sink.peak;
          return heard;
        }
        if (packet.frames == 0) break;
        heard.frames += packet.frames;
        if (packet.data) converter.push(packet.data, packet.frames, sink);
        input.releasePacket(packet.frames);
      }
    }
    heard.peak = sink.peak;
    return heard;
  }

  fs::path dir_;
  pid_t server_ = -1;
};

TEST_F(PulseServer, ListsSourcesAndHearsWhatIsPlayingInTheOutputsOwnFormat) {
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
  ASSERT_EQ(input.open({SourceKind::Playing, ""}, info), SoundResult::Ok);
  EXPECT_EQ(info.format, (SoundFormat{48000, 2, 16, false, speaker::Stereo}))
      << "the output's monitor as the output has it, neither mixed nor resampled";
  EXPECT_TRUE(info.loopback);
  EXPECT_EQ(info.endpointName, "Monitor of Null Output");
  ASSERT_EQ(input.start(), SoundResult::Ok);
  // A monitor may deliver nothing at all while nothing plays (so the stream counts as a
  // loopback: the capture fills that time with silence by the clock).
  const Heard quiet = listen(input, info, 0.5);
  EXPECT_EQ(quiet.result, SoundResult::Ok);
  EXPECT_LT(quiet.peak, 100.0f) << "nothing plays yet";

  writeTone(dir_ / "tone.raw", 1000, 4.0);
  const pid_t player = ::fork();
  if (player == 0) {
    ::execlp("pacat", "pacat", "--playback", "--raw", "--format=s16le", "--rate=48000", "--channels=1",
             (dir_ / "tone.raw").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // A null output starts its monitor late (a second or two): listen until the tone shows.
  const Heard tone = listen(input, info, 3.5, 8000);
  ::kill(player, SIGTERM);
  ::waitpid(player, nullptr, 0);
  EXPECT_EQ(tone.result, SoundResult::Ok);
  EXPECT_GT(tone.peak, 8000.0f) << "the tone played into the output reaches the stream";
  input.close();
}

// A paused stream is corked on the server (which then stops converting the monitor for
// it), a stream starting to play is told at once and wakes a waiting capture thread, and
// the stream restarted hears it.
TEST_F(PulseServer, APausedStreamIsCorkedAndHearsOfPlaybackStarting) {
  LinuxSoundInput input;
  const auto corked = [] { return output("pactl list source-outputs | grep -o 'Corked: [a-z]*'"); };
  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::Playing, ""}, info), SoundResult::Ok);
  ASSERT_EQ(input.start(), SoundResult::Ok);
  listen(input, info, 0.3);
  EXPECT_EQ(corked(), "Corked: no");
  ASSERT_TRUE(input.setPaused(true));
  EXPECT_TRUE(within(2.0, [&] { return corked() == "Corked: yes"; })) << corked();
  listen(input, info, 0.3);  // what was on its way
  input.takeEvents();
  EXPECT_EQ(input.takeEvents() & SoundEventPlaybackStarted, 0u) << "nothing plays yet";

  writeTone(dir_ / "tone.raw", 1000, 4.0);
  const pid_t player = ::fork();
  if (player == 0) {
    ::execlp("pacat", "pacat", "--playback", "--raw", "--format=s16le", "--rate=48000", "--channels=1",
             (dir_ / "tone.raw").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // The waiting thread is woken by the news, long before its timeout.
  const auto waitFrom = Clock::now();
  uint32_t events = 0;
  while (millisSince(waitFrom) < 3000 && !(events & SoundEventPlaybackStarted)) {
    input.waitPacket(5000);
    events |= input.takeEvents();
  }
  EXPECT_TRUE(events & SoundEventPlaybackStarted);
  EXPECT_LT(millisSince(waitFrom), 3000.0);
  ASSERT_TRUE(input.setPaused(false));
  EXPECT_TRUE(within(2.0, [&] { return corked() == "Corked: no"; })) << corked();
  const Heard tone = listen(input, info, 3.0, 8000);
  ::kill(player, SIGTERM);
  ::waitpid(player, nullptr, 0);
  EXPECT_GT(tone.peak, 8000.0f) << "the restarted stream hears the tone";
  input.close();
  EXPECT_FALSE(input.setPaused(true)) << "no stream to pause";
}

// A 5.1 output in the order ALSA gives it (FL FR RL RR FC LFE): its monitor is recorded in
// the speaker bits' order with its layout (put in that order as the packets are copied out;
// the server does not remix), and stereo played into its front pair shows at
// the level it has on a stereo output once the converter has mixed it.
TEST_F(PulseServer, ASurroundMonitorKeepsItsChannelsAndLayout) {
  ASSERT_TRUE(run("pactl load-module module-null-sink sink_name=surround rate=48000 channels=6 "
                  "channel_map=front-left,front-right,rear-left,rear-right,front-center,lfe"));
  LinuxSoundInput input;
  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::Device, "surround.monitor"}, info), SoundResult::Ok);
  ASSERT_EQ(info.format, (SoundFormat{48000, 6, 16, false, speaker::Surround51}));
  ASSERT_EQ(input.start(), SoundResult::Ok);
  SoundConverter converter;
  ASSERT_TRUE(converter.configure({48000, 6, SampleType::Int16, info.format.channelMask}));

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
        EXPECT_EQ(input.nextPacket(packet), SoundResult::Ok);
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

// Outputs of several formats: the stream on each one's monitor comes in the monitor's own
// rate, channels and speakers (the server resamples and remixes nothing: its record stream
// has the source's rate and channel count), in the source's own samples where the converter
// reads them and as float otherwise; and a 1 kHz tone played into the output comes out of
// the converter at 1 kHz and at its level, which it would not if the stream were taken for
// another rate, sample format or channel order than it has.
TEST_F(PulseServer, EachSourceComesInItsOwnFormatAndItsToneAtItsPitchAndLevel) {
  struct Row {
    const char* sink;    // module-null-sink's arguments after the name
    SoundFormat format;  // what open() reports
    const char* stream;  // the source's channels and rate, as pactl shows them for a stream
    uint32_t channels;   // of the tone played (16000 in each), each channel by name
    const char* map;
    float level;  // of the tone in the converter's mono: the speakers' weights in the mix
  };
  const Row rows[] = {
      {"format=float32le rate=48000 channels=2", {48000, 2, 32, true, speaker::Stereo}, "2ch 48000Hz", 2,
       "front-left,front-right", 16000},
      {"format=s16le rate=44100 channels=1 channel_map=mono", {44100, 1, 16, false, speaker::Mono}, "1ch 44100Hz", 1,
       "mono", 16000},
      // 5.1 in ALSA's order: FC and LFE come last from the server and are put in place here;
      // the centre at -3 dB (in the rear's place it would count -9 dB).
      {"format=s32le rate=96000 channels=6 channel_map=front-left,front-right,rear-left,rear-right,front-center,lfe",
       {96000, 6, 32, false, speaker::Surround51}, "6ch 96000Hz", 1, "front-center", 11314},
      {"format=s24le rate=32000 channels=4 channel_map=front-left,front-right,rear-left,rear-right",
       {32000, 4, 24, false, speaker::Stereo | speaker::BackLeft | speaker::BackRight}, "4ch 32000Hz", 2,
       "rear-left,rear-right", 11314},
      // 24 bits at the bottom of 32, and 8-bit samples: neither read by the converter as they are.
      {"format=s24-32le rate=48000 channels=2", {48000, 2, 32, false, speaker::Stereo}, "2ch 48000Hz", 2,
       "front-left,front-right", 16000},
      {"format=u8 rate=8000 channels=1 channel_map=mono", {8000, 1, 32, true, speaker::Mono}, "1ch 8000Hz", 1, "mono",
       16000},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sink);
    const std::string name = "out" + std::to_string(++n);
    const std::string module = output("pactl load-module module-null-sink sink_name=" + name + " " + row.sink);
    ASSERT_FALSE(module.empty());
    LinuxSoundInput input;
    ASSERT_TRUE(within(3, [&] { return lists(input, name + ".monitor"); }));
    SoundStreamInfo info;
    ASSERT_EQ(input.open({SourceKind::Device, name + ".monitor"}, info), SoundResult::Ok);
    EXPECT_EQ(info.format, row.format);
    const std::string streams = output("pactl list source-outputs | grep -o '[0-9]*ch [0-9]*Hz'");
    EXPECT_NE(streams.find(row.stream), std::string::npos) << streams;
    ASSERT_EQ(input.start(), SoundResult::Ok);
    StreamFormat format;
    ASSERT_TRUE(streamFormatFor(info.format, format));
    SoundConverter converter;
    ASSERT_TRUE(converter.configure(format));

    // The converter's mono from the first loud sample on (a null output starts its monitor a
    // second or two late), a quarter of a second past the onset.
    struct Record final : BlockSink {
      std::vector<float> samples;
      void onBlock(std::span<const float, BlockSamples> block) override {
        for (float v : block) {
          if (!samples.empty() || std::abs(v) > 3000) samples.push_back(v);
        }
      }
    } sink;
    sink.samples.reserve(65536 * 4);
    writeTone(dir_ / "tone.raw", 1000, 4.0, row.channels);
    const pid_t player = ::fork();
    if (player == 0) {
      const std::string deviceArg = "--device=" + name;
      const std::string channelArg = "--channels=" + std::to_string(row.channels);
      const std::string mapArg = std::string("--channel-map=") + row.map;
      ::execlp("pacat", "pacat", "--playback", deviceArg.c_str(), "--raw", "--format=s16le", "--rate=48000",
               channelArg.c_str(), mapArg.c_str(), "--no-remix", (dir_ / "tone.raw").c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    constexpr size_t Skip = 4096, Span = 16384;  // past the onset; a quarter of a second
    for (auto end = Clock::now() + std::chrono::milliseconds(3500);
         Clock::now() < end && sink.samples.size() < Skip + Span;) {
      input.waitPacket(10);
      for (;;) {
        SoundPacket packet;
        ASSERT_EQ(input.nextPacket(packet), SoundResult::Ok);
        if (packet.frames == 0) break;
        if (packet.data) converter.push(packet.data, packet.frames, sink);
        input.releasePacket(packet.frames);
      }
    }
    ::kill(player, SIGTERM);
    ::waitpid(player, nullptr, 0);
    input.close();
    ASSERT_TRUE(run("pactl unload-module " + module));
    ASSERT_GE(sink.samples.size(), Skip + Span) << "the tone was not heard";
    float peak = 0.0f;
    int rises = 0;
    for (size_t i = Skip; i < Skip + Span; ++i) {
      peak = std::max(peak, std::abs(sink.samples[i]));
      if (sink.samples[i - 1] < 0 && sink.samples[i] >= 0) ++rises;
    }
    const double hz = rises * 65536.0 / Span;
    EXPECT_NEAR(hz, 1000.0, 12.0) << "the tone's pitch";
    EXPECT_NEAR(peak, row.level, row.level * 0.05f) << "the tone's level";
  }
}

TEST_F(PulseServer, AMissingDeviceIsNotFoundAndANamedOneOpens) {
  LinuxSoundInput input;
  SoundStreamInfo info;
  EXPECT_EQ(input.open({SourceKind::Device, "unplugged"}, info), SoundResult::NotFound);
  ASSERT_EQ(input.open({SourceKind::Device, "mic2"}, info), SoundResult::Ok);
  EXPECT_EQ(info.endpointName, "Mic-Two");
  EXPECT_FALSE(info.loopback);
  const Heard heard = listen(input, info, 0.5);
  EXPECT_EQ(heard.result, SoundResult::Ok);
  EXPECT_GT(heard.frames, 0u);
}

TEST_F(PulseServer, ACaptureThatFallsBehindKeepsOnlyTheNewestSound) {
  LinuxSoundInput input;
  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::Device, "mic2"}, info), SoundResult::Ok);
  ASSERT_EQ(input.start(), SoundResult::Ok);
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));  // nobody reads meanwhile
  uint32_t frames = 0;
  for (;;) {
    SoundPacket packet;
    ASSERT_EQ(input.nextPacket(packet), SoundResult::Ok);
    if (packet.frames == 0) break;
    frames += packet.frames;
    input.releasePacket(packet.frames);
  }
  const uint32_t rate = info.format.samplesPerSecond;
  EXPECT_LE(frames, rate * 2 + 16384) << "at most two seconds are kept, not all 3.5";
  EXPECT_GE(frames, rate * 3 / 2) << "what is kept is most of those two seconds";
}

TEST_F(PulseServer, DefaultChangesAndNewDevicesBecomeEvents) {
  LinuxSoundInput input;
  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::DefaultInput, ""}, info), SoundResult::Ok);
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

  // A source added and removed by someone else: the flag comes once the list has it, with
  // nobody asking the server meanwhile.
  const std::string module = output("pactl load-module module-null-source source_name=mic3");
  ASSERT_FALSE(module.empty());
  events = 0;
  for (auto end = Clock::now() + std::chrono::seconds(3); Clock::now() < end && !events;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    events |= input.takeEvents();
  }
  EXPECT_EQ(events & SoundEventDevicesChanged, SoundEventDevicesChanged);
  EXPECT_TRUE(lists(input, "mic3"));
  EXPECT_TRUE(input.available({SourceKind::Device, "mic3"}));
  ASSERT_TRUE(run("pactl unload-module " + module));
  EXPECT_TRUE(within(3, [&] { return !lists(input, "mic3"); })) << "the list follows a source that goes";
  EXPECT_FALSE(input.available({SourceKind::Device, "mic3"}));
  EXPECT_EQ(input.takeEvents() & SoundEventDevicesChanged, SoundEventDevicesChanged);
}

TEST_F(PulseServer, AServerThatGoesAwayInvalidatesTheStreamAndComesBack) {
  LinuxSoundInput input;
  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::Playing, ""}, info), SoundResult::Ok);
  stopServer();
  // The menu asks for the devices meanwhile: that must not pull the stream from under the
  // capture, which finds out by itself. The list empties as soon as the loss is seen.
  EXPECT_TRUE(within(1, [&] { return input.listDevices().empty(); }));
  EXPECT_FALSE(input.available({SourceKind::Playing, ""}));
  EXPECT_EQ(listen(input, info, 2.0).result, SoundResult::DeviceInvalidated);
  input.close();
  const auto before = Clock::now();
  EXPECT_NE(input.open({SourceKind::Playing, ""}, info), SoundResult::Ok);
  EXPECT_EQ(input.deviceCount(), 0u);
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(10)) << "no server must not hang the caller";

  // A server that comes back is found by the port itself: the list fills again before
  // anyone opens a stream.
  startServer();
  const auto refilled = within(10, [&] { return lists(input, "mic1") && input.available({SourceKind::Playing, ""}); });
  ASSERT_TRUE(refilled) << "the cache fills again without being asked";
  std::printf("[ figure ] the device list back %.0f ms after the server answers again\n", *refilled);
  ASSERT_EQ(input.open({SourceKind::Playing, ""}, info), SoundResult::Ok);
  EXPECT_EQ(listen(input, info, 0.3).result, SoundResult::Ok);
}

// The menu's questions while the server is stopped (it accepts connections and answers
// nothing), asked while the capture thread waits inside open(): once with a connection made
// before the server stopped, once with a port that could never finish connecting. Two
// threads making and dropping the connection used to abort inside libpulse here.
TEST_F(PulseServer, AStoppedServerNeitherHoldsUpTheMenuNorBreaksThePort) {
  LinuxSoundInput connected;
  ASSERT_TRUE(lists(connected, "mic1"));
  ASSERT_EQ(::kill(server_, SIGSTOP), 0);
  LinuxSoundInput neverConnected;
  EXPECT_EQ(neverConnected.deviceCount(), 0u);

  struct Row {
    const char* what;
    LinuxSoundInput& input;
  };
  for (Row row : {Row{"connected before the stop", connected}, Row{"never connected", neverConnected}}) {
    SCOPED_TRACE(row.what);
    std::atomic<bool> inside{true};
    SoundResult opened = SoundResult::Ok;
    std::thread capture([&] {
      SoundStreamInfo info;
      opened = row.input.open({SourceKind::DefaultInput, ""}, info);
      inside = false;
    });
    std::vector<double> menus;
    while (inside || menus.size() < 10) {
      const auto start = Clock::now();
      (void)row.input.listDevices();
      (void)row.input.available({SourceKind::DefaultInput, ""});
      (void)row.input.available({SourceKind::Playing, ""});
      (void)row.input.available({SourceKind::Device, "mic2"});
      (void)row.input.deviceCount();
      menus.push_back(millisSince(start));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    capture.join();
    EXPECT_NE(opened, SoundResult::Ok) << "a stopped server gives no stream";
    std::sort(menus.begin(), menus.end());
    std::printf("[ figure ] %s: the menu's calls with the server stopped, median %.3f ms, slowest %.3f ms of %zu\n",
                row.what, menus[menus.size() / 2], menus.back(), menus.size());
    EXPECT_LT(menus.back(), 100.0) << "the UI never waits on the server";
  }

  ASSERT_EQ(::kill(server_, SIGCONT), 0);
  for (Row row : {Row{"connected before the stop", connected}, Row{"never connected", neverConnected}}) {
    SCOPED_TRACE(row.what);
    EXPECT_TRUE(within(10, [&] { return lists(row.input, "mic1"); })) << "the devices are known again";
    SoundStreamInfo info;
    ASSERT_EQ(row.input.open({SourceKind::Device, "mic2"}, info), SoundResult::Ok);
    const Heard heard = listen(row.input, info, 0.5);
    EXPECT_EQ(heard.result, SoundResult::Ok);
    EXPECT_GT(heard.frames, 0u);
    row.input.close();
  }
}

// A chosen device that goes ends its stream (the server would otherwise move it to another
// source, and the program would record that one under the device's name); when it comes
// back it is known again and opens.
TEST_F(PulseServer, AChosenDeviceThatGoesEndsItsStreamAndOpensWhenItReturns) {
  LinuxSoundInput input;
  const std::string load = "pactl load-module module-null-source source_name=usbmic description=USB-Mic";
  std::string module = output(load);
  ASSERT_FALSE(module.empty());
  ASSERT_TRUE(within(3, [&] { return input.available({SourceKind::Device, "usbmic"}); }));
  SoundStreamInfo info;
  ASSERT_EQ(input.open({SourceKind::Device, "usbmic"}, info), SoundResult::Ok);
  EXPECT_EQ(info.endpointName, "USB-Mic");
  ASSERT_EQ(input.start(), SoundResult::Ok);
  ASSERT_EQ(listen(input, info, 0.3).result, SoundResult::Ok);

  // Timed from the request, pactl's own round trip included.
  const auto unloading = Clock::now();
  ASSERT_TRUE(run("pactl unload-module " + module));
  const Heard after = listen(input, info, 3.0);
  const double goneMillis = millisSince(unloading);
  EXPECT_EQ(after.result, SoundResult::DeviceInvalidated) << "the stream ended, not moved to mic1";
  std::printf("[ figure ] the stream reports its device gone %.1f ms after the unload was asked for\n", goneMillis);
  EXPECT_LT(goneMillis, 1000.0);
  input.close();
  EXPECT_TRUE(within(1, [&] { return !input.available({SourceKind::Device, "usbmic"}); }));
  EXPECT_EQ(input.open({SourceKind::Device, "usbmic"}, info), SoundResult::NotFound);

  const auto loading = Clock::now();
  module = output(load);
  ASSERT_FALSE(module.empty());
  ASSERT_TRUE(within(3, [&] { return input.available({SourceKind::Device, "usbmic"}); }))
      << "a device that returns is available again";
  const double backMillis = millisSince(loading);
  std::printf("[ figure ] available() says the device is back %.1f ms after the load was asked for\n", backMillis);
  EXPECT_LT(backMillis, 1000.0);
  ASSERT_EQ(input.open({SourceKind::Device, "usbmic"}, info), SoundResult::Ok);
  EXPECT_EQ(info.endpointName, "USB-Mic");
  const Heard heard = listen(input, info, 0.5);
  EXPECT_EQ(heard.result, SoundResult::Ok);
  EXPECT_GT(heard.frames, 0u);
}

// The default input and what is playing follow the server's defaults: their stream stays
// alive when the device under it goes (the server moves it; the capture reopens on the
// default-changed flag).
TEST_F(PulseServer, TheDefaultsKeepTheirStreamWhenTheirDeviceGoes) {
  struct Row {
    SourceKind kind;
    const char* load;
    const char* makeDefault;
  };
  const Row rows[] = {
      {SourceKind::DefaultInput, "pactl load-module module-null-source source_name=usbmic",
       "pactl set-default-source usbmic"},
      {SourceKind::Playing, "pactl load-module module-null-sink sink_name=usbout", "pactl set-default-sink usbout"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.load);
    LinuxSoundInput input;
    const std::string module = output(row.load);
    ASSERT_FALSE(module.empty());
    ASSERT_TRUE(run(row.makeDefault));
    SoundStreamInfo info;
    ASSERT_EQ(input.open({row.kind, ""}, info), SoundResult::Ok);
    ASSERT_EQ(input.start(), SoundResult::Ok);
    ASSERT_EQ(listen(input, info, 0.3).result, SoundResult::Ok);
    input.takeEvents();
    ASSERT_TRUE(run("pactl unload-module " + module));
    EXPECT_EQ(listen(input, info, 1.0).result, SoundResult::Ok) << "moved with the default, not ended";
    const uint32_t moved = row.kind == SourceKind::DefaultInput ? SoundEventDefaultInputChanged
                                                                : SoundEventDefaultOutputChanged;
    EXPECT_EQ(input.takeEvents() & moved, moved);
    input.close();
  }
}

}  // namespace
}  // namespace tonalis::lnx
