// The window from the keyboard: Enter in a box does its button's work, the
// shortcuts of the main actions, the About box, and the labels and names a
// screen reader reads.
#include <QMessageBox>
#include <QSignalSpy>

#include "page_fixture.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"

namespace autodeliver::testing_pages {
namespace {

using KeysTest = PagesTest;

TEST_F(KeysTest, EnterInABoxDoesItsButtonsWork) {
  Focus(w->nameBox);
  Type(w->nameBox, QStringLiteral("点卡10元"));
  QTest::keyClick(w->nameBox, Qt::Key_Return);
  EXPECT_EQ(LoadItemNames(shop()), (std::vector<std::string>{"点卡10元"_gbk}));

  QSignalSpy applied(w->applyButton, &QPushButton::clicked);
  QTest::mouseClick(w->switchBox, Qt::LeftButton, {}, QPoint(8, w->switchBox->height() / 2));
  ASSERT_TRUE(w->intervalBox->isEnabled());
  Focus(w->intervalBox);
  Type(w->intervalBox, QStringLiteral("30"));
  QTest::keyClick(w->intervalBox, Qt::Key_Return);
  EXPECT_EQ(applied.count(), 1);
  // Switch it off again: the test needs no delivery.
  QTest::mouseClick(w->switchBox, Qt::LeftButton, {}, QPoint(8, w->switchBox->height() / 2));
  QTest::mouseClick(w->applyButton, Qt::LeftButton);
  EXPECT_FALSE(w->timer->isActive());
}

TEST_F(KeysTest, ShortcutsRunTheMainActionsOnTheirPages) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  for (const char* n : {"a1", "a2"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "p", 0}));
  pages->RefreshAllPages();

  // F2 renames the checked items.
  ShowPageOf(w->itemsList);
  CheckItemRow(0);
  // A button's shortcut presses it the way a click is animated: a moment
  // later.
  QTest::keyClick(window.get(), Qt::Key_F2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.asks.empty(); }, 5000));
  ASSERT_EQ(prompts.asks.size(), 1u);
  EXPECT_EQ(prompts.asks[0].initial, "A");

  // On the stock page Alt+D and Delete in the list ask before removing.
  ChooseItem("A");
  ShowPageOf(w->stockList);
  w->stockList->setCurrentIndex(w->stockList->model()->index(0, 0));
  w->stockList->selectionModel()->select(w->stockList->model()->index(0, 0),
                                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  prompts.questionAnswers = {BoxAnswer::kNo, BoxAnswer::kNo};
  QTest::keyClick(window.get(), Qt::Key_D, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !prompts.boxes.empty(); }, 5000));
  Focus(w->stockList);
  QTest::keyClick(w->stockList, Qt::Key_Delete);
  ASSERT_EQ(prompts.boxes.size(), 2u);
  for (const auto& box : prompts.boxes) EXPECT_EQ(box.text, "确定删除 1 张卡密？"_gbk);
  EXPECT_EQ(LoadItemNames(shop()).size(), 1u);  // not "删除商品": its page is not shown

  // Ctrl+Enter in the import box imports.
  Focus(w->importBox);
  w->importBox->insertPlainText(QStringLiteral("a3 p3"));
  QTest::keyClick(w->importBox, Qt::Key_Return, Qt::ControlModifier);
  if (WaitForPreview()) AcceptPreview();
  EXPECT_EQ(LoadStockCardsOf(shop(), "A").size(), 3u);
}

TEST_F(KeysTest, F1ShowsTheAboutBoxWithVersionFoldersAndLicence) {
  QTest::keyClick(window.get(), Qt::Key_F1);
  auto* about = window->findChild<QMessageBox*>(QStringLiteral("关于"));
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(about->text().contains(QStringLiteral("1.0.0.1007")));
  const QString data = QString::fromStdString(shop().DataDir());
  EXPECT_TRUE(about->informativeText().contains(QStringLiteral("数据文件夹：") + data));
  EXPECT_TRUE(
      about->informativeText().contains(QStringLiteral("日志文件夹：") + data + QStringLiteral("/logs")));
  EXPECT_TRUE(about->informativeText().contains(QStringLiteral("许可")));
  // A second F1 brings the same box forward.
  QTest::keyClick(window.get(), Qt::Key_F1);
  EXPECT_EQ(window->findChildren<QMessageBox*>(QStringLiteral("关于")).size(), 1);
  about->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return window->findChild<QMessageBox*>(QStringLiteral("关于")) == nullptr; }, 5000));
}

TEST_F(KeysTest, LabelsAreBoundToTheirBoxesAndBoxesHaveNames) {
  EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("标签3"))->buddy(), w->nameBox);
  EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("标签7"))->buddy(), w->intervalBox);
  EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("标签9"))->buddy(), w->chooser);
  for (QWidget* box : std::initializer_list<QWidget*>{
           w->nameBox, w->remarkBox, w->limitBox, w->intervalBox, w->needsCardBox, w->warningLevelBox,
           w->chooser, w->importBox, w->stockList, w->itemsList, w->sentGrid}) {
    EXPECT_FALSE(box->accessibleName().isEmpty()) << box->objectName().toStdString();
  }
}

}  // namespace
}  // namespace autodeliver::testing_pages
