// The duplicate check of a card import; see import_check.h.
#include "store/import_check.h"

#include <cstdint>
#include <functional>

#include "store/data_paths.h"
#include "store/table_access.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

constexpr std::uint32_t kNoGroup = UINT32_MAX;

}  // namespace

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

std::size_t ImportChecker::KeyHash::operator()(const Key& k) const {
  const std::size_t a = std::hash<std::string_view>()(k.number);
  const std::size_t b = std::hash<std::string_view>()(k.password);
  return a ^ (b + 0x9E3779B97F4A7C15ull + (a << 6) + (a >> 2));
}

ImportChecker::ImportChecker(const std::vector<CardLine>& lines)
    : lines_(lines), groupOfLine_(lines.size(), kNoGroup), firstOfGroup_(lines.size(), false) {
  groups_.reserve(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::optional<ImportedCard>& card = lines[i].card;
    if (!card) continue;
    const auto group = static_cast<std::uint32_t>(seen_.size());
    auto [it, inserted] = groups_.try_emplace(Key{card->cardNumber, card->cardPassword}, group);
    groupOfLine_[i] = it->second;
    if (inserted) {
      firstOfGroup_[i] = true;
      seen_.push_back(0);
    }
  }
}

void ImportChecker::SeeStockCard(std::string_view number, std::string_view password) {
  auto it = groups_.find(Key{number, password});
  if (it != groups_.end()) seen_[it->second] |= kSeenInStock;
}

void ImportChecker::SeeSentCard(std::string_view number, std::string_view password) {
  auto it = groups_.find(Key{number, password});
  if (it != groups_.end()) seen_[it->second] |= kSeenSent;
}

ImportPlan ImportChecker::Plan(bool allowDuplicates) const {
  ImportPlan plan;
  plan.allowDuplicates = allowDuplicates;
  plan.verdicts.reserve(lines_.size());
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const std::uint32_t group = groupOfLine_[i];
    LineVerdict v = LineVerdict::kNew;
    if (group == kNoGroup) {
      v = LineVerdict::kMalformed;
    } else if (seen_[group] & kSeenInStock) {
      v = LineVerdict::kInStock;
    } else if (seen_[group] & kSeenSent) {
      v = LineVerdict::kSentBefore;
    } else if (!firstOfGroup_[i]) {
      v = LineVerdict::kRepeated;
    }
    plan.verdicts.push_back(v);
    ++plan.counts[static_cast<std::size_t>(v)];
    const bool write = v == LineVerdict::kNew || (allowDuplicates && v != LineVerdict::kMalformed);
    if (write) {
      plan.cards.push_back(*lines_[i].card);
      plan.importedLines.push_back(i);
    } else {
      plan.keptLines.push_back(i);
    }
  }
  return plan;
}

std::optional<ImportPlan> CheckImport(std::string_view itemName, const std::vector<CardLine>& lines,
                                      bool allowDuplicates) {
  ImportChecker checker(lines);
  {
    TableAccess a(StockTablePath(), false);
    int fName, fNumber, fPassword;
    if (!a.Resolve({"宝贝名称"_gbk, "宝贝卡号"_gbk, "宝贝卡密"_gbk}, &fName, &fNumber, &fPassword))
      return std::nullopt;
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
    TableAccess a(SentTablePath(), false);
    int fNumber, fPassword;
    if (!a.Resolve({"已发卡号"_gbk, "已发卡密"_gbk}, &fNumber, &fPassword)) return std::nullopt;
    RecordTable& t = a.table();
    const std::int32_t n = t.RecordCount();
    for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
      if (t.RecordId() <= 0) continue;
      std::optional<std::string> number = t.ReadTextAt(fNumber), password = t.ReadTextAt(fPassword);
      if (number && password) checker.SeeSentCard(*number, *password);
    }
  }
  return checker.Plan(allowDuplicates);
}

std::string KeptLinesText(const std::vector<CardLine>& lines, const ImportPlan& plan) {
  std::vector<const CardLine*> kept;
  kept.reserve(plan.keptLines.size());
  for (std::size_t i : plan.keptLines)
    if (i < lines.size()) kept.push_back(&lines[i]);
  return JoinLineTexts(kept);
}

}  // namespace autodeliver
