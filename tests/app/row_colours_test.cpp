// Alternating row colours, checked on the painted pixels of a list.
#include "app/row_colours.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QImage>
#include <QTreeWidget>

namespace autodeliver {
namespace {

// The colour painted at the right end of a cell (away from its text).
QColor CellColour(QTreeWidget& list, int row, int column) {
  const QImage image = list.viewport()->grab().toImage();
  const QRect cell = list.visualRect(list.model()->index(row, column));
  return image.pixelColor(cell.right() - 3, cell.center().y());
}

TEST(RowColours, EvenAndOddRowsInEveryColumnAndTextColourKeptFromRegistration) {
  QTreeWidget list;
  list.setColumnCount(2);
  list.setRootIsDecorated(false);
  list.header()->resizeSection(0, 120);
  list.header()->resizeSection(1, 120);
  list.resize(300, 200);
  for (int i = 0; i < 3; ++i)
    list.addTopLevelItem(new QTreeWidgetItem({QStringLiteral("a"), QStringLiteral("b")}));
  QPalette pal = list.palette();
  pal.setColor(QPalette::Text, QColor(0, 0, 200));
  list.setPalette(pal);

  // A first registration, then a second one with other colours: the second
  // holds.
  ColourListRows(list, QColor(10, 20, 30), QColor(40, 50, 60));
  const QColor even(0xEA, 0xF0, 0xF7), odd(0xFF, 0xFF, 0xFF);
  ColourListRows(list, even, odd);
  list.show();

  for (int column : {0, 1}) {
    SCOPED_TRACE(column);
    EXPECT_EQ(CellColour(list, 0, column), even);
    EXPECT_EQ(CellColour(list, 1, column), odd);
    EXPECT_EQ(CellColour(list, 2, column), even);
  }
  EXPECT_EQ(list.palette().color(QPalette::Text), QColor(0, 0, 200));
}

}  // namespace
}  // namespace autodeliver
