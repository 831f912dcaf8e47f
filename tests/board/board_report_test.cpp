#include <gtest/gtest.h>

#include "board/board_report.h"

namespace tonalis {
namespace {

std::string hex(const BoardReport& r) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : r) {
    if (!s.empty()) s += ' ';
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

std::string zeros(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += " 00";
  return s;
}

TEST(BoardReport, LevelsReportBytes) {
  BoardLevels levels{};
  for (int band = 0; band < BandCount; ++band) levels[size_t(band)] = uint8_t(band % 18);
  levels[23] = 17;
  EXPECT_EQ(hex(encodeLevelsReport(levels)),
            "00 A3 3A B4 4B 55 01 "
            "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 00 01 02 03 04 11" +
                zeros(34));
}

TEST(BoardReport, ClockReportAtNineOhFiveIsPlainIntegers) {
  EXPECT_EQ(hex(encodeClockReport(9, 5)), "00 A3 3A B4 4B 55 02 09 05" + zeros(56));
  // 23:59 shows the bytes are not BCD (BCD would be 23 59).
  const BoardReport late = encodeClockReport(23, 59);
  EXPECT_EQ(late[7], 23);
  EXPECT_EQ(late[8], 59);
}

TEST(BoardReport, HeightsAboveFullScaleAreSentAsFullScale) {
  BoardLevels levels{};
  levels[0] = 18;
  levels[1] = 255;
  levels[2] = 17;
  const BoardReport r = encodeLevelsReport(levels);
  EXPECT_EQ(r[7], 17);
  EXPECT_EQ(r[8], 17);
  EXPECT_EQ(r[9], 17);
}

TEST(BoardReport, DecodeReadsBackWhatWasEncoded) {
  BoardLevels levels{};
  levels[0] = 3;
  levels[23] = 12;
  const BoardReport l = encodeLevelsReport(levels);
  const DecodedBoardReport dl = decodeBoardReport(l.data(), l.size());
  EXPECT_EQ(dl.kind, DecodedBoardReport::Kind::Levels);
  EXPECT_EQ(dl.levels, levels);

  const BoardReport c = encodeClockReport(9, 5);
  const DecodedBoardReport dc = decodeBoardReport(c.data(), c.size());
  EXPECT_EQ(dc.kind, DecodedBoardReport::Kind::Clock);
  EXPECT_EQ(dc.hour, 9);
  EXPECT_EQ(dc.minute, 5);
}

TEST(BoardReport, DecodeRejectsWhatIsNotAReport) {
  const BoardReport good = encodeClockReport(9, 5);
  struct Case {
    const char* name;
    size_t byte;
    uint8_t value;
  };
  const Case cases[] = {
      {"report id", 0, 1}, {"signature first byte", 1, 0xA2}, {"signature last byte", 5, 0x56},
      {"type 0", 6, 0},    {"type 3", 6, 3},
  };
  for (const Case& c : cases) {
    BoardReport r = good;
    r[c.byte] = c.value;
    EXPECT_EQ(decodeBoardReport(r.data(), r.size()).kind, DecodedBoardReport::Kind::Invalid)
        << c.name;
  }
  EXPECT_EQ(decodeBoardReport(good.data(), 64).kind, DecodedBoardReport::Kind::Invalid);
  EXPECT_EQ(decodeBoardReport(nullptr, 65).kind, DecodedBoardReport::Kind::Invalid);
}

}  // namespace
}  // namespace tonalis
