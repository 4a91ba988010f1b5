// Repeated regular-expression search over byte text, as the order scan uses
// it: every match left to right, each search starting where the previous
// match ended, so matches never overlap.
//
// AllGroupOneMatches searches the whole text with the engine's own search.
// A search that the engine gives up (its complexity limit, or memory) counts
// as finding nothing: the list ends there and no exception leaves. Its time
// is not bounded: some patterns take time quadratic (or worse) in the text.
//
// WindowedGroupOneMatches bounds the time. Its pattern begins with a literal
// opener; a match is tried only where the opener stands, and only within a
// window of the pattern's longest match from there. On any text whose
// matches are no longer than that, it finds exactly the matches of the
// whole-text search. A window without a match costs its length; the caller
// hands in a budget of such bytes, and a search that would spend more, or
// that the engine gives up, stops and reports itself incomplete.
//
// Thread safety: free functions; a compiled boost::regex may be shared for
// reading by several threads.
#pragma once

#include <boost/regex.hpp>
#include <cstddef>
#include <string>
#include <vector>

namespace autodeliver {

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

}  // namespace autodeliver
