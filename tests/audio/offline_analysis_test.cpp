// The recording path of tonalis-render: WAV parsing and the frame iteration through the
// capture ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audio/offline_analysis.h"
#include "audio/wav_reader.h"

namespace tonalis {
namespace {

// A WAV image built field by field, so a test can break any one of them.
struct WavLayout {
  uint16_t tag = 1;
  uint16_t channels = 1;
  uint32_t rate = 65536;
  uint16_t blockAlign = 2;
  uint16_t bits = 16;
  uint32_t fmtSize = 16;
  std::vector<uint8_t> extraChunkBeforeData;  // a whole chunk, header included
  std::vector<int16_t> samples;
  int64_t dataSizeDelta = 0;  // added to the data chunk's stated size
  bool oddDataByte = false;
  std::vector<uint8_t> rawData;  // when not empty, the data chunk's bytes instead of samples
  uint16_t subTag = 1;           // an extensible chunk's sub-format
  uint32_t channelMask = 0;      // an extensible chunk's speaker positions
};

void put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(x & 0xFF);
  v.push_back(x >> 8);
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back((x >> (8 * i)) & 0xFF);
}
void putId(std::vector<uint8_t>& v, const char* id) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(id[i]));  // (insert trips a false -O3 warning in mingw)
}

std::vector<uint8_t> buildWav(const WavLayout& s) {
  std::vector<uint8_t> v;
  putId(v, "RIFF");
  put32(v, 0);  // patched below
  putId(v, "WAVE");
  putId(v, "fmt ");
  put32(v, s.fmtSize);
  put16(v, s.tag);
  put16(v, s.channels);
  put32(v, s.rate);
  put32(v, s.rate * s.blockAlign);
  put16(v, s.blockAlign);
  put16(v, s.bits);
  for (uint32_t i = 16; i < s.fmtSize; ++i) v.push_back(0);
  if (s.tag == 0xFFFE && s.fmtSize >= 40) {
    v[20 + 24] = uint8_t(s.subTag);  // sub-format GUID begins with the plain format tag
    for (int i = 0; i < 4; ++i) v[20 + 20 + i] = uint8_t(s.channelMask >> (8 * i));
  }
  v.insert(v.end(), s.extraChunkBeforeData.begin(), s.extraChunkBeforeData.end());
  putId(v, "data");
  const size_t payload = s.rawData.empty() ? s.samples.size() * 2 : s.rawData.size();
  const uint32_t bytes = static_cast<uint32_t>(payload + (s.oddDataByte ? 1 : 0));
  put32(v, static_cast<uint32_t>(bytes + s.dataSizeDelta));
  for (int16_t x : s.samples) {
    if (s.rawData.empty()) put16(v, static_cast<uint16_t>(x));
  }
  for (uint8_t x : s.rawData) v.push_back(x);
  if (s.oddDataByte) v.push_back(0x7F);
  const uint32_t riff = static_cast<uint32_t>(v.size() - 8);
  std::memcpy(v.data() + 4, &riff, 4);  // little-endian host assumed by the test only
  return v;
}

WavLayout withSamples(std::vector<int16_t> samples) {
  WavLayout s;
  s.samples = std::move(samples);
  return s;
}

// A file of `frames` frames in the given layout; data bytes count up from 0.
WavLayout withFormat(uint16_t tag, uint16_t channels, uint16_t bits, uint32_t rate, size_t frames) {
  WavLayout s;
  s.tag = tag;
  s.channels = channels;
  s.bits = bits;
  s.rate = rate;
  s.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  if (tag == 0xFFFE) {
    s.fmtSize = 40;
  }
  s.rawData.resize(frames * s.blockAlign);
  for (size_t i = 0; i < s.rawData.size(); ++i) s.rawData[i] = static_cast<uint8_t>(i);
  return s;
}

