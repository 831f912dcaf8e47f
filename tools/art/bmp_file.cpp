#include "bmp_file.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <map>

namespace art {

namespace {

void put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// Palette in a stable order: black first, then ascending colour value.
std::vector<uint32_t> sortedColours(const std::vector<uint32_t>& pixels) {
  std::vector<uint32_t> colours(pixels);
  std::sort(colours.begin(), colours.end());
  colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
  return colours;
}

struct Box {
  std::vector<std::pair<uint32_t, uint32_t>> colours;  // colour, count
  int channelRange(int shift) const {
    int lo = 255, hi = 0;
    for (auto& [c, n] : colours) {
      int v = int(c >> shift) & 255;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    return hi - lo;
  }
  uint64_t population() const {
    uint64_t p = 0;
    for (auto& e : colours) p += e.second;
    return p;
  }
};

}  // namespace

bool toIndexed(const Canvas& c, int bitsPerPixel, IndexedImage& out) {
  std::vector<uint32_t> palette = sortedColours(c.pixels);
  if (palette.size() > (size_t(1) << bitsPerPixel)) return false;
  out.width = c.width;
  out.height = c.height;
  out.bitsPerPixel = bitsPerPixel;
  out.palette = palette;
  out.indices.resize(c.pixels.size());
  for (size_t i = 0; i < c.pixels.size(); ++i)
    out.indices[i] = uint8_t(std::lower_bound(palette.begin(), palette.end(), c.pixels[i]) - palette.begin());
  return true;
}

IndexedImage quantize(const Canvas& c) {
  IndexedImage out;
  if (toIndexed(c, 8, out)) return out;

  std::map<uint32_t, uint32_t> histogram;
  for (uint32_t p : c.pixels)
    if (p != 0) ++histogram[p];
  std::vector<Box> boxes(1);
  boxes[0].colours.assign(histogram.begin(), histogram.end());
  const size_t target = 255;  // one entry is kept for pure black
  while (boxes.size() < target) {
    // Split the box with the widest channel range weighted by its population.
    size_t best = boxes.size();
    double bestScore = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      if (boxes[i].colours.size() < 2) continue;
      int range = std::max({boxes[i].channelRange(16), boxes[i].channelRange(8), boxes[i].channelRange(0)});
      double score = double(range) * double(range) * double(boxes[i].population());
      if (score > bestScore) {
        bestScore = score;
        best = i;
      }
    }
    if (best == boxes.size()) break;
    Box& box = boxes[best];
    int rr = box.channelRange(16), rg = box.channelRange(8), rb = box.channelRange(0);
    int shift = (rg >= rr && rg >= rb) ? 8 : (rr >= rb ? 16 : 0);
    std::stable_sort(box.colours.begin(), box.colours.end(), [shift](auto& a, auto& b) {
      return ((a.first >> shift) & 255) < ((b.first >> shift) & 255);
    });
    uint64_t half = box.population() / 2, run = 0;
    size_t cut = 1;
    for (size_t i = 0; i + 1 < box.colours.size(); ++i) {
      run += box.colours[i].second;
      cut = i + 1;
      if (run >= half) break;
    }
    Box upper;
    upper.colours.assign(box.colours.begin() + long(cut), box.colours.end());
    box.colours.resize(cut);
    boxes.push_back(std::move(upper));
  }

  std::vector<uint32_t> palette{0};
  for (auto& box : boxes) {
    double r = 0, g = 0, b = 0, n = 0;
    for (auto& [col, cnt] : box.colours) {
      r += red(col) * double(cnt);
      g += green(col) * double(cnt);
      b += blue(col) * double(cnt);
      n += cnt;
    }
    if (n > 0) palette.push_back(rgb(int(r / n + 0.5), int(g / n + 0.5), int(b / n + 0.5)));
  }
  std::sort(palette.begin() + 1, palette.end());
  palette.erase(std::unique(palette.begin() + 1, palette.end()), palette.end());

