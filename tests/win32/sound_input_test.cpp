// Mix formats as the audio engine hands them out, read into the port's format: sample type,
// and the speaker layout the converter mixes by. And a paused stream, on a scripted capture
// client: zeros taken a look at a time, sound noticed and its packet handed out first, a
// device lost meanwhile told.
#include <gtest/gtest.h>

#include <audioclient.h>

#include <atomic>
#include <cstring>
#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "backend/win32/sound_input.h"

namespace tonalis::win32 {
namespace {

const GUID FloatSubtype = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID PcmSubtype = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID OtherSubtype = {0x00000002, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

WAVEFORMATEXTENSIBLE plain(WORD tag, WORD channels, DWORD rate, WORD bits) {
  WAVEFORMATEXTENSIBLE x;
  std::memset(&x, 0, sizeof x);
  x.Format.wFormatTag = tag;
  x.Format.nChannels = channels;
  x.Format.nSamplesPerSec = rate;
  x.Format.wBitsPerSample = bits;
  x.Format.nBlockAlign = WORD(channels * bits / 8);
  x.Format.nAvgBytesPerSec = rate * x.Format.nBlockAlign;
  return x;
}

WAVEFORMATEXTENSIBLE extensible(WORD channels, DWORD rate, WORD bits, const GUID& subtype, DWORD mask) {
  WAVEFORMATEXTENSIBLE x = plain(WAVE_FORMAT_EXTENSIBLE, channels, rate, bits);
  x.Format.cbSize = 22;
  x.Samples.wValidBitsPerSample = bits;
  x.dwChannelMask = mask;
  x.SubFormat = subtype;
  return x;
}

TEST(Win32SoundFormat, ReadsTypeAndSpeakerLayoutOfMixFormats) {
  struct Case {
    const char* name;
    WAVEFORMATEXTENSIBLE wf;
    SoundFormat expected;
  };
  const Case cases[] = {
      {"stereo float (the usual shared mix format)", extensible(2, 48000, 32, FloatSubtype, 0x3),
       {48000, 2, 32, true, 0x3}},
      {"5.1 float over HDMI", extensible(6, 48000, 32, FloatSubtype, 0x3F), {48000, 6, 32, true, 0x3F}},
      {"7.1 surround PCM", extensible(8, 96000, 24, PcmSubtype, 0x63F), {96000, 8, 24, false, 0x63F}},
      {"5.1 with side speakers", extensible(6, 44100, 16, PcmSubtype, 0x60F), {44100, 6, 16, false, 0x60F}},
      {"a driver that names no speakers", extensible(6, 48000, 32, FloatSubtype, 0), {48000, 6, 32, true, 0}},
      {"plain PCM stereo", plain(WAVE_FORMAT_PCM, 2, 44100, 16), {44100, 2, 16, false, 0x3}},
      {"plain float mono", plain(WAVE_FORMAT_IEEE_FLOAT, 1, 16000, 32), {16000, 1, 32, true, 0x4}},
      {"plain PCM with six channels", plain(WAVE_FORMAT_PCM, 6, 48000, 16), {48000, 6, 16, false, 0x3F}},
      {"a sub-format the program cannot take", extensible(2, 48000, 16, OtherSubtype, 0x3),
       {48000, 2, 0, false, 0x3}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(soundFormatOf(&c.wf.Format), c.expected) << c.name;
  }
}


// A capture client that hands out scripted packets (16-bit stereo) and signals the stream's
// event for each, as the audio engine does.
class ScriptedCapture final : public IAudioCaptureClient {
 public:
  explicit ScriptedCapture(HANDLE event) : event_(event) {}

  void deliver(std::vector<uint8_t> bytes) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(bytes));
      ++delivered;
    }
    SetEvent(event_);
  }
  void zeros() { deliver(std::vector<uint8_t>(PacketBytes, 0)); }
  // A packet whose every byte is `mark` (a sample other than zero).
  void sound(uint8_t mark) { deliver(std::vector<uint8_t>(PacketBytes, mark)); }
  size_t waiting() {
    std::lock_guard lock(mutex_);
    return queue_.size();
  }

