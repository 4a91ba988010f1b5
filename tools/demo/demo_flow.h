// The seller's main job, driven through the program's real window: sign in
// with the embedded browser's form, add a monitored item, import cards,
// switch on the automatic delivery, then place buyer orders on the
// marketplace imitation and follow each order to its fate: seen by the
// delivery cycle, cards delivered to which buyer, message received by the
// IM client imitation, order consigned, or order left waiting and why.
// Every step is printed as it happens.
//
// The flow builds the same program as the program's entry (application.h);
// the environment must already point it at the imitations (AUTODELIVER_DIR,
// the host variables, the IM client imitation running and registered as the
// aliim handler). Message boxes that open during the flow are printed and
// answered with their default button, as a seller would read and close them.
//
// Waits are bounded; nothing is timed by sleeping.
//
// Thread safety: GUI thread only (a QApplication exists). The print
// callback is called from the GUI thread and the delivery thread, one call
// at a time.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace autodeliver {

class ShopContext;
class Application;
}  // namespace autodeliver

namespace autodeliver::demo {

// What becomes of an order.
enum class Fate {
  kPending,          // nothing seen yet
  kConsigned,        // cards delivered, message received, order consigned
  kWaitingForStock,  // left waiting: the stock holds fewer cards than were bought
  kNotMonitored,     // left waiting: its item is not a monitored item
  kNotHanded,        // cards recorded, the message not taken by the IM client: marked for a resend
  kOther,            // any other outcome (printed with its reason)
};
const char* FateName(Fate fate);

struct DemoOrder {
  std::string title;  // UTF-8
  std::string buyer;  // UTF-8
  int quantity = 1;
  Fate expected = Fate::kConsigned;
};

struct DemoCard {
  std::string number;    // UTF-8, as imported
  std::string password;  // UTF-8
};

struct DemoScript {
  std::string itemName;  // the monitored item (UTF-8)
  std::vector<DemoCard> cards;
  int intervalSeconds = 5;        // the shortest interval "设置" accepts
  std::vector<DemoOrder> orders;  // placed one after another
};

// The script the demo and the end-to-end test run: item "点卡10元", five
// cards (the third an online card served by the imitation at
// `marketHost`), and five orders: three delivered, one for more cards than
// the stock holds, one for an unmonitored item.
DemoScript DefaultScript(const std::string& marketHost);

struct DemoSettings {
  std::string marketHost;      // 127.0.0.1:PORT of the marketplace imitation
  std::string transcriptPath;  // the IM client imitation's transcript
  QString screenshotDir;       // where the window pictures go; empty: none
  std::string sellerNick = "测试卖家";
  std::string sellerPassword = "sim123";
  int stepTimeoutMs = 60000;  // bound of every wait
};

struct OrderOutcome {
  DemoOrder order;
  std::string orderNumber;
  Fate fate = Fate::kPending;
  std::string reason;            // why it waits (English)
  std::vector<DemoCard> cards;   // delivered cards (numbers as sent)
  std::string receivedText;      // the IM client's transcript text (UTF-8)
  bool listedAsWaiting = false;  // the imitation still lists it awaiting shipment
  bool shownConsigned = false;   // the imitation shows it consigned
};

struct DemoResult {
  bool completed = false;  // every step ran
  std::string failure;     // the step that did not finish
  std::vector<OrderOutcome> orders;
  std::vector<std::string> boxes;  // message boxes answered: "caption | text"
  std::vector<QString> screenshots;
  // Completed, and every order reached its expected fate.
  bool AllAsExpected() const;
};

using PrintLine = std::function<void(const std::string& utf8Line)>;

class DemoFlow {
 public:
  // The flow on `shop`, which must outlive it.
  DemoFlow(ShopContext& shop, DemoSettings settings, PrintLine print);
  // Closes the window if Close was not called.
  ~DemoFlow();
  DemoFlow(const DemoFlow&) = delete;
  DemoFlow& operator=(const DemoFlow&) = delete;

  // Builds the program, runs the start-up sequence and the script. The
  // window stays open afterwards for a look at it (program()).
  DemoResult Run(const DemoScript& script);
  // The program while it exists (after Run, before Close); null otherwise.
  Application* program();
  // Closes the window as the seller would and ends the program (waiting for
  // a cycle in hand).
  void Close();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace autodeliver::demo
