#include "app/settings_file.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace tonalis {

namespace {

constexpr size_t LineBufferSize = 1024;           // the reader's line buffer, terminator included
constexpr size_t MaxBytesRead = 8 * LineBufferSize;  // 8 reads, each at most 1024 bytes of CR LF text

// The two comment lines, in GBK (code page 936) as the file has always held them:
// "这是Tonalis的设置保存文件,您在设置好的信息都会自动保存,请最好不要用外部编辑器改动本文件!"
constexpr std::string_view CommentLine1 =
    "\xd5\xe2\xca\xc7\x54\x6f\x6e\x61\x6c\x69\x73\xb5\xc4\xc9\xe8\xd6"
    "\xc3\xb1\xa3\xb4\xe6\xce\xc4\xbc\xfe\x2c\xc4\xfa\xd4\xda\xc9\xe8"
    "\xd6\xc3\xba\xc3\xb5\xc4\xd0\xc5\xcf\xa2\xb6\xbc\xbb\xe1\xd7\xd4"
    "\xb6\xaf\xb1\xa3\xb4\xe6\x2c\xc7\xeb\xd7\xee\xba\xc3\xb2\xbb\xd2"
    "\xaa\xd3\xc3\xcd\xe2\xb2\xbf\xb1\xe0\xbc\xad\xc6\xf7\xb8\xc4\xb6"
    "\xaf\xb1\xbe\xce\xc4\xbc\xfe\x21";
// "如果该文件被修改后程序运行异常,请删除本文件,程序将会自动生成一个新的ini文件"
constexpr std::string_view CommentLine2 =
    "\xc8\xe7\xb9\xfb\xb8\xc3\xce\xc4\xbc\xfe\xb1\xbb\xd0\xde\xb8\xc4"
    "\xba\xf3\xb3\xcc\xd0\xf2\xd4\xcb\xd0\xd0\xd2\xec\xb3\xa3\x2c\xc7"
    "\xeb\xc9\xbe\xb3\xfd\xb1\xbe\xce\xc4\xbc\xfe\x2c\xb3\xcc\xd0\xf2"
    "\xbd\xab\xbb\xe1\xd7\xd4\xb6\xaf\xc9\xfa\xb3\xc9\xd2\xbb\xb8\xf6"
    "\xd0\xc2\xb5\xc4\x69\x6e\x69\xce\xc4\xbc\xfe";

constexpr std::string_view LineEnd = "\r\n";

// One fgets into a LineBufferSize buffer on a text-mode stream: CR LF arrives as LF,
// and the read stops after LF or after LineBufferSize - 1 characters. The line as a C
// string ends at its first NUL, which is all that strstr and sscanf would see.
std::optional<std::string_view> nextLine(std::string_view bytes, size_t& pos,
                                         std::array<char, LineBufferSize>& buffer) {
  if (pos >= bytes.size()) return std::nullopt;
  size_t length = 0;
  while (pos < bytes.size() && length < LineBufferSize - 1) {
    char c = bytes[pos++];
    if (c == '\r' && pos < bytes.size() && bytes[pos] == '\n') {
      c = '\n';
      ++pos;
    }
    buffer[length++] = c;
    if (c == '\n') break;
  }
  std::string_view line(buffer.data(), length);
  return line.substr(0, line.find('\0'));
}

bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// "%d": leading white space, an optional sign, decimal digits. No digits, no value. A
// number beyond 32 bits saturates (rather than the C runtime's undefined result), which
// every range check then rejects.
std::optional<int32_t> scanDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  constexpr int64_t Cap = int64_t(std::numeric_limits<int32_t>::max()) + 1;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min<int64_t>(magnitude * 10 + (text[i] - '0'), Cap);
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return int32_t(value);
}

bool inRange(const SettingsField& field, int32_t value, const SettingsLimits& limits) {
  const int64_t v = value;
  switch (field.range) {
    case SettingsField::Range::ScreenX:
      return v > -int64_t(limits.windowWidth) && v < int64_t(limits.screenWidth) - 1;
    case SettingsField::Range::ScreenY:
      return v > -int64_t(limits.windowHeight) && v < int64_t(limits.screenHeight) - 1;
    case SettingsField::Range::Fixed:
      return v >= field.min && v <= field.max;
  }
  return false;
}

