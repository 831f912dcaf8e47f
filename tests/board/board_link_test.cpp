#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "board/board_link.h"
#include "fakes/fake_hid_host.h"

namespace tonalis {
namespace {

const std::string BoardA = R"(\\?\hid#vid_0483&pid_f222#7&1a2b3c&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})";
const std::string BoardB = R"(\\?\hid#vid_0483&pid_f222#7&99aa00&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})";
const std::string Mouse = R"(\\?\hid#vid_046d&pid_c077#7&2c1d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})";
const std::string Keyboard = R"(\\?\hid#vid_046d&pid_c31c#7&3e4f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})";

// The board answers to vendor 0x0483, product 0xF222.
FakeHidInterface board(const std::string& path) { return {path, 0x0483, 0xF222}; }
FakeHidInterface other(const std::string& path, uint16_t vid = 0x046D, uint16_t pid = 0xC077) {
  return {path, vid, pid};
}

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
  return s;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// Index of the first call equal to `s`, or -1.
int indexOf(const std::vector<std::string>& v, const std::string& s) {
  auto it = std::find(v.begin(), v.end(), s);
  return it == v.end() ? -1 : int(it - v.begin());
}

class BoardLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { initBoardLink(link, host); }
  void TearDown() override {
    closeBoard(link);
    EXPECT_EQ(host.openHandleCount(), 0) << "handles leaked";
    EXPECT_TRUE(host.misuse.empty()) << host.misuse.front();
  }
  int32_t sendZeros() { return sendLevelsReport(link, BoardLevels{}); }
  std::string w() const { return std::to_string(link.writeHandle.value); }

  FakeHidHost host;
  BoardLink link;
};

// --- discovery ---

struct SearchCase {
  const char* name;
  std::vector<FakeHidInterface> interfaces;
  int outOfMemoryAt;
  int32_t status;
  int32_t connected;
  std::string devicePath;
  bool readOpen, writeOpen;
};

TEST_F(BoardLinkTest, SearchTakesTheFirstBoardAndReportsEachOutcome) {
  FakeHidInterface noIds = board(Keyboard);
  noIds.idsReadable = false;
  FakeHidInterface noRead = board(BoardA);
  noRead.openReadOk = false;
  FakeHidInterface noWrite = board(BoardA);
  noWrite.openWriteOk = false;
  const SearchCase cases[] = {
      {"nothing present", {}, -1, BoardNotFound, 0, "", false, false},
      {"no board: path of the last one examined", {other(Mouse), other(Keyboard)}, -1,
       BoardNotFound, 0, Keyboard, false, false},
      {"vendor alone is not enough", {other(Mouse, 0x0483, 0x5740)}, -1, BoardNotFound, 0,
       Mouse, false, false},
      {"product alone is not enough", {other(Mouse, 0x0484, 0xF222)}, -1, BoardNotFound, 0,
       Mouse, false, false},
      {"first of two boards wins", {other(Mouse), board(BoardA), board(BoardB)}, -1, BoardOk, 1,
       BoardA, true, true},
      {"unreadable details and ids are skipped", {other(""), noIds, board(BoardB)}, -1, BoardOk, 1,
       BoardB, true, true},
      {"out of memory before the board", {other(Mouse), other(Keyboard), board(BoardA)}, 2,
       BoardNoMemory, 0, Keyboard, false, false},
      {"board found before memory ran out", {board(BoardA), other(Mouse)}, 1, BoardOk, 1, BoardA,
       true, true},
      {"read handle cannot be opened", {noRead}, -1, BoardReadOpenFailed, 1, BoardA, false, false},
      {"write handle cannot be opened", {noWrite}, -1, BoardWriteOpenFailed, 1, BoardA, true,
       false},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.name);
    closeBoard(link);
    host.interfaces = c.interfaces;
    host.outOfMemoryAt = c.outOfMemoryAt;
    host.clearLog();
    EXPECT_EQ(openBoard(link), c.status);
    EXPECT_EQ(link.connected, c.connected);
    EXPECT_EQ(link.devicePath, c.devicePath);
    EXPECT_EQ(link.readHandle.valid(), c.readOpen);
    EXPECT_EQ(link.writeHandle.valid(), c.writeOpen);
  }
}

TEST_F(BoardLinkTest, SearchStopsAtTheFirstMatch) {
  host.interfaces = {other(Mouse), board(BoardA), board(BoardB)};
  ASSERT_EQ(openBoard(link), BoardOk);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"enumerate", "readIds " + Mouse,
                                                  "readIds " + BoardA, "openRead " + BoardA,
                                                  "openWrite " + BoardA}));
}

