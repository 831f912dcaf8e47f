#include "artwork.h"

#include <qrencode.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "font_raster.h"
#include "pixel_font.h"

namespace art {

namespace {

constexpr uint32_t DimGrey = rgb(64, 64, 64);     // frame of an inactive icon
constexpr uint32_t UnlitGrey = rgb(40, 40, 40);   // unlit cells in the grey miniatures
constexpr uint32_t UnlitOrange = rgb(80, 32, 0);  // unlit cells in the orange miniatures
constexpr uint32_t GhostMagenta = rgb(52, 0, 52); // unlit digit segments

// Label: a one-pixel frame and centred 7-row text.
Canvas label(int width, const char* text, uint32_t colour, int spacing) {
  Canvas c(width, 13);
  c.frame(colour);
  int w = textWidth(PixelFont::Tall7, text, spacing);
  drawText(c, PixelFont::Tall7, (width - w) / 2, 3, text, colour, spacing);
  return c;
}

}  // namespace

Canvas titleLabel() {
  Canvas c(97, 13);
  c.frame(Cyan);
  // A small spectrum emblem, then the name with open letter spacing.
  const char* name = "TONALIS";
  const int spacing = 2, emblemWidth = 11, gap = 5;
  int textW = textWidth(PixelFont::Tall7, name, spacing);
  int x = (97 - (emblemWidth + gap + textW)) / 2;
  const int heights[4] = {4, 7, 5, 6};
  for (int i = 0; i < 4; ++i) c.fill(x + 3 * i, 10 - heights[i], x + 3 * i + 2, 10, Cyan);
  drawText(c, PixelFont::Tall7, x + emblemWidth + gap, 3, name, Cyan, spacing);
  return c;
}

Canvas captionLabel() { return label(27, "ms", Green, 1); }

Canvas versionLabel() { return label(27, "V1.0", Violet, 1); }

Canvas styleIcon(StyleIcon style, bool lit) {
  Canvas c(28, 13);
  const uint32_t ink = lit ? Orange : Grey;
  const uint32_t unlit = lit ? UnlitOrange : UnlitGrey;
  c.frame(lit ? Orange : DimGrey);
  // Seven 2-pixel bands at x 4, 7, ..., 22; five 1-pixel cell rows at y 10, 8, 6, 4, 2.
  auto cell = [&](int band, int row, uint32_t col) { c.fill(4 + 3 * band, 10 - 2 * row, 6 + 3 * band, 11 - 2 * row, col); };
  const int levels[7] = {3, 5, 4, 5, 3, 2, 1};
  switch (style) {
    case StyleIcon::Block:
      for (int b = 0; b < 7; ++b)
        for (int r = 0; r < 5; ++r) cell(b, r, r < levels[b] ? ink : unlit);
      break;
    case StyleIcon::TopBlock: {
      const int bars[7] = {2, 3, 2, 3, 1, 1, 0};
      for (int b = 0; b < 7; ++b)
        for (int r = 0; r < 5; ++r) cell(b, r, (r < bars[b] || r == levels[b] - 1) ? ink : unlit);
      break;
    }
    case StyleIcon::Bar: {
      const int heights[7] = {5, 8, 7, 9, 6, 4, 2};
      for (int b = 0; b < 7; ++b) c.fill(4 + 3 * b, 11 - heights[b], 6 + 3 * b, 11, ink);
      break;
    }
    case StyleIcon::Floating:
      for (int b = 0; b < 7; ++b)
        for (int r = 0; r < 5; ++r) cell(b, r, r == levels[b] - 1 ? ink : unlit);
      break;
    case StyleIcon::Dots: {
      // Single-pixel dots on a finer pitch: eight columns at x 3, 6, ..., 24.
      const int dots[8] = {3, 5, 4, 5, 4, 3, 2, 1};
      for (int b = 0; b < 8; ++b)
        for (int r = 0; r < dots[b]; ++r) c.set(3 + 3 * b, 10 - 2 * r, ink);
      break;
    }
    case StyleIcon::Waveform: {
      const int pts[][2] = {{2, 10}, {4, 5}, {6, 7}, {8, 2}, {10, 6}, {12, 4}, {14, 7},
                            {16, 5}, {18, 8}, {20, 7}, {22, 9}, {25, 10}};
      for (size_t i = 0; i + 1 < std::size(pts); ++i) c.line(pts[i][0], pts[i][1], pts[i + 1][0], pts[i + 1][1], ink);
      break;
    }
  }
  return c;
}

Canvas indicatorIcon(Indicator kind, bool on) {
  Canvas c(26, 13);
  const uint32_t ink = on ? Orange : Grey;
  c.frame(on ? Orange : DimGrey);
  switch (kind) {
    case Indicator::Board:
      // A chip seen from above: body, four legs on each side, the pin-1 notch.
      c.fill(8, 4, 18, 9, ink);
      for (int x : {9, 11, 14, 16}) {
        c.fill(x, 2, x + 1, 4, ink);
        c.fill(x, 9, x + 1, 11, ink);
      }
      c.set(8, 6, Black);
      break;
    case Indicator::Pin:
      c.fill(10, 2, 15, 3, ink);
      c.fill(11, 3, 14, 6, ink);
      c.fill(9, 6, 16, 7, ink);
      c.fill(12, 7, 13, 11, ink);
      break;
    case Indicator::Pointer: {
      const char* rows[9] = {"#....", "##...", "###..", "####.", "#####", "###..", "#.##.", "..##.", "...##"};
      for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 5; ++x)
          if (rows[y][x] == '#') c.set(11 + x, 2 + y, ink);
      break;
    }
  }
  return c;
}

