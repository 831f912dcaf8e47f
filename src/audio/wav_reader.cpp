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
constexpr uint16_t FormatFloat = 3;
constexpr uint16_t FormatExtensible = 0xFFFE;

// The fields of a format chunk both readers check.
struct FormatFields {
  uint16_t tag = 0;  // the sub-format's tag for an extensible chunk
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t blockAlign = 0;
  uint16_t bits = 0;  // container bits per sample
  uint32_t channelMask = 0;  // an extensible chunk's speaker positions; 0 otherwise
};

// Finds the format and data chunks; `check` judges the format as soon as it is read. The
// RIFF size field is often wrong in the wild; the chunks themselves are checked against the
// real end of the bytes instead. Returns what is wrong, or nothing.
template <typename Check>
std::string findChunks(std::span<const uint8_t> bytes, FormatFields& format, std::span<const uint8_t>& data,
                       Check&& check) {
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return "not a RIFF/WAVE file";
  }
  bool haveFormat = false;
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const uint8_t* id = bytes.data() + at;
    const uint64_t size = le32(id + 4);
    const size_t body = at + 8;
    const size_t available = bytes.size() - body;
    if (std::memcmp(id, "fmt ", 4) == 0) {
      if (size < 16 || size > available) {
        return "format chunk is truncated or too short";
      }
      const uint8_t* f = bytes.data() + body;
      format = FormatFields{};
      format.tag = le16(f);
      format.channels = le16(f + 2);
      format.rate = le32(f + 4);
      format.blockAlign = le16(f + 12);
      format.bits = le16(f + 14);
      if (format.tag == FormatExtensible) {
        // The sub-format GUID starts with the plain format tag.
        if (size < 40) {
          return "extensible format chunk is too short";
        }
        format.channelMask = le32(f + 20);
        format.tag = le16(f + 24);
      }
      if (std::string error = check(format); !error.empty()) {
        return error;
      }
      haveFormat = true;
    } else if (std::memcmp(id, "data", 4) == 0) {
      if (size > available) {
        return "data chunk runs past the end of the file (truncated?)";
      }
      if (!haveFormat) {
        return "data chunk before the format chunk";
      }
      data = bytes.subspan(body, static_cast<size_t>(size));
      return {};
    } else if (size > available) {
      return "chunk '" + chunkName(id) + "' runs past the end of the file";
    }
    // Chunks are padded to an even length; a missing final pad byte is tolerated.
    at = body + static_cast<size_t>(size) + (size & 1);
  }
  return haveFormat ? "no data chunk" : "no format chunk";
}

}  // namespace

WavReadResult parseMonoPcm16Wav(std::span<const uint8_t> bytes, uint32_t requiredRate) {
  FormatFields f;
  std::span<const uint8_t> data;
  const std::string error = findChunks(bytes, f, data, [&](const FormatFields& format) -> std::string {
    if (format.tag != FormatPcm) {
      return "not PCM (format tag " + std::to_string(format.tag) + ")";
    }
    if (format.channels != 1) {
      return std::to_string(format.channels) + " channels; only mono is supported";
    }
    if (format.bits != 16 || format.blockAlign != 2) {
      return std::to_string(format.bits) + " bits per sample; only 16-bit is supported";
    }
    if (format.rate != requiredRate) {
      return "sample rate " + std::to_string(format.rate) + " Hz; only " + std::to_string(requiredRate) +
             " Hz is supported";
    }
    return {};
  });
  if (!error.empty()) {
    return failure(error, f.rate);
  }
  WavReadResult r;
  r.ok = true;
  r.sampleRate = f.rate;
  r.samples.resize(data.size() / 2);
  for (size_t i = 0; i < r.samples.size(); ++i) {
    r.samples[i] = static_cast<int16_t>(le16(data.data() + 2 * i));
  }
  return r;
}

namespace {

// The sample type a format chunk stores, or an error.
std::string sampleTypeOf(const FormatFields& f, SampleType& type) {
  if (f.tag == FormatPcm && f.bits == 16) {
    type = SampleType::Int16;
  } else if (f.tag == FormatPcm && f.bits == 24) {
    type = SampleType::Int24;
  } else if (f.tag == FormatPcm && f.bits == 32) {
    type = SampleType::Int32;
  } else if (f.tag == FormatFloat && f.bits == 32) {
    type = SampleType::Float32;
  } else if (f.tag == FormatPcm || f.tag == FormatFloat) {
    return std::to_string(f.bits) + "-bit " + (f.tag == FormatPcm ? "integer" : "float") +
           " samples; 16, 24 or 32-bit integer or 32-bit float are supported";
  } else {
    return "not PCM or float (format tag " + std::to_string(f.tag) + ")";
  }
  if (f.channels < 1 || f.channels > SoundConverter::MaxChannels) {
    return std::to_string(f.channels) + " channels; 1 to " + std::to_string(SoundConverter::MaxChannels) +
           " are supported";
  }
  if (f.rate < SoundConverter::MinSampleRate || f.rate > SoundConverter::MaxSampleRate) {
    return "sample rate " + std::to_string(f.rate) + " Hz; " + std::to_string(SoundConverter::MinSampleRate) +
           " to " + std::to_string(SoundConverter::MaxSampleRate) + " Hz are supported";
  }
  if (f.blockAlign != bytesPerSample(type) * f.channels) {
    return "block size " + std::to_string(f.blockAlign) + " does not match " + std::to_string(f.channels) +
           " channels of " + std::to_string(f.bits) + " bits";
  }
  return {};
}

}  // namespace

WavAudio parseWav(std::span<const uint8_t> bytes) {
  WavAudio r;
  FormatFields f;
  std::span<const uint8_t> data;
  StreamFormat format;
  r.error = findChunks(bytes, f, data,
                       [&](const FormatFields& fields) { return sampleTypeOf(fields, format.sampleType); });
  if (!r.error.empty()) {
    return r;
  }
  const size_t frameBytes = bytesPerSample(format.sampleType) * f.channels;
  format.sampleRate = f.rate;
  format.channels = f.channels;
  format.channelMask = f.channelMask;
  r.ok = true;
  r.format = format;
  r.frameCount = data.size() / frameBytes;
  r.frames = data.first(r.frameCount * frameBytes);
  return r;
}

}  // namespace tonalis
