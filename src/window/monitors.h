// Which monitor the window and the strip belong on, from the host's list of monitors.
// Rectangles are in virtual-screen pixels, right and bottom exclusive. An empty list is
// treated as no monitor at all: callers get an empty rectangle and keep what they have.
#pragma once

#include <cstdint>
#include <span>

#include "common/types.h"

namespace tonalis {

// How much of the window must lie on one monitor's work area for a saved position to be
// kept: enough to grab it and drag it back.
inline constexpr int32_t MinVisiblePart = 32;
// Where a window goes when its saved position is not kept: this far from the primary
// monitor's top-left (the file's default position).
inline constexpr Point DefaultWindowOffset{50, 50};

// The primary monitor, or the first when none says it is; an empty rectangle for no list.
Monitor primaryMonitor(std::span<const Monitor> monitors);

// The monitor holding most of `rect`, or the one nearest to it when none holds any.
Monitor monitorFor(std::span<const Monitor> monitors, const Rect& rect);

// Whether at least MinVisiblePart x MinVisiblePart pixels of `rect` lie on one monitor's
// work area.
bool showsEnough(std::span<const Monitor> monitors, const Rect& rect);

// A saved window position, kept when the window of `windowSize` would show enough there,
// else the default place on the primary monitor.
Point placeSavedWindow(std::span<const Monitor> monitors, Point saved, Point windowSize);

// After the monitors changed: the monitor that now holds most of where the strip was
// (`before`, a monitor's old rectangle), or the primary monitor when that one went away.
Monitor monitorAfterChange(std::span<const Monitor> monitors, const Rect& before);

}  // namespace tonalis
