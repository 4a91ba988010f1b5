#include "store/old_data.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <tuple>

#include "store/shop_context.h"
#include "store/shop_paths.h"
#include "store/store_lock.h"
#include "store/table_schema.h"
#include "tables/record_table.h"
#include "tables/table_copy.h"
#include "tables/table_format.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

namespace fs = std::filesystem;
namespace fmt = table_format;

constexpr char kCardDatabase[] = "card.mdb";
constexpr char kImportedCardDatabase[] = "card.imported.mdb";

struct Role {
  const char* file;  // UTF-8 name with ".edb"
  std::vector<FieldSpec> (*fields)();
};

std::vector<FieldSpec> SettingsFields() { return SettingsTableFields(); }
std::vector<FieldSpec> ItemsFields() { return ItemsTableFields(); }
std::vector<FieldSpec> StockFields() { return StockTableFields(); }
std::vector<FieldSpec> SentFields() { return SentTableFields(); }

const Role kRoles[] = {{kSettingsTableFile, SettingsFields},
                       {kItemsTableFile, ItemsFields},
                       {kStockTableFile, StockFields},
                       {kSentTableFile, SentFields}};

std::string Stem(const std::string& utf8File) { return utf8File.substr(0, utf8File.size() - 4); }

bool EndsWithNoCase(const std::string& name, const char* ext) {
  const std::string e = ext;
  return name.size() > e.size() && AsciiLower(name.substr(name.size() - e.size())) == e;
}

// The same names in the same order (the engine matches names without case
// for ASCII letters; these are Chinese).
bool SameFieldNames(const std::vector<std::string>& names, const std::vector<FieldSpec>& fields) {
  if (names.size() != fields.size()) return false;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (AsciiLower(names[i]) != AsciiLower(fields[i].name)) return false;
  return true;
}

// The companion of `table` in its folder: the same stem with ".edt" in any
// letter case; empty when there is none.
std::string CompanionOf(const fs::path& table) {
  const std::string stem = table.filename().string().substr(0, table.filename().string().size() - 4);
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(table.parent_path(), ec)) {
    const std::string n = e.path().filename().string();
    if (n.size() == stem.size() + 4 && n.compare(0, stem.size(), stem) == 0 && EndsWithNoCase(n, ".edt"))
      return e.path().string();
  }
  return std::string();
}

std::vector<fs::path> SortedEntries(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

// The folders to look in: a "data" folder under `from` (any letter case)
// first, then `from` itself.
std::vector<fs::path> SearchFolders(const fs::path& from) {
  std::vector<fs::path> dirs;
  std::error_code ec;
  for (const fs::path& p : SortedEntries(from))
    if (AsciiLower(p.filename().string()) == "data" && fs::is_directory(p, ec)) dirs.push_back(p);
  dirs.push_back(from);
  return dirs;
}

void Locate(const fs::path& from, OldDataReport& r) {
  std::vector<OldTable> found(std::size(kRoles));
  std::vector<bool> have(std::size(kRoles), false);
  std::error_code ec;
  for (const fs::path& dir : SearchFolders(from)) {
    for (const fs::path& p : SortedEntries(dir)) {
      const std::string name = p.filename().string();
      if (!fs::is_regular_file(p, ec)) continue;
      if (AsciiLower(name) == kCardDatabase) {
        if (r.cardDatabase.empty()) r.cardDatabase = p.string();
        continue;
      }
      if (!EndsWithNoCase(name, ".edb")) continue;
      const std::string stem = name.substr(0, name.size() - 4);
      int role = -1;
      OldTable::Name how = OldTable::Name::kUtf8;
      for (std::size_t i = 0; i < std::size(kRoles) && role < 0; ++i) {
        if (stem == Stem(kRoles[i].file))
          role = static_cast<int>(i);
        else if (stem == Utf8ToGbkLossy(Stem(kRoles[i].file))) {
          role = static_cast<int>(i);
          how = OldTable::Name::kGbk;
        }
      }
      if (role < 0) {
        if (std::optional<std::vector<std::string>> names = ReadTableFieldNames(p.string())) {
          for (std::size_t i = 0; i < std::size(kRoles) && role < 0; ++i)
            if (SameFieldNames(*names, kRoles[i].fields())) role = static_cast<int>(i);
          how = OldTable::Name::kByFields;
        }
      }
      if (role < 0 || have[static_cast<std::size_t>(role)]) {
        r.ignored.push_back(p.string());
        continue;
      }
      have[static_cast<std::size_t>(role)] = true;
      OldTable& t = found[static_cast<std::size_t>(role)];
      t.file = kRoles[role].file;
      t.source = p.string();
      t.name = how;
    }
  }
  for (std::size_t i = 0; i < std::size(kRoles); ++i) {
    if (have[i])
      r.tables.push_back(found[i]);
    else
      r.missing.push_back(kRoles[i].file);
  }
}

// A private temporary folder (0700) under `parent`.
std::string MakeTemp(const std::string& parent, std::string* error) {
  std::string pattern = parent + "/.autodeliver-old-data-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    *error = "cannot create a temporary folder in " + parent;
    return std::string();
  }
  return pattern;
}

