// The card-stock page; see stock_page.h.
#include "pages/stock_page.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "delivery/wording.h"
#include "import/card_file.h"
#include "import/card_lines.h"
#include "import/checked_import.h"
#include "import/import_check.h"
#include "pages/import_preview_dialog.h"
#include "pages/list_models.h"
#include "pages/page_texts.h"
#include "pages/qt_text.h"
#include "store/item_table.h"
#include "store/seller_actions.h"
#include "store/stock_table.h"

namespace autodeliver {

namespace {

// What the seller is told when the duplicate check cannot read the stock or
// the sent cards: the cause too, when it is known.
std::string CheckFailureText(const Status& failure) {
  std::string text = "无法读取库存卡密或已发卡密，没有导入任何卡密。"_gbk;
  if (!failure.ok()) text += "\r\n"_gbk + Utf8ToGbkLossy(CauseSentence(failure));
  return text;
}

QString EncodingName(const CardFile& file) {
  QString name;
  switch (file.encoding) {
    case CardFileEncoding::kUtf8:
      name = QStringLiteral("UTF-8");
      break;
    case CardFileEncoding::kUtf8WithBom:
      name = QStringLiteral("UTF-8，带 BOM");
      break;
    case CardFileEncoding::kUtf16:
      name = QStringLiteral("UTF-16");
      break;
    case CardFileEncoding::kGbk:
      name = QStringLiteral("GBK");
      break;
  }
  if (file.layout == CardFileLayout::kCsv) name = QStringLiteral("CSV，") + name;
  return name;
}

// A path of the file system (UTF-8) in a message (GBK).
std::string PathText(const std::string& path) { return Utf8ToGbkLossy(path); }

const std::string& FileImportCaption() {
  static const std::string caption = "从文件导入"_gbk;
  return caption;
}

}  // namespace

struct StockPage::Import {
  std::thread thread;
  std::atomic<bool> running{false};
  std::atomic<bool> cancel{false};
  bool fromFile = false;
  std::string itemName;
  std::string path;                     // the card file (UTF-8)
  std::optional<CardFile> file;         // its lines, once read
  std::vector<CardLine> pasted;         // the import box's lines
  std::optional<ImportPlan> plan;       // the check's, then the one written
  Status checkFailure;                  // why the check could not read a table
  StockImport result;                   // written by the worker, read after it ended
  std::optional<std::string> keptFile;  // where the lines not imported went
  bool keptFileFailed = false;
  int generation = 0;  // counts the imports begun; a late recheck of an earlier one is dropped
  const std::vector<std::size_t> noLineNumbers;

