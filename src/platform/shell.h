// The few things the program asks of the desktop shell besides its windows.
#pragma once

#include <string_view>

namespace tonalis {

class Shell {
 public:
  virtual ~Shell() = default;
  // A modal message box with an OK button, owned by the main window and captioned with
  // the application's name. The text is UTF-8; the backend shows it with the wide API.
  virtual void showMessage(std::string_view utf8Text) = 0;
  // Opens an address with the shell's default action (the browser for a web page).
  // False when the shell could not (no browser, no association).
  virtual bool openUrl(std::string_view url) = 0;
  // Whether the program starts with the user's session, read afresh from where the system
  // keeps it (the user may have changed it elsewhere since).
  virtual bool startsWithSession() = 0;
  // Makes the program start with the session (the running program's own path) or not.
  // False when that could not be written.
  virtual bool setStartWithSession(bool on) = 0;
};

}  // namespace tonalis
