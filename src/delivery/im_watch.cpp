// What the delivery remembers about the IM client; see im_watch.h.
#include "delivery/im_watch.h"

namespace autodeliver {

int ImWatch::Attempts(const std::string& orderNumber) const {
  const auto it = attempts_.find(orderNumber);
  return it == attempts_.end() ? 0 : it->second;
}

}  // namespace autodeliver