bool CopyBytes(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, ec);
  return !ec;
}

// Copies the table found at `source` (with its companion and a purge journal
// left beside it) into `dir` under the name `file`.
bool StageTable(const std::string& source, const std::string& dir, const std::string& file) {
  const std::string target = dir + "/" + file;
  if (!CopyBytes(source, target)) return false;
  const std::string companion = CompanionOf(source);
  if (!companion.empty() && !CopyBytes(companion, CompanionFilePath(target))) return false;
  std::error_code ec;
  if (fs::exists(source + ".purge", ec) && !CopyBytes(source + ".purge", target + ".purge")) return false;
  return true;
}

// The files of the table `file` in `dir` that exist: the table, its companion, its journal.
std::vector<std::string> TableFiles(const std::string& dir, const std::string& file) {
  std::vector<std::string> out;
  std::error_code ec;
  const std::string table = dir + "/" + file;
  for (const std::string& p : {table, CompanionFilePath(table), table + ".purge"})
    if (fs::exists(p, ec)) out.push_back(p);
  return out;
}

std::string Stamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
  return buf;
}

// A new backup folder beside data/.
std::string MakeBackup(const std::string& dir, const char* what, std::string* error) {
  std::string base = dir + "/data." + what + "-" + Stamp();
  std::string path = base;
  for (int n = 2; ::mkdir(path.c_str(), 0700) != 0; ++n) {
    if (errno != EEXIST || n > 100) {
      *error = "cannot create the backup folder " + path;
      return std::string();
    }
    path = base + "-" + std::to_string(n);
  }
  return path;
}

bool SameLayout(const std::string& path, const std::vector<FieldSpec>& fields) {
  RecordTable t;
  if (!t.Open(path)) return false;
  const std::vector<FieldInfo>& have = t.Fields();
  if (have.size() != fields.size()) return false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (AsciiLower(have[i].name) != AsciiLower(fields[i].name) || have[i].type != fields[i].type ||
        (fields[i].type == fmt::kFixedText && have[i].width != fields[i].width))
      return false;
  }
  return true;
}

std::vector<FieldSpec> FieldsOf(const std::string& file) {
  for (const Role& role : kRoles)
    if (file == role.file) return role.fields();
  return {};
}