Canvas gridIcon() {
  Canvas c(28, 13);
  c.frame(DimGrey);
  for (int x : {3, 10, 17, 24}) c.line(x, 2, x, 10, Grey);
  for (int y : {2, 6, 10}) c.line(3, y, 24, y, Grey);
  return c;
}

Canvas activityImage(int frame) {
  Canvas c(12, 13);
  c.frame(Violet);
  if (frame < 0) {
    c.fill(4, 4, 9, 9, White);
    return c;
  }
  static constexpr int greys[6] = {255, 224, 192, 153, 112, 77};
  const uint32_t ink = rgb(greys[frame], greys[frame], greys[frame]);
  for (int i = 0; i < 9; ++i) c.fill(4, 2 + i, 5 + std::min(i, 8 - i), 3 + i, ink);
  return c;
}

Canvas scaleImage() {
  Canvas c(429, 7);
  static constexpr const char* labels[24] = {"32",  "64",  "96",  "128", "160", "192", "256", "320",
                                             "384", "448", "512", "576", "640", "704", "768", "832",
                                             "896", "960", "1k",  "2k",  "3k",  "4k",  "8k",  "16k"};
  for (int b = 0; b < 24; ++b) {
    // Column b covers scale x 1 + 18b .. 15 + 18b; its middle pixel is 8 + 18b, and labels
    // have odd widths so they centre exactly.
    int w = textWidth(PixelFont::Small5, labels[b]);
    drawText(c, PixelFont::Small5, 8 + 18 * b - w / 2, 1, labels[b], LightGrey);
  }
  return c;
}

Canvas readoutFrame() {
  Canvas c(23, 13);
  c.frame(Magenta);
  return c;
}

Canvas digitImage(int digit) {
  // Segments a..g: top, upper right, lower right, bottom, lower left, upper left, middle.
  static constexpr uint8_t segments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
  Canvas c(5, 7);
  auto seg = [&](int s, uint32_t col) {
    switch (s) {
      case 0: c.fill(1, 0, 4, 1, col); break;
      case 1: c.fill(4, 1, 5, 3, col); break;
      case 2: c.fill(4, 4, 5, 6, col); break;
      case 3: c.fill(1, 6, 4, 7, col); break;
      case 4: c.fill(0, 4, 1, 6, col); break;
      case 5: c.fill(0, 1, 1, 3, col); break;
      default: c.fill(1, 3, 4, 4, col); break;
    }
  };
  for (int s = 0; s < 7; ++s) seg(s, (segments[digit] >> s) & 1 ? Magenta : GhostMagenta);
  return c;
}

}  // namespace art

