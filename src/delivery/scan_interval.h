// The scan interval the seller types beside "开启自动发货": whole seconds,
// digits only (ASCII or full-width, spaces around them ignored), at least
// kMinScanSeconds. Anything else is refused with a text for beside the box,
// and the delivery switch is not turned on with it.
#pragma once

#include <optional>
#include <string>

namespace autodeliver {

inline constexpr int kMinScanSeconds = 5;
// A day: a longer interval is surely a typing slip.
inline constexpr int kMaxScanSeconds = 86400;

struct ScanIntervalCheck {
  std::optional<int> seconds;  // the accepted interval
  std::string refusal;         // why it was refused (GBK); empty when accepted
};

// Checks the typed text (GBK).
ScanIntervalCheck CheckScanInterval(const std::string& typed);

}  // namespace autodeliver
