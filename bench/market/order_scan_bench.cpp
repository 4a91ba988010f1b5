// The order page scan against PCRE2 with its JIT on the same pages, in one
// run: pages of 5,000 and 10,000 orders in the marketplace imitation's
// markup (titles with "&mdash;"), each scanned from the bytes as fetched to
// the paired orders. The reference searches the five patterns as written,
// compiled once with the JIT, over the page without copying it, and
// replaces the entity in the captured texts as the scan does; both must
// yield the same orders. After the table, the ratio scan / PCRE2 per page
// size is printed. The scan of hostile pages of 8 MiB (openers that never
// close) follows, as a time per byte.
//
// The page read as it arrives (OrderPageReader, fed in the 16 KiB pieces a
// transfer hands over) is timed the same way against PCRE2. Last, the peak
// memory of reading large pages as they arrive, never held whole (100,000
// orders, 77 MB; 20 orders and 256 MiB of filler), against the page's size
// and against the whole-page read of the same pages, each in a process of
// its own.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
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

// The page as it arrives: pieces of 16 KiB, the most one transfer callback
// hands over.
constexpr std::size_t kTransferPiece = 16 << 10;

OrderPageScan ReadInPieces(std::string_view page, OrderScanBounds bounds = {}) {
  OrderPageReader reader(bounds);
  for (std::size_t at = 0; at < page.size(); at += kTransferPiece)
    reader.Feed(page.substr(at, kTransferPiece));
  return reader.Finish();
}

void BM_StreamedScan(benchmark::State& state) {
  CompileOrderPatterns();
  const std::string& page = PageOf(static_cast<int>(state.range(0)));
  if (ReadInPieces(page).orders != ReadOrderPage(page).orders) {
    state.SkipWithError("the streamed scan and the whole-page scan found different orders");
    return;
  }
  std::size_t found = 0;
  for (auto _ : state) {
    const OrderPageScan scan = ReadInPieces(page);
    found = scan.orders.size();
    benchmark::DoNotOptimize(scan.orders.data());
  }
  if (found != static_cast<std::size_t>(state.range(0))) state.SkipWithError("orders lost in the scan");
  state.counters["page_MB"] = static_cast<double>(page.size()) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_StreamedScan)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);

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

// The process's peak resident memory in bytes since the last ResetPeak.
std::size_t PeakResident() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Runs `work` in a child process and returns the growth of its peak
// resident memory over what it held before (0 when it cannot be measured).
std::size_t PeakGrowthOf(const std::function<void()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return 0;
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    ResetPeak();
    const std::size_t before = PeakResident();
    work();
    const std::size_t growth = PeakResident() - std::min(before, PeakResident());
    std::fflush(stdout);
    (void)!write(fds[1], &growth, sizeof growth);
    _exit(0);
  }
  close(fds[1]);
  std::size_t growth = 0;
  if (read(fds[0], &growth, sizeof growth) != static_cast<ssize_t>(sizeof growth)) growth = 0;
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return growth;
}

// A large page made as it is read: `repeat` times `block`, between `head`
// and `tail`, handed to `feed` in transfer pieces without ever being whole.
void FeedMadePage(const std::string& head, const std::string& block, std::size_t repeat,
                  const std::string& tail, const std::function<void(std::string_view)>& feed) {
  feed(head);
  for (std::size_t k = 0; k < repeat; ++k) {
    for (std::size_t at = 0; at < block.size(); at += kTransferPiece)
      feed(std::string_view(block).substr(at, kTransferPiece));
  }
  feed(tail);
}

void PrintPeakMemory() {
  struct LargePage {
    const char* name;
    std::string head, block, tail;
    std::size_t repeat;
  };
  const std::string& tenThousand = PageOf(10000);
  const std::vector<testing::OrderBlock> twenty = testing::SomeOrders(20);
  const std::vector<LargePage> pages = {
      {"100,000 orders", "", tenThousand, "", 10},
      {"20 orders, 256 MiB of filler", testing::RenderOrderPage(twenty),
       std::string(std::size_t{1} << 20, ' '), testing::RenderOrderPage(twenty), 256},
  };
  for (const LargePage& p : pages) {
    const std::size_t pageBytes = p.head.size() + p.block.size() * p.repeat + p.tail.size();
    std::size_t orders = 0;
    const std::size_t streamed = PeakGrowthOf([&] {
      OrderPageReader reader;
      FeedMadePage(p.head, p.block, p.repeat, p.tail, [&](std::string_view piece) { reader.Feed(piece); });
      orders = reader.Finish().orders.size();
      std::printf("  %s: %zu orders read as the page arrives, at most %zu page bytes kept\n", p.name, orders,
                  reader.PeakKeptBytes());
    });
    const std::size_t whole = PeakGrowthOf([&] {
      std::string page;
      page.reserve(pageBytes);
      FeedMadePage(p.head, p.block, p.repeat, p.tail, [&](std::string_view piece) { page.append(piece); });
      orders = ReadOrderPage(page).orders.size();
    });
    std::printf(
        "%s, page %.1f MB: peak memory read as it arrives %.1f MB (%.3f of the page), read whole %.1f MB "
        "(%.3f of the page)\n",
        p.name, pageBytes / 1e6, streamed / 1e6, static_cast<double>(streamed) / pageBytes, whole / 1e6,
        static_cast<double>(whole) / pageBytes);
  }
}

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
    const auto streamed = reporter.times.find(std::string("BM_StreamedScan/") + orders);
    if (streamed == reporter.times.end()) continue;
    const auto [streamedCpu, streamedReal] = streamed->second;
    std::printf(
        "%s orders: streamed scan %.2f ms CPU (%.2f real), ratio to PCRE2-JIT %.2f CPU, %.2f real (goal <= "
        "2)\n",
        orders, streamedCpu, streamedReal, streamedCpu / pcre2Cpu, streamedReal / pcre2Real);
  }
  autodeliver::PrintPeakMemory();
  benchmark::Shutdown();
  return 0;
}
