#include "backend/linux/instance_guard.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace tonalis::lnx {
namespace {

namespace fs = std::filesystem;

TEST(LinuxInstanceGuard, LockPathPrefersTheRuntimeFolder) {
  EXPECT_EQ(lockPath("/run/user/1000", 1000), "/run/user/1000/tonalis.lock");
  EXPECT_EQ(lockPath(nullptr, 1000), "/tmp/tonalis-1000.lock");
  EXPECT_EQ(lockPath("relative", 7), "/tmp/tonalis-7.lock");
}

class LinuxInstanceGuardLock : public ::testing::Test {
 protected:
  std::string path_ = (fs::temp_directory_path() / ("tonalis-guard-" + std::to_string(::getpid()) + ".lock")).string();
  void TearDown() override { fs::remove(path_); }
};

bool readableWithin(int fd, int millis) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, millis) == 1;
}

TEST_F(LinuxInstanceGuardLock, SecondCopyIsRefusedAndWakesTheFirst) {
  LinuxInstanceGuard first(path_);
  ASSERT_TRUE(first.claim());
  ASSERT_GE(first.wakeDescriptor(), 0);
  EXPECT_FALSE(first.takeWakeRequests());

  // Another process, as a second start would be.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LinuxInstanceGuard second(path_);
    if (second.claim()) ::_exit(1);
    second.wakeFirst();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second copy claimed the lock";
  ASSERT_TRUE(readableWithin(first.wakeDescriptor(), 2000));
  EXPECT_TRUE(first.takeWakeRequests());
  EXPECT_FALSE(first.takeWakeRequests()) << "one request, taken once";
}

TEST_F(LinuxInstanceGuardLock, TheLockGoesWithTheCopyThatHeldIt) {
  {
    LinuxInstanceGuard first(path_);
    ASSERT_TRUE(first.claim());
    LinuxInstanceGuard second(path_);
    EXPECT_FALSE(second.claim());
  }
  LinuxInstanceGuard later(path_);
  EXPECT_TRUE(later.claim());
  later.wakeFirst();  // to itself: harmless, and seen
  EXPECT_TRUE(readableWithin(later.wakeDescriptor(), 2000));
}

TEST(LinuxInstanceGuard, NoWritableLockFolderRunsUnguarded) {
  LinuxInstanceGuard guard("/nonexistent-folder/tonalis.lock");
  EXPECT_TRUE(guard.claim());
  EXPECT_EQ(guard.wakeDescriptor(), -1);
  EXPECT_FALSE(guard.takeWakeRequests());
}

}  // namespace
}  // namespace tonalis::lnx
