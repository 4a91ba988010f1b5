// Fuzz target: the order list page. The bytes are the page as the
// marketplace sends it; it is prepared and scanned. On pages of up to 8 KiB
// the plain whole-page search of each pattern as written runs as well, and
// wherever its matches fit the windows of the bounded search, both must
// have found the same matches.
#include <boost/regex.hpp>
#include <exception>
#include <optional>

#include "fuzz_targets.h"
#include "market/order_patterns.h"
#include "market/order_scan.h"

namespace autodeliver::fuzz {
namespace {

constexpr std::size_t kCompareUpTo = 8 << 10;

// Group 1 of every match of the whole-page search, or nullopt when a match
// is longer than `window` or the engine gave up (no comparison then).
std::optional<std::vector<std::string>> WholePageGroups(const boost::regex& pattern, const std::string& text,
                                                        std::size_t window) {
  std::vector<std::string> groups;
  try {
    auto start = text.cbegin();
    auto flags = boost::match_default;
    boost::smatch m;
    while (boost::regex_search(start, text.cend(), m, pattern, flags)) {
      if (static_cast<std::size_t>(m[0].length()) > window) return std::nullopt;
      groups.push_back(m[1].matched ? m[1].str() : std::string());
      if (m[0].length() == 0) return std::nullopt;  // the patterns never match empty
      start = m[0].second;
      flags |= boost::match_prev_avail;
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return groups;
}

}  // namespace

int FuzzOrderPage(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const std::string page = PrepareOrderPage(body);
  Require(page.size() <= body.size(), "preparing a page never lengthens it");
  const OrderPageScan scan = ReadOrderPage(page);
  Require(scan.outcome == OrderPageOutcome::kRead || scan.orders.empty(), "a refused page yields no order");
  for (const PendingOrder& order : scan.orders) {
    Require(order.itemTitle.find('"') == std::string::npos, "a title ends at the first double quote");
  }

  if (page.size() > kCompareUpTo) return 0;
  static const std::vector<boost::regex> written = [] {
    std::vector<boost::regex> patterns;
    for (OrderField field : kOrderFields) patterns.emplace_back(OrderPatternText(field), boost::regex::perl);
    return patterns;
  }();
  std::size_t budget = kOrderPageFailedWindowBudget;
  for (OrderField field : kOrderFields) {
    const OpenerPattern& bounded = BoundedOrderPattern(field);
    const std::optional<std::vector<std::string>> whole =
        WholePageGroups(written[static_cast<std::size_t>(field)], page, bounded.longestMatch);
    const WindowedMatches windowed = WindowedGroupOneMatches(bounded, page, budget);
    if (!whole || !windowed.complete) continue;
    Require(windowed.groups == *whole, "the bounded search finds what the whole-page search finds");
  }
  return 0;
}

}  // namespace autodeliver::fuzz
