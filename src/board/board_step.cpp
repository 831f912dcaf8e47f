#include "board/board_step.h"

namespace tonalis {

void runBoardStep(BoardLink& link, BoardClock& clock, uint8_t boardClockMode,
                  const BoardLevels& boardLevels, Clock& timeSource) {
  if (boardClockMode == 0) {
    clock.lastClockHour = NoClockSent;
    clock.lastClockMinute = NoClockSent;
    sendLevelsReport(link, boardLevels);
    return;
  }
  const LocalTime now = timeSource.localTime();
  const auto hour = uint8_t(now.hour);
  const auto minute = uint8_t(now.minute);
  if (hour == clock.lastClockHour && minute == clock.lastClockMinute) return;
  clock.lastClockHour = hour;
  clock.lastClockMinute = minute;
  if (sendClockReport(link, hour, minute) != BoardStatus::Written) {
    // A board connected (or recovering) during a long silence then shows the time on the
    // next frame instead of up to a minute later.
    clock.lastClockHour = NoClockSent;
    clock.lastClockMinute = NoClockSent;
  }
}

}  // namespace tonalis
