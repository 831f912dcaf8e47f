#include "backend/win32/file_store.h"

#include "backend/win32/util.h"

namespace tonalis::win32 {

namespace {

class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() { close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  bool close() {
    if (!valid()) return true;
    const bool ok = CloseHandle(h_) != FALSE;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

}  // namespace

FileReadResult Win32FileStore::read(std::string_view name, size_t maxBytes) {
  FileHandle file(CreateFileW(widen(name).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    // Only a file that is not there may be made anew: one held open by another program,
    // refused or with a folder in its place keeps its bytes.
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return {missing ? FileReadStatus::Missing : FileReadStatus::Unreadable, {}};
  }
  std::string bytes(maxBytes, '\0');
  size_t got = 0;
  while (got < maxBytes) {
    DWORD n = 0;
    if (!ReadFile(file.get(), bytes.data() + got, DWORD(maxBytes - got), &n, nullptr)) {
      return {FileReadStatus::Unreadable, {}};
    }
    if (n == 0) break;
    got += n;
  }
  bytes.resize(got);
  return {FileReadStatus::Read, std::move(bytes)};
}

bool Win32FileStore::replace(std::string_view name, std::string_view bytes) {
  const std::wstring path = widen(name);
  const std::wstring temporary = path + L".tmp";
  bool written = false;
  {
    FileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    size_t done = 0;
    written = true;
    while (written && done < bytes.size()) {
      DWORD n = 0;
      written = WriteFile(file.get(), bytes.data() + done, DWORD(bytes.size() - done), &n, nullptr) && n > 0;
      done += n;
    }
    // On the disk before the rename: a power cut then leaves the old or the new file,
    // never a renamed empty one.
    written = written && FlushFileBuffers(file.get());
    written = file.close() && written;
  }
  if (written &&
      MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temporary.c_str());
  return false;
}

std::string Win32FileStore::path(std::string_view name) {
  std::string path = folder();
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path + std::string(name);
}

std::string Win32FileStore::folder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) return ".";
  return narrow({buffer, n});
}

}  // namespace tonalis::win32
