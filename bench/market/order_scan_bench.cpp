// The order page parse (dash replacement, five pattern searches, pairing)
// on pages of 10, 1,000 and 5,000 orders, and on hostile pages of the
// largest accepted size (4 MiB), whose markup makes a plain whole-page
// search of the patterns take minutes. For reference, the plain search is
// timed on the unclosed-quantity page at 64 KiB; the ratio of its time per
// byte to the bounded scan's on the 4 MiB hostile page is printed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "../../tests/market/order_page_fixture.h"
#include "market/order_patterns.h"
#include "market/order_scan.h"
#include "market/regex_matches.h"

namespace autodeliver {
namespace {

using testing::HostileKind;

std::string PageOf(int orders) {
  std::vector<testing::OrderBlock> blocks;
  for (int i = 0; i < orders; ++i) {
    const std::string n = std::to_string(100000 + i);
    blocks.push_back({"20121120" + n, "游戏点卡 100元 &mdash; 自动发货 "_gbk + std::to_string(i % 7),
                      std::to_string(1 + i % 3), "买家"_gbk + n, "9" + n});
  }
  return testing::RenderOrderPage(blocks);
}

std::string HostilePage(HostileKind kind, std::size_t bytes) {
  const std::vector<testing::OrderBlock> orders = testing::SomeOrders(20);
  const std::size_t room = bytes - testing::RenderOrderPage(orders).size();
  return testing::RenderOrderPage(orders, testing::HostileMarkup(kind, room));
}

void BM_ScanOrderPage(benchmark::State& state) {
  CompileOrderPatterns();
  const std::string page = PageOf(static_cast<int>(state.range(0)));
  std::size_t found = 0;
  for (auto _ : state) {
    const std::vector<PendingOrder> orders = ParseOrderPage(PrepareOrderPage(page));
    found = orders.size();
    benchmark::DoNotOptimize(orders.data());
  }
  if (found != static_cast<std::size_t>(state.range(0))) state.SkipWithError("orders lost in the parse");
  state.counters["page_bytes"] = static_cast<double>(page.size());
  state.counters["orders"] = static_cast<double>(found);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_ScanOrderPage)->Arg(10)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

// The bounded scan of a 4 MiB hostile page of each kind.
void BM_ScanHostilePage(benchmark::State& state) {
  CompileOrderPatterns();
  const std::string page = HostilePage(static_cast<HostileKind>(state.range(0)), kOrderPageLimit);
  OrderPageOutcome outcome = OrderPageOutcome::kRead;
  for (auto _ : state) {
    const OrderPageScan scan = ReadOrderPage(PrepareOrderPage(page));
    outcome = scan.outcome;
    benchmark::DoNotOptimize(scan.orders.data());
  }
  state.SetLabel(Describe(outcome));
  state.counters["page_bytes"] = static_cast<double>(page.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_ScanHostilePage)
    ->DenseRange(static_cast<int>(HostileKind::kUnclosedQuantity),
                 static_cast<int>(HostileKind::kTitleOpeners))
    ->Unit(benchmark::kMillisecond);

// The whole-page search of the five patterns as written (the scan before
// it was bounded) on the unclosed-quantity page of 64 KiB, once.
void BM_WholePageSearchUnclosedQuantity64K(benchmark::State& state) {
  const std::string page = PrepareOrderPage(HostilePage(HostileKind::kUnclosedQuantity, 64 << 10));
  for (auto _ : state) {
    std::size_t matches = 0;
    for (OrderField field : kOrderFields) {
      matches += AllGroupOneMatches(boost::regex(OrderPatternText(field), boost::regex::perl), page).size();
    }
    benchmark::DoNotOptimize(matches);
  }
  state.counters["page_bytes"] = static_cast<double>(page.size());
}
BENCHMARK(BM_WholePageSearchUnclosedQuantity64K)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace autodeliver

BENCHMARK_MAIN();
