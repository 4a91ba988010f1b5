// The preview of a card import; see import_preview_dialog.h.
#include "pages/import_preview_dialog.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "pages/qt_text.h"

namespace autodeliver {

namespace {

bool IsDuplicate(LineVerdict v) {
  return v == LineVerdict::kInStock || v == LineVerdict::kSentBefore || v == LineVerdict::kRepeated;
}

std::size_t DuplicateCount(const ImportPlan& plan) {
  return plan.Count(LineVerdict::kInStock) + plan.Count(LineVerdict::kSentBefore) +
         plan.Count(LineVerdict::kRepeated);
}

// Whether a line with verdict `v` is written with the ticks as they are.
bool Written(LineVerdict v, bool allowDuplicates, bool allowNoPassword) {
  return v == LineVerdict::kNew || (allowDuplicates && IsDuplicate(v)) ||
         (allowNoPassword && v == LineVerdict::kNoPassword);
}

}  // namespace

// The first cards that will be stored, split as the stock keeps them.
class CardsModel : public QAbstractTableModel {
 public:
  CardsModel(const std::vector<CardLine>& lines, const std::vector<LineVerdict>& verdicts, QObject* parent)
      : QAbstractTableModel(parent), lines_(lines), verdicts_(verdicts) {}

  void Show(bool allowDuplicates, bool allowNoPassword) {
    beginResetModel();
    rows_.clear();
    for (std::size_t i = 0; i < verdicts_.size() && i < lines_.size(); ++i) {
      if (rows_.size() >= static_cast<std::size_t>(ImportPreviewDialog::kCardRowsShown)) break;
      if (lines_[i].card && Written(verdicts_[i], allowDuplicates, allowNoPassword)) rows_.push_back(i);
    }
    endResetModel();
  }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : 2;
  }

  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(rows_.size()))
      return {};
    const ImportedCard& card = *lines_[rows_[static_cast<std::size_t>(index.row())]].card;
    return QFromGbk(index.column() == 0 ? card.cardNumber : card.cardPassword);
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? QStringLiteral("卡号") : QStringLiteral("卡密");
  }

 private:
  const std::vector<CardLine>& lines_;
  const std::vector<LineVerdict>& verdicts_;
  std::vector<std::size_t> rows_;
};

// The lines that will not be imported: (line number,) text, reason.
class KeptLinesModel : public QAbstractTableModel {
 public:
  KeptLinesModel(const std::vector<CardLine>& lines, const std::vector<LineVerdict>& verdicts,
                 const std::vector<std::size_t>& lineNumbers, QObject* parent)
      : QAbstractTableModel(parent), lines_(lines), verdicts_(verdicts), lineNumbers_(lineNumbers) {}

  // Shows the lines that stay out with the ticks as they are.
  void Show(bool allowDuplicates, bool allowNoPassword) {
    beginResetModel();
    rows_.clear();
    for (std::size_t i = 0; i < verdicts_.size(); ++i) {
      if (Written(verdicts_[i], allowDuplicates, allowNoPassword)) continue;
      rows_.push_back(i);
    }
    endResetModel();
  }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : (numbered() ? 3 : 2);
  }

  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(rows_.size()))
      return {};
    const std::size_t line = rows_[static_cast<std::size_t>(index.row())];
    int column = index.column();
    if (numbered()) {
      if (column == 0) return static_cast<qulonglong>(lineNumbers_[line]);
      --column;
    }
    if (column == 0) return QFromGbk(lines_[line].text);
    return QFromGbk(VerdictText(verdicts_[line]));
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (numbered()) {
      if (section == 0) return QStringLiteral("行");
      --section;
    }
    return section == 0 ? QStringLiteral("内容") : QStringLiteral("原因");
  }

 private:
  bool numbered() const { return lineNumbers_.size() == lines_.size() && !lines_.empty(); }

  const std::vector<CardLine>& lines_;
  const std::vector<LineVerdict>& verdicts_;
  const std::vector<std::size_t>& lineNumbers_;
  std::vector<std::size_t> rows_;
};

