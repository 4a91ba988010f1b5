#include "store/settings.h"

#include "store/data_paths.h"
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

std::string GetSetting(std::string_view name) {
  TableAccess a(SettingsTablePath(), false);
  int data;
  if (!FindSetting(a, name, &data)) return std::string();
  return a.table().ReadTextAt(data).value_or(std::string());
}

bool SetSetting(std::string_view name, std::string_view value) {
  TableAccess a(SettingsTablePath(), true);
  int data;
  if (!FindSetting(a, name, &data)) return false;
  FieldValues values(a.table().Fields().size());
  values[data] = std::string(value);
  return a.table().Modify(values);
}

bool PutSetting(std::string_view name, std::string_view value) {
  TableAccess a(SettingsTablePath(), true);
  int data;
  if (FindSetting(a, name, &data)) {
    FieldValues values(a.table().Fields().size());
    values[data] = std::string(value);
    return a.table().Modify(values);
  }
  static const std::string kName = "配置名"_gbk, kData = "配置数据"_gbk;
  int nameField;
  if (!a.Resolve({kName, kData}, &nameField, &data)) return false;
  FieldValues values(a.table().Fields().size());
  values[nameField] = std::string(name);
  values[data] = std::string(value);
  return a.table().Append(values);
}

}  // namespace autodeliver
