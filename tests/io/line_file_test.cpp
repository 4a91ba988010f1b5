// The program's line files: what a reader makes of the files it may meet,
// and that a replacement either lands whole or leaves the old file, with
// the failing call's cause, under a faulty disk.
#include "io/line_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "support/fault_io.h"
#include "support/temp_dir.h"

namespace autodeliver {
namespace {

using testing::FaultIo;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr std::string_view kHeader = "autodeliver test lines 1";

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

TEST(LineFile, ReadsWhatItMayMeet) {
  struct Case {
    const char* what;
    std::optional<std::string> bytes;  // nullopt: no file
    Status::Code code;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"no file", std::nullopt, Status::Code::kOk, {}},
      {"empty file", "", Status::Code::kOk, {}},
      {"header alone, no line break", "autodeliver test lines 1", Status::Code::kOk, {}},
      {"lines, empty ones skipped, last without LF",
       "autodeliver test lines 1\na\tb\n\n\nc\\n\nlast",
       Status::Code::kOk,
       {"a\tb", "c\\n", "last"}},
      {"CR LF line ends: the header does not match",
       "autodeliver test lines 1\r\nx\r\n",
       Status::Code::kCorrupt,
       {}},
      {"another header", "autodeliver other lines 1\nx\n", Status::Code::kCorrupt, {}},
      {"a record where the header belongs", "x\nautodeliver test lines 1\n", Status::Code::kCorrupt, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir / "lines.txt";
    if (c.bytes) WriteFileBytes(path, *c.bytes);
    std::vector<std::string> lines = {"left over from before"};
    const Status read = ReadLineFile(path, kHeader, &lines);
    EXPECT_EQ(read.code(), c.code) << read.ToString();
    EXPECT_EQ(lines, c.lines);
    if (!read) {
      EXPECT_EQ(read.path(), path);
    }
  }
}

TEST(LineFile, ReadsWholeThroughShortReadsAndNamesAFailedRead) {
  TempDir dir;
  const std::string path = dir / "lines.txt";
  std::vector<std::string> many;
  for (int i = 0; i < 3000; ++i) many.push_back("line " + std::to_string(i));  // past one read buffer
  ASSERT_TRUE(ReplaceLineFile(path, kHeader, many));

  FaultIo pieces;
  pieces.readPiece = 7;
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLineFile(path, kHeader, &lines, pieces));
  EXPECT_EQ(lines, many);

