// Status as a value, and the causes the file I/O interface gives: errno
// mapped to a kind, whole reads and writes failing with the failed call's
// cause, and the watch that keeps the first failed call and its file.
#include "io/status.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "io/file_io.h"

namespace autodeliver {
namespace {

TEST(StatusTest, ErrnoMapsToItsKindAndKeepsThePathAndTheNumber) {
  struct Case {
    int error;
    Status::Code code;
    bool permission;
  };
  const Case cases[] = {
      {ENOSPC, Status::Code::kDiskFull, false}, {EDQUOT, Status::Code::kDiskFull, false},
      {ENOENT, Status::Code::kNotFound, false}, {EIO, Status::Code::kIoError, false},
      {EACCES, Status::Code::kIoError, true},   {EPERM, Status::Code::kIoError, true},
      {EROFS, Status::Code::kIoError, true},    {0, Status::Code::kIoError, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const Status s = Status::FromErrno("/data/x.edb", c.error);
    EXPECT_FALSE(s.ok());
    EXPECT_FALSE(s);
    EXPECT_EQ(s.code(), c.code);
    EXPECT_EQ(s.IsPermissionDenied(), c.permission);
    EXPECT_EQ(s.path(), "/data/x.edb");
    EXPECT_EQ(s.error(), c.error == 0 ? EIO : c.error);  // a failure without a number is an I/O error
    EXPECT_NE(s.ToString().find("/data/x.edb"), std::string::npos) << s.ToString();
  }
}

TEST(StatusTest, OkIsEmptyAndCopiesAreIndependent) {
  const Status ok;
  EXPECT_TRUE(ok.ok());
  EXPECT_TRUE(ok);
  EXPECT_EQ(ok.code(), Status::Code::kOk);
  EXPECT_EQ(ok.error(), 0);
  EXPECT_TRUE(ok.path().empty());
  EXPECT_EQ(ok.ToString(), "OK");
  EXPECT_EQ(sizeof(Status), sizeof(void*));  // an ok result is one null pointer

  Status a = Status::IoError("", EIO);
  Status b = a.WithPath("/data/a");
  EXPECT_TRUE(a.path().empty()) << "WithPath leaves the original alone";
  EXPECT_EQ(b.path(), "/data/a");
  EXPECT_EQ(b.WithPath("/other").path(), "/data/a") << "a named file is kept";
  Status c = b;
  EXPECT_EQ(c, b);
  c = Status();
  EXPECT_TRUE(c.ok());
  EXPECT_EQ(b.path(), "/data/a");
  EXPECT_NE(Status::DiskFull("/p"), Status::IoError("/p", ENOSPC));
  EXPECT_NE(Status::TooLong("/p").ToString().find("too long"), std::string::npos);
}

// Fails every write with `error`, and reads with it when `failReads`.
class FailingIo : public FileIo {
 public:
  explicit FailingIo(int error, bool failReads = false) : error_(error), failReads_(failReads) {}
  ssize_t WriteAt(int, const void*, std::size_t, off_t) override {
    errno = error_;
    return -1;
  }
  ssize_t ReadAt(int fd, void* buf, std::size_t size, off_t offset) override {
    if (!failReads_) return FileIo::ReadAt(fd, buf, size, offset);
    errno = error_;
    return -1;
  }
  int Sync(int) override {
    errno = error_;
    return -1;
  }

 private:
  int error_;
  bool failReads_;
};

class ScratchFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/status_test_XXXXXX";
    fd_ = ::mkstemp(name);
    ASSERT_GE(fd_, 0);
    path_ = name;
    ASSERT_EQ(::write(fd_, "abcd", 4), 4);
  }
  void TearDown() override {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  int fd_ = -1;
  std::string path_;
};

TEST_F(ScratchFile, WholeReadsAndWritesGiveTheCauseOfTheCallThatFailed) {
  char buf[8] = {};
  EXPECT_TRUE(ReadFully(DefaultFileIo(), fd_, buf, 4, 0));
  EXPECT_TRUE(WriteFully(DefaultFileIo(), fd_, "xy", 2, 4));
  const Status past = ReadFully(DefaultFileIo(), fd_, buf, 8, 0);
  EXPECT_EQ(past.code(), Status::Code::kCorrupt) << "a file shorter than its reader expects";

  FailingIo full(ENOSPC), broken(EIO, true), refused(EACCES);
  EXPECT_TRUE(WriteFully(full, fd_, "x", 1, 0).IsDiskFull());
  EXPECT_EQ(WriteFully(refused, fd_, "x", 1, 0).WithPath(path_).path(), path_);
  EXPECT_TRUE(WriteFully(refused, fd_, "x", 1, 0).IsPermissionDenied());
  const Status read = ReadFully(broken, fd_, buf, 1, 0);
  EXPECT_TRUE(read.IsIoError());
  EXPECT_EQ(read.error(), EIO);
}

TEST_F(ScratchFile, TheWatchKeepsTheFirstFailedCallAndNamesItsFile) {
  FailingIo full(ENOSPC);
  FailureWatch watch;
  watch.Wrap(&full);
  watch.Name(fd_, path_);
  watch.SetFallbackPath("/fallback");
  EXPECT_TRUE(watch.FirstFailure().ok());
  char c = 0;
  EXPECT_TRUE(ReadFully(watch, fd_, &c, 1, 0)) << "reads pass through";
  EXPECT_TRUE(watch.FirstFailure().ok());

  EXPECT_FALSE(WriteFully(watch, fd_, "x", 1, 0));
  FailingIo eio(EIO);
  watch.Wrap(&eio);
  EXPECT_NE(watch.Sync(fd_), 0);
  const Status first = watch.FirstFailure();
  EXPECT_TRUE(first.IsDiskFull()) << "the later failure does not replace the first";
  EXPECT_EQ(first.path(), path_);

  watch.Reset();
  EXPECT_NE(watch.Sync(99), 0);
  EXPECT_EQ(watch.FirstFailure().path(), "/fallback") << "a descriptor not named falls back";
  EXPECT_TRUE(watch.FirstFailure().IsIoError());
  watch.Forget(fd_);
  watch.Reset();
  EXPECT_NE(watch.Sync(fd_), 0);
  EXPECT_EQ(watch.FirstFailure().path(), "/fallback");
}

}  // namespace
}  // namespace autodeliver