ImportPreviewDialog::ImportPreviewDialog(const std::string& itemName, const QString& source,
                                         const std::vector<CardLine>& lines, const ImportPlan& plan,
                                         const std::vector<std::size_t>& lineNumbers, const QString& keptNote,
                                         QWidget* parent)
    : QDialog(parent), itemName_(itemName), plan_(plan), lineCount_(plan.verdicts.size()) {
  setWindowTitle(QStringLiteral("导入预览"));
  resize(600, 560);
  auto* layout = new QVBoxLayout(this);

  auto* from = new QLabel(QStringLiteral("宝贝：“%1”　来源：%2").arg(QFromGbk(itemName), source), this);
  from->setWordWrap(true);
  layout->addWidget(from);

  summary_ = new QLabel(this);
  summary_->setObjectName(QString::fromUtf8(kSummary));
  summary_->setWordWrap(true);
  layout->addWidget(summary_);

  reasons_ = new QLabel(this);
  reasons_->setObjectName(QString::fromUtf8(kReasons));
  reasons_->setWordWrap(true);
  layout->addWidget(reasons_);

  // What will be stored: the first cards, number and password apart, so a
  // swapped import shows before it is written.
  auto* cardsTitle = new QLabel(QStringLiteral("将入库的卡密（前 %1 张）：").arg(kCardRowsShown), this);
  layout->addWidget(cardsTitle);
  cardsModel_ = new CardsModel(lines, plan.verdicts, this);
  cardsView_ = new QTableView(this);
  cardsView_->setObjectName(QString::fromUtf8(kCardsToStore));
  cardsView_->setModel(cardsModel_);
  cardsView_->verticalHeader()->setVisible(false);
  cardsView_->verticalHeader()->setDefaultSectionSize(20);
  cardsView_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  cardsView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  cardsView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  cardsTitle->setBuddy(cardsView_);
  layout->addWidget(cardsView_, 1);
  swapBox_ = new QCheckBox(QStringLiteral("交换卡号/卡密（每行的第一项作卡密，第二项作卡号）"), this);
  swapBox_->setObjectName(QString::fromUtf8(kSwapBox));
  layout->addWidget(swapBox_);

  auto* keptTitle = new QLabel(QStringLiteral("不导入的行："), this);
  layout->addWidget(keptTitle);
  keptModel_ = new KeptLinesModel(lines, plan.verdicts, lineNumbers, this);
  keptView_ = new QTableView(this);
  keptView_->setObjectName(QString::fromUtf8(kKeptLines));
  keptView_->setModel(keptModel_);
  keptView_->verticalHeader()->setVisible(false);
  keptView_->verticalHeader()->setDefaultSectionSize(20);
  keptView_->horizontalHeader()->setStretchLastSection(false);
  keptView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  keptView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  keptTitle->setBuddy(keptView_);
  layout->addWidget(keptView_, 1);

  duplicatesBox_ = new QCheckBox(QStringLiteral("仍然导入重复的卡密（可重复使用的卡密）"), this);
  duplicatesBox_->setObjectName(QString::fromUtf8(kDuplicatesBox));
  layout->addWidget(duplicatesBox_);
  noPasswordBox_ = new QCheckBox(QStringLiteral("仍然导入卡号或卡密为空的行（没有卡密的卡请填 0）"), this);
  noPasswordBox_->setObjectName(QString::fromUtf8(kNoPasswordBox));
  layout->addWidget(noPasswordBox_);

  auto* note = new QLabel(keptNote, this);
  note->setWordWrap(true);
  layout->addWidget(note);

  auto* buttons = new QDialogButtonBox(this);
  importButton_ = buttons->addButton(QStringLiteral("导入"), QDialogButtonBox::AcceptRole);
  cancelButton_ = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(duplicatesBox_, &QCheckBox::toggled, this, [this] { ShowCounts(); });
  connect(noPasswordBox_, &QCheckBox::toggled, this, [this] { ShowCounts(); });
  connect(swapBox_, &QCheckBox::toggled, this, &ImportPreviewDialog::swapToggled);
  Refresh();
  // The line's text takes the room the number and the reason leave.
  QHeaderView* header = keptView_->horizontalHeader();
  const int columns = keptModel_->columnCount();
  for (int c = 0; c < columns; ++c) header->setSectionResizeMode(c, QHeaderView::Fixed);
  header->setSectionResizeMode(columns - 2, QHeaderView::Stretch);
  header->resizeSection(columns - 1, 90);
  if (columns == 3) header->resizeSection(0, 60);
}

ImportPreviewDialog::~ImportPreviewDialog() = default;

bool ImportPreviewDialog::allowDuplicates() const { return duplicatesBox_->isChecked(); }

bool ImportPreviewDialog::allowNoPassword() const { return noPasswordBox_->isChecked(); }

bool ImportPreviewDialog::swapped() const { return swapBox_->isChecked(); }

std::size_t ImportPreviewDialog::cardsToImport() const {
  return plan_.Count(LineVerdict::kNew) + (allowDuplicates() ? DuplicateCount(plan_) : 0) +
         (allowNoPassword() ? plan_.Count(LineVerdict::kNoPassword) : 0);
}

void ImportPreviewDialog::Refresh() {
  QStringList parts;
  for (LineVerdict v : {LineVerdict::kInStock, LineVerdict::kSentBefore, LineVerdict::kRepeated,
                        LineVerdict::kNoPassword, LineVerdict::kMalformed})
    parts << QStringLiteral("%1 %2 行").arg(QFromGbk(VerdictText(v))).arg(plan_.Count(v));
  reasons_->setText(parts.join(QStringLiteral("，")));
  duplicatesBox_->setEnabled(DuplicateCount(plan_) > 0);
  noPasswordBox_->setEnabled(plan_.Count(LineVerdict::kNoPassword) > 0);
  SetChecking(false);
}

void ImportPreviewDialog::SetChecking(bool checking) {
  swapBox_->setEnabled(!checking);
  if (checking) {
    importButton_->setEnabled(false);
    summary_->setText(QStringLiteral("正在按交换后的卡号和卡密重新检查…"));
  } else {
    ShowCounts();
  }
}

void ImportPreviewDialog::ShowCounts() {
  const std::size_t cards = cardsToImport();
  const std::size_t kept = lineCount_ - cards;
  summary_->setText(
      QStringLiteral("将导入 %1 张卡密，%2 行不导入（共 %3 行）。").arg(cards).arg(kept).arg(lineCount_));
  keptModel_->Show(allowDuplicates(), allowNoPassword());
  cardsModel_->Show(allowDuplicates(), allowNoPassword());
  importButton_->setEnabled(cards > 0);
}

}  // namespace autodeliver
