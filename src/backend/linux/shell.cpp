#include "backend/linux/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "common/utf8.h"
#include "backend/linux/file_store.h"

extern char** environ;

namespace tonalis::lnx {
namespace {

// How long openUrl waits for the opener's verdict before taking silence as success.
constexpr auto OpenerVerdictWait = std::chrono::milliseconds(1000);
constexpr auto OpenerPoll = std::chrono::milliseconds(10);

bool acceptableUrl(std::string_view url) {
  if (url.empty() || url.front() == '-') return false;  // xdg-open would read an option
  for (const char c : url)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

constexpr std::string_view AutostartName = "tonalis.desktop";

// The autostart folder beside the program's own settings folder; nullopt without a home.
std::optional<std::filesystem::path> autostartFolder() {
  const std::optional<std::string> settings = configFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  if (!settings) return std::nullopt;
  return std::filesystem::path(*settings).parent_path() / "autostart";
}

// An Exec value for `path`: one quoted argument (", `, $ and \ escaped inside the quotes,
// % doubled as it starts a field code), then the value's own escaping of backslashes.
std::string execValue(const std::string& path) {
  std::string argument = "\"";
  for (const char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
    argument += c;
    if (c == '%') argument += '%';
  }
  argument += '"';
  std::string value;
  for (const char c : argument) value += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return value;
}

}  // namespace

LinuxShell::LinuxShell(MessageSink sink, std::string opener)
    : sink_(std::move(sink)), opener_(std::move(opener)) {}

void LinuxShell::showMessage(std::string_view utf8Text) {
  if (sink_) {
    // Messages name devices and paths; the GTK box they go to takes only UTF-8.
    sink_(repairUtf8(utf8Text));
    return;
  }
  std::fprintf(stderr, "Tonalis (message; no dialog available): %.*s\n", int(utf8Text.size()), utf8Text.data());
  std::fflush(stderr);
}

bool LinuxShell::openUrl(std::string_view url) {
  if (!acceptableUrl(url)) return false;
  std::string program = opener_;
  std::string argument(url);
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = -1;
  // posix_spawnp reports a program that cannot be executed as an error, not as a child
  // that exits with 127.
  if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;

  const auto deadline = std::chrono::steady_clock::now() + OpenerVerdictWait;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0) return false;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(OpenerPoll);
  }
  // Still running: xdg-open waits on some desktops for the browser it started. Reap it
  // whenever it ends so it leaves no zombie behind.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

bool LinuxShell::startsWithSession() {
  const std::optional<std::filesystem::path> folder = autostartFolder();
  std::error_code error;
  return folder && std::filesystem::is_regular_file(*folder / AutostartName, error);
}

bool LinuxShell::setStartWithSession(bool on) {
  const std::optional<std::filesystem::path> folder = autostartFolder();
  if (!folder) return false;
  std::error_code error;
  if (!on) {
    std::filesystem::remove(*folder / AutostartName, error);
    return !error;
  }
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return false;
  const std::string entry = "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=Tonalis\n"
                            "Comment=Audio spectrum on the desktop\n"
                            "Exec=" + execValue(self.string()) + "\n"
                            "Icon=tonalis\n"
                            "Terminal=false\n"
                            "X-GNOME-Autostart-enabled=true\n";
  return LinuxFileStore(folder->string()).replace(AutostartName, entry);
}

}  // namespace tonalis::lnx
