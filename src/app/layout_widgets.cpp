// Frames and the page control of the main window's layout.
#include "app/layout_widgets.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>
#include <QTabBar>

namespace autodeliver {

void FixTextColourFor(QPalette& palette, QPalette::ColorRole background) {
  const QPalette::ColorRole text = background == QPalette::Base ? QPalette::Text : QPalette::WindowText;
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
    palette.setColor(group, text, QColor(0, 0, 0));
  palette.setColor(QPalette::Disabled, text, QColor(0x80, 0x80, 0x80));
}

ShapeBox::ShapeBox(QWidget* parent, QColor border, QColor background) : QFrame(parent), border_(border) {
  setFrameShape(QFrame::NoFrame);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, background);
  FixTextColourFor(pal, QPalette::Window);
  setPalette(pal);
  setAutoFillBackground(true);
}

void ShapeBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(border_);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(0, 0, width() - 1, height() - 1);
}

void PitchedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(foregroundRole()));
  const QStringList lines = text().split(QLatin1Char('\n'));
  for (int i = 0; i < lines.size(); ++i) {
    painter.drawText(QRect(0, i * pitch_, width(), pitch_),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, lines[i]);
  }
}

namespace {

// Lets the pages of a page control cover the whole control and keeps the
// caption strip at a fixed height, so page coordinates match the layout.
class PageControlStyle : public QProxyStyle {
 public:
  QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override {
    if (element == SE_TabWidgetTabContents || element == SE_TabWidgetTabPane) {
      return option->rect;
    }
    if (element == SE_TabWidgetTabBar) {
      QRect bar = QProxyStyle::subElementRect(element, option, widget);
      bar.setTop(option->rect.top());
      bar.setHeight(PageControl::kCaptionHeight);
      return bar;
    }
    return QProxyStyle::subElementRect(element, option, widget);
  }
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override {
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_TabBarTab) result.setHeight(PageControl::kCaptionHeight);
    return result;
  }
};

}  // namespace

PageControl::PageControl(QWidget* parent) : QTabWidget(parent) {
  auto* style = new PageControlStyle;
  style->setParent(this);
  setStyle(style);
  tabBar()->setStyle(style);
  tabBar()->setDrawBase(false);
  tabBar()->raise();
}

}  // namespace autodeliver
