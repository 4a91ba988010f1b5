// Repeated search with the engine's errors caught; see regex_matches.h.
#include "market/regex_matches.h"

#include <algorithm>
#include <exception>
#include <string_view>

namespace autodeliver {

std::vector<std::string> AllGroupOneMatches(const boost::regex& pattern, const std::string& text) {
  std::vector<std::string> groups;
  auto start = text.cbegin();
  const auto end = text.cend();
  auto flags = boost::match_default;
  try {
    boost::smatch m;
    while (boost::regex_search(start, end, m, pattern, flags)) {
      groups.push_back(m[1].matched ? m[1].str() : std::string());
      if (m[0].length() == 0) {
        // An empty match would be found again at the same place: step on.
        if (m[0].second == end) break;
        start = m[0].second + 1;
      } else {
        start = m[0].second;
      }
      flags = boost::match_default | boost::match_prev_avail;
    }
  } catch (const std::exception&) {
    // The engine gave up on this search: no further match.
  }
  return groups;
}

WindowedMatches WindowedGroupOneMatches(const OpenerPattern& pattern, const std::string& text,
                                        std::size_t& failedWindowBudget) {
  WindowedMatches result;
  const std::string_view all(text);
  std::size_t from = 0;
  boost::smatch m;
  try {
    for (;;) {
      // Every match begins with the opener, so the leftmost match starts at
      // the first opener from which one can be had.
      const std::size_t at = pattern.opener.empty() ? from : all.find(pattern.opener, from);
      if (at == std::string_view::npos || at >= text.size()) break;
      const std::size_t windowEnd = at + std::min(pattern.longestMatch, text.size() - at);
      auto flags = boost::match_continuous;
      if (at > 0) flags |= boost::match_prev_avail;
      if (boost::regex_search(text.cbegin() + static_cast<std::ptrdiff_t>(at),
                              text.cbegin() + static_cast<std::ptrdiff_t>(windowEnd), m, pattern.regex,
                              flags)) {
        result.groups.push_back(m[1].matched ? m[1].str() : std::string());
        // An empty match would be found again at the same place: step on.
        from = at + std::max<std::size_t>(static_cast<std::size_t>(m[0].length()), 1);
        continue;
      }
      const std::size_t spent = windowEnd - at;
      if (spent > failedWindowBudget) {
        result.complete = false;
        break;
      }
      failedWindowBudget -= spent;
      from = at + 1;
    }
  } catch (const std::exception&) {
    // The engine gave up inside a window.
    result.complete = false;
  }
  return result;
}

}  // namespace autodeliver
