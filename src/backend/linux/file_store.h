// tonalis.ini and its kind on Linux: in the user's configuration folder
// ($XDG_CONFIG_HOME/tonalis, ~/.config/tonalis by default), replaced durably.
#pragma once

#include <optional>
#include <string>

#include "platform/file_store.h"

namespace tonalis::lnx {

// The settings folder for the given $XDG_CONFIG_HOME and $HOME (either may be unset).
// A relative XDG_CONFIG_HOME is ignored, as the base-directory rules say; nullopt when
// neither gives an absolute folder.
std::optional<std::string> configFolder(const char* xdgConfigHome, const char* home);

class LinuxFileStore : public FileStore {
 public:
  // The folder is created (with its parents) on the first write, not before: a program
  // that only reads its defaults leaves nothing behind.
  explicit LinuxFileStore(std::string folder) : folder_(std::move(folder)) {}
  FileReadResult read(std::string_view name, size_t maxBytes) override;
  // Temporary file beside the target, fsync, rename over it, fsync of the folder: after a
  // power cut the folder holds the old file or the new one.
  bool replace(std::string_view name, std::string_view bytes) override;
  std::string folder() override { return folder_; }
  std::string path(std::string_view name) override { return folder_ + "/" + std::string(name); }

 private:
  std::string folder_;
};

}  // namespace tonalis::lnx
