// The one SQL statement the card export carries out:
//   insert into T ([c1],[c2],...) values ('v1','v2',...)
// Keywords in any case, spaces and line breaks anywhere between the parts, a
// name bare or in brackets, an optional ";" at the end; inside a quoted
// value a doubled quote stands for one quote. Texts are GBK bytes: a quote
// or bracket byte is never the second byte of a double-byte character.
//
// Thread safety: free of shared state.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autodeliver::jet4 {

struct InsertStatement {
  std::string table;
  std::vector<std::string> columns;
  std::vector<std::string> values;
};

// nullopt when `sql` is not such a statement or the counts of columns and
// values differ.
std::optional<InsertStatement> ParseInsertStatement(std::string_view sql);

}  // namespace autodeliver::jet4