TEST(WavReader, ReadsMonoPcm16AndSkipsOtherChunks) {
  const std::vector<int16_t> samples = {0, 1, -1, 32767, -32768, 1234};
  WavLayout plain = withSamples(samples);
  WavLayout withList = withSamples(samples);
  withList.extraChunkBeforeData = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};  // odd size, padded
  WavLayout extensible = withSamples(samples);
  extensible.tag = 0xFFFE;
  extensible.fmtSize = 40;
  WavLayout odd = withSamples(samples);
  odd.oddDataByte = true;
  for (const WavLayout* s : {&plain, &withList, &extensible, &odd}) {
    const WavReadResult r = parseMonoPcm16Wav(buildWav(*s), 65536);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.samples, samples);
    EXPECT_EQ(r.sampleRate, 65536u);
  }
}

TEST(WavReader, RejectsWhatCaptureWouldNotRecord) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* errorPart;
  };
  const std::vector<int16_t> some(300, 5);
  auto wavWith = [&](auto change) {
    WavLayout s = withSamples(some);
    change(s);
    return buildWav(s);
  };
  std::vector<uint8_t> noData = wavWith([](WavLayout&) {});
  noData.resize(12 + 8 + 16);
  std::vector<uint8_t> onlyHeader = wavWith([](WavLayout&) {});
  onlyHeader.resize(12);
  std::vector<uint8_t> renamedFmt = wavWith([](WavLayout&) {});
  std::memcpy(renamedFmt.data() + 12, "junk", 4);
  const Case cases[] = {
      {"empty", {}, "RIFF"},
      {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'}, "RIFF"},
      {"44.1 kHz", wavWith([](WavLayout& s) { s.rate = 44100; }), "44100"},
      {"stereo", wavWith([](WavLayout& s) { s.channels = 2; s.blockAlign = 4; }), "mono"},
      {"8-bit", wavWith([](WavLayout& s) { s.bits = 8; s.blockAlign = 1; }), "16-bit"},
      {"float", wavWith([](WavLayout& s) { s.tag = 3; s.bits = 32; s.blockAlign = 4; }), "PCM"},
      {"short format chunk", wavWith([](WavLayout& s) { s.fmtSize = 14; }), "format"},
      {"data longer than the file", wavWith([](WavLayout& s) { s.dataSizeDelta = 2; }), "past the end"},
      {"huge chunk", wavWith([](WavLayout& s) {
         s.extraChunkBeforeData = {'b', 'i', 'g', ' ', 0xFF, 0xFF, 0xFF, 0xFF};
       }), "past the end"},
      {"no data chunk", noData, "no data"},
      {"header only", onlyHeader, "no format"},
      {"no format chunk", renamedFmt, "before the format"},
  };
  for (const Case& c : cases) {
    const WavReadResult r = parseMonoPcm16Wav(c.bytes, 65536);
    EXPECT_FALSE(r.ok) << c.name;
    EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << c.name << ": " << r.error;
  }
}

TEST(WavReader, ReadsEveryCommonFormatAsItIsStored) {
  struct Case {
    WavLayout layout;
    StreamFormat format;
  };
  const Case cases[] = {
      {withFormat(1, 1, 16, 65536, 300), {65536, 1, SampleType::Int16}},
      {withFormat(1, 2, 16, 44100, 300), {44100, 2, SampleType::Int16}},
      {withFormat(1, 2, 24, 48000, 300), {48000, 2, SampleType::Int24}},
      {withFormat(1, 1, 32, 96000, 300), {96000, 1, SampleType::Int32}},
      {withFormat(3, 2, 32, 48000, 300), {48000, 2, SampleType::Float32}},
      {withFormat(0xFFFE, 6, 24, 48000, 300), {48000, 6, SampleType::Int24}},
      {[] { WavLayout s = withFormat(0xFFFE, 6, 16, 48000, 300); s.channelMask = 0x60F; return s; }(),
       {48000, 6, SampleType::Int16, 0x60F}},
      {[] { WavLayout s = withFormat(0xFFFE, 2, 32, 44100, 300); s.subTag = 3; return s; }(),
       {44100, 2, SampleType::Float32}},
      {[] { WavLayout s = withFormat(1, 2, 16, 8000, 300); s.oddDataByte = true; return s; }(),
       {8000, 2, SampleType::Int16}},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> file = buildWav(c.layout);
    const WavAudio r = parseWav(file);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.format, c.format) << c.format.sampleRate << " " << c.format.channels;
    EXPECT_EQ(r.frameCount, 300u);
    ASSERT_EQ(r.frames.size(), c.layout.rawData.size());
    EXPECT_TRUE(std::equal(r.frames.begin(), r.frames.end(), c.layout.rawData.begin()));
  }
  // A trailing partial frame is left out.
  WavLayout partial = withFormat(1, 2, 24, 48000, 10);
  partial.rawData.resize(partial.rawData.size() + 5, 0x11);
  const std::vector<uint8_t> file = buildWav(partial);
  const WavAudio r = parseWav(file);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.frameCount, 10u);
  EXPECT_EQ(r.frames.size(), 60u);
}

