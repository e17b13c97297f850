#include <QFontMetrics>
#include <QHeaderView>
#include <QPixmap>
#include <QStyle>
#include <QTreeView>

#include "ui/controls/bitmap_resource.h"
#include "ui/controls/colours.h"
#include "ui/lists/list_images.h"
#include "ui/lists/list_painting_p.h"

namespace quorvane {

image_loader console_images() {
  // Rendered for the sharpest screen: at ratio 1 these are the PNGs themselves.
  return [](const char* name) { return image_for_ratio(QString::fromLatin1(name), screen_pixel_ratio()); };
}

namespace list_painting {

list_colours colours_for(const QPalette& palette) {
  if (!is_dark(palette)) {
    return {
        background_colour,           text_colour,           location_colour,      selected_colour,
        selected_text_colour,        header_top_colour,     header_bottom_colour, header_bottom_line_colour,
        paper_top_line_first_colour, paper_top_line_colour, header_text_colour,   off_text_colour};
  }
  // A dark theme: the design's white rows and grey headers would glare in a dark window, so the lists take
  // the palette's colours, keeping the design's relations (a dimmer location, faded "off" rows, a header a
  // little lighter at its top) and making every text readable on what it is drawn on.
  list_colours c;
  c.background = palette.color(QPalette::Active, QPalette::Base);
  c.text = readable_on(palette.color(QPalette::Active, QPalette::Text), c.background);
  c.location = readable_on(mixed(c.text, c.background, 0.25), c.background);
  c.off_text = readable_on(mixed(c.text, c.background, 0.45), c.background);
  c.selected = palette.color(QPalette::Active, QPalette::Highlight);
  c.selected_text = readable_on(palette.color(QPalette::Active, QPalette::HighlightedText), c.selected);
  const QColor button = palette.color(QPalette::Active, QPalette::Button);
  c.header_top = button.lighter(125);
  c.header_bottom = button;
  c.header_bottom_line = button.darker(150);
  c.paper_top_line_first = c.background;
  c.paper_top_line = button.darker(130);
  const QColor header_text = palette.color(QPalette::Active, QPalette::ButtonText);
  c.header_text = readable_on(readable_on(header_text, c.header_top), c.header_bottom);
  return c;
}

bool begin_selectable_cell(QPainter& painter, const QStyleOptionViewItem& option,
                           const list_colours& colours) {
  const bool selected = option.state & QStyle::State_Selected;
  painter.save();
  painter.fillRect(option.rect, selected ? colours.selected : colours.background);
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
