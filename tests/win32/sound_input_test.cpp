// Mix formats as the audio engine hands them out, read into the port's format: sample type,
// and the speaker layout the converter mixes by.
#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
}  // namespace tonalis::win32
