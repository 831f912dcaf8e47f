// The board's host over hidapi, with hidapi answered by the stand-in in fake_hidapi.cpp: a
// device that takes reports, one that holds them (a hidraw write then blocks in the kernel),
// one that refuses them and one that is pulled out mid-write.
#include "backend/linux/hid_host.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <optional>
#include <thread>

#include "fake_hidapi.h"

namespace tonalis::lnx {
namespace {

using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

const std::string Board = "/dev/hidraw1";

// A report that says which it is in its second byte.
std::array<uint8_t, 65> report(uint8_t mark) {
  std::array<uint8_t, 65> r{};
  r[1] = mark;
  return r;
}

int threadCount() {
  int n = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* e = ::readdir(dir)) n += e->d_name[0] != '.';
    ::closedir(dir);
  }
  return n;
}

class LinuxHidHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hid.reset();
    hid.nodes = {{"/dev/hidraw0", 0x046D, 0xC077}, {Board, 0x0483, 0xF222}};
  }
  void TearDown() override {
    hid.set(&FakeHidapi::holding, false);  // lets a write left behind end
    EXPECT_TRUE(hid.waitFor(2000, [&] { return hid.openDevices == 0; })) << "a device is still open";
    hid.reset();
  }
  // Runs `f` and says how long it took.
  template <class F>
  static Ms timed(F f) {
    const auto start = SteadyClock::now();
    f();
    return std::chrono::duration_cast<Ms>(SteadyClock::now() - start);
  }
  std::vector<uint8_t> markOfTaken() {
    std::lock_guard lock(hid.mutex);
    std::vector<uint8_t> marks;
    for (const auto& r : hid.taken) marks.push_back(r[1]);
    return marks;
  }

  FakeHidapi& hid = fakeHidapi();
};

TEST_F(LinuxHidHostTest, FindAsksForTheIdsAndListsThePathsInOrder) {
  hid.nodes = {{"/dev/hidraw0", 0x046D, 0xC077}, {"/dev/hidraw4", 0x0483, 0xF222}, {"", 0x0483, 0xF222},
               {"/dev/hidraw2", 0x0483, 0xF222}, {"/dev/hidraw3", 0x0483, 0x5740}};
  LinuxHidHost host;
  EXPECT_EQ(host.find(0x0483, 0xF222), (std::vector<std::string>{"/dev/hidraw4", "/dev/hidraw2"}));
  EXPECT_TRUE(host.find(0x1234, 0x5678).empty());
}

TEST_F(LinuxHidHostTest, WhatIsNotThereIsRefusedAndNoThreadRunsForIt) {
  const int before = threadCount();
  LinuxHidHost host;
  host.find(0x0483, 0xF222);
  EXPECT_FALSE(host.open("/dev/hidraw-none").valid());
  EXPECT_FALSE(host.open("").valid());
  const auto r = report(1);
  EXPECT_EQ(host.write(InvalidHidHandle, r, 500), HidWriteResult::Failed);
  EXPECT_EQ(host.write(HidHandle{42}, r, 500), HidWriteResult::Failed);
  host.close(InvalidHidHandle);
  host.close(HidHandle{42});
  EXPECT_EQ(threadCount(), before) << "a host without a board writes nothing and needs no thread";

  const HidHandle board = host.open(Board);
  ASSERT_TRUE(board.valid());
  EXPECT_EQ(threadCount(), before + 1) << "one writer thread";
  const HidHandle again = host.open(Board);
  EXPECT_EQ(threadCount(), before + 1) << "one writer thread for every handle";
  host.close(board);
  host.close(again);
  EXPECT_EQ(host.write(board, r, 500), HidWriteResult::Failed) << "a closed handle";
}

TEST_F(LinuxHidHostTest, ReportsReachTheDeviceAndARefusedOneFailsAtOnce) {
  LinuxHidHost host;
  const HidHandle board = host.open(Board);
  ASSERT_TRUE(board.valid());
  EXPECT_EQ(host.write(board, report(1), 500), HidWriteResult::Done);
  {
    std::lock_guard lock(hid.mutex);
    ASSERT_EQ(hid.taken.size(), 1u);
    const auto sent = report(1);
    EXPECT_EQ(hid.taken[0], std::vector<uint8_t>(sent.begin(), sent.end())) << "byte for byte";
  }

  hid.set(&FakeHidapi::refusing, true);
  for (int i = 0; i < 5; ++i) {
    EXPECT_LT(timed([&] { EXPECT_EQ(host.write(board, report(2), 500), HidWriteResult::Failed); }), Ms(100));
  }
  hid.set(&FakeHidapi::refusing, false);
  EXPECT_EQ(host.write(board, report(3), 500), HidWriteResult::Done) << "nothing stays pending";
  EXPECT_EQ(markOfTaken(), (std::vector<uint8_t>{1, 3}));
  host.close(board);
}