TEST_F(BoardLinkTest, NoWriteHandleIsAttemptedWhenTheReadHandleFails) {
  FakeHidInterface b = board(BoardA);
  b.openReadOk = false;
  host.interfaces = {b};
  ASSERT_EQ(openBoard(link), BoardReadOpenFailed);
  EXPECT_FALSE(contains(host.calls, "openWrite " + BoardA));
}

TEST_F(BoardLinkTest, BoardWithoutWriteHandleFailsEveryReportAtOnceAndCanBeDisconnected) {
  FakeHidInterface b = board(BoardA);
  b.openWriteOk = false;
  host.interfaces = {b};
  ASSERT_EQ(openBoard(link), BoardWriteOpenFailed);
  for (int frame = 0; frame < 10; ++frame) EXPECT_EQ(sendZeros(), BoardWriteFailed);
  EXPECT_EQ(host.waitedMillis, 0u);

  toggleBoard(link);  // the menu offers "disconnect"
  EXPECT_EQ(link.connected, 0);
  EXPECT_EQ(host.openHandleCount(), 0);
}

TEST_F(BoardLinkTest, ToggleDisconnectsAndSearchesAgain) {
  host.interfaces = {board(BoardA)};
  toggleBoard(link);
  ASSERT_EQ(link.connected, 1);
  EXPECT_EQ(host.openHandleCount(), 2);
  toggleBoard(link);
  EXPECT_EQ(link.connected, 0);
  EXPECT_FALSE(link.readHandle.valid());
  EXPECT_FALSE(link.writeHandle.valid());
  EXPECT_EQ(host.openHandleCount(), 0);
  host.clearLog();
  EXPECT_EQ(sendZeros(), BoardNotConnected);
  EXPECT_TRUE(host.calls.empty()) << "no I/O without a link";
  toggleBoard(link);
  EXPECT_EQ(link.connected, 1);
}

TEST_F(BoardLinkTest, OpeningAgainReleasesTheHandlesStillHeld) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardOk);
  ASSERT_EQ(openBoard(link), BoardOk);
  EXPECT_EQ(host.openHandleCount(), 2);
}

// --- device changes ---

struct ChangeCase {
  const char* name;
  HidDeviceEvent event;
  std::string path;
  bool closes;
};

TEST_F(BoardLinkTest, OnlyRemovalOfTheBoardsOwnPathClosesTheLink) {
  const ChangeCase cases[] = {
      {"removal of the board", HidDeviceEvent::RemoveComplete, BoardA, true},
      {"removal, path in other letter case", HidDeviceEvent::RemoveComplete, upper(BoardA), true},
      {"removal of the second board", HidDeviceEvent::RemoveComplete, BoardB, false},
      {"removal of a mouse", HidDeviceEvent::RemoveComplete, Mouse, false},
      {"removal of a longer path", HidDeviceEvent::RemoveComplete, BoardA + "x", false},
      {"arrival of the board's path", HidDeviceEvent::Arrival, BoardA, false},
      {"other event", HidDeviceEvent::Other, BoardA, false},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    host.interfaces = {board(BoardA), board(BoardB), other(Mouse)};
    ASSERT_EQ(openBoard(link), BoardOk);
    EXPECT_EQ(onBoardDeviceChange(link, c.event, c.path), 1);
    EXPECT_EQ(link.connected, c.closes ? 0 : 1);
    EXPECT_EQ(host.openHandleCount(), c.closes ? 0 : 2);
    if (c.closes) {
      host.clearLog();
      EXPECT_EQ(sendZeros(), BoardNotConnected);
      EXPECT_TRUE(host.calls.empty());
    }
    closeBoard(link);
  }
}

