// The literal scan of the order list page; see order_patterns.h.
#include "market/order_patterns.h"

#include <algorithm>
#include <cstring>
#include <memory>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "text/gbk.h"

namespace autodeliver {
namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::string_view kEntity = "&mdash;";
constexpr std::string_view kDash = "\xA1\xAA";  // the GBK dash "—"

// A literal of the markup and its search: a single byte by memchr, a
// longer one by comparing 16 places at once with the literal's first byte
// and, as far on as the literal is long, its last byte, so that only places
// where both stand are compared in full (the openers begin with "<" or "o",
// which are frequent, but rarely with their last byte where it belongs).
class Literal {
 public:
  explicit Literal(std::string_view text) : text_(text) {}

  // The first occurrence in `page` at or after `from`.
  std::size_t FindIn(std::string_view page, std::size_t from) const {
    const std::size_t n = text_.size();
    if (from >= page.size() || n > page.size() - from) return kNone;
    const char* p = page.data();
    if (n == 1) {
      const void* hit = std::memchr(p + from, text_[0], page.size() - from);
      return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - p) : kNone;
    }
    std::size_t i = from;
#ifdef __SSE2__
    const __m128i first = _mm_set1_epi8(text_.front());
    const __m128i last = _mm_set1_epi8(text_.back());
    for (; i + n - 1 + 16 <= page.size(); i += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + n - 1));
      auto mask = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
      while (mask != 0) {
        const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
        if (std::memcmp(p + at + 1, text_.data() + 1, n - 2) == 0) return at;
        mask &= mask - 1;
      }
    }
#endif
    for (; i + n <= page.size(); ++i) {
      if (p[i] == text_.front() && std::memcmp(p + i, text_.data(), n) == 0) return i;
    }
    return kNone;
  }

  std::size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }

 private:
  std::string_view text_;  // of a markup string that lives as long as the program
};

bool IsEntityAt(std::string_view page, std::size_t at) {
  if (page.size() - at < kEntity.size()) return false;
  for (std::size_t k = 1; k < kEntity.size(); ++k) {
    char c = page[at + k];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    if (c != kEntity[k]) return false;
  }
  return true;
}

// Whether a character starts at `at` when the page is walked in GBK
// characters from its start. A byte that is not a lead byte always ends a
// character (alone or as a trail byte), so only the run of lead bytes just
// before `at` counts: an even run pairs up and ends before `at`.
bool StartsCharacter(std::string_view page, std::size_t at) {
  std::size_t run = 0;
  while (run < at && IsGbkLeadByte(static_cast<unsigned char>(page[at - 1 - run]))) ++run;
  return run % 2 == 0;
}

// Whether the dash replaces an entity that begins at `at`.
bool ReplacedEntityAt(std::string_view page, std::size_t at) {
  return IsEntityAt(page, at) && StartsCharacter(page, at);
}

// Where the page's "&mdash;" entities stand, each one that the dash
// replaces. One pass over the page's "&" bytes.
class DashEntities {
 public:
  explicit DashEntities(std::string_view page) : page_(page) {
    for (std::size_t at = page.find('&'); at != kNone; at = page.find('&', at + 1)) {
      if (ReplacedEntityAt(page, at)) {
        starts_.push_back(at);
        at += kEntity.size() - 1;
      }
    }
  }

  // How many entities begin in [from, to).
  std::size_t CountIn(std::size_t from, std::size_t to) const {
    return static_cast<std::size_t>(First(to) - First(from));
  }

  // Reads one field's texts: positions that never go back, so the entities
  // are walked once.
  class Cursor {
   public:
    explicit Cursor(const DashEntities& dashes) : dashes_(dashes), next_(dashes.starts_.begin()) {}

    // The page's bytes in [from, to) with each entity inside replaced.
    std::string Replaced(std::size_t from, std::size_t to) {
      const auto end = dashes_.starts_.end();
      while (next_ != end && *next_ < from) ++next_;
      const std::string_view page = dashes_.page_;
      if (next_ == end || *next_ + kEntity.size() > to) return std::string(page.substr(from, to - from));
      std::string out;
      out.reserve(to - from);
      std::size_t copied = from;
      for (; next_ != end && *next_ + kEntity.size() <= to; ++next_) {
        out.append(page.substr(copied, *next_ - copied));
        out.append(kDash);
        copied = *next_ + kEntity.size();
      }
      out.append(page.substr(copied, to - copied));
      return out;
    }

