// Status: the outcome of an operation on the program's files, as a value.
// An ok Status is one null pointer, so returning it costs nothing; a
// failure carries its kind, the errno of the call that failed (for I/O
// errors, a full disk and refused permission) and the file it concerns, so
// the log and the seller hear the real cause rather than a guess made from
// errno long after the fact.
//
// A Status converts to bool (true when ok), so a caller that only needs to
// know whether something worked can keep testing it as before; a caller
// that reports the failure reads code(), error() and path().
//
// Thread safety: a Status is a plain value; distinct objects may be used
// from different threads.
#pragma once

#include <memory>
#include <string>

namespace autodeliver {

class Status {
 public:
  enum class Code : unsigned char {
    kOk,
    kNotFound,  // the file (or the thing looked for) is not there
    kDiskFull,  // a write found no space (ENOSPC, or over the quota: EDQUOT)
    kIoError,   // a system call failed: error() holds its errno
    kCorrupt,   // the bytes read are not what the format allows
    kTooLong,   // a value is longer than its place can hold whole
    kBusy,      // a lock is held elsewhere and was not had in time
  };

  Status() = default;  // ok
  Status(const Status& other);
  Status& operator=(const Status& other);
  Status(Status&&) noexcept = default;
  Status& operator=(Status&&) noexcept = default;
  ~Status() = default;

  static Status Ok() { return Status(); }
  static Status NotFound(std::string path, std::string detail = {});
  static Status DiskFull(std::string path, int error = 0);
  static Status IoError(std::string path, int error);
  static Status Corrupt(std::string path, std::string detail = {});
  static Status TooLong(std::string path, std::string detail = {});
  static Status Busy(std::string path, std::string detail = {});
  // The failure of a system call on `path` by its errno: ENOSPC and EDQUOT
  // are a full disk, ENOENT a missing file, anything else an I/O error
  // (0 is taken as EIO: a call that failed without saying why).
  static Status FromErrno(std::string path, int error);

  bool ok() const { return rep_ == nullptr; }
  explicit operator bool() const { return ok(); }
  Code code() const;
  // The errno of the failed call; 0 when none is known.
  int error() const;
  // The file the failure concerns; empty when none is known.
  const std::string& path() const;
  const std::string& detail() const;

  bool IsNotFound() const { return code() == Code::kNotFound; }
  bool IsDiskFull() const { return code() == Code::kDiskFull; }
  bool IsIoError() const { return code() == Code::kIoError; }
  // An I/O error because the file may not be written or read (EACCES,
  // EPERM, or a file system mounted read-only: EROFS).
  bool IsPermissionDenied() const;

  // A copy naming `path` when this one names no file yet.
  Status WithPath(const std::string& path) const;

  // One line for the program's own log (English, not for the seller):
  // "OK", or e.g. "I/O error: /data/x.edb: Input/output error (errno 5)".
  std::string ToString() const;

  bool operator==(const Status& other) const;

 private:
  struct Rep {
    Code code;
    int error;
    std::string path;
    std::string detail;
  };
  Status(Code code, int error, std::string path, std::string detail);

  std::unique_ptr<Rep> rep_;  // null when ok
};

}  // namespace autodeliver
