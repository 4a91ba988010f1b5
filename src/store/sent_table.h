// The operations on the sent-cards table (已发卡密.edb). SentCardExists
// answers from an in-memory index (store_index.h) that is held against the
// file on every access, so a write by another process is seen.
//
// Each operation is a single table access: open the file, work, close it.
// A table that cannot be opened makes an operation fail silently (false,
// nullopt, an empty list). Records marked deleted are never served as live:
// lookups, loads and takes pass over them. Record numbers are 1-based
// positions in the table and shift down after a purge. Names and numbers
// match by exact byte comparison.
//
// Thread safety: every operation takes the shop's store lock (shop_context.h), so calls
// from the window's thread and the delivery thread never interleave.
#pragma once

#include <string_view>
#include <vector>

#include "store/rows.h"
#include "store/shop_context.h"

namespace autodeliver {

// True when a live sent card carries exactly `orderNumber`.
bool SentCardExists(ShopContext& shop, std::string_view orderNumber);
bool AppendSentCard(ShopContext& shop, const SentCard& card);
// All live sent cards in table order; false and `cards` untouched when the
// table cannot be opened.
bool LoadSentCards(ShopContext& shop, std::vector<SentCard>* cards);

}  // namespace autodeliver
