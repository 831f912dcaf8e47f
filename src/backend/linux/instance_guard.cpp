#include "backend/linux/instance_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace tonalis::lnx {
namespace {

// An abstract socket address (leading NUL: nothing on the disk to clean up) made from the
// lock file's path, so copies that share a lock share an address.
socklen_t wakeAddress(const std::string& lockPath, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const std::string name = "tonalis-wake:" + lockPath;
  const size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);
  return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

}  // namespace

std::string lockPath(const char* xdgRuntimeDir, unsigned uid) {
  if (xdgRuntimeDir && xdgRuntimeDir[0] == '/') return std::string(xdgRuntimeDir) + "/tonalis.lock";
  return "/tmp/tonalis-" + std::to_string(uid) + ".lock";
}

LinuxInstanceGuard::LinuxInstanceGuard(std::string lockPath) : lockPath_(std::move(lockPath)) {}

LinuxInstanceGuard::~LinuxInstanceGuard() {
  if (listener_ >= 0) ::close(listener_);
  if (lock_ >= 0) ::close(lock_);
}

bool LinuxInstanceGuard::claim() {
  if (lock_ >= 0) return true;
  const int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  lock_ = fd;
  listener_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un address;
  const socklen_t length = wakeAddress(lockPath_, address);
  if (listener_ >= 0 && ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    // The lock is ours, so a bound address is a leftover of nothing we know: run without
    // being woken rather than not at all.
    ::close(listener_);
    listener_ = -1;
  }
  return true;
}

void LinuxInstanceGuard::wakeFirst() {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_un address;
  const socklen_t length = wakeAddress(lockPath_, address);
  const char request = 'w';
  ::sendto(fd, &request, 1, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address), length);
  ::close(fd);
}

bool LinuxInstanceGuard::takeWakeRequests() {
  bool any = false;
  char request;
  while (listener_ >= 0 && ::recv(listener_, &request, 1, MSG_DONTWAIT) >= 0) any = true;
  return any;
}

}  // namespace tonalis::lnx