   private:
    const DashEntities& dashes_;
    std::vector<std::size_t>::const_iterator next_;
  };

 private:
  std::vector<std::size_t>::const_iterator First(std::size_t at) const {
    return std::lower_bound(starts_.begin(), starts_.end(), at);
  }

  std::string_view page_;
  std::vector<std::size_t> starts_;
};

// The first `literal` at or after positions that never go back: an
// occurrence found serves every later query up to it, and a search that
// found none serves every later one, so each byte is searched once.
// `notEntities`: occurrences that begin a replaced entity do not count.
class ForwardFinder {
 public:
  ForwardFinder(std::string_view page, const Literal& literal, bool notEntities)
      : page_(page), literal_(literal), notEntities_(notEntities) {}

  std::size_t From(std::size_t from) {
    if (exhausted_) return kNone;
    if (found_ != kNone && found_ >= from) return found_;
    for (std::size_t at = from;; ++at) {
      at = literal_.FindIn(page_, at);
      if (at == kNone) {
        exhausted_ = true;
        return found_ = kNone;
      }
      if (!notEntities_ || !ReplacedEntityAt(page_, at)) return found_ = at;
    }
  }

 private:
  std::string_view page_;
  const Literal& literal_;
  bool notEntities_;
  std::size_t found_ = kNone;
  bool exhausted_ = false;
};

struct FieldPattern {
  OrderFieldMarkup markup;
  std::string text;  // as written
};

const std::array<FieldPattern, 5>& Patterns() {
  // Windows: a title attribute, a nick, an order number or id of a real
  // order list is well under a hundred bytes, a quantity block a few
  // hundred; the windows leave ample room beyond that.
  static const std::array<FieldPattern, 5> patterns = [] {
    const std::string indent = std::string(16, ' ') + "\t\t\t\t" + std::string(4, ' ');
    auto make = [](std::string opener, std::string lead, std::string closer, std::size_t longestMatch) {
      FieldPattern p;
      p.text = opener + (lead.empty() ? "" : ".*?" + lead) + "(.*?)" + closer;
      p.markup = {std::move(opener), std::move(lead), std::move(closer), longestMatch};
      return p;
    };
    return std::array<FieldPattern, 5>{
        make("<a style=\"line-height:16px;\" target=\"_blank\" title=\"", "", "\"", 4096),
        make("<span class=\"ww ww:token\" ww:params=\"nick=", "", "&amp;", 1024),
        make("<span class=\"order-number\">" + "订单编号："_gbk, "", "</span>", 1024),
        make("<li class=\"total\">\r\n" + indent + "\t", "×"_gbk + " ", "\r\n" + indent + "</li>", 4096),
        make("order_id=", "", "&", 1024)};
  }();
  return patterns;
}

// The three literals of a field, ready to search.
struct FieldSearch {
  Literal opener, lead, closer;
  std::size_t longestMatch;
};

const FieldSearch& Search(OrderField field) {
  static const std::array<FieldSearch, 5> searches = [] {
    auto make = [](const OrderFieldMarkup& m) {
      return FieldSearch{Literal(m.opener), Literal(m.lead), Literal(m.closer), m.longestMatch};
    };
    const auto& p = Patterns();
    return std::array<FieldSearch, 5>{make(p[0].markup), make(p[1].markup), make(p[2].markup),
                                      make(p[3].markup), make(p[4].markup)};
  }();
  return searches[static_cast<std::size_t>(field)];
}

