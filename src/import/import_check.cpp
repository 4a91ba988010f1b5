// The duplicate check of a card import; see import_check.h.
#include "import/import_check.h"

#include <algorithm>
#include <cstdint>
#include <functional>

#include "store/shop_paths.h"
#include "store/table_access.h"
#include "text/gbk.h"

namespace autodeliver {

const char* VerdictTextUtf8(LineVerdict verdict) {
  switch (verdict) {
    case LineVerdict::kNew:
      return "";
    case LineVerdict::kInStock:
      return "库存中已有";
    case LineVerdict::kSentBefore:
      return "已发过";
    case LineVerdict::kRepeated:
      return "本次重复";
    case LineVerdict::kMalformed:
      return "格式不对";
    case LineVerdict::kNoPassword:
      return "卡号或卡密为空";
  }
  return "";
}

const std::string& VerdictText(LineVerdict verdict) {
  static const std::array<std::string, kLineVerdictCount> texts = [] {
    std::array<std::string, kLineVerdictCount> t;
    for (std::size_t i = 0; i < kLineVerdictCount; ++i)
      t[i] = Utf8ToGbkLossy(VerdictTextUtf8(static_cast<LineVerdict>(i)));
    return t;
  }();
  return texts[static_cast<std::size_t>(verdict)];
}

std::uint64_t ImportChecker::Hash(const Key& key) {
  const std::uint64_t a = std::hash<std::string_view>()(key.number);
  const std::uint64_t b = std::hash<std::string_view>()(key.password);
  // Mixed (splitmix64's finaliser), so that the low bits index the table.
  std::uint64_t h = a ^ (b + 0x9E3779B97F4A7C15ull + (a << 6) + (a >> 2));
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

// The slot that holds `key`'s group, or the empty slot where it would go.
std::uint32_t* ImportChecker::FindSlot(const Key& key, std::uint64_t hash) {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.group == kNoGroup) {
      slot.hash = hash;
      return &slot.group;
    }
    if (slot.hash == hash && groupKeys_[slot.group] == key) return &slot.group;
  }
}

ImportChecker::ImportChecker(const std::vector<CardLine>& lines)
    : lines_(lines), groupOfLine_(lines.size(), kNoGroup), firstOfGroup_(lines.size(), false) {
  // At most half full, so probes stay short.
  std::size_t capacity = 16;
  while (capacity < 2 * lines.size()) capacity *= 2;
  slots_.resize(capacity);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::optional<ImportedCard>& card = lines[i].card;
    if (!card) continue;
    const Key key{card->cardNumber, card->cardPassword};
    std::uint32_t* group = FindSlot(key, Hash(key));
    if (*group == kNoGroup) {
      *group = static_cast<std::uint32_t>(groupKeys_.size());
      groupKeys_.push_back(key);
      seen_.push_back(0);
      firstOfGroup_[i] = true;
    }
    groupOfLine_[i] = *group;
  }
}

void ImportChecker::See(std::string_view number, std::string_view password, unsigned char what) {
  const Key key{number, password};
  const std::uint64_t hash = Hash(key);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.group == kNoGroup) return;
    if (slot.hash == hash && groupKeys_[slot.group] == key) {
      seen_[slot.group] |= what;
      return;
    }
  }
}

void ImportChecker::SeeStockCard(std::string_view number, std::string_view password) {
  See(number, password, kSeenInStock);
}

void ImportChecker::SeeSentCard(std::string_view number, std::string_view password) {
  See(number, password, kSeenSent);
}

ImportPlan ImportChecker::Plan(bool allowDuplicates, bool allowNoPassword) const {
  std::vector<LineVerdict> verdicts;
  verdicts.reserve(lines_.size());
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const std::uint32_t group = groupOfLine_[i];
    LineVerdict v = LineVerdict::kNew;
    if (group == kNoGroup) {
      v = LineVerdict::kMalformed;
    } else if (lines_[i].card->cardPassword.empty() || lines_[i].card->cardNumber.empty()) {
      v = LineVerdict::kNoPassword;
    } else if (seen_[group] & kSeenInStock) {
      v = LineVerdict::kInStock;
    } else if (seen_[group] & kSeenSent) {
      v = LineVerdict::kSentBefore;
    } else if (!firstOfGroup_[i]) {
      v = LineVerdict::kRepeated;
    }
    verdicts.push_back(v);
  }
  return PlanImport(lines_, std::move(verdicts), allowDuplicates, allowNoPassword);
}

