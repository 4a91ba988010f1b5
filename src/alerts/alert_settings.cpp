// The alert channels' configuration; see alert_settings.h.
#include "alerts/alert_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>

#include "base/mutex.h"
#include "store/settings.h"
#include "store/shop_paths.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

Mutex g_secretsMutex;  // one reader or writer of the secrets file at a time

const char* RowName(AlertChannelKind kind) {
  switch (kind) {
    case AlertChannelKind::kSignedRobot:
      return "加签机器人";
    case AlertChannelKind::kTextRobot:
      return "文本机器人";
    case AlertChannelKind::kPushApp:
      return "推送应用";
    case AlertChannelKind::kJsonWebhook:
      return "JSON网址";
    case AlertChannelKind::kMail:
      return "邮件";
  }
  return "";
}

const char* SecretKey(AlertChannelKind kind) {
  switch (kind) {
    case AlertChannelKind::kSignedRobot:
      return "signed_robot";
    case AlertChannelKind::kTextRobot:
      return "text_robot";
    case AlertChannelKind::kPushApp:
      return "push_app";
    case AlertChannelKind::kJsonWebhook:
      return "json_webhook";
    case AlertChannelKind::kMail:
      return "mail";
  }
  return "";
}

std::string Row(ShopContext& shop, const std::string& utf8Name) {
  return GbkToUtf8Lossy(GetSetting(shop, Utf8ToGbkLossy(utf8Name)));
}

Status Put(ShopContext& shop, const std::string& utf8Name, const std::string& utf8Value) {
  // A value that is already stored is not written again, so opening and
  // closing the dialog adds no rows.
  const std::string name = Utf8ToGbkLossy(utf8Name);
  const std::string value = Utf8ToGbkLossy(utf8Value);
  if (GetSetting(shop, name) == value && !GetSettingValues(shop, name).empty()) return Status::Ok();
  return PutSetting(shop, name, value);
}

int Number(const std::string& text, int fallback, int low, int high) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return fallback;
  const int value = std::stoi(text);
  return value < low || value > high ? fallback : value;
}

std::string Escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescaped(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      out += value[i];
    }
  }
  return out;
}

}  // namespace

AlertSettings::AlertSettings() {
  for (std::size_t i = 0; i < kAlertChannelCount; ++i) channels[i].kind = kAllAlertChannels[i];
}

bool AlertSettings::AnyChannelUsable() const {
  for (const AlertChannel& c : channels) {
    if (c.Usable()) return true;
  }
  return false;
}

std::string AlertSecretsPath(const ShopContext& shop) { return shop.DataDir() + "/alert-secrets.conf"; }

std::map<std::string, std::string> ReadAlertSecrets(const std::string& path) {
  MutexLock lock(g_secretsMutex);
  std::map<std::string, std::string> out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return out;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) ::fchmod(fd, st.st_mode & 0700);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < (1u << 20);)
    text.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    out[line.substr(0, eq)] = Unescaped(line.substr(eq + 1));
  }
  return out;
}

Status WriteAlertSecrets(const std::string& path, const std::map<std::string, std::string>& secrets) {
  MutexLock lock(g_secretsMutex);
  std::string text = "# autodeliver alert secrets\n";
  for (const auto& [key, value] : secrets) {
    if (key.empty() || key.find_first_of("=\r\n") != std::string::npos) continue;
    text += key + "=" + Escaped(value) + "\n";
  }
  const std::string temp = path + ".tmp";
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Status::FromErrno(temp, errno);
  // The first failed call's errno, taken where it failed.
  int error = 0;
  auto failed = [&error](bool ok) {
    if (!ok && error == 0) error = errno ? errno : EIO;
    return !ok;
  };
  failed(::fchmod(fd, 0600) == 0);
  for (std::size_t at = 0; error == 0 && at < text.size();) {
    errno = 0;
    const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (!failed(n > 0)) at += static_cast<std::size_t>(n);
  }
  if (error == 0) failed(::fsync(fd) == 0);
  if (::close(fd) != 0) failed(false);
  if (error != 0) {
    ::unlink(temp.c_str());
    return Status::FromErrno(temp, error);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int renameError = errno;
    ::unlink(temp.c_str());
    return Status::FromErrno(path, renameError);
  }
  return Status::Ok();
}