TEST(WavReader, RejectsFormatsTheConverterCannotTake) {
  const struct {
    const char* name;
    WavLayout layout;
    const char* errorPart;
  } cases[] = {
      {"8-bit", withFormat(1, 1, 8, 44100, 10), "8-bit integer"},
      {"64-bit float", withFormat(3, 1, 64, 44100, 10), "64-bit float"},
      {"ADPCM", withFormat(2, 1, 16, 44100, 10), "format tag 2"},
      {"extensible ADPCM", [] { WavLayout s = withFormat(0xFFFE, 1, 16, 44100, 10); s.subTag = 2; return s; }(),
       "format tag 2"},
      {"no channels", withFormat(1, 0, 16, 44100, 10), "0 channels"},
      {"rate 0", withFormat(1, 1, 16, 0, 10), "sample rate 0"},
      {"rate 2 MHz", withFormat(1, 2, 16, 2000000, 10), "2000000"},
      {"block size", [] { WavLayout s = withFormat(1, 2, 16, 44100, 10); s.blockAlign = 2; return s; }(),
       "block size"},
      {"truncated data", [] { WavLayout s = withFormat(1, 2, 16, 44100, 10); s.dataSizeDelta = 2; return s; }(),
       "past the end"},
  };
  for (const auto& c : cases) {
    const WavAudio r = parseWav(buildWav(c.layout));
    EXPECT_FALSE(r.ok) << c.name;
    EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << c.name << ": " << r.error;
  }
}

// Every prefix and every single corrupted byte of a valid file parses to samples or an
// error; the sanitizers watch for reads out of bounds.
// Any format the reader accepts is one the converter takes, and the frames it points at
// lie inside the file: converting them is the rest of the check.
void checkAnyFormat(std::span<const uint8_t> bytes, size_t where) {
  const WavAudio r = parseWav(bytes);
  if (!r.ok) {
    EXPECT_FALSE(r.error.empty()) << where;
    return;
  }
  ASSERT_GE(r.frames.data(), bytes.data()) << where;
  ASSERT_LE(r.frames.data() + r.frames.size(), bytes.data() + bytes.size()) << where;
  int64_t frames = 0;
  EXPECT_GE(forEachAnalysisFrame(r.format, r.frames.data(), r.frameCount, 256,
                                 [&](auto...) { return ++frames < 2; }),
            0)
      << where;
}

