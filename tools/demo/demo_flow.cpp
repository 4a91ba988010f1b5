// The seller's main job through the real window; see demo_flow.h.
#include "demo_flow.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "app/application.h"
#include "app/layout_names.h"
#include "app/login_browser.h"
#include "delivery/events.h"
#include "delivery/wording.h"
#include "http/http_request.h"
#include "http/url.h"
#include "pages/import_preview_dialog.h"
#include "text/gbk.h"

namespace autodeliver::demo {
namespace {

QString QFromUtf8(const std::string& utf8) { return QString::fromStdString(utf8); }
std::string Utf8FromGbk(const std::string& gbk) { return GbkToUtf8Lossy(gbk); }

// The buyer's message as the program builds it (UTF-8).
std::string ExpectedMessage(const std::string& item, const std::vector<DemoCard>& cards) {
  std::string text = "您购买的 " + item + " 卡号信息如下\r\n\r\n";
  for (const DemoCard& card : cards) text += "卡号：" + card.number + " 卡密：" + card.password + "\r\n";
  return text;
}

std::string CardList(const std::vector<DemoCard>& cards) {
  std::string text;
  for (const DemoCard& card : cards) text += (text.empty() ? "" : ", ") + card.number + " / " + card.password;
  return text;
}

std::string Indented(const std::string& text) {
  std::string out = "      | ";
  for (char c : text) {
    if (c == '\r') continue;
    out += c;
    if (c == '\n') out += "      | ";
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '|')) out.pop_back();
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// `text` as a JavaScript string literal.
QString JsString(const std::string& text) {
  const QByteArray array = QJsonDocument(QJsonArray{QFromUtf8(text)}).toJson(QJsonDocument::Compact);
  return QString::fromUtf8(array.mid(1, array.size() - 2));  // without the brackets
}

// Waits for `condition` while the event loop runs, for at most `ms`.
bool WaitFor(const std::function<bool()>& condition, int ms) { return QTest::qWaitFor(condition, ms); }

// What the delivery cycle reported of one order.
struct CycleRecord {
  bool seen = false;
  bool finished = false;  // a fate was reported (delivered and messaged, waiting or passed by)
  bool handed = false;
  bool consignAnswered = false;
  std::optional<WaitReason> waitReason;
  std::optional<SkipReason> skipReason;
  int stockLeft = 0;
  std::vector<DemoCard> cards;
};

}  // namespace

const char* FateName(Fate fate) {
  switch (fate) {
    case Fate::kPending:
      return "no fate reached";
    case Fate::kConsigned:
      return "delivered and consigned";
    case Fate::kWaitingForStock:
      return "left waiting for stock";
    case Fate::kNotMonitored:
      return "left waiting, item not monitored";
    case Fate::kNotHanded:
      return "cards recorded, message not taken by the IM client, marked for a resend";
    case Fate::kOther:
      return "another outcome";
  }
  return "unknown";
}

bool DemoResult::AllAsExpected() const {
  if (!completed) return false;
  for (const OrderOutcome& o : orders) {
    if (o.fate != o.order.expected) return false;
  }
  return true;
}

DemoScript DefaultScript(const std::string& marketHost) {
  DemoScript script;
  script.itemName = "点卡10元";
  script.cards = {{"DK1001", "pw-aa01"},
                  {"DK1002", "pw-aa02"},
                  {"http://" + marketHost + "/card/DK1003-ONLINE", "pw-aa03"},
                  {"DK1004", "pw-aa04"},
                  {"DK1005", "pw-aa05"}};
  script.intervalSeconds = 5;  // the shortest interval "设置" accepts
  script.orders = {{"点卡10元", "买家甲", 1, Fate::kConsigned},
                   {"点卡10元", "买家乙", 2, Fate::kConsigned},
                   {"点卡10元", "买家丙", 5, Fate::kWaitingForStock},
                   {"游戏月卡", "买家丁", 1, Fate::kNotMonitored},
                   {"点卡10元", "买家戊", 1, Fate::kConsigned}};
  return script;
}

// ---- the observer of the delivery cycle

class FlowEvents : public DeliveryEvents {
 public:
  explicit FlowEvents(std::function<void(const std::string&)> print) : print_(std::move(print)) {}

