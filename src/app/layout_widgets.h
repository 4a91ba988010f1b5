// Small widget classes the main window's layout is built from: the frame
// ("shape box") with its one-pixel border, and the page control whose pages
// cover the whole control so that controls on a page are placed relative to
// the page control, captions included.
//
// Thread safety: widgets; GUI thread only.
#pragma once

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QTabWidget>
#include <cstdint>

namespace autodeliver {

// A colour given as a Windows COLORREF value, 0x00BBGGRR.
inline QColor ColorRef(std::uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

// The text colour that goes with a background the layout fixes: black on
// the layout's light colours, grey when disabled. Set together with the
// background, so that a dark desktop theme (light text on dark backgrounds)
// cannot put its light text on the layout's light backgrounds.
// `background` is QPalette::Window (text: WindowText) or QPalette::Base
// (text: Text).
void FixTextColourFor(QPalette& palette, QPalette::ColorRole background);

// A frame drawn as a one-pixel rectangle in its border colour on its
// background colour (the palette's Window role, so that the background can
// be read and changed like any widget's). Its labels, check boxes and group
// titles write in black on it (FixTextColourFor).
class ShapeBox : public QFrame {
 public:
  ShapeBox(QWidget* parent, QColor border, QColor background);
  QColor BorderColour() const { return border_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor border_;
};

// A multi-line label whose lines stand a fixed number of pixels apart,
// whatever the font's own line height, so that they line up with the
// controls beside them (the field names of the attributes box).
class PitchedLabel : public QLabel {
 public:
  PitchedLabel(QWidget* parent, int pitch) : QLabel(parent), pitch_(pitch) {}

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int pitch_;
};

// The page control. Its pages span the whole control (the tab bar stays on
// top of them), so a control at top 27 on a page sits 27 pixels below the
// control's top edge, just under the page captions.
class PageControl : public QTabWidget {
 public:
  explicit PageControl(QWidget* parent);
  // Height of the caption strip; controls of a page start below it.
  static constexpr int kCaptionHeight = 25;
};

}  // namespace autodeliver
