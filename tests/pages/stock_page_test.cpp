// The card-stock page: the item chooser, the card import with its
// placeholder, the stock list and "删除库存", also while the delivery thread
// takes cards.
#include <QPalette>
#include <QSignalSpy>
#include <thread>

#include "page_fixture.h"
#include "pages/list_models.h"
#include "store/item_table.h"
#include "store/stock_table.h"
#include "support/fault_io.h"
#include "tables/record_table.h"

namespace autodeliver::testing_pages {
namespace {

class StockPageTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
    ASSERT_TRUE(AppendItem(shop(), {"B", "", 0, true}));
    pages->RefreshAllPages();
  }

  std::vector<std::string> StockOf(const std::string& item) {
    std::vector<std::string> cards;
    for (const StockCard& c : LoadStockCardsOf(shop(), item))
      cards.push_back(c.cardNumber + "|" + c.cardPassword);
    return cards;
  }

  // Selects rows of the stock list with clicks (Ctrl held after the first).
  void SelectStockRows(const std::vector<int>& rows) {
    ShowPageOf(w->stockList);
    w->stockList->clearSelection();
    bool first = true;
    for (int row : rows) {
      const QRect rect = w->stockList->visualRect(w->stockList->model()->index(row, 0));
      QTest::mouseClick(w->stockList->viewport(), Qt::LeftButton,
                        first ? Qt::KeyboardModifiers() : Qt::ControlModifier, rect.center());
      first = false;
    }
    ASSERT_EQ(w->stockList->selectionModel()->selectedRows().size(), static_cast<qsizetype>(rows.size()));
  }

  const QColor silver{0xC0, 0xC0, 0xC0};
};

TEST_F(StockPageTest, ImportBoxPlaceholderAndTheEmptyImport) {
  const QString placeholder = QFromGbk(ReplaceText(CardImportPlaceholder(), "\r\n", "\n"));
  EXPECT_EQ(w->importBox->toPlainText(), placeholder);
  ChooseItem("A");
  // "增加入库" with the placeholder shown imports nothing and keeps it.
  ShowPageOf(w->importButton);
  QTest::mouseClick(w->importButton, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !pages->stock.importRunning(); }, 5000));
  EXPECT_TRUE(StockOf("A").empty());
  EXPECT_EQ(w->importBox->toPlainText(), placeholder);
  EXPECT_EQ(w->importBox->palette().color(QPalette::Text), silver);

  // Focus clears it; spaces only bring it back; line breaks are content.
  Focus(w->importBox);
  EXPECT_TRUE(w->importBox->toPlainText().isEmpty());
  EXPECT_EQ(w->importBox->palette().color(QPalette::Text), QColor(Qt::black));
  Type(w->importBox, QStringLiteral(" \u3000 "));
  Focus(w->chooser);
  EXPECT_EQ(w->importBox->toPlainText(), placeholder);
  Focus(w->importBox);
  QTest::keyClick(w->importBox, Qt::Key_Return);
  Focus(w->chooser);
  EXPECT_EQ(w->importBox->toPlainText(), QStringLiteral("\n"));
}

TEST_F(StockPageTest, ImportLosesNoPastedCard) {
  ChooseItem("A");
  // The last line has no line break; "bad" has no space and is no card.
  Import(QStringLiteral("A1 P1\nA2 P2 x\nbad\nA3 P3"));
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"A1|P1", "A2|P2 x", "A3|P3"}));
  EXPECT_TRUE(StockOf("B").empty());
  // The line that was no card stays in the box, in black.
  EXPECT_EQ(w->importBox->toPlainText(), QStringLiteral("bad"));
  EXPECT_EQ(w->importBox->palette().color(QPalette::Text), QColor(Qt::black));
  EXPECT_EQ(StockShown(), (std::vector<std::string>{"A1|P1|1", "A2|P2 x|2", "A3|P3|3"}));

  // A single card line is imported and shows at the end of the list; the
  // box gets its placeholder back.
  Focus(w->importBox);
  w->importBox->clear();
  Import(QStringLiteral("卡一 0"));
  EXPECT_EQ(StockOf("A").back(), "卡一|0"_gbk);
  EXPECT_EQ(StockShown().back(), "卡一|0|4"_gbk);
  EXPECT_EQ(w->importBox->toPlainText(), QFromGbk(ReplaceText(CardImportPlaceholder(), "\r\n", "\n")));
  EXPECT_EQ(w->importBox->palette().color(QPalette::Text), silver);
}

TEST_F(StockPageTest, ImportWithoutAChosenItemKeepsTheText) {
  ASSERT_EQ(w->chooser->currentIndex(), -1);
  Import(QStringLiteral("N1 P1\nN2 P2\n"));
  EXPECT_TRUE(StockOf("A").empty());
  EXPECT_TRUE(StockOf("").empty());
  EXPECT_EQ(w->importBox->toPlainText(), QStringLiteral("N1 P1\nN2 P2\n"));
}

