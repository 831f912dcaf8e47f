// A private X display for the GTK backend's tests: a virtual one (Xvfb) started once for
// the test program, or none (the tests skip) where Xvfb is missing.
#pragma once

#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tonalis::lnx::testing {

inline bool gtkDisplayReady() {
  static const bool ready = [] {
    static pid_t server = -1;
    int fds[2];
    if (::pipe(fds) != 0) return false;
    server = ::fork();
    if (server == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (server < 0 || number.empty()) return false;
    std::atexit([] {
      ::kill(server, SIGTERM);
      ::waitpid(server, nullptr, 0);
    });
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("GDK_BACKEND", "x11", 1);
    ::setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus to look for
    return gtk_init_check(nullptr, nullptr) != FALSE;
  }();
  return ready;
}

// Runs the main loop until nothing is pending and `millis` have passed.
inline void pumpEvents(int millis = 50) {
  const gint64 end = g_get_monotonic_time() + gint64(millis) * 1000;
  do {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    g_usleep(2000);
  } while (g_get_monotonic_time() < end);
}

}  // namespace tonalis::lnx::testing

#define TONALIS_REQUIRE_DISPLAY()                                                      \
  do {                                                                                 \
    if (!::tonalis::lnx::testing::gtkDisplayReady()) GTEST_SKIP() << "no X display";   \
  } while (0)
