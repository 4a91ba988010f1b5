// The program's own line files; see line_file.h.
#include "io/line_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace autodeliver {
namespace {

// The whole file into `content`; a missing file is empty.
Status ReadWhole(const std::string& path, FileIo& io, std::string* content) {
  content->clear();
  const int fd = io.Open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    const int error = errno;
    return error == ENOENT ? Status() : Status::FromErrno(path, error);
  }
  char buffer[8192];
  for (off_t offset = 0;;) {
    errno = 0;
    const ssize_t n = io.ReadAt(fd, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return Status::FromErrno(path, error);
    }
    if (n == 0) break;
    content->append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
  ::close(fd);
  return Status();
}

// The folder holding `path`, synced so that a rename into it is kept. A
// folder that cannot be synced leaves the rename done but perhaps not yet
// durable; the file itself is whole either way, so this is not a failure.
void SyncFolderOf(const std::string& path, FileIo& io) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  io.SyncFolder(folder.c_str());
}

}  // namespace

Status ReadLineFile(const std::string& path, std::string_view header, std::vector<std::string>* lines,
                    FileIo& io) {
  lines->clear();
  std::string content;
  if (Status read = ReadWhole(path, io, &content); !read) return read;
  std::string_view rest = content;
  bool first = true;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view text = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (first) {
      if (text != header) {
        lines->clear();
        return Status::Corrupt(path, "the first line is not \"" + std::string(header) + "\"");
      }
      first = false;
    } else if (!text.empty()) {
      lines->emplace_back(text);
    }
  }
  return Status();
}

Status ReplaceLineFile(const std::string& path, std::string_view header,
                       const std::vector<std::string>& lines, FileIo& io) {
  std::string content(header);
  content += '\n';
  for (const std::string& line : lines) {
    content += line;
    content += '\n';
  }
  const std::string temp = path + ".tmp";
  const int fd = io.Open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    return Status::FromErrno(path, error);
  }
  Status written = WriteFully(io, fd, content.data(), content.size(), 0).WithPath(path);
  // Each step's errno is taken at once, before another call can change it.
  auto failed = [&path] {
    const int error = errno;
    return Status::FromErrno(path, error);
  };
  if (written && io.Sync(fd) != 0) written = failed();
  if (::close(fd) != 0 && written) written = failed();
  if (written && io.Rename(temp.c_str(), path.c_str()) != 0) written = failed();
  if (!written) {
    // A temporary file left behind is replaced by the next write; the file
    // itself is as it was.
    io.Remove(temp.c_str());
    return written;
  }
  SyncFolderOf(path, io);
  return Status();
}

}  // namespace autodeliver
