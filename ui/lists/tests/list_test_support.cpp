#include "list_test_support.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cstring>

#include "ui/lists/printer_list.h"

namespace quorvane::testing {

image_loader solid_images() {
  return [](const char* name) {
    struct image {
      const char* name;
      QColor colour;
      QSize size;
    };
    const image images[] = {
        {"IDI_CHECKED", checked_colour, {16, 16}},
        {"IDI_UNCHECKED", unchecked_colour, {16, 16}},
        {"IDI_LOCK", lock_colour, {16, 16}},
        {"IDI_COLOR", feature_image_colour, {30, 28}},
        {"IDI_LANDSCAPE", feature_image_colour, {30, 28}},
        {"IDI_DUPLEX", feature_image_colour, {30, 28}},
        {"IDI_PAPER", feature_image_colour, {30, 28}},
        {"IDI_USER", user_colour, {24, 21}},
    };
    for (const image& i : images) {
      if (std::strcmp(i.name, name) == 0) {
        QPixmap pixmap(i.size);
        pixmap.fill(i.colour);
        return pixmap;
      }
    }
    return QPixmap();
  };
}

smart_ptr<model::printer> make_printer(const std::string& shown, const std::string& location) {
  auto p = make_counted<model::printer>();
  p->setUuid(new_uuid());
  p->setDisplayName("\xEE\x80\x8C" + shown);
  p->setLocation(wide_string::from_narrow(location));
  return p;
}

void fill_printer_model(QStandardItemModel& model, const std::vector<smart_ptr<model::printer>>& printers) {
  model.clear();
  model.setColumnCount(3);
  for (const smart_ptr<model::printer>& p : printers) {
    QList<QStandardItem*> row;
    for (int column = 0; column < 3; ++column) {
      auto* item = new QStandardItem();
      item->setData(QVariant::fromValue(p), printer_record_role);
      item->setEditable(false);
      row.append(item);
    }
    for (QStandardItem* item : row) item->setText(QString::fromStdString(p->displayName().substr(3)));
    model.appendRow(row);
  }
}

QImage render(QWidget* widget) {
  return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool near(const QColor& got, const QColor& want, int tolerance) {
  return std::abs(got.red() - want.red()) <= tolerance && std::abs(got.green() - want.green()) <= tolerance &&
         std::abs(got.blue() - want.blue()) <= tolerance;
}

int darkest(const QImage& image, const QRect& area) {
  int level = 255;
  const QRect inside = area.intersected(image.rect());
  for (int y = inside.top(); y <= inside.bottom(); ++y)
    for (int x = inside.left(); x <= inside.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      level = std::min(level, std::max({c.red(), c.green(), c.blue()}));
    }
  return level;
}

bool uniform(const QImage& image, const QRect& area, const QColor& colour) {
  const QRect inside = area.intersected(image.rect());
  if (inside.isEmpty()) return false;
  for (int y = inside.top(); y <= inside.bottom(); ++y)
    for (int x = inside.left(); x <= inside.right(); ++x)
      if (image.pixelColor(x, y).rgb() != colour.rgb()) return false;
  return true;
}

}  // namespace quorvane::testing
