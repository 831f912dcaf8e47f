// Reading a recording for offline analysis: a RIFF/WAVE image in memory, parsed
// defensively (any byte sequence gives samples or an error, never a crash).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "audio/sound_converter.h"

namespace tonalis {

struct WavReadResult {
  bool ok = false;
  std::string error;             // what is wrong, for the user, when !ok
  uint32_t sampleRate = 0;       // as the file states it (when its format chunk was read)
  std::vector<int16_t> samples;  // mono 16-bit PCM samples, in order, when ok
};

// Accepts only what capture records: PCM (plain or extensible), 1 channel, 16 bits,
// `requiredRate` samples per second. Chunks other than "fmt " and "data" are skipped; an
// odd trailing data byte is ignored.
WavReadResult parseMonoPcm16Wav(std::span<const uint8_t> bytes, uint32_t requiredRate);

struct WavAudio {
  bool ok = false;
  std::string error;  // what is wrong, for the user, when !ok
  StreamFormat format;  // when ok: a format SoundConverter::configure takes
  // The whole frames of the data chunk, interleaved as stored (a trailing partial frame is
  // left out). Points into the bytes given to parseWav: valid while they are.
  std::span<const uint8_t> frames;
  size_t frameCount = 0;
};

// Accepts the common recordings: PCM 16, 24 or 32-bit integer or 32-bit float, plain or
// WAVE_FORMAT_EXTENSIBLE (its container size decides the sample type), any channel count
// and rate the converter takes. Chunk handling as parseMonoPcm16Wav.
WavAudio parseWav(std::span<const uint8_t> bytes);

}  // namespace tonalis
