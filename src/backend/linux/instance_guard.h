// One copy per user on Linux: an exclusive lock on a file in the user's runtime folder
// ($XDG_RUNTIME_DIR/tonalis.lock, else /tmp/tonalis-<uid>.lock), held for the process's
// life and let go by the kernel when it ends, however it ends. The first copy also listens
// on a datagram socket named after the lock; a second start sends it one byte to ask for
// the window.
#pragma once

#include <string>

#include "platform/instance_guard.h"

namespace tonalis::lnx {

// The lock file for the given $XDG_RUNTIME_DIR (may be unset) and user id.
std::string lockPath(const char* xdgRuntimeDir, unsigned uid);

class LinuxInstanceGuard : public InstanceGuard {
 public:
  explicit LinuxInstanceGuard(std::string lockPath);
  ~LinuxInstanceGuard() override;
  LinuxInstanceGuard(const LinuxInstanceGuard&) = delete;
  LinuxInstanceGuard& operator=(const LinuxInstanceGuard&) = delete;

  // True when this copy holds the lock. A lock file that cannot be made at all (no
  // writable folder) does not stop the program: it runs, unguarded.
  bool claim() override;
  void wakeFirst() override;

  // For the first copy's main loop: a descriptor that becomes readable when a second
  // start asks for the window (-1 before a successful claim), and the call that takes
  // the requests; true when there was at least one.
  int wakeDescriptor() const { return listener_; }
  bool takeWakeRequests();

 private:
  std::string lockPath_;
  int lock_ = -1;
  int listener_ = -1;
};

}  // namespace tonalis::lnx
