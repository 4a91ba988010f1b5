#include "store/settings.h"

#include "store/shop_paths.h"
#include "store/table_access.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

bool FindSetting(TableAccess& a, std::string_view name, int* dataField) {
  static const std::string kName = "配置名"_gbk, kData = "配置数据"_gbk;
  int nameField;
  if (!a.Resolve({kName, kData}, &nameField, dataField)) return false;
  return a.table().Find([&](RecordTable& t) {
    if (t.RecordId() <= 0) return false;
    std::optional<std::string> v = t.ReadTextAt(nameField);
    return v && *v == name;
  });
}

}  // namespace

const std::string& ImClientPathSetting() {
  static const std::string kName = "阿里旺旺核心文件路径"_gbk;
  return kName;
}

std::string GetSetting(ShopContext& shop, std::string_view name) {
  TableAccess a(shop, shop.SettingsTablePath(), false);
  int data;
  if (!FindSetting(a, name, &data)) return std::string();
  return a.table().ReadTextAt(data).value_or(std::string());
}

Status SetSetting(ShopContext& shop, std::string_view name, std::string_view value) {
  const std::string path = shop.SettingsTablePath();
  TableAccess a(shop, path, true);
  int data;
  if (!FindSetting(a, name, &data)) return a ? Status::NotFound(path, "no such setting") : a.status();
  FieldValues values(a.table().Fields().size());
  values[data] = std::string(value);
  return a.table().Modify(values).WithPath(path);
}

std::vector<std::string> GetSettingValues(ShopContext& shop, std::string_view name) {
  std::vector<std::string> values;
  TableAccess a(shop, shop.SettingsTablePath(), false);
  int nameField, dataField;
  if (!a.Resolve({"配置名"_gbk, "配置数据"_gbk}, &nameField, &dataField)) return values;
  RecordTable& t = a.table();
  const std::int32_t n = t.RecordCount();
  for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
    if (t.RecordId() <= 0 || t.ReadTextAt(nameField) != name) continue;
    values.push_back(t.ReadTextAt(dataField).value_or(std::string()));
  }
  return values;
}

Status ReplaceSettingValues(ShopContext& shop, std::string_view name,
                            const std::vector<std::string>& values) {
  const std::string path = shop.SettingsTablePath();
  TableAccess a(shop, path, true);
  int nameField, dataField;
  if (!a.Resolve({"配置名"_gbk, "配置数据"_gbk}, &nameField, &dataField)) return a.status();
  RecordTable& t = a.table();
  const std::size_t fieldCount = t.Fields().size();
  std::size_t next = 0;
  bool marked = false;
  // The first failure ends the edit: a row written after it could take the
  // place of a value that the failed write was to keep.
  Status s;
  const std::int32_t n = t.RecordCount();
  for (std::int32_t i = 0; s && i < n; ++i, t.Skip(1)) {
    if (t.RecordId() <= 0 || t.ReadTextAt(nameField) != name) continue;
    if (next < values.size()) {
      FieldValues v(fieldCount);
      v[dataField] = values[next++];
      s = t.Modify(v);
    } else {
      s = t.MarkDeleted();
      marked = true;
    }
  }
  if (s && marked) s = t.Purge();
  for (; s && next < values.size(); ++next) {
    FieldValues v(fieldCount);
    v[nameField] = std::string(name);
    v[dataField] = values[next];
    s = t.Append(v);
  }
  return s.WithPath(path);
}

Status PutSetting(ShopContext& shop, std::string_view name, std::string_view value) {
  const std::string path = shop.SettingsTablePath();
  TableAccess a(shop, path, true);
  int data;
  if (FindSetting(a, name, &data)) {
    FieldValues values(a.table().Fields().size());
    values[data] = std::string(value);
    return a.table().Modify(values).WithPath(path);
  }
  static const std::string kName = "配置名"_gbk, kData = "配置数据"_gbk;
  int nameField;
  if (!a.Resolve({kName, kData}, &nameField, &data)) return a.status();
  // A name the field would cut would be another setting's name.
  if (!TextFitsField(a.table().Fields()[nameField], name)) return Status::TooLong(path, "setting name");
  FieldValues values(a.table().Fields().size());
  values[nameField] = std::string(name);
  values[data] = std::string(value);
  return a.table().Append(values).WithPath(path);
}

}  // namespace autodeliver
