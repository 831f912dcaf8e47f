// The bar animation shared by the window and strip renderers: level clamping, the shown
// level's fall-off, the peak hold, and the silence/sound runs that switch the board
// between levels and clock display. Each renderer owns one BandAnimState.
#pragma once

#include <array>
#include <cstdint>

#include "common/types.h"

namespace tonalis {

inline constexpr int32_t PeakHoldFrames = 42;     // a peak holds through 42 frames after a rise
inline constexpr int32_t SilenceRunLimit = 1071;  // ~30 s of 28 ms frames: board shows the clock
inline constexpr int32_t SoundRunLimit = 107;     // ~3 s of sound: board shows levels again

// Zero-initialised at program start and never reset.
struct BandAnimState {
  std::array<int32_t, BandCount> cellLevel{};   // this frame's level clamped to 0..17
  std::array<int32_t, BandCount> shownLevel{};  // drawn height 0..17: rises at once, falls 1/frame
  std::array<int32_t, BandCount> peakLevel{};   // peak marker row count 0..17
  std::array<int32_t, BandCount> peakHold{};    // frames since the peak last rose, 0..42
  int32_t silenceRun = 0;  // consecutive frames with every cellLevel 0, 0..1071
  int32_t soundRun = 0;    // consecutive frames with some cellLevel non-zero, 0..107
};

// One frame of band `band` (0..23) with integer level `level`. Returns the new cellLevel.
// Levels are meant to be 0 or more; a negative level is taken as 0 so that no height
// outside 0..17 can reach the picture or the board.
int32_t advanceBand(BandAnimState& state, int band, int32_t level) noexcept;

// The idle decision after all bands of a frame, from the sum of their new cellLevels.
// Sets boardClockMode to 1 after 1071 silent frames (and on every silent frame after) and
// to 0 after 107 frames with sound; leaves it alone otherwise. Returns true on the frames
// where the silence limit is in force (the window renderer then rests its activity counter).
bool decideIdle(BandAnimState& state, int32_t levelSum, uint8_t& boardClockMode) noexcept;

// advanceBand for all 24 bands, boardLevels[b] = shownLevel[b], then decideIdle.
// Returns decideIdle's result.
bool advanceFrame(BandAnimState& state, const BandLevels& levels, BoardLevels& boardLevels,
                  uint8_t& boardClockMode) noexcept;

}  // namespace tonalis
