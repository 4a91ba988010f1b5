// Alternating row colours of the monitored-items list and the card-stock
// list, with Qt's own means: the even rows (0, 2, 4, ...) take the list's
// Base colour, the odd rows its AlternateBase colour, and the text of every
// row the list's text colour as it was when the list was registered.
// Registering a list again replaces its colours.
//
// Thread safety: GUI thread only.
#pragma once

#include <QColor>

class QAbstractItemView;

namespace autodeliver {

void ColourListRows(QAbstractItemView& list, QColor evenRowBackground, QColor oddRowBackground);

}  // namespace autodeliver
