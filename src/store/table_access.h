// One table access of a store operation: takes the shop's store lock,
// opens the table, holds its file lock (exclusive for a writing access) and
// closes it at the end of the scope. A writing access also takes the data
// folder's lock and raises its change stamp before it opens the table
// (SharedStoreGuard, store_lock.h), so that a delivery session holding the
// tables open sees the write. Internal to the store.
//
// Thread safety: the StoreGuard member serialises accesses. To the clang
// analysis an access asserts the shop's store lock for the rest of its function
// (the lock is recursive, and the analysis would call taking it again
// inside a StoreGuard a double lock). The tables are opened with the shop's
// file I/O and its set of tables known sound.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "io/status.h"
#include "store/shop_context.h"
#include "store/store_lock.h"
#include "tables/record_table.h"

namespace autodeliver {

class TableAccess {
 public:
  // A text longer than its fixed-width field is refused (the write fails),
  // never cut: a cut name or number would be another one.
  TableAccess(ShopContext& shop, const std::string& path, bool write) AD_ASSERT_CAPABILITY(shop.StoreLock())
      : guard_(shop), path_(path) {
    if (write && !TakeFolderLock(shop)) return;
    table_.SetFileIo(shop.StoreFileIo());
    table_.SetSoundTables(&shop.soundTables());
    table_.SetCutOverlongText(false);
    status_ = table_.Open(path);
    if (status_.ok()) status_ = table_.Hold(write);
  }
  ~TableAccess() { table_.Close(); }

  explicit operator bool() const { return status_.ok(); }
  // Why the table could not be opened or held (or lacks a field); ok when
  // the access stands.
  const Status& status() const { return status_; }
  RecordTable& table() { return table_; }

  // Index of each named field; false (and the access counts as failed, the
  // table as damaged) when the table lacks one.
  template <typename... Index>
  bool Resolve(std::initializer_list<std::string_view> names, Index*... indexes) {
    auto it = names.begin();
    bool all = true;
    ((*indexes = table_.FieldIndex(*it++), all = all && *indexes >= 0), ...);
    if (status_.ok() && !all) status_ = Status::Corrupt(path_, "a field is missing");
    return status_.ok();
  }

 private:
  // The folder lock with the stamp raised; false (the access failed) when
  // the stamp could not be raised. The store lock is held already (the
  // analysis does not see it through the member).
  bool TakeFolderLock(ShopContext& shop) AD_NO_THREAD_SAFETY_ANALYSIS {
    folder_.emplace(shop, true);
    status_ = folder_->status();
    return status_.ok();
  }

  StoreGuard guard_;
  std::optional<SharedStoreGuard> folder_;
  std::string path_;
  RecordTable table_;
  Status status_;
};

}  // namespace autodeliver
