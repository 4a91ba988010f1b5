// The in-memory index of the store; see store_index.h.
#include "store/store_index.h"

#include <chrono>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace autodeliver {

namespace {

// What the change test compares: the table's figures and its file's
// identity, size and change time (RecordTable::State, one fstat per held
// access and one after each write).
using Stamp = TableState;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool StampOf(RecordTable& t, Stamp* s) {
  std::optional<TableState> now = t.State();
  if (!now) return false;
  *s = *now;
  return true;
}

// Common state of one indexed table.
struct Part {
  bool built = false;
  std::string path;
  Stamp stamp;

  // True when the part matches the table as it is now.
  bool Current(RecordTable& t, const std::string& p, Stamp* now) {
    if (!StampOf(t, now)) return false;
    return built && path == p && stamp == *now;
  }
  // After a write this part followed: the figures that must not have moved
  // except by that write, then the new stamp.
  bool Follow(RecordTable& t, const std::string& p, std::int32_t countDelta, bool purged) {
    Stamp now;
    if (!built || path != p || !StampOf(t, &now) || now.inode != stamp.inode) return false;
    if (!purged && (now.count != stamp.count + countDelta || now.nextId != stamp.nextId + countDelta))
      return false;
    if (!purged && countDelta == 0 && now.size != stamp.size) return false;
    stamp = now;
    return true;
  }
};

struct StockPart : Part {
  std::vector<std::uint8_t> live;  // per record: 1 live, 0 marked
  std::unordered_map<std::string, std::deque<std::int32_t>> byItem;
  std::int32_t marked = 0;

  void Clear() {
    built = false;
    live.clear();
    byItem.clear();
    marked = 0;
  }

  bool Build(RecordTable& t, const std::string& p, int nameField, const Stamp& now) {
    Clear();
    const std::int32_t n = now.count;
    live.assign(static_cast<std::size_t>(n), 0);
    t.GoTo(1);
    for (std::int32_t i = 0; i < n; ++i, t.Skip(1)) {
      std::int32_t id = t.RecordId();
      if (id <= 0) {
        ++marked;
        continue;
      }
      live[i] = 1;
      // A card whose name cannot be read belongs to no item: never served.
      std::optional<std::string> name = t.ReadTextAt(nameField);
      if (name) byItem[std::move(*name)].push_back(i);
    }
    path = p;
    stamp = now;
    built = true;
    return true;
  }
};

struct SetPart : Part {
  std::unordered_set<std::string> keys;
  std::int64_t builtAtNs = 0;

  void Clear() {
    built = false;
    keys.clear();
  }

  bool Build(RecordTable& t, const std::string& p, int field, const Stamp& now) {
    Clear();
    t.GoTo(1);
    for (std::int32_t i = 0; i < now.count; ++i, t.Skip(1)) {
      if (t.RecordId() <= 0) continue;
      std::optional<std::string> v = t.ReadTextAt(field);
      if (v) keys.insert(std::move(*v));
    }
    path = p;
    stamp = now;
    builtAtNs = NowNs();
    built = true;
    return true;
  }
};

// A file time close to the moment the part was built may hide a second
// write within the same clock tick; such a part is not trusted again.
constexpr std::int64_t kRacyNs = 50'000'000;

}  // namespace

struct StoreIndex::Parts {
  StockPart stock;
  SetPart sent;
  SetPart items;
};

StoreIndex::StoreIndex() : parts_(std::make_unique<Parts>()) {}
StoreIndex::~StoreIndex() = default;

const std::deque<std::int32_t>* StoreIndex::StockOf(RecordTable& t, const std::string& path, int nameField,
                                                    std::string_view itemName) {
  StockPart& s = parts_->stock;
  Stamp now;
  if (!s.Current(t, path, &now)) {
    if (now.count < 0 || !s.Build(t, path, nameField, now)) {
      s.Clear();
      return nullptr;
    }
  }
  static const std::deque<std::int32_t> kNone;
  auto it = s.byItem.find(std::string(itemName));
  return it == s.byItem.end() ? &kNone : &it->second;
}

