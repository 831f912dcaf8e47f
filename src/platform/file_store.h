// Small whole files in the program's folder (the working directory): read at once, and
// replaced so that a crash or a power cut at any moment leaves the old or the new file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tonalis {

enum class FileReadStatus {
  Read,        // `bytes` holds the file's start
  Missing,     // no such file: the first save makes it
  Unreadable,  // the file is there but could not be read (in use, refused, an I/O error,
               // a folder in its place): what it holds is unknown and must not be written over
};

struct FileReadResult {
  FileReadStatus status = FileReadStatus::Missing;
  std::string bytes;  // Read only
  friend bool operator==(const FileReadResult&, const FileReadResult&) = default;
};

class FileStore {
 public:
  virtual ~FileStore() = default;
  // At most `maxBytes` from the start of the file, or why there are none.
  virtual FileReadResult read(std::string_view name, size_t maxBytes) = 0;
  // Writes `bytes` to a temporary file beside `name`, flushes it to the disk and renames it
  // over `name` (write-through). False when any step failed: `name` is then untouched and
  // the temporary file removed.
  virtual bool replace(std::string_view name, std::string_view bytes) = 0;
  // The folder the files are in, UTF-8, as the user would look for it.
  virtual std::string folder() = 0;
  // The file `name` in that folder, the same way.
  virtual std::string path(std::string_view name) = 0;
};

}  // namespace tonalis
