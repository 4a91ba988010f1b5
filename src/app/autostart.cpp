// The autostart entry; see autostart.h.
#include "app/autostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "store/settings.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

// One argument of Exec: quoted when it holds anything a desktop reads as
// special, with ", `, $ and \ escaped inside the quotes; a % is doubled in
// any case (the field codes start with it).
std::string ExecArgument(const std::string& arg) {
  bool quote = arg.empty();
  std::string inner;
  for (const char c : arg) {
    switch (c) {
      case '"':
      case '`':
      case '$':
      case '\\':
        quote = true;
        inner += '\\';
        inner += c;
        break;
      case ' ':
      case '\t':
      case '\'':
      case '>':
      case '<':
      case '~':
      case '|':
      case '&':
      case ';':
      case '*':
      case '?':
      case '#':
      case '(':
      case ')':
      case '=':
        quote = true;
        inner += c;
        break;
      case '%':
        inner += "%%";
        break;
      default:
        inner += c;
    }
  }
  // The key file format's own escapes apply to the whole value: a
  // backslash is written twice once more.
  std::string value = quote ? "\"" + inner + "\"" : inner;
  std::string escaped;
  for (const char c : value) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return escaped;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string AutostartFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/autostart";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config/autostart";
  return std::string();
}

std::string AutostartEntryPath(const std::string& desktopId) {
  const std::string folder = AutostartFolder();
  return folder.empty() ? std::string() : folder + "/" + desktopId + ".desktop";
}

std::string AutostartEntry(const std::string& desktopId, const std::string& programPath,
                           const std::string& shop) {
  std::string exec = ExecArgument(programPath);
  if (!shop.empty()) exec += " --shop " + ExecArgument(shop);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Automatic Delivery System\n"
         "Name[zh_CN]=自动发货系统\n"
         "Comment=Starts the card deliveries at desktop login\n"
         "Comment[zh_CN]=登录桌面时启动自动发货\n"
         "Exec=" +
         exec +
         "\n"
         "Icon=" +
         desktopId +
         "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool WriteAutostartEntry(const std::string& desktopId, const std::string& programPath,
                         const std::string& shop) {
  const std::string path = AutostartEntryPath(desktopId);
  if (path.empty() || programPath.empty()) return false;
  // A line break would end the Exec line early.
  for (const std::string* text : {&programPath, &shop})
    if (text->find_first_of("\r\n") != std::string::npos) return false;
  const std::string folder = AutostartFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) return false;
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, AutostartEntry(desktopId, programPath, shop)) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncFolder(folder);
  return true;
}

bool RemoveAutostartEntry(const std::string& desktopId) {
  const std::string path = AutostartEntryPath(desktopId);
  if (path.empty()) return true;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
  SyncFolder(AutostartFolder());
  return true;
}

bool AutostartEntryExists(const std::string& desktopId) {
  const std::string path = AutostartEntryPath(desktopId);
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool AutostartChosen(ShopContext& shop) { return GetSetting(shop, Utf8ToGbkLossy(kAutostartSetting)) == "1"; }

bool RememberAutostart(ShopContext& shop, bool on) {
  return PutSetting(shop, Utf8ToGbkLossy(kAutostartSetting), on ? "1" : "0").ok();
}

}  // namespace autodeliver
