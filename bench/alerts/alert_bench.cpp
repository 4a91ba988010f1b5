// What telling the alert channels costs the thread that delivers: the
// time of AlertSender::Notify while every channel takes `kChannelMs` to
// answer, against the time of sending the same alert in the caller's
// thread (what the delivery would wait without the queue). Prints both and
// their ratio.
//
//   alert_bench
#include <chrono>
#include <cstdio>
#include <thread>

#include "alerts/alert_sender.h"
#include "bench_support.h"

using namespace autodeliver;
using bench::Clock;

namespace {

constexpr int kChannelMs = 20;
constexpr int kAlerts = 2000;

ChannelAnswer SlowChannel(const AlertChannel&, const Alert&) {
  std::this_thread::sleep_for(std::chrono::milliseconds(kChannelMs));
  return {true, "HTTP 200"};
}

}  // namespace

int main() {
  AlertSender::Hooks hooks;
  hooks.settings = [] {
    AlertSettings s;
    for (AlertChannel& c : s.channels) {
      c.enabled = c.kind != AlertChannelKind::kMail;
      c.url = "https://hook.example/x";
    }
    return s;
  };
  hooks.send = SlowChannel;
  AlertSender sender(hooks);

  // Each alert about another item, so none is held back as a repeat; the
  // queue fills after the first few and the rest are dropped at once, as
  // they would be under a flood.
  const auto start = Clock::now();
  for (int i = 0; i < kAlerts; ++i) {
    sender.Notify(
        {NotificationKind::kStockWarning, "库存预警", "宝贝库存只剩 0 张", "item-" + std::to_string(i)});
  }
  const double notifyUs = bench::MsSince(start) * 1000 / kAlerts;

  // The reference: one alert sent in the caller's thread to the four channels.
  const AlertSettings settings = hooks.settings();
  Alert alert{"stock_warning", "item", "库存预警", "宝贝库存只剩 0 张", "小店", 0};
  const auto inline0 = Clock::now();
  for (const AlertChannel& c : settings.channels) {
    if (c.Usable()) SlowChannel(c, alert);
  }
  const double inlineUs = bench::MsSince(inline0) * 1000;

  std::printf("Notify, mean of %d alerts:        %10.2f us\n", kAlerts, notifyUs);
  std::printf("sent in the caller's thread:      %10.2f us (4 channels x %d ms)\n", inlineUs, kChannelMs);
  std::printf("ratio (caller's thread / Notify): %10.0f\n", inlineUs / notifyUs);
  std::printf("queued %d, dropped %d at the full queue\n", kAlerts - sender.dropped(), sender.dropped());
  return 0;
}
