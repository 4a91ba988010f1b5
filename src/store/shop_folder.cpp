#include "store/shop_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "store/shop_paths.h"

namespace autodeliver {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
// Prefix of an entry being copied; only the lock holder uses these names.
constexpr char kCopyPrefix[] = ".autodeliver-copy-";

std::string Failure(const std::string& path, int err) { return path + ": " + std::strerror(err); }

bool SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// Creates `path` and its missing parents with mode 0700.
bool MakeFolders(const std::string& path, std::string* error) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), kFolderMode) == 0 || errno == EEXIST) continue;
    return SetError(error, Failure(part, errno));
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return SetError(error, Failure(path, errno));
  if (!S_ISDIR(st.st_mode)) return SetError(error, path + ": " + std::strerror(ENOTDIR));
  return true;
}

bool SyncPath(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::vector<std::string> EntriesOf(const std::string& dir, bool* ok) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  *ok = d != nullptr;
  if (!d) return names;
  while (const dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool RemoveTree(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) {
    bool ok = false;
    for (const std::string& name : EntriesOf(path, &ok)) ok = RemoveTree(path + "/" + name) && ok;
    return ::rmdir(path.c_str()) == 0 && ok;
  }
  return ::unlink(path.c_str()) == 0;
}

bool CopyFile(const std::string& from, const std::string& to, std::string* error) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return SetError(error, Failure(from, errno));
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    return SetError(error, Failure(to, e));
  }
  bool ok = true;
  int err = 0;
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      err = errno;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        err = w < 0 ? errno : EIO;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  // The mode is set explicitly: the process's umask may be stricter or
  // looser, the file's owner-only mode is not negotiable.
  if (ok && (::fchmod(out, kFileMode) != 0 || ::fsync(out) != 0)) {
    ok = false;
    err = errno;
  }
  ::close(in);
  if (::close(out) != 0 && ok) {
    ok = false;
    err = errno;
  }
  return ok || SetError(error, Failure(to, err));
}

// Copies the file or folder `from` to the new path `to`; other kinds of
// entries (links, devices) are left out.
bool CopyTree(const std::string& from, const std::string& to, std::string* error) {
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return SetError(error, Failure(from, errno));
  if (S_ISREG(st.st_mode)) return CopyFile(from, to, error);
  if (!S_ISDIR(st.st_mode)) return true;
  if (::mkdir(to.c_str(), kFolderMode) != 0) return SetError(error, Failure(to, errno));
  bool listed = false;
  for (const std::string& name : EntriesOf(from, &listed)) {
    if (!CopyTree(from + "/" + name, to + "/" + name, error)) return false;
  }
  if (!listed) return SetError(error, Failure(from, errno));
  if (::chmod(to.c_str(), kFolderMode) != 0 || !SyncPath(to)) return SetError(error, Failure(to, errno));
  return true;
}

}  // namespace

bool CopyMissingTemplateEntries(const std::string& templateDir, const std::string& folder,
                                std::string* error) {
  bool listed = false;
  const std::vector<std::string> names = EntriesOf(templateDir, &listed);
  if (!listed) return SetError(error, Failure(templateDir, errno));
  bool copied = false;
  for (const std::string& name : names) {
    const std::string target = folder + "/" + name;
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) continue;
    if (errno != ENOENT) return SetError(error, Failure(target, errno));
    // A copy left by a start that was cut short is dropped and made anew.
    const std::string partial = folder + "/" + kCopyPrefix + name;
    if (!RemoveTree(partial)) return SetError(error, Failure(partial, errno));
    if (!CopyTree(templateDir + "/" + name, partial, error)) {
      RemoveTree(partial);
      return false;
    }
    if (::rename(partial.c_str(), target.c_str()) != 0) {
      const int e = errno;
      RemoveTree(partial);
      return SetError(error, Failure(target, e));
    }
    copied = true;
  }
  if (copied && !SyncPath(folder)) return SetError(error, Failure(folder, errno));
  return true;
}

DataFolderOpening OpenDataFolderAt(const std::string& folder, const std::string& templateDir,
                                   InstanceLock& lock, bool create) {
  DataFolderOpening r;
  r.folder = folder;
  const bool installed = !templateDir.empty() || create;
  if (installed) {
    if (!MakeFolders(folder, &r.problem)) return r;
    if (::chmod(folder.c_str(), kFolderMode) != 0) {
      r.problem = Failure(folder, errno);
      return r;
    }
  }
  switch (lock.TryAcquire(folder)) {
    case InstanceLock::Result::kAcquired:
      break;
    case InstanceLock::Result::kHeldElsewhere:
      r.status = DataFolderOpening::Status::kInUse;
      r.holderPid = InstanceLock::HolderPid(folder);
      return r;
    case InstanceLock::Result::kFailed:
      r.problem = lock.error();
      if (installed) return r;
      r.status = DataFolderOpening::Status::kReady;
      return r;
  }
  struct stat st {};
  r.fresh = !templateDir.empty() && ::stat((folder + "/data").c_str(), &st) != 0;
  if (!templateDir.empty() && !CopyMissingTemplateEntries(templateDir, folder, &r.problem)) {
    lock.Release();
    return r;
  }
  r.status = DataFolderOpening::Status::kReady;
  return r;
}

DataFolderOpening OpenDataFolder(InstanceLock& lock) {
  const ProgramDirSource source = CurrentProgramDirSource();
  const bool installed = source == ProgramDirSource::kInstalled || source == ProgramDirSource::kShop;
  return OpenDataFolderAt(ProgramDir(), installed ? InstalledTemplateDir() : std::string(), lock,
                          source == ProgramDirSource::kShop);
}

}  // namespace autodeliver
