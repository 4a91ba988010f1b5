// The parser of the card export's insert statement.
#include "export/jet4/insert_statement.h"

#include <gtest/gtest.h>

#include "text/gbk.h"

namespace autodeliver::jet4 {
namespace {

TEST(InsertStatementTest, ReadsTableColumnsAndValues) {
  struct Case {
    std::string sql;
    std::string table;
    std::vector<std::string> columns;
    std::vector<std::string> values;
  };
  const std::vector<Case> cases = {
      {"insert into biao ([dingdan],[kahao],[mima]) values ('123','A001','9x7')",
       "biao",
       {"dingdan", "kahao", "mima"},
       {"123", "A001", "9x7"}},
      // Doubled quotes, empty values, keywords in any case, spaces and a final ";".
      {"INSERT\tINTO [biao]( kahao , [mima] )\r\nVALUES( 'it''s' , '''' ) ;",
       "biao",
       {"kahao", "mima"},
       {"it's", "'"}},
      {"insert into t (a) values ('')", "t", {"a"}, {""}},
      // Characters inside a value are kept exactly, brackets and commas too.
      {"insert into t ([a],[b]) values ('x,y)','[z]')", "t", {"a", "b"}, {"x,y)", "[z]"}},
      // A double-byte name whose second byte is "]" (0x5D).
      {"insert into [\x81\x5D] ([c]) values ('v')", "\x81\x5D", {"c"}, {"v"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::optional<InsertStatement> s = ParseInsertStatement(c.sql);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->table, c.table);
    EXPECT_EQ(s->columns, c.columns);
    EXPECT_EQ(s->values, c.values);
  }

  std::string chinese = "卡号"_gbk;
  std::optional<InsertStatement> s =
      ParseInsertStatement("insert into biao ([mima]) values ('" + chinese + "')");
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->values, std::vector<std::string>{chinese});
}

TEST(InsertStatementTest, RejectsOtherStatements) {
  for (const char* sql : {
           "",
           "select * from biao",
           "insert biao ([a]) values ('x')",
           "insertinto biao ([a]) values ('x')",
           "insert into biao ([a],[b]) values ('x')",  // fewer values than columns
           "insert into biao ([a]) values ('x','y')",  // more values than columns
           "insert into biao ([a]) values ('x)",       // quote never closed
           "insert into biao ([a]) values ('x'') ",    // doubled quote swallows the close
           "insert into biao ([a]) values (x)",        // value not quoted
           "insert into biao ([a) values ('x')",       // bracket never closed
           "insert into biao () values ()",
           "insert into biao ([a]) values ('x'); drop table biao",
           "insert into biao ([a]) values ('1','2'),('3')",
       }) {
    SCOPED_TRACE(sql);
    EXPECT_FALSE(ParseInsertStatement(sql).has_value());
  }
}

}  // namespace
}  // namespace autodeliver::jet4
