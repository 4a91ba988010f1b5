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

}  // namespace autodeliver