  static constexpr uint32_t FrameBytes = 4;
  static constexpr uint32_t PacketFrames = 480;  // 10 ms at 48 kHz
  static constexpr size_t PacketBytes = size_t(PacketFrames) * FrameBytes;

  std::atomic<int> delivered{0};
  std::atomic<int> emptyAsks{0};  // GetNextPacketSize found nothing: once per look, or per packet
  std::atomic<bool> invalidated{false};

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
    if (invalidated) return AUDCLNT_E_DEVICE_INVALIDATED;
    std::lock_guard lock(mutex_);
    *frames = queue_.empty() ? 0 : PacketFrames;
    if (queue_.empty()) ++emptyAsks;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64*, UINT64*) override {
    if (invalidated) return AUDCLNT_E_DEVICE_INVALIDATED;
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return AUDCLNT_S_BUFFER_EMPTY;
    out_ = queue_.front();
    queue_.pop_front();
    *data = out_.data();
    *frames = PacketFrames;
    *flags = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32) override {
    std::fill(out_.begin(), out_.end(), 0xEE);  // the buffer is the device's again
    return invalidated ? AUDCLNT_E_DEVICE_INVALIDATED : S_OK;
  }

 private:
  HANDLE event_;
  std::mutex mutex_;
  std::deque<std::vector<uint8_t>> queue_;
  std::vector<uint8_t> out_;
};

// A stream of what is playing on the scripted client; released (the handle closed) at the end.
struct PausedStreamRig {
  PausedStreamRig() {
    stream.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    device = std::make_unique<ScriptedCapture>(stream.event);
    stream.capture = device.get();
    stream.frameBytes = ScriptedCapture::FrameBytes;
    stream.pausable = true;
  }
  ~PausedStreamRig() { stream.release(); }

  // The marks of the packets next() hands out until none is waiting (0 for zeros).
  std::vector<uint8_t> drain() {
    std::vector<uint8_t> marks;
    for (;;) {
      SoundPacket packet;
      EXPECT_EQ(stream.next(packet), SoundResult::Ok);
      if (packet.frames == 0) return marks;
      EXPECT_EQ(packet.frames, ScriptedCapture::PacketFrames);
      const uint8_t mark = packet.data[0];
      for (size_t i = 0; i < ScriptedCapture::PacketBytes; ++i) {
        if (packet.data[i] != mark) {
          ADD_FAILURE() << "packet " << marks.size() << " mixes bytes " << int(mark) << " and " << int(packet.data[i]);
          break;
        }
      }
      marks.push_back(mark);
      EXPECT_EQ(stream.giveBack(packet.frames), SoundResult::Ok);
    }
  }

  Win32SoundInput::Stream stream;
  std::unique_ptr<ScriptedCapture> device;
};

TEST(Win32PausedStream, OnlyWhatIsPlayingPauses) {
  PausedStreamRig playing;
  EXPECT_TRUE(playing.stream.pause(true));
  EXPECT_TRUE(playing.stream.pause(false));
  PausedStreamRig microphone;
  microphone.stream.pausable = false;
  EXPECT_FALSE(microphone.stream.pause(true));
  Win32SoundInput::Stream closed;
  closed.pausable = true;
  EXPECT_FALSE(closed.pause(true));
}

