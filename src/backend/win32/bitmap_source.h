// The Windows program's bitmap source: RT_BITMAP resources of a module, as packed DIBs.
#pragma once

#include <windows.h>

#include <span>

#include "platform/bitmap_source.h"

namespace tonalis::win32 {

class Win32BitmapSource final : public BitmapSource {
 public:
  // `module` null means the program's own executable.
  explicit Win32BitmapSource(HMODULE module = nullptr) : module_(module) {}

  // The resource's bytes (BITMAPINFOHEADER, colour table, pixels), valid for the life of
  // the module; empty when the module has no such bitmap.
  std::span<const uint8_t> bitmapBytes(int id) override;

 private:
  HMODULE module_;
};

}  // namespace tonalis::win32