TEST(WavReader, DamagedFilesNeverReadOutOfBounds) {
  WavLayout s = withSamples(std::vector<int16_t>(40, -7));
  s.extraChunkBeforeData = {'L', 'I', 'S', 'T', 1, 0, 0, 0, 'x', 0};
  const std::vector<uint8_t> good = buildWav(s);
  WavLayout other = withFormat(0xFFFE, 3, 24, 11025, 60);
  const std::vector<uint8_t> goodOther = buildWav(other);
  for (size_t n = 0; n < good.size(); ++n) {
    const std::vector<uint8_t> prefix(good.begin(), good.begin() + n);
    const WavReadResult r = parseMonoPcm16Wav(prefix, 65536);
    EXPECT_TRUE(r.ok || !r.error.empty()) << n;
    checkAnyFormat(prefix, n);
  }
  for (size_t n = 0; n < goodOther.size(); ++n) {
    checkAnyFormat(std::vector<uint8_t>(goodOther.begin(), goodOther.begin() + n), n);
  }
  for (size_t at = 0; at < good.size(); ++at) {
    for (uint8_t value : {uint8_t{0}, uint8_t{0x80}, uint8_t{0xFF}}) {
      std::vector<uint8_t> bad = good;
      bad[at] = value;
      const WavReadResult r = parseMonoPcm16Wav(bad, 65536);
      EXPECT_TRUE(r.ok || !r.error.empty()) << at;
      checkAnyFormat(bad, at);
    }
  }
  for (size_t at = 0; at < 80; ++at) {
    for (uint8_t value : {uint8_t{0}, uint8_t{0x80}, uint8_t{0xFF}}) {
      std::vector<uint8_t> bad = goodOther;
      bad[at] = value;
      checkAnyFormat(bad, at);
    }
  }
}

TEST(OfflineAnalysis, FrameEndsRoundUpToWholeBlocks) {
  const struct {
    int64_t k, hop, end;
  } cases[] = {{1, 1835, 2048}, {2, 1835, 3840}, {3, 1835, 5632}, {1, 256, 256},
               {1, 1, 256},     {256, 1, 256},   {257, 1, 512},   {1, 2048, 2048}};
  for (const auto& c : cases) EXPECT_EQ(frameEnd(c.k, c.hop), c.end) << c.k << " x " << c.hop;
}

// Each frame sees exactly samples end-2048 .. end-1 of the recording, zeros before its start,
// converted as capture converts them; frames stop at the last whole block.
TEST(OfflineAnalysis, FramesCoverTheLast2048SamplesBeforeTheirEnd) {
  std::vector<int16_t> recording(10 * 256 + 100);
  for (size_t i = 0; i < recording.size(); ++i) {
    recording[i] = static_cast<int16_t>(static_cast<int>(i * 37 % 65536) - 32768);
  }
  const struct {
    int64_t hop;
    std::vector<int64_t> ends;
  } cases[] = {
      {1835, {2048}},
      {700, {768, 1536, 2304}},
      {1000, {1024, 2048}},
      {128, {256, 256, 512, 512, 768, 768, 1024, 1024, 1280, 1280, 1536, 1536, 1792, 1792, 2048, 2048,
             2304, 2304, 2560, 2560}},
  };
  for (const auto& c : cases) {
    std::vector<int64_t> ends;
    const int64_t count = forEachAnalysisFrame(
        recording, c.hop,
        [&](int64_t end, const SpectrumFrame&, std::span<const float, AnalysisSize> samples) {
          ends.push_back(end);
          for (int i = 0; i < AnalysisSize; ++i) {
            const int64_t at = end - AnalysisSize + i;
            const float want = at < 0 ? 0.0f : static_cast<float>(recording[at]);
            if (samples[i] != want) {
              ADD_FAILURE() << "hop " << c.hop << " end " << end << " sample " << i;
              return false;
            }
          }
          return true;
        });
    EXPECT_EQ(ends, c.ends) << "hop " << c.hop;
    EXPECT_EQ(count, static_cast<int64_t>(c.ends.size()));
  }
}

