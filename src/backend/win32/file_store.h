// FileStore in the working directory: reads with CreateFileW/ReadFile, replaces through a
// flushed temporary file renamed over the old one with write-through.
#pragma once

#include <windows.h>

#include "platform/file_store.h"

namespace tonalis::win32 {

class Win32FileStore : public FileStore {
 public:
  FileReadResult read(std::string_view name, size_t maxBytes) override;
  bool replace(std::string_view name, std::string_view bytes) override;
  std::string folder() override;
  std::string path(std::string_view name) override;
};

}  // namespace tonalis::win32
