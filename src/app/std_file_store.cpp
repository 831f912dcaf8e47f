#include "app/std_file_store.h"

#include <fstream>
#include <system_error>

namespace tonalis {

FileReadResult StdFileStore::read(std::string_view name, size_t maxBytes) {
  const std::filesystem::path file = folder_ / name;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(file, error);
  if (status.type() == std::filesystem::file_type::not_found) return {FileReadStatus::Missing, {}};
  // A folder opens as a stream on some systems and reads as nothing: not a file we may replace.
  if (error || std::filesystem::is_directory(status)) return {FileReadStatus::Unreadable, {}};
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) return {FileReadStatus::Unreadable, {}};
  std::string bytes(maxBytes, '\0');
  in.read(bytes.data(), std::streamsize(bytes.size()));
  if (in.bad()) return {FileReadStatus::Unreadable, {}};
  bytes.resize(size_t(in.gcount()));
  return {FileReadStatus::Read, std::move(bytes)};
}

bool StdFileStore::replace(std::string_view name, std::string_view bytes) {
  const std::filesystem::path path = folder_ / name;
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  std::error_code ignored;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return false;
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.flush();
    const bool written = out.good();
    out.close();
    if (!written || out.fail()) {
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  // A reader (or the next start after a crash) sees the old file or the new one.
  std::error_code renamed;
  std::filesystem::rename(temporary, path, renamed);
  if (renamed) {
    std::filesystem::remove(temporary, ignored);
    return false;
  }
  return true;
}

}  // namespace tonalis
