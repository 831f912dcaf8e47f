// Shared vocabulary of the whole program: enums with their stored values,
// colours, rectangles and the fixed sizes every subsystem agrees on.
#pragma once

#include <array>
#include <cstdint>

namespace tonalis {

enum class DisplayMode : int32_t { Window = 0, FullScreen = 1, Desktop = 2 };

// The stored values of these four are what tonalis.ini holds; values outside the
// named range can reach the code from a hand-edited file and are handled where used.
enum SpectrumStyle : int32_t { Block = 1, TopBlock = 2, Bar = 3, Floating = 4, Dots = 5, Waveform = 6 };
enum TransparencyMode : int32_t {
  Opaque = 0, Alpha20 = 1, Alpha40 = 2, Alpha60 = 3, Alpha80 = 4, NoBackground = 5, Minimal = 6
};
enum ColorTheme : int32_t { White = 1, Green = 2, Sky = 3, Purple = 4, Autumn = 5 };
enum FullScreenPosition : int32_t { Center = 0, Upper = 1, Lower = 2, Stretch = 3 };

inline constexpr int BandCount = 24;
inline constexpr int CellRows = 17;          // level cells per band; 17 is full scale
inline constexpr int SpectrumLineLength = 429; // one value per FFT bin, 0 .. 13 696 Hz
inline constexpr int DesignWidth = 443;      // window-mode picture width in pixels
inline constexpr int WindowWidth = 443;      // drawing area (client) size in pixels
inline constexpr int WindowHeight = 145;

// A colour as 0x00RRGGBB: the layout of a frame-buffer pixel.
using Rgb = uint32_t;
constexpr Rgb rgb(uint8_t r, uint8_t g, uint8_t b) {
  return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}

struct Point {
  int32_t x = 0, y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// Left, top, right, bottom; right and bottom are exclusive.
struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  bool contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// One monitor in virtual-screen pixels (the primary monitor's top-left is 0, 0 on Windows;
// anywhere on X11). The work area is what taskbars and panels leave free. `scale` is the
// system's scale for the monitor, 1.0 where it says none.
struct Monitor {
  Rect area;
  Rect workArea;
  bool primary = false;
  double scale = 1.0;
  friend bool operator==(const Monitor&, const Monitor&) = default;
};

using BandLevels = std::array<int32_t, BandCount>;   // levels truncated toward zero
using BoardLevels = std::array<uint8_t, BandCount>;   // shown heights 0..17

}  // namespace tonalis

namespace tonalis {

// A frame buffer's memory: 32-bit 0x00RRGGBB words, top-down, `width` words a row.
// This is the layout of a 32-bpp DIB section, so presentation wraps it without a copy.
struct PixelView {
  uint32_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
};

}  // namespace tonalis
