// One mail through SMTP (libcurl), always over TLS: an "smtps://" server is
// spoken to in TLS from the first byte, an "smtp://" one must offer
// STARTTLS or nothing is sent, so the password never crosses the network in
// the clear. The server's certificate and host name are checked
// (http/tls_trust.h).
//
// The mail is plain UTF-8 text: the subject as an RFC 2047 encoded word,
// the body in base64, so any Chinese text goes through unchanged:
//
//   Date: Fri, 11 Dec 2026 01:02:03 +0000
//   From: <from>
//   To: <to>, <to>
//   Subject: =?UTF-8?B?...?=
//   MIME-Version: 1.0
//   Content-Type: text/plain; charset=UTF-8
//   Content-Transfer-Encoding: base64
//
//   <the body in base64, lines of 76>
//
// Thread safety: may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

namespace autodeliver {

struct MailMessage {
  std::string server;  // "smtps://host[:port]" or "smtp://host[:port]"
  std::string user;    // empty: no login
  std::string password;
  std::string from;  // an address, "seller@example.com"
  std::vector<std::string> to;
  std::string subject;  // UTF-8
  std::string body;     // UTF-8
  std::time_t date = 0;
  std::chrono::milliseconds bound{30000};
  // As HttpSendRequest::cancel.
  const std::atomic<bool>* cancel = nullptr;
};

struct MailResult {
  bool sent = false;
  std::string error;  // libcurl's words or a refusal (English); empty when sent
};

// The message as it goes over the wire (headers and body, CRLF line ends).
std::string MailText(const MailMessage& message);

MailResult SendMail(const MailMessage& message);

// `bytes` in base64 (no line breaks).
std::string Base64(const std::string& bytes);

}  // namespace autodeliver
