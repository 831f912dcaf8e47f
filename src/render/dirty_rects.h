// The rectangles of a frame buffer that one frame changed, so presentation can send
// only those. Fixed capacity: a frame allocates nothing.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

#include "common/types.h"

namespace tonalis {

// The smallest rectangle holding both; an empty rectangle adds nothing.
constexpr Rect unite(const Rect& a, const Rect& b) {
  if (a.left >= a.right || a.top >= a.bottom) return b;
  if (b.left >= b.right || b.top >= b.bottom) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

class DirtyRects {
 public:
  static constexpr size_t Capacity = 48;

  // Forgets every rectangle; later ones are clipped to `clip` (the buffer).
  void reset(const Rect& clip) noexcept {
    clip_ = clip;
    count_ = 0;
  }
  // Adds `r` clipped to the buffer; an empty result is dropped. Past the capacity a
  // rectangle widens the last one, so the list always covers every change.
  void add(const Rect& r) noexcept {
    const Rect c{std::max(r.left, clip_.left), std::max(r.top, clip_.top), std::min(r.right, clip_.right),
                 std::min(r.bottom, clip_.bottom)};
    if (c.left >= c.right || c.top >= c.bottom) return;
    if (count_ == Capacity) {
      rects_[count_ - 1] = unite(rects_[count_ - 1], c);
      return;
    }
    rects_[count_++] = c;
  }
  void addWhole() noexcept { add(clip_); }

  bool empty() const noexcept { return count_ == 0; }
  std::span<const Rect> rects() const noexcept { return {rects_.data(), count_}; }
  // One rectangle covering them all (empty when nothing changed).
  Rect bounds() const noexcept {
    Rect b{};
    for (size_t i = 0; i < count_; ++i) b = unite(b, rects_[i]);
    return b;
  }

 private:
  std::array<Rect, Capacity> rects_{};
  size_t count_ = 0;
  Rect clip_{};
};

}  // namespace tonalis