std::vector<std::string> FieldTexts(std::string_view page, const DashEntities& dashes, OrderField field) {
  const FieldSearch& f = Search(field);
  ForwardFinder lead(page, f.lead, false);
  // An order id's "&" is never the one that begins an entity: the dash has
  // taken its place.
  ForwardFinder closer(page, f.closer, field == OrderField::kOrderId);
  DashEntities::Cursor dashCursor(dashes);
  std::vector<std::string> texts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = f.opener.FindIn(page, from);
    if (at == kNone) break;
    std::size_t textStart = at + f.opener.size();
    if (!f.lead.empty()) {
      const std::size_t leadAt = lead.From(textStart);
      if (leadAt == kNone) break;  // no later opener has one either
      textStart = leadAt + f.lead.size();
    }
    const std::size_t closerAt = closer.From(textStart);
    if (closerAt == kNone) break;
    const std::size_t matchEnd = closerAt + f.closer.size();
    // The window counts the match as the dash replacement leaves it.
    std::size_t length = matchEnd - at;
    if (length > f.longestMatch) length -= (kEntity.size() - kDash.size()) * dashes.CountIn(at, matchEnd);
    if (length <= f.longestMatch) {
      texts.push_back(dashCursor.Replaced(textStart, closerAt));
      from = matchEnd;
    } else {
      from = at + 1;
    }
  }
  return texts;
}

// The first occurrence of a literal at or after positions that never go
// back, on a page that arrives in pieces (positions count from the page's
// start). Remembers what it found and how far it searched in vain, so each
// byte is searched once.
struct StreamFinder {
  const Literal* literal = nullptr;
  bool notEntities = false;  // as ForwardFinder
  std::size_t found = kNone;
  std::size_t clearTo = 0;  // no occurrence in [the last query, clearTo) but `found`
};

struct StreamField {
  const FieldSearch* search = nullptr;
  std::size_t rawLimit = 0;      // LongestRawMatch
  std::size_t from = 0;          // where the next opener is looked for
  std::size_t openerAt = kNone;  // an opener whose match is not decided yet
  bool done = false;             // no later match is possible
  StreamFinder lead, closer;
  std::size_t count = 0;
};

// What an entity check needs beyond the "&": the rest of "&mdash;".
constexpr std::size_t kEntityTail = kEntity.size() - 1;

}  // namespace

struct OrderFieldStream::State {
  std::size_t window = 1;
  std::size_t heldLimit = 0;
  std::string kept;  // the page's bytes [base, base + kept.size())
  std::size_t base = 0;
  // Whether the run of GBK lead bytes that ends just before `base` is odd.
  // The markup's openers end in bytes that stop such a run, so the checks
  // of the "&" bytes after them rarely look back that far; this keeps them
  // right when they do.
  bool oddLeadRunBeforeBase = false;
  bool ended = false;  // the page is complete (Finish, or a zero byte)
  std::size_t heldBytes = 0;
  bool heldFull = false;
  std::size_t peakKept = 0;
  std::array<StreamField, 5> fields;
  std::array<std::vector<std::string>, 5> texts;

  std::size_t End() const { return base + kept.size(); }
  unsigned char At(std::size_t p) const { return static_cast<unsigned char>(kept[p - base]); }
  std::string_view View() const { return kept; }

  // As StartsCharacter, across the bytes already dropped.
  bool StartsCharacterAt(std::size_t p) const {
    std::size_t run = 0;
    while (p - run > base && IsGbkLeadByte(At(p - 1 - run))) ++run;
    if (p - run == base && oddLeadRunBeforeBase) ++run;
    return run % 2 == 0;
  }

  // Whether the entity check of an "&" at `p` can be made: its bytes are in,
  // or the page ended before them.
  bool EntityKnown(std::size_t p) const { return ended || p + kEntity.size() <= End(); }

  // As ReplacedEntityAt, for an "&" at `p` whose check can be made.
  bool ReplacedEntity(std::size_t p) const {
    if (End() - p < kEntity.size()) return false;
    for (std::size_t k = 1; k < kEntity.size(); ++k) {
      char c = static_cast<char>(At(p + k));
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
      if (c != kEntity[k]) return false;
    }
    return StartsCharacterAt(p);
  }

  // The "&" bytes in [from, to) that begin a replaced entity.
  std::size_t EntitiesIn(std::size_t from, std::size_t to) const {
    std::size_t n = 0;
    for (std::size_t p = from; p < to; ++p) {
      const void* hit = std::memchr(kept.data() + (p - base), '&', to - p);
      if (!hit) break;
      p = base + static_cast<std::size_t>(static_cast<const char*>(hit) - kept.data());
      if (ReplacedEntity(p)) ++n;
    }
    return n;
  }

