#include <gtest/gtest.h>

#include <cstdio>

#include "board/board_step.h"
#include "fakes/fake_hid_host.h"

namespace tonalis {
namespace {

class SteppedClock final : public Clock {
 public:
  LocalTime now{9, 5};
  int localTimeReads = 0;
  uint32_t tickCount() override { return 0; }
  LocalTime localTime() override {
    ++localTimeReads;
    return now;
  }
  void sleepMillis(uint32_t) override {}
};

const std::string Board = R"(\\?\hid#vid_0483&pid_f222#7&1a2b3c&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})";

class BoardStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.interfaces = {{Board, 0x0483, 0xF222}};
    initBoardLink(link, host);
    ASSERT_EQ(openBoard(link), BoardStatus::Connected);
    levels.fill(3);
  }
  void TearDown() override { closeBoard(link); }

  // Runs one frame's board step and says what it wrote: "-", "levels" or "clock HH:MM".
  std::string frame(uint8_t clockMode) {
    const size_t before = host.writes.size();
    runBoardStep(link, clock, clockMode, levels, time);
    if (host.writes.size() == before) return "-";
    EXPECT_EQ(host.writes.size(), before + 1) << "one report per frame at most";
    const std::vector<uint8_t>& b = host.writes.back().bytes;
    const DecodedBoardReport d = decodeBoardReport(b.data(), b.size());
    if (d.kind == DecodedBoardReport::Kind::Levels) return "levels";
    if (d.kind == DecodedBoardReport::Kind::Clock) {
      char text[16];
      std::snprintf(text, sizeof text, "clock %02d:%02d", d.hour, d.minute);
      return text;
    }
    return "invalid";
  }

  FakeHidHost host;
  BoardLink link;
  BoardClock clock;
  SteppedClock time;
  BoardLevels levels{};
};

TEST_F(BoardStepTest, SilenceClockSoundSequence) {
  struct Step {
    uint8_t clockMode;
    LocalTime time;
    const char* sent;
  };
  const Step steps[] = {
      {0, {9, 5}, "levels"},       // sound: levels every frame
      {0, {9, 5}, "levels"},
      {1, {9, 5}, "clock 09:05"},  // long silence begins: the time at once
      {1, {9, 5}, "-"},            // same minute: nothing
      {1, {9, 5}, "-"},
      {1, {9, 6}, "clock 09:06"},  // minute changes
      {1, {9, 6}, "-"},
      {1, {10, 6}, "clock 10:06"}, // hour alone changes
      {0, {10, 6}, "levels"},      // sound again: levels in the same frame
      {1, {10, 6}, "clock 10:06"}, // silence again within the same minute: sent again
      {1, {10, 6}, "-"},
  };
  int i = 0;
  for (const Step& s : steps) {
    time.now = s.time;
    EXPECT_EQ(frame(s.clockMode), s.sent) << "step " << i;
    ++i;
  }
}

TEST_F(BoardStepTest, LevelsModeForgetsTheClockAndSendsTheRenderersHeights) {
  clock = {9, 5};
  levels[0] = 17;
  levels[23] = 1;
  EXPECT_EQ(frame(0), "levels");
  EXPECT_EQ(clock.lastClockHour, NoClockSent);
  EXPECT_EQ(clock.lastClockMinute, NoClockSent);
  const BoardReport expected = encodeLevelsReport(levels);
  EXPECT_EQ(host.writes.back().bytes, std::vector<uint8_t>(expected.begin(), expected.end()));
  EXPECT_EQ(time.localTimeReads, 0) << "levels mode does not need the time";
}

TEST_F(BoardStepTest, ClockMemoryStartsAtMidnight) {
  // Before any levels frame the memory says 00:00 was sent. In the program a levels frame
  // always comes first (clock mode needs half a minute of silence), which resets it.
  time.now = {0, 0};
  EXPECT_EQ(frame(1), "-");
  EXPECT_EQ(frame(0), "levels");
  EXPECT_EQ(frame(1), "clock 00:00");
}

TEST_F(BoardStepTest, ABoardConnectedDuringSilenceGetsTheTimeOnItsFirstFrame) {
  closeBoard(link);
  EXPECT_EQ(frame(1), "-");
  EXPECT_EQ(frame(1), "-");
  ASSERT_EQ(openBoard(link), BoardStatus::Connected);
  EXPECT_EQ(frame(1), "clock 09:05");
  EXPECT_EQ(frame(1), "-");
}

TEST_F(BoardStepTest, AClockReportTheBoardDidNotTakeIsSentAgainWithoutStalling) {
  host.writeMode = FakeWriteMode::Hang;
  EXPECT_EQ(frame(1), "clock 09:05");  // times out: 500 ms once
  for (int i = 0; i < 50; ++i) EXPECT_EQ(frame(1), "-");
  EXPECT_EQ(host.waitedMillis, 500u);
  host.finishPendingWrites();
  host.writeMode = FakeWriteMode::Complete;
  EXPECT_EQ(frame(1), "clock 09:05");
  EXPECT_EQ(frame(1), "-");
}

}  // namespace
}  // namespace tonalis
