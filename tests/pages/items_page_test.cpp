// The monitored-items page, driven as a seller would: the name box, adding,
// renaming, deleting items with their cards and the attribute edits.
#include <QPalette>
#include <QSignalSpy>

#include "delivery/message_template.h"
#include "page_fixture.h"
#include "store/item_table.h"
#include "store/seller_actions.h"
#include "store/stock_table.h"
#include "store/warning_levels.h"
#include "support/fault_io.h"

namespace autodeliver::testing_pages {
namespace {

class ItemsPageTest : public PagesTest {
 protected:
  // Clicks a row and waits until its attributes are shown (every item shows
  // a number in the limit box).
  void ShowRow(int row) {
    w->remarkBox->clear();
    w->limitBox->clear();
    ClickItemRow(row);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->limitBox->text().isEmpty(); }, 2000));
  }
};

const QColor kSilver(0xC0, 0xC0, 0xC0);

void AddItemsAndCards(ShopContext& shop, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    ASSERT_TRUE(AppendItem(shop, {name, "", 0, true}));
    ASSERT_TRUE(AppendStockCard(shop, {name, name + "-c1", "p", 0}));
    ASSERT_TRUE(AppendStockCard(shop, {name, name + "-c2", "p", 0}));
  }
}

TEST_F(ItemsPageTest, NameBoxPlaceholderComesAndGoesWithTheFocus) {
  const QString placeholder = QFromGbk(ItemNamePlaceholder());
  EXPECT_EQ(w->nameBox->text(), placeholder);
  Focus(w->nameBox);
  EXPECT_EQ(w->nameBox->text(), QString());
  EXPECT_EQ(w->nameBox->palette().color(QPalette::Text), QColor(Qt::black));
  // Only ASCII and full-width spaces: the placeholder returns in silver.
  Type(w->nameBox, QStringLiteral("  \u3000 "));
  Focus(w->remarkBox);
  EXPECT_EQ(w->nameBox->text(), placeholder);
  EXPECT_EQ(w->nameBox->palette().color(QPalette::Text), kSilver);
  // A tab is content and stays.
  Focus(w->nameBox);
  w->nameBox->setText(QStringLiteral("\t"));
  Focus(w->remarkBox);
  EXPECT_EQ(w->nameBox->text(), QStringLiteral("\t"));
}

TEST_F(ItemsPageTest, AddingAnItemAndRefusingADuplicate) {
  // The placeholder itself is never added.
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  EXPECT_TRUE(LoadItemNames(shop()).empty());
  EXPECT_TRUE(prompts.boxes.empty());

  Focus(w->nameBox);
  Type(w->nameBox, QStringLiteral("点卡 A"));
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  ASSERT_EQ(ItemsShown(), (std::vector<std::string>{"点卡 A"_gbk}));
  EXPECT_EQ(w->itemsList->topLevelItem(0)->text(1), QStringLiteral("在线卡密"));
  EXPECT_EQ(w->itemsList->topLevelItem(0)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(w->nameBox->text(), QFromGbk(ItemNamePlaceholder()));
  EXPECT_EQ(w->nameBox->palette().color(QPalette::Text), kSilver);
  EXPECT_EQ(w->chooser->count(), 1);
  const std::optional<MonitoredItem> stored = ReadItemAt(shop(), 1);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->remark, "");
  EXPECT_EQ(stored->purchaseLimit, 0);
  EXPECT_TRUE(stored->needsCard);

  // The same name byte for byte is refused with a message.
  Focus(w->nameBox);
  Type(w->nameBox, QStringLiteral("点卡 A"));
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, "宝贝已存在监控列表！"_gbk);
  EXPECT_EQ(prompts.boxes[0].caption, "失败"_gbk);
  EXPECT_EQ(prompts.boxes[0].kind, BoxKind::kError);
  EXPECT_EQ(LoadItemNames(shop()).size(), 1u);

  // With a trailing space it is another item, stored untrimmed.
  Focus(w->nameBox);
  w->nameBox->setText(QStringLiteral("点卡 A "));
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  EXPECT_EQ(ItemsShown(), (std::vector<std::string>{"点卡 A"_gbk, "点卡 A "_gbk}));
  EXPECT_EQ(prompts.boxes.size(), 1u);

  // A name longer than the tables' name fields hold is refused, never cut,
  // and stays in the box to be shortened; so is such a new name for an item.
  const QString tooLong = QString(51, QChar(0x5361));  // 51 x "卡": 102 bytes
  Focus(w->nameBox);
  w->nameBox->setText(tooLong);
  QTest::mouseClick(w->addButton, Qt::LeftButton);
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[1].text, "宝贝名称太长，最多 100 个字节（约 50 个汉字），请改短后再试。"_gbk);
  EXPECT_EQ(prompts.boxes[1].kind, BoxKind::kError);
  EXPECT_EQ(w->nameBox->text(), tooLong);
  EXPECT_EQ(LoadItemNames(shop()).size(), 2u);
  CheckItemRow(0);
  prompts.answers = {G(tooLong)};
  QTest::mouseClick(w->renameButton, Qt::LeftButton);
  ASSERT_EQ(prompts.boxes.size(), 3u);
  EXPECT_EQ(prompts.boxes[2].text, prompts.boxes[1].text);
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"点卡 A"_gbk, "点卡 A "_gbk}));
}

