// The alert channels' requests; see alert_channels.h.
#include "alerts/alert_channels.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <chrono>
#include <regex>

#include "http/url.h"

namespace autodeliver {
namespace {

std::string TextMessageJson(const std::string& content) {
  return "{\"msgtype\":\"text\",\"text\":{\"content\":" + JsonString(content) + "}}";
}

std::string WithQuery(const std::string& url, const std::string& query) {
  const std::string base = url.substr(0, url.find('#'));
  if (base.find('?') == std::string::npos) return base + "?" + query;
  const char last = base.back();
  return base + (last == '?' || last == '&' ? "" : "&") + query;
}

std::vector<std::string> MailAddresses(const std::string& list) {
  std::vector<std::string> out;
  std::string current;
  for (char c : list + ",") {
    if (c == ',' || c == ';' || c == ' ' || c == '\t') {
      if (!current.empty()) out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  return out;
}

}  // namespace

const char* AlertChannelCaption(AlertChannelKind kind) {
  switch (kind) {
    case AlertChannelKind::kSignedRobot:
      return "群机器人（可加签）";
    case AlertChannelKind::kTextRobot:
      return "群机器人（文本消息）";
    case AlertChannelKind::kPushApp:
      return "推送应用";
    case AlertChannelKind::kJsonWebhook:
      return "通用 JSON 网址";
    case AlertChannelKind::kMail:
      return "邮件";
  }
  return "";
}

bool AlertChannel::Usable() const {
  if (!enabled) return false;
  if (kind == AlertChannelKind::kMail)
    return !mailServer.empty() && !mailFrom.empty() && !MailAddresses(mailTo).empty();
  return !url.empty();
}

std::vector<std::string> AlertChannel::Secrets() const {
  std::vector<std::string> out;
  for (const std::string* s : {&url, &signingSecret, &mailPassword}) {
    if (!s->empty()) out.push_back(*s);
  }
  // The key of a webhook is its query; a failure text may quote the URL
  // without the path, or the query alone.
  const std::size_t query = url.find('?');
  if (query != std::string::npos && query + 1 < url.size()) out.push_back(url.substr(query + 1));
  return out;
}

std::string AlertTime(std::time_t at) {
  std::tm tm{};
  localtime_r(&at, &tm);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string AlertText(const Alert& alert) {
  return "【" + alert.title + "】" + alert.text + "\n店铺：" + alert.shop + "\n时间：" + AlertTime(alert.at);
}

std::string JsonString(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (b < 0x20 || b == 0x7F) {
          out += "\\u00";
          out += kHex[b >> 4];
          out += kHex[b & 0x0F];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string RobotSignature(std::int64_t timestampMs, const std::string& secret) {
  const std::string signed_ = std::to_string(timestampMs) + "\n" + secret;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
           reinterpret_cast<const unsigned char*>(signed_.data()), signed_.size(), digest,
           &length) == nullptr)
    return {};
  return Base64(std::string(reinterpret_cast<const char*>(digest), length));
}

HttpSendRequest AlertRequest(const AlertChannel& channel, const Alert& alert, std::int64_t nowMs) {
  HttpSendRequest request;
  request.url = channel.url;
  const std::string text = AlertText(alert);
  switch (channel.kind) {
    case AlertChannelKind::kSignedRobot:
      if (!channel.signingSecret.empty()) {
        request.url = WithQuery(channel.url, "timestamp=" + std::to_string(nowMs) + "&sign=" +
                                                 PercentEncode(RobotSignature(nowMs, channel.signingSecret)));
      }
      [[fallthrough]];
    case AlertChannelKind::kTextRobot:
      request.contentType = "application/json; charset=utf-8";
      request.body = TextMessageJson(text);
      break;
    case AlertChannelKind::kPushApp: {
      const std::string form = "title=" + PercentEncode(alert.title) + "&body=" + PercentEncode(text);
      if (channel.pushWithPost) {
        request.contentType = "application/x-www-form-urlencoded";
        request.body = form;
      } else {
        request.method = "GET";
        request.url = WithQuery(channel.url, form);
      }
      break;
    }
    case AlertChannelKind::kJsonWebhook:
      request.contentType = "application/json; charset=utf-8";
      request.body = "{\"kind\":" + JsonString(alert.kind) + ",\"title\":" + JsonString(alert.title) +
                     ",\"text\":" + JsonString(alert.text) + ",\"item\":" + JsonString(alert.subject) +
                     ",\"shop\":" + JsonString(alert.shop) + ",\"time\":" + JsonString(AlertTime(alert.at)) +
                     ",\"timestamp\":" + std::to_string(static_cast<long long>(alert.at)) + "}";
      break;
    case AlertChannelKind::kMail:
      request.method = "NONE";  // refused by HttpSend: mail goes by SMTP
      break;
  }
  return request;
}

MailMessage AlertMail(const AlertChannel& channel, const Alert& alert) {
  MailMessage mail;
  mail.server = channel.mailServer;
  mail.user = channel.mailUser;
  mail.password = channel.mailPassword;
  mail.from = channel.mailFrom;
  mail.to = MailAddresses(channel.mailTo);
  mail.subject = "[自动发货] " + alert.title;
  mail.body = AlertText(alert);
  mail.date = alert.at;
  return mail;
}

ChannelAnswer JudgeHttpAnswer(const HttpSendResult& result) {
  ChannelAnswer answer;
  if (result.outcome != HttpOutcome::kAnswered) {
    answer.detail = std::string(Describe(result.outcome)) + (result.error.empty() ? "" : ": " + result.error);
    return answer;
  }
  std::string shown = result.body.substr(0, 200);
  answer.detail = "HTTP " + std::to_string(result.status) + (shown.empty() ? "" : " " + shown);
  if (result.status < 200 || result.status > 299) return answer;
  static const std::regex errcode(R"re("errcode"\s*:\s*(-?\d+))re");
  std::smatch match;
  if (std::regex_search(result.body, match, errcode) && match[1].str() != "0") return answer;
  answer.ok = true;
  return answer;
}

ChannelAnswer SendThroughChannel(const AlertChannel& channel, const Alert& alert,
                                 const std::atomic<bool>* cancel) {
  if (channel.kind == AlertChannelKind::kMail) {
    MailMessage message = AlertMail(channel, alert);
    message.cancel = cancel;
    const MailResult mail = SendMail(message);
    return {mail.sent, mail.sent ? "OK" : mail.error};
  }
  const auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  HttpSendRequest request = AlertRequest(channel, alert, nowMs);
  request.cancel = cancel;
  return JudgeHttpAnswer(HttpSend(request));
}

std::string WithoutSecrets(std::string text, const std::vector<std::string>& secrets) {
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
      text.replace(at, secret.size(), "***");
  }
  return text;
}

}  // namespace autodeliver
