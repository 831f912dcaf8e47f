#include "png_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tonalis {

namespace {

constexpr std::array<uint8_t, 8> Signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t IdatChunkBytes = 64 * 1024;
// Large enough for any screen; small enough that a hostile header cannot ask for gigabytes.
constexpr uint32_t MaxSide = 1u << 14;

void put32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 24));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

uint32_t get32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void chunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
  put32(out, uint32_t(size));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (size > 0) out.insert(out.end(), data, data + size);
  put32(out, uint32_t(crc32(0L, out.data() + start, uInt(out.size() - start))));
}

uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

// Undoes the row filters in place; `bpp` is bytes per pixel, `stride` bytes per row
// without the filter byte.
bool unfilter(std::vector<uint8_t>& raw, size_t rows, size_t stride, size_t bpp, std::string& error) {
  const uint8_t* prev = nullptr;
  for (size_t y = 0; y < rows; ++y) {
    uint8_t* row = raw.data() + y * (stride + 1);
    const uint8_t filter = row[0];
    uint8_t* cur = row + 1;
    for (size_t i = 0; i < stride; ++i) {
      const int left = i >= bpp ? cur[i - bpp] : 0;
      const int up = prev ? prev[i] : 0;
      const int upLeft = prev && i >= bpp ? prev[i - bpp] : 0;
      switch (filter) {
        case 0: break;
        case 1: cur[i] = uint8_t(cur[i] + left); break;
        case 2: cur[i] = uint8_t(cur[i] + up); break;
        case 3: cur[i] = uint8_t(cur[i] + (left + up) / 2); break;
        case 4: cur[i] = uint8_t(cur[i] + paeth(left, up, upLeft)); break;
        default:
          error = "row " + std::to_string(y) + " has unknown filter " + std::to_string(filter);
          return false;
      }
    }
    prev = cur;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> encodePng(PixelView view, bool withAlpha) {
  if (view.pixels == nullptr || view.width <= 0 || view.height <= 0) return {};
  const size_t w = size_t(view.width);

  std::vector<uint8_t> png(Signature.begin(), Signature.end());
  std::vector<uint8_t> ihdr;
  put32(ihdr, uint32_t(view.width));
  put32(ihdr, uint32_t(view.height));
  const size_t channels = withAlpha ? 4 : 3;
  // 8-bit, RGB (2) or RGBA (6), deflate, adaptive filters, no interlace
  ihdr.insert(ihdr.end(), {8, uint8_t(withAlpha ? 6 : 2), 0, 0, 0});
  chunk(png, "IHDR", ihdr.data(), ihdr.size());

  z_stream z{};
  if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) return {};
  std::vector<uint8_t> row(1 + channels * w);  // filter byte 0 (none), then RGB(A)
  std::vector<uint8_t> out(IdatChunkBytes);
  auto pump = [&](int flush) {
    do {
      z.next_out = out.data();
      z.avail_out = uInt(out.size());
      deflate(&z, flush);
      const size_t produced = out.size() - z.avail_out;
      if (produced > 0) chunk(png, "IDAT", out.data(), produced);
    } while (z.avail_out == 0);
  };
  for (int32_t y = 0; y < view.height; ++y) {
    const uint32_t* src = view.pixels + size_t(y) * w;
    for (size_t x = 0; x < w; ++x) {
      uint8_t* px = &row[1 + channels * x];
      px[0] = uint8_t(src[x] >> 16);
      px[1] = uint8_t(src[x] >> 8);
      px[2] = uint8_t(src[x]);
      if (withAlpha) px[3] = uint8_t(src[x] >> 24);
    }
    z.next_in = row.data();
    z.avail_in = uInt(row.size());
    pump(Z_NO_FLUSH);
  }
  pump(Z_FINISH);
  deflateEnd(&z);
  chunk(png, "IEND", nullptr, 0);
  return png;
}

bool writePngFile(const std::filesystem::path& path, PixelView view, std::string& error, bool withAlpha) {
  const std::vector<uint8_t> png = encodePng(view, withAlpha);
  if (png.empty()) {
    error = "nothing to write to " + path.string();
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
  out.close();
  if (!out) {
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

bool decodePng(std::span<const uint8_t> bytes, PngImage& out, std::string& error) {
  out = PngImage{};
  if (bytes.size() < Signature.size() || !std::equal(Signature.begin(), Signature.end(), bytes.begin())) {
    error = "not a PNG file";
    return false;
  }
  uint32_t width = 0, height = 0;
  size_t channels = 0;
  bool sawHeader = false, sawEnd = false;
  std::vector<uint8_t> idat;
  for (size_t at = Signature.size(); !sawEnd;) {
    if (bytes.size() - at < 12) {
      error = "the file ends inside a chunk";
      return false;
    }
    const uint32_t length = get32(&bytes[at]);
    if (length > bytes.size() - at - 12) {
      error = "the file ends inside a chunk";
      return false;
    }
    const uint8_t* type = &bytes[at + 4];
    const uint8_t* data = type + 4;
    if (uint32_t(crc32(0L, type, uInt(length + 4))) != get32(data + length)) {
      error = "bad checksum in chunk " + std::string(reinterpret_cast<const char*>(type), 4);
      return false;
    }
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (length != 13) {
        error = "bad IHDR";
        return false;
      }
      width = get32(data);
      height = get32(data + 4);
      const uint8_t depth = data[8], colour = data[9], interlace = data[12];
      channels = colour == 0 ? 1 : colour == 4 ? 2 : colour == 2 ? 3 : colour == 6 ? 4 : 0;
      if (depth != 8 || channels == 0 || interlace != 0) {
        error = "only 8-bit grey, RGB or RGBA without interlace is read";
        return false;
      }
      if (width == 0 || height == 0 || width > MaxSide || height > MaxSide) {
        error = "picture size " + std::to_string(width) + "x" + std::to_string(height) + " out of range";
        return false;
      }
      sawHeader = true;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      idat.insert(idat.end(), data, data + length);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      sawEnd = true;
    }
    at += 12 + size_t(length);
  }
  if (!sawHeader || idat.empty()) {
    error = "no picture data";
    return false;
  }

  const size_t stride = size_t(width) * channels;
  std::vector<uint8_t> raw(size_t(height) * (stride + 1));
  uLongf rawSize = uLongf(raw.size());
  const int rc = uncompress(raw.data(), &rawSize, idat.data(), uLong(idat.size()));
  if (rc != Z_OK || rawSize != raw.size()) {
    error = "damaged picture data";
    return false;
  }
  if (!unfilter(raw, height, stride, channels, error)) return false;

  out.width = int32_t(width);
  out.height = int32_t(height);
  out.pixels.resize(size_t(width) * size_t(height));
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* row = raw.data() + y * (stride + 1) + 1;
    for (size_t x = 0; x < width; ++x) {
      const uint8_t* p = row + x * channels;
      const uint32_t r = p[0], g = channels >= 3 ? p[1] : p[0], b = channels >= 3 ? p[2] : p[0];
      out.pixels[y * width + x] = (r << 16) | (g << 8) | b;
    }
  }
  return true;
}

bool readPngFile(const std::filesystem::path& path, PngImage& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path.string();
    out = PngImage{};
    return false;
  }
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!decodePng(bytes, out, error)) {
    error = path.string() + ": " + error;
    return false;
  }
  return true;
}

}  // namespace tonalis
