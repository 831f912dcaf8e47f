// Small whole files in the program's folder (the working directory): read at once, and
// replaced so that a crash or a power cut at any moment leaves the old or the new file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tonalis {

class FileStore {
 public:
  virtual ~FileStore() = default;
  // At most `maxBytes` from the start of the file; nullopt when it cannot be opened or read.
  virtual std::optional<std::string> read(std::string_view name, size_t maxBytes) = 0;
  // Writes `bytes` to a temporary file beside `name`, flushes it to the disk and renames it
  // over `name` (write-through). False when any step failed: `name` is then untouched and
  // the temporary file removed.
  virtual bool replace(std::string_view name, std::string_view bytes) = 0;
  // The folder the files are in, UTF-8, as the user would look for it.
  virtual std::string folder() = 0;
};

}  // namespace tonalis