TEST_F(ItemsPageTest, RenameAsksPerCheckedRowAndCancelGoesOn) {
  AddItemsAndCards(shop(), {"A", "B", "C"});
  pages->RefreshAllPages();
  CheckItemRow(0);
  CheckItemRow(2);
  prompts.answers = {std::nullopt, std::string("C2")};
  QTest::mouseClick(w->renameButton, Qt::LeftButton);

  ASSERT_EQ(prompts.asks.size(), 2u);
  EXPECT_EQ(prompts.asks[0].prompt, "A - 请输入新的宝贝名称"_gbk);
  EXPECT_EQ(prompts.asks[1].prompt, "C - 请输入新的宝贝名称"_gbk);
  EXPECT_EQ(prompts.asks[0].caption, "宝贝名称修改"_gbk);
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"A", "B", "C2"}));
  // The cards followed the renamed item; the cancelled one kept its cards.
  EXPECT_EQ(LoadStockCardsOf(shop(), "C2").size(), 2u);
  EXPECT_TRUE(LoadStockCardsOf(shop(), "C").empty());
  EXPECT_EQ(LoadStockCardsOf(shop(), "A").size(), 2u);
  EXPECT_TRUE(prompts.boxes.empty());
  // The list was refilled: nothing checked any more.
  EXPECT_EQ(ItemsShown(), (std::vector<std::string>{"A", "B", "C2"}));
  for (int r = 0; r < 3; ++r) EXPECT_EQ(w->itemsList->topLevelItem(r)->checkState(0), Qt::Unchecked);
}

