// The order page scan against PCRE2 with its JIT on the same pages, in one
// run: pages of 5,000 and 10,000 orders in the marketplace imitation's
// markup (titles with "&mdash;"), each scanned from the bytes as fetched to
// the paired orders. The reference searches the five patterns as written,
// compiled once with the JIT, over the page without copying it, and
// replaces the entity in the captured texts as the scan does; both must
// yield the same orders. After the table, the ratio scan / PCRE2 per page
// size is printed. The scan of hostile pages of 8 MiB (openers that never
// close) follows, as a time per byte.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "../../tests/market/order_page_fixture.h"
#include "market/order_patterns.h"
#include "market/order_scan.h"
#include "sim_pages.h"
#include "text/text_to_int.h"

namespace autodeliver {
namespace {

using testing::HostileKind;

std::string ImitationPage(int count) {
  std::vector<sim::SimOrder> orders;
  for (int i = 0; i < count; ++i) {
    sim::SimOrder o;
    o.orderNumber = std::to_string(1718000000000 + i);
    o.orderId = std::to_string(17180000000000 + i);
    o.title = sim::Gbk(i % 3 ? "游戏点卡 100元 — 自动发货" : "Q币卡") + std::to_string(i % 7);
    o.quantity = 1 + i % 3;
    o.buyer = sim::Gbk("买家") + std::to_string(i);
    o.seller = sim::Gbk("测试卖家");
    o.placedAt = "2026-01-01 12:00:00";
    orders.push_back(o);
  }
  return sim::OrderListPage(sim::Gbk("测试卖家"), orders, 1, count);
}

const std::string& PageOf(int count) {
  static std::map<int, std::string> pages;
  auto it = pages.find(count);
  if (it == pages.end()) it = pages.emplace(count, ImitationPage(count)).first;
  return it->second;
}

// The five patterns as written, compiled with the JIT ("." matching line
// breaks, as Perl's /s).
class Pcre2Patterns {
 public:
  Pcre2Patterns() {
    for (OrderField field : kOrderFields) {
      const std::string& text = OrderPatternText(field);
      int error = 0;
      PCRE2_SIZE offset = 0;
      pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), PCRE2_DOTALL,
                                       &error, &offset, nullptr);
      if (code && pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
        pcre2_code_free(code);
        code = nullptr;
      }
      codes_[static_cast<std::size_t>(field)] = code;
    }
    data_ = pcre2_match_data_create(4, nullptr);
  }
  ~Pcre2Patterns() {
    for (pcre2_code* code : codes_) pcre2_code_free(code);
    pcre2_match_data_free(data_);
  }
  bool ok() const {
    for (pcre2_code* code : codes_) {
      if (!code) return false;
    }
    return data_ != nullptr;
  }

  // Group 1 of every match, each search starting at the end of the last.
  std::vector<std::string> Groups(OrderField field, std::string_view page) {
    std::vector<std::string> groups;
    pcre2_code* code = codes_[static_cast<std::size_t>(field)];
    PCRE2_SIZE from = 0;
    while (from <= page.size() && pcre2_jit_match(code, reinterpret_cast<PCRE2_SPTR>(page.data()),
                                                  page.size(), from, 0, data_, nullptr) > 0) {
      const PCRE2_SIZE* v = pcre2_get_ovector_pointer(data_);
      groups.push_back(WithDashes(page.substr(v[2], v[3] - v[2])));
      from = v[1] > v[0] ? v[1] : v[0] + 1;
    }
    return groups;
  }

 private:
  static std::string WithDashes(std::string_view text) {
    if (text.find('&') == std::string_view::npos) return std::string(text);
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
      if (text.compare(i, 7, "&mdash;") == 0) {
        out += "\xA1\xAA";
        i += 7;
      } else {
        out += text[i++];
      }
    }
    return out;
  }

  std::array<pcre2_code*, 5> codes_{};
  pcre2_match_data* data_ = nullptr;
};

