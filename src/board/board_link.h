// The link to the USB HID display board: finding it among the present HID interfaces,
// opening it, closing it, following removal and arrival, and writing its reports.
// Everything here runs on the thread that runs frames and window messages; nothing locks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "board/board_report.h"
#include "common/types.h"
#include "platform/hid_host.h"

namespace tonalis {

inline constexpr uint16_t BoardVendorId = 0x0483;   // 1155
inline constexpr uint16_t BoardProductId = 0xF222;  // 61986
inline constexpr uint32_t BoardWriteTimeoutMs = 500;

// Results of the link operations (callers in the shell ignore them).
enum BoardStatus : int32_t {
  BoardOk = 0,
  BoardNotConnected = 5,     // nothing written
  BoardNoMemory = 6,         // search abandoned
  BoardReadOpenFailed = 7,   // board found; no handle opened
  BoardWriteOpenFailed = 8,  // board found; read handle open, write handle not
  BoardNotFound = 9,         // no present interface is the board
  BoardWriteFailed = 10,     // the report did not complete (failed, timed out or skipped)
};

struct BoardLink {
  HidHost* host = nullptr;  // not owned; set by initBoardLink, outlives the link

  // 1 from the moment openBoard found the board until the link is closed, even when its
  // handles could not be opened (status 7 or 8); 0 otherwise. Read by the tray menu and
  // the window renderer.
  int32_t connected = 0;

  // Path of the interface openBoard examined last; after a successful search, the board's.
  std::string devicePath;

  HidHandle readHandle;   // opened as the board expects, never read from
  HidHandle writeHandle;  // every report goes here

  // A write timed out and may still be outstanding on writeHandle. No new write is
  // started until it has finished or been cancelled.
  bool writePending = false;

  // Path of the board to open again when it arrives. Set whenever a search finds the board;
  // cleared when the user disconnects. Removal keeps it, so re-plugging the board that was
  // in use reconnects it.
  std::string reconnectPath;
};

// Prepares a closed link that uses `host`. The device-notification registration is the
// window backend's job.
void initBoardLink(BoardLink& link, HidHost& host);

// Searches the present HID interfaces in the system's order; the first with the board's
// vendor and product id wins. Returns BoardOk, BoardNoMemory, BoardReadOpenFailed,
// BoardWriteOpenFailed or BoardNotFound. Handles the link still held are released first.
int32_t openBoard(BoardLink& link);

// Cancels an outstanding write, closes both handles and clears `connected`.
void closeBoard(BoardLink& link);

// The tray command: disconnects a connected link (and stops reconnecting on arrival),
// otherwise searches again.
void toggleBoard(BoardLink& link);

// A device-interface notification. Removal of the connected board's own path (compared
// ignoring ASCII letter case) closes the link. Arrival of the path in `reconnectPath`
// while the link is closed searches again. Everything else is ignored. Returns 1.
int32_t onBoardDeviceChange(BoardLink& link, HidDeviceEvent event, std::string_view path);

// Write one report. BoardOk when written, BoardNotConnected without I/O, BoardWriteFailed
// otherwise. A write waits up to BoardWriteTimeoutMs; a write that fails does not wait.
// While a timed-out write is still outstanding, a report is dropped without waiting.
int32_t sendLevelsReport(BoardLink& link, const BoardLevels& boardLevels);
int32_t sendClockReport(BoardLink& link, uint8_t hour, uint8_t minute);

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace tonalis
