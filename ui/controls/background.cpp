#include "ui/controls/background.h"

#include <QPainter>

namespace quorvane {

CBackground::CBackground(QWidget* parent) : QWidget(parent) {
  // Every pixel is painted here: Qt need not erase the area first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CBackground::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  painter.setPen(QPen(Qt::black, 0));
  painter.drawRect(0, 0, width() - 1, height() - 1);
}

}  // namespace quorvane
