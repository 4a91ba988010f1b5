// ShopContext: everything the store operations need of one shop, in one
// object handed to them: the program folder and its data folder with the
// four table paths, the file-system calls the tables go through, the store
// lock, the in-memory index of the tables and the tables known sound.
//
// The program picks its folder at start (shop_paths.h) and builds one
// context, which it hands down to the window and its pages, the delivery
// controller, the alerts and the recovery, each keeping a reference (the
// context outlives them all); a tool or a test builds one for the folder
// it works on. There is no process-wide shop. Two contexts on one folder share nothing but the files: each
// has its own lock and index, so a process uses one context per folder.
//
// The store lock serialises the table accesses of the threads that share
// the context (the window's and the delivery's): every store operation
// takes it, and a caller that needs several operations to run as one
// (read, then remove) holds it across them (StoreGuard, store_lock.h). It
// is recursive. Functions that expect it held say
// AD_REQUIRES(shop.StoreLock()), which the clang build checks.
//
// Thread safety: the paths never change; the file I/O setters are for a
// test's set-up, made while no store operation runs; the index is handed
// out only under the store lock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/mutex.h"
#include "io/file_io.h"
#include "io/status.h"
#include "store/store_index.h"
#include "tables/sound_tables.h"

namespace autodeliver {

class ShopContext {
 public:
  // The shop whose program folder is `programDir` (its tables in
  // programDir + "/data"); a trailing slash is dropped.
  explicit ShopContext(std::string programDir);
  ~ShopContext();  // closes the data folder's lock file
  ShopContext(const ShopContext&) = delete;
  ShopContext& operator=(const ShopContext&) = delete;

  // The program folder without a trailing slash, its "data" folder, and the
  // table files in it.
  const std::string& ProgramDir() const { return programDir_; }
  const std::string& DataDir() const { return dataDir_; }
  const std::string& SettingsTablePath() const { return settingsTable_; }
  const std::string& ItemsTablePath() const { return itemsTable_; }
  const std::string& StockTablePath() const { return stockTable_; }
  const std::string& SentTablePath() const { return sentTable_; }

  RecursiveMutex& StoreLock() const AD_RETURN_CAPABILITY(storeLock_) { return storeLock_; }
  StoreIndex& Index() AD_REQUIRES(storeLock_) { return index_; }
  SoundTables& soundTables() { return soundTables_; }

  // The file-system calls of the tables the store operations open; null
  // (the default) means the real ones. For tests that make writes fail: set
  // while no store operation runs; the FileIo outlives its use.
  FileIo* StoreFileIo() const { return storeIo_; }
  void SetStoreFileIo(FileIo* io) { storeIo_ = io; }
  // The calls of the delivery's write of the stock and the sent cards and
  // of its journal (delivery_step.h); the real ones unless set.
  FileIo& DeliveryFileIo() const { return deliveryIo_ ? *deliveryIo_ : DefaultFileIo(); }
  FileIo* DeliveryFileIoSet() const { return deliveryIo_; }
  void SetDeliveryFileIo(FileIo* io) { deliveryIo_ = io; }

  // The data folder's change stamp (store_lock.h): the counter in its lock
  // file as this process sees it now, under the outermost SharedStoreGuard.
  // Nullopt outside one, or when the lock file could not be opened or read.
  std::optional<std::uint64_t> StoreStamp() const AD_REQUIRES(storeLock_);
  // The lock file is opened again by the next outermost SharedStoreGuard:
  // for a user that saw the data folder removed or moved (the file kept
  // open would lock nobody out then).
  void ReopenStoreLockFile() AD_REQUIRES(storeLock_);
  // Raises the stamp, once per outermost SharedStoreGuard, before the
  // holder's first write of the tables. Fails when the lock file cannot be
  // written (the holder then writes nothing); ok without a lock file (no
  // folder lock is held then, and no one can read a stamp either).
  Status NoteStoreWrite() AD_REQUIRES(storeLock_);

 private:
  friend class SharedStoreGuard;

  std::string programDir_, dataDir_;
  std::string settingsTable_, itemsTable_, stockTable_, sentTable_;
  mutable RecursiveMutex storeLock_;
  StoreIndex index_ AD_GUARDED_BY(storeLock_);
  SoundTables soundTables_;
  FileIo* storeIo_ = nullptr;
  FileIo* deliveryIo_ = nullptr;
  // The data folder's cross-process lock, held by the outermost
  // SharedStoreGuard of this context. The file stays open between two
  // guards (only the flock is taken and dropped); it is opened again after
  // a fork (the child would share the parent's lock through it) and when
  // asked to (ReopenStoreLockFile).
  int sharedDepth_ AD_GUARDED_BY(storeLock_) = 0;
  int sharedFd_ AD_GUARDED_BY(storeLock_) = -1;
  bool sharedLocked_ AD_GUARDED_BY(storeLock_) = false;
  std::uint64_t sharedForks_ AD_GUARDED_BY(storeLock_) = 0;  // the fork count when it was opened
  bool reopenLockFile_ AD_GUARDED_BY(storeLock_) = false;
  std::optional<std::uint64_t> stamp_ AD_GUARDED_BY(storeLock_);
  bool stampRaised_ AD_GUARDED_BY(storeLock_) = false;
};

}  // namespace autodeliver
