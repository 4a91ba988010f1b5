// The one-copy-per-folder lock: refusal while held, release by the kernel
// when the holder dies, and no inheritance by programs the holder starts.
#include "store/instance_lock.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "table_files.h"

extern char** environ;

namespace autodeliver {
namespace {

TEST(InstanceLock, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
  testing::TempDir dir;
  InstanceLock first, second;
  ASSERT_EQ(first.TryAcquire(dir.path()), InstanceLock::Result::kAcquired);
  EXPECT_TRUE(first.held());
  EXPECT_EQ(second.TryAcquire(dir.path()), InstanceLock::Result::kHeldElsewhere);
  EXPECT_FALSE(second.held());
  EXPECT_EQ(InstanceLock::HolderPid(dir.path()), static_cast<long>(::getpid()));

  struct stat st {};
  ASSERT_EQ(::stat((dir / kInstanceLockFile).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  first.Release();
  EXPECT_EQ(second.TryAcquire(dir.path()), InstanceLock::Result::kAcquired);
}

TEST(InstanceLock, AFolderThatCannotHoldTheLockFileFails) {
  testing::TempDir dir;
  InstanceLock lock;
  EXPECT_EQ(lock.TryAcquire(dir / "missing"), InstanceLock::Result::kFailed);
  EXPECT_FALSE(lock.held());
  EXPECT_NE(lock.error().find("missing"), std::string::npos);
}

// Waits up to ten seconds for one byte on `fd`.
bool ReadByte(int fd) {
  pollfd p{fd, POLLIN, 0};
  char c;
  return ::poll(&p, 1, 10000) == 1 && ::read(fd, &c, 1) == 1;
}

TEST(InstanceLock, AKilledHolderLeavesTheFolderFree) {
  testing::TempDir dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    InstanceLock lock;
    if (lock.TryAcquire(dir.path()) != InstanceLock::Result::kAcquired) ::_exit(1);
    [[maybe_unused]] ssize_t n = ::write(ready[1], "x", 1);
    for (;;) ::pause();  // holds the lock until killed
  }
  ::close(ready[1]);
  ASSERT_TRUE(ReadByte(ready[0]));
  ::close(ready[0]);

  InstanceLock lock;
  EXPECT_EQ(lock.TryAcquire(dir.path()), InstanceLock::Result::kHeldElsewhere);
  EXPECT_EQ(InstanceLock::HolderPid(dir.path()), static_cast<long>(child));

  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(lock.TryAcquire(dir.path()), InstanceLock::Result::kAcquired);
}

TEST(InstanceLock, ProgramsTheHolderStartsDoNotKeepTheLock) {
  testing::TempDir dir;
  InstanceLock holder;
  ASSERT_EQ(holder.TryAcquire(dir.path()), InstanceLock::Result::kAcquired);

  // A long-lived child (cat, reading a pipe this test keeps open) started
  // while the lock is held.
  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_addclose(&actions, input[1]);
  char cat[] = "cat";
  char* argv[] = {cat, nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawnp(&child, "cat", &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);

  holder.Release();
  InstanceLock next;
  EXPECT_EQ(next.TryAcquire(dir.path()), InstanceLock::Result::kAcquired);
  EXPECT_EQ(::waitpid(child, nullptr, WNOHANG), 0) << "the child must still run for this check";

  ::close(input[1]);  // cat sees the end of its input and ends
  EXPECT_EQ(::waitpid(child, nullptr, 0), child);
}

}  // namespace
}  // namespace autodeliver
