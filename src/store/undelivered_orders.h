// The orders whose cards were taken and recorded but whose message never
// reached the buyer (the IM client did not take it). The delivery cycle
// marks such an order; the sent-cards page shows the mark and a resend
// clears it. The sent-cards table cannot say this itself (its format is
// fixed), so the marks live in a file of their own in the data folder,
// "undelivered.txt":
//
//   autodeliver undelivered orders 1            <- header line
//   <order number> TAB <buyer nick> TAB <item title> TAB <marked at>
//   ...                                         <- one line per marked order
//
// Fields are GBK bytes as the order page gives them, with backslash, TAB,
// CR and LF written as \\, \t, \r and \n; "marked at" is local time
// "YYYY-MM-DD HH:MM:SS". Lines end with LF. An order is marked at most once.
//
// Every change rewrites the whole file crash-safely: the new content goes to
// "<file>.tmp", is synced, renamed over the file and the folder is synced, so
// after a crash the file holds either the old or the new marks, never a mix.
// A reader skips a line it cannot take apart and keeps the others.
//
// Thread safety: every operation takes the store lock (store_lock.h) for
// its read-modify-write, so the delivery thread and the window's thread may
// use the same file at once.
#pragma once

#include <string>
#include <vector>

#include "io/status.h"
#include "store/shop_context.h"

namespace autodeliver {

struct UndeliveredOrder {
  std::string orderNumber;  // GBK
  std::string buyerNick;    // GBK
  std::string itemTitle;    // GBK
  std::string markedAt;     // "YYYY-MM-DD HH:MM:SS", local time

  bool operator==(const UndeliveredOrder&) const = default;
};

// shop.DataDir() + "/undelivered.txt".
std::string UndeliveredOrdersPath(ShopContext& shop);

class UndeliveredOrders {
 public:
  // The marks kept in the shop's file, or in the file at `path` (created on
  // the first mark); read and written under the shop's store lock.
  explicit UndeliveredOrders(ShopContext& shop);
  UndeliveredOrders(ShopContext& shop, std::string path);

  // Marks the order as not delivered to its buyer, stamped with the current
  // local time. An order marked before keeps its first mark (ok). The cause
  // when the file could not be read or written (or is not a file of marks);
  // the file is then unchanged.
  Status Mark(const std::string& orderNumber, const std::string& buyerNick, const std::string& itemTitle);

  // Removes the order's mark; true when the order is unmarked afterwards
  // (also when it was never marked). False when the file could not be
  // written; the mark then stays.
  bool Clear(const std::string& orderNumber);

  // Every mark in marking order; empty when there are none or the file
  // cannot be read.
  std::vector<UndeliveredOrder> List() const;

  bool IsMarked(const std::string& orderNumber) const;

  const std::string& path() const { return path_; }

 private:
  ShopContext& shop_;
  std::string path_;
};

}  // namespace autodeliver
