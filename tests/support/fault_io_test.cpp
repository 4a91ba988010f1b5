// The faulty FileIo the fault tests rely on: each fault does to the file
// what the fault would, and reports what the real call would report.
#include "support/fault_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "support/temp_dir.h"

namespace autodeliver::testing {
namespace {

class FaultIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(path_, "0123456789");
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override { ::close(fd_); }

  TempDir dir_;
  const std::string path_ = dir_ / "f";
  int fd_ = -1;
};

TEST_F(FaultIoTest, AFailingWriteLeavesWhatReachedTheDiskAndReportsItsError) {
  struct Case {
    const char* what;
    std::function<void(FaultIo&)> set;
    int error;          // errno of the second write
    std::string after;  // the file after writing "abcdef" at 8
  } cases[] = {
      {"torn by EIO", [](FaultIo& io) { io.failWrite = 2; }, EIO, "01234567abc"},
      {"refused",
       [](FaultIo& io) {
         io.failWrite = 2;
         io.failWriteErrno = EACCES;
         io.failWriteLands = 0;
       },
       EACCES, "0123456789"},
      {"full disk", [](FaultIo& io) { io.room = 0; }, ENOSPC, "01234567ab"},
      {"room for 3 bytes", [](FaultIo& io) { io.room = 3; }, ENOSPC, "01234567abcde"},
      {"file size limit", [](FaultIo& io) { io.fileSizeLimit = 12; }, ENOSPC, "01234567abcd"},
      {"full from the second write", [](FaultIo& io) { io.failWritesFrom = 2; }, ENOSPC, "0123456789"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(::ftruncate(fd_, 0), 0);
    ASSERT_EQ(::pwrite(fd_, "0123456789", 10, 0), 10);
    FaultIo io;
    c.set(io);
    EXPECT_EQ(io.WriteAt(fd_, "0", 1, 0), 1);  // the first write passes
    errno = 0;
    EXPECT_EQ(io.WriteAt(fd_, "abcdef", 6, 8), -1);
    EXPECT_EQ(errno, c.error);
    EXPECT_TRUE(io.failed);
    EXPECT_EQ(ReadFileBytes(path_), c.after);
  }
}

TEST_F(FaultIoTest, APowerCutUndoesWhatWasNotFlushedAndADroppedFlushFlushesNothing) {
  FaultIo io;
  io.recordUnflushed = true;
  ASSERT_EQ(io.WriteAt(fd_, "AB", 2, 0), 2);
  ASSERT_EQ(io.Sync(fd_), 0);  // flushed: stays
  ASSERT_EQ(io.WriteAt(fd_, "CDEFGH", 6, 8), 6);
  ASSERT_EQ(io.Truncate(fd_, 12), 0);
  io.dropSyncs = true;
  ASSERT_EQ(io.DataSync(fd_), 0);  // reported done, but nothing reached the disk
  ASSERT_EQ(ReadFileBytes(path_), "AB234567CDEF");
  io.PowerCut();
  EXPECT_EQ(ReadFileBytes(path_), "AB23456789");
}

TEST_F(FaultIoTest, FlushesReadsAndRenamesFailWhereAsked) {
  FaultIo io;
  io.failSync = 2;
  io.failRead = 1;
  io.failRename = 1;
  io.failRenameErrno = EXDEV;
  io.readPiece = 3;
  EXPECT_EQ(io.Sync(fd_), 0);
  EXPECT_EQ(io.DataSync(fd_), -1);  // Sync and DataSync count together
  EXPECT_EQ(errno, EIO);
  char buf[10];
  EXPECT_EQ(io.ReadAt(fd_, buf, 10, 0), -1);
  EXPECT_EQ(io.ReadAt(fd_, buf, 10, 0), 3);
  EXPECT_EQ(std::string(buf, 3), "012");
  EXPECT_EQ(io.Rename(path_.c_str(), (dir_ / "g").c_str()), -1);
  EXPECT_EQ(errno, EXDEV);
  EXPECT_EQ(io.Rename(path_.c_str(), (dir_ / "g").c_str()), 0);
}

TEST_F(FaultIoTest, ACrashEndsTheProcessWithPartOfTheWriteOnDisk) {
  EXPECT_EXIT(
      {
        FaultIo io;
        io.crashAtWrite = 1;
        io.crashLands = 4;
        io.crashExitCode = 7;
        io.WriteAt(fd_, "abcdef", 6, 2);
      },
      ::testing::ExitedWithCode(7), "");
  EXPECT_EQ(ReadFileBytes(path_), "01abcd6789");
}

}  // namespace
}  // namespace autodeliver::testing
