// Figures for the delivery log: 100,000 lines appended to the log file, as
// a busy shop's cycles would write them (an order seen, its cards taken, the
// message handed, the order consigned), each line worded, time-stamped,
// written and flushed, with the rotation at its program bound. The same
// lines appended with stdio (time stamp by strftime, fwrite and fflush per
// line, one file, no rotation) are the reference, measured in the same run.
// A third run adds a line receiver that keeps the newest 10,000 lines in
// memory, as a log page would.
//
//   log_bench [lines]      (default 100000)
//
// Prints lines per second, microseconds per line and bytes written for each,
// the ratio of the delivery log to the reference, and the peak resident
// memory of the process.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "delivery/log.h"
#include "delivery/wording.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using bench::Clock;

// The events of one order delivered in a cycle, order `i`.
void OrderEvents(DeliveryEvents& log, int i) {
  const PendingOrder order{std::to_string(2026010500000000LL + i), "游戏点卡 100元 自动发货"_gbk, 2,
                           "买家"_gbk + std::to_string(i % 977), std::to_string(9000000 + i)};
  log.OrderSeen(order);
  log.CardsDelivered(order, {{"CARD" + std::to_string(10000000 + i), "secret"},
                             {"CARD" + std::to_string(20000000 + i), "secret"}});
  log.MessageHanded(order, true);
  log.OrderConsigned(order, true);
}

struct Figures {
  double seconds = 0;
  std::uintmax_t bytes = 0;
};

std::uintmax_t FolderBytes(const std::filesystem::path& dir) {
  std::uintmax_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) total += entry.file_size();
  return total;
}

Figures RunDeliveryLog(const std::filesystem::path& dir, int lines, bool withReceiver) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::deque<DeliveryLogLine> page;
  const auto start = Clock::now();
  {
    DeliveryLog::Options options;
    options.path = (dir / "logs" / "delivery.log").string();
    DeliveryLog log(options);
    if (!log.ok()) std::fprintf(stderr, "log_bench: cannot open the log in %s\n", dir.c_str());
    if (withReceiver) {
      log.AddLineSink([&page](const DeliveryLogLine& line) {
        page.push_back(line);
        if (page.size() > 10000) page.pop_front();
      });
    }
    for (int i = 0; i < lines / 4; ++i) OrderEvents(log, i);
  }
  Figures f;
  f.seconds = bench::MsSince(start) / 1000;
  f.bytes = FolderBytes(dir / "logs");
  return f;
}

Figures RunStdio(const std::filesystem::path& dir, int lines) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "plain.log").string();
  // The same texts, worded beforehand would flatter the reference; they are
  // worded here as well.
  const auto start = Clock::now();
  FILE* file = std::fopen(path.c_str(), "ab");
  for (int i = 0; i < lines / 4; ++i) {
    const PendingOrder order{std::to_string(2026010500000000LL + i), "游戏点卡 100元 自动发货"_gbk, 2,
                             "买家"_gbk + std::to_string(i % 977), std::to_string(9000000 + i)};
    const WordedLine worded[] = {
        WordOrderSeen(order),
        WordCardsDelivered(order, {{"CARD" + std::to_string(10000000 + i), "secret"},
                                   {"CARD" + std::to_string(20000000 + i), "secret"}}),
        WordMessageHanded(order, true), WordOrderConsigned(order, true)};
    for (const WordedLine& w : worded) {
      const auto now = std::chrono::system_clock::now();
      const std::time_t t = std::chrono::system_clock::to_time_t(now);
      std::tm local{};
      localtime_r(&t, &local);
      char stamp[40];
      const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
      const int ms = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
      std::snprintf(stamp + n, sizeof stamp - n, ".%03d [信息] ", ms);
      std::fputs(stamp, file);
      std::fwrite(w.text.data(), 1, w.text.size(), file);
      std::fputc('\n', file);
      std::fflush(file);
    }
  }
  std::fclose(file);
  Figures f;
  f.seconds = bench::MsSince(start) / 1000;
  f.bytes = std::filesystem::file_size(path);
  return f;
}

// The best of three runs.
template <typename Run>
Figures Best(Run run) {
  Figures best;
  for (int i = 0; i < 3; ++i) {
    const Figures f = run();
    if (i == 0 || f.seconds < best.seconds) best = f;
  }
  return best;
}

void Print(const char* name, const Figures& f, int lines) {
  std::printf("%-34s %10.0f lines/s %8.2f us/line %10.1f MB written\n", name, lines / f.seconds,
              f.seconds * 1e6 / lines, static_cast<double>(f.bytes) / 1e6);
}

}  // namespace
}  // namespace autodeliver

int main(int argc, char** argv) {
  using namespace autodeliver;
  const int lines = argc > 1 ? std::max(4, std::atoi(argv[1])) : 100000;
  const bench::TempFolder folder;
  const std::filesystem::path dir = folder.path();
  std::printf("%d lines appended, each flushed (best of 3)\n", lines);
  const Figures reference = Best([&] { return RunStdio(dir, lines); });
  const Figures log = Best([&] { return RunDeliveryLog(dir, lines, false); });
  const Figures withPage = Best([&] { return RunDeliveryLog(dir, lines, true); });
  Print("stdio fwrite+fflush (reference)", reference, lines);
  Print("delivery log (spdlog, rotating)", log, lines);
  Print("delivery log + 10,000-line page", withPage, lines);
  bench::PrintRatio("delivery log / reference", log.seconds, reference.seconds);
  bench::PrintRatio("with page / reference", withPage.seconds, reference.seconds);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak resident memory: %.1f MB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
