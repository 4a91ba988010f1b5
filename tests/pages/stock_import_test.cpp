// The card import as the seller meets it: the preview with its numbers and
// reasons and the duplicates tick, a cancelled preview, the import from a
// card file with the lines not imported kept beside it, a write that fails
// and says why, and a cancelled import that keeps what it wrote.
#include <QFile>
#include <QSignalSpy>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "page_fixture.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/stock_table.h"
#include "store/store_lock.h"
#include "support/fault_io.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver::testing_pages {
namespace {

class StockImportTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
    ASSERT_TRUE(AppendItem(shop(), {"B", "", 0, true}));
    pages->RefreshAllPages();
    ChooseItem("A");
  }

  std::vector<std::string> StockOf(const std::string& item) {
    std::vector<std::string> cards;
    for (const StockCard& c : LoadStockCardsOf(shop(), item))
      cards.push_back(c.cardNumber + "|" + c.cardPassword);
    return cards;
  }

  // Pastes `text` and presses "增加入库"; returns the preview.
  ImportPreviewDialog* PasteAndPress(const QString& text) {
    Focus(w->importBox);
    w->importBox->insertPlainText(text);
    ShowPageOf(w->importButton);
    QTest::mouseClick(w->importButton, Qt::LeftButton);
    return WaitForPreview();
  }

  static QString Text(ImportPreviewDialog* preview, const char* name) {
    auto* label = preview->findChild<QLabel*>(QString::fromUtf8(name));
    return label ? label->text() : QStringLiteral("<none>");
  }

  // The lines the preview says will not be imported, cells joined by "|".
  static std::vector<std::string> KeptRows(ImportPreviewDialog* preview) {
    std::vector<std::string> rows;
    QAbstractItemModel* m = preview->keptLinesView()->model();
    for (int r = 0; r < m->rowCount(); ++r) {
      QStringList cells;
      for (int c = 0; c < m->columnCount(); ++c) cells << m->index(r, c).data().toString();
      rows.push_back(cells.join(QLatin1Char('|')).toStdString());
    }
    return rows;
  }

  static void WriteBytes(const QString& path, const std::string& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }
};

TEST_F(StockImportTest, PreviewGivesNumbersAndReasonsAndTheTickLetsDuplicatesIn) {
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "S1", "p", 0}));
  ASSERT_TRUE(AppendStockCard(shop(), {"B", "O1", "p", 0}));
  ASSERT_TRUE(AppendSentCard(shop(), {"B", "1001", "buyer", 1, "H1", "p", "", "t"}));
  // Another item's stock is no duplicate; the sent history of any item is.
  ImportPreviewDialog* preview = PasteAndPress(QStringLiteral("N1 p\nS1 p\nH1 p\nN1 p\nbad\nO1 p\nN2 p"));
  ASSERT_NE(preview, nullptr);
  EXPECT_TRUE(pages->stock.importRunning());
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"S1|p"})) << "nothing is written before the preview";

  EXPECT_EQ(Text(preview, ImportPreviewDialog::kSummary),
            QStringLiteral("将导入 3 张卡密，4 行不导入（共 7 行）。"));
  EXPECT_EQ(
      Text(preview, ImportPreviewDialog::kReasons),
      QStringLiteral("库存中已有 1 行，已发过 1 行，本次重复 1 行，卡号或卡密为空 0 行，格式不对 1 行"));
  EXPECT_EQ(KeptRows(preview),
            (std::vector<std::string>{"S1 p|库存中已有", "H1 p|已发过", "N1 p|本次重复", "bad|格式不对"}));
  EXPECT_TRUE(preview->importButton()->isEnabled());

  // The tick counts the duplicates in; the line that is no card stays out.
  TickDuplicates(preview);
  EXPECT_EQ(Text(preview, ImportPreviewDialog::kSummary),
            QStringLiteral("将导入 6 张卡密，1 行不导入（共 7 行）。"));
  EXPECT_EQ(KeptRows(preview), (std::vector<std::string>{"bad|格式不对"}));
  TickDuplicates(preview);
  EXPECT_EQ(preview->cardsToImport(), 3u);

  AcceptPreview(true);
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"S1|p", "N1|p", "S1|p", "H1|p", "N1|p", "O1|p", "N2|p"}));
  EXPECT_EQ(w->importBox->toPlainText(), QStringLiteral("bad"));
  EXPECT_EQ(StockShown().size(), 7u);
  EXPECT_TRUE(prompts.boxes.empty());

  // Without the tick the duplicates stay in the box, in their places.
  Focus(w->importBox);
  w->importBox->clear();
  preview = PasteAndPress(QStringLiteral("N3 p\nS1 p\nN4 p\nN3 p"));
  ASSERT_NE(preview, nullptr);
  AcceptPreview();
  EXPECT_EQ(StockOf("A").size(), 9u);
  EXPECT_EQ(StockOf("A").back(), "N4|p");
  EXPECT_EQ(w->importBox->toPlainText(), QStringLiteral("S1 p\nN3 p"));
}

