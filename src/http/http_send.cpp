// Requests of the program's own outgoing messages; see http_send.h.
#include "http/http_send.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "http/tls_trust.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

struct Answer {
  std::string body;
  std::size_t limit = 0;
  bool tooLarge = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* answer = static_cast<Answer*>(user);
  const size_t n = size * count;
  if (n > answer->limit - answer->body.size()) {
    answer->tooLarge = true;
    return 0;
  }
  answer->body.append(data, n);
  return n;
}

bool AllowedUrl(const std::string& url) {
  const std::string lower = AsciiLower(url.substr(0, 8));
  if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0) return false;
  return std::none_of(url.begin(), url.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7F;
  });
}

bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

}  // namespace

HttpSendResult HttpSend(const HttpSendRequest& request) {
  HttpSendResult result;
  const std::string verb = AsciiUpper(request.method);
  if ((verb != "GET" && verb != "POST") || !AllowedUrl(request.url)) return result;
  if (request.contentType.find_first_of("\r\n") != std::string::npos) return result;
  result.outcome = HttpOutcome::kFailed;
  if (!CurlReady()) return result;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
  if (!handle) return result;
  CURL* h = handle.get();

  curl_slist* headers = curl_slist_append(nullptr, "Accept: */*");
  const bool withBody = verb == "POST";
  if (withBody && headers != nullptr) {
    curl_slist* grown = curl_slist_append(headers, ("Content-Type: " + request.contentType).c_str());
    if (grown != nullptr) headers = curl_slist_append(grown, "Expect:");
  }
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers, &curl_slist_free_all);
  if (!headerList) return result;

  const long boundMs =
      static_cast<long>(std::clamp(request.bound, std::chrono::milliseconds(1), kHttpRequestBound).count());
  Answer answer;
  answer.limit = request.maxAnswerBytes;
  char errorText[CURL_ERROR_SIZE] = {};
  bool ok = curl_easy_setopt(h, CURLOPT_URL, request.url.c_str()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_PROXY, "") == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_USERAGENT, "autodeliver") == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get()) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, boundMs) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, boundMs) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer) == CURLE_OK &&
            curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText) == CURLE_OK && ApplyTlsTrust(h) &&
            ApplyCancel(h, request.cancel);
  if (ok && withBody) {
    ok = curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size())) ==
             CURLE_OK &&
         curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data()) == CURLE_OK;
  }
  if (!ok) return result;

  const CURLcode done = curl_easy_perform(h);
  if (answer.tooLarge) {
    result.outcome = HttpOutcome::kTooLarge;
    return result;
  }
  if (done == CURLE_OPERATION_TIMEDOUT) {
    result.outcome = HttpOutcome::kTimedOut;
    return result;
  }
  if (done != CURLE_OK) {
    result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(done);
    return result;
  }
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
  result.outcome = HttpOutcome::kAnswered;
  result.body = std::move(answer.body);
  return result;
}

}  // namespace autodeliver