bool DailySummaryWanted(ShopContext& shop) { return Row(shop, "提醒:每日汇总") == "1"; }

AlertSettings LoadAlertSettings(ShopContext& shop) {
  AlertSettings s;
  s.shopName = Row(shop, "提醒:店铺名称");
  s.repeatMinutes = Number(Row(shop, "提醒:同类间隔分钟"), 30, 0, 24 * 60);
  s.dailySummary = Row(shop, "提醒:每日汇总") == "1";
  s.summaryHour = Number(Row(shop, "提醒:每日汇总时刻"), 21, 0, 23);
  const std::map<std::string, std::string> secrets = ReadAlertSecrets(AlertSecretsPath(shop));
  auto secret = [&](const std::string& key) {
    auto it = secrets.find(key);
    return it == secrets.end() ? std::string() : it->second;
  };
  for (AlertChannel& c : s.channels) {
    const std::string row = std::string("提醒:") + RowName(c.kind);
    const std::string key = SecretKey(c.kind);
    c.enabled = Row(shop, row + ":开启") == "1";
    c.url = secret(key + ".url");
    c.signingSecret = secret(key + ".secret");
    c.mailPassword = secret(key + ".password");
  }
  AlertChannel& push = s.channel(AlertChannelKind::kPushApp);
  push.pushWithPost = AsciiUpper(Row(shop, "提醒:推送应用:方式")) == "POST";
  AlertChannel& mail = s.channel(AlertChannelKind::kMail);
  mail.mailServer = Row(shop, "提醒:邮件:服务器");
  mail.mailUser = Row(shop, "提醒:邮件:用户");
  mail.mailFrom = Row(shop, "提醒:邮件:发件人");
  mail.mailTo = Row(shop, "提醒:邮件:收件人");
  return s;
}

Status StoreAlertSettings(ShopContext& shop, const AlertSettings& s) {
  // The first failure is the cause; the other rows are still written.
  Status first;
  auto put = [&first, &shop](const std::string& name, const std::string& value) {
    Status stored = Put(shop, name, value);
    if (first.ok() && !stored.ok()) first = std::move(stored);
  };
  put("提醒:店铺名称", s.shopName);
  put("提醒:同类间隔分钟", std::to_string(s.repeatMinutes));
  put("提醒:每日汇总", s.dailySummary ? "1" : "0");
  put("提醒:每日汇总时刻", std::to_string(s.summaryHour));
  std::map<std::string, std::string> secrets = ReadAlertSecrets(AlertSecretsPath(shop));
  for (const AlertChannel& c : s.channels) {
    put(std::string("提醒:") + RowName(c.kind) + ":开启", c.enabled ? "1" : "0");
    const std::string key = SecretKey(c.kind);
    auto keep = [&](const std::string& name, const std::string& value) {
      if (value.empty()) {
        secrets.erase(key + name);
      } else {
        secrets[key + name] = value;
      }
    };
    if (c.kind != AlertChannelKind::kMail) keep(".url", c.url);
    if (c.kind == AlertChannelKind::kSignedRobot) keep(".secret", c.signingSecret);
    if (c.kind == AlertChannelKind::kMail) keep(".password", c.mailPassword);
  }
  const AlertChannel& mail = s.channel(AlertChannelKind::kMail);
  put("提醒:推送应用:方式", s.channel(AlertChannelKind::kPushApp).pushWithPost ? "POST" : "GET");
  put("提醒:邮件:服务器", mail.mailServer);
  put("提醒:邮件:用户", mail.mailUser);
  put("提醒:邮件:发件人", mail.mailFrom);
  put("提醒:邮件:收件人", mail.mailTo);
  Status written = WriteAlertSecrets(AlertSecretsPath(shop), secrets);
  return first.ok() ? written : first;
}

}  // namespace autodeliver
