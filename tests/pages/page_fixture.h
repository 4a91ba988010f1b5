// A test rig for the management pages: the main window with its pages built
// and wired as the program builds them (WindowPages) and signed in, a
// temporary program directory with the four empty tables, and prompts that
// answer from a queue. The QApplication comes from pages_test_main.cpp.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/window_pages.h"
#include "pages/import_preview_dialog.h"
#include "pages/page_texts.h"
#include "pages/qt_text.h"
#include "service/prompts.h"
#include "store/shop_context.h"
#include "store/table_schema.h"
#include "text/gbk.h"

namespace autodeliver::testing_pages {

inline std::string G(const QString& text) { return Utf8ToGbkLossy(text.toStdString()); }

// Prompts that answer from a queue and remember what they were asked.
class FakePrompts : public Prompts {
 public:
  struct Box {
    std::string text, caption;
    BoxKind kind;
  };
  struct Ask {
    std::string prompt, caption, initial;
  };
  struct FileAsk {
    std::string caption, filter;
  };

  // A question is answered from `questionAnswers`, Yes when it is empty.
  BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) override {
    boxes.push_back({text, caption, kind});
    if (kind != BoxKind::kQuestion) return BoxAnswer::kOk;
    if (questionAnswers.empty()) return BoxAnswer::kYes;
    const BoxAnswer answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
  }
  std::optional<std::string> AskText(const std::string& prompt, const std::string& caption,
                                     const std::string& initial) override {
    asks.push_back({prompt, caption, initial});
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> AskOpenFile(const std::string& caption, const std::string& filter) override {
    fileAsks.push_back({caption, filter});
    if (files.empty()) return std::nullopt;
    std::optional<std::string> file = files.front();
    files.pop_front();
    return file;
  }
  void OpenPage(const std::string&) override { ADD_FAILURE() << "the pages open no web page"; }
  void EndProgram(int) override { ADD_FAILURE() << "the pages never end the program"; }

  std::vector<Box> boxes;
  std::deque<BoxAnswer> questionAnswers;
  std::vector<Ask> asks;
  std::deque<std::optional<std::string>> answers;  // nullopt = cancel
  std::vector<FileAsk> fileAsks;
  std::deque<std::optional<std::string>> files;  // nullopt = cancel
};

// The main window's page controls, found by their layout names.
struct PageWidgets {
  explicit PageWidgets(MainWindow& window) : window(window) {
    auto find = [&](auto* type, const char* name) {
      auto* found = window.findChild<std::remove_pointer_t<decltype(type)>*>(QString::fromUtf8(name));
      EXPECT_NE(found, nullptr) << name;
      return found;
    };
    nameBox = find((QLineEdit*)nullptr, "编辑框1");
    remarkBox = find((QLineEdit*)nullptr, "宝贝备注");
    limitBox = find((QLineEdit*)nullptr, "限拍数量");
    intervalBox = find((QLineEdit*)nullptr, "编辑框2");
    addButton = find((QPushButton*)nullptr, "超级按钮1");
    renameButton = find((QPushButton*)nullptr, "超级按钮2");
    deleteButton = find((QPushButton*)nullptr, "超级按钮3");
    applyButton = find((QPushButton*)nullptr, "超级按钮4");
    numberButton = find((QPushButton*)nullptr, "超级按钮6");
    passwordButton = find((QPushButton*)nullptr, "超级按钮7");
    importButton = find((QPushButton*)nullptr, "超级按钮8");
    fileImportButton = find((QPushButton*)nullptr, "超级按钮10");
    warningLevelBox = find((QSpinBox*)nullptr, "库存预警线");
    deleteStockButton = find((QPushButton*)nullptr, "超级按钮9");
    itemsList = find((QTreeWidget*)nullptr, "超级列表框1");
    needsCardBox = find((QCheckBox*)nullptr, "选择框1");
    switchBox = find((QCheckBox*)nullptr, "选择框2");
    statusLabel = find((QLabel*)nullptr, "标签8");
    chooser = find((QComboBox*)nullptr, "组合框1");
    importBox = find((QPlainTextEdit*)nullptr, "编辑框3");
    stockList = find((QTreeView*)nullptr, "超级列表框2");
    sentGrid = find((QTableView*)nullptr, "高级表格1");
    timer = find((QTimer*)nullptr, "自动发货时钟");
    tabs = find((QTabWidget*)nullptr, "高级选择夹1");
  }