TEST_F(LinuxHidHostTest, ASlowBoardKeepsOneReportPendingAndTheOthersAreDroppedAtOnce) {
  LinuxHidHost host;
  const HidHandle board = host.open(Board);
  ASSERT_TRUE(board.valid());
  hid.set(&FakeHidapi::holding, true);

  const Ms first = timed([&] { EXPECT_EQ(host.write(board, report(1), 50), HidWriteResult::Busy); });
  EXPECT_GE(first, Ms(50)) << "the write is given its timeout";
  EXPECT_LT(first, Ms(300));
  for (uint8_t mark = 2; mark < 5; ++mark) {
    EXPECT_LT(timed([&] { EXPECT_EQ(host.write(board, report(mark), 500), HidWriteResult::Busy); }), Ms(20))
        << "a pending write is only looked at";
  }

  hid.set(&FakeHidapi::holding, false);
  ASSERT_TRUE(hid.waitFor(2000, [&] { return hid.taken.size() == 1 && hid.writesInKernel == 0; }));
  HidWriteResult next = HidWriteResult::Busy;
  const auto until = SteadyClock::now() + Ms(2000);
  while (next == HidWriteResult::Busy && SteadyClock::now() < until) next = host.write(board, report(5), 500);
  EXPECT_EQ(next, HidWriteResult::Done);
  EXPECT_EQ(markOfTaken(), (std::vector<uint8_t>{1, 5})) << "dropped reports never reach the device";
  host.close(board);
}

TEST_F(LinuxHidHostTest, ABoardPulledOutMidWriteFailsTheNextReportAtOnce) {
  LinuxHidHost host;
  const HidHandle board = host.open(Board);
  ASSERT_TRUE(board.valid());
  hid.set(&FakeHidapi::holding, true);
  ASSERT_EQ(host.write(board, report(1), 50), HidWriteResult::Busy);

  hid.set(&FakeHidapi::gone, true);  // the kernel ends the blocked write with an error
  ASSERT_TRUE(hid.waitFor(2000, [&] { return hid.writesInKernel == 0; }));
  HidWriteResult next = HidWriteResult::Busy;
  const auto until = SteadyClock::now() + Ms(2000);
  while (next == HidWriteResult::Busy && SteadyClock::now() < until) {
    EXPECT_LT(timed([&] { next = host.write(board, report(2), 500); }), Ms(100));
  }
  EXPECT_EQ(next, HidWriteResult::Failed);
  EXPECT_LT(timed([&] { host.close(board); }), Ms(100)) << "nothing pending to wait for";
  EXPECT_TRUE(markOfTaken().empty());
}

// A board that stops taking reports: the write stays in the kernel while the device holds
// it. Neither closing nor the host going may hold the caller past the bound; the write left
// behind ends by itself once the device lets go, and its device is closed then.
TEST_F(LinuxHidHostTest, AWriteThatNeverEndsIsLeftBehindWithinTheBound) {
  struct Case {
    const char* what;
    bool hostGoes;
  };
  for (const Case c : {Case{"close", false}, Case{"the host goes with the handle open", true}}) {
    SCOPED_TRACE(c.what);
    const int before = threadCount();
    hid.set(&FakeHidapi::holding, true);
    std::optional<LinuxHidHost> host(std::in_place);
    const HidHandle board = host->open(Board);
    ASSERT_TRUE(board.valid());
    ASSERT_EQ(host->write(board, report(1), 50), HidWriteResult::Busy);

    const Ms took = timed([&] {
      if (c.hostGoes) {
        host.reset();
      } else {
        host->close(board);
      }
    });
    EXPECT_GE(took, Ms(450)) << "a pending write is given the bound before it is left";
    EXPECT_LT(took, Ms(600));
    EXPECT_EQ(hid.openDevices, 1) << "the device stays with its write";
    host.reset();

    hid.set(&FakeHidapi::holding, false);
    EXPECT_TRUE(hid.waitFor(2000, [&] { return hid.openDevices == 0; })) << "the write left behind keeps its device";
    const auto until = SteadyClock::now() + Ms(2000);
    while (threadCount() > before && SteadyClock::now() < until) std::this_thread::sleep_for(Ms(5));
    EXPECT_EQ(threadCount(), before) << "the writer thread left behind ends";
    std::lock_guard lock(hid.mutex);
    hid.taken.clear();
  }
}

TEST(HidMonitor, StartsAndStopsQuietly) {
  HidMonitor monitor;
  EXPECT_TRUE(monitor.take().empty());
}

}  // namespace
}  // namespace tonalis::lnx