namespace art {

namespace {

struct Colour {
  float r, g, b;
};

Colour mix(Colour a, Colour b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

// Hue ramp of the artwork: cyan through azure and violet to magenta.
Colour spectrumColour(float t) {
  static constexpr Colour stops[] = {{0.0f, 0.95f, 1.0f}, {0.15f, 0.55f, 1.0f}, {0.55f, 0.25f, 1.0f}, {1.0f, 0.2f, 0.85f}};
  t = std::clamp(t, 0.0f, 1.0f) * 3.0f;
  int i = std::min(2, int(t));
  return mix(stops[i], stops[i + 1], t - float(i));
}

void addMask(FloatImage& img, const Mask& m, Colour c, float k) {
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      float v = m.at(x, y);
      if (v > 0) img.add(x, y, c.r, c.g, c.b, v * k);
    }
}

Canvas toCanvas(const FloatImage& img) {
  Canvas c(img.width, img.height);
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      size_t i = img.index(x, y);
      c.set(x, y, rgb(toByte(img.r[i]), toByte(img.g[i]), toByte(img.b[i])));
    }
  return c;
}

}  // namespace

Canvas splashImage(const FontFiles& fonts) {
  constexpr int W = 443, H = 145, Floor = 110;
  FloatImage img(W, H);

  // Background: black edges (they vanish under a colour key) with a faint blue haze
  // rising from the floor.
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      float dx = (float(x) - 221.0f) / 250.0f, dy = (float(y) - float(Floor)) / 95.0f;
      float v = std::max(0.0f, 1.0f - std::sqrt(dx * dx + dy * dy));
      v = v * v;
      img.add(x, y, 0.03f, 0.05f, 0.13f, v);
    }

  // The bars sit exactly where the live window draws its band columns, so the splash
  // hands over to the spectrum without a jump: column b at x 7 + 18b, 15 wide, cells
  // 4 high on a 6-pixel pitch.
  static constexpr int levels[24] = {6, 8, 10, 9, 7, 9, 8, 6, 7, 8, 6, 5, 6, 7, 5, 4, 5, 6, 4, 3, 4, 3, 2, 2};
  static constexpr int peaks[24] = {8, 9, 10, 10, 9, 10, 9, 8, 8, 9, 8, 7, 7, 8, 7, 6, 6, 7, 6, 5, 5, 4, 4, 3};
  constexpr int Rows = 10;
  Mask lit(W, H);
  FloatImage bars(W, H);
  for (int b = 0; b < 24; ++b) {
    int x0 = 7 + 18 * b;
    Colour base = spectrumColour(float(b) / 23.0f);
    for (int j = 0; j < Rows; ++j) {
      int top = Floor - 6 * j - 4;
      bool on = j < levels[b];
      bool peak = j == peaks[b] - 1 && peaks[b] > levels[b];
      for (int y = top; y < top + 4; ++y)
        for (int x = x0; x < x0 + 15; ++x) {
          if (on) {
            // Brighter towards the top of the bar, with a lit upper edge on each cell.
            float lift = 0.55f + 0.45f * float(j + 1) / float(levels[b]);
            float edge = (y == top) ? 1.25f : 1.0f;
            Colour c = mix(base, {1, 1, 1}, j == levels[b] - 1 ? 0.25f : 0.0f);
            bars.add(x, y, c.r, c.g, c.b, lift * edge);
            lit.ref(x, y) = 1;
          } else if (peak) {
            Colour c = mix(base, {1, 1, 1}, 0.6f);
            if (y >= top + 1 && y < top + 3) {
              bars.add(x, y, c.r, c.g, c.b, 1.1f);
              lit.ref(x, y) = 1;
            }
          } else {
            bars.add(x, y, 0.035f, 0.045f, 0.08f, 1.0f);  // unlit cell, like the live panel
          }
        }
    }
  }

  // Glow: the lit cells' colours blurred at two radii.
  Mask blurR(W, H), blurG(W, H), blurB(W, H);
  for (size_t i = 0; i < lit.v.size(); ++i) {
    float k = lit.v[i];
    blurR.v[i] = bars.r[i] * k;
    blurG.v[i] = bars.g[i] * k;
    blurB.v[i] = bars.b[i] * k;
  }
  Mask nearR = blur(blurR, 3), nearG = blur(blurG, 3), nearB = blur(blurB, 3);
  Mask farR = blur(blurR, 11), farG = blur(blurG, 11), farB = blur(blurB, 11);
  for (size_t i = 0; i < img.r.size(); ++i) {
    img.r[i] += bars.r[i] + 0.55f * nearR.v[i] + 0.45f * farR.v[i];
    img.g[i] += bars.g[i] + 0.55f * nearG.v[i] + 0.45f * farG.v[i];
    img.b[i] += bars.b[i] + 0.55f * nearB.v[i] + 0.45f * farB.v[i];
  }

  // Floor line and the reflection of the bars in it, fading down.
  for (int x = 0; x < W; ++x) {
    float t = float(x) / float(W - 1);
    float fade = std::sin(3.14159265f * t);
    Colour c = spectrumColour(t);
    img.add(x, Floor, c.r, c.g, c.b, 0.55f * fade);
    img.add(x, Floor + 1, c.r, c.g, c.b, 0.15f * fade);
  }
  for (int k = 0; Floor + 2 + k < H; ++k) {
    int src = Floor - 1 - k, dst = Floor + 2 + k;
    float f = 0.32f * std::pow(1.0f - float(k) / float(H - Floor - 2), 2.0f);
    for (int x = 0; x < W; ++x) {
      size_t i = img.index(x, src);
      float glowR = 0.5f * nearR.v[i], glowG = 0.5f * nearG.v[i], glowB = 0.5f * nearB.v[i];
      img.add(x, dst, bars.r[i] * lit.v[i] + glowR, bars.g[i] * lit.v[i] + glowG, bars.b[i] * lit.v[i] + glowB, f);
    }
  }

  // Lettering: the name, large, with a dark halo that separates it from the glow, a cyan
  // bloom, and a white-to-ice gradient fill; the version small beside it.
  FontRaster font;
  if (!font.open(fonts.latinBold, fonts.latinBoldIndex)) throw std::runtime_error("cannot open " + fonts.latinBold);
  const std::u32string name = U"Tonalis", version = U"1.0";
  Mask nameMask(W, H), versionMask(W, H);
  font.setSize(50, false);
  const int tracking = 1;
  int nameW = font.width(name, tracking);
  font.setSize(17, false);
  int versionW = font.width(version, 1);
  int x = (W - (nameW + 6 + versionW)) / 2;
  const int baseline = 47;
  font.setSize(50, false);
  int after = font.draw(nameMask, x, baseline, name, tracking);
  font.setSize(17, false);
  font.draw(versionMask, after + 6 - tracking, baseline, version, 1);

  Mask letters(W, H);
  for (size_t i = 0; i < letters.v.size(); ++i) letters.v[i] = std::max(nameMask.v[i], versionMask.v[i]);
  Mask halo = blur(letters, 2);
  for (size_t i = 0; i < img.r.size(); ++i) {
    float k = 1.0f - std::min(1.0f, 1.6f * halo.v[i]);
    img.r[i] *= k;
    img.g[i] *= k;
    img.b[i] *= k;
  }
  addMask(img, blur(nameMask, 6), {0.0f, 0.75f, 1.0f}, 0.9f);
  addMask(img, blur(versionMask, 4), {0.7f, 0.3f, 1.0f}, 1.0f);
  for (int y = 0; y < H; ++y)
    for (int xx = 0; xx < W; ++xx) {
      float v = nameMask.at(xx, y);
      if (v > 0) {
        float t = std::clamp((float(y) - 12.0f) / 36.0f, 0.0f, 1.0f);
        Colour c = mix({1.0f, 1.0f, 1.0f}, {0.55f, 0.92f, 1.0f}, t);
        img.over(xx, y, c.r, c.g, c.b, v);
      }
      float w = versionMask.at(xx, y);
      if (w > 0) img.over(xx, y, 0.85f, 0.75f, 1.0f, w);
    }
  return toCanvas(img);
}

