// Making the data folder ready for one run of the program, before any table
// is opened: the folder is locked for this process (store/instance_lock.h)
// and, when the program runs installed, created and filled from the
// installed template.
//
// An installed program's folder (store/shop_paths.h) is made with mode 0700
// (missing parent folders too) and put back to 0700 at every start, since
// its files hold card numbers and passwords. Under the lock, every entry of
// the template (data/ with the tables and the settings row, card.mdb) that
// the folder lacks is copied in: folders 0700, files 0600. An entry is
// copied under a temporary name and renamed into place when complete, so a
// start that is cut short leaves either the whole entry or none, and the
// next start finishes the work. Entries the folder has already are never
// touched.
//
// A shop's folder (--shop) is made and filled the same way; without an
// installed template (a build tree) it is made and locked, and the tables
// come from the table tool's init.
//
// A portable folder ($AUTODELIVER_DIR) and a folder beside the executable
// are used as they are: nothing is created or copied, and when the lock
// file cannot be made there (a read-only or missing folder) the program
// runs without the guard, with a warning.
//
// Thread safety: call from one thread, before the program's other threads
// touch the folder.
#pragma once

#include <string>

#include "store/instance_lock.h"

namespace autodeliver {

struct DataFolderOpening {
  enum class Status {
    kReady,  // the folder is ready; `lock` holds it unless `warning` says why not
    kInUse,  // another copy of the program holds the folder
    kFailed  // the folder cannot be made ready (see `problem`)
  };
  Status status = Status::kFailed;
  std::string folder;
  long holderPid = 0;   // kInUse: the holder's process id when known, else 0
  std::string problem;  // kFailed: what failed; kReady: a warning or empty
  bool fresh = false;   // kReady: an installed folder that had no data folder before this start
};

// Prepares ProgramDir() as described above; `lock` holds the folder after
// kReady (unless a warning says it could not be locked).
DataFolderOpening OpenDataFolder(InstanceLock& lock);

// The same for `folder`, filled from `templateDir` when that is not empty
// (an installed program) and used as it is otherwise; `create` makes the
// folder (and locks it strictly) even without a template.
DataFolderOpening OpenDataFolderAt(const std::string& folder, const std::string& templateDir,
                                   InstanceLock& lock, bool create = false);

// Copies each entry of `templateDir` that `folder` lacks into it (see above).
// The caller holds the folder's lock. False, with `error` set, on the first
// entry that cannot be copied; the entries copied before it stay.
bool CopyMissingTemplateEntries(const std::string& templateDir, const std::string& folder,
                                std::string* error);

}  // namespace autodeliver
