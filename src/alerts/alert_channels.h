// The seller's alert channels, which carry the program's news to a phone
// when nobody sits at the desktop, and the exact request each one sends.
//
//   kSignedRobot  a group-chat robot's webhook. POST, JSON
//                   {"msgtype":"text","text":{"content":"<text>"}}
//                 With a signing secret the URL gets
//                   timestamp=<ms since 1970>&sign=<signature>
//                 where the signature is the HMAC-SHA256 of
//                 "<timestamp>\n<secret>" keyed with the secret, in base64,
//                 percent-encoded.
//   kTextRobot    a second robot's webhook: POST, the same JSON text message,
//                 the URL unchanged (its key is part of the URL).
//   kPushApp      a push app's URL: title and body as "title=...&body=..."
//                 (UTF-8, percent-encoded), in the query of a GET or as the
//                 form of a POST, as the seller chooses.
//   kJsonWebhook  any URL that takes the alert as one JSON object, POST:
//                   {"kind":"stock_warning",          see AlertKindCode
//                    "title":"库存预警",
//                    "text":"宝贝“点卡”库存只剩 1 张，请及时补货。",
//                    "item":"点卡",                  empty for the shop as a whole
//                    "shop":"<shop name>",
//                    "time":"2026-12-11 09:30:00",   local time
//                    "timestamp":1765416600}          seconds since 1970
//   kMail         a mail through SMTP over TLS (http/mail_send.h): subject
//                 "[自动发货] <title>", the alert's whole text as the body.
//
// Every channel carries the same text (AlertText): the event's line, the
// shop and the time. The texts come from the notification policy, which
// names orders, buyers and items but never a card number, a card password
// or a cookie.
//
// An HTTP channel succeeded when the answer's status is 2xx and its body
// does not hold a non-zero "errcode" (the robots answer 200 with an error
// code when they refuse a message).
//
// Thread safety: plain values and free functions; call from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "http/http_send.h"
#include "http/mail_send.h"

namespace autodeliver {

enum class AlertChannelKind { kSignedRobot, kTextRobot, kPushApp, kJsonWebhook, kMail };

inline constexpr AlertChannelKind kAllAlertChannels[] = {
    AlertChannelKind::kSignedRobot, AlertChannelKind::kTextRobot, AlertChannelKind::kPushApp,
    AlertChannelKind::kJsonWebhook, AlertChannelKind::kMail};
inline constexpr std::size_t kAlertChannelCount = std::size(kAllAlertChannels);

// The channel's name as the seller sees it (UTF-8).
const char* AlertChannelCaption(AlertChannelKind kind);

struct AlertChannel {
  AlertChannelKind kind = AlertChannelKind::kSignedRobot;
  bool enabled = false;
  // The HTTP channels. The URL usually holds the channel's key: secret.
  std::string url;
  std::string signingSecret;  // kSignedRobot; empty: unsigned
  bool pushWithPost = false;  // kPushApp: POST a form instead of a GET
  // kMail.
  std::string mailServer;  // "smtps://host:465" or "smtp://host:587"
  std::string mailUser;
  std::string mailPassword;  // secret
  std::string mailFrom;
  std::string mailTo;  // addresses separated by commas, semicolons or blanks

  // Enabled and holding what it needs to send.
  bool Usable() const;
  // The channel's secret texts (URL, signing secret, password), never to be
  // written to the log.
  std::vector<std::string> Secrets() const;
};

// One alert, as every channel carries it.
struct Alert {
  std::string kind;     // AlertKindCode, "daily_summary" or "test"
  std::string subject;  // the item it is about (UTF-8); empty for the shop
  std::string title;    // UTF-8, one short line
  std::string text;     // UTF-8
  std::string shop;     // UTF-8
  std::time_t at = 0;
};

// The whole text of an alert:
//   "【<title>】<text>\n店铺：<shop>\n时间：2026-12-11 09:30:00"
std::string AlertText(const Alert& alert);
// "YYYY-MM-DD HH:MM:SS" in local time.
std::string AlertTime(std::time_t at);

// The signing robot's signature of `timestampMs` with `secret`: base64 of
// HMAC-SHA256("<timestampMs>\n<secret>", key = secret), not yet
// percent-encoded.
std::string RobotSignature(std::int64_t timestampMs, const std::string& secret);

// The request an HTTP channel sends for `alert`; `nowMs` is the signing
// robot's timestamp.
HttpSendRequest AlertRequest(const AlertChannel& channel, const Alert& alert, std::int64_t nowMs);

// The mail that the mail channel sends for `alert`.
MailMessage AlertMail(const AlertChannel& channel, const Alert& alert);

// What came of one attempt on one channel.
struct ChannelAnswer {
  bool ok = false;
  std::string detail;  // the server's answer or the failure, short (UTF-8)
};

// Whether an HTTP answer means the channel took the alert.
ChannelAnswer JudgeHttpAnswer(const HttpSendResult& result);

// Sends `alert` through `channel` once, for real; `cancel` (may be null)
// abandons the attempt when it turns true.
ChannelAnswer SendThroughChannel(const AlertChannel& channel, const Alert& alert,
                                 const std::atomic<bool>* cancel = nullptr);

// `text` with every non-empty secret of `secrets` replaced by "***".
std::string WithoutSecrets(std::string text, const std::vector<std::string>& secrets);

// JSON string literal of UTF-8 `text`, quotes included.
std::string JsonString(const std::string& text);

}  // namespace autodeliver