  // The steps are printed in the delivery log's own words (no card
  // password, card numbers shortened); a fate that repeats in later cycles
  // is printed once.
  void OrderSeen(const PendingOrder& o) override {
    std::lock_guard<std::mutex> lock(mutex_);
    CycleRecord& r = records_[o.orderNumber];
    if (r.seen) return;
    r.seen = true;
    Step(WordOrderSeen(o));
  }
  void OrderSkipped(const PendingOrder& o, SkipReason reason) override {
    std::lock_guard<std::mutex> lock(mutex_);
    CycleRecord& r = records_[o.orderNumber];
    const bool news = !r.skipReason || *r.skipReason != reason;
    r.skipReason = reason;
    r.finished = true;
    if (news) Step(WordOrderSkipped(o, reason));
  }
  void OrderWaiting(const PendingOrder& o, WaitReason reason, int stockLeft) override {
    std::lock_guard<std::mutex> lock(mutex_);
    CycleRecord& r = records_[o.orderNumber];
    const bool news = !r.waitReason || *r.waitReason != reason;
    r.waitReason = reason;
    r.stockLeft = stockLeft;
    r.finished = true;
    if (news) Step(WordOrderWaiting(o, reason, stockLeft));
  }
  void CardsDelivered(const PendingOrder& o, const std::vector<DeliveredCard>& cards) override {
    std::lock_guard<std::mutex> lock(mutex_);
    CycleRecord& r = records_[o.orderNumber];
    for (const DeliveredCard& c : cards)
      r.cards.push_back({Utf8FromGbk(c.cardNumber), Utf8FromGbk(c.cardPassword)});
    Step(WordCardsDelivered(o, cards));
  }
  void StockAfterDelivery(const PendingOrder& o, int cardsLeft) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Step(WordStockAfterDelivery(o, cardsLeft));
  }
  void MessageHanded(const PendingOrder& o, bool handed) override {
    std::lock_guard<std::mutex> lock(mutex_);
    CycleRecord& r = records_[o.orderNumber];
    r.handed = handed;
    if (!handed) r.finished = true;
    Step(WordMessageHanded(o, handed));
  }
  void OrderConsigned(const PendingOrder& o, bool answered) override {
    std::lock_guard<std::mutex> lock(mutex_);
    CycleRecord& r = records_[o.orderNumber];
    r.consignAnswered = answered;
    r.finished = true;
    Step(WordOrderConsigned(o, answered));
  }
  void LoginStateChanged(bool looksExpired) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Step(WordLoginStateChanged(looksExpired));
  }

  CycleRecord Record(const std::string& orderNumber) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(orderNumber);
    return it == records_.end() ? CycleRecord() : it->second;
  }

 private:
  void Step(const WordedLine& line) {
    print_(std::string("  [delivery] ") + (line.level == LineLevel::kWarning ? "[警告] " : "") + line.text);
  }

  std::function<void(const std::string&)> print_;
  std::mutex mutex_;
  std::map<std::string, CycleRecord> records_;
};

// ---- the flow

struct DemoFlow::State {
  ShopContext* shop = nullptr;  // the flow's; outlives it
  DemoSettings settings;
  std::mutex printMutex;
  PrintLine print;
  std::unique_ptr<FlowEvents> events;
  std::unique_ptr<Application> program;
  QTimer boxWatcher;
  DemoResult result;
  int shot = 0;

  void Print(const std::string& line) {
    std::lock_guard<std::mutex> lock(printMutex);
    print(line);
  }

  // ---- the imitations

  std::string SimGet(const std::string& path, const std::map<std::string, std::string>& params = {}) {
    std::string query;
    for (const auto& [k, v] : params) query += (query.empty() ? "?" : "&") + k + "=" + PercentEncode(v);
    // A cookie of its own, so the program's login cookies are neither sent
    // nor touched.
    return HttpRequest("http://" + settings.marketHost + path + query, "GET", {}, "demo=1");
  }

