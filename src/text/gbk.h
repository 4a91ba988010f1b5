// GBK text: the program's own text type and the operations on it.
//
// All program text is GBK bytes held in std::string: lengths count bytes, a
// double-byte character counts 2. Chinese literals are written in UTF-8 in
// the source and turned into GBK at run time with the _gbk suffix:
//
//   static const std::string kTitle = "宝贝名称"_gbk;
//
// Positions are 1-based byte positions; -1 means "not found". Searches step
// over double-byte characters as units, so a match never starts on the trail
// byte of a character.
//
// Conversion to and from UTF-8 happens only at the edges (Qt widgets, X11
// titles, JSON output).
//
// Thread safety: every function here is free of shared state.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace autodeliver {

// True when `b` starts a GBK double-byte character.
inline bool IsGbkLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

// UTF-8 -> GBK. Returns nullopt when the input is not valid UTF-8 or holds a
// character that GBK does not have.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

// GBK -> UTF-8. Returns nullopt when the input is not valid GBK.
std::optional<std::string> GbkToUtf8(std::string_view gbk);

// GBK -> UTF-8 for display: bytes that are not valid GBK become U+FFFD, so
// the result is never empty for a non-empty input.
std::string GbkToUtf8Lossy(std::string_view gbk);

// UTF-8 -> GBK for texts coming from the edges (a widget, a window title):
// characters GBK does not have become "?".
std::string Utf8ToGbkLossy(std::string_view utf8);

// Finds `pattern` in `text` at or after the 1-based byte position `start`.
// The scan steps over double-byte characters, so a match never starts on a
// trail byte. With `ignoreAsciiCase` the letters A-Z and a-z compare equal;
// every other byte compares exactly. An empty pattern is found at `start`
// when `start` lies within the text. Returns the 1-based position or -1.
long FindText(std::string_view text, std::string_view pattern, long start = 1, bool ignoreAsciiCase = false);

// Replaces every occurrence of `from` (found as FindText finds it, left to
// right, not overlapping) by `to`. An empty `from` changes nothing.
std::string ReplaceText(std::string_view text, std::string_view from, std::string_view to);

// ASCII A-Z to a-z; double-byte characters are left untouched.
std::string AsciiLower(std::string_view text);
// ASCII a-z to A-Z; double-byte characters are left untouched.
std::string AsciiUpper(std::string_view text);

// Removes leading and trailing ASCII spaces (0x20) and full-width spaces
// (A1 A1).
std::string TrimSpaces(std::string_view text);

// Removes every ASCII space and full-width space anywhere in the text.
std::string RemoveSpaces(std::string_view text);

}  // namespace autodeliver

// The GBK literal: "宝贝名称"_gbk is the GBK bytes of the UTF-8 source text.
// A literal that GBK cannot hold is a programming error and aborts.
std::string operator""_gbk(const char* utf8, std::size_t length);
