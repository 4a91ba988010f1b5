// Repeated search with the engine's errors caught; see regex_matches.h.
#include "market/regex_matches.h"

#include <exception>

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

}  // namespace autodeliver
