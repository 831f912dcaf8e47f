// The desktop services on Linux besides the windows: opening an address with the user's
// default handler (xdg-open, run directly, never through a shell), showing a message and
// starting with the session.
// Messages go to whatever the window side installs (a GTK dialog); until it does, or in a
// program without a desktop, they are written to standard error, marked as such.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/shell.h"

namespace tonalis::lnx {

class LinuxShell : public Shell {
 public:
  using MessageSink = std::function<void(std::string_view utf8Text)>;

  // `opener` is the program that opens addresses, looked up on PATH unless it holds a slash.
  explicit LinuxShell(MessageSink sink = {}, std::string opener = "xdg-open");

  void setMessageSink(MessageSink sink) { sink_ = std::move(sink); }
  void showMessage(std::string_view utf8Text) override;

  // Starts the opener with the address as its only argument. False when the address could
  // be taken for an option or holds control characters, when the opener cannot be started,
  // or when it fails within a second (no handler, no browser). An opener still running
  // after that is taken as a browser on its way: true, and it is reaped when it ends.
  bool openUrl(std::string_view url) override;

  // $XDG_CONFIG_HOME/autostart/tonalis.desktop (~/.config by default), as the desktop's
  // autostart rules read it; Exec names the running program.
  bool startsWithSession() override;
  bool setStartWithSession(bool on) override;

 private:
  MessageSink sink_;
  std::string opener_;
};

}  // namespace tonalis::lnx
