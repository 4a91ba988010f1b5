// The purge journal: how a purge removes marked records without ever losing
// or doubling one when it is cut short (layout in table_format.h).
//
// A purge first copies every record it keeps from the first removed one on
// into "<table file>.purge" and seals the journal by writing its magic
// last; only then does it move those records down in the table, write the
// new record count and cut the file. Moving the same records again gives the
// same table, so a sealed journal may be applied any number of times: a
// table access that finds one (a purge cut short by a crash or a failed
// write) applies it before anything else and removes it. A journal that was
// never sealed is dropped: the table was not touched.
//
// Each stage is flushed to the disk before the next begins (the journal
// and its folder entry before the table is touched, the table before the
// journal is removed), so a power cut is survived as a crash is.
//
// Thread safety: the caller holds the table's write lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/file_io.h"
#include "tables/data_area.h"

namespace autodeliver {

// Removes the records with an id of 0 or less among the first `count`
// records of `area`, keeping the order of the rest, through the journal at
// `journalPath`. *kept gets the new record count and `freed` the positive
// int32 values at `chainOffsets` inside the removed records (the first
// blocks of their chains, free once the records are gone). On failure the
// table is either as it was or left with a sealed journal that
// RecoverPurgeJournal applies.
bool PurgeThroughJournal(FileIo& io, const std::string& journalPath, const DataArea& area, std::int32_t count,
                         const std::vector<std::int32_t>& chainOffsets, std::int32_t* kept,
                         std::vector<std::int32_t>* freed);

// Finishes a purge cut short: a sealed journal at `journalPath` is applied
// to `area` (*count gets the record count it leaves, *applied is set) and
// removed; one never sealed is removed. True when no journal is left,
// including when there was none.
bool RecoverPurgeJournal(FileIo& io, const std::string& journalPath, const DataArea& area,
                         std::int32_t* count, bool* applied = nullptr);

}  // namespace autodeliver
