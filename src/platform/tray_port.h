// The notification-area icon and its pop-up menu.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tonalis {

// One item of a pop-up menu as the core builds it; the backend turns it into a native menu.
struct MenuItem {
  enum class Kind { Command, Separator, SubMenu } kind = Kind::Command;
  uint32_t id = 0;              // command id (Command only)
  std::string label;            // UTF-8
  bool checked = false;
  bool radio = false;           // a checked item shows a bullet: one choice of a group
  bool enabled = true;
  std::vector<MenuItem> children;  // SubMenu only
};

class TrayPort {
 public:
  virtual ~TrayPort() = default;
  // Adds the icon (icon resource `iconId`, also the notification id) with the tip; a
  // double click on it reaches the main window as TrayActivate, a right click as
  // TrayMenuRequest. True when the icon is in the tray (added now, or already there);
  // false when the shell is not ready.
  virtual bool addIcon(uint32_t iconId, std::string_view tip) = 0;
  virtual void removeIcon() = 0;
  // Replaces the tip the icon shows on hover (UTF-8; the shell may cut a long one).
  virtual void setTip(std::string_view tip) = 0;
  // A notification balloon from the icon (UTF-8 texts); nothing when there is no icon.
  virtual void showBalloon(std::string_view title, std::string_view text) = 0;
  // Brings the main window to the foreground and tracks the menu at the cursor. The
  // chosen command arrives later as a Command event through the event table.
  virtual void trackMenu(const std::vector<MenuItem>& items) = 0;
};

}  // namespace tonalis