// Checks every staged table; false when one is damaged.
bool CheckStaged(const std::string& stage, OldDataReport& r) {
  bool sound = true;
  for (OldTable& t : r.tables) {
    const TableHealth h = CheckTableFile(stage + "/" + t.file);
    t.records = h.records;
    t.marked = h.marked;
    t.problems = h.problems;
    if (h.Sound()) {
      std::optional<std::vector<std::string>> names =
          ReadTableFieldNames(TableFilePath(stage + "/" + t.file));
      const std::vector<FieldSpec> want = FieldsOf(t.file);
      bool all = names.has_value();
      for (const FieldSpec& f : want) {
        bool present = false;
        for (const std::string& n : names ? *names : std::vector<std::string>())
          present = present || AsciiLower(n) == AsciiLower(f.name);
        if (!present) {
          all = false;
          t.problems.push_back("field " + GbkToUtf8Lossy(f.name) + " is missing");
        }
      }
      sound = sound && all;
    } else {
      sound = false;
    }
  }
  return sound;
}

// Converts each staged table of `stage` into `out`: the installed layout, or
// the staged files as they are when a value does not fit.
bool ConvertStaged(const std::string& stage, const std::string& out, OldDataReport& r, bool skipInstalled) {
  for (OldTable& t : r.tables) {
    const std::string from = stage + "/" + t.file;
    const std::vector<FieldSpec> fields = FieldsOf(t.file);
    if (skipInstalled && SameLayout(from, fields)) {
      t.outcome = OldTable::Outcome::kUnchanged;
      continue;
    }
    const TableCopy c = CopyTableRecords(from, out + "/" + t.file, fields);
    if (c.status == TableCopy::Status::kCopied) {
      t.outcome = OldTable::Outcome::kConverted;
      continue;
    }
    if (c.status == TableCopy::Status::kFailed) {
      r.problem = c.error;
      return false;
    }
    t.outcome = OldTable::Outcome::kKept;
    t.tooWideRecord = c.recordNumber;
    t.tooWideField = GbkToUtf8Lossy(c.field);
    t.tooWideValue = GbkToUtf8Lossy(c.value);
    // The staged copy has been opened (and so cut and finished) already.
    std::error_code ec;
    fs::remove(from + ".purge", ec);
    for (const std::string& p : TableFiles(stage, t.file)) {
      const std::string name = fs::path(p).filename().string();
      if (!CopyBytes(p, out + "/" + name)) {
        r.problem = "cannot copy " + p;
        return false;
      }
    }
  }
  return true;
}

// Moves the files of the table `file` from `data` into `backup`, then the
// new ones from `out` into `data`.
bool Replace(const std::string& out, const std::string& data, const std::string& backup,
             const std::string& file, std::string* error) {
  std::error_code ec;
  for (const std::string& p : TableFiles(data, file)) {
    fs::rename(p, backup + "/" + fs::path(p).filename().string(), ec);
    if (ec) {
      *error = "cannot move " + p + " into " + backup;
      return false;
    }
  }
  // The companion first: the table is renamed in last, so a table file
  // never stands beside a companion that is not its own for long.
  std::vector<std::string> files = TableFiles(out, file);
  std::reverse(files.begin(), files.end());
  for (const std::string& p : files) {
    fs::rename(p, data + "/" + fs::path(p).filename().string(), ec);
    if (ec) {
      *error = "cannot move " + p + " into " + data;
      return false;
    }
  }
  return true;
}

std::int64_t LiveRecords(const std::string& path) {
  RecordTable t;
  if (!t.Open(path) || !t.Hold(false)) return 0;
  std::int64_t live = 0;
  const std::int32_t n = t.RecordCount();
  if (n > 0) t.GoTo(1);
  for (std::int32_t i = 0; i < n; ++i, t.Skip()) live += t.RecordId() > 0 ? 1 : 0;
  t.Release();
  return live;
}

using Key = std::vector<std::string>;

// The keys (`fields` by name) of the live records of the table at `path`.
bool LiveKeys(const std::string& path, const std::vector<std::string>& fields, std::set<Key>* keys) {
  RecordTable t;
  if (!t.Open(path) || !t.Hold(false)) return false;
  const std::int32_t n = t.RecordCount();
  if (n > 0) t.GoTo(1);
  for (std::int32_t i = 0; i < n; ++i, t.Skip()) {
    if (t.RecordId() <= 0) continue;
    Key k;
    for (const std::string& f : fields) k.push_back(t.Read(f));
    keys->insert(std::move(k));
  }
  t.Release();
  return true;
}

