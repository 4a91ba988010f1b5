// The search over the delivered cards; see sent_search.h.
#include "store/sent_search.h"

#include <string.h>  // memmem, memrchr (GNU)

#include <algorithm>
#include <numeric>

#include "text/gbk.h"

namespace autodeliver {
namespace {

// A byte that separates words: ASCII controls and the space.
bool IsSeparator(unsigned char b) { return b <= 0x20 || b == 0x7F; }

// True when `at` starts a character of the field that begins at `field`
// (the fields end with a zero byte, never a trail byte).
bool StartsCharacter(const char* field, const char* at) {
  const char* p = field;
  while (p < at) {
    p += IsGbkLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0' ? 2 : 1;
  }
  return p == at;
}

// Finds `word` in [from, to) at the start of a character of its field;
// nullptr when it is not there.
const char* FindWord(const char* from, const char* to, const char* rowBegin, std::string_view word) {
  const char* at = from;
  while (at < to) {
    const void* hit = memmem(at, static_cast<std::size_t>(to - at), word.data(), word.size());
    if (hit == nullptr) return nullptr;
    const char* p = static_cast<const char*>(hit);
    const void* zero =
        p > rowBegin ? memrchr(rowBegin, '\0', static_cast<std::size_t>(p - rowBegin)) : nullptr;
    const char* field = zero != nullptr ? static_cast<const char*>(zero) + 1 : rowBegin;
    if (StartsCharacter(field, p)) return p;
    at = p + 1;
  }
  return nullptr;
}

void AppendField(std::string& text, const std::string& field) {
  text += AsciiLower(field);
  text += '\0';
}

}  // namespace

std::vector<std::string> SearchWords(std::string_view query) {
  static const std::string kWideSpace = "\xA1\xA1";
  std::vector<std::string> words;
  std::string word;
  auto finish = [&] {
    if (!word.empty()) words.push_back(AsciiLower(word));
    word.clear();
  };
  for (std::size_t i = 0; i < query.size();) {
    const auto b = static_cast<unsigned char>(query[i]);
    if (IsGbkLeadByte(b) && i + 1 < query.size()) {
      if (query.compare(i, 2, kWideSpace) == 0) {
        finish();
      } else {
        word.append(query.substr(i, 2));
      }
      i += 2;
    } else {
      if (IsSeparator(b)) {
        finish();
      } else {
        word += static_cast<char>(b);
      }
      ++i;
    }
  }
  finish();
  return words;
}

bool NarrowsQuery(std::string_view older, std::string_view newer) {
  const std::vector<std::string> before = SearchWords(older);
  const std::vector<std::string> now = SearchWords(newer);
  // Every word of before must lie inside a word of now: a row holding that
  // word of now at a character start holds the word of before as well.
  return std::all_of(before.begin(), before.end(), [&](const std::string& old) {
    return std::any_of(now.begin(), now.end(), [&](const std::string& w) { return FindText(w, old) > 0; });
  });
}

SentCardIndex::SentCardIndex(const std::vector<SentCard>& cards) {
  std::size_t bytes = 0;
  for (const SentCard& c : cards)
    bytes += c.itemName.size() + c.orderNumber.size() + c.buyerNick.size() + c.cardNumber.size() + 4;
  text_.reserve(bytes);
  rowStart_.reserve(cards.size() + 1);
  orderNumbers_.reserve(cards.size());
  for (const SentCard& c : cards) {
    rowStart_.push_back(static_cast<std::uint32_t>(text_.size()));
    AppendField(text_, c.itemName);
    AppendField(text_, c.orderNumber);
    AppendField(text_, c.buyerNick);
    AppendField(text_, c.cardNumber);
    orderNumbers_.push_back(c.orderNumber);
  }
  rowStart_.push_back(static_cast<std::uint32_t>(text_.size()));
}

bool SentCardIndex::RowHasWord(int row, std::string_view word) const {
  const char* begin = text_.data() + rowStart_[static_cast<std::size_t>(row)];
  const char* end = text_.data() + rowStart_[static_cast<std::size_t>(row) + 1];
  return FindWord(begin, end, begin, word) != nullptr;
}

bool SentCardIndex::RowInOrders(int row, const std::set<std::string>* onlyOrders) const {
  return onlyOrders == nullptr || onlyOrders->count(orderNumbers_[static_cast<std::size_t>(row)]) > 0;
}

std::vector<int> SentCardIndex::Find(std::string_view query, const std::set<std::string>* onlyOrders) const {
  std::vector<int> rows;
  const std::vector<std::string> words = SearchWords(query);
  if (words.empty()) {
    rows.resize(static_cast<std::size_t>(size()));
    std::iota(rows.begin(), rows.end(), 0);
    if (onlyOrders != nullptr) std::erase_if(rows, [&](int r) { return !RowInOrders(r, onlyOrders); });
    return rows;
  }
  // One pass over the whole buffer with the longest word, which has the
  // fewest hits; the other words are checked in the rows it finds.
  const auto longest =
      std::max_element(words.begin(), words.end(),
                       [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
  const std::string_view lead = *longest;
  const char* base = text_.data();
  const char* end = base + text_.size();
  const char* at = base;
  while (at < end) {
    const void* hit = memmem(at, static_cast<std::size_t>(end - at), lead.data(), lead.size());
    if (hit == nullptr) break;
    const char* p = static_cast<const char*>(hit);
    const auto offset = static_cast<std::uint32_t>(p - base);
    const int row =
        static_cast<int>(std::upper_bound(rowStart_.begin(), rowStart_.end(), offset) - rowStart_.begin()) -
        1;
    const char* rowBegin = base + rowStart_[static_cast<std::size_t>(row)];
    const char* rowEnd = base + rowStart_[static_cast<std::size_t>(row) + 1];
    // The hit may start inside a character; FindWord looks on in the row.
    if (FindWord(p, rowEnd, rowBegin, lead) == nullptr) {
      at = rowEnd;
      continue;
    }
    bool all = RowInOrders(row, onlyOrders);
    for (auto w = words.begin(); all && w != words.end(); ++w) {
      if (w != longest) all = RowHasWord(row, *w);
    }
    if (all) rows.push_back(row);
    at = rowEnd;
  }
  return rows;
}

std::vector<int> SentCardIndex::FindAmong(std::string_view query, const std::vector<int>& rows,
                                          const std::set<std::string>* onlyOrders) const {
  const std::vector<std::string> words = SearchWords(query);
  std::vector<int> found;
  found.reserve(rows.size());
  for (int row : rows) {
    if (row < 0 || row >= size() || !RowInOrders(row, onlyOrders)) continue;
    if (std::all_of(words.begin(), words.end(), [&](const std::string& w) { return RowHasWord(row, w); }))
      found.push_back(row);
  }
  return found;
}

}  // namespace autodeliver
