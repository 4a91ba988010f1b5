// The consign request: marks an order as shipped without logistics by
// posting the marketplace's dummy shipment form with the login cookies.
//
// Thread safety: no state; runs on the delivery thread.
#pragma once

#include <cstddef>
#include <string>

#include "market/order_scan.h"

namespace autodeliver {

// The longest answer to the consign request that is taken in; the answer
// itself is never read.
inline constexpr std::size_t kConsignAnswerLimit = std::size_t{1} << 20;

// The fixed form body, the same bytes for every order.
const std::string& ConsignFormBody();

// Posts the form for `order` (trade_id = order number, order_id = order id,
// both unencoded). True when the marketplace answered anything (within
// kConsignAnswerLimit bytes); the answer
// itself is not read, the next scan shows whether the order left the list.
bool ConsignOrder(const PendingOrder& order);

}  // namespace autodeliver