TEST_F(ItemsPageTest, DeleteAsksWithTheCountsAndRemovesExactlyTheCheckedItems) {
  AddItemsAndCards(shop(), {"I1", "I2", "I3", "I4", "I5"});
  pages->RefreshAllPages();
  QSignalSpy logged(&pages->items, &ItemsPage::changeMade);

  // Nothing checked: nothing changes and nothing is asked.
  QTest::mouseClick(w->deleteButton, Qt::LeftButton);
  EXPECT_EQ(LoadItemNames(shop()).size(), 5u);
  EXPECT_TRUE(prompts.boxes.empty());

  // "No" keeps everything.
  CheckItemRow(0);
  CheckItemRow(2);
  prompts.questionAnswers = {BoxAnswer::kNo};
  QTest::mouseClick(w->deleteButton, Qt::LeftButton);
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, "确定删除这 2 个宝贝及其 4 张卡密？"_gbk);
  EXPECT_EQ(prompts.boxes[0].kind, BoxKind::kQuestion);
  EXPECT_EQ(LoadItemNames(shop()).size(), 5u);
  EXPECT_EQ(LoadStockCardsOf(shop(), "I1").size(), 2u);
  EXPECT_EQ(logged.count(), 0);

  // "Yes" removes the two with their cards, and each removal is logged.
  QTest::mouseClick(w->deleteButton, Qt::LeftButton);
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"I2", "I4", "I5"}));
  EXPECT_EQ(ItemsShown(), (std::vector<std::string>{"I2", "I4", "I5"}));
  EXPECT_TRUE(LoadStockCardsOf(shop(), "I1").empty());
  EXPECT_TRUE(LoadStockCardsOf(shop(), "I3").empty());
  for (const char* kept : {"I2", "I4", "I5"}) EXPECT_EQ(LoadStockCardsOf(shop(), kept).size(), 2u) << kept;
  ASSERT_EQ(logged.count(), 2);
  EXPECT_EQ(logged[0][0].toString(), QStringLiteral("删除宝贝“I1”及其 2 张库存卡密"));
  EXPECT_EQ(logged[1][0].toString(), QStringLiteral("删除宝贝“I3”及其 2 张库存卡密"));

  // One item is named in the question.
  CheckItemRow(1);
  QTest::mouseClick(w->deleteButton, Qt::LeftButton);
  ASSERT_EQ(prompts.boxes.size(), 3u);
  EXPECT_EQ(prompts.boxes[2].text, "确定删除宝贝“I4”及其 2 张卡密？"_gbk);
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"I2", "I5"}));
}

TEST_F(ItemsPageTest, RenameOffersTheNameAndRefusesAnEmptyOrUnchangedOne) {
  struct Case {
    const char* typed;
    bool refusedWithBox;
  };
  // An empty name would match no order and strand the item's cards; the
  // same name again is no change at all.
  for (const Case& c : {Case{"", true}, Case{"   ", true}, Case{"\xe3\x80\x80", true}, Case{"A", false}}) {
    SCOPED_TRACE(c.typed);
    prompts.asks.clear();
    prompts.boxes.clear();
    AddItemsAndCards(shop(), {"A"});
    pages->RefreshAllPages();
    QSignalSpy logged(&pages->items, &ItemsPage::changeMade);
    CheckItemRow(0);
    prompts.answers = {G(QString::fromUtf8(c.typed))};
    QTest::mouseClick(w->renameButton, Qt::LeftButton);
    ASSERT_EQ(prompts.asks.size(), 1u);
    EXPECT_EQ(prompts.asks[0].initial, "A");
    EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"A"}));
    EXPECT_EQ(LoadStockCardsOf(shop(), "A").size(), 2u);
    EXPECT_EQ(prompts.boxes.size(), c.refusedWithBox ? 1u : 0u);
    if (c.refusedWithBox) {
      EXPECT_EQ(prompts.boxes[0].text, "宝贝名称不能为空，没有修改。"_gbk);
    }
    EXPECT_EQ(logged.count(), 0);
    DeleteItems(shop(), {{1, "A"}});
  }

  // A real change is made and logged.
  AddItemsAndCards(shop(), {"A"});
  pages->RefreshAllPages();
  QSignalSpy logged(&pages->items, &ItemsPage::changeMade);
  CheckItemRow(0);
  prompts.answers = {std::string("A2")};
  QTest::mouseClick(w->renameButton, Qt::LeftButton);
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"A2"}));
  EXPECT_EQ(LoadStockCardsOf(shop(), "A2").size(), 2u);
  ASSERT_EQ(logged.count(), 1);
  EXPECT_EQ(logged[0][0].toString(), QStringLiteral("宝贝“A”改名为“A2”，库存卡密随之改名"));
}