  // Order numbers in the state's "orders" (awaiting shipment) or
  // "consigned" list.
  std::set<std::string> SimOrders(const char* list) {
    std::set<std::string> numbers;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(SimGet("/_sim/state")));
    for (const QJsonValue& v : doc.object().value(QLatin1String(list)).toArray()) {
      numbers.insert(v.toObject().value(QStringLiteral("orderNumber")).toString().toStdString());
    }
    return numbers;
  }

  // The texts the IM client imitation received for `buyer`, in order.
  std::vector<std::string> Received(const std::string& buyer) {
    std::vector<std::string> texts;
    QFile file(QString::fromStdString(settings.transcriptPath));
    if (!file.open(QIODevice::ReadOnly)) return texts;
    for (const QByteArray& line : file.readAll().split('\n')) {
      const QJsonObject entry = QJsonDocument::fromJson(line).object();
      if (entry.value(QStringLiteral("buyer")).toString().toStdString() != buyer) continue;
      texts.push_back(entry.value(QStringLiteral("text")).toString().toStdString());
    }
    return texts;
  }

  // ---- the window

  MainWindow& Window() { return program->window(); }
  template <typename T>
  T* Find(const char* name) {
    return Window().findChild<T*>(QString::fromUtf8(name));
  }
  void ShowPage(int index) {
    if (auto* tabs = Find<QTabWidget>(layout::kPageControl)) tabs->setCurrentIndex(index);
  }

  void Screenshot(const char* name, const std::string& what) {
    if (settings.screenshotDir.isEmpty()) return;
    // Let the window paint what changed before the picture is taken.
    QCoreApplication::processEvents();
    const QString path =
        settings.screenshotDir + QStringLiteral("/%1-%2.png").arg(++shot, 2, 10, QLatin1Char('0')).arg(name);
    if (Window().grab().save(path)) {
      result.screenshots.push_back(path);
      Print("[picture] " + path.toStdString() + " (" + what + ")");
    } else {
      Print("[picture] could not save " + path.toStdString());
    }
  }

  // The seller clicks into a box: its focus handling runs (the hint text
  // goes away).
  static void ClickInto(QWidget* box) {
    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(box, &in);
  }
  // Types `text` key by key; characters without a key of their own arrive
  // as the text of a key event, as an input method hands them over.
  static void Type(QWidget* widget, const QString& text) {
    for (QChar ch : text) {
      if (ch.unicode() >= 0x20 && ch.unicode() < 0x7f) {
        QTest::keyClick(widget, ch.toLatin1());
      } else {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
      }
    }
  }

  // Message boxes are read and closed as a seller would.
  void AnswerBoxes() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    const std::string line = box->windowTitle().toStdString() + " | " + box->text().toStdString();
    result.boxes.push_back(line);
    Print("[box] " + line + " -> answered with its default button");
    if (QAbstractButton* button = box->defaultButton()) {
      button->click();
    } else {
      box->accept();
    }
  }

  bool Fail(const std::string& step) {
    result.failure = step;
    Print("[failed] " + step);
    return false;
  }

  // ---- the steps

  bool SignIn() {
    LoginBrowserHost* browser = Window().LoginBrowser();
    if (!browser) return Fail("the login browser is missing");
    // The page is ready once its sign-in form is there.
    auto ready = std::make_shared<int>(0);  // 0 unknown, 1 asked, 2 ready
    const bool loaded = WaitFor(
        [&] {
          if (*ready == 0 && browser->embedded()) {
            *ready = 1;
            browser->RunScript(QStringLiteral("!!document.querySelector('[name=TPL_password]')"),
                               [ready](const QJsonValue& v) { *ready = v.toBool() ? 2 : 0; });
          }
          return *ready == 2;
        },
        settings.stepTimeoutMs);
    if (!loaded) return Fail("the sign-in form did not appear in the login browser");
    Print("[sign-in] the login browser shows the marketplace's sign-in form at " +
          browser->url().toString().toStdString());
    Screenshot("sign-in-page", "the window before sign-in");

    Print("[sign-in] signing in as " + settings.sellerNick + " in the embedded browser's form");
    const QString script = QStringLiteral(
                               "document.querySelector('[name=TPL_username]').value = %1;"
                               "document.querySelector('[name=TPL_password]').value = %2;"
                               "document.querySelector('[name=TPL_username]').form.submit();")
                               .arg(JsString(settings.sellerNick), JsString(settings.sellerPassword));
    browser->RunScript(script);
    if (!WaitFor([&] { return Window().PagesPrepared(); }, settings.stepTimeoutMs)) {
      return Fail("the sign-in was not recognised");
    }
    auto* tabs = Find<QTabWidget>(layout::kPageControl);
    Print("[sign-in] signed in; the first page now reads \"" + tabs->tabText(0).toStdString() + "\"");
    Screenshot("signed-in", "the window after sign-in");
    return true;
  }

  bool AddItem(const std::string& name) {
    ShowPage(0);
    auto* nameBox = Find<QLineEdit>(layout::kNameBox);
    auto* addButton = Find<QPushButton>(layout::kAddButton);
    auto* itemsList = Find<QTreeWidget>(layout::kItemsList);
    if (!nameBox || !addButton || !itemsList) return Fail("the items page controls are missing");
    ClickInto(nameBox);
    nameBox->selectAll();
    Type(nameBox, QFromUtf8(name));
    addButton->click();
    const bool listed =
        WaitFor([&] { return !itemsList->findItems(QFromUtf8(name), Qt::MatchExactly, 0).isEmpty(); }, 5000);
    if (!listed) return Fail("the item \"" + name + "\" did not appear in the monitored items");
    Print("[items] \"" + name + "\" typed into the name box and added: " +
          std::to_string(itemsList->topLevelItemCount()) + " monitored item(s)");
    return true;
  }

  bool ImportCards(const DemoScript& script) {
    ShowPage(2);
    auto* chooser = Find<QComboBox>(layout::kItemChooser);
    auto* importBox = Find<QPlainTextEdit>(layout::kImportBox);
    auto* importButton = Find<QPushButton>(layout::kImportButton);
    auto* stockList = Find<QTreeView>(layout::kStockList);
    if (!chooser || !importBox || !importButton || !stockList)
      return Fail("the card page controls are missing");
    const int target = chooser->findText(QFromUtf8(script.itemName));
    if (target < 0) return Fail("the item is not in the item chooser");
    // Chosen with the keyboard, as the chooser reports a seller's choice.
    if (chooser->currentIndex() < 0) QTest::keyClick(chooser, Qt::Key_Down);
    while (chooser->currentIndex() < target) QTest::keyClick(chooser, Qt::Key_Down);
    while (chooser->currentIndex() > target) QTest::keyClick(chooser, Qt::Key_Up);
    if (chooser->currentIndex() != target) return Fail("the item could not be chosen");

    QString lines;
    for (const DemoCard& card : script.cards)
      lines += QFromUtf8(card.number + " " + card.password) + QLatin1Char('\n');
    ClickInto(importBox);
    importBox->insertPlainText(lines);  // pasted
    importButton->click();
    // The preview says what will be imported; the demo imports it.
    if (!WaitFor([&] { return program->pages().stock.preview() != nullptr; }, settings.stepTimeoutMs))
      return Fail("the import preview did not show");
    ImportPreviewDialog* preview = program->pages().stock.preview();
    Print("[cards] the preview will import " + std::to_string(preview->cardsToImport()) + " card(s)");
    preview->accept();
    const int wanted = static_cast<int>(script.cards.size());
    const bool done = WaitFor(
        [&] {
          return !program->pages().stock.importRunning() && stockList->model() &&
                 stockList->model()->rowCount() == wanted;
        },
        settings.stepTimeoutMs);
    if (!done) return Fail("the card import did not put every card into the stock");
    Print("[cards] chose \"" + script.itemName + "\", pasted " + std::to_string(wanted) +
          " card lines and imported them: the stock list shows " +
          std::to_string(stockList->model()->rowCount()) + " cards");
    for (const DemoCard& card : script.cards) Print("      " + card.number + " " + card.password);
    Screenshot("card-stock", "the card page after the import");
    return true;
  }

  bool SwitchOnDelivery(int seconds) {
    ShowPage(0);
    auto* switchBox = Find<QCheckBox>(layout::kDeliverySwitch);
    auto* intervalBox = Find<QLineEdit>(layout::kIntervalBox);
    auto* applyButton = Find<QPushButton>(layout::kApplyButton);
    auto* status = Find<QLabel>(layout::kStatusLabel);
    if (!switchBox || !intervalBox || !applyButton || !status) return Fail("the delivery switch is missing");
    if (!switchBox->isChecked()) switchBox->click();
    if (!intervalBox->isEnabled()) return Fail("the interval box stayed disabled");
    ClickInto(intervalBox);
    intervalBox->selectAll();
    Type(intervalBox, QString::number(seconds));
    applyButton->click();
    if (!WaitFor([&] { return status->text().startsWith(QStringLiteral("自动发货扫描时间")); }, 5000)) {
      return Fail("the delivery did not switch on");
    }
    Print("[delivery] switched on: \"" + status->text().toStdString() + "\"");
    return true;
  }

  bool FollowOrder(const DemoScript& script, const DemoOrder& order) {
    OrderOutcome outcome;
    outcome.order = order;
    const std::string answer = SimGet(
        "/_sim/place_order",
        {{"title", order.title}, {"quantity", std::to_string(order.quantity)}, {"buyer", order.buyer}});
    outcome.orderNumber = QJsonDocument::fromJson(QByteArray::fromStdString(answer))
                              .object()
                              .value(QStringLiteral("orderNumber"))
                              .toString()
                              .toStdString();
    if (outcome.orderNumber.empty()) {
      result.orders.push_back(outcome);
      return Fail("the marketplace imitation refused the order: " + answer);
    }
    const std::string& number = outcome.orderNumber;
    Print("");
    Print("[buyer] " + order.buyer + " orders \"" + order.title + "\" x" + std::to_string(order.quantity) +
          " on the marketplace: order " + number);

    if (!WaitFor([&] { return events->Record(number).finished; }, settings.stepTimeoutMs)) {
      result.orders.push_back(outcome);
      return Fail("the delivery cycle reached no fate for order " + number);
    }
    const CycleRecord record = events->Record(number);
    outcome.cards = record.cards;
    if (record.skipReason) {
      outcome.fate = *record.skipReason == SkipReason::kNotMonitored ? Fate::kNotMonitored : Fate::kOther;
      outcome.reason = Describe(*record.skipReason);
    } else if (record.waitReason) {
      outcome.fate = *record.waitReason == WaitReason::kStockShort ? Fate::kWaitingForStock : Fate::kOther;
      outcome.reason = Describe(*record.waitReason);
    } else if (!record.handed && !record.cards.empty()) {
      outcome.fate = Fate::kNotHanded;
      outcome.reason = "the message was not handed over";
    } else if (!record.handed || !record.consignAnswered) {
      outcome.fate = Fate::kOther;
      outcome.reason = record.handed ? "the shipment got no answer" : "the message was not handed over";
    }

    if (!record.cards.empty() && outcome.fate != Fate::kNotHanded) {
      // The buyer's side: the IM client shows the message.
      const std::string expected = ExpectedMessage(order.title, record.cards);
      const bool received = WaitFor(
          [&] {
            for (const std::string& text : Received(order.buyer)) {
              if (text == expected) return true;
            }
            return false;
          },
          settings.stepTimeoutMs);
      const std::vector<std::string> texts = Received(order.buyer);
      outcome.receivedText = texts.empty() ? std::string() : texts.back();
      if (received) {
        Print("  [IM client] " + order.buyer + " received from " + settings.sellerNick + ":");
        Print(Indented(expected));
      } else {
        outcome.fate = Fate::kOther;
        outcome.reason = "the IM client did not receive the message";
        Print("  [IM client] no message for " + order.buyer + " arrived");
      }
    }

    if (outcome.fate == Fate::kPending) {
      outcome.shownConsigned =
          WaitFor([&] { return SimOrders("consigned").count(number) > 0; }, settings.stepTimeoutMs);
      if (outcome.shownConsigned) {
        outcome.fate = Fate::kConsigned;
        Print("  [marketplace] order " + number + " is shown as consigned (shipped)");
      } else {
        outcome.fate = Fate::kOther;
        outcome.reason = "the marketplace does not show it consigned";
      }
    } else {
      outcome.listedAsWaiting = SimOrders("orders").count(number) > 0;
      Print("  [marketplace] order " + number +
            (outcome.listedAsWaiting ? " is still listed as awaiting shipment" : " is NOT listed any more"));
    }
    Print("  => order " + number + ": " + FateName(outcome.fate) +
          (outcome.reason.empty() ? "" : " (" + outcome.reason + ")") +
          (outcome.fate == order.expected ? ""
                                          : std::string("  [expected: ") + FateName(order.expected) + "]"));
    result.orders.push_back(outcome);
    return true;
  }

  // After the last order: the waiting orders are still waiting a cycle
  // later, the pages show the deliveries.
  bool Settle(const DemoScript& script) {
    std::size_t delivered = 0;
    for (const OrderOutcome& o : result.orders) delivered += o.cards.size();
    auto* grid = Find<QTableView>(layout::kSentCardsGrid);
    if (!grid) return Fail("the sent-cards grid is missing");
    if (!WaitFor([&] { return grid->model() && grid->model()->rowCount() == static_cast<int>(delivered); },
                 settings.stepTimeoutMs)) {
      return Fail("the sent-cards grid does not show the delivered cards");
    }
    const std::set<std::string> listed = SimOrders("orders");
    const std::set<std::string> consigned = SimOrders("consigned");
    for (OrderOutcome& o : result.orders) {
      o.listedAsWaiting = listed.count(o.orderNumber) > 0;
      o.shownConsigned = consigned.count(o.orderNumber) > 0;
      const bool consistent = o.fate == Fate::kConsigned ? o.shownConsigned && !o.listedAsWaiting
                                                         : o.listedAsWaiting && !o.shownConsigned;
      if (!consistent && o.fate != Fate::kOther) {
        o.fate = Fate::kOther;
        o.reason = "the marketplace changed its view of the order";
      }
    }
    ShowPage(0);
    Screenshot("delivery-on", "the first page with the delivery switched on");
    ShowPage(1);
    Screenshot("sent-cards", "the sent-cards page after the deliveries");
    ShowPage(2);
    Screenshot("card-stock-left", "the card page with the stock left");
    ShowPage(3);
    Screenshot("delivery-log", "the log page after the deliveries");
    ShowPage(0);
    auto* stockList = Find<QTreeView>(layout::kStockList);
    Print("");
    Print("[seller] the sent-cards grid shows " + std::to_string(grid->model()->rowCount()) +
          " delivered card(s); the stock of \"" + script.itemName + "\" holds " +
          std::to_string(stockList && stockList->model() ? stockList->model()->rowCount() : -1) + " card(s)");
    return true;
  }
};