TEST_F(StockPageTest, ChoosingAnItemShowsItsCardsAndRefreshKeepsTheChoice) {
  for (const char* n : {"a1", "a2"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "pw", 0}));
  ASSERT_TRUE(AppendStockCard(shop(), {"B", "b1", "pw", 0}));
  ChooseItem("B");
  EXPECT_EQ(StockShown(), (std::vector<std::string>{"b1|pw|3"}));
  ChooseItem("A");
  EXPECT_EQ(StockShown(), (std::vector<std::string>{"a1|pw|1", "a2|pw|2"}));
  // The Sqlid column is there but not seen.
  EXPECT_TRUE(w->stockList->isColumnHidden(StockListModel::kSqlid));
  EXPECT_EQ(w->stockList->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Sqlid"));

  // A refresh (as after a delivery that took a1) keeps A chosen and shows
  // the stock as it is now.
  std::thread([this] { ASSERT_TRUE(TakeStockCard(shop(), "A")); }).join();
  pages->RefreshAllPages();
  EXPECT_EQ(G(w->chooser->currentText()), "A");
  EXPECT_EQ(StockShown(), (std::vector<std::string>{"a2|pw|1"}));

  // "修改卡号" and "修改卡密" change nothing.
  ShowPageOf(w->numberButton);
  QTest::mouseClick(w->numberButton, Qt::LeftButton);
  QTest::mouseClick(w->passwordButton, Qt::LeftButton);
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"a2|pw"}));
}

TEST_F(StockPageTest, DeleteAsksWithTheCountAndRemovesExactlyTheSelectedCards) {
  // Cards of B between those of A, so list rows and records differ.
  ASSERT_TRUE(AppendStockCard(shop(), {"A", "a1", "p", 0}));
  ASSERT_TRUE(AppendStockCard(shop(), {"B", "b1", "p", 0}));
  for (const char* n : {"a2", "a3", "a4"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  ChooseItem("A");
  QSignalSpy logged(&pages->stock, &StockPage::changeMade);
  SelectStockRows({0, 2});
  prompts.questionAnswers = {BoxAnswer::kNo};
  QTest::mouseClick(w->deleteStockButton, Qt::LeftButton);
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, "确定删除 2 张卡密？"_gbk);
  EXPECT_EQ(prompts.boxes[0].kind, BoxKind::kQuestion);
  EXPECT_EQ(StockOf("A").size(), 4u);
  EXPECT_EQ(logged.count(), 0);

  QTest::mouseClick(w->deleteStockButton, Qt::LeftButton);
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"a2|p", "a4|p"}));
  EXPECT_EQ(StockOf("B"), (std::vector<std::string>{"b1|p"}));
  EXPECT_EQ(StockShown(), (std::vector<std::string>{"a2|p|2", "a4|p|3"}));
  ASSERT_EQ(logged.count(), 1);
  EXPECT_EQ(logged[0][0].toString(), QStringLiteral("删除库存：宝贝“A”删除 2 张卡密"));

  // Nothing selected: no question, nothing removed.
  w->stockList->clearSelection();
  QTest::mouseClick(w->deleteStockButton, Qt::LeftButton);
  EXPECT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(StockOf("A").size(), 2u);
}

// A removal the stock table cannot take tells the seller why; the cards
// stay, shown and in the file, and no removal is logged.
TEST_F(StockPageTest, AFailedDeleteSaysWhyAndKeepsTheCards) {
  for (const char* n : {"a1", "a2"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  ChooseItem("A");
  QSignalSpy logged(&pages->stock, &StockPage::changeMade);
  SelectStockRows({1});
  testing::FaultIo io;
  io.failWrite = 1;
  io.failWriteErrno = EACCES;
  io.failWriteLands = 0;
  shop().SetStoreFileIo(&io);
  QTest::mouseClick(w->deleteStockButton, Qt::LeftButton);
  shop().SetStoreFileIo(nullptr);
  EXPECT_TRUE(io.failed);
  ASSERT_EQ(prompts.boxes.size(), 2u);  // the question, then the failure
  EXPECT_EQ(prompts.boxes[1].kind, BoxKind::kError);
  const std::string file = shop().StockTablePath();
  EXPECT_EQ(prompts.boxes[1].text, Utf8ToGbkLossy("删除库存卡密出错，没有删除任何卡密：\r\n没有写入权限（" +
                                                  file + "），请检查数据文件夹的写入权限。"));
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"a1|p", "a2|p"}));
  EXPECT_EQ(StockShown(), (std::vector<std::string>{"a1|p|1", "a2|p|2"}));
  EXPECT_EQ(logged.count(), 0);
}

TEST_F(StockPageTest, DeleteStaysExactWhenTheDeliveryTookCardsMeanwhile) {
  for (const char* n : {"c1", "c2", "c3", "c4", "c5"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  ChooseItem("A");
  ASSERT_EQ(StockShown().size(), 5u);
  // The delivery thread takes the two oldest cards; the list is not
  // refilled before the seller acts on it.
  std::thread([this] {
    ASSERT_TRUE(TakeStockCard(shop(), "A"));
    ASSERT_TRUE(TakeStockCard(shop(), "A"));
  }).join();
  // The seller selects c1 (already delivered) and c4.
  SelectStockRows({0, 3});
  QTest::mouseClick(w->deleteStockButton, Qt::LeftButton);
  EXPECT_EQ(StockOf("A"), (std::vector<std::string>{"c3|p", "c5|p"}));
  EXPECT_EQ(StockShown(), (std::vector<std::string>{"c3|p|1", "c5|p|2"}));
}

}  // namespace
}  // namespace autodeliver::testing_pages