// "消息模板" edits the selected item's template: line breaks become CR LF,
// the box shows the stored one again, too long a template is refused with a
// message and nothing stored, an emptied box removes it.
TEST_F(ItemsPageTest, MessageTemplateOfTheSelectedItem) {
  AddItemsAndCards(shop(), {"A", "B"});
  pages->RefreshAllPages();
  std::vector<QString> shown;
  QString answer;
  pages->items.askTemplate = [&](const QString& item, const QString& current) -> std::optional<QString> {
    shown.push_back(item + "|" + current);
    return answer;
  };
  pages->items.EditMessageTemplate();  // no row selected
  EXPECT_TRUE(shown.empty());
  ASSERT_EQ(prompts.boxes.size(), 1u);

  ShowRow(1);
  answer = QStringLiteral("{宝贝名称} 的卡：\n{卡密}");
  pages->items.EditMessageTemplate();
  EXPECT_EQ(MessageTemplateOf(shop(), "B"), "{宝贝名称} 的卡：\r\n{卡密}"_gbk);
  EXPECT_FALSE(MessageTemplateOf(shop(), "A").has_value());

  ShowRow(1);
  answer = QString(4000, QLatin1Char('x'));
  pages->items.EditMessageTemplate();
  EXPECT_EQ(shown.back(), QStringLiteral("B|{宝贝名称} 的卡：\n{卡密}"));
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes.back().kind, BoxKind::kError);
  EXPECT_EQ(MessageTemplateOf(shop(), "B"), "{宝贝名称} 的卡：\r\n{卡密}"_gbk);

  // The settings table cannot be written: the seller hears why, and the
  // stored template stays.
  ShowRow(1);
  answer = QStringLiteral("新模板 {卡密}");
  {
    testing::FaultIo io;
    io.failWrite = 1;
    io.failWriteErrno = ENOSPC;
    io.failWriteLands = 0;
    shop().SetStoreFileIo(&io);
    pages->items.EditMessageTemplate();
    shop().SetStoreFileIo(nullptr);
    EXPECT_TRUE(io.failed);
  }
  ASSERT_EQ(prompts.boxes.size(), 3u);
  EXPECT_EQ(prompts.boxes.back().text, "消息模板保存失败！磁盘已满，请腾出磁盘空间。"_gbk);
  EXPECT_EQ(MessageTemplateOf(shop(), "B"), "{宝贝名称} 的卡：\r\n{卡密}"_gbk);

  ShowRow(1);
  answer = QString();
  pages->items.EditMessageTemplate();
  EXPECT_FALSE(MessageTemplateOf(shop(), "B").has_value());
}

