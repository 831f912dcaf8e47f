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
  BoardStatus sendZeros() { return sendLevelsReport(link, BoardLevels{}); }
  std::string h() const { return std::to_string(link.handle.value); }

  FakeHidHost host;
  BoardLink link;
};

DeviceChange arrived(const std::string& path) { return {DeviceChange::Kind::Arrived, path}; }
DeviceChange removed(const std::string& path) { return {DeviceChange::Kind::Removed, path}; }

// --- discovery ---

struct SearchCase {
  const char* name;
  std::vector<FakeHidInterface> interfaces;
  BoardStatus status;
  bool connected;
  std::string devicePath;
  bool open;
};

TEST_F(BoardLinkTest, SearchTakesTheFirstBoardAndReportsEachOutcome) {
  FakeHidInterface noIds = board(Keyboard);
  noIds.idsReadable = false;
  FakeHidInterface noOpen = board(BoardA);
  noOpen.openOk = false;
  const SearchCase cases[] = {
      {"nothing present", {}, BoardStatus::NotFound, false, "", false},
      {"no board", {other(Mouse), other(Keyboard)}, BoardStatus::NotFound, false, "", false},
      {"vendor alone is not enough", {other(Mouse, 0x0483, 0x5740)}, BoardStatus::NotFound, false, "", false},
      {"product alone is not enough", {other(Mouse, 0x0484, 0xF222)}, BoardStatus::NotFound, false, "", false},
      {"first of two boards wins", {other(Mouse), board(BoardA), board(BoardB)}, BoardStatus::Connected, true,
       BoardA, true},
      {"unreadable details and ids are skipped", {other(""), noIds, board(BoardB)}, BoardStatus::Connected, true,
       BoardB, true},
      {"the board cannot be opened", {noOpen}, BoardStatus::OpenFailed, true, BoardA, false},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.name);
    closeBoard(link);
    host.interfaces = c.interfaces;
    host.clearLog();
    EXPECT_EQ(openBoard(link), c.status);
    EXPECT_EQ(link.connected, c.connected);
    EXPECT_EQ(link.devicePath, c.devicePath);
    EXPECT_EQ(link.handle.valid(), c.open);
  }
}

TEST_F(BoardLinkTest, SearchAsksForTheBoardsIdsAndOpensOnlyTheFirstMatch) {
  host.interfaces = {other(Mouse), board(BoardA), board(BoardB)};
  ASSERT_EQ(openBoard(link), BoardStatus::Connected);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"find 0483:f222", "open " + BoardA}));
}

TEST_F(BoardLinkTest, ABoardThatCannotBeOpenedFailsEveryReportAtOnceAndCanBeDisconnected) {
  FakeHidInterface b = board(BoardA);
  b.openOk = false;
  host.interfaces = {b};
  ASSERT_EQ(openBoard(link), BoardStatus::OpenFailed);
  host.clearLog();
  for (int frame = 0; frame < 10; ++frame) EXPECT_EQ(sendZeros(), BoardStatus::WriteFailed);
  EXPECT_EQ(host.waitedMillis, 0u);
  EXPECT_TRUE(host.calls.empty()) << "nothing to write to";

  toggleBoard(link);  // the menu offers "disconnect"
  EXPECT_FALSE(link.connected);
  EXPECT_EQ(host.openHandleCount(), 0);
}

TEST_F(BoardLinkTest, ToggleDisconnectsAndSearchesAgain) {
  host.interfaces = {board(BoardA)};
  toggleBoard(link);
  ASSERT_TRUE(link.connected);
  EXPECT_EQ(host.openHandleCount(), 1);
  toggleBoard(link);
  EXPECT_FALSE(link.connected);
  EXPECT_FALSE(link.handle.valid());
  EXPECT_EQ(host.openHandleCount(), 0);
  host.clearLog();
  EXPECT_EQ(sendZeros(), BoardStatus::NotConnected);
  EXPECT_TRUE(host.calls.empty()) << "no I/O without a link";
  toggleBoard(link);
  EXPECT_TRUE(link.connected);
}

TEST_F(BoardLinkTest, OpeningAgainReleasesTheHandleStillHeld) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardStatus::Connected);
  ASSERT_EQ(openBoard(link), BoardStatus::Connected);
  EXPECT_EQ(host.openHandleCount(), 1);
}

// --- device changes ---

struct ChangeCase {
  const char* name;
  DeviceChange change;
  bool closes;
};

