// The sent-cards page; see sent_cards_page.h.
#include "pages/sent_cards_page.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <algorithm>

#include "delivery/controller.h"
#include "delivery/order_rules.h"
#include "delivery/wording.h"
#include "pages/column_widths.h"
#include "pages/list_models.h"
#include "pages/qt_text.h"
#include "pages/sent_cards_filter.h"
#include "service/prompts.h"
#include "store/sent_table.h"
#include "store/undelivered_orders.h"

namespace autodeliver {

namespace {

constexpr int kLastColumn = SentCardsModel::kColumnCount - 1;

// How long after the last change of a width the widths are stored: a drag
// changes a width many times, and only where it ends counts.
constexpr int kRememberDelayMs = 500;

std::vector<int> LayoutWidths() {
  std::vector<int> widths;
  for (int col = 0; col < SentCardsModel::kColumnCount; ++col)
    widths.push_back(SentCardsModel::ColumnWidth(col));
  return widths;
}

}  // namespace

std::vector<int> SentCardsPage::ColumnWidths(ShopContext& shop) {
  return LoadColumnWidths(shop, kSentCardsColumnWidthsSetting, LayoutWidths());
}

SentCardsPage::SentCardsPage(ShopContext& shop, const SentCardsPageControls& controls, Prompts* prompts,
                             QObject* parent)
    : QObject(parent),
      shop_(shop),
      grid_(controls.grid),
      searchBox_(controls.searchBox),
      undeliveredBox_(controls.undeliveredBox),
      countLabel_(controls.countLabel),
      resendButton_(controls.resendButton),
      resendAllButton_(controls.resendAllButton),
      exportButton_(controls.exportButton),
      noteLabel_(controls.noteLabel),
      prompts_(prompts) {
  model_ = new SentCardsModel(this);
  // The grid shows the rows the search lets through.
  filter_ = new SentCardsFilter(model_, this);
  grid_->setModel(filter_);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setDefaultSectionSize(22);
  grid_->verticalHeader()->hide();
  // Every column, the last one too, is the seller's to resize; the page
  // does the last column's stretching itself, so that the seller can still
  // make it narrower than the layout has it.
  QHeaderView* header = grid_->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(false);
  widths_ = remembered_ = ColumnWidths(shop_);
  for (int col = 0; col < SentCardsModel::kColumnCount; ++col) grid_->setColumnWidth(col, widths_[col]);

  rememberTimer_.setSingleShot(true);
  rememberTimer_.setInterval(kRememberDelayMs);
  connect(&rememberTimer_, &QTimer::timeout, this, &SentCardsPage::RememberWidths);
  connect(header, &QHeaderView::sectionResized, this,
          [this](int column, int, int width) { ColumnResized(column, width); });
  grid_->viewport()->installEventFilter(this);
  FillWithLastColumn();

  // Whole rows are selected: a resend takes the orders of the rows.
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  connect(grid_, &QAbstractItemView::doubleClicked, this, &SentCardsPage::ShowOrderOfRow);
  // The buyers of the selected rows onto the order rules' blacklist.
  auto* blacklist = new QAction(QStringLiteral("将买家加入黑名单"), grid_);
  grid_->addAction(blacklist);
  grid_->setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(blacklist, &QAction::triggered, this, &SentCardsPage::BlacklistSelectedBuyers);

  if (searchBox_) {
    searchBox_->setClearButtonEnabled(true);
    searchBox_->setPlaceholderText(QStringLiteral("搜索订单编号、买家旺旺、卡号、宝贝"));
    searchBox_->setToolTip(
        QStringLiteral("输入的每个词都要出现在订单编号、买家旺旺、卡号或宝贝名称中（不分英文大小写）；"
                       "双击表格中的一行只看该订单"));
    connect(searchBox_, &QLineEdit::textChanged, this, &SentCardsPage::ApplySearch);
  }
  if (undeliveredBox_) connect(undeliveredBox_, &QCheckBox::toggled, this, &SentCardsPage::ApplySearch);
  if (resendButton_) {
    resendButton_->setToolTip(
        QStringLiteral("把选中订单已记录的卡密按原消息重新发给各自的买家（可选中多笔订单，不动用库存）"));
    connect(resendButton_, &QPushButton::clicked, this, &SentCardsPage::ResendSelectedOrders);
  }
  if (resendAllButton_) {
    resendAllButton_->setToolTip(QStringLiteral(
        "把所有标记为未送达、仍在等待发货的订单已记录的卡密重新发给买家，随后提交发货（不动用库存）"));
    connect(resendAllButton_, &QPushButton::clicked, this, &SentCardsPage::ResendAllUndelivered);
  }
  if (exportButton_) {
    auto* menu = new QMenu(exportButton_);
    QAction* shown = menu->addAction(QString());
    QAction* all = menu->addAction(QString());
    connect(menu, &QMenu::aboutToShow, this, [this, shown, all] {
      shown->setText(QStringLiteral("导出显示的 %1 条…").arg(shownRowCount()));
      all->setText(QStringLiteral("导出全部已发卡密…"));
    });
    connect(shown, &QAction::triggered, this, [this] { ChooseExportFile(true); });
    connect(all, &QAction::triggered, this, [this] { ChooseExportFile(false); });
    exportButton_->setMenu(menu);
  }
  ShowCount();
}

SentCardsPage::~SentCardsPage() { RememberWidths(); }

bool SentCardsPage::eventFilter(QObject* watched, QEvent* event) {
  if (grid_ && watched == grid_->viewport() && event->type() == QEvent::Resize) FillWithLastColumn();
  return false;
}

void SentCardsPage::ColumnResized(int column, int width) {
  if (filling_ || column < 0 || column > kLastColumn) return;
  if (widths_[column] != width) {
    widths_[column] = width;
    rememberTimer_.start();
  }
  FillWithLastColumn();
}

void SentCardsPage::FillWithLastColumn() {
  if (!grid_) return;
  const QHeaderView* header = grid_->horizontalHeader();
  int others = 0;
  for (int col = 0; col < kLastColumn; ++col) others += header->sectionSize(col);
  const int width = std::max(widths_[kLastColumn], grid_->viewport()->width() - others);
  if (header->sectionSize(kLastColumn) == width) return;
  filling_ = true;
  grid_->setColumnWidth(kLastColumn, width);
  filling_ = false;
}

void SentCardsPage::RememberWidths() {
  rememberTimer_.stop();
  if (widths_ == remembered_) return;
  // A table that cannot be written keeps the change pending for the next
  // try.
  if (SaveColumnWidths(shop_, kSentCardsColumnWidthsSetting, widths_)) remembered_ = widths_;
}

void SentCardsPage::FillSentCardsGrid() {
  std::vector<SentCard> cards;
  if (!LoadSentCards(shop_, &cards)) return;  // the grid keeps what it showed
  index_ = SentCardIndex(cards);
  model_->Reset(std::move(cards));
  lastValid_ = false;
  ReloadMarks();
  ApplySearch();
  emit gridFilled();
}

void SentCardsPage::SetDeliveryController(DeliveryController* controller) { controller_ = controller; }

const std::vector<SentCard>& SentCardsPage::cards() const { return model_->cards(); }

int SentCardsPage::shownRowCount() const { return filter_->rowCount(); }

void SentCardsPage::ReloadMarks() {
  std::set<std::string> marked;
  for (const UndeliveredOrder& mark : UndeliveredOrders(shop_).List()) marked.insert(mark.orderNumber);
  // The marked orders that have rows in the grid.
  std::set<std::string> shown;
  if (!marked.empty()) {
    for (const SentCard& card : model_->cards()) {
      if (marked.count(card.orderNumber) > 0) shown.insert(card.orderNumber);
    }
  }
  undeliveredOrders_ = static_cast<int>(shown.size());
  filter_->SetMarkedOrders(std::move(marked));
}

void SentCardsPage::ApplySearch() {
  // A query with a character GBK lacks can match no card.
  const std::optional<std::string> converted =
      searchBox_ ? Utf8ToGbk(searchBox_->text().toStdString()) : std::optional<std::string>(std::string());
  const bool undeliveredOnly = undeliveredBox_ && undeliveredBox_->isChecked();
  if (!converted) {
    filter_->SetRows({});
    lastValid_ = false;
    ShowCount();
    return;
  }
  const std::string& query = *converted;
  const std::set<std::string>* onlyOrders = undeliveredOnly ? &filter_->markedOrders() : nullptr;
  if (SearchWords(query).empty() && !undeliveredOnly) {
    filter_->ShowAll();
  } else if (lastValid_ && lastUndeliveredOnly_ == undeliveredOnly && !filter_->showsAll() &&
             NarrowsQuery(lastQuery_, query)) {
    // The seller typed on: only the rows shown can still match.
    filter_->SetRows(index_.FindAmong(query, filter_->rows(), onlyOrders));
  } else {
    filter_->SetRows(index_.Find(query, onlyOrders));
  }
  lastQuery_ = query;
  lastUndeliveredOnly_ = undeliveredOnly;
  lastValid_ = true;
  ShowCount();
}

void SentCardsPage::ShowCount() {
  if (!countLabel_) return;
  QString text = QStringLiteral("共 %1 条").arg(shownRowCount());
  if (!filter_->showsAll()) text += QStringLiteral("（全部 %1 条）").arg(model_->rowCount());
  if (undeliveredOrders_ > 0) text += QStringLiteral("　未送达 %1 单").arg(undeliveredOrders_);
  countLabel_->setText(text);
}

void SentCardsPage::Note(const QString& text, bool warning) {
  if (!noteLabel_) return;
  noteLabel_->setText(text);
  QPalette palette = noteLabel_->palette();
  palette.setColor(QPalette::WindowText, warning ? SentCardsFilter::MarkedText() : QColor(0, 0, 0));
  noteLabel_->setPalette(palette);
}

void SentCardsPage::ShowOrderOfRow(const QModelIndex& index) {
  const int source = filter_->SourceRow(index.row());
  if (source < 0 || !searchBox_) return;
  searchBox_->setText(QFromGbk(model_->cards()[static_cast<std::size_t>(source)].orderNumber));
}

int SentCardsPage::BlacklistSelectedBuyers() {
  std::set<std::string> buyers;
  for (const QModelIndex& index : grid_->selectionModel()->selectedRows()) {
    const int source = filter_->SourceRow(index.row());
    if (source >= 0) buyers.insert(model_->cards()[static_cast<std::size_t>(source)].buyerNick);
  }
  buyers.erase(std::string());
  if (buyers.empty()) {
    Note(QStringLiteral("请先在表格中选中要加入黑名单的买家所在的行"), true);
    return 0;
  }
  const OrderRuleFiles files(shop_);
  QStringList added;
  for (const std::string& buyer : buyers) {
    if (!files.AddToBlacklist(buyer)) {
      Note(QStringLiteral("黑名单无法写入数据文件夹（order_rules.txt）"), true);
      return static_cast<int>(added.size());
    }
    added << QFromGbk(buyer);
  }
  Note(QStringLiteral("已加入黑名单：%1。他们的新订单不会自动发货").arg(added.join(QStringLiteral("、"))),
       false);
  return static_cast<int>(added.size());
}

void SentCardsPage::ResendSelectedOrders() {
  if (resendRunning_) return;
  // The orders in the grid's order, each once.
  std::vector<int> rows;
  for (const QModelIndex& index : grid_->selectionModel()->selectedRows()) {
    const int source = filter_->SourceRow(index.row());
    if (source >= 0) rows.push_back(source);
  }
  std::sort(rows.begin(), rows.end());
  ResendRequest request;
  std::set<std::string> seen;
  for (const int row : rows) {
    const std::string& order = model_->cards()[static_cast<std::size_t>(row)].orderNumber;
    if (seen.insert(order).second) request.orderNumbers.push_back(order);
  }
  if (request.orderNumbers.empty()) {
    Note(QStringLiteral("请先在表格中选中要重新发送的订单"), true);
    return;
  }
  const QString started =
      request.orderNumbers.size() == 1
          ? QStringLiteral("正在把订单 %1 的卡密重新发给买家…").arg(QFromGbk(request.orderNumbers.front()))
          : QStringLiteral("正在把选中的 %1 笔订单的卡密依次重新发给各自的买家…")
                .arg(request.orderNumbers.size());
  StartResend(std::move(request), started);
}

void SentCardsPage::ResendAllUndelivered() {
  if (resendRunning_) return;
  const std::size_t marked = UndeliveredOrders(shop_).List().size();
  if (marked == 0) {
    Note(QStringLiteral("没有标记为未送达的订单"));
    return;
  }
  if (!controller_) {
    Note(QStringLiteral("自动发货尚未就绪，无法重新发送"), true);
    return;
  }
  if (prompts_) {
    const QString question =
        QStringLiteral(
            "有 %1 笔订单标记为未送达。\n\n"
            "仍在等待发货的订单将把已记录的卡密重新发给各自的买家（不动用库存），随后提交发货；"
            "已不在等待发货列表中的订单不会发送，仍保留未送达标记。\n\n现在补发吗？")
            .arg(marked);
    if (prompts_->ShowBox(GbkFromQ(question), GbkFromQ(QStringLiteral("补发全部未送达")),
                          BoxKind::kQuestion) != BoxAnswer::kYes)
      return;
  }
  ResendRequest request;
  request.allUndelivered = true;
  StartResend(std::move(request),
              QStringLiteral("正在补发 %1 笔未送达订单中仍在等待发货的订单…").arg(marked));
}

void SentCardsPage::StartResend(ResendRequest request, const QString& startedNote) {
  if (!controller_) {
    Note(QStringLiteral("自动发货尚未就绪，无法重新发送"), true);
    return;
  }
  const DeliveryController::ResendStart start =
      controller_->StartResend(std::move(request), [this](const ResendBatch& b) {
        QMetaObject::invokeMethod(
            this, [this, b] { FinishResend(b); }, Qt::QueuedConnection);
      });
  switch (start) {
    case DeliveryController::ResendStart::kStarted:
      resendRunning_ = true;
      if (resendButton_) resendButton_->setEnabled(false);
      if (resendAllButton_) resendAllButton_->setEnabled(false);
      Note(startedNote);
      return;
    case DeliveryController::ResendStart::kCycleRunning:
      Note(QStringLiteral("正在进行一轮自动发货，请在本轮结束后再重新发送"), true);
      return;
    case DeliveryController::ResendStart::kResendRunning:
      Note(QStringLiteral("上一次重新发送还没有结束，请稍候"), true);
      return;
    case DeliveryController::ResendStart::kStopping:
      Note(QStringLiteral("程序正在退出，不再重新发送"), true);
      return;
    case DeliveryController::ResendStart::kUnavailable:
      Note(QStringLiteral("自动发货尚未就绪，无法重新发送"), true);
      return;
  }
}

namespace {

// What happened to one resent order, in one short line.
QString OneOrderNote(const ResendResult& result) {
  QString text = QStringLiteral("订单 %1 的 %2 张卡密已重新发给买家 %3")
                     .arg(QFromGbk(result.order.orderNumber))
                     .arg(result.cards.size())
                     .arg(QFromGbk(result.order.buyerNick));
  if (result.stillListed) {
    text += result.consignAnswered ? QStringLiteral("，并已提交发货")
                                   : QStringLiteral("，但提交发货没有应答，请到淘宝卖家中心查看");
  } else if (result.listing == ScanOutcome::kListed) {
    text += QStringLiteral("（订单早已发货）");
  } else {
    text += QStringLiteral("，但读不到等待发货的订单列表，请到淘宝卖家中心查看是否还需发货");
  }
  if (result.markCleared) text += QStringLiteral("；未送达标记已清除");
  return text;
}

QString OrderList(const std::vector<std::string>& orders) {
  QStringList shown;
  for (const std::string& order : orders) shown << QFromGbk(order);
  return shown.join(QStringLiteral("、"));
}

// Several orders, or every marked one: how many went, and each that did
// not, by number. Sets `warning` when anything is left for the seller.
QString BatchNote(const ResendBatch& batch, bool* warning) {
  QStringList parts;
  if (batch.allUndelivered && batch.marked == 0) return QStringLiteral("没有标记为未送达的订单");
  if (batch.allUndelivered && batch.listing != ScanOutcome::kListed) {
    *warning = true;
    return QStringLiteral("读不到等待发货的订单列表，没有补发；%1 笔订单仍记为未送达").arg(batch.marked);
  }
  int cards = 0, consigned = 0, unanswered = 0, unlisted = 0;
  std::vector<std::string> notHanded, noCards, nickUnread;
  for (const ResendResult& r : batch.results) {
    switch (r.outcome) {
      case ResendOutcome::kResent:
        cards += static_cast<int>(r.cards.size());
        if (r.stillListed) (r.consignAnswered ? consigned : unanswered) += 1;
        if (!r.stillListed && r.listing != ScanOutcome::kListed) ++unlisted;
        break;
      case ResendOutcome::kNotHanded:
        notHanded.push_back(r.order.orderNumber);
        break;
      case ResendOutcome::kNoRecordedCards:
        noCards.push_back(r.order.orderNumber);
        break;
      case ResendOutcome::kSellerNickUnreadable:
        nickUnread.push_back(r.order.orderNumber);
        break;
    }
  }
  const int resent = batch.Resent();
  if (resent > 0) {
    QString done = QStringLiteral("已把 %1 笔订单的 %2 张卡密重新发给各自的买家").arg(resent).arg(cards);
    if (consigned > 0) done += QStringLiteral("，其中 %1 笔已提交发货").arg(consigned);
    parts << done;
  } else if (batch.allUndelivered && batch.notListed.empty() && batch.results.empty()) {
    parts << QStringLiteral("没有需要补发的订单");
  } else if (!batch.allUndelivered || !batch.results.empty()) {
    parts << QStringLiteral("没有重新发出任何订单");
  }
  if (unanswered > 0) {
    *warning = true;
    parts << QStringLiteral("%1 笔提交发货没有应答，请到淘宝卖家中心查看").arg(unanswered);
  }
  if (unlisted > 0) {
    *warning = true;
    parts << QStringLiteral("%1 笔读不到等待发货的订单列表，请到淘宝卖家中心查看是否还需发货").arg(unlisted);
  }
  if (!notHanded.empty()) {
    *warning = true;
    parts << QStringLiteral("订单 %1 没能交给旺旺，仍记为未送达").arg(OrderList(notHanded));
  }
  if (!nickUnread.empty()) {
    *warning = true;
    parts << QStringLiteral("读不到卖家旺旺名，订单 %1 没有发送").arg(OrderList(nickUnread));
  }
  if (!noCards.empty()) {
    *warning = true;
    parts << QStringLiteral("订单 %1 没有记录的卡密，无法重新发送").arg(OrderList(noCards));
  }
  if (!batch.notTried.empty()) {
    *warning = true;
    parts << QStringLiteral("其余 %1 笔没有发送（订单 %2）")
                 .arg(batch.notTried.size())
                 .arg(OrderList(batch.notTried));
  }
  if (!batch.notListed.empty()) {
    *warning = true;
    std::vector<std::string> numbers;
    for (const UndeliveredOrder& m : batch.notListed) numbers.push_back(m.orderNumber);
    parts << QStringLiteral(
                 "%1 笔已不在等待发货列表中，没有补发，仍记为未送达（订单 %2），请到淘宝卖家中心查看")
                 .arg(numbers.size())
                 .arg(OrderList(numbers));
  }
  return parts.join(QStringLiteral("；"));
}

}  // namespace

void SentCardsPage::FinishResend(const ResendBatch& batch) {
  resendRunning_ = false;
  if (resendButton_) resendButton_->setEnabled(true);
  if (resendAllButton_) resendAllButton_->setEnabled(true);
  // The note says it in one short line; the log's full lines (with the
  // shortened card numbers) go into its hover text.
  QString full;
  bool warning = false;
  for (const ResendResult& result : batch.results) {
    for (const WordedLine& line : WordOrderResent(result)) {
      full += (full.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromStdString(line.text);
      warning = warning || line.level == LineLevel::kWarning;
    }
  }
  QString text;
  const bool single = !batch.allUndelivered && batch.results.size() == 1 && batch.notTried.empty();
  if (single && batch.results.front().outcome == ResendOutcome::kResent) {
    text = OneOrderNote(batch.results.front());
  } else if (single) {
    text = full;
  } else {
    text = BatchNote(batch, &warning);
  }
  Note(text, warning);
  if (noteLabel_) noteLabel_->setToolTip(full);
  ReloadMarks();
  lastValid_ = false;
  ApplySearch();
  emit resendFinished();
}

bool SentCardsPage::ExportSentCards(const QString& path, CsvEncoding encoding, bool shownOnly) {
  std::string bytes;
  int rows = 0;
  if (shownOnly) {
    const std::vector<int>* shown = filter_->showsAll() ? nullptr : &filter_->rows();
    bytes = SentCardsCsv(model_->cards(), shown, encoding);
    rows = shownRowCount();
  } else {
    std::vector<SentCard> all;
    if (!LoadSentCards(shop_, &all)) {
      Note(QStringLiteral("读不到已发卡密表，没有导出"), true);
      return false;
    }
    bytes = SentCardsCsv(all, nullptr, encoding);
    rows = static_cast<int>(all.size());
  }
  const QString shownPath = QDir::toNativeSeparators(path);
  if (!WriteExportFile(path.toStdString(), bytes)) {
    Note(QStringLiteral("无法写入 %1，没有导出").arg(shownPath), true);
    return false;
  }
  Note(QStringLiteral("已导出 %1 条到 %2").arg(rows).arg(shownPath));
  return true;
}

void SentCardsPage::ChooseExportFile(bool shownOnly) {
  const QString utf8Filter = QStringLiteral("CSV 文件，UTF-8（Excel、WPS 可直接打开） (*.csv)");
  const QString gbkFilter = QStringLiteral("CSV 文件，GBK (*.csv)");
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty()) folder = QDir::homePath();
  const QString suggested =
      folder +
      QStringLiteral("/已发卡密-%1.csv").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
  QString chosenFilter = utf8Filter;
  QString path =
      QFileDialog::getSaveFileName(grid_ ? grid_->window() : nullptr, QStringLiteral("导出已发卡密"),
                                   suggested, utf8Filter + QStringLiteral(";;") + gbkFilter, &chosenFilter);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".csv");
  ExportSentCards(path, chosenFilter == gbkFilter ? CsvEncoding::kGbk : CsvEncoding::kUtf8WithBom, shownOnly);
}

}  // namespace autodeliver