TEST_F(ItemsPageTest, AttributeEditsWorkOnTheSelectedRowOnly) {
  AddItemsAndCards(shop(), {"A", "B", "C"});
  ASSERT_TRUE(WriteItemAt(shop(), 2, {"B", "old", 7, false}));
  pages->RefreshAllPages();

  // A click on row 1 (the second) shows its attributes.
  ShowRow(1);
  EXPECT_EQ(w->remarkBox->text(), QStringLiteral("old"));
  EXPECT_EQ(w->limitBox->text(), QStringLiteral("7"));
  EXPECT_FALSE(w->needsCardBox->isChecked());
  EXPECT_EQ(w->itemsList->topLevelItem(1)->text(1), QStringLiteral("无需卡密"));

  // A new remark is stored on that item when the box loses the focus.
  Focus(w->remarkBox);
  w->remarkBox->selectAll();
  Type(w->remarkBox, QStringLiteral("新备注"));
  Focus(w->nameBox);
  EXPECT_EQ(ReadItemAt(shop(), 2)->remark, "新备注"_gbk);
  EXPECT_EQ(ReadItemAt(shop(), 1)->remark, "");
  EXPECT_EQ(ReadItemAt(shop(), 3)->remark, "");
  // The refill left no row selected, so a further edit does nothing.
  EXPECT_TRUE(w->itemsList->selectedItems().isEmpty());
  Focus(w->limitBox);
  Type(w->limitBox, QStringLiteral("99"));
  Focus(w->nameBox);
  EXPECT_EQ(ReadItemAt(shop(), 2)->purchaseLimit, 7);

  // Limits: full-width digits count, text without leading digits is 0.
  struct LimitCase {
    QString typed;
    int stored;
  };
  for (const LimitCase& c : {LimitCase{QStringLiteral("１２x"), 12}, LimitCase{QStringLiteral("abc"), 0}}) {
    ShowRow(2);
    Focus(w->limitBox);
    w->limitBox->setText(c.typed);
    Focus(w->nameBox);
    EXPECT_EQ(ReadItemAt(shop(), 3)->purchaseLimit, c.stored) << c.typed.toStdString();
  }

  // The needs-card box, clicked with row 0 selected.
  ShowRow(0);
  ASSERT_TRUE(w->needsCardBox->isChecked());
  QTest::mouseClick(w->needsCardBox, Qt::LeftButton);
  EXPECT_FALSE(ReadItemAt(shop(), 1)->needsCard);
  EXPECT_EQ(w->itemsList->topLevelItem(0)->text(1), QStringLiteral("无需卡密"));
  EXPECT_EQ(ReadItemAt(shop(), 2)->name, "B");

  // A click on empty space clears the attribute boxes.
  w->itemsList->clearSelection();
  w->remarkBox->setText(QStringLiteral("x"));
  w->limitBox->setText(QStringLiteral("1"));
  QTest::mouseClick(w->itemsList->viewport(), Qt::LeftButton, {}, QPoint(100, 250));
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->remarkBox->text().isEmpty(); }, 2000));
  EXPECT_TRUE(w->limitBox->text().isEmpty());
  EXPECT_FALSE(w->needsCardBox->isChecked());
}

// An attribute edit the items table (or, for the warning level, the
// settings table) cannot take tells the seller why, and the control shows
// what is stored again, so the edit does not look saved.
TEST_F(ItemsPageTest, AFailedAttributeEditSaysWhyAndDoesNotLookSaved) {
  AddItemsAndCards(shop(), {"A"});
  ASSERT_TRUE(WriteItemAt(shop(), 1, {"A", "old", 7, true}));
  ASSERT_TRUE(SetWarningLevel(shop(), "A", 4));
  pages->RefreshAllPages();
  struct Case {
    const char* what;
    std::function<void()> edit;
    std::function<bool()> showsStored;
  };
  const std::vector<Case> cases = {
      {"remark",
       [&] {
         Focus(w->remarkBox);
         w->remarkBox->setText(QStringLiteral("新备注"));
         Focus(w->nameBox);
       },
       [&] { return w->remarkBox->text() == QStringLiteral("old"); }},
      {"needs card", [&] { QTest::mouseClick(w->needsCardBox, Qt::LeftButton); },
       [&] { return w->needsCardBox->isChecked(); }},
      {"warning level", [&] { w->warningLevelBox->setValue(9); },
       [&] { return w->warningLevelBox->value() == 4; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ShowRow(0);
    prompts.boxes.clear();
    testing::FaultIo io;
    io.failWrite = 1;
    io.failWriteErrno = ENOSPC;
    io.failWriteLands = 0;
    shop().SetStoreFileIo(&io);
    c.edit();
    shop().SetStoreFileIo(nullptr);
    EXPECT_TRUE(io.failed);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "修改宝贝信息出错！磁盘已满，请腾出磁盘空间。"_gbk);
    EXPECT_EQ(prompts.boxes[0].kind, BoxKind::kError);
    EXPECT_TRUE(c.showsStored());
  }
  const std::optional<MonitoredItem> stored = ReadItemAt(shop(), 1);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->remark, "old");
  EXPECT_TRUE(stored->needsCard);
  EXPECT_EQ(LoadWarningLevels(shop()).Of("A"), 4);
}

}  // namespace
}  // namespace autodeliver::testing_pages
