// Fuzz target: the INI reader. The bytes are a section name, a key and the
// file text, separated by the first two line feeds.
#include "fuzz_targets.h"
#include "service/ini_file.h"

namespace autodeliver::fuzz {

int FuzzIniFile(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t first = input.find('\n');
  const std::size_t second = first == std::string_view::npos ? first : input.find('\n', first + 1);
  const std::string_view section = input.substr(0, first);
  const std::string_view key =
      first == std::string_view::npos ? std::string_view() : input.substr(first + 1, second - first - 1);
  const std::string_view content =
      second == std::string_view::npos ? std::string_view() : input.substr(second + 1);
  const std::string value = IniValue(content, section, key);
  Require(value.size() <= kIniValueLimit, "an INI value is bounded");
  Require(value.find('\n') == std::string::npos, "an INI value ends at its line");
  // The file reader gives what the text reader gives.
  const std::string path = ScratchDir() + "/fuzz.ini";
  WriteFile(path, content);
  Require(ReadIniValue(path, section, key) == value, "the file and the text read alike");
  return 0;
}

}  // namespace autodeliver::fuzz
