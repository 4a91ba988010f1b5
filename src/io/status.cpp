// The outcome of a file operation as a value; see status.h.
#include "io/status.h"

#include <cerrno>
#include <cstring>

namespace autodeliver {
namespace {

const std::string& Empty() {
  static const std::string kEmpty;
  return kEmpty;
}

}  // namespace

Status::Status(Code code, int error, std::string path, std::string detail)
    : rep_(std::make_unique<Rep>(Rep{code, error, std::move(path), std::move(detail)})) {}

Status::Status(const Status& other) : rep_(other.rep_ ? std::make_unique<Rep>(*other.rep_) : nullptr) {}

Status& Status::operator=(const Status& other) {
  if (this != &other) rep_ = other.rep_ ? std::make_unique<Rep>(*other.rep_) : nullptr;
  return *this;
}

Status Status::NotFound(std::string path, std::string detail) {
  return Status(Code::kNotFound, ENOENT, std::move(path), std::move(detail));
}

Status Status::DiskFull(std::string path, int error) {
  return Status(Code::kDiskFull, error ? error : ENOSPC, std::move(path), {});
}

Status Status::IoError(std::string path, int error) {
  return Status(Code::kIoError, error ? error : EIO, std::move(path), {});
}

Status Status::Corrupt(std::string path, std::string detail) {
  return Status(Code::kCorrupt, 0, std::move(path), std::move(detail));
}

Status Status::TooLong(std::string path, std::string detail) {
  return Status(Code::kTooLong, 0, std::move(path), std::move(detail));
}

Status Status::Busy(std::string path, std::string detail) {
  return Status(Code::kBusy, 0, std::move(path), std::move(detail));
}

Status Status::FromErrno(std::string path, int error) {
  if (error == ENOSPC || error == EDQUOT) return DiskFull(std::move(path), error);
  if (error == ENOENT) return NotFound(std::move(path));
  return IoError(std::move(path), error);
}

Status::Code Status::code() const { return rep_ ? rep_->code : Code::kOk; }
int Status::error() const { return rep_ ? rep_->error : 0; }
const std::string& Status::path() const { return rep_ ? rep_->path : Empty(); }
const std::string& Status::detail() const { return rep_ ? rep_->detail : Empty(); }

bool Status::IsPermissionDenied() const {
  const int e = error();
  return code() == Code::kIoError && (e == EACCES || e == EPERM || e == EROFS);
}

Status Status::WithPath(const std::string& path) const {
  Status copy(*this);
  if (copy.rep_ && copy.rep_->path.empty()) copy.rep_->path = path;
  return copy;
}

std::string Status::ToString() const {
  if (!rep_) return "OK";
  std::string text;
  switch (rep_->code) {
    case Code::kOk:
      return "OK";
    case Code::kNotFound:
      text = "not found";
      break;
    case Code::kDiskFull:
      text = "disk full";
      break;
    case Code::kIoError:
      text = "I/O error";
      break;
    case Code::kCorrupt:
      text = "corrupt";
      break;
    case Code::kTooLong:
      text = "too long";
      break;
    case Code::kBusy:
      text = "busy";
      break;
  }
  if (!rep_->path.empty()) text += ": " + rep_->path;
  if (!rep_->detail.empty()) text += ": " + rep_->detail;
  if (rep_->error != 0 && rep_->code != Code::kNotFound)
    text += std::string(": ") + std::strerror(rep_->error) + " (errno " + std::to_string(rep_->error) + ")";
  return text;
}

bool Status::operator==(const Status& other) const {
  if (ok() || other.ok()) return ok() == other.ok();
  return rep_->code == other.rep_->code && rep_->error == other.rep_->error &&
         rep_->path == other.rep_->path && rep_->detail == other.rep_->detail;
}

}  // namespace autodeliver
