// Helpers that take answers apart and build the maker's service queries:
// cutting a value out between markers, decoding a service answer from UTF-8,
// and the time token and key digest of the update query.
//
// Thread safety: free functions without shared state.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace autodeliver {

// The text between the first `left` and the next `right` after it. With an
// empty `right`, everything after the first `left`; with an empty `left`,
// everything before the first `right`. Empty when a marker is missing.
// Markers are found as FindText finds them (never inside a double-byte
// character).
std::string TextBetween(std::string_view text, std::string_view left, std::string_view right);

// The bytes up to the first NUL, converted from UTF-8 to GB2312. Empty when
// any character fails to convert.
std::string DecodeServiceAnswer(std::string_view body);

// Each byte as two upper-case hexadecimal digits, joined.
std::string HexOfBytes(std::string_view text);

// The update query's time value: the seconds from local midnight of
// 1970-01-01 to the local time `now`, hex-encoded by HexOfBytes and written
// as four "\u"-led groups (five, five, five and the last five characters).
std::string TimeToken(std::time_t now);
// The same for the current time.
std::string TimeToken();

// Characters 17 to 22 of the lower-case hexadecimal MD5 digest of `text`.
std::string ShortDigest(std::string_view text);

}  // namespace autodeliver
