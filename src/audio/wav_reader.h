// Reading a recording for offline analysis: a RIFF/WAVE image in memory, parsed
// defensively (any byte sequence gives samples or an error, never a crash).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

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

}  // namespace tonalis
