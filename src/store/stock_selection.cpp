// Lining up the shown stock cards with the current ones; see
// stock_selection.h.
#include "store/stock_selection.h"

#include <cstddef>

namespace autodeliver {

namespace {

bool SameCard(const StockCard& a, const StockCard& b) {
  return a.itemName == b.itemName && a.cardNumber == b.cardNumber && a.cardPassword == b.cardPassword;
}

// For each shown card, the index of the same card in `current`, or -1.
std::vector<long> LineUp(const std::vector<StockCard>& shown, const std::vector<StockCard>& current) {
  const size_t n = shown.size();
  std::vector<long> at(n, -1);
  // The first `taken` shown cards were taken; the rest are the start of
  // `current`. The smallest `taken` that fits wins: the fewest cards gone.
  // All of them gone fits only an empty stock; with cards left, the in-order
  // match below decides.
  for (size_t taken = 0; taken <= n; ++taken) {
    const size_t remaining = n - taken;
    if (remaining > current.size()) continue;
    if (remaining == 0 && !current.empty()) break;
    bool fits = true;
    for (size_t i = 0; i < remaining && fits; ++i) fits = SameCard(shown[taken + i], current[i]);
    if (!fits) continue;
    for (size_t i = 0; i < remaining; ++i) at[taken + i] = static_cast<long>(i);
    return at;
  }
  // Some other change: match in order, each current card used once.
  size_t next = 0;
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = next; j < current.size(); ++j) {
      if (SameCard(shown[i], current[j])) {
        at[i] = static_cast<long>(j);
        next = j + 1;
        break;
      }
    }
  }
  return at;
}

}  // namespace

std::vector<int> RecordsOfSelectedCards(const std::vector<StockCard>& shown,
                                        const std::vector<StockCard>& current,
                                        const std::vector<int>& selectedRows) {
  const std::vector<long> at = LineUp(shown, current);
  std::vector<int> records;
  for (int row : selectedRows) {
    if (row < 0 || static_cast<size_t>(row) >= shown.size()) continue;
    if (at[row] >= 0) records.push_back(current[at[row]].recordNumber);
  }
  return records;
}

}  // namespace autodeliver
