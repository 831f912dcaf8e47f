// tonalis.ini: eight "key value" lines, an empty line and two GBK comment lines, CR LF
// line ends. One table of the eight fields drives the reader, the range checks and the
// writer. The reader and writer are pure; loadSettingsFile and saveSettingsFile go through
// a FileStore, whose replacement leaves the old or the new file, never a truncated one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/sound_input.h"
#include "platform/file_store.h"
#include "window/display_state.h"

namespace tonalis {

inline constexpr std::string_view SettingsFileName = "tonalis.ini";  // in the working directory

// What the coordinate checks compare against, in pixels: the main window's client size
// at the time of reading and the primary screen's size as reported (not raised to a
// minimum).
struct SettingsLimits {
  int32_t windowWidth = 0;
  int32_t windowHeight = 0;
  int32_t screenWidth = 0;
  int32_t screenHeight = 0;
};

// Limits that let through every coordinate but the extremes of 32 bits, for a reader whose
// caller checks the saved position against the monitors itself.
inline constexpr SettingsLimits AnyPosition{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};

// One line of the file. Fixed fields accept min..max inclusive; a coordinate is valid
// when greater than -(window size) and less than (screen size - 1).
struct SettingsField {
  enum class Range { Fixed, ScreenX, ScreenY };
  std::string_view key;
  int32_t Settings::*field;
  Range range;
  int32_t min, max;   // Fixed only
  int32_t defaultValue;
};

// File order; also the order of the range checks.
inline constexpr std::array<SettingsField, 8> SettingsFields{{
    {"xpos", &Settings::savedX, SettingsField::Range::ScreenX, 0, 0, 50},
    {"ypos", &Settings::savedY, SettingsField::Range::ScreenY, 0, 0, 50},
    {"top", &Settings::topMost, SettingsField::Range::Fixed, 0, 1, 0},
    {"mode", &Settings::spectrumStyle, SettingsField::Range::Fixed, 1, 6, Block},
    {"mouse", &Settings::clickThrough, SettingsField::Range::Fixed, 0, 1, 0},
    {"transparent", &Settings::transparencyMode, SettingsField::Range::Fixed, 0, 6, Opaque},
    {"color", &Settings::colorTheme, SettingsField::Range::Fixed, 1, 5, White},
    {"fullpos", &Settings::fullScreenPosition, SettingsField::Range::Fixed, 0, 3, Center},
}};

// What reading the file came to.
enum class SettingsReadStatus : uint8_t {
  Read,        // every line that was there held its key
  NotOpened,   // no file: defaults
  KeyMissing,  // a line lacks its key: all defaults
  // The file is there but could not be read: defaults, and the file must not be written
  // over while the program runs (it may hold the user's settings).
  Unreadable,
};

struct SettingsReadResult {
  Settings settings;
  SettingsReadStatus result = SettingsReadStatus::Read;
  // Kept in a twelfth line only when it is not the default input, so the eleven lines of
  // a default file stay as they always were.
  SoundSource source;
  int32_t delayMillis = 0;  // one of FrameDelays
};

// The twelfth line: "source 1" (what is playing) or "source 2 " and the endpoint id. An id
// is 1..512 bytes, none of them a control character, so it stays on its line.
inline constexpr std::string_view SourceKey = "source";
inline constexpr size_t MaxSourceIdBytes = 512;
bool validSourceId(std::string_view id);

// "delay N" after the source line (or in its place when there is none), only when N is not
// 0: what is drawn and sent to the board runs N ms behind the sound, for headphones and TVs
// that play it late. Any other value, or no line, means 0.
inline constexpr std::string_view DelayKey = "delay";
inline constexpr std::array<int32_t, 6> FrameDelays{0, 50, 100, 150, 200, 300};

// Reads the file's bytes as the text-mode C runtime would: CR LF counts as one line
// break, lines are taken 1023 characters at a time (a longer line spills into the next
// read), the key may stand anywhere in its line and the number after it is read like
// "%d". A line without a number, or the file ending before line 8, leaves that setting
// at its default. A value outside its range (numbers beyond 32 bits included) takes its
// default alone. A missing or unreadable source line means the default input.
SettingsReadResult readSettings(std::string_view bytes, const SettingsLimits& limits);

// The whole file, byte for byte: eleven CR LF lines, and the source line unless the
// source is the default input (or a device whose id could not be read back).
std::string writeSettings(const Settings& settings, const SoundSource& source = {}, int32_t delayMillis = 0);

// Reads tonalis.ini from `files` (at most the 8 KiB the reader can look at); a missing file
// gives the defaults with NotOpened, one that cannot be read with Unreadable.
SettingsReadResult loadSettingsFile(FileStore& files, const SettingsLimits& limits);

// Replaces tonalis.ini in `files`. False when it could not be written; the old file is
// then untouched.
bool saveSettingsFile(FileStore& files, const Settings& settings, const SoundSource& source = {},
                     int32_t delayMillis = 0);

// Between the file record and the display record. The saved click-through is the live
// one in Window mode and the one remembered when Window mode was left otherwise; call
// rememberWindowPosition (window_commands.h) first so the position is current.
Settings settingsFromDisplay(const DisplayState& display);
// Stores the eight values; loading sets clickThrough (the program starts in Window mode).
void storeSettings(const Settings& settings, DisplayState& display);

}  // namespace tonalis
