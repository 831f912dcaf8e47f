// The board's output reports: 65 bytes, byte 0 the HID report id 0, then a 5-byte
// signature, a type byte, the payload and zero fill. Every field is one unsigned byte.
// Pure functions: no I/O, no allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/types.h"

namespace tonalis {

inline constexpr size_t BoardReportSize = 65;
using BoardReport = std::array<uint8_t, BoardReportSize>;

// Bytes 1..5 of every report.
inline constexpr std::array<uint8_t, 5> ReportSignature{0xA3, 0x3A, 0xB4, 0x4B, 0x55};

inline constexpr uint8_t LevelsReportType = 1;  // bytes 7..30: 24 band heights, band 0 first
inline constexpr uint8_t ClockReportType = 2;   // byte 7: hour 0..23, byte 8: minute 0..59

// Levels report from the 24 shown heights. A height above 17 is sent as 17: the board
// has 17 cells a column and need not guard against more.
BoardReport encodeLevelsReport(const BoardLevels& levels);

// Clock report; hour and minute as plain integers (not BCD), sent as given.
BoardReport encodeClockReport(uint8_t hour, uint8_t minute);

// What a report asks the board to show, read back from its bytes (monitor tool, tests).
struct DecodedBoardReport {
  enum class Kind { Invalid, Levels, Clock } kind = Kind::Invalid;
  BoardLevels levels{};  // Levels only
  uint8_t hour = 0;      // Clock only
  uint8_t minute = 0;    // Clock only
};

// Invalid unless `size` is 65, byte 0 is 0, the signature matches and the type is 1 or 2.
// The fill bytes are not checked: a board should ignore them.
DecodedBoardReport decodeBoardReport(const uint8_t* bytes, size_t size);

}  // namespace tonalis
