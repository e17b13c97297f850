// The self-drawn lists at the screen's device pixel ratio. ctest runs these cases twice: at ratio 1, where
// the images are the PNGs themselves, and with QT_SCALE_FACTOR=2, where every image must be drawn from its
// SVG at twice its size (a PNG scaled up would be blurred).
#include <QImageReader>
#include <QPainter>
#include <QStandardItemModel>

#include <gtest/gtest.h>

#include "list_test_support.h"
#include "ui/controls/bitmap_resource.h"
#include "ui/lists/list_painting_p.h"
#include "ui/lists/printer_list.h"

namespace quorvane {
namespace {

using namespace quorvane::testing;

// What `name` must look like at `ratio` when it is `logical` pixels large, over `background`: the PNG at
// ratio 1, else the SVG rendered at logical x ratio device pixels.
QImage expected_image(const char* name, qreal ratio, QSize logical, const QColor& background) {
  QImage drawn;
  if (ratio == 1.0) {
    drawn = CGdiPlusBitmapResource(QString::fromLatin1(name)).image();
  } else {
    QImageReader svg(drawing_resource_path(QString::fromLatin1(name)), "svg");
    svg.setScaledSize((QSizeF(logical) * ratio).toSize());
    drawn = svg.read();
  }
  QImage over((QSizeF(logical) * ratio).toSize(), QImage::Format_RGB32);
  over.fill(background);
  QPainter painter(&over);
  painter.drawImage(0, 0, drawn);
  return over;
}

// The number of pixels of `got` at `at` that differ from `want` by more than 8 in a channel.
int differing_pixels(const QImage& got, QPoint at, const QImage& want) {
  int differing = 0;
  for (int y = 0; y < want.height(); ++y) {
    for (int x = 0; x < want.width(); ++x) {
      if (!near(got.pixelColor(at + QPoint(x, y)), want.pixelColor(x, y), 8)) ++differing;
    }
  }
  return differing;
}

TEST(HighDpi, TheConsolesImagesCarryTheScreensRatioAndKeepTheirLogicalSize) {
  const qreal ratio = screen_pixel_ratio();
  const image_loader images = console_images();
  for (const char* name : {"IDI_CHECKED", "IDI_UNCHECKED", "IDI_LOCK", "IDI_COLOR", "IDI_PAPER", "IDI_USER",
                           "IDI_PC", "IDI_QUORVANE", "IDB_CONNECTING"}) {
    const QPixmap image = images(name);
    const QImage png = CGdiPlusBitmapResource(QString::fromLatin1(name)).image();
    ASSERT_FALSE(image.isNull()) << name;
    EXPECT_EQ(image.devicePixelRatio(), ratio) << name;
    EXPECT_EQ(image.deviceIndependentSize(), QSizeF(png.size())) << name;
    EXPECT_EQ(image.size(), (QSizeF(png.size()) * ratio).toSize()) << name << ": device pixels";
  }
  EXPECT_TRUE(image_for_ratio(QStringLiteral("NO_SUCH_IMAGE"), ratio).isNull());
}

TEST(HighDpi, APrinterRowsCheckAndLockAreDrawnSharpAtTheScreensRatio) {
  const qreal ratio = screen_pixel_ratio();
  QStandardItemModel model;
  CPrinterList printers;
  printers.setModel(&model);
  printers.resize(287, 100);
  auto p = make_printer("Office");
  p->setAcl({"alice"});
  fill_printer_model(model, {p});
  printers.selectionModel()->clear();
  const QImage shown = printers.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shown.size(), (QSizeF(printers.viewport()->size()) * ratio).toSize());

  const QRect row_check = printer_list_delegate::check_rect(printers.visualRect(model.index(0, 0)));
  const QRect row_lock = printer_list_delegate::lock_rect(printers.visualRect(model.index(0, 2)));
  const QColor background = list_painting::background_colour;
  struct case_t {
    const char* name;
    const char* image;
    QRect rect;
  } cases[] = {{"check", p->enabled() ? "IDI_CHECKED" : "IDI_UNCHECKED", row_check},
               {"lock", "IDI_LOCK", row_lock}};
  for (const case_t& c : cases) {
    const QImage want = expected_image(c.image, ratio, c.rect.size(), background);
    const QPoint at = (QPointF(c.rect.topLeft()) * ratio).toPoint();
    EXPECT_EQ(differing_pixels(shown, at, want), 0) << c.name << " at ratio " << ratio;
  }
}

}  // namespace
}  // namespace quorvane
