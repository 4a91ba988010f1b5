#include "app/shop_option.h"

#include <cstring>

#include "store/shop_paths.h"
#include "text/gbk.h"

namespace autodeliver {

ShopOption ParseShopOption(int argc, const char* const* argv) {
  ShopOption o;
  bool seen = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    std::string value;
    if (std::strcmp(a, "--choose-shop") == 0) {
      o.choose = true;
      continue;
    }
    if (std::strcmp(a, "--shop") == 0) {
      if (i + 1 >= argc) {
        o.error = "--shop 后面要写店铺名";
        return o;
      }
      value = argv[++i];
    } else if (std::strncmp(a, "--shop=", 7) == 0) {
      value = a + 7;
    } else {
      continue;
    }
    if (seen && value != o.name) {
      o.error = "只能指定一个店铺";
      return o;
    }
    if (!IsValidShopName(value)) {
      o.error =
          "店铺名“" + value + "”不可用：不能为空，不能含“/”，不能以“.”开头或以空格开头结尾，最长 64 字节";
      return o;
    }
    seen = true;
    o.name = value;
  }
  if (seen && o.choose) o.error = "--shop 和 --choose-shop 只能用一个";
  return o;
}

namespace {

const char* TableName(const std::string& file) {
  if (file == kSettingsTableFile) return "配置";
  if (file == kItemsTableFile) return "监控宝贝";
  if (file == kStockTableFile) return "库存卡密";
  if (file == kSentTableFile) return "已发卡密";
  return "";
}

}  // namespace

std::string OldDataSummary(const OldDataReport& r, bool dryRun) {
  std::string s;
  const std::string will = dryRun ? "将" : "已";
  for (const OldTable& t : r.tables) {
    const std::size_t slash = t.source.rfind('/') + 1;
    s += std::string("【") + TableName(t.file) + "】" +
         (t.name == OldTable::Name::kGbk ? t.source.substr(0, slash) + GbkToUtf8Lossy(t.source.substr(slash))
                                         : t.source);
    if (t.name == OldTable::Name::kGbk) s += "（文件名为 GBK 编码）";
    if (t.name == OldTable::Name::kByFields) s += "（文件名已无法识别，按字段认出）";
    s += "\n  " + std::to_string(t.records) + " 条记录，其中 " + std::to_string(t.marked) + " 条已标记删除\n";
    for (const std::string& p : t.problems) s += "  已损坏：" + p + "\n";
    switch (t.outcome) {
      case OldTable::Outcome::kConverted:
        s += "  " + will + "转换为新的表格式（记录编号、顺序和删除标记不变）\n";
        break;
      case OldTable::Outcome::kKept:
        s += "  " + will + "按原来的旧格式原样复制：第 " + std::to_string(t.tooWideRecord) + " 条记录的“" +
             t.tooWideField + "”是“" + t.tooWideValue + "”，超出新格式的字段宽度\n";
        break;
      case OldTable::Outcome::kUnchanged:
        s += "  已是新的表格式\n";
        break;
      case OldTable::Outcome::kMerged:
      case OldTable::Outcome::kNone:
        if (t.added || t.skipped)
          s += "  " + will + "添加 " + std::to_string(t.added) + " 条，" + std::to_string(t.skipped) +
               " 条已有或已删除，不再添加\n";
        break;
    }
  }
  for (const std::string& m : r.missing) s += std::string("找不到【") + TableName(m) + "】表\n";
  if (!r.cardDatabase.empty()) s += "card.mdb " + will + "原样复制到 " + r.cardDatabaseTarget + "\n";
  if (!r.backup.empty()) s += "数据文件夹原来的文件保存在 " + r.backup + "\n";
  switch (r.status) {
    case OldDataReport::Status::kDone:
    case OldDataReport::Status::kDryRun:
      break;
    case OldDataReport::Status::kIncomplete:
      s += "旧数据不完整，什么也没有导入。\n";
      break;
    case OldDataReport::Status::kDamaged:
      s += "有表已损坏，什么也没有导入。\n";
      break;
    case OldDataReport::Status::kTargetHasData:
      s += "数据文件夹里已有 " + std::to_string(r.targetCards) + " 张库存卡密和 " +
           std::to_string(r.targetSent) + " 条已发记录，什么也没有导入。\n";
      break;
    case OldDataReport::Status::kTooWideToMerge:
    case OldDataReport::Status::kFailed:
      s += "导入失败：" + r.problem + "\n";
      break;
  }
  return s;
}

}  // namespace autodeliver
