// The consign request: marks an order as shipped without logistics by
// posting the marketplace's dummy shipment form with the login cookies.
//
// Thread safety: no state; runs on the delivery thread.
#pragma once

#include <string>

#include "market/order_scan.h"

namespace autodeliver {

// The fixed form body, the same bytes for every order.
const std::string& ConsignFormBody();

// Posts the form for `order` (trade_id = order number, order_id = order id,
// both unencoded). True when the marketplace answered anything; the answer
// itself is not read, the next scan shows whether the order left the list.
bool ConsignOrder(const PendingOrder& order);

}  // namespace autodeliver
