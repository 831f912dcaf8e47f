#include "render/band_anim.h"

#include <algorithm>

namespace tonalis {

int32_t advanceBand(BandAnimState& s, int b, int32_t level) noexcept {
  const int32_t v = std::max(level, 0);
  const int32_t prev = s.cellLevel[b];
  s.cellLevel[b] = std::min(v, CellRows);

  // The peak compares the unclamped level, so a level above 17 re-arms a peak at 17.
  s.peakHold[b] += 1;
  if (s.peakLevel[b] < v) {
    s.peakLevel[b] = std::min(v, CellRows);
    s.peakHold[b] = 0;
  } else if (s.peakHold[b] > PeakHoldFrames) {
    s.peakHold[b] = PeakHoldFrames;
    if (s.peakLevel[b] > 0) s.peakLevel[b] -= 1;
  }

  // A drop shows one frame late: the bar only falls while it is above last frame's level.
  const int32_t L = s.cellLevel[b];
  if (L >= s.shownLevel[b]) {
    s.shownLevel[b] = L;
  } else if (s.shownLevel[b] > prev) {
    s.shownLevel[b] -= 1;
  }
  return L;
}

bool decideIdle(BandAnimState& s, int32_t levelSum, uint8_t& boardClockMode) noexcept {
  if (levelSum == 0) {
    s.soundRun = 0;
    s.silenceRun += 1;
    if (s.silenceRun >= SilenceRunLimit) {
      boardClockMode = 1;
      s.silenceRun = SilenceRunLimit;
      return true;
    }
    return false;
  }
  s.silenceRun = 0;
  s.soundRun += 1;
  if (s.soundRun >= SoundRunLimit) {
    boardClockMode = 0;
    s.soundRun = SoundRunLimit;
  }
  return false;
}

void BandAnimator::step(const BandLevels& levels) noexcept {
  int32_t sum = 0;  // at most 24 * 17
  for (int b = 0; b < BandCount; ++b) {
    sum += advanceBand(state_, b, levels[b]);
    boardLevels_[b] = uint8_t(state_.shownLevel[b]);
  }
  longSilence_ = decideIdle(state_, sum, boardClockMode_);
}

bool BandAnimator::atRest() const noexcept {
  for (int b = 0; b < BandCount; ++b) {
    if (state_.shownLevel[b] != 0 || state_.peakLevel[b] != 0) return false;
  }
  return true;
}

}  // namespace tonalis
