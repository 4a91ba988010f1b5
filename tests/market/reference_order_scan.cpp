// The order page scan as it was; see reference_order_scan.h.
#include "reference_order_scan.h"

#include <algorithm>
#include <exception>

#include "text/gbk.h"

namespace autodeliver::reference {

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

std::string PrepareOrderPage(std::string_view body) {
  static const std::string kDash = "\xA1\xAA";  // the GBK dash "—"
  static constexpr std::string_view kEntity = "&mdash;";
  const std::string_view page = body.substr(0, body.find('\0'));
  std::string out;
  out.reserve(page.size());
  long from = 1;
  for (;;) {
    const long at = FindText(page, kEntity, from, /*ignoreAsciiCase=*/true);
    if (at < 0) break;
    out.append(page.substr(from - 1, at - from));
    out.append(kDash);
    from = at + static_cast<long>(kEntity.size());
  }
  out.append(page.substr(from - 1));
  return out;
}

const OpenerPattern& BoundedOrderPattern(OrderField field) {
  // The patterns as the old scan wrote them. The quantity pattern's first
  // lazy run is atomic: the first "× " after the opener is the only one that
  // can lead to a match, so the matches are those of the pattern as written
  // and a failing window costs its length, not its square.
  static const std::array<OpenerPattern, 5> patterns = [] {
    const std::string indent = std::string(16, ' ') + "\t\t\t\t" + std::string(4, ' ');
    const std::string times = "×"_gbk;
    auto make = [](std::string opener, const std::string& rest, std::size_t longestMatch) {
      OpenerPattern p;
      p.regex = boost::regex(opener + rest, boost::regex::perl);
      p.opener = std::move(opener);
      p.longestMatch = longestMatch;
      return p;
    };
    return std::array<OpenerPattern, 5>{
        make("<a style=\"line-height:16px;\" target=\"_blank\" title=\"", "(.*?)\"", 4096),
        make("<span class=\"ww ww:token\" ww:params=\"nick=", "(.*?)&amp;", 1024),
        make("<span class=\"order-number\">" + "订单编号："_gbk, "(.*?)</span>", 1024),
        make("<li class=\"total\">\r\n" + indent + "\t", "(?>.*?" + times + " )(.*?)\r\n" + indent + "</li>",
             4096),
        make("order_id=", "(.*?)&", 1024)};
  }();
  return patterns[static_cast<std::size_t>(field)];
}

PageMatches ReadPageMatches(std::string_view body) {
  const std::string page = PrepareOrderPage(body);
  PageMatches result;
  std::size_t budget = kFailedWindowBudget;
  for (OrderField field : kOrderFields) {
    WindowedMatches found = WindowedGroupOneMatches(BoundedOrderPattern(field), page, budget);
    if (!found.complete) {
      result.complete = false;
      return result;
    }
    result.groups[static_cast<std::size_t>(field)] = std::move(found.groups);
  }
  return result;
}

}  // namespace autodeliver::reference
