// The order page scan as it was before the literal scan replaced it, kept
// as the reference the new scan is compared against: the whole page copied
// with every "&mdash;" replaced, then each of the five patterns searched
// with Boost.Regex in bounded windows from its literal opener.
//
// AllGroupOneMatches searches the whole text with the engine's own search.
// A search that the engine gives up (its complexity limit, or memory) counts
// as finding nothing: the list ends there and no exception leaves.
//
// WindowedGroupOneMatches tries a match only where the pattern's literal
// opener stands, and only within a window of the pattern's longest match
// from there. On any text whose matches are no longer than that, it finds
// exactly the matches of the whole-text search. A window without a match
// costs its length; the caller hands in a budget of such bytes, and a
// search that would spend more, or that the engine gives up, stops and
// reports itself incomplete.
//
// Thread safety: free functions; the compiled patterns are built once and
// only read afterwards.
#pragma once

#include <array>
#include <boost/regex.hpp>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "market/order_patterns.h"

namespace autodeliver::reference {

// Group 1 of every match of `pattern` in `text`, in order; empty text for a
// match in which group 1 took no part.
std::vector<std::string> AllGroupOneMatches(const boost::regex& pattern, const std::string& text);

// A pattern that begins with a literal text, searched in bounded windows.
struct OpenerPattern {
  std::string opener;            // the literal bytes every match begins with
  boost::regex regex;            // the whole pattern, opener included
  std::size_t longestMatch = 0;  // the window: the longest match looked for
};

struct WindowedMatches {
  std::vector<std::string> groups;  // group 1 of every match found, in order
  bool complete = true;             // false: the budget ran out or the engine gave up
};

// The matches of `pattern` in `text` (see above). `failedWindowBudget` is
// decreased by the length of every window that held no match; when it would
// go below zero the search stops, incomplete.
WindowedMatches WindowedGroupOneMatches(const OpenerPattern& pattern, const std::string& text,
                                        std::size_t& failedWindowBudget);

// The page text as the patterns saw it: the bytes up to the first zero byte,
// with every "&mdash;" (ASCII letters in any case, never starting on the
// trail byte of a double-byte character) replaced by the GBK dash A1 AA.
std::string PrepareOrderPage(std::string_view body);

// The pattern of a field as the windowed search used it.
const OpenerPattern& BoundedOrderPattern(OrderField field);

// Bytes of windows without a match that one page could cost, all five
// patterns together, before the page counted as too complex.
inline constexpr std::size_t kFailedWindowBudget = std::size_t{16} << 20;

struct PageMatches {
  std::array<std::vector<std::string>, 5> groups;  // per field, as kOrderFields
  bool complete = true;                            // false: the page was refused as too complex
};

// Every field's matches on a page as fetched (prepared here).
PageMatches ReadPageMatches(std::string_view body);

}  // namespace autodeliver::reference
