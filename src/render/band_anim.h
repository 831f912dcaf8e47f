// The bar animation: level clamping, the shown level's fall-off, the peak hold, and the
// silence/sound runs that switch the board between levels and clock display. One
// BandAnimator, stepped once per frame, feeds every renderer and the board alike; it
// draws nothing.
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

// The bars of every display mode and what the board shows, stepped once per frame (drawn,
// hidden or skipped alike), so the board's clock comes after the same time whatever is on
// screen and a new display mode goes on from the bars as they are. Zeroed at program start.
class BandAnimator {
 public:
  // One frame of the 24 band levels, truncated toward zero (>= 17 is full scale; a
  // negative level counts as 0): advanceBand for every band, then decideIdle.
  void step(const BandLevels& levels) noexcept;

  const BandAnimState& state() const noexcept { return state_; }
  // Drawn heights 0..17 and peak marker rows 0..17, by band.
  const std::array<int32_t, BandCount>& shownLevels() const noexcept { return state_.shownLevel; }
  const std::array<int32_t, BandCount>& peakLevels() const noexcept { return state_.peakLevel; }
  // The board's levels report: the shown heights.
  const BoardLevels& boardLevels() const noexcept { return boardLevels_; }
  // 1 once ~30 s of silence showed the clock, 0 again after ~3 s of sound.
  uint8_t boardClockMode() const noexcept { return boardClockMode_; }
  // The silence limit is in force on the last step (the window rests its activity
  // indicator then).
  bool longSilence() const noexcept { return longSilence_; }
  // No bar and no peak marker is shown.
  bool atRest() const noexcept;

 private:
  BandAnimState state_;
  BoardLevels boardLevels_{};
  uint8_t boardClockMode_ = 0;
  bool longSilence_ = false;
};

}  // namespace tonalis