struct MergeRule {
  const char* file;
  std::vector<const char*> key;  // UTF-8 field names
  // Another table whose keys also count as present (the stock against the sent cards).
  const char* alsoFile = nullptr;
  std::vector<const char*> alsoKey;
};

// Merges the staged tables into the folder's `data`: all values are checked
// against the target's fields before any record is written.
bool Merge(const std::string& stage, const std::string& data, OldDataReport& r) {
  const MergeRule rules[] = {
      {kItemsTableFile, {"宝贝名称"}, nullptr, {}},
      {kStockTableFile,
       {"宝贝名称", "宝贝卡号", "宝贝卡密"},
       kSentTableFile,
       {"宝贝名称", "已发卡号", "已发卡密"}},
      {kSentTableFile, {"订单编号", "已发卡号", "已发卡密"}, nullptr, {}},
  };
  struct Pending {
    OldTable* table;
    std::vector<FieldValues> rows;
  };
  std::vector<Pending> pending;
  for (const MergeRule& rule : rules) {
    OldTable* t = nullptr;
    for (OldTable& x : r.tables)
      if (x.file == rule.file) t = &x;
    std::vector<std::string> key, alsoKey;
    for (const char* f : rule.key) key.push_back(Utf8ToGbkLossy(f));
    for (const char* f : rule.alsoKey) alsoKey.push_back(Utf8ToGbkLossy(f));
    std::set<Key> present;
    const std::string target = data + "/" + rule.file;
    if (!LiveKeys(target, key, &present) ||
        (rule.alsoFile && !LiveKeys(data + "/" + rule.alsoFile, alsoKey, &present))) {
      r.problem = "cannot read " + target;
      return false;
    }
    RecordTable dst;
    if (!dst.Open(target)) {
      r.problem = "cannot open " + target;
      return false;
    }
    const std::vector<FieldInfo> dstFields = dst.Fields();
    dst.Close();
    RecordTable src;
    if (!src.Open(stage + "/" + rule.file) || !src.Hold(false)) {
      r.problem = "cannot read the copy of " + t->source;
      return false;
    }
    Pending p{t, {}};
    const std::int32_t n = src.RecordCount();
    if (n > 0) src.GoTo(1);
    for (std::int32_t i = 0; i < n; ++i, src.Skip()) {
      Key k;
      for (const std::string& f : key) k.push_back(src.Read(f));
      if (src.RecordId() <= 0 || !present.insert(k).second) {
        ++t->skipped;
        continue;
      }
      FieldValues values;
      for (const FieldInfo& f : dstFields) {
        std::string v = src.Read(f.name);
        if (!TextFitsField(f, v)) {
          src.Release();
          r.status = OldDataReport::Status::kTooWideToMerge;
          r.problem = "record " + std::to_string(i + 1) + " of " + t->source + ", field " +
                      GbkToUtf8Lossy(f.name) + ": \"" + GbkToUtf8Lossy(v) + "\" is longer than the " +
                      std::to_string(f.width) + " bytes of " + target;
          return false;
        }
        values.push_back(std::move(v));
      }
      p.rows.push_back(std::move(values));
    }
    src.Release();
    pending.push_back(std::move(p));
  }
  for (Pending& p : pending) {
    const std::string target = data + "/" + p.table->file;
    RecordTable dst;
    bool ok = dst.Open(target) && dst.Hold(true);
    if (ok) {
      dst.SetCutOverlongText(false);
      dst.SetBufferedAppends(true);
      for (const FieldValues& v : p.rows) ok = ok && dst.Append(v);
      ok = dst.Release() && ok && dst.Sync();
    }
    if (!ok) {
      r.problem = "cannot write " + target;
      return false;
    }
    p.table->added = static_cast<std::int32_t>(p.rows.size());
    p.table->outcome = OldTable::Outcome::kMerged;
  }
  return true;
}