// The cards the preview says will be stored, as "number|password".
static std::vector<std::string> CardRows(ImportPreviewDialog* preview) {
  std::vector<std::string> rows;
  QAbstractItemModel* m = preview->cardsView()->model();
  for (int r = 0; r < m->rowCount(); ++r)
    rows.push_back((m->index(r, 0).data().toString() + "|" + m->index(r, 1).data().toString()).toStdString());
  return rows;
}

TEST_F(StockImportTest, PreviewShowsTheCardsAsStoredAndASwapTurnsTheWholeImport) {
  // The stock holds PW1 as a number: once swapped, the first line is a
  // duplicate, which the check must find again.
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "PW1", "DK1", 0}));
  ImportPreviewDialog* preview = PasteAndPress(QStringLiteral("DK1 PW1\nDK2 PW2\nDK3 "));
  ASSERT_NE(preview, nullptr);
  QAbstractItemModel* cards = preview->cardsView()->model();
  EXPECT_EQ(cards->headerData(0, Qt::Horizontal).toString(), QStringLiteral("卡号"));
  EXPECT_EQ(cards->headerData(1, Qt::Horizontal).toString(), QStringLiteral("卡密"));
  EXPECT_EQ(CardRows(preview), (std::vector<std::string>{"DK1|PW1", "DK2|PW2"}));
  EXPECT_EQ(KeptRows(preview), (std::vector<std::string>{"DK3 |卡号或卡密为空"}));

  QTest::mouseClick(preview->swapBox(), Qt::LeftButton, {}, QPoint(8, preview->swapBox()->height() / 2));
  ASSERT_TRUE(QTest::qWaitFor([&] { return preview->swapBox()->isEnabled(); }, 30000));
  EXPECT_TRUE(preview->swapped());
  EXPECT_EQ(CardRows(preview), (std::vector<std::string>{"PW2|DK2"}));
  // "DK3 " swapped has an empty number: still a line cut short.
  EXPECT_EQ(KeptRows(preview), (std::vector<std::string>{"DK1 PW1|库存中已有", "DK3 |卡号或卡密为空"}));
  EXPECT_EQ(preview->cardsToImport(), 1u);
  AcceptPreview();
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"PW1|DK1", "PW2|DK2"}));
  EXPECT_EQ(w->importBox->toPlainText(), QStringLiteral("DK1 PW1\nDK3 "));
}

TEST_F(StockImportTest, AnEmptyPasswordIsFlaggedAndImportedOnlyWhenTicked) {
  ImportPreviewDialog* preview = PasteAndPress(QStringLiteral("DK1 PW1\nDK2 \nDK3 0"));
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(KeptRows(preview), (std::vector<std::string>{"DK2 |卡号或卡密为空"}));
  EXPECT_EQ(preview->cardsToImport(), 2u);  // "0" is a password like any other
  QCheckBox* tick = preview->noPasswordBox();
  ASSERT_TRUE(tick->isEnabled());
  QTest::mouseClick(tick, Qt::LeftButton, {}, QPoint(8, tick->height() / 2));
  EXPECT_EQ(preview->cardsToImport(), 3u);
  EXPECT_TRUE(KeptRows(preview).empty());
  QSignalSpy logged(&pages->stock, &StockPage::changeMade);
  AcceptPreview();
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"DK1|PW1", "DK2|", "DK3|0"}));
  ASSERT_EQ(logged.count(), 1);
  EXPECT_EQ(logged[0][0].toString(), QStringLiteral("导入卡密：宝贝“A”新增 3 张（来自输入框）"));
}

