// Drawing surfaces of the art generator: an exact-colour pixel canvas for the small
// pixel-art images, and a float RGB(A) image for the glowing artwork (splash, icon).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace art {

using std::size_t;

// 0x00RRGGBB
constexpr uint32_t rgb(int r, int g, int b) {
  return (uint32_t(r & 255) << 16) | (uint32_t(g & 255) << 8) | uint32_t(b & 255);
}
constexpr int red(uint32_t c) { return int(c >> 16) & 255; }
constexpr int green(uint32_t c) { return int(c >> 8) & 255; }
constexpr int blue(uint32_t c) { return int(c) & 255; }

// Pixel canvas, top-down. Out-of-range writes are dropped.
struct Canvas {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  Canvas(int w, int h, uint32_t fill = 0) : width(w), height(h), pixels(size_t(w) * size_t(h), fill) {}
  void set(int x, int y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < width && y < height) pixels[size_t(y) * size_t(width) + size_t(x)] = c;
  }
  uint32_t get(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
  // Right and bottom exclusive.
  void fill(int left, int top, int right, int bottom, uint32_t c);
  // One-pixel border around the whole canvas.
  void frame(uint32_t c);
  // Both end points included.
  void line(int x0, int y0, int x1, int y1, uint32_t c);
};

// Linear-light float colour image with coverage, used for compositing with glow.
struct FloatImage {
  int width = 0;
  int height = 0;
  std::vector<float> r, g, b, a;

  FloatImage(int w, int h);
  size_t index(int x, int y) const { return size_t(y) * size_t(width) + size_t(x); }
  void add(int x, int y, float cr, float cg, float cb, float k);
  // Paints colour over what is there with the given coverage.
  void over(int x, int y, float cr, float cg, float cb, float alpha);
};

// Single-channel coverage mask.
struct Mask {
  int width = 0;
  int height = 0;
  std::vector<float> v;
  Mask(int w, int h) : width(w), height(h), v(size_t(w) * size_t(h), 0.0f) {}
  float at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0.0f;
    return v[size_t(y) * size_t(width) + size_t(x)];
  }
  float& ref(int x, int y) { return v[size_t(y) * size_t(width) + size_t(x)]; }
  void fillRect(float left, float top, float right, float bottom, float value);  // antialiased edges
};

// Approximate Gaussian blur: three box passes in each direction.
Mask blur(const Mask& m, int radius);
// sRGB-ish byte from a linear value with a soft shoulder so bright glow does not clip hard.
int toByte(float v);

}  // namespace art