struct TempFolder {
  std::string path;
  ~TempFolder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

}  // namespace

OldDataReport MigrateShop(const std::string& from, const std::string& dir, const OldDataOptions& options) {
  OldDataReport r;
  std::error_code ec;
  if (!fs::is_directory(from, ec)) {
    r.problem = from + " is no folder";
    return r;
  }
  Locate(from, r);
  if (!r.missing.empty()) {
    r.status = OldDataReport::Status::kIncomplete;
    return r;
  }
  const std::string data = dir + "/data";
  if (!options.dryRun) {
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
      r.problem = "cannot create " + dir;
      return r;
    }
  }
  // The target's cards and sent rows, read before anything else is written.
  r.targetCards = LiveRecords(data + "/" + kStockTableFile);
  r.targetSent = LiveRecords(data + "/" + kSentTableFile);
  const bool targetHasData = r.targetCards > 0 || r.targetSent > 0;
  if (targetHasData && !options.merge) {
    r.status = OldDataReport::Status::kTargetHasData;
    return r;
  }

  TempFolder temp;
  const char* tmp = std::getenv("TMPDIR");
  temp.path = MakeTemp(options.dryRun ? (tmp && *tmp ? tmp : "/tmp") : dir, &r.problem);
  if (temp.path.empty()) return r;
  const std::string stage = temp.path + "/old", out = temp.path + "/new";
  fs::create_directory(stage, ec);
  fs::create_directory(out, ec);
  for (const OldTable& t : r.tables) {
    if (!StageTable(t.source, stage, t.file)) {
      r.problem = "cannot copy " + t.source;
      return r;
    }
  }
  if (!CheckStaged(stage, r)) {
    r.status = OldDataReport::Status::kDamaged;
    return r;
  }
  if (!r.cardDatabase.empty())
    r.cardDatabaseTarget = dir + "/" + (targetHasData ? kImportedCardDatabase : kCardDatabase);

  if (targetHasData) {
    // A merge: the folder's tables stay in their layout and gain records.
    if (options.dryRun) {
      // Find out what would be added on copies of the folder's tables.
      const std::string copy = temp.path + "/target";
      fs::create_directory(copy, ec);
      for (const Role& role : kRoles)
        for (const std::string& p : TableFiles(data, role.file))
          if (!CopyBytes(p, copy + "/" + fs::path(p).filename().string())) {
            r.problem = "cannot copy " + p;
            return r;
          }
      if (!Merge(stage, copy, r)) return r;
      for (OldTable& t : r.tables) t.outcome = OldTable::Outcome::kNone;
      r.status = OldDataReport::Status::kDryRun;
      return r;
    }
    r.backup = MakeBackup(dir, "before-import", &r.problem);
    if (r.backup.empty()) return r;
    for (const Role& role : kRoles)
      for (const std::string& p : TableFiles(data, role.file))
        if (!CopyBytes(p, r.backup + "/" + fs::path(p).filename().string())) {
          r.problem = "cannot copy " + p + " into " + r.backup;
          return r;
        }
    {
      // Like every writer of the folder's tables: under its lock, the change
      // stamp raised first, so that a running delivery sees the new records.
      ShopContext shop(dir);
      SharedStoreGuard folder(shop, true);
      if (!folder.status()) {
        r.problem = "cannot lock " + data;
        return r;
      }
      if (!Merge(stage, data, r)) return r;
    }
    if (!r.cardDatabase.empty()) {
      std::string target = r.cardDatabaseTarget;
      if (fs::exists(target, ec)) target = dir + "/card.imported-" + Stamp() + ".mdb";
      r.cardDatabaseTarget = target;
      if (!CopyBytes(r.cardDatabase, target)) {
        r.problem = "cannot copy " + r.cardDatabase;
        return r;
      }
    }
    r.status = OldDataReport::Status::kDone;
    return r;
  }

  if (!ConvertStaged(stage, out, r, false)) return r;
  if (options.dryRun) {
    r.status = OldDataReport::Status::kDryRun;
    return r;
  }
  fs::create_directory(data, ec);
  if (!fs::is_directory(data, ec)) {
    r.problem = "cannot create " + data;
    return r;
  }
  ::chmod(data.c_str(), 0700);
  r.backup = MakeBackup(dir, "before-import", &r.problem);
  if (r.backup.empty()) return r;
  {
    ShopContext shop(dir);
    SharedStoreGuard folder(shop, true);
    if (!folder.status()) {
      r.problem = "cannot lock " + data;
      return r;
    }
    for (const OldTable& t : r.tables)
      if (!Replace(out, data, r.backup, t.file, &r.problem)) return r;
  }
  if (!r.cardDatabase.empty()) {
    const std::string staged = temp.path + "/" + kCardDatabase;
    if (!CopyBytes(r.cardDatabase, staged)) {
      r.problem = "cannot copy " + r.cardDatabase;
      return r;
    }
    if (fs::exists(r.cardDatabaseTarget, ec))
      fs::rename(r.cardDatabaseTarget, r.backup + "/" + kCardDatabase, ec);
    fs::rename(staged, r.cardDatabaseTarget, ec);
    if (ec) {
      r.problem = "cannot move card.mdb into " + dir;
      return r;
    }
  }
  // The folder is left with its backup only when it had tables before.
  if (fs::is_empty(r.backup, ec)) {
    fs::remove(r.backup, ec);
    r.backup.clear();
  }
  r.status = OldDataReport::Status::kDone;
  return r;
}

