// JSON text for the tools' machine-readable output (table dumps, the
// imitations' state and transcripts): a quoted, escaped JSON string made
// from UTF-8 bytes.
//
// Thread safety: free function without shared state.
#pragma once

#include <string>
#include <string_view>

namespace autodeliver {

// The JSON string literal (with its quotes) of UTF-8 bytes. Quotes,
// backslashes and control characters are escaped; bytes that are not valid
// UTF-8 become U+FFFD, so the result is always valid JSON.
std::string JsonString(std::string_view utf8);

}  // namespace autodeliver