  const std::vector<CardLine>& lines() const { return file ? file->lines : pasted; }
  std::vector<CardLine>& lines() { return file ? file->lines : pasted; }
  void Join() {
    if (thread.joinable()) thread.join();
  }
};

StockPage::StockPage(ShopContext& shop, const StockPageControls& controls, Prompts& prompts, QObject* parent)
    : QObject(parent),
      shop_(shop),
      itemChooser_(controls.itemChooser),
      importBox_(controls.importBox),
      importButton_(controls.importButton),
      fileImportButton_(controls.fileImportButton),
      stockList_(controls.stockList),
      deleteStockButton_(controls.deleteStockButton),
      prompts_(prompts),
      import_(std::make_unique<Import>()) {
  importBox_->installEventFilter(this);

  stockModel_ = new StockListModel(this);
  stockList_->setModel(stockModel_);
  stockList_->setRootIsDecorated(false);
  stockList_->setUniformRowHeights(true);
  stockList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  stockList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  stockList_->setColumnWidth(StockListModel::kCardNumber, 200);
  stockList_->setColumnWidth(StockListModel::kCardPassword, 120);
  stockList_->setColumnHidden(StockListModel::kSqlid, true);

  connect(itemChooser_, &QComboBox::activated, this, &StockPage::ChooseItem);
  connect(importButton_, &QPushButton::clicked, this, &StockPage::ImportCards);
  connect(fileImportButton_, &QPushButton::clicked, this, &StockPage::ImportFromFile);
  connect(deleteStockButton_, &QPushButton::clicked, this, &StockPage::DeleteSelectedStock);
  // "修改卡号" and "修改卡密" have no action.
}

StockPage::~StockPage() {
  // The dialogs show the import's lines, which go with this page.
  delete preview_.data();
  delete progress_.data();
  import_->Join();
}

bool StockPage::importRunning() const { return import_->running.load(); }

ImportPreviewDialog* StockPage::preview() const { return preview_.data(); }

QProgressDialog* StockPage::progress() const { return progress_.data(); }

void StockPage::ShowImportPlaceholder() {
  if (!importBox_) return;
  importBox_->setPlainText(QFromGbk(CardImportPlaceholder()));
  SetTextColour(importBox_, PlaceholderColour());
}

const std::string* StockPage::ChosenName() const {
  if (!itemChooser_) return nullptr;
  const int index = itemChooser_->currentIndex();
  if (index < 0 || static_cast<size_t>(index) >= chooserNames_.size()) return nullptr;
  return &chooserNames_[index];
}

void StockPage::FillItemChooser() {
  if (!itemChooser_) return;
  std::optional<std::string> chosen;
  if (const std::string* name = ChosenName()) chosen = *name;
  itemChooser_->clear();
  chooserNames_ = LoadItemNames(shop_);
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(chooserNames_.size()));
  for (const std::string& name : chooserNames_) texts.append(QFromGbk(name));
  itemChooser_->addItems(texts);
  // The seller's choice survives a refresh as long as the item exists, so
  // the stock list and the import keep working on the item shown.
  int keep = -1;
  if (chosen) {
    auto it = std::find(chooserNames_.begin(), chooserNames_.end(), *chosen);
    if (it != chooserNames_.end()) keep = static_cast<int>(it - chooserNames_.begin());
  }
  itemChooser_->setCurrentIndex(keep);
}

void StockPage::FillStockList() {
  const std::string* chosen = ChosenName();
  std::string name = chosen ? *chosen : std::string();
  std::vector<StockCard> cards = LoadStockCardsOf(shop_, name);
  stockModel_->Reset(std::move(name), std::move(cards));
}

void StockPage::ChooseItem() { FillStockList(); }

void StockPage::ImportCards() {
  if (!importBox_ || import_->running.load()) return;
  const std::string text = WithCrLfLineEnds(GbkFromQ(importBox_->toPlainText()));
  const std::string* chosen = ChosenName();
  Import& im = *import_;
  // Nothing to import: whatever the seller typed stays in the box.
  if (text == CardImportPlaceholder() || !chosen) {
    FillStockList();
    emit importFinished();
    return;
  }
  im.pasted = ReadCardLines(text);
  if (im.pasted.empty()) {  // blank lines only
    FillStockList();
    ShowImportPlaceholder();
    emit importFinished();
    return;
  }
  im.fromFile = false;
  im.itemName = *chosen;
  im.path.clear();
  im.file.reset();
  BeginImport(false);
}

void StockPage::ImportFromFile() {
  Import& im = *import_;
  if (im.running.load()) return;
  const std::string* chosen = ChosenName();
  if (!chosen) {
    prompts_.ShowBox("请先在“发货宝贝”中选择要入库的宝贝，再从文件导入。"_gbk, FileImportCaption(),
                     BoxKind::kInformation);
    return;
  }
  const std::string itemName = *chosen;
  const std::optional<std::string> path =
      prompts_.AskOpenFile("选择卡密文件"_gbk, "卡密文件 (*.txt *.csv);;所有文件 (*)"_gbk);
  if (!path || path->empty()) return;
  im.fromFile = true;
  im.itemName = itemName;
  im.path = *path;
  im.file.reset();
  im.pasted.clear();
  BeginImport(true);
}

void StockPage::BeginImport(bool fromFile) {
  Import& im = *import_;
  im.Join();
  ++im.generation;
  im.running = true;
  im.cancel = false;
  im.plan.reset();
  im.checkFailure = Status();
  im.result = StockImport();
  im.keptFile.reset();
  im.keptFileFailed = false;
  if (!fromFile && importBox_) importBox_->setReadOnly(true);
  if (importButton_) importButton_->setEnabled(false);
  if (fileImportButton_) fileImportButton_->setEnabled(false);
  // Reading a file and the check over the stock and the sent cards take a
  // while at a large shop: off the window's thread.
  im.thread = std::thread([this, &im] {
    if (im.fromFile) im.file = LoadCardFile(im.path);
    if (!im.fromFile || (im.file && !im.file->lines.empty()))
      im.plan = CheckImport(shop_, im.itemName, im.lines(), false, false, &im.checkFailure);
    QMetaObject::invokeMethod(
        this, [this] { ShowPreview(); }, Qt::QueuedConnection);
  });
}

