// The pages' edges between GBK program text and Qt widgets: conversions
// both ways (a box's line ends as the box hands them over) and the text
// colour of an edit box, with which the placeholders are shown in silver.
//
// Thread safety: GUI thread only (palettes); the conversions are pure.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <string>

#include "text/gbk.h"

namespace autodeliver {

inline QString QFromGbk(const std::string& gbk) { return QString::fromStdString(GbkToUtf8Lossy(gbk)); }
inline std::string GbkFromQ(const QString& text) { return Utf8ToGbkLossy(text.toStdString()); }

// A placeholder's colour (0xC0C0C0) and a typed text's (black).
inline QColor PlaceholderColour() { return QColor(0xC0, 0xC0, 0xC0); }
inline QColor TypedTextColour() { return QColor(0, 0, 0); }

inline void SetTextColour(QWidget* w, const QColor& colour) {
  QPalette palette = w->palette();
  palette.setColor(QPalette::Text, colour);
  w->setPalette(palette);
}

// The placeholder rule on losing the focus: a text that is empty once every
// ASCII and full-width space is removed gives way to the placeholder.
inline bool IsBlank(const std::string& gbk) { return RemoveSpaces(gbk).empty(); }

}  // namespace autodeliver
