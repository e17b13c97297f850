#include "ui/controls/colours.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(Colours, ContrastRatiosMatchTheWcagFigures) {
  struct case_t {
    const char* name;
    QColor a;
    QColor b;
    double want;
  } cases[] = {
      {"black on white", Qt::black, Qt::white, 21.0},
      {"either order", Qt::white, Qt::black, 21.0},
      {"a colour on itself", QColor(54, 116, 223), QColor(54, 116, 223), 1.0},
      // The grey that just passes AA on white, and the one just under it.
      {"#767676 on white", QColor(0x76, 0x76, 0x76), Qt::white, 4.54},
      {"#777777 on white", QColor(0x77, 0x77, 0x77), Qt::white, 4.48},
      // The list's design selection with white text is a little under AA; a dark theme must not copy it.
      {"white on the design's selection", Qt::white, QColor(54, 116, 223), 4.45},
  };
  for (const case_t& c : cases) {
    EXPECT_NEAR(contrast_ratio(c.a, c.b), c.want, 0.01) << c.name;
  }
}

TEST(Colours, ReadableOnKeepsAReadableColourAndMovesAnUnreadableOneJustEnough) {
  struct case_t {
    const char* name;
    QColor text;
    QColor background;
    bool kept;
  } cases[] = {
      // Readable already: unchanged.
      {"white on dark grey", Qt::white, QColor(42, 42, 42), true},
      {"the design's location grey on white", QColor(72, 72, 72), Qt::white, true},
      // Unreadable: moved until readable.
      {"white on white", Qt::white, Qt::white, false},
      {"black on black", Qt::black, Qt::black, false},
      {"mid grey on dark grey", QColor(110, 110, 110), QColor(42, 42, 42), false},
      {"light text on a light highlight", QColor(230, 230, 230), QColor(120, 170, 240), false},
      {"grey on mid grey (the hardest background)", QColor(128, 128, 128), QColor(118, 118, 118), false},
  };
  for (const case_t& c : cases) {
    const QColor got = readable_on(c.text, c.background);
    EXPECT_GE(contrast_ratio(got, c.background), readable_contrast) << c.name;
    if (c.kept) {
      EXPECT_EQ(got, c.text) << c.name;
    } else {
      EXPECT_NE(got, c.text) << c.name;
      // Just enough: one step less would not be readable, unless it reached black or white.
      const QColor back = mixed(got, c.text, 0.06);
      if (got != QColor(Qt::white) && got != QColor(Qt::black)) {
        EXPECT_LT(contrast_ratio(back, c.background), readable_contrast + 0.6) << c.name;
      }
    }
  }
}

TEST(Colours, ADarkPaletteIsOneWhoseBaseIsDarkerThanItsText) {
  QPalette light(Qt::black, Qt::white, Qt::white, Qt::gray, Qt::gray, Qt::black, Qt::white);
  light.setColor(QPalette::Base, Qt::white);
  light.setColor(QPalette::Text, Qt::black);
  EXPECT_FALSE(is_dark(light));
  QPalette dark = light;
  dark.setColor(QPalette::Base, QColor(42, 42, 42));
  dark.setColor(QPalette::Text, QColor(230, 230, 230));
  EXPECT_TRUE(is_dark(dark));
}

}  // namespace
}  // namespace quorvane
