// The frame's board step: which report, if any, this frame sends.
#pragma once

#include <cstdint>

#include "board/board_link.h"
#include "common/types.h"
#include "platform/clock.h"

namespace tonalis {

// Hour and minute a clock report was last sent for; 88 (no real hour or minute) while
// levels are being sent, so the first clock frame after levels always sends.
inline constexpr uint8_t NoClockSent = 88;

struct BoardClock {
  uint8_t lastClockHour = 0;
  uint8_t lastClockMinute = 0;
};

// Levels mode (boardClockMode 0): forget the clock and send the levels, every frame.
// Clock mode (non-zero): send the local time when its hour or minute differs from the last
// one sent. A clock report that was not written (no board, failed, dropped) is not
// remembered as sent, so the next frame tries again; the local time is read only in clock
// mode.
void runBoardStep(BoardLink& link, BoardClock& clock, uint8_t boardClockMode,
                  const BoardLevels& boardLevels, Clock& timeSource);

}  // namespace tonalis
