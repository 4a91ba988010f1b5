// SoundTables: the tables whose block chains were found sharing no block,
// each with the stamp it had when its last user in this process let go of
// it. A table opened with this knowledge and still showing its stamp (no
// other writer came in between) skips the walk of its chains: this
// process's writes never make two chains share a block.
//
// The owner of a set of tables (a shop) keeps one and hands it to each
// RecordTable it opens (RecordTable::SetSoundTables); a table handed none
// uses the process's own (DefaultSoundTables).
//
// Thread safety: every method may be called from any thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <unordered_map>

#include "base/mutex.h"

namespace autodeliver {

// A table file and its companion as they stood when a table let go of its
// lock. Besides sizes and change times, which a coarse clock may leave
// unchanged over another writer's change in the same tick, it holds
// checksums of the table's header (figures and field descriptors) and of
// the companion's block 0, read from the disk.
struct TableStamp {
  std::int32_t count = 0, nextId = 0;
  std::int32_t figures[3] = {};
  std::uint64_t headerSum[2] = {};
  dev_t dev[2] = {};
  ino_t ino[2] = {};
  off_t size[2] = {};
  timespec changed[2] = {};

  bool operator==(const TableStamp& o) const {
    if (count != o.count || nextId != o.nextId) return false;
    for (int i = 0; i < 3; ++i)
      if (figures[i] != o.figures[i]) return false;
    if (headerSum[0] != o.headerSum[0] || headerSum[1] != o.headerSum[1]) return false;
    for (int i = 0; i < 2; ++i)
      if (dev[i] != o.dev[i] || ino[i] != o.ino[i] || size[i] != o.size[i] ||
          changed[i].tv_sec != o.changed[i].tv_sec || changed[i].tv_nsec != o.changed[i].tv_nsec)
        return false;
    return true;
  }
};

class SoundTables {
 public:
  // True when the table `key` was kept sound with exactly `now`.
  bool Matches(const std::string& key, const TableStamp& now) const {
    MutexLock guard(mutex_);
    auto it = tables_.find(key);
    return it != tables_.end() && it->second == now;
  }
  // True when a stamp of the table `key` is kept (before a look at its
  // files for one).
  bool Has(const std::string& key) const {
    MutexLock guard(mutex_);
    return tables_.count(key) > 0;
  }
  void Keep(const std::string& key, const TableStamp& now) {
    MutexLock guard(mutex_);
    tables_[key] = now;
  }
  void Forget(const std::string& key) {
    MutexLock guard(mutex_);
    tables_.erase(key);
  }

 private:
  mutable Mutex mutex_;
  std::unordered_map<std::string, TableStamp> tables_ AD_GUARDED_BY(mutex_);
};

// The set used by tables handed none (tools, copies, tests of the engine).
SoundTables& DefaultSoundTables();

}  // namespace autodeliver