// Wine's loopback and monitors deliver zeros at the device period while nothing plays.
TEST(Win32PausedStream, TakesFlowingZerosALookAtATimeAndHandsOutTheSoundThatEndsThePause) {
  PausedStreamRig rig;
  ASSERT_TRUE(rig.stream.pause(true));
  std::atomic<bool> flowing{true};
  std::thread engine([&] {
    while (flowing) {
      rig.device->zeros();
      Sleep(10);
    }
  });
  for (int i = 0; i < 4; ++i) {
    bool soundCame = true;
    EXPECT_EQ(rig.stream.wait(100, soundCame), SoundResult::Timeout) << "wait " << i;
    EXPECT_FALSE(soundCame) << "wait " << i;
    EXPECT_TRUE(rig.drain().empty()) << "nothing is handed out while paused (wait " << i << ")";
  }
  flowing = false;
  engine.join();
  const int looks = rig.device->emptyAsks;
  EXPECT_LE(looks * 2, rig.device->delivered.load())
      << looks << " looks for " << rig.device->delivered << " packets of zeros: woken per packet";
  EXPECT_LE(rig.device->waiting(), 8u) << "the zeros pile up on the device";

  // Sound, in the middle of a look's packets: noticed, and nothing of it lost or reordered.
  rig.device->zeros();
  rig.device->sound(0x11);
  rig.device->zeros();
  rig.device->sound(0x22);
  bool soundCame = false;
  EXPECT_EQ(rig.stream.wait(1000, soundCame), SoundResult::Ok);
  EXPECT_TRUE(soundCame);
  EXPECT_TRUE(rig.drain().empty()) << "handed out before the pause ended";
  EXPECT_EQ(rig.stream.wait(1000, soundCame), SoundResult::Ok) << "a second wait before the pause ends";
  EXPECT_TRUE(soundCame);
  ASSERT_TRUE(rig.stream.pause(false));
  EXPECT_EQ(rig.stream.wait(1000, soundCame), SoundResult::Ok) << "the kept packet is waiting";
  EXPECT_FALSE(soundCame);
  EXPECT_EQ(rig.drain(), (std::vector<uint8_t>{0x11, 0, 0x22}));

  // A new pause starts from nothing kept.
  ASSERT_TRUE(rig.stream.pause(true));
  ASSERT_TRUE(rig.stream.pause(false));
  EXPECT_TRUE(rig.drain().empty());
}

// A loopback on Windows delivers nothing while nothing plays: the wait rests on the event and
// ends when a packet with sound comes.
TEST(Win32PausedStream, ARestingLoopbackWakesForTheFirstSound) {
  PausedStreamRig rig;
  ASSERT_TRUE(rig.stream.pause(true));
  bool soundCame = true;
  EXPECT_EQ(rig.stream.wait(50, soundCame), SoundResult::Timeout);
  EXPECT_FALSE(soundCame);
  std::thread player([&] {
    Sleep(30);
    rig.device->sound(0x33);
  });
  // Nothing else would end this wait before its deadline with anything but Timeout.
  EXPECT_EQ(rig.stream.wait(10000, soundCame), SoundResult::Ok);
  player.join();
  EXPECT_TRUE(soundCame);
  ASSERT_TRUE(rig.stream.pause(false));
  EXPECT_EQ(rig.drain(), (std::vector<uint8_t>{0x33}));
}

TEST(Win32PausedStream, ADeviceLostWhilePausedIsTold) {
  struct Case {
    const char* name;
    bool zerosFlowing;
  };
  for (const Case c : {Case{"zeros flowing", true}, Case{"nothing playing", false}}) {
    PausedStreamRig rig;
    ASSERT_TRUE(rig.stream.pause(true)) << c.name;
    bool soundCame = false;
    if (c.zerosFlowing) rig.device->zeros();
    rig.stream.wait(20, soundCame);
    rig.device->invalidated = true;
    if (c.zerosFlowing) rig.device->zeros();
    rig.stream.wait(60, soundCame);
    rig.stream.wait(60, soundCame);
    EXPECT_FALSE(soundCame) << c.name;
    SoundPacket packet;
    EXPECT_EQ(rig.stream.next(packet), SoundResult::DeviceInvalidated) << c.name;
    EXPECT_EQ(packet.frames, 0u) << c.name;
  }
}

}  // namespace
}  // namespace tonalis::win32
