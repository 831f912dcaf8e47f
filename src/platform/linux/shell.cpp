#include "platform/linux/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "common/utf8.h"

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

}  // namespace tonalis::lnx
