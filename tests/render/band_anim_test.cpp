#include "render/band_anim.h"

#include <gtest/gtest.h>

#include <vector>

namespace tonalis {
namespace {

// Feeds one band a sequence of levels and records what it shows.
struct Trace {
  std::vector<int32_t> shown, peak;
};
Trace run(const std::vector<int32_t>& levels, BandAnimState& s, int band = 3) {
  Trace t;
  for (int32_t v : levels) {
    advanceBand(s, band, v);
    t.shown.push_back(s.shownLevel[band]);
    t.peak.push_back(s.peakLevel[band]);
  }
  return t;
}
std::vector<int32_t> repeat(int32_t v, int n) { return std::vector<int32_t>(size_t(n), v); }
std::vector<int32_t> concat(std::vector<int32_t> a, const std::vector<int32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(BandAnim, ShownLevelRisesAtOnceAndFallsOneRowPerFrameFromTheNextFrame) {
  struct Case {
    const char* name;
    std::vector<int32_t> levels;
    std::vector<int32_t> shown;
  };
  const Case cases[] = {
      {"rise is immediate", {0, 5, 12, 17}, {0, 5, 12, 17}},
      {"above 17 clamps", {40, 1000}, {17, 17}},
      {"drop to 0 holds one frame", {17, 0, 0, 0, 0}, {17, 17, 16, 15, 14}},
      {"fall stops at the level", {10, 7, 7, 7, 7, 7}, {10, 10, 9, 8, 7, 7}},
      {"rise during a fall", {12, 0, 0, 11}, {12, 12, 11, 11}},
      {"rise to below shown keeps falling", {12, 0, 0, 5, 5}, {12, 12, 11, 10, 9}},
      {"negative counts as 0", {-5, 3, -1, -1}, {0, 3, 3, 2}},
  };
  for (const Case& c : cases) {
    BandAnimState s;
    EXPECT_EQ(run(c.levels, s).shown, c.shown) << c.name;
  }
}

TEST(BandAnim, PeakHoldsFortyTwoFramesThenSinksOneRowPerFrame) {
  BandAnimState s;
  const Trace t = run(concat({10}, repeat(0, 50)), s);
  for (int i = 0; i <= 42; ++i) EXPECT_EQ(t.peak[size_t(i)], 10) << "frame " << i;
  EXPECT_EQ(t.peak[43], 9);
  EXPECT_EQ(t.peak[44], 8);
  EXPECT_EQ(t.peak[50], 2);
  const Trace tail = run(repeat(0, 5), s);
  EXPECT_EQ(tail.peak, (std::vector<int32_t>{1, 0, 0, 0, 0}));
}

TEST(BandAnim, PeakRearmsOnlyOnAStrictRiseOfTheUnclampedLevel) {
  {  // A level equal to the peak does not hold it; the sinking peak is caught next frame.
    BandAnimState s;
    const Trace t = run(concat({10}, repeat(10, 44)), s);
    EXPECT_EQ(t.peak[42], 10);
    EXPECT_EQ(t.peak[43], 9);
    EXPECT_EQ(t.peak[44], 10);
    EXPECT_EQ(s.peakHold[3], 0);
  }
  {  // Above 17 re-arms a peak already at 17 on every frame.
    BandAnimState s;
    const Trace t = run(repeat(18, 60), s);
    EXPECT_EQ(t.peak, repeat(17, 60));
  }
  {  // Exactly 17 does not: the peak sinks after the hold even while the bar is full.
    BandAnimState s;
    const Trace t = run(concat({17}, repeat(17, 44)), s);
    EXPECT_EQ(t.peak[43], 16);
    EXPECT_EQ(t.shown[43], 17);
  }
}

TEST(BandAnim, BandsAreIndependent) {
  BandAnimState s;
  advanceBand(s, 0, 17);
  advanceBand(s, 23, 4);
  EXPECT_EQ(s.shownLevel[0], 17);
  EXPECT_EQ(s.shownLevel[23], 4);
  for (int b = 1; b < 23; ++b) EXPECT_EQ(s.shownLevel[b], 0);
}

TEST(BandAnimIdle, LongSilenceSwitchesToClockAndSoundSwitchesBack) {
  BandAnimator a;
  const BandLevels silent{};
  BandLevels sound{};
  sound[5] = 1;

  for (int i = 1; i < 1071; ++i) {
    a.step(silent);
    ASSERT_FALSE(a.longSilence()) << i;
    ASSERT_EQ(a.boardClockMode(), 0) << i;
  }
  a.step(silent);  // frame 1071
  EXPECT_TRUE(a.longSilence());
  EXPECT_EQ(a.boardClockMode(), 1);
  a.step(silent);  // and every silent frame after
  EXPECT_TRUE(a.longSilence());
  EXPECT_EQ(a.state().silenceRun, 1071);

  a.step(sound);
  EXPECT_FALSE(a.longSilence());
  EXPECT_EQ(a.state().silenceRun, 0);
  for (int i = 2; i < 107; ++i) {
    a.step(sound);
    ASSERT_EQ(a.boardClockMode(), 1) << i;
  }
  a.step(sound);  // frame 107 with sound
  EXPECT_EQ(a.boardClockMode(), 0);
  EXPECT_EQ(a.state().soundRun, 107);
}

TEST(BandAnimIdle, ASilentFrameResetsTheSoundRunAndTheFallingBarCountsAsSilence) {
  BandAnimator a;
  for (int i = 0; i < SilenceRunLimit; ++i) a.step(BandLevels{});
  ASSERT_EQ(a.boardClockMode(), 1);
  BandLevels loud{};
  loud.fill(17);
  for (int i = 0; i < 106; ++i) a.step(loud);
  a.step(BandLevels{});  // the sound run starts over
  EXPECT_EQ(a.state().soundRun, 0);
  EXPECT_EQ(a.state().silenceRun, 1);  // the sum is of cellLevels: the still-shown bars do not count
  EXPECT_EQ(a.boardLevels()[0], 17);
  for (int i = 0; i < 106; ++i) a.step(loud);
  EXPECT_EQ(a.boardClockMode(), 1);
  a.step(loud);
  EXPECT_EQ(a.boardClockMode(), 0);
}

TEST(BandAnimIdle, BoardLevelsAreTheShownLevels) {
  BandAnimator a;
  BandLevels levels{};
  for (int b = 0; b < BandCount; ++b) levels[b] = b;  // 0..23: above 17 clamps
  a.step(levels);
  for (int b = 0; b < BandCount; ++b) EXPECT_EQ(a.boardLevels()[b], b < 17 ? b : 17) << b;
  a.step(BandLevels{});  // held one frame
  EXPECT_EQ(a.boardLevels()[10], 10);
  a.step(BandLevels{});
  EXPECT_EQ(a.boardLevels()[10], 9);
  EXPECT_EQ(a.boardLevels()[0], 0);
  for (int b = 0; b < BandCount; ++b) ASSERT_EQ(a.boardLevels()[b], a.shownLevels()[b]) << b;
}

// At rest only once every bar and every peak marker is down: a held peak keeps it from rest.
TEST(BandAnimIdle, AtRestWaitsForThePeaks) {
  BandAnimator a;
  EXPECT_TRUE(a.atRest());
  a.step(BandLevels{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  EXPECT_FALSE(a.atRest());
  int frames = 0;
  while (!a.atRest() && frames < 100) {
    a.step(BandLevels{});
    ++frames;
  }
  // The bar is gone after two frames; the peak holds 42 frames, then drops its one row.
  EXPECT_EQ(frames, PeakHoldFrames + 1);
}

}  // namespace
}  // namespace tonalis