  out.width = c.width;
  out.height = c.height;
  out.bitsPerPixel = 8;
  out.palette = palette;
  out.indices.resize(c.pixels.size());
  std::map<uint32_t, uint8_t> nearest;
  for (size_t i = 0; i < c.pixels.size(); ++i) {
    uint32_t p = c.pixels[i];
    auto found = nearest.find(p);
    if (found == nearest.end()) {
      size_t bestIndex = 0;
      int bestDistance = std::numeric_limits<int>::max();
      for (size_t k = (p == 0 ? 0 : 1); k < palette.size(); ++k) {
        int dr = red(p) - red(palette[k]), dg = green(p) - green(palette[k]), db = blue(p) - blue(palette[k]);
        int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (d < bestDistance) {
          bestDistance = d;
          bestIndex = k;
        }
        if (p == 0) break;
      }
      found = nearest.emplace(p, uint8_t(bestIndex)).first;
    }
    out.indices[i] = found->second;
  }
  return out;
}

std::vector<uint8_t> encodeBmp(const IndexedImage& img) {
  const uint32_t stride = ((uint32_t(img.width) * uint32_t(img.bitsPerPixel) + 31) / 32) * 4;
  const uint32_t paletteBytes = uint32_t(img.palette.size()) * 4;
  const uint32_t offset = 14 + 40 + paletteBytes;
  const uint32_t imageBytes = stride * uint32_t(img.height);
  std::vector<uint8_t> b;
  b.reserve(offset + imageBytes);
  b.push_back('B');
  b.push_back('M');
  put32(b, offset + imageBytes);
  put32(b, 0);
  put32(b, offset);
  put32(b, 40);
  put32(b, uint32_t(img.width));
  put32(b, uint32_t(img.height));  // positive: bottom-up rows
  put16(b, 1);
  put16(b, uint32_t(img.bitsPerPixel));
  put32(b, 0);  // BI_RGB
  put32(b, imageBytes);
  put32(b, 2835);  // 72 dpi
  put32(b, 2835);
  put32(b, uint32_t(img.palette.size()));
  put32(b, 0);
  for (uint32_t c : img.palette) {
    b.push_back(uint8_t(blue(c)));
    b.push_back(uint8_t(green(c)));
    b.push_back(uint8_t(red(c)));
    b.push_back(0);
  }
  for (int y = img.height - 1; y >= 0; --y) {
    std::vector<uint8_t> row(stride, 0);
    for (int x = 0; x < img.width; ++x) {
      uint8_t index = img.indices[size_t(y) * size_t(img.width) + size_t(x)];
      if (img.bitsPerPixel == 8) {
        row[size_t(x)] = index;
      } else {
        row[size_t(x / 2)] |= uint8_t((x % 2 == 0) ? (index << 4) : index);
      }
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

std::vector<uint8_t> encodeIco(const std::vector<IconImage>& images) {
  std::vector<uint8_t> b;
  put16(b, 0);
  put16(b, 1);  // icon
  put16(b, uint32_t(images.size()));
  std::vector<std::vector<uint8_t>> bodies;
  for (const IconImage& image : images) {
    const int size = image.size;
    const uint32_t xorBytes = uint32_t(size * size * 4);
    const uint32_t maskStride = ((uint32_t(size) + 31) / 32) * 4;
    const uint32_t andBytes = maskStride * uint32_t(size);
    std::vector<uint8_t> d;
    put32(d, 40);
    put32(d, uint32_t(size));
    put32(d, uint32_t(size * 2));  // XOR and AND halves
    put16(d, 1);
    put16(d, 32);
    put32(d, 0);
    put32(d, xorBytes + andBytes);
    put32(d, 0);
    put32(d, 0);
    put32(d, 0);
    put32(d, 0);
    for (int y = size - 1; y >= 0; --y)
      for (int x = 0; x < size; ++x) {
        const uint32_t p = image.rgba[size_t(y) * size_t(size) + size_t(x)];
        d.push_back(uint8_t(p));
        d.push_back(uint8_t(p >> 8));
        d.push_back(uint8_t(p >> 16));
        d.push_back(uint8_t(p >> 24));
      }
    for (int y = size - 1; y >= 0; --y) {
      std::vector<uint8_t> row(maskStride, 0);
      for (int x = 0; x < size; ++x)
        if ((image.rgba[size_t(y) * size_t(size) + size_t(x)] >> 24) == 0) row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
      d.insert(d.end(), row.begin(), row.end());
    }
    bodies.push_back(std::move(d));
  }
  uint32_t offset = uint32_t(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    const int size = images[i].size;
    b.push_back(uint8_t(size == 256 ? 0 : size));
    b.push_back(uint8_t(size == 256 ? 0 : size));
    b.push_back(0);  // no palette
    b.push_back(0);
    put16(b, 1);
    put16(b, 32);
    put32(b, uint32_t(bodies[i].size()));
    put32(b, offset);
    offset += uint32_t(bodies[i].size());
  }
  for (const auto& d : bodies) b.insert(b.end(), d.begin(), d.end());
  return b;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(f);
}

}  // namespace art