TEST_F(BoardLinkTest, RemovalAfterAFailedSearchChangesNothing) {
  host.interfaces = {other(Mouse)};
  ASSERT_EQ(openBoard(link), BoardNotFound);
  ASSERT_EQ(link.devicePath, Mouse);
  host.clearLog();
  EXPECT_EQ(onBoardDeviceChange(link, HidDeviceEvent::RemoveComplete, Mouse), 1);
  EXPECT_EQ(link.connected, 0);
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(BoardLinkTest, TheRemovedBoardReconnectsWhenItsPathArrives) {
  host.interfaces = {other(Mouse), board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardOk);
  host.unplug(BoardA, FakeWriteMode::Fail);
  onBoardDeviceChange(link, HidDeviceEvent::RemoveComplete, BoardA);
  ASSERT_EQ(link.connected, 0);

  // Another device arriving does not trigger a search.
  host.interfaces.push_back(other(Keyboard));
  host.clearLog();
  onBoardDeviceChange(link, HidDeviceEvent::Arrival, Keyboard);
  EXPECT_TRUE(host.calls.empty());

  // The board is back (Windows may spell the path in other case).
  host.interfaces.push_back(board(BoardA));
  host.writeMode = FakeWriteMode::Complete;
  EXPECT_EQ(onBoardDeviceChange(link, HidDeviceEvent::Arrival, upper(BoardA)), 1);
  EXPECT_EQ(link.connected, 1);
  EXPECT_EQ(link.devicePath, BoardA);
  EXPECT_EQ(sendZeros(), BoardOk);
}

TEST_F(BoardLinkTest, ArrivalBeforeTheBoardCanBeOpenedIsRetriedOnTheNextArrival) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardOk);
  host.unplug(BoardA, FakeWriteMode::Fail);
  onBoardDeviceChange(link, HidDeviceEvent::RemoveComplete, BoardA);

  FakeHidInterface notReady = board(BoardA);
  notReady.idsReadable = false;
  host.interfaces = {other(Mouse), notReady};
  onBoardDeviceChange(link, HidDeviceEvent::Arrival, BoardA);
  EXPECT_EQ(link.connected, 0);

  host.interfaces = {other(Mouse), board(BoardA)};
  onBoardDeviceChange(link, HidDeviceEvent::Arrival, BoardA);
  EXPECT_EQ(link.connected, 1);
}

TEST_F(BoardLinkTest, NoAutomaticConnectionTheUserDidNotAskFor) {
  // Disconnected by the user, then re-plugged.
  host.interfaces = {board(BoardA)};
  toggleBoard(link);
  ASSERT_EQ(link.connected, 1);
  toggleBoard(link);
  onBoardDeviceChange(link, HidDeviceEvent::RemoveComplete, BoardA);
  onBoardDeviceChange(link, HidDeviceEvent::Arrival, BoardA);
  EXPECT_EQ(link.connected, 0);

  // Never connected: the board was absent at start and is plugged in later.
  BoardLink fresh;
  FakeHidHost freshHost;
  initBoardLink(fresh, freshHost);
  EXPECT_EQ(openBoard(fresh), BoardNotFound);
  freshHost.interfaces = {board(BoardA)};
  onBoardDeviceChange(fresh, HidDeviceEvent::Arrival, BoardA);
  EXPECT_EQ(fresh.connected, 0);
  EXPECT_EQ(freshHost.calls, std::vector<std::string>{"enumerate"});
}

// --- writes ---

TEST_F(BoardLinkTest, ReportsGoToTheWriteHandleAsEncoded) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardOk);
  host.clearLog();
  BoardLevels levels{};
  levels[0] = 17;
  EXPECT_EQ(sendLevelsReport(link, levels), BoardOk);
  EXPECT_EQ(sendClockReport(link, 9, 5), BoardOk);
  ASSERT_EQ(host.writes.size(), 2u);
  EXPECT_EQ(host.writes[0].handle, link.writeHandle.value);
  const BoardReport l = encodeLevelsReport(levels);
  const BoardReport c = encodeClockReport(9, 5);
  EXPECT_EQ(host.writes[0].bytes, std::vector<uint8_t>(l.begin(), l.end()));
  EXPECT_EQ(host.writes[1].bytes, std::vector<uint8_t>(c.begin(), c.end()));
}

TEST_F(BoardLinkTest, AWriteThatFailsAtOnceCostsNoWait) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardOk);
  host.writeMode = FakeWriteMode::Fail;
  host.clearLog();
  for (int frame = 0; frame < 36; ++frame) EXPECT_EQ(sendZeros(), BoardWriteFailed);
  EXPECT_EQ(host.writes.size(), 36u) << "each frame tries again: nothing is outstanding";
  EXPECT_EQ(host.waitedMillis, 0u);
  host.writeMode = FakeWriteMode::Complete;
  EXPECT_EQ(sendZeros(), BoardOk);
}