SoundSource parseSource(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.starts_with(SourceKey)) return {};
  line.remove_prefix(SourceKey.size());
  if (line == " 1") return SoundSource{SourceKind::Playing, ""};
  constexpr std::string_view DevicePrefix = " 2 ";
  if (line.starts_with(DevicePrefix)) {
    const std::string_view id = line.substr(DevicePrefix.size());
    if (validSourceId(id)) return SoundSource{SourceKind::Device, std::string(id)};
  }
  return {};
}

int32_t parseDelay(std::string_view line) {
  if (!line.starts_with(DelayKey)) return 0;
  const std::optional<int32_t> value = scanDecimal(line.substr(DelayKey.size()));
  if (!value) return 0;
  return std::find(FrameDelays.begin(), FrameDelays.end(), *value) != FrameDelays.end() ? *value : 0;
}

}  // namespace

bool validSourceId(std::string_view id) {
  if (id.empty() || id.size() > MaxSourceIdBytes) return false;
  return std::none_of(id.begin(), id.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

SettingsReadResult readSettings(std::string_view bytes, const SettingsLimits& limits) {
  SettingsReadResult out;
  std::array<char, LineBufferSize> buffer;
  size_t pos = 0;
  bool ended = false;
  for (const SettingsField& field : SettingsFields) {
    const std::optional<std::string_view> line = nextLine(bytes, pos, buffer);
    ended = !line;
    if (ended) break;  // the file ended: this and the later settings keep their defaults
    const size_t at = line->find(field.key);
    if (at == std::string_view::npos) {
      // Not our file, or lines out of order: trust none of it.
      return SettingsReadResult{Settings{}, SettingsReadStatus::KeyMissing, {}};
    }
    if (const auto value = scanDecimal(line->substr(at + field.key.size()))) {
      out.settings.*field.field = *value;
    }
  }
  // Lines 9 to 11 are the empty line and the comments; the source follows them.
  std::optional<std::string_view> line;
  for (int number = 9; number <= 12 && !ended; ++number) {
    line = nextLine(bytes, pos, buffer);
    ended = !line;
  }
  if (!ended) {
    out.source = parseSource(*line);
    out.delayMillis = parseDelay(*line);
    if (line->starts_with(SourceKey)) {
      line = nextLine(bytes, pos, buffer);
      if (line) out.delayMillis = parseDelay(*line);
    }
  }
  for (const SettingsField& field : SettingsFields) {
    if (!inRange(field, out.settings.*field.field, limits)) {
      out.settings.*field.field = field.defaultValue;
    }
  }
  out.result = SettingsReadStatus::Read;
  return out;
}

std::string writeSettings(const Settings& settings, const SoundSource& source, int32_t delayMillis) {
  std::string text;
  for (const SettingsField& field : SettingsFields) {
    text += field.key;
    text += ' ';
    text += std::to_string(settings.*field.field);
    text += LineEnd;
  }
  text += LineEnd;
  text += CommentLine1;
  text += LineEnd;
  text += CommentLine2;
  text += LineEnd;
  if (source.kind == SourceKind::Playing) {
    text += SourceKey;
    text += " 1";
    text += LineEnd;
  } else if (source.kind == SourceKind::Device && validSourceId(source.deviceId)) {
    text += SourceKey;
    text += " 2 ";
    text += source.deviceId;
    text += LineEnd;
  }
  if (delayMillis != 0) {
    text += DelayKey;
    text += ' ';
    text += std::to_string(delayMillis);
    text += LineEnd;
  }
  return text;
}

SettingsReadResult loadSettingsFile(FileStore& files, const SettingsLimits& limits) {
  const FileReadResult file = files.read(SettingsFileName, MaxBytesRead);
  switch (file.status) {
    case FileReadStatus::Read:
      return readSettings(file.bytes, limits);
    case FileReadStatus::Missing:
      return SettingsReadResult{Settings{}, SettingsReadStatus::NotOpened, {}};
    case FileReadStatus::Unreadable:
      break;
  }
  return SettingsReadResult{Settings{}, SettingsReadStatus::Unreadable, {}};
}

bool saveSettingsFile(FileStore& files, const Settings& settings, const SoundSource& source,
                      int32_t delayMillis) {
  return files.replace(SettingsFileName, writeSettings(settings, source, delayMillis));
}

Settings settingsFromDisplay(const DisplayState& display) {
  Settings s = display;
  if (display.displayMode != DisplayMode::Window) s.clickThrough = display.savedClickThrough;
  return s;
}

void storeSettings(const Settings& settings, DisplayState& display) {
  static_cast<Settings&>(display) = settings;
}

}  // namespace tonalis
