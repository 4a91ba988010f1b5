// A small INI reader with the semantics the update check relies on: section
// and key names compared without regard to ASCII case and with surrounding
// blanks ignored, the first matching section and key win, a value is the
// raw text after "=" with surrounding blanks removed and one pair of
// matching enclosing quotes stripped, at most 10239 bytes; an absent file,
// section or key reads as empty text.
//
// Thread safety: free functions without shared state.
#pragma once

#include <string>
#include <string_view>

namespace autodeliver {

inline constexpr std::size_t kIniValueLimit = 10239;

// The value of `key` in `section` of the INI text `content`.
std::string IniValue(std::string_view content, std::string_view section, std::string_view key);

// The same, read from the file at `path`.
std::string ReadIniValue(const std::string& path, std::string_view section, std::string_view key);

// Replaces the whole content of the file at `path` with `content` (created
// when missing). False when it cannot be written.
bool WriteWholeFile(const std::string& path, std::string_view content);

}  // namespace autodeliver
