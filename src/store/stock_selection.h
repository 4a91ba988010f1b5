// Which stock records to remove for the rows the seller selected in the
// stock list, when the stock may have changed since the list was filled.
//
// The delivery thread takes the oldest cards of an item first and the
// import appends at the end, so the cards of an item as they are now are
// usually the cards shown minus some of the first ones, plus new ones at the
// end. The shown cards are lined up with the current ones on that pattern;
// when it does not fit, each shown card is looked up in order among the
// current cards with the same item, number and password. A selected card
// that is no longer in the stock (it was delivered) is not replaced by
// another one.
//
// Thread safety: a free function without shared state.
#pragma once

#include <vector>

#include "store/rows.h"

namespace autodeliver {

// `shown`: the cards as the list shows them (one item, table order).
// `current`: LoadStockCardsOf of the same item now. `selectedRows`: indexes
// into `shown`. Returns the current record numbers of the selected cards
// that are still in stock, in the order of `selectedRows`.
std::vector<int> RecordsOfSelectedCards(const std::vector<StockCard>& shown,
                                        const std::vector<StockCard>& current,
                                        const std::vector<int>& selectedRows);

}  // namespace autodeliver
