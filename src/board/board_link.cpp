#include "board/board_link.h"

#include <vector>

namespace tonalis {

namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

void releaseHandles(BoardLink& link) {
  if (link.host == nullptr) return;
  HidHost& host = *link.host;
  // The outstanding write owns the handle's overlapped slot and buffer: it must be over
  // before the handle goes.
  if (link.writePending) {
    host.cancelWrite(link.writeHandle);
    link.writePending = false;
  }
  if (link.readHandle.valid()) {
    host.close(link.readHandle);
    link.readHandle = InvalidHidHandle;
  }
  if (link.writeHandle.valid()) {
    host.close(link.writeHandle);
    link.writeHandle = InvalidHidHandle;
  }
}

int32_t writeReport(BoardLink& link, const BoardReport& report) {
  if (link.connected == 0 || link.host == nullptr) return BoardNotConnected;
  HidHost& host = *link.host;
  if (link.writePending) {
    // Only look: a board that stopped taking reports must not cost every frame the full
    // timeout. Until its write finishes, reports are dropped.
    if (host.waitWrite(link.writeHandle, 0) == HidWriteResult::TimedOut) return BoardWriteFailed;
    link.writePending = false;
  }
  switch (host.write(link.writeHandle, report.data(), report.size(), BoardWriteTimeoutMs)) {
    case HidWriteResult::Done:
      return BoardOk;
    case HidWriteResult::TimedOut:
      link.writePending = true;
      return BoardWriteFailed;
    case HidWriteResult::Failed:
      break;
  }
  return BoardWriteFailed;
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
  link.connected = 0;
  link.devicePath.clear();
  link.readHandle = InvalidHidHandle;
  link.writeHandle = InvalidHidHandle;
  link.writePending = false;
  link.reconnectPath.clear();
}

int32_t openBoard(BoardLink& link) {
  releaseHandles(link);
  link.connected = 0;
  if (link.host == nullptr) return BoardNotFound;
  HidHost& host = *link.host;

  std::vector<std::string> paths;
  const HidEnumStatus listed = host.enumerateInterfaces(paths);
  bool found = false;
  for (const std::string& path : paths) {
    link.devicePath = path;  // kept even when this one is not the board
    HidIds ids;
    if (path.empty() || !host.readIds(path, ids)) continue;
    if (ids.vendorId == BoardVendorId && ids.productId == BoardProductId) {
      found = true;
      break;
    }
  }
  if (!found) return listed == HidEnumStatus::OutOfMemory ? BoardNoMemory : BoardNotFound;

  link.connected = 1;
  link.reconnectPath = link.devicePath;
  link.readHandle = host.openForRead(link.devicePath);
  if (!link.readHandle.valid()) return BoardReadOpenFailed;
  link.writeHandle = host.openForWrite(link.devicePath);
  if (!link.writeHandle.valid()) return BoardWriteOpenFailed;
  return BoardOk;
}

void closeBoard(BoardLink& link) {
  releaseHandles(link);
  link.connected = 0;
}

void toggleBoard(BoardLink& link) {
  if (link.connected != 0) {
    closeBoard(link);
    link.reconnectPath.clear();  // the user chose to disconnect: do not come back on arrival
  } else {
    openBoard(link);
  }
}

int32_t onBoardDeviceChange(BoardLink& link, HidDeviceEvent event, std::string_view path) {
  switch (event) {
    case HidDeviceEvent::RemoveComplete:
      if (link.connected == 1 && equalsIgnoringAsciiCase(path, link.devicePath)) closeBoard(link);
      break;
    case HidDeviceEvent::Arrival:
      if (link.connected == 0 && !link.reconnectPath.empty() &&
          equalsIgnoringAsciiCase(path, link.reconnectPath)) {
        openBoard(link);
      }
      break;
    case HidDeviceEvent::Other:
      break;
  }
  return 1;
}

int32_t sendLevelsReport(BoardLink& link, const BoardLevels& boardLevels) {
  return writeReport(link, encodeLevelsReport(boardLevels));
}

int32_t sendClockReport(BoardLink& link, uint8_t hour, uint8_t minute) {
  return writeReport(link, encodeClockReport(hour, minute));
}

}  // namespace tonalis