void StockPage::ShowPreview() {
  Import& im = *import_;
  im.Join();
  if (im.fromFile && !im.file) {
    EndImport(false);
    prompts_.ShowBox("无法读取这个文件：\r\n"_gbk + PathText(im.path), FileImportCaption(), BoxKind::kError);
    return;
  }
  if (im.fromFile && im.file->lines.empty()) {
    EndImport(false);
    prompts_.ShowBox("文件里没有卡密：\r\n"_gbk + PathText(im.path), FileImportCaption(),
                     BoxKind::kInformation);
    return;
  }
  if (!im.plan) {
    EndImport(false);
    prompts_.ShowBox(CheckFailureText(im.checkFailure), "导入卡密"_gbk, BoxKind::kError);
    return;
  }
  QString source = QStringLiteral("输入框");
  QString keptNote = QStringLiteral("未导入的行留在输入框中。");
  if (im.fromFile) {
    source = QStringLiteral("%1（%2）")
                 .arg(QFileInfo(QFile::decodeName(QByteArray::fromStdString(im.path))).fileName(),
                      EncodingName(*im.file));
    keptNote = QStringLiteral("未导入的行将写入源文件旁的新文件（文件名带“未导入”）。");
  }
  QWidget* window = importBox_ ? importBox_->window() : nullptr;
  preview_ = new ImportPreviewDialog(im.itemName, source, im.lines(), *im.plan,
                                     im.fromFile ? im.file->lineNumbers : im.noLineNumbers, keptNote, window);
  preview_->setAttribute(Qt::WA_DeleteOnClose);
  preview_->setWindowModality(Qt::WindowModal);
  // The dialog deletes itself once closed; the page forgets it at once.
  ImportPreviewDialog* dialog = preview_;
  connect(dialog, &QDialog::finished, this, [this] { preview_ = nullptr; });
  connect(dialog, &QDialog::accepted, this,
          [this, dialog] { StartWriting(dialog->allowDuplicates(), dialog->allowNoPassword()); });
  connect(dialog, &ImportPreviewDialog::swapToggled, this, &StockPage::SwapAndRecheck);
  connect(dialog, &QDialog::rejected, this, [this] { EndImport(false); });
  preview_->open();
}

void StockPage::SwapAndRecheck() {
  Import& im = *import_;
  im.Join();
  // The preview reads the lines only on this thread, and the check below
  // only reads them: the swap is made before it starts.
  for (CardLine& line : im.lines()) {
    if (line.card) std::swap(line.card->cardNumber, line.card->cardPassword);
  }
  if (preview_) preview_->SetChecking(true);
  const int generation = im.generation;
  im.thread = std::thread([this, &im, generation] {
    Status failure;
    std::optional<ImportPlan> plan = CheckImport(shop_, im.itemName, im.lines(), false, false, &failure);
    QMetaObject::invokeMethod(
        this,
        [this, generation, plan = std::move(plan), failure = std::move(failure)]() mutable {
          Import& im = *import_;
          im.Join();
          if (generation != im.generation || !preview_ || !im.plan) return;
          if (!plan) {
            preview_->reject();
            prompts_.ShowBox(CheckFailureText(failure), "导入卡密"_gbk, BoxKind::kError);
            return;
          }
          // In place: the preview holds the plan.
          *im.plan = std::move(*plan);
          preview_->Refresh();
        },
        Qt::QueuedConnection);
  });
}

