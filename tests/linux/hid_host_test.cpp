// The board's host without a board: a pipe stands in for a hidraw node that is slow to take
// its report, /dev/full for one that refuses it.
#include "backend/linux/hid_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <thread>

namespace tonalis::lnx {
namespace {

namespace fs = std::filesystem;

const std::array<uint8_t, 65> Report = [] {
  std::array<uint8_t, 65> r{};
  r[1] = 0xA3;
  return r;
}();

TEST(LinuxHidHost, ListsAndRefusesWhatIsNotThere) {
  LinuxHidHost host;
  std::vector<std::string> paths;
  EXPECT_EQ(host.enumerateInterfaces(paths), HidEnumStatus::Complete);
  HidIds ids;
  EXPECT_FALSE(host.readIds("/dev/hidraw-none", ids));
  EXPECT_FALSE(host.readIds("", ids));
  EXPECT_FALSE(host.openForWrite("/dev/hidraw-none").valid());
  EXPECT_FALSE(host.openForRead("").valid());
  EXPECT_EQ(host.write(InvalidHidHandle, Report.data(), Report.size(), 500), HidWriteResult::Failed);
  EXPECT_EQ(host.waitWrite(InvalidHidHandle, 0), HidWriteResult::Done);
  host.cancelWrite(InvalidHidHandle);
  host.close(InvalidHidHandle);
}

TEST(LinuxHidHost, ARefusedReportFailsAtOnce) {
  LinuxHidHost host;
  const HidHandle full = host.openForWrite("/dev/full");
  ASSERT_TRUE(full.valid());
  EXPECT_EQ(host.write(full, Report.data(), Report.size(), 500), HidWriteResult::Failed);
  EXPECT_EQ(host.waitWrite(full, 0), HidWriteResult::Done) << "nothing stays outstanding";
  host.close(full);
}

TEST(LinuxHidHost, ASlowNodeTimesOutAndTheWriteFinishesLater) {
  const fs::path fifo = fs::temp_directory_path() / ("tonalis-hid-" + std::to_string(::getpid()));
  fs::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  LinuxHidHost host;
  const HidHandle handle = host.openForWrite(fifo.string());
  ASSERT_TRUE(handle.valid());
  EXPECT_EQ(host.write(handle, Report.data(), Report.size(), 1000), HidWriteResult::Done);

  // Fill the pipe: the next report cannot be taken until the reader reads.
  const int filler = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(filler, 0);
  const std::array<char, 4096> block{};
  while (::write(filler, block.data(), block.size()) > 0) {
  }
  EXPECT_EQ(host.write(handle, Report.data(), Report.size(), 50), HidWriteResult::TimedOut);
  EXPECT_EQ(host.waitWrite(handle, 0), HidWriteResult::TimedOut);
  EXPECT_EQ(host.write(handle, Report.data(), Report.size(), 50), HidWriteResult::Failed)
      << "one write at a time per handle";

  std::array<char, 4096> sink{};
  while (::read(reader, sink.data(), sink.size()) > 0) {
  }
  EXPECT_EQ(host.waitWrite(handle, 2000), HidWriteResult::Done);
  EXPECT_EQ(host.write(handle, Report.data(), Report.size(), 1000), HidWriteResult::Done);
  host.close(handle);
  ::close(filler);
  ::close(reader);
  fs::remove(fifo);
}

// A board that stops taking reports: the write never completes while the test holds the
// pipe full. Neither cancelling nor closing may hold the caller past the write timeout; the
// write given up on ends by itself once the pipe drains, and then lets go of its node (the
// reader sees the end of the pipe only when no writer holds it).
TEST(LinuxHidHost, AWriteThatNeverEndsIsLeftBehindWithinTheTimeout) {
  struct Case {
    const char* what;
    bool cancelFirst;
  };
  for (const Case c : {Case{"cancel, then close", true}, Case{"close alone", false}}) {
    SCOPED_TRACE(c.what);
    const fs::path fifo = fs::temp_directory_path() / ("tonalis-hid-stuck-" + std::to_string(::getpid()));
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int filler = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(filler, 0);
    const std::array<char, 4096> block{};
    while (::write(filler, block.data(), block.size()) > 0) {
    }
    {
      LinuxHidHost host;
      const HidHandle handle = host.openForWrite(fifo.string());
      ASSERT_TRUE(handle.valid());
      ASSERT_EQ(host.write(handle, Report.data(), Report.size(), 50), HidWriteResult::TimedOut);

      const auto start = std::chrono::steady_clock::now();
      if (c.cancelFirst) {
        host.cancelWrite(handle);
        EXPECT_EQ(host.waitWrite(handle, 0), HidWriteResult::Done) << "the slot is free again";
      }
      host.close(handle);
      const auto took = std::chrono::steady_clock::now() - start;
      EXPECT_LT(took, std::chrono::milliseconds(600));
      EXPECT_GE(took, std::chrono::milliseconds(450)) << "a write is given its timeout before it is left";
    }  // the host goes while the write is still in the kernel
    ::close(filler);

    std::array<char, 4096> sink{};
    bool ended = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ended && std::chrono::steady_clock::now() < until) {
      const ssize_t n = ::read(reader, sink.data(), sink.size());
      ended = n == 0;
      if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(ended) << "the write left behind still holds the node";
    ::close(reader);
    fs::remove(fifo);
  }
}

TEST(LinuxHidHost, TheMonitorStartsAndStopsQuietly) {
  HidMonitor monitor;
  EXPECT_TRUE(monitor.take().empty());
}

}  // namespace
}  // namespace tonalis::lnx
