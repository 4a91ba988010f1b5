// The duplicate check of a card import: before anything is written, every
// line of the import gets a verdict, and the plan says which cards will be
// written and which lines stay with the seller.
//
// A card is a duplicate when a card with the same number and the same
// password (byte-equal) is already in the stock of the item, is anywhere in
// the history of sent cards (whatever its item), or came on an earlier line
// of the same import (the first line of a repeated card is imported, the
// later ones are repeats). A line that is not a card is malformed. When a
// card is a duplicate on several counts, the stock comes first, then the
// history, then the import itself.
//
// Some cards are reusable codes that the seller sells again and again: with
// duplicates allowed, every card is written, and the verdicts still say
// which were duplicates. Malformed lines are never written.
//
// A card with an empty password or an empty number is most likely a line
// cut short (a CSV line "DK999001," or a trailing space; swapped, its number
// is the empty side): it has a reason of its own and is written only when
// such cards are allowed. A card that truly has no
// password is typed with "0" as its password, which is a password like any
// other.
//
// Cost: the import's cards go into one hash table; the stock and the
// history are each read once and looked up in it, so neither is held in
// memory.
//
// Thread safety: ImportChecker is used by one thread at a time. CheckImport
// takes the shop's store lock for each table it reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/card_lines.h"
#include "io/status.h"
#include "store/shop_context.h"

namespace autodeliver {

enum class LineVerdict {
  kNew,         // a card not seen anywhere
  kInStock,     // "库存中已有"
  kSentBefore,  // "已发过"
  kRepeated,    // "本次重复"
  kMalformed,   // "格式不对"
  kNoPassword,  // "卡号或卡密为空": a card with an empty side ("DK999001," or "DK999001 ")
};
inline constexpr std::size_t kLineVerdictCount = 6;

// The reason shown to the seller (GBK); empty for kNew.
const std::string& VerdictText(LineVerdict verdict);
// The same in UTF-8, for tools that print JSON.
const char* VerdictTextUtf8(LineVerdict verdict);

struct ImportPlan {
  bool allowDuplicates = false;
  bool allowNoPassword = false;
  // One verdict per line, in line order.
  std::vector<LineVerdict> verdicts;
  // The cards to write, in line order, and the lines they come from.
  std::vector<ImportedCard> cards;
  std::vector<std::size_t> importedLines;
  // The lines that will not be imported, in line order.
  std::vector<std::size_t> keptLines;
  // Lines per verdict (index: the verdict's value).
  std::array<std::size_t, kLineVerdictCount> counts{};

  std::size_t Count(LineVerdict v) const { return counts[static_cast<std::size_t>(v)]; }
};

// The check itself, fed with the cards already known. `lines` must outlive
// the checker and stay unchanged.
class ImportChecker {
 public:
  explicit ImportChecker(const std::vector<CardLine>& lines);

  // A card of the item's stock, and a card of the sent history.
  void SeeStockCard(std::string_view number, std::string_view password);
  void SeeSentCard(std::string_view number, std::string_view password);

  ImportPlan Plan(bool allowDuplicates, bool allowNoPassword = false) const;

 private:
  struct Key {
    std::string_view number, password;
    bool operator==(const Key&) const = default;
  };
  // An open-addressing table from a card's hash to its group: one cache
  // miss per lookup, which is what the two table passes spend most on.
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t group = kNoGroup;
  };
  static constexpr std::uint32_t kNoGroup = UINT32_MAX;
  static std::uint64_t Hash(const Key& key);
  std::uint32_t* FindSlot(const Key& key, std::uint64_t hash);
  void See(std::string_view number, std::string_view password, unsigned char what);

  enum Seen : unsigned char { kSeenInStock = 1, kSeenSent = 2 };

  const std::vector<CardLine>& lines_;
  std::vector<Slot> slots_;                 // size a power of two
  std::vector<Key> groupKeys_;              // per group: its card
  std::vector<unsigned char> seen_;         // per group
  std::vector<std::uint32_t> groupOfLine_;  // kNoGroup for a malformed line
  std::vector<bool> firstOfGroup_;
};

// The plan for `lines` with the verdicts a check gave them (one per line):
// how ImportChecker::Plan builds it, and how a preview re-plans when the
// seller ticks or unticks "import duplicates" without reading the tables
// again.
ImportPlan PlanImport(const std::vector<CardLine>& lines, std::vector<LineVerdict> verdicts,
                      bool allowDuplicates, bool allowNoPassword = false);

// The check against the stock of `itemName` and the whole sent history, one
// pass over each table. nullopt when a table cannot be read: then nothing
// is known about duplicates, and `failure` (when given) gets the cause,
// naming the table.
std::optional<ImportPlan> CheckImport(ShopContext& shop, std::string_view itemName,
                                      const std::vector<CardLine>& lines, bool allowDuplicates,
                                      bool allowNoPassword = false, Status* failure = nullptr);

// The lines that are not in the stock once the first `handled` cards of
// `plan` have been tried (all of them, or fewer when the append stopped
// early), `refused` (ascending indexes into plan.cards) being the cards the
// table did not take: the kept lines, the refused cards and the cards not
// tried, in line order. These go back to the seller, so that no line is
// lost.
std::vector<std::size_t> LinesNotWritten(const ImportPlan& plan, std::size_t handled,
                                         const std::vector<std::size_t>& refused = {});

// The texts of lines `indexes`, joined by CR LF without a final line break:
// how lines go back into the import box.
std::string LineTexts(const std::vector<CardLine>& lines, const std::vector<std::size_t>& indexes);

}  // namespace autodeliver
