// The trusted certificate authorities; see tls_trust.h.
#include "http/tls_trust.h"

#include <curl/curl.h>

#include <cstdlib>

namespace autodeliver {

bool ApplyTlsTrust(void* curlHandle) {
  CURL* handle = static_cast<CURL*>(curlHandle);
  bool ok = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
  const char* caFile = std::getenv(kCaFileVariable);
  if (ok && caFile != nullptr && *caFile != '\0')
    ok = curl_easy_setopt(handle, CURLOPT_CAINFO, caFile) == CURLE_OK;
  return ok;
}

namespace {

int OnProgress(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(cancel)->load() ? 1 : 0;
}

}  // namespace

bool ApplyCancel(void* curlHandle, const std::atomic<bool>* cancel) {
  if (cancel == nullptr) return true;
  CURL* handle = static_cast<CURL*>(curlHandle);
  return curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &OnProgress) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(cancel)) == CURLE_OK &&
         curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
}

}  // namespace autodeliver
