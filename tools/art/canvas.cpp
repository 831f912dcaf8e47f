#include "canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace art {

void Canvas::fill(int left, int top, int right, int bottom, uint32_t c) {
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) set(x, y, c);
}

void Canvas::frame(uint32_t c) {
  for (int x = 0; x < width; ++x) {
    set(x, 0, c);
    set(x, height - 1, c);
  }
  for (int y = 0; y < height; ++y) {
    set(0, y, c);
    set(width - 1, y, c);
  }
}

void Canvas::line(int x0, int y0, int x1, int y1, uint32_t c) {
  int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    set(x0, y0, c);
    if (x0 == x1 && y0 == y1) break;
    int e2 = 2 * err;
    if (e2 >= dy) { err += dy; x0 += sx; }
    if (e2 <= dx) { err += dx; y0 += sy; }
  }
}

FloatImage::FloatImage(int w, int h)
    : width(w), height(h), r(size_t(w) * size_t(h)), g(r.size()), b(r.size()), a(r.size()) {}

void FloatImage::add(int x, int y, float cr, float cg, float cb, float k) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  size_t i = index(x, y);
  r[i] += cr * k;
  g[i] += cg * k;
  b[i] += cb * k;
}

void FloatImage::over(int x, int y, float cr, float cg, float cb, float alpha) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  size_t i = index(x, y);
  r[i] = r[i] * (1 - alpha) + cr * alpha;
  g[i] = g[i] * (1 - alpha) + cg * alpha;
  b[i] = b[i] * (1 - alpha) + cb * alpha;
  a[i] = a[i] * (1 - alpha) + alpha;
}

void Mask::fillRect(float left, float top, float right, float bottom, float value) {
  int x0 = std::max(0, int(std::floor(left))), x1 = std::min(width, int(std::ceil(right)));
  int y0 = std::max(0, int(std::floor(top))), y1 = std::min(height, int(std::ceil(bottom)));
  for (int y = y0; y < y1; ++y) {
    float cy = std::min(float(y + 1), bottom) - std::max(float(y), top);
    for (int x = x0; x < x1; ++x) {
      float cx = std::min(float(x + 1), right) - std::max(float(x), left);
      float& p = ref(x, y);
      p = std::max(p, value * std::clamp(cx, 0.0f, 1.0f) * std::clamp(cy, 0.0f, 1.0f));
    }
  }
}

namespace {
void boxPass(std::vector<float>& v, int w, int h, int radius, bool horizontal) {
  std::vector<float> out(v.size());
  int n = horizontal ? w : h, lines = horizontal ? h : w;
  float norm = 1.0f / float(2 * radius + 1);
  for (int l = 0; l < lines; ++l) {
    auto at = [&](int i) -> float {
      if (i < 0 || i >= n) return 0.0f;
      return horizontal ? v[size_t(l) * size_t(w) + size_t(i)] : v[size_t(i) * size_t(w) + size_t(l)];
    };
    float sum = 0;
    for (int i = -radius; i <= radius; ++i) sum += at(i);
    for (int i = 0; i < n; ++i) {
      size_t o = horizontal ? size_t(l) * size_t(w) + size_t(i) : size_t(i) * size_t(w) + size_t(l);
      out[o] = sum * norm;
      sum += at(i + radius + 1) - at(i - radius);
    }
  }
  v.swap(out);
}
}  // namespace

Mask blur(const Mask& m, int radius) {
  Mask out = m;
  if (radius <= 0) return out;
  for (int pass = 0; pass < 3; ++pass) {
    boxPass(out.v, out.width, out.height, radius, true);
    boxPass(out.v, out.width, out.height, radius, false);
  }
  return out;
}

int toByte(float v) {
  if (v <= 0) return 0;
  // Linear up to 0.8, then a smooth shoulder towards 1.
  float s = v < 0.8f ? v : 0.8f + 0.2f * (1.0f - std::exp(-(v - 0.8f) / 0.2f));
  return std::clamp(int(std::lround(s * 255.0f)), 0, 255);
}

}  // namespace art
