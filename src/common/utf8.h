// Text from outside the program (device names, paths, ids from the system) is meant to be
// UTF-8 but nothing guarantees it. GTK, GLib and D-Bus refuse invalid sequences (a critical
// and an empty label), so such text is checked where it leaves for them: shown with U+FFFD
// in place of each bad sequence. Ids keep their bytes for matching and saving.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tonalis {

// Length of the well-formed UTF-8 sequence at text[at] (1..4), or 0 when there is none
// (a stray continuation byte, an overlong form, a surrogate, a value past U+10FFFF, a
// sequence cut short).
inline size_t utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return uint8_t(text[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length;
  uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

inline bool isValidUtf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = utf8SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

// `text` with each byte that starts no well-formed sequence replaced by U+FFFD.
inline std::string repairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t length = utf8SequenceLength(text, at);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++at;
    } else {
      out.append(text.substr(at, length));
      at += length;
    }
  }
  return out;
}

}  // namespace tonalis