DemoFlow::DemoFlow(ShopContext& shop, DemoSettings settings, PrintLine print)
    : s_(std::make_unique<State>()) {
  s_->shop = &shop;
  s_->settings = std::move(settings);
  s_->print = std::move(print);
}

DemoFlow::~DemoFlow() { Close(); }

Application* DemoFlow::program() { return s_->program.get(); }

void DemoFlow::Close() {
  if (!s_->program) return;
  s_->Print("[window] closing the window");
  s_->program->window().close();
  s_->program.reset();
  s_->boxWatcher.stop();
}

DemoResult DemoFlow::Run(const DemoScript& script) {
  State& s = *s_;
  s.result = DemoResult();
  if (!s.settings.screenshotDir.isEmpty()) QDir().mkpath(s.settings.screenshotDir);
  s.events = std::make_unique<FlowEvents>([this](const std::string& line) { s_->Print(line); });
  QObject::connect(&s.boxWatcher, &QTimer::timeout, [this] { s_->AnswerBoxes(); });
  s.boxWatcher.start(100);

  s.Print("[start] the program starts against the marketplace at http://" + s.settings.marketHost + "/");
  s.program = std::make_unique<Application>(*s.shop, s.events.get());
  if (!s.program->Start()) {
    s.Fail("the start-up sequence ended the program");
    return s.result;
  }
  s.Print("[start] the window is up: \"" + s.program->window().windowTitle().toStdString() + "\"");

  bool ok = s.SignIn() && s.AddItem(script.itemName) && s.ImportCards(script) &&
            s.SwitchOnDelivery(script.intervalSeconds);
  for (std::size_t i = 0; ok && i < script.orders.size(); ++i) ok = s.FollowOrder(script, script.orders[i]);
  if (ok) ok = s.Settle(script);
  s.result.completed = ok;

  s.Print("");
  s.Print("[summary]");
  for (const OrderOutcome& o : s.result.orders) {
    s.Print(
        "  order " + o.orderNumber + "  " + o.order.buyer + "  \"" + o.order.title + "\" x" +
        std::to_string(o.order.quantity) + ": " + FateName(o.fate) +
        (o.reason.empty() ? "" : " (" + o.reason + ")") +
        (o.cards.empty() ? "" : ", cards " + CardList(o.cards)) +
        (o.fate == o.order.expected ? "" : "  [expected: " + std::string(FateName(o.order.expected)) + "]"));
  }
  s.Print(s.result.AllAsExpected() ? "[summary] every order reached its expected fate"
                                   : "[summary] NOT every order reached its expected fate" +
                                         (s.result.failure.empty() ? "" : ": " + s.result.failure));
  return s.result;
}

}  // namespace autodeliver::demo
