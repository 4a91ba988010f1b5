// The order page parse (dash replacement, five pattern searches, pairing)
// on pages of 10, 1,000 and 10,000 orders.
#include <benchmark/benchmark.h>

#include "../../tests/market/order_page_fixture.h"
#include "market/order_scan.h"

namespace autodeliver {
namespace {

std::string PageOf(int orders) {
  std::vector<testing::OrderBlock> blocks;
  for (int i = 0; i < orders; ++i) {
    const std::string n = std::to_string(100000 + i);
    blocks.push_back({"20121120" + n, "游戏点卡 100元 &mdash; 自动发货 "_gbk + std::to_string(i % 7),
                      std::to_string(1 + i % 3), "买家"_gbk + n, "9" + n});
  }
  return testing::RenderOrderPage(blocks);
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
BENCHMARK(BM_ScanOrderPage)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace autodeliver

BENCHMARK_MAIN();