OldDataReport ConvertShop(const std::string& dir, bool dryRun) {
  OldDataReport r;
  const std::string data = dir + "/data";
  std::error_code ec;
  for (const Role& role : kRoles) {
    OldTable t;
    t.file = role.file;
    t.source = data + "/" + role.file;
    if (fs::exists(t.source, ec))
      r.tables.push_back(t);
    else
      r.missing.push_back(role.file);
  }
  if (!r.missing.empty()) {
    r.status = OldDataReport::Status::kIncomplete;
    return r;
  }
  TempFolder temp;
  const char* tmp = std::getenv("TMPDIR");
  temp.path = MakeTemp(dryRun ? (tmp && *tmp ? tmp : "/tmp") : dir, &r.problem);
  if (temp.path.empty()) return r;
  const std::string stage = temp.path + "/old", out = temp.path + "/new";
  fs::create_directory(stage, ec);
  fs::create_directory(out, ec);
  for (const OldTable& t : r.tables) {
    if (!StageTable(t.source, stage, t.file)) {
      r.problem = "cannot copy " + t.source;
      return r;
    }
  }
  if (!CheckStaged(stage, r)) {
    r.status = OldDataReport::Status::kDamaged;
    return r;
  }
  if (!ConvertStaged(stage, out, r, true)) return r;
  if (dryRun) {
    r.status = OldDataReport::Status::kDryRun;
    return r;
  }
  bool any = false;
  for (const OldTable& t : r.tables) any = any || t.outcome == OldTable::Outcome::kConverted;
  if (any) {
    r.backup = MakeBackup(dir, "before-convert", &r.problem);
    if (r.backup.empty()) return r;
    ShopContext shop(dir);
    SharedStoreGuard folder(shop, true);
    if (!folder.status()) {
      r.problem = "cannot lock " + data;
      return r;
    }
    for (const OldTable& t : r.tables)
      if (t.outcome == OldTable::Outcome::kConverted && !Replace(out, data, r.backup, t.file, &r.problem))
        return r;
  }
  r.status = OldDataReport::Status::kDone;
  return r;
}

}  // namespace autodeliver
