// The five fields that cut the marketplace's order list page into orders,
// and the scan that finds them.
//
// Each field is written on the page as a literal opener, the field's text
// and a literal closer; the quantity has one more literal, the "× " that
// leads to the number. The patterns as written (OrderPatternText: byte-exact
// GBK, Perl syntax, "." matching every byte, lazy groups) say no more than
// that: a match is the opener, then the text up to the first closer (for
// the quantity: up to the first "× ", then up to the first closer after
// it). So the scan needs no regular expression: it finds openers and
// closers as literals, left to right, each field's matches without overlap.
//
// The page is read as fetched, never copied: it ends at its first zero
// byte, and "&mdash;" (ASCII letters in any case, never starting on the
// trail byte of a double-byte character) stands for the GBK dash A1 AA.
// The entity is replaced only inside the texts a match takes; it cannot
// form or break an opener or closer, except that the "&" ending an order id
// is never the one that begins such an entity.
//
// A match is taken only when it is no longer than the field's window
// (longestMatch, counting each replaced entity as the two bytes of the
// dash): a real order list holds no longer ones, and a hostile page cannot
// make one field's text run over the rest of the page. Searches for a
// closer remember what they found, so an opener that finds no closer costs
// nothing more, and the scan of any page takes time linear in its length.
//
// A page may also be read as it arrives (OrderFieldStream), piece by piece,
// with the same matches as the whole page gives.
//
// Thread safety: the markup is built once, on first use, and only read
// afterwards; every function may be called from any thread. One
// OrderFieldStream belongs to one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace autodeliver {

enum class OrderField { kItemTitle, kBuyerNick, kOrderNumber, kQuantity, kOrderId };

inline constexpr std::array<OrderField, 5> kOrderFields = {OrderField::kItemTitle, OrderField::kBuyerNick,
                                                           OrderField::kOrderNumber, OrderField::kQuantity,
                                                           OrderField::kOrderId};

// The literals of one field on the page.
struct OrderFieldMarkup {
  std::string opener;            // every match begins with it
  std::string lead;              // the quantity's "× " after the opener; empty for the others
  std::string closer;            // the first one after the text ends the match
  std::size_t longestMatch = 0;  // the longest match taken, opener and closer included
};

const OrderFieldMarkup& OrderMarkup(OrderField field);

// The pattern of a field as written.
const std::string& OrderPatternText(OrderField field);

// The text of every match of each field on a page as fetched, in page order,
// with "&mdash;" replaced inside them (indexed as kOrderFields).
std::array<std::vector<std::string>, 5> OrderFieldTexts(std::string_view body);

// The longest a field's match may be on the page before the dash
// replacement: each replaced entity counts 2 of its 7 bytes, so a match of
// more raw bytes than this never fits its window.
std::size_t LongestRawMatch(OrderField field);

// The scan of a page that arrives in pieces, with the matches the whole
// page gives OrderFieldTexts, however the page is cut. Of the page it keeps
// only the bytes fed in one step (at most `window`, the bytes of a longer
// piece are taken in that many at a time) and the tail where a match may
// still be open: a match is decided once LongestRawMatch bytes (and the 6
// an entity check looks ahead) past its opener have arrived, so that tail
// never exceeds the longest raw match and a few bytes, even when it is
// longer than the window.
//
// The texts found are held up to `heldLimit` bytes (each counted with the
// string that holds it); past that, matches are still counted but no
// longer held, for every field alike, so what is held is the first part of
// every field's list.
class OrderFieldStream {
 public:
  OrderFieldStream(std::size_t window, std::size_t heldLimit);
  ~OrderFieldStream();
  OrderFieldStream(const OrderFieldStream&) = delete;
  OrderFieldStream& operator=(const OrderFieldStream&) = delete;

  // The next bytes of the page. The page ends at its first zero byte;
  // what follows it is not read.
  void Feed(std::string_view bytes);
  // The page is complete: the matches still open are decided.
  void Finish();

  // The texts held of each field's matches, in page order (indexed as
  // kOrderFields); complete after Finish.
  std::array<std::vector<std::string>, 5>& Texts();
  // How many matches each field had, held or not.
  std::array<std::size_t, 5> Counts() const;
  // Whether some match was counted but not held.
  bool HeldLimitReached() const;
  // The page bytes read so far (up to the first zero byte).
  std::size_t PageBytes() const;
  // The most page bytes the stream kept at one time.
  std::size_t PeakKeptBytes() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace autodeliver
