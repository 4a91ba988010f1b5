// A request for the program's own outgoing messages (the seller's alert
// channels): unlike HttpRequest, the caller names the content type, the
// answer's status code comes back, and no cookie is sent or recorded, so a
// webhook on a marketplace host never sees the login.
//
//   POST /path?query HTTP/1.1
//   Host: host[:port]
//   User-Agent: autodeliver
//   Accept: */*
//   Content-Type: <contentType>           (with a body)
//   Content-Length: <bytes of the body>   (with a body)
//
// "https://" URLs go over TLS with the server's certificate and host name
// checked (http/tls_trust.h); redirects are not followed (a 3xx comes back
// as the status). The time bound is the caller's, at most
// kHttpRequestBound. URLs with control bytes or spaces, and schemes other
// than http and https, are refused before anything is sent.
//
// Thread safety: may be called from any thread; each call uses its own
// connection.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

#include "http/http_request.h"

namespace autodeliver {

struct HttpSendRequest {
  std::string url;
  std::string method = "POST";  // "GET" or "POST"
  std::string contentType;      // for a body
  std::string body;             // sent with a POST
  std::chrono::milliseconds bound{15000};
  std::size_t maxAnswerBytes = std::size_t{64} << 10;
  // When set and turned true, the transfer is abandoned within about a
  // second (its owner is shutting down); the request then fails.
  const std::atomic<bool>* cancel = nullptr;
};

struct HttpSendResult {
  HttpOutcome outcome = HttpOutcome::kRefused;
  long status = 0;    // the answer's status code when kAnswered
  std::string body;   // the answer's body when kAnswered
  std::string error;  // libcurl's words when the transfer failed (English)
};

HttpSendResult HttpSend(const HttpSendRequest& request);

}  // namespace autodeliver
