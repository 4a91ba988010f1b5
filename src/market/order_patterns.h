// The five patterns that cut the marketplace's order list page into orders,
// and their bounded search.
//
// Each pattern is written as the page's markup dictates (byte-exact GBK,
// Perl syntax, case-sensitive, "." matching every byte including line
// breaks) and begins with a literal opener. The scan searches each in
// windows (market/regex_matches.h) no longer than the longest match a real
// order list holds, so a hostile page costs time linear in its length; on
// every page whose matches fit their windows the result is that of the plain
// whole-page search.
//
// The quantity pattern is compiled with its first lazy run made atomic:
// "\t(?>.*?× )(.*?)\r\n...". The first "× " after the opener is the only one
// that can lead to a match (a later one finds no closing line that the
// first would not have found), so the matches are the same, and a failing
// window costs its length instead of its length squared.
//
// Thread safety: the compiled patterns are built once, on first use, and
// only read afterwards; every function may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "market/regex_matches.h"

namespace autodeliver {

enum class OrderField { kItemTitle, kBuyerNick, kOrderNumber, kQuantity, kOrderId };

inline constexpr std::array<OrderField, 5> kOrderFields = {OrderField::kItemTitle, OrderField::kBuyerNick,
                                                           OrderField::kOrderNumber, OrderField::kQuantity,
                                                           OrderField::kOrderId};

// The pattern of a field as written (the form the whole-page search uses).
const std::string& OrderPatternText(OrderField field);

// The pattern as the scan searches it: opener, compiled form and window.
const OpenerPattern& BoundedOrderPattern(OrderField field);

// Bytes of windows without a match that one page may cost, all five
// patterns together, before the page counts as too complex.
inline constexpr std::size_t kOrderPageFailedWindowBudget = std::size_t{16} << 20;

}  // namespace autodeliver