namespace {

// The tile on a grid of `unit` pixels a step of its 48-pixel design (`size` is 48 * unit).
std::vector<uint32_t> drawAppIcon(int size, int unit) {
  // A rounded dark tile holding a miniature of the panel: five segmented bars in the
  // artwork's hue ramp with white peak caps. Corner coverage is supersampled 4 x 4.
  const float s = float(size), radius = s * 0.2f;
  FloatImage img(size, size);
  std::vector<float> alpha(size_t(size) * size_t(size));
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      int inside = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
          float px = float(x) + (float(sx) + 0.5f) / 4.0f, py = float(y) + (float(sy) + 0.5f) / 4.0f;
          float cx = std::clamp(px, radius, s - radius), cy = std::clamp(py, radius, s - radius);
          float dx = px - cx, dy = py - cy;
          if (dx * dx + dy * dy <= radius * radius) ++inside;
        }
      alpha[img.index(x, y)] = float(inside) / 16.0f;
      float t = float(y) / s;
      Colour bg = mix({0.07f, 0.09f, 0.22f}, {0.01f, 0.01f, 0.05f}, t);
      img.add(x, y, bg.r, bg.g, bg.b, 1.0f);
    }

  const int bars = 5, barW = 6 * unit, gap = 2 * unit;
  const int left = (size - (bars * barW + (bars - 1) * gap)) / 2;
  const int floor = size - 9 * unit;
  const int levels[bars] = {6, 8, 5, 7, 4};
  const int peaks[bars] = {8, 9, 7, 9, 6};
  Mask glow(size, size);
  FloatImage ink(size, size);
  for (int b = 0; b < bars; ++b) {
    Colour c = spectrumColour(float(b) / float(bars - 1));
    int x0 = left + b * (barW + gap);
    for (int j = 0; j < peaks[b]; ++j) {
      int top = floor - 4 * unit * j - 3 * unit;
      bool on = j < levels[b], peak = j == peaks[b] - 1;
      if (!on && !peak) continue;
      Colour col = peak ? Colour{1.0f, 1.0f, 1.0f} : mix(c, {1, 1, 1}, 0.15f * float(j) / float(levels[b]));
      for (int y = peak ? top + unit : top; y < top + 3 * unit; ++y)  // peak caps are thinner
        for (int x = x0; x < x0 + barW; ++x) {
          ink.add(x, y, col.r, col.g, col.b, 1.0f);
          glow.ref(x, y) = 1.0f;
        }
    }
  }
  Mask soft = blur(glow, 2 * unit);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      size_t i = img.index(x, y);
      img.add(x, y, 0.2f, 0.5f, 1.0f, 0.35f * soft.v[i]);
      if (glow.v[i] > 0) img.over(x, y, ink.r[i], ink.g[i], ink.b[i], 1.0f);
    }
  // A thin light rim makes the tile read on dark taskbars too.
  std::vector<uint32_t> out(size_t(size) * size_t(size));
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      size_t i = img.index(x, y);
      float a = alpha[i];
      auto clear = [&](int nx, int ny) { return nx < 0 || ny < 0 || nx >= size || ny >= size || alpha[img.index(nx, ny)] == 0; };
      bool rim = a > 0 && (clear(x - unit, y) || clear(x + unit, y) || clear(x, y - unit) || clear(x, y + unit));
      float r = img.r[i], g = img.g[i], b = img.b[i];
      if (rim) {
        r += 0.12f;
        g += 0.16f;
        b += 0.3f;
      }
      uint32_t av = uint32_t(std::lround(a * 255.0f));
      out[i] = (av << 24) | rgb(toByte(r), toByte(g), toByte(b));
    }
  return out;
}

}  // namespace