  FaultIo failing;
  failing.failRead = 2;
  const Status read = ReadLineFile(path, kHeader, &lines, failing);
  EXPECT_TRUE(read.IsIoError()) << read.ToString();
  EXPECT_EQ(read.error(), EIO);
  EXPECT_EQ(read.path(), path);
  EXPECT_TRUE(lines.empty());
}

TEST(LineFile, AFailedReplacementLeavesTheOldFileAndNoTemporaryOne) {
  struct Case {
    const char* what;
    void (*set)(FaultIo&);
    Status::Code code;
    int error;
  };
  const Case cases[] = {
      {"disk full half way", [](FaultIo& io) { io.room = 10; }, Status::Code::kDiskFull, ENOSPC},
      {"write error", [](FaultIo& io) { io.failWrite = 1; }, Status::Code::kIoError, EIO},
      {"refused write",
       [](FaultIo& io) {
         io.failWrite = 1;
         io.failWriteErrno = EACCES;
       },
       Status::Code::kIoError, EACCES},
      {"flush fails", [](FaultIo& io) { io.failSync = 1; }, Status::Code::kIoError, EIO},
      {"rename fails", [](FaultIo& io) { io.failRename = 1; }, Status::Code::kIoError, EIO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir / "lines.txt";
    ASSERT_TRUE(ReplaceLineFile(path, kHeader, {"old one", "old two"}));
    const std::string before = ReadFileBytes(path);

    FaultIo io;
    c.set(io);
    const Status replaced = ReplaceLineFile(path, kHeader, {"a much longer new line that does not fit"}, io);
    EXPECT_EQ(replaced.code(), c.code) << replaced.ToString();
    EXPECT_EQ(replaced.error(), c.error);
    EXPECT_EQ(replaced.path(), path);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_FALSE(Exists(path + ".tmp"));
  }
}

// The calls around the writes fail too: an open refused or out of
// descriptors gives its cause and file and changes nothing; a temporary
// file that cannot be removed after a failed write leaves the file as it
// was; a folder that cannot be flushed leaves the new file whole and read
// back (the rename is done, only perhaps not yet on the disk).
TEST(LineFile, OpenRemoveAndFolderFlushFailuresLoseNothing) {
  struct Case {
    const char* what;
    void (*set)(FaultIo&);
    Status::Code readCode, replaceCode;  // kOk: the call succeeds
    int error;
    bool replaced;  // the new lines are in the file afterwards
  };
  const Case cases[] = {
      {"open refused", [](FaultIo& io) { io.failOpenPath = "lines"; }, Status::Code::kIoError,
       Status::Code::kIoError, EACCES, false},
      {"no descriptor left",
       [](FaultIo& io) {
         io.failOpenPath = "lines";
         io.failOpenErrno = EMFILE;
       },
       Status::Code::kIoError, Status::Code::kIoError, EMFILE, false},
      {"write and removal fail",
       [](FaultIo& io) {
         io.failWrite = 1;
         io.failRemove = 1;
       },
       Status::Code::kOk, Status::Code::kIoError, EIO, false},
      {"folder flush fails", [](FaultIo& io) { io.failSyncFolder = 1; }, Status::Code::kOk, Status::Code::kOk,
       0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir / "lines.txt";
    ASSERT_TRUE(ReplaceLineFile(path, kHeader, {"old one", "old two"}));
    const std::string before = ReadFileBytes(path);

    FaultIo io;
    c.set(io);
    std::vector<std::string> lines;
    const Status read = ReadLineFile(path, kHeader, &lines, io);
    EXPECT_EQ(read.code(), c.readCode) << read.ToString();
    if (!read.ok()) {
      EXPECT_EQ(read.error(), c.error);
      EXPECT_EQ(read.path(), path);
    }
    const Status replaced = ReplaceLineFile(path, kHeader, {"new"}, io);
    EXPECT_TRUE(io.failed);
    EXPECT_EQ(replaced.code(), c.replaceCode) << replaced.ToString();
    if (!replaced.ok()) {
      EXPECT_EQ(replaced.error(), c.error);
      EXPECT_EQ(replaced.path(), path);
    }
    ASSERT_TRUE(ReadLineFile(path, kHeader, &lines));
    const std::vector<std::string> expected =
        c.replaced ? std::vector<std::string>{"new"} : std::vector<std::string>{"old one", "old two"};
    EXPECT_EQ(lines, expected);
    if (!c.replaced) {
      EXPECT_EQ(ReadFileBytes(path), before);
    }
    // What a failed removal left is replaced by the next write.
    ASSERT_TRUE(ReplaceLineFile(path, kHeader, {"later"}));
    ASSERT_TRUE(ReadLineFile(path, kHeader, &lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"later"}));
  }
}

TEST(LineFile, AReplacementIsReadBackAndFlushedBeforeItIsRenamed) {
  TempDir dir;
  const std::string path = dir / "lines.txt";
  FaultIo io;
  ASSERT_TRUE(ReplaceLineFile(path, kHeader, {"one", "two\tfields"}, io));
  EXPECT_EQ(ReadFileBytes(path), "autodeliver test lines 1\none\ntwo\tfields\n");
  EXPECT_GE(io.syncs, 1);
  EXPECT_EQ(io.renames, 1);
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLineFile(path, kHeader, &lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two\tfields"}));

  // A folder that cannot be written to: the cause names the file.
  const Status missing = ReplaceLineFile(dir / "no/such/folder/lines.txt", kHeader, {}, io);
  EXPECT_EQ(missing.code(), Status::Code::kNotFound) << missing.ToString();
  EXPECT_EQ(missing.path(), dir / "no/such/folder/lines.txt");
}

}  // namespace
}  // namespace autodeliver
