// The search over the delivered cards: which rows of the sent-cards table
// match what the seller typed into the sent-cards page's search box. A row
// matches when every word of the query is found in its item name, order
// number, buyer nick or card number (the card password is never searched).
//
// Words are the pieces of the query between ASCII spaces, TABs and
// full-width spaces. ASCII letters compare without regard to case; every
// other byte compares exactly, and a word never matches from the trail byte
// of a double-byte character nor across two fields. An empty query (or one
// of spaces only) matches every row.
//
// The index keeps the searchable fields of all rows folded to lower case in
// one buffer, with a zero byte after every field, so a search is one pass of
// memmem over it: a busy shop's 100,000 rows take a few milliseconds. As the
// seller types on, a query that can only narrow the previous one is searched
// among the previous matches (NarrowsQuery).
//
// Thread safety: an index is a value; const methods may be called from any
// thread at once.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "store/rows.h"

namespace autodeliver {

// The words of a query (GBK), ASCII letters folded to lower case.
std::vector<std::string> SearchWords(std::string_view query);

// True when every row matching `newer` matches `older` too: the seller typed
// on at the end of `older` (a word grew or a word was added).
bool NarrowsQuery(std::string_view older, std::string_view newer);

class SentCardIndex {
 public:
  SentCardIndex() = default;
  // The index over `cards` in their order; row r is cards[r].
  explicit SentCardIndex(const std::vector<SentCard>& cards);

  int size() const { return static_cast<int>(orderNumbers_.size()); }

  // The rows (ascending) that match `query`; with `onlyOrders`, only rows
  // whose order number is one of them.
  std::vector<int> Find(std::string_view query, const std::set<std::string>* onlyOrders = nullptr) const;
  // The same, looking only at `rows` (ascending row numbers, for instance
  // the matches of a query that `query` narrows).
  std::vector<int> FindAmong(std::string_view query, const std::vector<int>& rows,
                             const std::set<std::string>* onlyOrders = nullptr) const;

 private:
  bool RowHasWord(int row, std::string_view word) const;
  bool RowInOrders(int row, const std::set<std::string>* onlyOrders) const;

  std::string text_;                       // per row: the four fields folded, each followed by '\0'
  std::vector<std::uint32_t> rowStart_;    // size() + 1 offsets into text_
  std::vector<std::string> orderNumbers_;  // as stored, per row
};

}  // namespace autodeliver