  MainWindow& window;
  QLineEdit *nameBox, *remarkBox, *limitBox, *intervalBox;
  QPushButton *addButton, *renameButton, *deleteButton, *applyButton, *numberButton, *passwordButton,
      *importButton, *fileImportButton, *deleteStockButton;
  QSpinBox* warningLevelBox;
  QTreeWidget* itemsList;
  QCheckBox *needsCardBox, *switchBox;
  QLabel* statusLabel;
  QComboBox* chooser;
  QPlainTextEdit* importBox;
  QTreeView* stockList;
  QTableView* sentGrid;
  QTimer* timer;
  QTabWidget* tabs;
};

class PagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    std::string error;
    ASSERT_TRUE(CreateDataTables(dir_.path().toStdString(), &error)) << error;
    shop_ = std::make_unique<ShopContext>(dir_.path().toStdString());
    window = std::make_unique<MainWindow>(*shop_);
    w = std::make_unique<PageWidgets>(*window);
    pages = std::make_unique<WindowPages>(*window, prompts);
    // What the start-up sequence does for the program.
    pages->stock.ShowImportPlaceholder();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    // The seller signs in: the browser holder goes and the lists are filled.
    window->CheckSignIn(QStringLiteral("http://127.0.0.1/my_taobao.htm"));
  }

  void TearDown() override {
    pages.reset();
    w.reset();
    window.reset();
    shop_.reset();
  }

  ShopContext& shop() { return *shop_; }

  // Shows the page of the page control that holds `widget`.
  void ShowPageOf(QWidget* widget) {
    for (int i = 0; i < w->tabs->count(); ++i) {
      if (w->tabs->widget(i)->isAncestorOf(widget)) w->tabs->setCurrentIndex(i);
    }
  }

  // Moves the keyboard focus to `widget`, as a click or Tab would.
  void Focus(QWidget* widget) {
    ShowPageOf(widget);
    widget->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return widget->hasFocus(); }, 2000));
  }

  // Types `text` into `widget` key by key, as the seller would; characters
  // without a key of their own arrive as the text of a key event, as an
  // input method hands them over.
  static void Type(QWidget* widget, const QString& text) {
    for (QChar ch : text) {
      if (ch.unicode() < 0x80) {
        QTest::keyClick(widget, ch.toLatin1());
      } else {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
      }
    }
  }

  // Clicks row `row` of the items list, on its text or on its check box.
  void ClickItemRow(int row, bool onCheckBox = false) {
    QTreeWidgetItem* item = w->itemsList->topLevelItem(row);
    ASSERT_NE(item, nullptr);
    QRect rect = w->itemsList->visualItemRect(item);
    QPoint at = onCheckBox ? QPoint(rect.left() + 10, rect.center().y())
                           : QPoint(rect.left() + 60, rect.center().y());
    QTest::mouseClick(w->itemsList->viewport(), Qt::LeftButton, {}, at);
    QCoreApplication::processEvents();
  }

  void CheckItemRow(int row) { w->itemsList->topLevelItem(row)->setCheckState(0, Qt::Checked); }

  // Chooses `name` in the item chooser with the keyboard.
  void ChooseItem(const std::string& name) {
    const int target = w->chooser->findText(QFromGbk(name));
    ASSERT_GE(target, 0);
    Focus(w->chooser);
    if (w->chooser->currentIndex() < 0) QTest::keyClick(w->chooser, Qt::Key_Down);
    while (w->chooser->currentIndex() < target) QTest::keyClick(w->chooser, Qt::Key_Down);
    while (w->chooser->currentIndex() > target) QTest::keyClick(w->chooser, Qt::Key_Up);
    ASSERT_EQ(w->chooser->currentIndex(), target);
  }

  // Waits for the preview of the import in hand; null when the import
  // ended without one.
  ImportPreviewDialog* WaitForPreview() {
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return pages->stock.preview() != nullptr || !pages->stock.importRunning(); }, 60000));
    ImportPreviewDialog* preview = pages->stock.preview();
    if (preview) {
      EXPECT_TRUE(QTest::qWaitForWindowExposed(preview));
    }
    return preview;
  }

  // Clicks the duplicates tick of `preview` on its box.
  static void TickDuplicates(ImportPreviewDialog* preview) {
    QCheckBox* box = preview->duplicatesBox();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
  }

  // Answers the open preview with "导入" (with duplicates ticked in when
  // `allowDuplicates`) and waits for the import to end.
  void AcceptPreview(bool allowDuplicates = false) {
    ImportPreviewDialog* preview = pages->stock.preview();
    ASSERT_NE(preview, nullptr);
    if (allowDuplicates) TickDuplicates(preview);
    ASSERT_EQ(preview->duplicatesBox()->isChecked(), allowDuplicates);
    QTest::mouseClick(preview->importButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pages->stock.importRunning(); }, 60000));
    Reactivate();
  }

  // The main window active again once a dialog has gone, as a window
  // manager makes it.
  void Reactivate() {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  // Pastes `text` into the import box (line ends as typed: "\n"), presses
  // "增加入库" and imports what the preview shows; waits for the end.
  void Import(const QString& text) {
    Focus(w->importBox);
    ShowPageOf(w->importButton);
    w->importBox->insertPlainText(text);
    QTest::mouseClick(w->importButton, Qt::LeftButton);
    if (WaitForPreview()) AcceptPreview();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pages->stock.importRunning(); }, 60000));
  }

  // Waits until the items page shows the figures of its last count.
  void WaitForFigures() {
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pages->items.figuresPending(); }, 30000));
  }

  std::vector<std::string> StockShown() const {
    std::vector<std::string> rows;
    QAbstractItemModel* m = w->stockList->model();
    for (int r = 0; r < m->rowCount(); ++r)
      rows.push_back(G(m->index(r, 0).data().toString() + "|" + m->index(r, 1).data().toString() + "|" +
                       m->index(r, 2).data().toString()));
    return rows;
  }

  std::vector<std::string> ItemsShown() const {
    std::vector<std::string> rows;
    for (int r = 0; r < w->itemsList->topLevelItemCount(); ++r)
      rows.push_back(G(w->itemsList->topLevelItem(r)->text(0)));
    return rows;
  }

  QTemporaryDir dir_;
  std::unique_ptr<ShopContext> shop_;  // the shop of dir_, made at SetUp
  FakePrompts prompts;
  std::unique_ptr<MainWindow> window;
  std::unique_ptr<PageWidgets> w;
  std::unique_ptr<WindowPages> pages;
};

}  // namespace autodeliver::testing_pages
