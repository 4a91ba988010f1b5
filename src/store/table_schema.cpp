// The installed tables' fields and the data folder's creation; see
// table_schema.h.
#include "store/table_schema.h"

#include <sys/stat.h>

#include <cerrno>

#include "store/shop_paths.h"
#include "tables/table_format.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

namespace fmt = table_format;

FieldSpec LongText(const char* utf8Name) { return {Utf8ToGbkLossy(utf8Name), fmt::kLongText, 0}; }
FieldSpec Fixed(const char* utf8Name, int width) {
  return {Utf8ToGbkLossy(utf8Name), fmt::kFixedText, width};
}

}  // namespace

// Texts the program formats itself: a decimal int takes at most 11 bytes,
// "真"/"假"/"是" 2, the delivery time at most 30 ("2012年11月20日23时59分59秒"
// with a 5-digit year), the setting name 20.
std::vector<FieldSpec> SettingsTableFields() { return {Fixed("配置名", 64), LongText("配置数据")}; }

namespace {

// A field that the installed layout keeps at `width` and the earlier one
// as a long text.
FieldSpec Chosen(TableLayout layout, const char* utf8Name, int width) {
  return layout == TableLayout::kInstalled ? Fixed(utf8Name, width) : LongText(utf8Name);
}

}  // namespace

std::vector<FieldSpec> ItemsTableFields(TableLayout layout) {
  return {Chosen(layout, "宝贝名称", kItemNameWidth), LongText("宝贝备注"), Fixed("限拍件数", 16),
          Fixed("是否需要卡密信息", 8)};
}

std::vector<FieldSpec> StockTableFields(TableLayout layout) {
  return {Chosen(layout, "宝贝名称", kItemNameWidth), LongText("宝贝卡号"), LongText("宝贝卡密")};
}

std::vector<FieldSpec> SentTableFields(TableLayout layout) {
  return {Chosen(layout, "宝贝名称", kItemNameWidth),
          Chosen(layout, "订单编号", kOrderNumberWidth),
          Chosen(layout, "买家旺旺", kNickWidth),
          Fixed("购买数量", 16),
          LongText("已发卡号"),
          LongText("已发卡密"),
          LongText("已发备注"),
          Fixed("发货时间", 48)};
}

bool CreateDataTables(const std::string& dir, std::string* error, TableLayout layout) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what;
    return false;
  };
  std::string data = dir + "/data";
  if (::mkdir(data.c_str(), 0755) != 0 && errno != EEXIST) return fail("cannot create " + data);
  struct Table {
    const char* file;
    std::vector<FieldSpec> fields;
  } tables[] = {{kSettingsTableFile, SettingsTableFields()},
                {kItemsTableFile, ItemsTableFields(layout)},
                {kStockTableFile, StockTableFields(layout)},
                {kSentTableFile, SentTableFields(layout)}};
  for (const Table& t : tables) {
    std::string path = data + "/" + t.file;
    if (!CreateTable(path, t.fields)) return fail("cannot create " + path + " (does it exist already?)");
  }
  RecordTable settings;
  std::string path = data + "/" + kSettingsTableFile;
  if (!settings.Open(path) || !settings.Append({"阿里旺旺核心文件路径"_gbk, std::string()}))
    return fail("cannot write the settings row into " + path);
  return true;
}

}  // namespace autodeliver
