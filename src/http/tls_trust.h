// Which certificate authorities the program's TLS connections trust.
//
// By default libcurl's own bundle (the system's CA certificates). When the
// environment variable AUTODELIVER_CA_FILE names a PEM file, the engine
// trusts the authorities in that file instead: a test rig points it at the
// certificate of its local HTTPS and mail imitations, a seller at the CA of
// a company proxy. Verification of the peer and of its host name stays on
// either way; nothing in the program turns it off.
//
// Thread safety: reads the environment on each call; call from any thread.
#pragma once

#include <atomic>

namespace autodeliver {

// The name of the environment variable (read only by the request engines).
inline constexpr char kCaFileVariable[] = "AUTODELIVER_CA_FILE";

// Sets the libcurl easy handle's peer and host checks on, and its CA file when the
// variable is set. False when libcurl refused an option.
bool ApplyTlsTrust(void* curlHandle);

// Makes the handle's transfer stop soon after `*cancel` turns true (libcurl
// asks at least once a second); null: never. False when libcurl refused.
bool ApplyCancel(void* curlHandle, const std::atomic<bool>* cancel);

}  // namespace autodeliver
