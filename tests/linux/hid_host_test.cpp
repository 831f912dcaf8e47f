// The board's host without a board: a pipe stands in for a hidraw node that is slow to take
// its report, /dev/full for one that refuses it.
#include "platform/linux/hid_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>

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

TEST(LinuxHidHost, TheMonitorStartsAndStopsQuietly) {
  HidMonitor monitor;
  EXPECT_TRUE(monitor.take().empty());
}

}  // namespace
}  // namespace tonalis::lnx
