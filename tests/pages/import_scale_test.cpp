// An import of 100,000 pasted card lines: the preview counts them all, the
// import finishes, every card arrives in order, and the window keeps
// repainting while the cards are written.
#include <QPlainTextEdit>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "page_fixture.h"
#include "store/item_table.h"
#include "store/stock_table.h"
#include "store/store_lock.h"

namespace autodeliver::testing_pages {
namespace {

class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

using ImportScaleTest = PagesTest;

TEST_F(ImportScaleTest, HundredThousandLinesKeepTheWindowPainting) {
  constexpr int kLines = 100000;
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  pages->RefreshAllPages();
  ChooseItem("A");
  QString text;
  text.reserve(kLines * 16);
  for (int i = 0; i < kLines; ++i) text += QStringLiteral("N%1 P%1\n").arg(i, 6, 10, QLatin1Char('0'));
  Focus(w->importBox);
  w->importBox->setPlainText(text);
  ShowPageOf(w->importButton);
  QTest::mouseClick(w->importButton, Qt::LeftButton);
  ImportPreviewDialog* preview = WaitForPreview();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->cardsToImport(), static_cast<std::size_t>(kLines));

  // Another thread holds the store lock, so the import is certainly still
  // writing while the window is asked to repaint.
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
  EXPECT_TRUE(pages->stock.importRunning());
  ASSERT_NE(pages->stock.progress(), nullptr);
  PaintCounter counter;
  w->statusLabel->window()->installEventFilter(&counter);
  w->importBox->viewport()->installEventFilter(&counter);
  w->importBox->viewport()->update();
  const bool painted = QTest::qWaitFor([&] { return counter.paints > 0; }, 10000);
  const bool stillRunning = pages->stock.importRunning();
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  holder.join();
  EXPECT_TRUE(painted);
  EXPECT_TRUE(stillRunning);

  ASSERT_TRUE(QTest::qWaitFor([&] { return !pages->stock.importRunning(); }, 280000));
  const std::vector<StockCard> cards = LoadStockCardsOf(shop(), "A");
  ASSERT_EQ(cards.size(), static_cast<size_t>(kLines));
  EXPECT_EQ(cards.front().cardNumber, "N000000");
  EXPECT_EQ(cards.back().cardPassword, "P099999");
  EXPECT_EQ(w->stockList->model()->rowCount(), kLines);
  EXPECT_EQ(w->importBox->toPlainText(), QFromGbk(ReplaceText(CardImportPlaceholder(), "\r\n", "\n")));
  EXPECT_EQ(pages->stock.progress(), nullptr);
  EXPECT_TRUE(prompts.boxes.empty());
}

}  // namespace
}  // namespace autodeliver::testing_pages
