#include "ui/controls/background.h"

#include <QImage>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(Background, PaintsWhiteWithAOnePixelBlackBorder) {
  QWidget window;
  window.setStyleSheet(QStringLiteral("background: #ff0000"));
  CBackground panel(&window);
  panel.setGeometry(5, 5, 40, 30);
  window.resize(60, 50);
  window.show();
  const QImage image = panel.grab().toImage();
  ASSERT_EQ(image.size(), QSize(40, 30));
  const QRgb black = qRgb(0, 0, 0);
  const QRgb white = qRgb(255, 255, 255);
  for (const QPoint edge : {QPoint(0, 0), QPoint(39, 0), QPoint(0, 29), QPoint(39, 29), QPoint(20, 0),
                            QPoint(0, 15), QPoint(39, 15), QPoint(20, 29)})
    EXPECT_EQ(image.pixel(edge), black) << edge.x() << "," << edge.y();
  for (const QPoint inside : {QPoint(1, 1), QPoint(38, 28), QPoint(20, 15)})
    EXPECT_EQ(image.pixel(inside), white) << inside.x() << "," << inside.y();
  EXPECT_TRUE(panel.testAttribute(Qt::WA_OpaquePaintEvent));
}

}  // namespace
}  // namespace quorvane