ImportPlan PlanImport(const std::vector<CardLine>& lines, std::vector<LineVerdict> verdicts,
                      bool allowDuplicates, bool allowNoPassword) {
  ImportPlan plan;
  plan.allowDuplicates = allowDuplicates;
  plan.allowNoPassword = allowNoPassword;
  plan.verdicts = std::move(verdicts);
  const std::size_t n = std::min(lines.size(), plan.verdicts.size());
  plan.verdicts.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    LineVerdict& v = plan.verdicts[i];
    // A line that holds no card cannot be written, whatever it was called.
    if (!lines[i].card) v = LineVerdict::kMalformed;
    ++plan.counts[static_cast<std::size_t>(v)];
    const bool duplicate =
        v == LineVerdict::kInStock || v == LineVerdict::kSentBefore || v == LineVerdict::kRepeated;
    const bool write = v == LineVerdict::kNew || (allowDuplicates && duplicate) ||
                       (allowNoPassword && v == LineVerdict::kNoPassword);
    if (write) {
      plan.cards.push_back(*lines[i].card);
      plan.importedLines.push_back(i);
    } else {
      plan.keptLines.push_back(i);
    }
  }
  return plan;
}

std::optional<ImportPlan> CheckImport(ShopContext& shop, std::string_view itemName,
                                      const std::vector<CardLine>& lines, bool allowDuplicates,
                                      bool allowNoPassword, Status* failure) {
  ImportChecker checker(lines);
  auto fail = [failure](const TableAccess& a) -> std::optional<ImportPlan> {
    if (failure) *failure = a.status();
    return std::nullopt;
  };
  {
    TableAccess a(shop, shop.StockTablePath(), false);
    int fName, fNumber, fPassword;
    if (!a.Resolve({"宝贝名称"_gbk, "宝贝卡号"_gbk, "宝贝卡密"_gbk}, &fName, &fNumber, &fPassword))
      return fail(a);
    RecordTable& t = a.table();
    const std::int32_t n = t.RecordCount();
    for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
      if (t.RecordId() <= 0) continue;
      std::optional<std::string> name = t.ReadTextAt(fName);
      if (!name || *name != itemName) continue;
      std::optional<std::string> number = t.ReadTextAt(fNumber), password = t.ReadTextAt(fPassword);
      if (number && password) checker.SeeStockCard(*number, *password);
    }
  }
  {
    TableAccess a(shop, shop.SentTablePath(), false);
    int fNumber, fPassword;
    if (!a.Resolve({"已发卡号"_gbk, "已发卡密"_gbk}, &fNumber, &fPassword)) return fail(a);
    RecordTable& t = a.table();
    const std::int32_t n = t.RecordCount();
    for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
      if (t.RecordId() <= 0) continue;
      std::optional<std::string> number = t.ReadTextAt(fNumber), password = t.ReadTextAt(fPassword);
      if (number && password) checker.SeeSentCard(*number, *password);
    }
  }
  return checker.Plan(allowDuplicates, allowNoPassword);
}

std::vector<std::size_t> LinesNotWritten(const ImportPlan& plan, std::size_t handled,
                                         const std::vector<std::size_t>& refused) {
  handled = std::min(handled, plan.importedLines.size());
  // The imported lines that are not in the stock: the refused ones, then
  // every one after `handled`; ascending.
  std::vector<std::size_t> unwritten;
  unwritten.reserve(refused.size() + plan.importedLines.size() - handled);
  for (std::size_t k : refused)
    if (k < handled) unwritten.push_back(plan.importedLines[k]);
  for (std::size_t k = handled; k < plan.importedLines.size(); ++k)
    unwritten.push_back(plan.importedLines[k]);
  std::vector<std::size_t> out(plan.keptLines.size() + unwritten.size());
  // Both lists are in line order: merge them.
  std::merge(plan.keptLines.begin(), plan.keptLines.end(), unwritten.begin(), unwritten.end(), out.begin());
  return out;
}

std::string LineTexts(const std::vector<CardLine>& lines, const std::vector<std::size_t>& indexes) {
  std::vector<const CardLine*> picked;
  picked.reserve(indexes.size());
  for (std::size_t i : indexes)
    if (i < lines.size()) picked.push_back(&lines[i]);
  return JoinLineTexts(picked);
}

}  // namespace autodeliver
