#include "app/tray_controller.h"

#include <utility>

#include "app/command_ids.h"

namespace tonalis {

void TrayController::ensureIcon() {
  if (wanted_ && !shown_) shown_ = tray_.addIcon(TrayIconId, tip_);
}

void TrayController::removeIcon() {
  wanted_ = false;
  tray_.removeIcon();
  shown_ = false;
}

void TrayController::shellRestarted() {
  shown_ = false;
  ensureIcon();
}

void TrayController::showMenu(TrayMenuState state) {
  // The devices are read afresh at every opening: one may have been plugged in since.
  const SourceStatus status = capture_.status();
  state.source.chosen = capture_.chosen();
  state.source.chosenAbsent = status.state == SourceState::Absent && status.chosen == state.source.chosen;
  state.source.devices = sound_.listDevices();
  menuDeviceIds_ = sourceMenuDeviceIds(state.source);
  state.startsWithSession = shell_.startsWithSession();
  tray_.trackMenu(buildTrayMenu(state));
}

std::optional<SoundSource> TrayController::sourceFor(uint32_t command) const {
  if (command == CmdSourceDefaultInput) return SoundSource{};
  if (command == CmdSourcePlaying) return SoundSource{SourceKind::Playing, ""};
  if (command >= CmdSourceFirstDevice && command - CmdSourceFirstDevice < menuDeviceIds_.size()) {
    return SoundSource{SourceKind::Device, menuDeviceIds_[command - CmdSourceFirstDevice]};
  }
  return std::nullopt;
}

void TrayController::updateTip() {
  const uint32_t version = capture_.statusVersion();
  if (version == tipStatusVersion_) return;
  tipStatusVersion_ = version;
  const SourceStatus status = capture_.status();
  // Only a device that is not recording needs the list for its name.
  const bool needsNames = status.chosen.kind == SourceKind::Device && status.state != SourceState::Listening;
  std::string tip = sourceTip(status, needsNames ? sound_.listDevices() : std::vector<SoundDevice>{});
  // The shell redraws the icon on every change: only a new text is sent.
  if (tip == tip_) return;
  tip_ = std::move(tip);
  tray_.setTip(tip_);
}

bool TrayController::tell(std::string_view title, std::string_view text) {
  if (!shown_) return false;
  tray_.showBalloon(title, text);
  return true;
}

}  // namespace tonalis