void StockPage::StartWriting(bool allowDuplicates, bool allowNoPassword) {
  Import& im = *import_;
  im.plan = PlanImport(im.lines(), std::move(im.plan->verdicts), allowDuplicates, allowNoPassword);
  const std::size_t total = im.plan->cards.size();
  QWidget* window = importBox_ ? importBox_->window() : nullptr;
  // Not modal: a modal progress dialog runs an event loop inside every
  // setValue, and the window has nothing that an import could disturb.
  progress_ = new QProgressDialog(QStringLiteral("已导入 0 / %1").arg(total), QStringLiteral("取消"), 0,
                                  static_cast<int>(std::min<std::size_t>(total, INT_MAX)), window);
  progress_->setWindowTitle(QStringLiteral("导入卡密"));
  progress_->setWindowModality(Qt::NonModal);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->setMinimumDuration(0);
  connect(progress_, &QProgressDialog::canceled, this, [this] {
    import_->cancel = true;
    if (progress_) progress_->setLabelText(QStringLiteral("正在停止…"));
  });
  progress_->show();
  im.Join();
  im.thread = std::thread([this, &im, allowNoPassword] {
    // Checked again under the store lock that other programs' imports and
    // the delivery take, so cards stored since the preview are not stored
    // twice; the lines it finds duplicates stay with the seller.
    CheckedImport checked = ImportCheckedCards(
        shop_, im.itemName, im.lines(), im.plan->allowDuplicates, allowNoPassword,
        [this](std::size_t handled, std::size_t all) {
          QMetaObject::invokeMethod(
              this, [this, handled, all] { ShowProgress(handled, all); }, Qt::QueuedConnection);
        },
        &im.cancel);
    if (checked.plan) {
      im.plan = std::move(checked.plan);
      im.result = std::move(checked.result);
    } else {
      // Nothing written: reported as a failed write, with the check's cause.
      im.result = std::move(checked.result);
    }
    // The lines of a file that did not go in are kept beside it here, so
    // that they are safe even if the window closes before the end shows.
    if (im.fromFile) {
      const std::vector<std::size_t> rest = LinesNotWritten(*im.plan, im.result.handled, im.result.refused);
      if (!rest.empty()) {
        im.keptFile = WriteKeptLinesFile(im.path, *im.file, rest);
        im.keptFileFailed = !im.keptFile;
      }
    }
    QMetaObject::invokeMethod(
        this, [this] { FinishImport(); }, Qt::QueuedConnection);
  });
}

void StockPage::ShowProgress(std::size_t handled, std::size_t total) {
  if (!progress_ || import_->cancel.load()) return;
  progress_->setValue(static_cast<int>(std::min<std::size_t>(handled, INT_MAX)));
  progress_->setLabelText(QStringLiteral("已导入 %1 / %2").arg(handled).arg(total));
}

