#include <QFontMetrics>
#include <QHeaderView>
#include <QPixmap>
#include <QStyle>
#include <QTreeView>

#include "ui/controls/bitmap_resource.h"
#include "ui/lists/list_images.h"
#include "ui/lists/list_painting_p.h"

namespace quorvane {

image_loader console_images() {
  return [](const char* name) { return CGdiPlusBitmapResource(QString::fromLatin1(name)).pixmap(); };
}

namespace list_painting {

bool begin_selectable_cell(QPainter& painter, const QStyleOptionViewItem& option) {
  const bool selected = option.state & QStyle::State_Selected;
  painter.save();
  painter.fillRect(option.rect, selected ? selected_colour : background_colour);
  return selected;
}

QFont sized_font(const QFont& font, int pixel_size, bool bold) {
  QFont sized(font);
  sized.setPixelSize(pixel_size);
  if (bold) sized.setWeight(QFont::Bold);
  return sized;
}

void draw_line(QPainter& painter, const QFont& font, const QColor& colour, int left, int top, int right,
               const QString& text) {
  const int width = right - left;
  if (width <= 0 || text.isEmpty()) return;
  const QFontMetrics metrics(font);
  painter.setFont(font);
  painter.setPen(colour);
  const QRect line(left, top, width, metrics.height());
  painter.drawText(line, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   metrics.elidedText(text, Qt::ElideRight, width));
}

void draw_image(QPainter& painter, const QPixmap& image, int x, int y, qreal opacity) {
  if (image.isNull()) return;
  if (opacity >= 1.0) {
    painter.drawPixmap(x, y, image);
    return;
  }
  const qreal before = painter.opacity();
  painter.setOpacity(before * opacity);
  painter.drawPixmap(x, y, image);
  painter.setOpacity(before);
}

void set_up_self_drawn_view(QTreeView* view, QAbstractItemView::SelectionMode mode) {
  view->setHeaderHidden(true);
  view->setRootIsDecorated(false);
  view->setIndentation(0);
  view->setUniformRowHeights(true);
  view->setItemsExpandable(false);
  view->setSelectionMode(mode);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QHeaderView* header = view->header();
  header->setSectionsMovable(false);
  header->setMinimumSectionSize(1);
  header->setSectionResizeMode(QHeaderView::Fixed);
}

}  // namespace list_painting
}  // namespace quorvane
