// Parser of the card export's insert statement; see insert_statement.h.
#include "export/jet4/insert_statement.h"

#include <cctype>

namespace autodeliver::jet4 {

namespace {

class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  void SkipSpaces() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n')) {
      ++pos_;
    }
  }
  bool AtEnd() const { return pos_ >= text_.size(); }

  // A keyword, not followed by a name character.
  bool Keyword(std::string_view word) {
    SkipSpaces();
    if (text_.size() - pos_ < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(text_[pos_ + i])) != word[i]) return false;
    }
    if (pos_ + word.size() < text_.size() && IsNameByte(text_[pos_ + word.size()])) return false;
    pos_ += word.size();
    return true;
  }

  bool Symbol(char c) {
    SkipSpaces();
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  // [name] or a bare name of letters, digits, "_" and double-byte characters.
  std::optional<std::string> Name() {
    SkipSpaces();
    if (AtEnd()) return std::nullopt;
    std::string name;
    if (text_[pos_] == '[') {
      ++pos_;
      while (!AtEnd() && text_[pos_] != ']') {
        // Step over a double-byte character whole: its second byte may be ']'.
        if (static_cast<unsigned char>(text_[pos_]) >= 0x81 && pos_ + 1 < text_.size()) name += text_[pos_++];
        name += text_[pos_++];
      }
      if (AtEnd()) return std::nullopt;
      ++pos_;
    } else {
      while (!AtEnd() && IsNameByte(text_[pos_])) name += text_[pos_++];
    }
    if (name.empty()) return std::nullopt;
    return name;
  }

  // 'text' with '' standing for one quote.
  std::optional<std::string> Quoted() {
    SkipSpaces();
    if (AtEnd() || text_[pos_] != '\'') return std::nullopt;
    ++pos_;
    std::string value;
    for (;;) {
      if (AtEnd()) return std::nullopt;
      char c = text_[pos_++];
      if (c != '\'') {
        value += c;
      } else if (!AtEnd() && text_[pos_] == '\'') {
        value += '\'';
        ++pos_;
      } else {
        return value;
      }
    }
  }

 private:
  static bool IsNameByte(char c) {
    unsigned char b = static_cast<unsigned char>(c);
    return std::isalnum(b) || b == '_' || b >= 0x80;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<InsertStatement> ParseInsertStatement(std::string_view sql) {
  Cursor in(sql);
  InsertStatement statement;
  if (!in.Keyword("insert") || !in.Keyword("into")) return std::nullopt;
  std::optional<std::string> table = in.Name();
  if (!table) return std::nullopt;
  statement.table = *table;
  if (!in.Symbol('(')) return std::nullopt;
  do {
    std::optional<std::string> column = in.Name();
    if (!column) return std::nullopt;
    statement.columns.push_back(*column);
  } while (in.Symbol(','));
  if (!in.Symbol(')') || !in.Keyword("values") || !in.Symbol('(')) return std::nullopt;
  do {
    std::optional<std::string> value = in.Quoted();
    if (!value) return std::nullopt;
    statement.values.push_back(*value);
  } while (in.Symbol(','));
  if (!in.Symbol(')')) return std::nullopt;
  in.Symbol(';');
  in.SkipSpaces();
  if (!in.AtEnd() || statement.columns.size() != statement.values.size()) return std::nullopt;
  return statement;
}

}  // namespace autodeliver::jet4