TEST(OfflineAnalysis, ToneLevelsMatchTheLiveAnalysisAndStopOnRequest) {
  std::vector<int16_t> recording(65536 / 4);
  for (size_t i = 0; i < recording.size(); ++i) {
    recording[i] = static_cast<int16_t>(std::lround(32767 * std::sin(2 * 3.14159265358979 * 8000 * i / 65536.0)));
  }
  std::vector<SpectrumFrame> frames;
  forEachAnalysisFrame(recording, DefaultHopSamples,
                       [&](int64_t, const SpectrumFrame& frame, std::span<const float, AnalysisSize>) {
                         frames.push_back(frame);
                         return frames.size() < 3;
                       });
  ASSERT_EQ(frames.size(), 3u);
  for (const SpectrumFrame& f : frames) {
    EXPECT_NEAR(f.bandLevels[22], 1769.4, 0.5);
    EXPECT_LT(f.bandLevels[21], 0.01);
  }
  EXPECT_EQ(forEachAnalysisFrame(recording, 0, [](auto...) { return true; }), 0);
  EXPECT_EQ(forEachAnalysisFrame(std::vector<int16_t>(255), 1, [](auto...) { return true; }), 0);
}

// A mono 16-bit recording at 65 536 Hz gives the same frames through the converter as
// through the capture loop's own conversion, byte for byte.
TEST(OfflineAnalysis, ConverterPathMatchesTheCapturePathAt65536Hz) {
  std::vector<int16_t> recording(20 * 256 + 77);
  for (size_t i = 0; i < recording.size(); ++i) {
    recording[i] = static_cast<int16_t>(std::lround(20000 * std::sin(0.05 * i) + 9000 * std::sin(0.9 * i)));
  }
  std::vector<uint8_t> bytes;
  for (int16_t x : recording) put16(bytes, static_cast<uint16_t>(x));
  for (int64_t hop : {int64_t{1835}, int64_t{128}, int64_t{700}}) {
    std::vector<std::pair<int64_t, SpectrumFrame>> before, after;
    const auto collect = [](auto& into) {
      return [&into](int64_t end, const SpectrumFrame& frame, std::span<const float, AnalysisSize>) {
        into.emplace_back(end, frame);
        return true;
      };
    };
    const int64_t n = forEachAnalysisFrame(recording, hop, collect(before));
    EXPECT_EQ(forEachAnalysisFrame({}, bytes.data(), recording.size(), hop, collect(after)), n);
    ASSERT_EQ(before.size(), after.size());
    for (size_t f = 0; f < before.size(); ++f) {
      EXPECT_EQ(before[f].first, after[f].first);
      EXPECT_EQ(before[f].second.bandLevels, after[f].second.bandLevels) << "hop " << hop << " frame " << f;
      EXPECT_EQ(before[f].second.spectrumLine, after[f].second.spectrumLine) << "hop " << hop << " frame " << f;
    }
  }
}

TEST(OfflineAnalysis, OtherFormatsShowTheSameToneLevels) {
  // 8000 Hz at -6 dB of full scale in both channels: band 22 reads half of 1769.4.
  std::vector<float> stereo(2 * 48000 / 4);
  for (size_t i = 0; i < stereo.size() / 2; ++i) {
    stereo[2 * i] = stereo[2 * i + 1] = static_cast<float>(0.5 * std::sin(2 * 3.14159265358979 * 8000 * i / 48000.0));
  }
  std::vector<uint8_t> bytes;
  for (float x : stereo) put32(bytes, std::bit_cast<uint32_t>(x));
  std::vector<SpectrumFrame> frames;
  const int64_t n = forEachAnalysisFrame({48000, 2, SampleType::Float32}, bytes.data(), stereo.size() / 2,
                                         DefaultHopSamples, [&](int64_t, const SpectrumFrame& frame, auto) {
                                           frames.push_back(frame);
                                           return frames.size() < 4;
                                         });
  ASSERT_EQ(n, 4);
  for (const SpectrumFrame& f : {frames[2], frames[3]}) {  // once the tone fills the window
    EXPECT_NEAR(f.bandLevels[22], 1769.4 * 0.5 * 32768 / 32767, 1.0);
    EXPECT_LT(f.bandLevels[21], 0.01);
  }
  EXPECT_EQ(forEachAnalysisFrame({48000, 0, SampleType::Float32}, bytes.data(), 10, 256, [](auto...) { return true; }),
            -1);
}

}  // namespace
}  // namespace tonalis
