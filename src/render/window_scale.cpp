#include "render/window_scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/window_renderer.h"

namespace tonalis {

namespace {

// A picture coordinate and where it lands once scaled; pairs strictly increase in both.
struct Anchor {
  int32_t picture;
  int32_t scaled;
};

// Between two anchors the map is a plain nearest-neighbour stretch, sampled at pixel
// centres: exact repetition where the ratio is whole.
ScaleAxis buildAxis(std::span<const Anchor> anchors) {
  ScaleAxis axis;
  const int32_t pictureLength = anchors.back().picture;
  const int32_t scaledLength = anchors.back().scaled;
  axis.source.resize(size_t(scaledLength));
  for (size_t a = 1; a < anchors.size(); ++a) {
    const int64_t s0 = anchors[a - 1].picture, s1 = anchors[a].picture;
    const int64_t d0 = anchors[a - 1].scaled, d1 = anchors[a].scaled;
    for (int64_t k = 0; k < d1 - d0; ++k) {
      axis.source[size_t(d0 + k)] = int32_t(s0 + ((2 * k + 1) * (s1 - s0)) / (2 * (d1 - d0)));
    }
  }
  axis.start.assign(size_t(pictureLength) + 1, scaledLength);
  for (int32_t k = scaledLength - 1; k >= 0; --k) {
    // Every picture pixel up to this one's source starts here at the latest.
    for (int32_t i = axis.source[size_t(k)]; i >= 0 && axis.start[size_t(i)] > k; --i) axis.start[size_t(i)] = k;
  }
  return axis;
}

bool increasing(std::span<const Anchor> anchors) {
  for (size_t a = 1; a < anchors.size(); ++a) {
    if (anchors[a].picture <= anchors[a - 1].picture || anchors[a].scaled <= anchors[a - 1].scaled) return false;
  }
  return true;
}

// Rounded to nearest, halves up (sizes) or down (pitches: a pitch rounded up 24 times
// could push the columns off the window).
int32_t halfUp(int32_t length, int32_t percent) { return (length * percent + 50) / 100; }
int32_t halfDown(int32_t length, int32_t percent) { return (length * percent + 49) / 100; }

}  // namespace

int32_t scalePercentOf(double factor) noexcept {
  if (!(factor >= 1.0)) return MinScalePercent;
  if (factor >= MaxScalePercent / 100.0) return MaxScalePercent;
  return int32_t(std::lround(factor * 100.0));
}

WindowScale::WindowScale(int32_t percent) {
  const int32_t p = std::clamp(percent, MinScalePercent, MaxScalePercent);
  percent_ = p;
  size_ = {halfUp(WindowWidth, p), halfUp(WindowHeight, p)};

  // Columns: 15 wide at an 18 pitch from x 7, as many pixels left and right of the block.
  ScaledCells c;
  c.bandWidth = halfUp(WindowCellWidth, p);
  c.bandPitch = std::max(halfDown(WindowBandPitch, p), c.bandWidth + 1);
  const int32_t blockWidth = (BandCount - 1) * c.bandPitch + c.bandWidth;
  c.x0 = (size_.x - blockWidth) / 2;
  // Rows: 4 high at a 6 pitch from y 8; the block centred on where the design's would be.
  c.rowHeight = halfUp(WindowCellHeight, p);
  c.rowPitch = std::max(halfDown(WindowCellPitch, p), c.rowHeight + 1);
  const int32_t blockHeight = (CellRows - 1) * c.rowPitch + c.rowHeight;
  const int32_t designTop = WindowCellY0, designHeight = (CellRows - 1) * WindowCellPitch + WindowCellHeight;
  c.y0 = ((2 * designTop + designHeight) * p - 100 * blockHeight + 100) / 200;
  cells_ = c;

  std::vector<Anchor> xs{{0, 0}};
  for (int b = 0; b < BandCount; ++b) {
    xs.push_back({WindowBandX0 + WindowBandPitch * b, c.x0 + c.bandPitch * b});
    xs.push_back({WindowBandX0 + WindowBandPitch * b + WindowCellWidth, c.x0 + c.bandPitch * b + c.bandWidth});
  }
  xs.push_back({WindowWidth, size_.x});
  std::vector<Anchor> ys{{0, 0}};
  for (int j = 0; j < CellRows; ++j) {
    ys.push_back({WindowCellY0 + WindowCellPitch * j, c.y0 + c.rowPitch * j});
    ys.push_back({WindowCellY0 + WindowCellPitch * j + WindowCellHeight, c.y0 + c.rowPitch * j + c.rowHeight});
  }
  ys.push_back({StatusRowTop, halfUp(StatusRowTop, p)});
  ys.push_back({WindowHeight, size_.y});
  const Anchor plainX[] = {{0, 0}, {WindowWidth, size_.x}};
  const Anchor plainY[] = {{0, 0}, {StatusRowTop, halfUp(StatusRowTop, p)}, {WindowHeight, size_.y}};

  // Every scale the program takes keeps the anchors in order; the plain stretch stands in
  // should one ever not.
  bandsX_ = buildAxis(increasing(xs) ? std::span<const Anchor>(xs) : std::span<const Anchor>(plainX));
  statusX_ = buildAxis(plainX);
  y_ = buildAxis(increasing(ys) ? std::span<const Anchor>(ys) : std::span<const Anchor>(plainY));
}

const ScaleAxis& WindowScale::xFor(int32_t pictureY) const noexcept {
  return pictureY < StatusRowTop ? bandsX_ : statusX_;
}

Rect WindowScale::toScaled(const Rect& r) const noexcept {
  const int32_t left = std::clamp(r.left, 0, WindowWidth), right = std::clamp(r.right, 0, WindowWidth);
  const int32_t top = std::clamp(r.top, 0, WindowHeight), bottom = std::clamp(r.bottom, 0, WindowHeight);
  if (left >= right || top >= bottom) return {};
  Rect out{};
  if (top < StatusRowTop) {
    out = unite(out, {bandsX_.start[size_t(left)], y_.start[size_t(top)], bandsX_.start[size_t(right)],
                      y_.start[size_t(std::min(bottom, StatusRowTop))]});
  }
  if (bottom > StatusRowTop) {
    out = unite(out, {statusX_.start[size_t(left)], y_.start[size_t(std::max(top, StatusRowTop))],
                      statusX_.start[size_t(right)], y_.start[size_t(bottom)]});
  }
  return out;
}

Point WindowScale::toPicture(Point scaled) const noexcept {
  const int32_t x = std::clamp(scaled.x, 0, size_.x - 1);
  const int32_t y = std::clamp(scaled.y, 0, size_.y - 1);
  const int32_t py = y_.source[size_t(y)];
  return {xFor(py).source[size_t(x)], py};
}

void WindowScale::scaleInto(PixelView picture, PixelView target, std::span<const Rect> changed,
                            DirtyRects& out) const noexcept {
  if (picture.pixels == nullptr || target.pixels == nullptr || picture.width != WindowWidth ||
      picture.height != WindowHeight || target.width != size_.x || target.height != size_.y) {
    return;
  }
  for (const Rect& r : changed) {
    const int32_t left = std::clamp(r.left, 0, WindowWidth), right = std::clamp(r.right, 0, WindowWidth);
    const int32_t top = std::clamp(r.top, 0, WindowHeight), bottom = std::clamp(r.bottom, 0, WindowHeight);
    if (left >= right || top >= bottom) continue;
    uint32_t* previous = nullptr;
    int32_t previousSource = -1;
    for (int32_t y = y_.start[size_t(top)]; y < y_.start[size_t(bottom)]; ++y) {
      const int32_t sy = y_.source[size_t(y)];
      const ScaleAxis& xs = xFor(sy);
      const int32_t from = xs.start[size_t(left)], to = xs.start[size_t(right)];
      uint32_t* row = target.pixels + size_t(y) * size_t(target.width);
      if (sy == previousSource) {
        // A repeated picture row: the scaled row above is this one already.
        std::memcpy(row + from, previous + from, size_t(to - from) * sizeof(uint32_t));
      } else {
        const uint32_t* src = picture.pixels + size_t(sy) * size_t(picture.width);
        const int32_t* map = xs.source.data();
        for (int32_t x = from; x < to; ++x) row[x] = src[map[x]];
      }
      previous = row;
      previousSource = sy;
    }
    out.add(toScaled({left, top, right, bottom}));
  }
}

}  // namespace tonalis
