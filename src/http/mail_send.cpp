// Mail through SMTP over TLS; see mail_send.h.
#include "http/mail_send.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "http/tls_trust.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

bool HasLineBreak(const std::string& s) {
  return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// An address as the SMTP envelope takes it: no blanks, no angle brackets.
bool PlainAddress(const std::string& s) {
  return !s.empty() && s.find('@') != std::string::npos && std::none_of(s.begin(), s.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7F || c == '<' || c == '>' || c == ',';
  });
}

struct Reader {
  const std::string* text;
  std::size_t at = 0;
};

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
  auto* reader = static_cast<Reader*>(user);
  const std::size_t n = std::min(size * count, reader->text->size() - reader->at);
  std::memcpy(buffer, reader->text->data() + reader->at, n);
  reader->at += n;
  return n;
}

bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

}  // namespace

std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(std::max(n, 0)));
  return out;
}

std::string MailText(const MailMessage& m) {
  char date[64] = {};
  std::tm tm{};
  gmtime_r(&m.date, &tm);
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm);
  std::string to;
  for (const std::string& address : m.to) to += (to.empty() ? "" : ", ") + address;
  std::string text = std::string("Date: ") + date + "\r\nFrom: " + m.from + "\r\nTo: " + to +
                     "\r\nSubject: =?UTF-8?B?" + Base64(m.subject) +
                     "?=\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\n";
  const std::string body = Base64(m.body);
  for (std::size_t at = 0; at < body.size(); at += 76) text += body.substr(at, 76) + "\r\n";
  return text;
}

MailResult SendMail(const MailMessage& m) {
  MailResult result;
  const std::string scheme = AsciiLower(m.server.substr(0, m.server.find("://") + 3));
  if (scheme != "smtps://" && scheme != "smtp://") {
    result.error = "the mail server must be an smtps:// or smtp:// address";
    return result;
  }
  if (!PlainAddress(m.from) || m.to.empty() ||
      !std::all_of(m.to.begin(), m.to.end(), [](const std::string& a) { return PlainAddress(a); }) ||
      HasLineBreak(m.server) || HasLineBreak(m.user) || HasLineBreak(m.password)) {
    result.error = "a mail address, the server or the login is not usable";
    return result;
  }
  if (!CurlReady()) {
    result.error = "libcurl could not start";
    return result;
  }
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
  if (!handle) {
    result.error = "libcurl could not start";
    return result;
  }
  CURL* h = handle.get();
  curl_slist* rcpt = nullptr;
  for (const std::string& address : m.to) {
    curl_slist* grown = curl_slist_append(rcpt, ("<" + address + ">").c_str());
    if (grown == nullptr) break;
    rcpt = grown;
  }
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> recipients(rcpt, &curl_slist_free_all);
  const std::string text = MailText(m);
  Reader reader{&text};
  const std::string mailFrom = "<" + m.from + ">";
  char errorText[CURL_ERROR_SIZE] = {};
  const long boundMs = static_cast<long>(std::max<std::int64_t>(1, m.bound.count()));
  bool ok = recipients && curl_easy_setopt(h, CURLOPT_URL, m.server.c_str()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps") == CURLE_OK &&
            // STARTTLS is required on an smtp:// server: no clear-text fallback.
            curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL)) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_PROXY, "") == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_MAIL_FROM, mailFrom.c_str()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_UPLOAD, 1L) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_READFUNCTION, &OnRead) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_READDATA, &reader) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(text.size())) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, boundMs) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, boundMs) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText) == CURLE_OK && ApplyTlsTrust(h) &&
            ApplyCancel(h, m.cancel);
  if (ok && !m.user.empty()) {
    ok = curl_easy_setopt(h, CURLOPT_USERNAME, m.user.c_str()) == CURLE_OK &&
         curl_easy_setopt(h, CURLOPT_PASSWORD, m.password.c_str()) == CURLE_OK;
  }
  if (!ok) {
    result.error = "libcurl refused an option";
    return result;
  }
  const CURLcode done = curl_easy_perform(h);
  if (done != CURLE_OK) {
    result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(done);
    return result;
  }
  result.sent = true;
  return result;
}

}  // namespace autodeliver
