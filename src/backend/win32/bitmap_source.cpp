#include "backend/win32/bitmap_source.h"

namespace tonalis::win32 {

std::span<const uint8_t> Win32BitmapSource::bitmapBytes(int id) {
  HRSRC info = FindResourceW(module_, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
  if (!info) return {};
  HGLOBAL handle = LoadResource(module_, info);
  if (!handle) return {};
  const void* data = LockResource(handle);
  const DWORD size = SizeofResource(module_, info);
  if (!data || size == 0) return {};
  // Resources stay mapped while the module is loaded; nothing to free.
  return {static_cast<const uint8_t*>(data), size_t(size)};
}

}  // namespace tonalis::win32