std::int32_t StoreIndex::StockMarked(const std::string& path) {
  const StockPart& s = parts_->stock;
  return s.built && s.path == path ? s.marked : 0;
}

void StoreIndex::NoteStockMarked(RecordTable& t, const std::string& path, std::int32_t recordNumber) {
  StockPart& s = parts_->stock;
  const std::int32_t i = recordNumber - 1;
  if (!s.Follow(t, path, 0, false) || i < 0 || i >= static_cast<std::int32_t>(s.live.size())) {
    s.Clear();
    return;
  }
  if (!s.live[i]) return;
  s.live[i] = 0;
  ++s.marked;
  // The card is usually the first of its item (a take); otherwise search.
  for (auto& [name, cards] : s.byItem) {
    if (!cards.empty() && cards.front() == i) {
      cards.pop_front();
      return;
    }
  }
  for (auto& [name, cards] : s.byItem) {
    for (auto it = cards.begin(); it != cards.end(); ++it) {
      if (*it == i) {
        cards.erase(it);
        return;
      }
    }
  }
}

void StoreIndex::NoteStockAppended(RecordTable& t, const std::string& path, std::string_view itemName,
                                   std::int32_t count) {
  StockPart& s = parts_->stock;
  if (count <= 0 || !s.Follow(t, path, count, false)) {
    s.Clear();
    return;
  }
  std::deque<std::int32_t>& cards = s.byItem[std::string(itemName)];
  for (std::int32_t k = 0; k < count; ++k) {
    cards.push_back(static_cast<std::int32_t>(s.live.size()));
    s.live.push_back(1);
  }
}

void StoreIndex::NoteStockPurged(RecordTable& t, const std::string& path) {
  StockPart& s = parts_->stock;
  if (!s.Follow(t, path, 0, true)) {
    s.Clear();
    return;
  }
  // Each kept record moves down by the marked records before it.
  std::vector<std::int32_t> to(s.live.size());
  std::int32_t kept = 0;
  for (std::size_t i = 0; i < s.live.size(); ++i) {
    to[i] = kept;
    kept += s.live[i];
  }
  if (kept != s.stamp.count) {
    s.Clear();
    return;
  }
  for (auto& [name, cards] : s.byItem)
    for (std::int32_t& c : cards) c = to[c];
  s.live.assign(static_cast<std::size_t>(kept), 1);
  s.marked = 0;
}

void StoreIndex::InvalidateStock() { parts_->stock.Clear(); }

bool StoreIndex::SentOrderExists(RecordTable& t, const std::string& path, int orderField,
                                 std::string_view orderNumber, bool* ok) {
  SetPart& s = parts_->sent;
  Stamp now;
  *ok = true;
  if (!s.Current(t, path, &now)) {
    if (now.count < 0 || !s.Build(t, path, orderField, now)) {
      s.Clear();
      *ok = false;
      return false;
    }
  }
  return s.keys.count(std::string(orderNumber)) > 0;
}

void StoreIndex::NoteSentAppended(RecordTable& t, const std::string& path, std::string_view orderNumber) {
  SetPart& s = parts_->sent;
  if (!s.Follow(t, path, 1, false)) {
    s.Clear();
    return;
  }
  s.keys.insert(std::string(orderNumber));
}

void StoreIndex::InvalidateSent() { parts_->sent.Clear(); }

bool StoreIndex::ItemNamed(RecordTable& t, const std::string& path, int nameField, std::string_view name,
                           bool* ok) {
  SetPart& s = parts_->items;
  Stamp now;
  *ok = true;
  const bool racy = s.built && s.stamp.changedNs + kRacyNs > s.builtAtNs;
  if (!s.Current(t, path, &now) || racy) {
    if (now.count < 0 || !s.Build(t, path, nameField, now)) {
      s.Clear();
      *ok = false;
      return false;
    }
  }
  return s.keys.count(std::string(name)) > 0;
}

void StoreIndex::InvalidateItems() { parts_->items.Clear(); }

void StoreIndex::InvalidateAll() {
  InvalidateStock();
  InvalidateSent();
  InvalidateItems();
}

}  // namespace autodeliver