  // The bytes in [from, to) with each entity that lies wholly inside replaced.
  std::string Replaced(std::size_t from, std::size_t to) const {
    std::string out;
    std::size_t copied = from;
    for (std::size_t p = from; p + kEntity.size() <= to; ++p) {
      const void* hit = std::memchr(kept.data() + (p - base), '&', to - p);
      if (!hit) break;
      p = base + static_cast<std::size_t>(static_cast<const char*>(hit) - kept.data());
      if (p + kEntity.size() > to) break;
      if (!ReplacedEntity(p)) continue;
      out.append(View().substr(copied - base, p - copied));
      out.append(kDash);
      copied = p + kEntity.size();
      p = copied - 1;
    }
    out.append(View().substr(copied - base, to - copied));
    return out;
  }

  // The first occurrence at or after `q` among the bytes in, or kNone (the
  // finder's clearTo then tells how far none stands).
  std::size_t FindFrom(StreamFinder& f, std::size_t q) {
    if (f.found != kNone && f.found >= q) return f.found;
    f.found = kNone;
    std::size_t p = std::max(q, f.clearTo);
    for (;;) {
      const std::size_t hit = p < End() ? f.literal->FindIn(View(), p - base) : kNone;
      if (hit == kNone) {
        const std::size_t tail = std::min(End(), f.literal->size() - 1);
        f.clearTo = std::max(p, End() - tail);
        return kNone;
      }
      const std::size_t at = base + hit;
      if (f.notEntities) {
        if (!EntityKnown(at)) {
          f.clearTo = at;
          return kNone;
        }
        if (ReplacedEntity(at)) {
          p = at + 1;
          continue;
        }
      }
      f.clearTo = at;
      return f.found = at;
    }
  }

  void Hold(std::size_t field, std::string text) {
    const std::size_t cost = sizeof(std::string) + text.size();
    if (!heldFull && cost <= heldLimit - heldBytes) {
      heldBytes += cost;
      texts[field].push_back(std::move(text));
    } else {
      // Once one text is not held, none after it is, of any field: what is
      // held stays the first part of every list.
      heldFull = true;
    }
  }

  // Decides the field's matches as far as the bytes in allow; the rules
  // are those of FieldTexts.
  void Step(std::size_t index) {
    StreamField& f = fields[index];
    const FieldSearch& s = *f.search;
    while (!f.done) {
      if (f.openerAt == kNone) {
        const std::size_t hit = f.from < End() ? s.opener.FindIn(View(), f.from - base) : kNone;
        if (hit == kNone) {
          if (ended) {
            f.done = true;
          } else {
            // An opener may begin in the last bytes and end in the next piece.
            f.from = std::max(f.from, End() - std::min(End(), s.opener.size() - 1));
          }
          return;
        }
        f.openerAt = base + hit;
      }
      const std::size_t at = f.openerAt;
      // A match ending beyond this never fits its window.
      const std::size_t limit = at + f.rawLimit;
      std::size_t textStart = at + s.opener.size();
      bool reject = false;
      if (!s.lead.empty()) {
        const std::size_t leadAt = FindFrom(f.lead, textStart);
        if (leadAt == kNone) {
          if (ended) {
            f.done = true;  // no later opener has one either
            return;
          }
          if (f.lead.clearTo < limit) return;  // wait for more of the page
          reject = true;
        } else {
          textStart = leadAt + s.lead.size();
          reject = textStart > limit;
        }
      }
      std::size_t closerAt = kNone;
      if (!reject) {
        closerAt = FindFrom(f.closer, textStart);
        if (closerAt == kNone) {
          if (ended) {
            f.done = true;
            return;
          }
          if (f.closer.clearTo < limit) return;
          reject = true;
        } else {
          reject = closerAt + s.closer.size() > limit;
        }
      }
      if (!reject) {
        const std::size_t matchEnd = closerAt + s.closer.size();
        std::size_t length = matchEnd - at;
        if (length > s.longestMatch) {
          // The entities beginning in the match are counted, the last one's
          // bytes included.
          if (!ended && matchEnd + kEntityTail > End()) return;
          length -= (kEntity.size() - kDash.size()) * EntitiesIn(at, matchEnd);
        }
        if (length <= s.longestMatch) {
          ++f.count;
          Hold(index, Replaced(textStart, closerAt));
          f.from = matchEnd;
          f.openerAt = kNone;
          continue;
        }
      }
      f.from = at + 1;
      f.openerAt = kNone;
    }
  }