TEST_F(StockImportTest, CancellingThePreviewWritesNothingAndKeepsTheBox) {
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "S1", "p", 0}));
  // Only a duplicate and a line that is no card: nothing to import unless
  // the duplicate is ticked in.
  ImportPreviewDialog* preview = PasteAndPress(QStringLiteral("S1 p\nbad"));
  ASSERT_NE(preview, nullptr);
  EXPECT_FALSE(preview->importButton()->isEnabled());
  TickDuplicates(preview);
  EXPECT_TRUE(preview->importButton()->isEnabled());

  QTest::mouseClick(preview->cancelButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !pages->stock.importRunning(); }, 5000));
  EXPECT_EQ(pages->stock.preview(), nullptr);
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"S1|p"}));
  EXPECT_EQ(w->importBox->toPlainText(), QStringLiteral("S1 p\nbad"));
  EXPECT_FALSE(w->importBox->isReadOnly());
  EXPECT_TRUE(w->importButton->isEnabled());
  EXPECT_TRUE(w->fileImportButton->isEnabled());
}

TEST_F(StockImportTest, FileImportKeepsTheLinesNotImportedBesideTheFile) {
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "S1", "p", 0}));
  // A GBK CSV file with a header, a duplicate, a line that is no card and a
  // quoted password holding a comma.
  const QString path = dir_.path() + QStringLiteral("/供货.csv");
  WriteBytes(path, "卡号,卡密\r\n甲1,密1\r\nS1,p\r\n坏行\r\n\r\n甲2,\"p,2\"\r\n"_gbk);
  prompts.files = {path.toStdString()};
  ShowPageOf(w->fileImportButton);
  QTest::mouseClick(w->fileImportButton, Qt::LeftButton);
  ASSERT_EQ(prompts.fileAsks.size(), 1u);
  EXPECT_EQ(prompts.fileAsks[0].caption, "选择卡密文件"_gbk);
  ImportPreviewDialog* preview = WaitForPreview();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(Text(preview, ImportPreviewDialog::kSummary),
            QStringLiteral("将导入 2 张卡密，2 行不导入（共 4 行）。"));
  // Lines are numbered as in the file.
  EXPECT_EQ(KeptRows(preview), (std::vector<std::string>{"3|S1,p|库存中已有", "4|坏行|格式不对"}));
  bool namesTheFile = false;
  for (QLabel* label : preview->findChildren<QLabel*>())
    namesTheFile = namesTheFile || label->text().contains(QStringLiteral("供货.csv（CSV，GBK）"));
  EXPECT_TRUE(namesTheFile);

  AcceptPreview();
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"S1|p", "甲1|密1"_gbk, "甲2|p,2"_gbk}));
  // The lines not imported, as they stood, in a new file beside the source.
  const QString kept = dir_.path() + QStringLiteral("/供货.未导入.csv");
  QFile keptFile(kept);
  ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
  EXPECT_EQ(keptFile.readAll().toStdString(), "S1,p\r\n坏行\r\n"_gbk);
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].caption, "从文件导入"_gbk);
  EXPECT_EQ(prompts.boxes[0].kind, BoxKind::kInformation);
  EXPECT_EQ(prompts.boxes[0].text, "已导入 2 张卡密。\r\n未导入的 2 行已写入：\r\n"_gbk + G(kept));
  // The paste box is not part of a file import.
  EXPECT_EQ(w->importBox->toPlainText(), QFromGbk(ReplaceText(CardImportPlaceholder(), "\r\n", "\n")));
}

// The stock table cannot be written: the seller hears why, in the words the
// delivery uses for the same cause, and the lines stay in the box.
TEST_F(StockImportTest, AFailedWriteTellsTheSellerWhy) {
  // The first write of an append goes to the table's companion file.
  const std::string file = CompanionFilePath(shop().StockTablePath());
  struct Case {
    int error;
    std::string says;  // UTF-8
  };
  for (const Case& c : {Case{ENOSPC, "磁盘已满，请腾出磁盘空间。"},
                        Case{EACCES, "没有写入权限（" + file + "），请检查数据文件夹的写入权限。"}}) {
    SCOPED_TRACE("errno " + std::to_string(c.error));
    w->importBox->clear();
    prompts.boxes.clear();
    ASSERT_NE(PasteAndPress(QStringLiteral("N1 P1\nN2 P2")), nullptr);
    testing::FaultIo io;
    io.failWrite = 1;
    io.failWriteErrno = c.error;
    io.failWriteLands = 0;
    shop().SetStoreFileIo(&io);
    AcceptPreview();
    shop().SetStoreFileIo(nullptr);
    EXPECT_TRUE(io.failed);
    EXPECT_TRUE(StockOf("A").empty());
    EXPECT_EQ(w->importBox->toPlainText(), QStringLiteral("N1 P1\nN2 P2"));
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].kind, BoxKind::kError);
    EXPECT_EQ(prompts.boxes[0].text, "无法写入库存卡密：没有导入任何卡密。\r\n"_gbk + *Utf8ToGbk(c.says));
  }
}

