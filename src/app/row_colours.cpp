// Alternating row colours through the view's palette.
#include "app/row_colours.h"

#include <QAbstractItemView>

namespace autodeliver {

void ColourListRows(QAbstractItemView& list, QColor evenRowBackground, QColor oddRowBackground) {
  QPalette pal = list.palette();
  const QColor text = pal.color(QPalette::Active, QPalette::Text);
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    pal.setColor(group, QPalette::Base, evenRowBackground);
    pal.setColor(group, QPalette::AlternateBase, oddRowBackground);
    pal.setColor(group, QPalette::Text, text);
  }
  list.setPalette(pal);
  list.setAlternatingRowColors(true);
  list.viewport()->update();
}

}  // namespace autodeliver