  void Scan() {
    for (std::size_t i = 0; i < fields.size(); ++i) Step(i);
    // The bytes before every field's next opener (or open match) are
    // dropped, in large enough steps that each byte moves a few times at
    // most.
    std::size_t keep = End();
    for (const StreamField& f : fields) {
      if (!f.done) keep = std::min(keep, f.openerAt != kNone ? f.openerAt : f.from);
    }
    if (keep > base && (keep - base) * 2 >= kept.size()) Drop(keep);
  }

  void Drop(std::size_t keep) {
    std::size_t run = 0;
    while (run < keep - base && IsGbkLeadByte(At(keep - 1 - run))) ++run;
    bool odd = run % 2 == 1;
    if (run == keep - base && oddLeadRunBeforeBase) odd = !odd;
    oddLeadRunBeforeBase = odd;
    kept.erase(0, keep - base);
    base = keep;
  }
};

std::size_t LongestRawMatch(OrderField field) {
  // A match of r raw bytes begins at most r / 7 + 1 entities, so it counts
  // at least 2r / 7 - 5 bytes: beyond 4 windows and a little it never fits.
  return 4 * Search(field).longestMatch + 64;
}

OrderFieldStream::OrderFieldStream(std::size_t window, std::size_t heldLimit)
    : state_(std::make_unique<State>()) {
  state_->window = std::max<std::size_t>(window, 1);
  state_->heldLimit = heldLimit;
  for (OrderField field : kOrderFields) {
    StreamField& f = state_->fields[static_cast<std::size_t>(field)];
    f.search = &Search(field);
    f.rawLimit = LongestRawMatch(field);
    f.lead.literal = &f.search->lead;
    f.closer.literal = &f.search->closer;
    f.closer.notEntities = field == OrderField::kOrderId;
  }
}

OrderFieldStream::~OrderFieldStream() = default;

void OrderFieldStream::Feed(std::string_view bytes) {
  State& s = *state_;
  while (!bytes.empty() && !s.ended) {
    std::string_view piece = bytes.substr(0, s.window);
    bytes.remove_prefix(piece.size());
    const std::size_t zero = piece.find('\0');
    if (zero != kNone) {
      piece = piece.substr(0, zero);
      s.ended = true;
    }
    s.kept.append(piece);
    s.peakKept = std::max(s.peakKept, s.kept.size());
    s.Scan();
  }
}

void OrderFieldStream::Finish() {
  state_->ended = true;
  state_->Scan();
}

std::array<std::vector<std::string>, 5>& OrderFieldStream::Texts() { return state_->texts; }

std::array<std::size_t, 5> OrderFieldStream::Counts() const {
  std::array<std::size_t, 5> counts{};
  for (std::size_t i = 0; i < counts.size(); ++i) counts[i] = state_->fields[i].count;
  return counts;
}

bool OrderFieldStream::HeldLimitReached() const { return state_->heldFull; }

std::size_t OrderFieldStream::PageBytes() const { return state_->End(); }

std::size_t OrderFieldStream::PeakKeptBytes() const { return state_->peakKept; }

const OrderFieldMarkup& OrderMarkup(OrderField field) {
  return Patterns()[static_cast<std::size_t>(field)].markup;
}

const std::string& OrderPatternText(OrderField field) {
  return Patterns()[static_cast<std::size_t>(field)].text;
}

std::array<std::vector<std::string>, 5> OrderFieldTexts(std::string_view body) {
  const std::string_view page = body.substr(0, body.find('\0'));
  const DashEntities dashes(page);
  std::array<std::vector<std::string>, 5> texts;
  for (OrderField field : kOrderFields)
    texts[static_cast<std::size_t>(field)] = FieldTexts(page, dashes, field);
  return texts;
}

}  // namespace autodeliver
