// Repeated regular-expression search over byte text, as the order scan uses
// it: every match left to right, each search starting where the previous
// match ended, so matches never overlap.
//
// A search that the engine gives up (its complexity limit, or memory) counts
// as finding nothing: the list ends there and no exception leaves.
//
// Thread safety: free function; a compiled boost::regex may be shared for
// reading by several threads.
#pragma once

#include <boost/regex.hpp>
#include <string>
#include <vector>

namespace autodeliver {

// Group 1 of every match of `pattern` in `text`, in order; empty text for a
// match in which group 1 took no part.
std::vector<std::string> AllGroupOneMatches(const boost::regex& pattern, const std::string& text);

}  // namespace autodeliver
