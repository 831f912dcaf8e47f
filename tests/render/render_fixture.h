// Shared fixture for the renderer tests: frame buffers and stand-in asset images whose
// single colour names their resource id, so a probe tells which image lies where.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "common/types.h"
#include "render/assets.h"
#include "render/window_renderer.h"

namespace tonalis::test {

// A frame buffer that owns its pixels.
struct Frame {
  Frame(int32_t w, int32_t h, uint32_t fill = 0) : width(w), height(h), pixels(size_t(w) * size_t(h), fill) {}
  PixelView view() { return {pixels.data(), width, height}; }
  uint32_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
  int32_t width;
  int32_t height;
  std::vector<uint32_t> pixels;
};

// The pixel colour of the stand-in image for a resource id.
constexpr uint32_t idPixel(int id) { return 0x00A00000u | uint32_t(id); }

// Stand-ins of the sizes the window renderer expects, each filled with idPixel(id).
class TestImages {
 public:
  TestImages() {
    auto add = [this](int id, int32_t w, int32_t h) {
      Image img;
      img.width = w;
      img.height = h;
      img.bitsPerPixel = 32;
      img.pixels.assign(size_t(w) * size_t(h), idPixel(id));
      images_[id] = std::move(img);
    };
    add(ScaleBitmap, 429, 7);
    add(ReadoutFrameBitmap, 23, 13);
    for (int id : DigitIds) add(id, 5, 7);
    add(TitleLabelBitmap, 97, 13);
    add(CaptionLabelBitmap, 27, 13);
    for (int id : {BoardOnBitmap, BoardOffBitmap, ClickThroughOnBitmap, ClickThroughOffBitmap,
                   TopMostOnBitmap, TopMostOffBitmap}) {
      add(id, 26, 13);
    }
    for (int id : {BlockIconBitmap, TopBlockIconBitmap, BarIconBitmap, FloatingIconBitmap,
                   DotsIconBitmap, WaveformIconBitmap, BlockIconLitBitmap, TopBlockIconLitBitmap,
                   BarIconLitBitmap, FloatingIconLitBitmap, DotsIconLitBitmap,
                   WaveformIconLitBitmap}) {
      add(id, 28, 13);
    }
    add(ActivityIdleBitmap, 12, 13);
    for (int id : ActivityFrameIds) add(id, 12, 13);
  }
  const Image& operator()(int id) const { return images_.at(id); }
  WindowAssets assets() const { return WindowAssets::resolve(*this); }

 private:
  std::map<int, Image> images_;
};

}  // namespace tonalis::test
