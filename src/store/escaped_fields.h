// The escape of the store's line files (undelivered.txt, order_rules.txt,
// order_holds.txt) and of settings rows that hold free text: one record a
// line, fields split by TAB, and the four characters that would break that
// written as \\, \t, \r and \n.
//
// Thread safety: pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autodeliver {

// `field` with backslash, TAB, CR and LF escaped.
std::string EscapeField(std::string_view field);

// The TAB-separated fields of `line`, unescaped; nullopt for a malformed
// escape (an unknown letter, or a backslash at the end).
std::optional<std::vector<std::string>> SplitEscapedLine(std::string_view line);

}  // namespace autodeliver
