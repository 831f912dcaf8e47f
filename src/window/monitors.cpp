#include "window/monitors.h"

#include <algorithm>

namespace tonalis {

namespace {

Rect intersection(const Rect& a, const Rect& b) {
  const Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
  return r.right > r.left && r.bottom > r.top ? r : Rect{};
}

int64_t overlapArea(const Rect& a, const Rect& b) {
  const Rect r = intersection(a, b);
  return int64_t(r.width()) * r.height();
}

// Squared gap between two rectangles along both axes (0 when they touch or overlap).
int64_t distanceSquared(const Rect& a, const Rect& b) {
  const int64_t dx = std::max<int64_t>({0, int64_t(b.left) - a.right, int64_t(a.left) - b.right});
  const int64_t dy = std::max<int64_t>({0, int64_t(b.top) - a.bottom, int64_t(a.top) - b.bottom});
  return dx * dx + dy * dy;
}

// The monitor with the most of `rect` on it; nullptr when none has any.
const Monitor* mostOverlapping(std::span<const Monitor> monitors, const Rect& rect) {
  const Monitor* best = nullptr;
  int64_t bestArea = 0;
  for (const Monitor& m : monitors) {
    const int64_t area = overlapArea(m.area, rect);
    if (area > bestArea) {
      best = &m;
      bestArea = area;
    }
  }
  return best;
}

}  // namespace

Monitor primaryMonitor(std::span<const Monitor> monitors) {
  if (monitors.empty()) return {};
  const auto it = std::find_if(monitors.begin(), monitors.end(), [](const Monitor& m) { return m.primary; });
  return it != monitors.end() ? *it : monitors.front();
}

Monitor monitorFor(std::span<const Monitor> monitors, const Rect& rect) {
  if (const Monitor* m = mostOverlapping(monitors, rect)) return *m;
  if (monitors.empty()) return {};
  return *std::min_element(monitors.begin(), monitors.end(), [&](const Monitor& a, const Monitor& b) {
    return distanceSquared(a.area, rect) < distanceSquared(b.area, rect);
  });
}

bool showsEnough(std::span<const Monitor> monitors, const Rect& rect) {
  return std::any_of(monitors.begin(), monitors.end(), [&](const Monitor& m) {
    const Rect r = intersection(m.workArea, rect);
    return r.width() >= MinVisiblePart && r.height() >= MinVisiblePart;
  });
}

Point placeSavedWindow(std::span<const Monitor> monitors, Point saved, Point windowSize) {
  // Widened: a hand-edited file may hold coordinates near the 32-bit limits.
  const int64_t right = int64_t(saved.x) + windowSize.x;
  const int64_t bottom = int64_t(saved.y) + windowSize.y;
  const Rect rect{saved.x, saved.y, int32_t(std::min<int64_t>(right, INT32_MAX)),
                  int32_t(std::min<int64_t>(bottom, INT32_MAX))};
  if (showsEnough(monitors, rect)) return saved;
  const Rect primary = primaryMonitor(monitors).area;
  return {primary.left + DefaultWindowOffset.x, primary.top + DefaultWindowOffset.y};
}

Monitor monitorAfterChange(std::span<const Monitor> monitors, const Rect& before) {
  if (const Monitor* m = mostOverlapping(monitors, before)) return *m;
  return primaryMonitor(monitors);
}

}  // namespace tonalis