TEST_F(BoardLinkTest, OnlyRemovalOfTheBoardsOwnPathClosesTheLink) {
  const ChangeCase cases[] = {
      {"removal of the board", removed(BoardA), true},
      {"removal, path in other letter case", removed(upper(BoardA)), true},
      {"removal of the second board", removed(BoardB), false},
      {"removal of a mouse", removed(Mouse), false},
      {"removal of a longer path", removed(BoardA + "x"), false},
      {"arrival of the board's path", arrived(BoardA), false},
      {"other notice", {DeviceChange::Kind::Other, BoardA}, false},
  };
  for (const ChangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    host.interfaces = {board(BoardA), board(BoardB), other(Mouse)};
    ASSERT_EQ(openBoard(link), BoardStatus::Connected);
    onBoardDeviceChange(link, c.change);
    EXPECT_EQ(link.connected, !c.closes);
    EXPECT_EQ(host.openHandleCount(), c.closes ? 0 : 1);
    if (c.closes) {
      host.clearLog();
      EXPECT_EQ(sendZeros(), BoardStatus::NotConnected);
      EXPECT_TRUE(host.calls.empty());
    }
    closeBoard(link);
  }
}

TEST_F(BoardLinkTest, RemovalAfterAFailedSearchChangesNothing) {
  host.interfaces = {other(Mouse)};
  ASSERT_EQ(openBoard(link), BoardStatus::NotFound);
  host.clearLog();
  onBoardDeviceChange(link, removed(Mouse));
  onBoardDeviceChange(link, removed(""));
  EXPECT_FALSE(link.connected);
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(BoardLinkTest, TheRemovedBoardReconnectsWhenItsPathArrives) {
  host.interfaces = {other(Mouse), board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardStatus::Connected);
  host.unplug(BoardA, FakeWriteMode::Fail);
  onBoardDeviceChange(link, removed(BoardA));
  ASSERT_FALSE(link.connected);

  // Another device arriving does not trigger a search.
  host.interfaces.push_back(other(Keyboard));
  host.clearLog();
  onBoardDeviceChange(link, arrived(Keyboard));
  EXPECT_TRUE(host.calls.empty());

  // The board is back (Windows may spell the path in other case).
  host.interfaces.push_back(board(BoardA));
  host.writeMode = FakeWriteMode::Complete;
  onBoardDeviceChange(link, arrived(upper(BoardA)));
  EXPECT_TRUE(link.connected);
  EXPECT_EQ(link.devicePath, BoardA);
  EXPECT_EQ(sendZeros(), BoardStatus::Written);
}

TEST_F(BoardLinkTest, ArrivalBeforeTheBoardCanBeOpenedIsRetriedOnTheNextArrival) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardStatus::Connected);
  host.unplug(BoardA, FakeWriteMode::Fail);
  onBoardDeviceChange(link, removed(BoardA));

  FakeHidInterface notReady = board(BoardA);
  notReady.idsReadable = false;
  host.interfaces = {other(Mouse), notReady};
  onBoardDeviceChange(link, arrived(BoardA));
  EXPECT_FALSE(link.connected);

  host.interfaces = {other(Mouse), board(BoardA)};
  onBoardDeviceChange(link, arrived(BoardA));
  EXPECT_TRUE(link.connected);
}

TEST_F(BoardLinkTest, NoAutomaticConnectionTheUserDidNotAskFor) {
  // Disconnected by the user, then re-plugged.
  host.interfaces = {board(BoardA)};
  toggleBoard(link);
  ASSERT_TRUE(link.connected);
  toggleBoard(link);
  onBoardDeviceChange(link, removed(BoardA));
  onBoardDeviceChange(link, arrived(BoardA));
  EXPECT_FALSE(link.connected);

  // Never connected: the board was absent at start and is plugged in later.
  BoardLink fresh;
  FakeHidHost freshHost;
  initBoardLink(fresh, freshHost);
  EXPECT_EQ(openBoard(fresh), BoardStatus::NotFound);
  freshHost.interfaces = {board(BoardA)};
  onBoardDeviceChange(fresh, arrived(BoardA));
  EXPECT_FALSE(fresh.connected);
  EXPECT_EQ(freshHost.calls, std::vector<std::string>{"find 0483:f222"});
}

// --- writes ---

TEST_F(BoardLinkTest, ReportsGoToTheHandleAsEncoded) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardStatus::Connected);
  host.clearLog();
  BoardLevels levels{};
  levels[0] = 17;
  EXPECT_EQ(sendLevelsReport(link, levels), BoardStatus::Written);
  EXPECT_EQ(sendClockReport(link, 9, 5), BoardStatus::Written);
  ASSERT_EQ(host.writes.size(), 2u);
  EXPECT_EQ(host.writes[0].handle, link.handle.value);
  const BoardReport l = encodeLevelsReport(levels);
  const BoardReport c = encodeClockReport(9, 5);
  EXPECT_EQ(host.writes[0].bytes, std::vector<uint8_t>(l.begin(), l.end()));
  EXPECT_EQ(host.writes[1].bytes, std::vector<uint8_t>(c.begin(), c.end()));
}

