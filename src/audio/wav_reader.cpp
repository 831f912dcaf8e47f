#include "audio/wav_reader.h"

#include <cstring>

namespace tonalis {
namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

WavReadResult failure(std::string error, uint32_t rate = 0) {
  WavReadResult r;
  r.error = std::move(error);
  r.sampleRate = rate;
  return r;
}

// The chunk id as printable text for messages.
std::string chunkName(const uint8_t* id) {
  std::string name;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>(id[i]);
    name += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return name;
}

constexpr uint16_t FormatPcm = 1;
constexpr uint16_t FormatExtensible = 0xFFFE;

}  // namespace

WavReadResult parseMonoPcm16Wav(std::span<const uint8_t> bytes, uint32_t requiredRate) {
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return failure("not a RIFF/WAVE file");
  }
  bool haveFormat = false;
  uint32_t rate = 0;
  const uint8_t* data = nullptr;
  size_t dataBytes = 0;

  // The RIFF size field is often wrong in the wild; the chunks themselves are checked
  // against the real end of the bytes instead.
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const uint8_t* id = bytes.data() + at;
    const uint64_t size = le32(id + 4);
    const size_t body = at + 8;
    const size_t available = bytes.size() - body;
    if (std::memcmp(id, "fmt ", 4) == 0) {
      if (size < 16 || size > available) {
        return failure("format chunk is truncated or too short");
      }
      const uint8_t* f = bytes.data() + body;
      uint16_t tag = le16(f);
      const uint16_t channels = le16(f + 2);
      rate = le32(f + 4);
      const uint16_t blockAlign = le16(f + 12);
      const uint16_t bits = le16(f + 14);
      if (tag == FormatExtensible) {
        // The sub-format GUID starts with the plain format tag.
        if (size < 40) {
          return failure("extensible format chunk is too short", rate);
        }
        tag = le16(f + 24);
      }
      if (tag != FormatPcm) {
        return failure("not PCM (format tag " + std::to_string(tag) + ")", rate);
      }
      if (channels != 1) {
        return failure(std::to_string(channels) + " channels; only mono is supported", rate);
      }
      if (bits != 16 || blockAlign != 2) {
        return failure(std::to_string(bits) + " bits per sample; only 16-bit is supported", rate);
      }
      if (rate != requiredRate) {
        return failure("sample rate " + std::to_string(rate) + " Hz; only " +
                           std::to_string(requiredRate) + " Hz is supported",
                       rate);
      }
      haveFormat = true;
    } else if (std::memcmp(id, "data", 4) == 0) {
      if (size > available) {
        return failure("data chunk runs past the end of the file (truncated?)", rate);
      }
      if (!haveFormat) {
        return failure("data chunk before the format chunk", rate);
      }
      data = bytes.data() + body;
      dataBytes = static_cast<size_t>(size);
      break;
    } else if (size > available) {
      return failure("chunk '" + chunkName(id) + "' runs past the end of the file", rate);
    }
    // Chunks are padded to an even length; a missing final pad byte is tolerated.
    at = body + static_cast<size_t>(size) + (size & 1);
  }
  if (!haveFormat) {
    return failure("no format chunk");
  }
  if (data == nullptr) {
    return failure("no data chunk", rate);
  }
  WavReadResult r;
  r.ok = true;
  r.sampleRate = rate;
  r.samples.resize(dataBytes / 2);
  for (size_t i = 0; i < r.samples.size(); ++i) {
    r.samples[i] = static_cast<int16_t>(le16(data + 2 * i));
  }
  return r;
}

}  // namespace tonalis
