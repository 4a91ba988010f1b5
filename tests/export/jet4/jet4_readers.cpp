// Test helpers reading a Jet4 table through mdbtools and mdb-reader.
#include "jet4_readers.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/hex.h"

namespace autodeliver::testing {

namespace {

std::optional<std::string> Run(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  int status = ::pclose(pipe);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace

std::optional<ReadTable> ReadWithMdbtools(const std::string& file, const std::string& table) {
  // A text value comes quoted, quotes doubled inside. mdb-export prints a
  // null and an empty text alike, as nothing: both read back as "".
  std::optional<std::string> csv = Run("mdb-export -H " + Quote(file) + " " + Quote(table) + " 2>/dev/null");
  std::optional<std::string> count = Run("mdb-count " + Quote(file) + " " + Quote(table) + " 2>/dev/null");
  if (!csv || !count) return std::nullopt;
  ReadTable result;
  result.count = std::strtol(count->c_str(), nullptr, 10);
  std::size_t i = 0;
  while (i < csv->size()) {
    ReadRow row;
    for (;;) {
      std::optional<std::string> value;
      if ((*csv)[i] == '"') {
        value.emplace();
        for (++i; i < csv->size(); ++i) {
          if ((*csv)[i] == '"') {
            if (i + 1 < csv->size() && (*csv)[i + 1] == '"') {
              value->push_back('"');
              ++i;
            } else {
              ++i;
              break;
            }
          } else {
            value->push_back((*csv)[i]);
          }
        }
      } else {
        std::size_t end = csv->find_first_of(",\n", i);
        value = csv->substr(i, end - i);
        i = end;
      }
      row.push_back(value);
      if (i >= csv->size() || (*csv)[i] == '\n') {
        ++i;
        break;
      }
      ++i;  // the comma
    }
    result.rows.push_back(row);
  }
  return result;
}

std::optional<ReadTable> ReadWithMdbReader(const std::string& file, const std::string& table,
                                           const std::vector<std::string>& columns) {
  std::string dir = std::string(AUTODELIVER_BINARY_DIR) + "/jet4-mdb-reader";
  if (!Run("bash " + Quote(std::string(AUTODELIVER_SOURCE_DIR) + "/tests/export/jet4/reader/install.sh") +
           " " + Quote(dir) + " >&2")) {
    return std::nullopt;
  }
  std::string command = "node " + Quote(dir + "/read_table.mjs") + " " + Quote(file) + " " + Quote(table);
  for (const std::string& c : columns) command += " " + Quote(c);
  std::optional<std::string> out = Run(command + " 2>/dev/null");
  if (!out) return std::nullopt;
  std::istringstream lines(*out);
  std::string line;
  ReadTable result;
  if (!std::getline(lines, line)) return std::nullopt;
  result.count = std::strtol(line.c_str(), nullptr, 10);
  while (std::getline(lines, line)) {
    ReadRow row;
    std::istringstream fields(line);
    std::string field;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      std::getline(fields, field, '\t');
      if (field == "-") {
        row.emplace_back();
      } else {
        row.push_back(FromHex(field));
      }
      field.clear();
    }
    result.rows.push_back(row);
  }
  return result;
}

}  // namespace autodeliver::testing
