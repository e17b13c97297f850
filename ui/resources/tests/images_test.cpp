#include <QImage>
#include <QString>

#include <gtest/gtest.h>

namespace {

struct image_case {
  const char* name;
  int width;
  int height;
};

// Every image the console draws with, at the size its users place it.
const image_case images[] = {
    {"IDI_CHECKED", 16, 16},  {"IDI_UNCHECKED", 16, 16}, {"IDI_LOCK", 16, 16},       {"IDI_COLOR", 30, 28},
    {"IDI_DUPLEX", 30, 28},   {"IDI_LANDSCAPE", 30, 28}, {"IDI_PAPER", 30, 28},      {"IDI_USER", 24, 21},
    {"IDI_QUORVANE", 48, 48}, {"IDI_PC", 48, 48},        {"IDB_CONNECTING", 96, 96},
};

TEST(ConsoleImages, EveryImageIsLinkedInWithItsSizeAndTransparentCorners) {
  for (const image_case& c : images) {
    const QImage image(QStringLiteral(":/images/%1.png").arg(QString::fromLatin1(c.name)));
    ASSERT_FALSE(image.isNull()) << c.name << " is not in the linked resources";
    EXPECT_EQ(image.size(), QSize(c.width, c.height)) << c.name;
    EXPECT_TRUE(image.hasAlphaChannel()) << c.name;
    // Drawn shapes, not an empty canvas; rounded or inset shapes leave the corner pixel clear.
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << c.name;
    int painted = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) painted += qAlpha(image.pixel(x, y)) > 0;
    EXPECT_GT(painted, image.width() * image.height() / 8) << c.name;
  }
}

}  // namespace
