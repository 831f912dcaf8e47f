// The recording path of tonalis-render: WAV parsing and the frame iteration through the
// capture ring.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audio/offline_analysis.h"
#include "audio/wav_reader.h"

namespace tonalis {
namespace {

// A WAV image built field by field, so a test can break any one of them.
struct WavSpec {
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

std::vector<uint8_t> buildWav(const WavSpec& s) {
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
    v[20 + 24] = 1;  // sub-format GUID begins with the PCM tag
  }
  v.insert(v.end(), s.extraChunkBeforeData.begin(), s.extraChunkBeforeData.end());
  putId(v, "data");
  const uint32_t bytes = static_cast<uint32_t>(s.samples.size() * 2 + (s.oddDataByte ? 1 : 0));
  put32(v, static_cast<uint32_t>(bytes + s.dataSizeDelta));
  for (int16_t x : s.samples) put16(v, static_cast<uint16_t>(x));
  if (s.oddDataByte) v.push_back(0x7F);
  const uint32_t riff = static_cast<uint32_t>(v.size() - 8);
  std::memcpy(v.data() + 4, &riff, 4);  // little-endian host assumed by the test only
  return v;
}

WavSpec withSamples(std::vector<int16_t> samples) {
  WavSpec s;
  s.samples = std::move(samples);
  return s;
}

TEST(WavReader, ReadsMonoPcm16AndSkipsOtherChunks) {
  const std::vector<int16_t> samples = {0, 1, -1, 32767, -32768, 1234};
  WavSpec plain = withSamples(samples);
  WavSpec withList = withSamples(samples);
  withList.extraChunkBeforeData = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};  // odd size, padded
  WavSpec extensible = withSamples(samples);
  extensible.tag = 0xFFFE;
  extensible.fmtSize = 40;
  WavSpec odd = withSamples(samples);
  odd.oddDataByte = true;
  for (const WavSpec* s : {&plain, &withList, &extensible, &odd}) {
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
    WavSpec s = withSamples(some);
    change(s);
    return buildWav(s);
  };
  std::vector<uint8_t> noData = wavWith([](WavSpec&) {});
  noData.resize(12 + 8 + 16);
  std::vector<uint8_t> onlyHeader = wavWith([](WavSpec&) {});
  onlyHeader.resize(12);
  std::vector<uint8_t> renamedFmt = wavWith([](WavSpec&) {});
  std::memcpy(renamedFmt.data() + 12, "junk", 4);
  const Case cases[] = {
      {"empty", {}, "RIFF"},
      {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'}, "RIFF"},
      {"44.1 kHz", wavWith([](WavSpec& s) { s.rate = 44100; }), "44100"},
      {"stereo", wavWith([](WavSpec& s) { s.channels = 2; s.blockAlign = 4; }), "mono"},
      {"8-bit", wavWith([](WavSpec& s) { s.bits = 8; s.blockAlign = 1; }), "16-bit"},
      {"float", wavWith([](WavSpec& s) { s.tag = 3; s.bits = 32; s.blockAlign = 4; }), "PCM"},
      {"short format chunk", wavWith([](WavSpec& s) { s.fmtSize = 14; }), "format"},
      {"data longer than the file", wavWith([](WavSpec& s) { s.dataSizeDelta = 2; }), "past the end"},
      {"huge chunk", wavWith([](WavSpec& s) {
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

// Every prefix and every single corrupted byte of a valid file parses to samples or an
// error; the sanitizers watch for reads out of bounds.
TEST(WavReader, DamagedFilesNeverReadOutOfBounds) {
  WavSpec s = withSamples(std::vector<int16_t>(40, -7));
  s.extraChunkBeforeData = {'L', 'I', 'S', 'T', 1, 0, 0, 0, 'x', 0};
  const std::vector<uint8_t> good = buildWav(s);
  for (size_t n = 0; n < good.size(); ++n) {
    const std::vector<uint8_t> prefix(good.begin(), good.begin() + n);
    const WavReadResult r = parseMonoPcm16Wav(prefix, 65536);
    EXPECT_TRUE(r.ok || !r.error.empty()) << n;
  }
  for (size_t at = 0; at < good.size(); ++at) {
    for (uint8_t value : {uint8_t{0}, uint8_t{0x80}, uint8_t{0xFF}}) {
      std::vector<uint8_t> bad = good;
      bad[at] = value;
      const WavReadResult r = parseMonoPcm16Wav(bad, 65536);
      EXPECT_TRUE(r.ok || !r.error.empty()) << at;
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

}  // namespace
}  // namespace tonalis
