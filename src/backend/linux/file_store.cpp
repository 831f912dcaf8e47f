#include "backend/linux/file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace tonalis::lnx {
namespace {

// Closes a descriptor on every path out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool close() {  // false when the kernel reports a late write error
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool makeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(size_t(n));
  }
  return true;
}

}  // namespace

std::optional<std::string> configFolder(const char* xdgConfigHome, const char* home) {
  if (xdgConfigHome && xdgConfigHome[0] == '/') return std::string(xdgConfigHome) + "/tonalis";
  if (home && home[0] == '/') {
    std::string folder(home);
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder == "/") folder.clear();
    return folder + "/.config/tonalis";
  }
  return std::nullopt;
}

FileReadResult LinuxFileStore::read(std::string_view name, size_t maxBytes) {
  const std::string path = this->path(name);
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    // Only a file that is not there may be made anew; anything else keeps its bytes.
    const bool missing = errno == ENOENT || errno == ENOTDIR;
    return {missing ? FileReadStatus::Missing : FileReadStatus::Unreadable, {}};
  }
  std::string bytes(maxBytes, '\0');
  size_t got = 0;
  while (got < maxBytes) {
    const ssize_t n = ::read(fd.get(), bytes.data() + got, maxBytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {FileReadStatus::Unreadable, {}};  // EIO, or EISDIR for a folder
    if (n == 0) break;
    got += size_t(n);
  }
  bytes.resize(got);
  return {FileReadStatus::Read, std::move(bytes)};
}

bool LinuxFileStore::replace(std::string_view name, std::string_view bytes) {
  if (!makeFolders(folder_)) return false;
  const std::string path = this->path(name);
  const std::string temporary = path + ".tmp";
  Fd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.get() < 0) return false;
  const bool written = writeAll(out.get(), bytes) && ::fsync(out.get()) == 0 && out.close();
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder's entry.
  Fd dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

}  // namespace tonalis::lnx
