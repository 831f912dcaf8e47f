#include "board/board_report.h"

#include <algorithm>

namespace tonalis {

namespace {

constexpr size_t TypeByte = 6;
constexpr size_t PayloadByte = 7;

BoardReport reportHeader(uint8_t type) {
  BoardReport r{};  // report id 0 and zero fill
  std::copy(ReportSignature.begin(), ReportSignature.end(), r.begin() + 1);
  r[TypeByte] = type;
  return r;
}

}  // namespace

BoardReport encodeLevelsReport(const BoardLevels& levels) {
  BoardReport r = reportHeader(LevelsReportType);
  for (int band = 0; band < BandCount; ++band) {
    r[PayloadByte + size_t(band)] = std::min<uint8_t>(levels[size_t(band)], uint8_t(CellRows));
  }
  return r;
}

BoardReport encodeClockReport(uint8_t hour, uint8_t minute) {
  BoardReport r = reportHeader(ClockReportType);
  r[PayloadByte] = hour;
  r[PayloadByte + 1] = minute;
  return r;
}

DecodedBoardReport decodeBoardReport(const uint8_t* bytes, size_t size) {
  DecodedBoardReport d;
  if (bytes == nullptr || size != BoardReportSize || bytes[0] != 0 ||
      !std::equal(ReportSignature.begin(), ReportSignature.end(), bytes + 1)) {
    return d;
  }
  if (bytes[TypeByte] == LevelsReportType) {
    d.kind = DecodedBoardReport::Kind::Levels;
    std::copy(bytes + PayloadByte, bytes + PayloadByte + BandCount, d.levels.begin());
  } else if (bytes[TypeByte] == ClockReportType) {
    d.kind = DecodedBoardReport::Kind::Clock;
    d.hour = bytes[PayloadByte];
    d.minute = bytes[PayloadByte + 1];
  }
  return d;
}

}  // namespace tonalis
