#include "board/board_link.h"

#include <vector>

namespace tonalis {

namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

void releaseHandle(BoardLink& link) {
  if (link.host != nullptr && link.handle.valid()) link.host->close(link.handle);
  link.handle = InvalidHidHandle;
}

BoardStatus writeReport(BoardLink& link, const BoardReport& report) {
  if (!link.connected || link.host == nullptr) return BoardStatus::NotConnected;
  if (!link.handle.valid()) return BoardStatus::WriteFailed;  // found but never opened
  switch (link.host->write(link.handle, report, BoardWriteTimeoutMs)) {
    case HidWriteResult::Done:
      return BoardStatus::Written;
    case HidWriteResult::Busy:
      return BoardStatus::Busy;
    case HidWriteResult::Failed:
      break;
  }
  return BoardStatus::WriteFailed;
}

}  // namespace

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

void initBoardLink(BoardLink& link, HidHost& host) {
  link.host = &host;
  link.connected = false;
  link.devicePath.clear();
  link.handle = InvalidHidHandle;
  link.reconnectPath.clear();
}

BoardStatus openBoard(BoardLink& link) {
  releaseHandle(link);
  link.connected = false;
  link.devicePath.clear();
  if (link.host == nullptr) return BoardStatus::NotFound;

  const std::vector<std::string> paths = link.host->find(BoardVendorId, BoardProductId);
  if (paths.empty()) return BoardStatus::NotFound;

  link.connected = true;
  link.devicePath = paths.front();
  link.reconnectPath = link.devicePath;
  link.handle = link.host->open(link.devicePath);
  return link.handle.valid() ? BoardStatus::Connected : BoardStatus::OpenFailed;
}

void closeBoard(BoardLink& link) {
  releaseHandle(link);
  link.connected = false;
  link.devicePath.clear();
}

void toggleBoard(BoardLink& link) {
  if (link.connected) {
    closeBoard(link);
    link.reconnectPath.clear();  // the user chose to disconnect: do not come back on arrival
  } else {
    openBoard(link);
  }
}

void onBoardDeviceChange(BoardLink& link, const DeviceChange& change) {
  switch (change.kind) {
    case DeviceChange::Kind::Removed:
      if (link.connected && equalsIgnoringAsciiCase(change.path, link.devicePath)) closeBoard(link);
      break;
    case DeviceChange::Kind::Arrived:
      if (!link.connected && !link.reconnectPath.empty() &&
          equalsIgnoringAsciiCase(change.path, link.reconnectPath)) {
        openBoard(link);
      }
      break;
    case DeviceChange::Kind::Other:
      break;
  }
}

BoardStatus sendLevelsReport(BoardLink& link, const BoardLevels& boardLevels) {
  return writeReport(link, encodeLevelsReport(boardLevels));
}

BoardStatus sendClockReport(BoardLink& link, uint8_t hour, uint8_t minute) {
  return writeReport(link, encodeClockReport(hour, minute));
}

}  // namespace tonalis
