// The window as a seller sees it: readable under a dark desktop palette
// (every text on a background the layout fixes is dark on light), and a
// window larger than the layout lets the pages grow while the layout's
// size puts every control back in its place. Pictures of both go into the
// build tree (screenshots/) for a person to look at.
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <cmath>
#include <map>

#include "page_fixture.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/stock_table.h"

namespace autodeliver::testing_pages {
namespace {

// WCAG contrast ratio of two colours (1 to 21).
double Contrast(const QColor& a, const QColor& b) {
  auto luminance = [](const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour a widget's background shows: that of the nearest widget, itself
// included, that fills its background.
QColor BackgroundBehind(QWidget* w) {
  for (QWidget* p = w; p != nullptr; p = p->parentWidget()) {
    if (p->autoFillBackground()) return p->palette().color(QPalette::Window);
  }
  return w->palette().color(QPalette::Window);
}

void SavePicture(QWidget* window, const QString& name) {
  const QString folder = QStringLiteral(SCREENSHOT_DIR);
  QDir().mkpath(folder);
  EXPECT_TRUE(window->grab().save(folder + QLatin1Char('/') + name));
}

class WindowLookTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    ASSERT_TRUE(AppendItem(shop(), {"点卡10元"_gbk, "", 0, true}));
    ASSERT_TRUE(AppendStockCard(shop(), {"点卡10元"_gbk, "DK999001", "PW1", 0}));
    ASSERT_TRUE(AppendSentCard(shop(), {"点卡10元"_gbk, "1718000000001", "买家甲"_gbk, 1, "DK999000", "PW0",
                                        "", "2026-01-05 14:03:07"}));
    pages->RefreshAllPages();
    ChooseItem("点卡10元"_gbk);
  }

  // Shows page `index` and saves a picture of the window as `name`.
  void PictureOfPage(int index, const QString& name) {
    w->tabs->setCurrentIndex(index);
    QCoreApplication::processEvents();
    SavePicture(window.get(), name);
  }
};

TEST_F(WindowLookTest, ADarkPaletteLeavesEveryTextReadable) {
  const QPalette lightPalette = QApplication::palette();
  const QString lightStyle = QApplication::style()->name();
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  // A dark desktop theme: light text on dark backgrounds.
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
  dark.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
  dark.setColor(QPalette::Base, QColor(0x23, 0x23, 0x23));
  dark.setColor(QPalette::AlternateBase, QColor(0x35, 0x35, 0x35));
  dark.setColor(QPalette::Text, QColor(0xF0, 0xF0, 0xF0));
  dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
  dark.setColor(QPalette::ButtonText, QColor(0xF0, 0xF0, 0xF0));
  QApplication::setPalette(dark);
  QCoreApplication::processEvents();

  for (QWidget* widget : window->findChildren<QWidget*>()) {
    if (widget->isHidden() || !widget->isEnabled()) continue;
    SCOPED_TRACE(widget->objectName().toStdString() + " " + widget->metaObject()->className());
    if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
      const QPalette& p = view->palette();
      EXPECT_GE(Contrast(p.color(QPalette::Text), p.color(QPalette::Base)), 4.5);
      if (view->alternatingRowColors()) {
        EXPECT_GE(Contrast(p.color(QPalette::Text), p.color(QPalette::AlternateBase)), 4.5);
      }
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      if (label->text().trimmed().isEmpty()) continue;
      EXPECT_GE(Contrast(label->palette().color(QPalette::WindowText), BackgroundBehind(label)), 4.5);
    } else if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QGroupBox*>(widget)) {
      EXPECT_GE(Contrast(widget->palette().color(QPalette::WindowText), BackgroundBehind(widget)), 4.5);
    }
  }
  for (int page : {0, 1, 2}) PictureOfPage(page, QStringLiteral("dark-page%1.png").arg(page));

  QApplication::setStyle(QStyleFactory::create(lightStyle));
  QApplication::setPalette(lightPalette);
}

TEST_F(WindowLookTest, ALargerWindowGrowsThePagesAndTheLayoutsSizeRestoresIt) {
  const QSize designSize = window->size();
  // The controls of the layout, by their names (the pages themselves and
  // the parts of Qt's scroll areas follow the page control; the log page
  // has a layout manager of its own).
  QWidget* logPage = window->findChild<QWidget*>(QStringLiteral("page4"));
  std::map<QWidget*, QRect> design;
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    const QString name = widget->objectName();
    if (name.isEmpty() || name.startsWith(QStringLiteral("qt_")) || name.startsWith(QStringLiteral("page")) ||
        logPage->isAncestorOf(widget))
      continue;
    design[widget] = widget->geometry();
  }
  ASSERT_GT(design.size(), 60u);
  for (int page : {0, 1, 2}) PictureOfPage(page, QStringLiteral("layout-page%1.png").arg(page));

  window->resize(1920, 1080);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == QSize(1920, 1080); }, 5000));
  const int dx = 1920 - designSize.width();
  const int dy = 1080 - designSize.height();
  EXPECT_EQ(w->itemsList->size(), QSize(549 + dx, 285 + dy));
  EXPECT_EQ(w->sentGrid->size(), QSize(790 + dx, 336 + dy));
  EXPECT_EQ(w->importBox->size(), QSize(426 + dx / 2, 287 + dy));
  EXPECT_EQ(w->stockList->size(), QSize(351 + dx - dx / 2, 320 + dy));
  // The controls right of and below the lists moved along and stay inside
  // their pages.
  EXPECT_EQ(w->addButton->mapTo(window.get(), QPoint(0, 0)).x(), 478 + 1 + dx);
  EXPECT_EQ(w->deleteStockButton->mapTo(w->tabs, QPoint(0, 0)).y(), 34 + 346 + 1 + dy);
  for (QWidget* control : {static_cast<QWidget*>(w->applyButton), static_cast<QWidget*>(w->deleteButton),
                           static_cast<QWidget*>(w->importButton)}) {
    const QRect onPage(control->mapTo(w->tabs, QPoint(0, 0)), control->size());
    EXPECT_TRUE(w->tabs->rect().contains(onPage)) << control->objectName().toStdString();
  }
  // The sent-cards grid shows all its columns without scrolling sideways.
  w->tabs->setCurrentIndex(1);
  QCoreApplication::processEvents();
  EXPECT_EQ(w->sentGrid->horizontalScrollBar()->maximum(), 0);
  for (int page : {0, 1, 2}) PictureOfPage(page, QStringLiteral("1920x1080-page%1.png").arg(page));

  // Back at the layout's size every control is where the layout puts it.
  window->resize(designSize);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == designSize; }, 5000));
  for (const auto& [widget, rect] : design) {
    EXPECT_EQ(widget->geometry(), rect) << widget->objectName().toStdString();
  }
}

}  // namespace
}  // namespace autodeliver::testing_pages
