// The link to the USB HID display board: finding it, opening it, closing it, following
// removal and arrival, and writing its reports.
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

// What a link operation came to. The shell ignores them; the tests read them.
enum class BoardStatus {
  // openBoard
  Connected,   // the board is open and takes reports
  NotFound,    // no present interface is the board
  OpenFailed,  // the board is there but could not be opened: the link counts as connected
               // (the menu offers to disconnect) and its reports fail at once
  // sendLevelsReport, sendClockReport
  Written,       // the board took the report
  NotConnected,  // no link: nothing written
  Busy,          // the board has not taken an earlier report yet (or this one within the
                 // write timeout): this one is dropped
  WriteFailed,   // the write failed; nothing is left pending
};

struct BoardLink {
  HidHost* host = nullptr;  // not owned; set by initBoardLink, outlives the link

  // From the moment openBoard found the board until the link is closed, even when it
  // could not be opened. Read by the tray menu and the window renderer.
  bool connected = false;

  // The board's interface path while connected; empty otherwise.
  std::string devicePath;

  HidHandle handle;  // every report goes here; the host keeps a write that is still pending

  // Path of the board to open again when it arrives. Set whenever a search finds the board;
  // cleared when the user disconnects. Removal keeps it, so re-plugging the board that was
  // in use reconnects it.
  std::string reconnectPath;
};

// Prepares a closed link that uses `host`. The device-notification registration is the
// window backend's job.
void initBoardLink(BoardLink& link, HidHost& host);

// Looks for the board; the first of its interfaces in the system's order wins. Returns
// Connected, NotFound or OpenFailed. A handle the link still held is closed first.
BoardStatus openBoard(BoardLink& link);

// Closes the handle (the host cancels a pending write first) and clears `connected`.
void closeBoard(BoardLink& link);

// The tray command: disconnects a connected link (and stops reconnecting on arrival),
// otherwise searches again.
void toggleBoard(BoardLink& link);

// A device-interface notice. Removal of the connected board's own path (compared ignoring
// ASCII letter case: Windows spells it either way) closes the link. Arrival of the path in
// `reconnectPath` while the link is closed searches again. Everything else is ignored.
void onBoardDeviceChange(BoardLink& link, const DeviceChange& change);

// Write one report, waiting at most BoardWriteTimeoutMs. Written, NotConnected (no I/O),
// Busy (dropped without waiting while an earlier write is pending) or WriteFailed.
BoardStatus sendLevelsReport(BoardLink& link, const BoardLevels& boardLevels);
BoardStatus sendClockReport(BoardLink& link, uint8_t hour, uint8_t minute);

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace tonalis