std::vector<PendingOrder> Pcre2Orders(Pcre2Patterns& patterns, std::string_view body) {
  const std::string_view page = body.substr(0, body.find('\0'));
  std::array<std::vector<std::string>, 5> lists;
  for (OrderField field : kOrderFields) lists[static_cast<std::size_t>(field)] = patterns.Groups(field, page);
  auto& [titles, nicks, numbers, quantities, ids] = lists;
  std::vector<PendingOrder> orders;
  const std::size_t n = titles.size();
  if (nicks.size() != n || numbers.size() != n || quantities.size() != n || ids.size() != n) return orders;
  orders.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    orders.push_back({std::move(numbers[i]), std::move(titles[i]), TextToInt(quantities[i]),
                      std::move(nicks[i]), std::move(ids[i])});
  }
  return orders;
}

void BM_Scan(benchmark::State& state) {
  CompileOrderPatterns();
  const std::string& page = PageOf(static_cast<int>(state.range(0)));
  std::size_t found = 0;
  for (auto _ : state) {
    const OrderPageScan scan = ReadOrderPage(page);
    found = scan.orders.size();
    benchmark::DoNotOptimize(scan.orders.data());
  }
  if (found != static_cast<std::size_t>(state.range(0))) state.SkipWithError("orders lost in the scan");
  state.counters["page_MB"] = static_cast<double>(page.size()) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_Scan)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_Pcre2Jit(benchmark::State& state) {
  Pcre2Patterns patterns;
  if (!patterns.ok()) {
    state.SkipWithError("PCRE2 could not compile the patterns with its JIT");
    return;
  }
  const std::string& page = PageOf(static_cast<int>(state.range(0)));
  if (Pcre2Orders(patterns, page) != ReadOrderPage(page).orders) {
    state.SkipWithError("PCRE2 and the scan found different orders");
    return;
  }
  for (auto _ : state) {
    const std::vector<PendingOrder> orders = Pcre2Orders(patterns, page);
    benchmark::DoNotOptimize(orders.data());
  }
  state.counters["page_MB"] = static_cast<double>(page.size()) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_Pcre2Jit)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The scan of an 8 MiB page of 20 orders with hostile markup of each kind
// before and after them.
void BM_ScanHostilePage(benchmark::State& state) {
  CompileOrderPatterns();
  const std::vector<testing::OrderBlock> orders = testing::SomeOrders(20);
  const std::string markup =
      testing::HostileMarkup(static_cast<HostileKind>(state.range(0)), std::size_t{4} << 20);
  const std::string page = markup + std::string(8192, ' ') + testing::RenderOrderPage(orders, markup);
  OrderPageOutcome outcome = OrderPageOutcome::kRead;
  for (auto _ : state) {
    const OrderPageScan scan = ReadOrderPage(page);
    outcome = scan.outcome;
    benchmark::DoNotOptimize(scan.orders.data());
  }
  state.SetLabel(Describe(outcome));
  state.counters["page_MB"] = static_cast<double>(page.size()) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_ScanHostilePage)
    ->DenseRange(static_cast<int>(HostileKind::kUnclosedQuantity),
                 static_cast<int>(HostileKind::kTitleOpeners))
    ->Unit(benchmark::kMillisecond);

// The console table, and the CPU and real time per iteration of every run
// by name for the ratios (CPU time is the steadier on a busy machine).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred)
        times[run.benchmark_name()] = {run.GetAdjustedCPUTime(), run.GetAdjustedRealTime()};
    }
  }
  std::map<std::string, std::pair<double, double>> times;
};

}  // namespace
}  // namespace autodeliver

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  autodeliver::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* orders : {"5000", "10000"}) {
    const auto scan = reporter.times.find(std::string("BM_Scan/") + orders);
    const auto pcre2 = reporter.times.find(std::string("BM_Pcre2Jit/") + orders);
    if (scan == reporter.times.end() || pcre2 == reporter.times.end()) continue;
    const auto [scanCpu, scanReal] = scan->second;
    const auto [pcre2Cpu, pcre2Real] = pcre2->second;
    std::printf(
        "%s orders: scan %.2f ms CPU (%.2f real), PCRE2-JIT %.2f ms CPU (%.2f real), ratio %.2f CPU, %.2f "
        "real"
        " (goal <= 2)\n",
        orders, scanCpu, scanReal, pcre2Cpu, pcre2Real, scanCpu / pcre2Cpu, scanReal / pcre2Real);
  }
  benchmark::Shutdown();
  return 0;
}
