#include "ui/controls/background.h"

#include <QPainter>

#include "ui/controls/colours.h"

namespace quorvane {

CBackground::CBackground(QWidget* parent) : QWidget(parent) {
  // Every pixel is painted here: Qt need not erase the area first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CBackground::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // On a dark theme the connecting view's caption is drawn in the theme's light text colour, which a white
  // panel would swallow: the panel then takes the theme's base colour, its border the text colour.
  const bool dark = is_dark(palette());
  painter.fillRect(rect(), dark ? palette().color(QPalette::Base) : QColor(Qt::white));
  painter.setPen(QPen(dark ? palette().color(QPalette::Text) : QColor(Qt::black), 0));
  painter.drawRect(0, 0, width() - 1, height() - 1);
}

}  // namespace quorvane