TEST_F(StockImportTest, FileImportAsksForAnItemAndSaysWhatItCannotRead) {
  // No item chosen: the seller is told to choose one; no file is asked for.
  pages->stock.FillItemChooser();
  w->chooser->setCurrentIndex(-1);
  pages->stock.ImportFromFile();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, "请先在“发货宝贝”中选择要入库的宝贝，再从文件导入。"_gbk);
  EXPECT_TRUE(prompts.fileAsks.empty());

  ChooseItem("A");
  prompts.files = {std::nullopt, (dir_.path() + QStringLiteral("/none.txt")).toStdString()};
  pages->stock.ImportFromFile();  // the file dialog is cancelled
  EXPECT_FALSE(pages->stock.importRunning());
  pages->stock.ImportFromFile();  // a file that is not there
  ASSERT_TRUE(QTest::qWaitFor([&] { return !pages->stock.importRunning(); }, 10000));
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[1].kind, BoxKind::kError);
  EXPECT_EQ(prompts.boxes[1].text.rfind("无法读取这个文件"_gbk, 0), 0u);
  EXPECT_TRUE(StockOf("A").empty());
  EXPECT_TRUE(w->fileImportButton->isEnabled());
}

// The seller cancels while the cards are written: what was written stays,
// the rest of the lines stay in the box, and the message says how far it
// got.
TEST_F(StockImportTest, CancelKeepsWhatWasWrittenAndSaysHowFar) {
  constexpr int kLines = 5000;
  QString text;
  for (int i = 0; i < kLines; ++i) text += QStringLiteral("N%1 P%1\n").arg(i, 4, 10, QLatin1Char('0'));
  ImportPreviewDialog* preview = PasteAndPress(text);
  ASSERT_NE(preview, nullptr);

  // Another thread holds the store lock, so the import cannot get far
  // before the cancel.
  std::mutex m;
  std::condition_variable cv;
  bool held = false, release = false;
  std::thread holder([&] {
    StoreGuard guard(shop());
    std::unique_lock<std::mutex> lock(m);
    held = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(60), [&] { return release; });
  });
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return held; }));
  }
  QTest::mouseClick(preview->importButton(), Qt::LeftButton);
  QProgressDialog* progress = pages->stock.progress();
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->labelText(), QStringLiteral("已导入 0 / 5000"));
  EXPECT_EQ(progress->maximum(), kLines);
  QPushButton* cancel = nullptr;
  for (QPushButton* b : progress->findChildren<QPushButton*>())
    if (b->text() == QStringLiteral("取消")) cancel = b;
  ASSERT_NE(cancel, nullptr);
  QTest::mouseClick(cancel, Qt::LeftButton);
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  holder.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !pages->stock.importRunning(); }, 60000));

  // The cancel is seen before the first batch or after it.
  const std::vector<StockCard> stock = LoadStockCardsOf(shop(), "A");
  const int written = static_cast<int>(stock.size());
  EXPECT_LT(written, kLines);
  EXPECT_EQ(written % 1000, 0);
  for (int i = 0; i < written; ++i)
    ASSERT_EQ(stock[i].cardNumber, QStringLiteral("N%1").arg(i, 4, 10, QLatin1Char('0')).toStdString());
  const QStringList rest = w->importBox->toPlainText().split(QLatin1Char('\n'));
  ASSERT_EQ(rest.size(), kLines - written);
  EXPECT_EQ(rest.front(), QStringLiteral("N%1 P%1").arg(written, 4, 10, QLatin1Char('0')));
  EXPECT_EQ(rest.back(), QStringLiteral("N4999 P4999"));
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, "导入已取消：已导入 "_gbk + std::to_string(written) +
                                       " / 5000 张卡密，其余的行留在输入框中。"_gbk);
  EXPECT_EQ(pages->stock.progress(), nullptr);
}

}  // namespace
}  // namespace autodeliver::testing_pages
