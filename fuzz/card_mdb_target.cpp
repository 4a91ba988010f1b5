// Fuzz target: card.mdb as it may be found beside the program, damaged or
// foreign, and the insert statement carried out on it. Input: a 2-byte
// little-endian length n, then n bytes of SQL (fewer when the input is
// shorter), then the bytes of the file.
//
// A row is appended by the writer and by the statement; whatever the file
// holds, a change that fails leaves it byte for byte as it was, and the
// statement parser's result agrees with its input.
#include "export/card_export.h"
#include "export/jet4/insert_statement.h"
#include "export/jet4/jet4_file.h"
#include "fuzz_targets.h"

namespace autodeliver::fuzz {

int FuzzCardMdb(const std::uint8_t* data, std::size_t size) {
  const std::size_t sqlLength = size >= 2 ? data[0] | (std::size_t{data[1]} << 8) : 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + std::min<std::size_t>(size, 2),
                              size - std::min<std::size_t>(size, 2));
  const std::string_view sql = rest.substr(0, std::min(sqlLength, rest.size()));
  const std::string_view file = rest.substr(sql.size());

  if (const auto statement = jet4::ParseInsertStatement(sql)) {
    Require(statement->columns.size() == statement->values.size(), "a statement has a value per column");
  }

  const std::string path = ScratchDir() + "/card.mdb";
  WriteFile(path, file);
  std::string before(file);
  if (!AppendTextRow(path, "biao", {"dingdan", "kahao", "mima"}, {"o-1", "卡号", "p'1"})) {
    Require(ReadFile(path) == before, "a failed append leaves the file as it was");
  } else {
    before = ReadFile(path);
  }
  if (!ExecuteJet4Insert(CardExportConnectionText(path), std::string(sql))) {
    Require(ReadFile(path) == before, "a failed statement leaves the file as it was");
  }
  return 0;
}

}  // namespace autodeliver::fuzz
