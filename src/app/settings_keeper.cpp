#include "app/settings_keeper.h"

namespace tonalis {

StoredSettings SettingsKeeper::load(const SettingsLimits& limits, const std::function<Point(Point)>& place) {
  const SettingsReadResult read = loadSettingsFile(files_, limits);
  StoredSettings stored{read.settings, read.source, read.delayMillis};
  if (place) {
    const Point at = place({stored.settings.savedX, stored.settings.savedY});
    stored.settings.savedX = at.x;
    stored.settings.savedY = at.y;
  }
  loaded_ = true;
  // A file held by another program, refused or damaged on the disk may still hold the
  // user's settings: this run keeps the defaults to itself rather than replace it.
  unreadable_ = read.result == SettingsReadStatus::Unreadable;
  readFailurePending_ = unreadable_;
  if (read.result == SettingsReadStatus::Read) onDisk_ = stored;
  return stored;
}

bool SettingsKeeper::save(const StoredSettings& now, bool always) {
  // Before the file was read the record holds defaults, not the user's settings: writing
  // them would wipe the file (an exit while the "cannot record" box is up).
  if (!loaded_ || unreadable_) return true;
  if (!always && onDisk_ == now) return true;
  if (saveSettingsFile(files_, now.settings, now.source, now.delayMillis)) {
    onDisk_ = now;
    return true;
  }
  // Once: a read-only folder fails every time, and the user has been told where.
  if (!saveFailureTold_) saveFailurePending_ = true;
  saveFailureTold_ = true;
  return false;
}

std::optional<Notice> SettingsKeeper::takeNotice() {
  if (readFailurePending_) {
    readFailurePending_ = false;
    return Notice{std::string(ReadFailedTitle), files_.path(SettingsFileName)};
  }
  if (saveFailurePending_) {
    saveFailurePending_ = false;
    return Notice{std::string(SaveFailedTitle), files_.folder()};
  }
  return std::nullopt;
}

}  // namespace tonalis