std::vector<uint32_t> appIcon(int size) {
  // Drawn at the smallest multiple of the design that `size` divides, then averaged down
  // (in premultiplied alpha); 48 is drawn as it is.
  int unit = 1;
  while ((48 * unit) % size != 0) ++unit;
  const int big = 48 * unit, factor = big / size;
  std::vector<uint32_t> full = drawAppIcon(big, unit);
  if (factor == 1) return full;
  std::vector<uint32_t> out(size_t(size) * size_t(size));
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      uint32_t a = 0, r = 0, g = 0, b = 0;
      for (int sy = 0; sy < factor; ++sy)
        for (int sx = 0; sx < factor; ++sx) {
          const uint32_t p = full[size_t(y * factor + sy) * size_t(big) + size_t(x * factor + sx)];
          const uint32_t pa = p >> 24;
          a += pa;
          r += ((p >> 16) & 255) * pa;
          g += ((p >> 8) & 255) * pa;
          b += (p & 255) * pa;
        }
      const uint32_t n = uint32_t(factor * factor);
      if (a == 0) continue;
      out[size_t(y) * size_t(size) + size_t(x)] = (((a + n / 2) / n) << 24) | (((r + a / 2) / a) << 16) |
                                                  (((g + a / 2) / a) << 8) | ((b + a / 2) / a);
    }
  return out;
}