void StockPage::FinishImport() {
  Import& im = *import_;
  im.Join();
  if (progress_) {
    progress_->close();
    progress_->deleteLater();
    progress_ = nullptr;
  }
  const ImportPlan& plan = *im.plan;
  const StockImport& r = im.result;
  const std::size_t total = plan.cards.size();
  const std::vector<std::size_t> rest = LinesNotWritten(plan, r.handled, r.refused);
  if (!im.fromFile && importBox_) {
    // Every line that did not get into the stock goes back into the box.
    const std::string text = LineTexts(im.pasted, rest);
    if (IsBlank(text)) {
      ShowImportPlaceholder();
    } else {
      importBox_->setPlainText(QFromGbk(ReplaceText(text, "\r\n", "\n")));
      SetTextColour(importBox_, TypedTextColour());
    }
  }
  FillStockList();
  if (r.written > 0) {
    QString line = QStringLiteral("导入卡密：宝贝“%1”新增 %2 张（来自%3）")
                       .arg(QFromGbk(im.itemName))
                       .arg(r.written)
                       .arg(im.fromFile ? QStringLiteral("文件") : QStringLiteral("输入框"));
    if (r.cancelled) line += QStringLiteral("，导入中途取消");
    emit changeMade(line);
  }
  EndImport(r.written > 0);

  const std::string done = std::to_string(r.written) + " / " + std::to_string(total);
  // What stopped the stock table, in the words the delivery uses for the
  // same causes, with what the seller can do about it.
  const std::string cause = r.failure.ok()
                                ? std::string()
                                : Utf8ToGbkLossy(CauseText(r.failure) + "，" + CauseAdvice(r.failure) + "。");
  if (total > 0 && r.handled == 0 && !r.cancelled) {
    if (cause.empty())
      prompts_.ShowBox("无法写入库存卡密，没有导入任何卡密。"_gbk, "导入卡密"_gbk, BoxKind::kError);
    else
      prompts_.ShowBox("无法写入库存卡密：没有导入任何卡密。\r\n"_gbk + cause, "导入卡密"_gbk,
                       BoxKind::kError);
    return;
  }
  if (!im.fromFile) {
    if (!cause.empty())
      prompts_.ShowBox(
          "写入库存卡密时出错：已导入 "_gbk + done + " 张卡密，其余的行留在输入框中。\r\n"_gbk + cause,
          "导入卡密"_gbk, BoxKind::kError);
    else if (r.cancelled)
      prompts_.ShowBox("导入已取消：已导入 "_gbk + done + " 张卡密，其余的行留在输入框中。"_gbk,
                       "导入卡密"_gbk, BoxKind::kInformation);
    return;
  }
  std::string text = r.cancelled ? "导入已取消：已导入 "_gbk + done + " 张卡密。"_gbk
                                 : "已导入 "_gbk + std::to_string(r.written) + " 张卡密。"_gbk;
  BoxKind kind = BoxKind::kInformation;
  if (!cause.empty()) {
    text = "写入库存卡密时出错：已导入 "_gbk + done + " 张卡密。\r\n"_gbk + cause;
    kind = BoxKind::kError;
  }
  if (im.keptFile) {
    text +=
        "\r\n未导入的 "_gbk + std::to_string(rest.size()) + " 行已写入：\r\n"_gbk + PathText(*im.keptFile);
  } else if (im.keptFileFailed) {
    text += "\r\n未导入的 "_gbk + std::to_string(rest.size()) +
            " 行无法写入源文件旁的新文件，请保留源文件：\r\n"_gbk + PathText(im.path);
    kind = BoxKind::kError;
  }
  prompts_.ShowBox(text, FileImportCaption(), kind);
}

void StockPage::EndImport(bool wroteCards) {
  if (importBox_) importBox_->setReadOnly(false);
  if (importButton_) importButton_->setEnabled(true);
  if (fileImportButton_) fileImportButton_->setEnabled(true);
  import_->running = false;
  if (wroteCards) emit stockChanged();
  emit importFinished();
}

void StockPage::DeleteSelectedStock() {
  if (!stockList_) return;
  std::vector<int> rows;
  for (const QModelIndex& index : stockList_->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  if (!rows.empty()) {
    const std::string question = "确定删除 "_gbk + std::to_string(rows.size()) + " 张卡密？"_gbk;
    if (prompts_.ShowBox(question, "删除库存"_gbk, BoxKind::kQuestion) != BoxAnswer::kYes) return;
  }
  const std::string itemName = stockModel_->itemName();
  Status failure;
  const std::size_t removed = RemoveStockCards(shop_, itemName, stockModel_->cards(), rows, &failure);
  FillStockList();
  if (removed > 0) {
    emit changeMade(QStringLiteral("删除库存：宝贝“%1”删除 %2 张卡密").arg(QFromGbk(itemName)).arg(removed));
    emit stockChanged();
  }
  if (!failure.ok()) {
    // Cards marked are out of the stock even when the file could not be
    // tidied up after them; the seller hears both.
    const std::string what =
        removed > 0 ? "已删除 "_gbk + std::to_string(removed) + " 张卡密，但整理库存文件时出错："_gbk
                    : "删除库存卡密出错，没有删除任何卡密："_gbk;
    prompts_.ShowBox(what + "\r\n"_gbk + Utf8ToGbkLossy(CauseSentence(failure)), "删除库存"_gbk,
                     BoxKind::kError);
  }
}

bool StockPage::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((type == QEvent::FocusIn || type == QEvent::FocusOut) && watched == importBox_ &&
      qobject_cast<QPlainTextEdit*>(watched)) {
    const std::string text = WithCrLfLineEnds(GbkFromQ(importBox_->toPlainText()));
    if (type == QEvent::FocusIn && text == CardImportPlaceholder() && !import_->running.load()) {
      importBox_->clear();
      SetTextColour(importBox_, TypedTextColour());
    } else if (type == QEvent::FocusOut && text != CardImportPlaceholder() && IsBlank(text)) {
      ShowImportPlaceholder();
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace autodeliver
