#include "app/std_file_store.h"

#include <fstream>
#include <system_error>

namespace tonalis {

std::optional<std::string> StdFileStore::read(std::string_view name, size_t maxBytes) {
  std::ifstream in(folder_ / name, std::ios::binary);
  if (!in.is_open()) return std::nullopt;
  std::string bytes(maxBytes, '\0');
  in.read(bytes.data(), std::streamsize(bytes.size()));
  if (in.bad()) return std::nullopt;
  bytes.resize(size_t(in.gcount()));
  return bytes;
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
