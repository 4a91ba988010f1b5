// Figures for the log page: 100,000 delivery-log lines written on a
// delivery thread, as a busy shop's cycles write them, with the log page
// attached and shown (offscreen). Measured in the same run:
//
//   - the writing time with the page attached, against the log file alone
//     (the reference: the same lines, the same log, no page);
//   - the longest stall of the window's thread while the lines pour in
//     (the gap between two turns of its event loop), and how many model
//     updates carried the lines over;
//   - the time until the newest line is shown, with a repaint of the view;
//   - the filter over a full ring (a buyer typed, then cleared);
//   - the resident memory the page holds after 20,000 lines (one full ring)
//     and after 100,000 (still one ring), against the same lines all kept
//     (what an unbounded page would hold).
//
//   log_page_bench [lines]      (default 100000)
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "bench_support.h"
#include "delivery/log.h"
#include "pages/log_page.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using bench::Clock;

// Written after every burst: its arrival at the top of the page ends the
// wait.
constexpr char kLastLine[] = "end of burst";

double ResidentMb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The events of order `i` as a cycle writes them: seen, cards taken, message
// handed, consigned; one in five orders waits for stock instead.
void OrderEvents(DeliveryLog& log, int i) {
  const PendingOrder order{std::to_string(2026010500000000LL + i), "游戏点卡 100元 自动发货"_gbk, 2,
                           "买家"_gbk + std::to_string(i % 977), std::to_string(9000000 + i)};
  log.OrderSeen(order);
  if (i % 5 == 4) {
    log.OrderWaiting(order, WaitReason::kStockShort, 1);
    log.OrderSkipped(order, SkipReason::kNotMonitored);
    log.CycleStarted();
    return;
  }
  log.CardsDelivered(order, {{"CARD" + std::to_string(10000000 + i), "secret"},
                             {"CARD" + std::to_string(20000000 + i), "secret"}});
  log.MessageHanded(order, true);
  log.OrderConsigned(order, true);
}

// The log page on widgets of its own, shown.
struct Rig {
  QWidget root;
  QLineEdit* filterBox = new QLineEdit(&root);
  QLabel* count = new QLabel(&root);
  QTableView* view = new QTableView(&root);
  LogPage page{LogPageControls{filterBox, count, view, new QPushButton(&root)}};

  Rig() {
    root.resize(800, 420);
    view->setGeometry(0, 30, 800, 390);
    root.show();
    QCoreApplication::processEvents();
  }
};

struct Burst {
  double writeSeconds = 0;    // the delivery thread's writing
  double shownSeconds = 0;    // until the newest line is in the view, repainted
  double longestStallMs = 0;  // the window thread's longest gap between turns
  int modelUpdates = 0;
};

// Writes `lines` lines on a delivery thread into a log in `dir`, with `rig`
// attached (or none), while the window's thread runs its loop.
Burst Write(const QString& dir, int lines, Rig* rig) {
  QDir().mkpath(dir);
  DeliveryLog::Options options;
  options.path = (dir + "/logs/delivery.log").toStdString();
  DeliveryLog log(options);
  if (!log.ok()) std::fprintf(stderr, "log_page_bench: cannot open the log in %s\n", qPrintable(dir));
  int updates = 0;
  QMetaObject::Connection c1, c2;
  if (rig != nullptr) {
    rig->page.Attach(log);
    c1 = QObject::connect(&rig->page.model(), &QAbstractItemModel::rowsInserted, [&] { ++updates; });
    c2 = QObject::connect(&rig->page.model(), &QAbstractItemModel::modelReset, [&] { ++updates; });
  }
  Burst b;
  std::atomic<bool> done{false};
  const auto start = Clock::now();
  std::thread writer([&] {
    for (int i = 0; i * 4 < lines; ++i) OrderEvents(log, i);
    log.Write(LineLevel::kInfo, kLastLine);
    b.writeSeconds = bench::MsSince(start) / 1000;
    done = true;
  });
  // The window's thread turns its loop meanwhile; the gaps between turns
  // are what the seller would feel.
  QElapsedTimer turn;
  turn.start();
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    b.longestStallMs = std::max(b.longestStallMs, turn.nsecsElapsed() / 1e6);
    turn.restart();
  });
  ticker.start(0);
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  writer.join();
  if (rig != nullptr) {
    while (rig->page.model().rowCount() == 0 || rig->page.model().entry(0).text != QLatin1String(kLastLine)) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    rig->view->viewport()->repaint();
    b.shownSeconds = bench::MsSince(start) / 1000;
    rig->page.Detach();
    QObject::disconnect(c1);
    QObject::disconnect(c2);
  }
  ticker.stop();
  b.modelUpdates = updates;
  return b;
}

