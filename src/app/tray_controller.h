// The tray icon, the program's whole interface: put in until the shell takes it (and again
// after the shell restarts), its menu built afresh at every opening, the source commands of
// the last menu shown, the tip that says where capture stands, and the balloons.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/tray_menu.h"
#include "audio/capture.h"
#include "platform/shell.h"
#include "platform/sound_input.h"
#include "platform/tray_port.h"

namespace tonalis {

class TrayController {
 public:
  TrayController(TrayPort& tray, SoundInput& sound, Shell& shell, CaptureContext& capture)
      : tray_(tray), sound_(sound), shell_(shell), capture_(capture) {}

  // From start-up to exit the icon should be there; ensureIcon asks the shell until it
  // takes it (at logon it may not be up yet). removeIcon takes it away for good.
  void wantIcon() { wanted_ = true; }
  void ensureIcon();
  void removeIcon();
  // A new shell has no icons: ours goes in again (now, or at a later ensureIcon).
  void shellRestarted();
  bool iconShown() const { return shown_; }

  // Opens the menu for `state` (the display fields filled in by the caller), adding what
  // the tray knows itself: the sources as the system lists them now, the choice, and
  // whether the program starts with the session (read from the system, not remembered).
  void showMenu(TrayMenuState state);

  // A "声音来源" item of the last menu shown: the source it names, or nothing when the
  // command is not one (an item of a menu shown before).
  std::optional<SoundSource> sourceFor(uint32_t command) const;

  // The tip follows the capture status; only a new text goes to the shell.
  void updateTip();

  // A balloon, when the icon is there to show it; false when it is not (tell it later).
  bool tell(std::string_view title, std::string_view text);

 private:
  TrayPort& tray_;
  SoundInput& sound_;
  Shell& shell_;
  CaptureContext& capture_;
  bool wanted_ = false;
  bool shown_ = false;
  std::vector<std::string> menuDeviceIds_;  // the device items of the last menu, in order
  uint32_t tipStatusVersion_ = 0;
  std::string tip_ = "Tonalis";
};

}  // namespace tonalis
