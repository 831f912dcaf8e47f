// tonalis.ini for the running program: read once at the start, written only when what it
// keeps changed (a second after a change, at the end of the session, at exit), never before
// it was read and never over a file that was there but could not be read. What the user
// must hear of (the file could not be read; a write failed) is told once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/settings_file.h"
#include "platform/file_store.h"
#include "platform/sound_input.h"

namespace tonalis {

// Everything the file keeps, as one record.
struct StoredSettings {
  Settings settings;
  SoundSource source;
  int32_t delayMillis = 0;  // one of FrameDelays
  friend bool operator==(const StoredSettings&, const StoredSettings&) = default;
};

// A message for the user: a tray balloon (a notification on Linux).
struct Notice {
  std::string title;
  std::string text;
  friend bool operator==(const Notice&, const Notice&) = default;
};

inline constexpr std::string_view SaveFailedTitle = "设置未能保存";
inline constexpr std::string_view ReadFailedTitle = "设置未能读取，本次不保存";

class SettingsKeeper {
 public:
  explicit SettingsKeeper(FileStore& files) : files_(files) {}

  // Reads the file. Missing, damaged or unreadable: the defaults (see SettingsReadResult).
  // `place`, when given, takes the saved window position and returns where the window
  // goes; that is taken as what the file holds, so a position moved back onto a monitor
  // does not rewrite the file by itself.
  StoredSettings load(const SettingsLimits& limits, const std::function<Point(Point)>& place = {});

  // Writes `now` when it differs from what the file holds, or whatever it holds when
  // `always`. Nothing before load() and nothing over a file that could not be read: true
  // then, as nothing failed. False when the write failed (the old file stays).
  bool save(const StoredSettings& now, bool always);

  // The next message the user has not been told yet, each only once: the file could not be
  // read (with its path), a write failed (with the folder).
  std::optional<Notice> takeNotice();

 private:
  FileStore& files_;
  bool loaded_ = false;
  bool unreadable_ = false;              // the file is left alone for this run
  std::optional<StoredSettings> onDisk_;  // what the file holds, when known
  bool readFailurePending_ = false;
  bool saveFailurePending_ = false;
  bool saveFailureTold_ = false;
};

}  // namespace tonalis
