// FileStore over the C++ standard library, for the native build and its tests. It
// replaces by writing a temporary file and renaming it; it cannot flush to the disk.
#pragma once

#include <filesystem>

#include "platform/file_store.h"

namespace tonalis {

class StdFileStore : public FileStore {
 public:
  explicit StdFileStore(std::filesystem::path folder) : folder_(std::move(folder)) {}
  FileReadResult read(std::string_view name, size_t maxBytes) override;
  bool replace(std::string_view name, std::string_view bytes) override;
  std::string folder() override { return folder_.string(); }
  std::string path(std::string_view name) override { return (folder_ / name).string(); }

 private:
  std::filesystem::path folder_;
};

}  // namespace tonalis