Canvas aboutPicture(const FontFiles& fonts, const std::string& address) {
  constexpr int W = 200, H = 100;
  Canvas c(W, H, White);

  // QR code on the right, 3 pixels a module, on the white ground that doubles as its quiet
  // zone: the smallest symbol that holds the address as bytes, with the lowest error
  // correction, so the modules stay large enough for a phone at arm's length.
  const std::unique_ptr<QRcode, void (*)(QRcode*)> qr(
      QRcode_encodeData(int(address.size()), reinterpret_cast<const unsigned char*>(address.data()), 0, QR_ECLEVEL_L),
      QRcode_free);
  if (!qr) throw std::runtime_error("cannot make a QR code of " + address);
  const int module = 3, modules = qr->width, qrSize = modules * module;
  const int qx = W - 5 - qrSize, qy = (H - qrSize) / 2;
  if (qy < 4 || qx < W / 2) throw std::runtime_error("the QR code of " + address + " does not fit the picture");
  for (int y = 0; y < modules; ++y)
    for (int x = 0; x < modules; ++x)
      if (qr->data[y * modules + x] & 1) c.fill(qx + x * module, qy + y * module, qx + (x + 1) * module, qy + (y + 1) * module, Black);

  // The paragraph on the left, wrapped by character; closing punctuation never starts a line.
  FontRaster font;
  if (!font.open(fonts.cjk, fonts.cjkIndex)) throw std::runtime_error("cannot open " + fonts.cjk);
  font.setSize(12, true);
  const std::u32string text = fromUtf8(
      "Tonalis 是一款实时音频频谱软件。用手机扫描右侧二维码或点击下方链接，"
      "了解软件与 USB HID 频谱显示板的更多信息，欢迎留下建议。");
  const int left = 4, right = qx - 8, lineHeight = 13;
  auto isClosing = [](char32_t ch) { return std::u32string_view(U"，。！？、；：）").find(ch) != std::u32string_view::npos; };
  auto isWordChar = [](char32_t ch) { return ch < 128 && ch != U' '; };
  std::vector<std::u32string> lines(1);
  for (size_t i = 0; i < text.size();) {
    size_t j = i + 1;
    if (isWordChar(text[i]))
      while (j < text.size() && isWordChar(text[j])) ++j;
    while (j < text.size() && isClosing(text[j])) ++j;
    std::u32string token = text.substr(i, j - i);
    std::u32string candidate = lines.back() + token;
    if (!lines.back().empty() && font.width(candidate) > right - left) {
      if (token == U" ") {
        i = j;
        continue;
      }
      lines.emplace_back();
      candidate = token;
    }
    lines.back() = candidate;
    i = j;
  }
  if (int(lines.size()) * lineHeight > H) throw std::runtime_error("the About text does not fit beside the QR code");
  const int top = (H - int(lines.size()) * lineHeight) / 2;
  Mask ink(W, H);
  for (size_t l = 0; l < lines.size(); ++l) font.draw(ink, left, top + int(l) * lineHeight + 10, lines[l]);
  // The product name at the start of the paragraph in the link blue of the dialog.
  const int nameRight = left + font.width(U"Tonalis");
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      float v = ink.at(x, y);
      if (v <= 0) continue;
      bool name = x < nameRight && y < top + lineHeight;
      uint32_t inkColour = name ? rgb(0, 80, 200) : rgb(34, 34, 34);
      auto blend = [v](int ink, int ground) { return int(std::lround(float(ground) + v * float(ink - ground))); };
      c.set(x, y, rgb(blend(red(inkColour), 255), blend(green(inkColour), 255), blend(blue(inkColour), 255)));
    }
  return c;
}

}  // namespace art