TEST_F(BoardLinkTest, AWriteThatFailsAtOnceCostsNoWait) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardStatus::Connected);
  host.writeMode = FakeWriteMode::Fail;
  host.clearLog();
  for (int frame = 0; frame < 36; ++frame) EXPECT_EQ(sendZeros(), BoardStatus::WriteFailed);
  EXPECT_EQ(host.writes.size(), 36u) << "each frame tries again: nothing is pending";
  EXPECT_EQ(host.waitedMillis, 0u);
  host.writeMode = FakeWriteMode::Complete;
  EXPECT_EQ(sendZeros(), BoardStatus::Written);
}

TEST_F(BoardLinkTest, ATimedOutWriteIsNeverOverlappedAndStallsOnlyOnce) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardStatus::Connected);
  host.writeMode = FakeWriteMode::Hang;
  host.clearLog();

  EXPECT_EQ(sendZeros(), BoardStatus::Busy);
  EXPECT_EQ(host.waitedMillis, 500u);  // one write timeout
  EXPECT_TRUE(host.writePending(link.handle));

  // While it is pending, frames only look at it.
  for (int frame = 0; frame < 100; ++frame) EXPECT_EQ(sendZeros(), BoardStatus::Busy);
  EXPECT_EQ(host.writes.size(), 1u);
  EXPECT_EQ(host.waitedMillis, 500u);  // one write timeout
  EXPECT_EQ(host.calls.back(), "write " + h() + " busy");

  // The slow board takes it at last: the next frame writes again.
  host.finishPendingWrites();
  host.writeMode = FakeWriteMode::Complete;
  EXPECT_EQ(sendZeros(), BoardStatus::Written);
  EXPECT_EQ(host.writes.size(), 2u);
  EXPECT_FALSE(host.writePending(link.handle));
}

TEST_F(BoardLinkTest, APendingWriteIsCancelledWithItsHandle) {
  struct Case {
    const char* name;
    void (*close)(BoardLink&);
    int handlesAfter;
  };
  const Case cases[] = {
      {"user disconnects", [](BoardLink& l) { toggleBoard(l); }, 0},
      {"board removed", [](BoardLink& l) { onBoardDeviceChange(l, removed(BoardA)); }, 0},
      {"exit", [](BoardLink& l) { closeBoard(l); }, 0},
      {"searched again", [](BoardLink& l) { openBoard(l); }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.interfaces = {board(BoardA)};
    host.writeMode = FakeWriteMode::Complete;
    ASSERT_EQ(openBoard(link), BoardStatus::Connected);
    host.writeMode = FakeWriteMode::Hang;
    ASSERT_EQ(sendZeros(), BoardStatus::Busy);
    const std::string pendingOn = h();
    host.clearLog();
    c.close(link);
    const int cancel = indexOf(host.calls, "cancel " + pendingOn);
    const int close = indexOf(host.calls, "close " + pendingOn);
    ASSERT_GE(cancel, 0);
    EXPECT_EQ(cancel + 1, close);
    EXPECT_EQ(host.openHandleCount(), c.handlesAfter);
    if (link.handle.valid()) {
      EXPECT_NE(h(), pendingOn);
      EXPECT_FALSE(host.writePending(link.handle)) << "a new handle starts with nothing pending";
    }
    closeBoard(link);
  }
}

// A board that goes away mid-run, before (or without) its removal notice.
TEST_F(BoardLinkTest, ABoardThatDisappearsDoesNotStallEveryFrame) {
  for (FakeWriteMode gone : {FakeWriteMode::Fail, FakeWriteMode::Hang}) {
    SCOPED_TRACE(gone == FakeWriteMode::Fail ? "writes fail" : "writes hang");
    host = FakeHidHost{};
    host.interfaces = {board(BoardA)};
    ASSERT_EQ(openBoard(link), BoardStatus::Connected);
    for (int frame = 0; frame < 10; ++frame) ASSERT_EQ(sendZeros(), BoardStatus::Written);

    host.unplug(BoardA, gone);
    for (int frame = 0; frame < 360; ++frame) EXPECT_NE(sendZeros(), BoardStatus::Written);
    EXPECT_LE(host.waitedMillis, 500u) << "at most one timeout in ten seconds";

    onBoardDeviceChange(link, removed(BoardA));
    EXPECT_FALSE(link.connected);
    EXPECT_EQ(host.openHandleCount(), 0);
    host.clearLog();
    EXPECT_EQ(sendZeros(), BoardStatus::NotConnected);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(host.misuse.empty());
  }
}

TEST_F(BoardLinkTest, APendingWriteThatTheDriverFailsLetsTheNextOneStart) {
  host.interfaces = {board(BoardA)};
  ASSERT_EQ(openBoard(link), BoardStatus::Connected);
  host.writeMode = FakeWriteMode::Hang;
  ASSERT_EQ(sendZeros(), BoardStatus::Busy);
  host.finishPendingWrites();
  host.writeMode = FakeWriteMode::Fail;
  host.clearLog();
  EXPECT_EQ(sendZeros(), BoardStatus::WriteFailed);
  EXPECT_EQ(host.writes.size(), 1u) << "a failed pending write is over: write again";
  EXPECT_FALSE(host.writePending(link.handle));
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