TEST_F(BoardLinkTest, ATimedOutWriteIsNeverOverlappedAndStallsOnlyOnce) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardOk);
  host.writeMode = FakeWriteMode::Hang;
  host.clearLog();

  EXPECT_EQ(sendZeros(), BoardWriteFailed);
  EXPECT_EQ(host.waitedMillis, 500u);  // one write timeout
  EXPECT_TRUE(host.writeOutstanding(link.writeHandle));

  // While it is outstanding, frames only look at it.
  for (int frame = 0; frame < 100; ++frame) EXPECT_EQ(sendZeros(), BoardWriteFailed);
  EXPECT_EQ(host.writes.size(), 1u);
  EXPECT_EQ(host.waitedMillis, 500u);  // one write timeout
  EXPECT_EQ(host.calls.back(), "wait " + w() + " 0");

  // The slow board takes it at last: the next frame writes again.
  host.finishOutstandingWrites();
  host.writeMode = FakeWriteMode::Complete;
  EXPECT_EQ(sendZeros(), BoardOk);
  EXPECT_EQ(host.writes.size(), 2u);
  EXPECT_FALSE(link.writePending);
}

TEST_F(BoardLinkTest, AnOutstandingWriteIsCancelledBeforeItsHandleCloses) {
  struct Case {
    const char* name;
    void (*close)(BoardLink&);
  };
  const Case cases[] = {
      {"user disconnects", [](BoardLink& l) { toggleBoard(l); }},
      {"board removed", [](BoardLink& l) { onBoardDeviceChange(l, HidDeviceEvent::RemoveComplete, BoardA); }},
      {"exit", [](BoardLink& l) { closeBoard(l); }},
      {"searched again", [](BoardLink& l) { openBoard(l); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.interfaces = {board(BoardA)};
    host.writeMode = FakeWriteMode::Complete;
    ASSERT_EQ(openBoard(link), BoardOk);
    host.writeMode = FakeWriteMode::Hang;
    sendZeros();
    const std::string h = w();
    host.clearLog();
    c.close(link);
    const int cancel = indexOf(host.calls, "cancel " + h);
    const int close = indexOf(host.calls, "close " + h);
    ASSERT_GE(cancel, 0);
    EXPECT_LT(cancel, close);
    EXPECT_FALSE(link.writePending);
    closeBoard(link);
  }
}

// A board that goes away mid-run, before (or without) its removal notification.
TEST_F(BoardLinkTest, ABoardThatDisappearsDoesNotStallEveryFrame) {
  for (FakeWriteMode gone : {FakeWriteMode::Fail, FakeWriteMode::Hang}) {
    SCOPED_TRACE(gone == FakeWriteMode::Fail ? "writes fail" : "writes hang");
    host = FakeHidHost{};
    host.interfaces = {board(BoardA)};
    ASSERT_EQ(openBoard(link), BoardOk);
    for (int frame = 0; frame < 10; ++frame) ASSERT_EQ(sendZeros(), BoardOk);

    host.unplug(BoardA, gone);
    for (int frame = 0; frame < 360; ++frame) EXPECT_EQ(sendZeros(), BoardWriteFailed);
    EXPECT_LE(host.waitedMillis, 500u) << "at most one timeout in ten seconds";

    onBoardDeviceChange(link, HidDeviceEvent::RemoveComplete, BoardA);
    EXPECT_EQ(link.connected, 0);
    EXPECT_EQ(host.openHandleCount(), 0);
    host.clearLog();
    EXPECT_EQ(sendZeros(), BoardNotConnected);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(host.misuse.empty());
  }
}

TEST_F(BoardLinkTest, AnOutstandingWriteThatTheDriverFailsFreesTheSlot) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardOk);
  host.writeMode = FakeWriteMode::Hang;
  sendZeros();
  host.finishOutstandingWrites(HidWriteResult::Failed);
  host.writeMode = FakeWriteMode::Fail;
  host.clearLog();
  EXPECT_EQ(sendZeros(), BoardWriteFailed);
  EXPECT_EQ(host.writes.size(), 1u) << "a failed outstanding write is over: write again";
  EXPECT_FALSE(link.writePending);
}

TEST(BoardPathCompare, IgnoresAsciiCaseOnly) {
  EXPECT_TRUE(equalsIgnoringAsciiCase(R"(\\?\HID#VID_0483)", R"(\\?\hid#vid_0483)"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("abc", "abd"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("abc", "abcd"));
  EXPECT_TRUE(equalsIgnoringAsciiCase("", ""));
  // Bytes of multibyte characters are compared as they are.
  EXPECT_FALSE(equalsIgnoringAsciiCase("\xC3\xA9", "\xC3\x89"));
}

}  // namespace
}  // namespace tonalis