double Milliseconds(const std::function<void()>& f) {
  const auto start = Clock::now();
  f();
  return bench::MsSince(start);
}

}  // namespace
}  // namespace autodeliver

int main(int argc, char** argv) {
  using namespace autodeliver;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const int lines = argc > 1 ? std::max(4, std::atoi(argv[1])) : 100000;
  QTemporaryDir dir;

  const double before = ResidentMb();
  Rig rig;
  std::printf("%d lines written on a delivery thread, the page keeps %d (offscreen)\n", lines,
              rig.page.model().capacity());

  // The reference first: the same lines into the log file, no page.
  const Burst reference = Write(dir.path() + "/reference", lines, nullptr);
  const double afterReference = ResidentMb();
  // One full ring, then the whole burst.
  Write(dir.path() + "/ring", rig.page.model().capacity(), &rig);
  const double afterRing = ResidentMb();
  const Burst burst = Write(dir.path() + "/burst", lines, &rig);
  const double afterBurst = ResidentMb();

  std::printf("%-40s %8.0f ms %10.0f lines/s\n", "log file alone (reference)", reference.writeSeconds * 1e3,
              lines / reference.writeSeconds);
  std::printf("%-40s %8.0f ms %10.0f lines/s\n", "log file + page attached", burst.writeSeconds * 1e3,
              lines / burst.writeSeconds);
  bench::PrintRatio("with page / reference", burst.writeSeconds, reference.writeSeconds);
  std::printf("newest line shown (view repainted) after:  %8.0f ms\n", burst.shownSeconds * 1e3);
  std::printf("model updates for the %d lines:         %8d\n", lines, burst.modelUpdates);
  std::printf("longest stall of the window's thread:      %8.1f ms (reference run %.1f ms)\n",
              burst.longestStallMs, reference.longestStallMs);

  LogFilterModel& filter = rig.page.filter();
  const double filterMs = Milliseconds([&] { rig.page.FilterChanged(QStringLiteral("买家976")); });
  const int kept = filter.rowCount();
  const double clearMs = Milliseconds([&] { rig.page.FilterChanged(QString()); });
  const double repaintMs = Milliseconds([&] { rig.view->viewport()->repaint(); });
  std::printf("filter a buyer over %d lines:            %8.1f ms (%d lines kept)\n",
              rig.page.model().rowCount(), filterMs, kept);
  std::printf("clear the filter:                          %8.1f ms\n", clearMs);
  std::printf("repaint of the view:                       %8.1f ms\n", repaintMs);

  // What an unbounded page would hold: every line of the burst kept.
  std::vector<LogEntry> everything;
  {
    QTemporaryDir other;
    QDir().mkpath(other.path() + "/data");
    DeliveryLog::Options otherOptions;
    otherOptions.path = (other.path() + "/data/logs/delivery.log").toStdString();
    DeliveryLog log(otherOptions);
    log.AddLineSink([&](const DeliveryLogLine& line) { everything.push_back(LogEntryOf(line)); });
    for (int i = 0; i * 4 < lines; ++i) OrderEvents(log, i);
  }
  const double afterEverything = ResidentMb();
  std::printf("resident memory: start %.1f MB, after the reference %.1f MB\n", before, afterReference);
  std::printf("page after %d lines (one ring):  +%.1f MB\n", rig.page.model().capacity(),
              afterRing - afterReference);
  std::printf("page after %d more lines:       +%.1f MB (rows kept: %d)\n", lines,
              afterBurst - afterReference, rig.page.model().rowCount());
  std::printf("the same %zu lines all kept:     +%.1f MB more\n", everything.size(),
              afterEverything - afterBurst);
  return 0;
}
