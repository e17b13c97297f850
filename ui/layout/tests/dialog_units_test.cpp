#include "ui/layout/dialog_units.h"

#include <QApplication>
#include <QFontInfo>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(DialogUnits, TheDialogFontGivesBaseUnitsSixByThirteen) {
  // A missing DejaVu Sans Condensed falls back to a wider face (7 x 13) and fails here.
  ASSERT_EQ(QFontInfo(dialog_font()).family(), QString::fromLatin1(dialog_font_family))
      << "the dialog font is not installed (Debian package fonts-dejavu-extra)";
  const dialog_units units = dialog_units::from_dialog_font();
  EXPECT_EQ(units.cx(), 6);
  EXPECT_EQ(units.cy(), 13);
}

TEST(DialogUnits, SettingTheDialogFontAppWideChangesTheApplicationFont) {
  const QFont before = QApplication::font();
  EXPECT_TRUE(set_dialog_font_app_wide());
  EXPECT_EQ(QApplication::font().family(), QString::fromLatin1(dialog_font_family));
  EXPECT_EQ(QApplication::font().pixelSize(), dialog_font_pixel_size);
  EXPECT_EQ(dialog_units::from_font(QApplication::font()).cx(), 6);
  QApplication::setFont(before);
}

struct rect_case {
  const char* name;
  int x, y, w, h;
  QRect want;
};

TEST(DialogUnits, RectanglesConvertEachValueOnItsOwn) {
  const dialog_units units(6, 13);
  const rect_case cases[] = {
      {"main window client", 0, 0, 585, 350, QRect(0, 0, 878, 569)},
      {"printer list", 3, 3, 191, 326, QRect(5, 5, 287, 530)},
      {"add button", 3, 333, 22, 14, QRect(5, 541, 33, 23)},
      // 1 x 1.5 = 1.5 and 1 x 1.625 = 1.625: halves round away from zero, the right edge is not converted
      {"one unit", 1, 1, 1, 1, QRect(2, 2, 2, 2)},
      {"negative halves", -1, -3, 0, 0, QRect(-2, -5, 0, 0)},
  };
  for (const rect_case& c : cases) {
    EXPECT_EQ(units.rect(c.x, c.y, c.w, c.h), c.want) << c.name;
  }
  EXPECT_EQ(units.size(585, 350), QSize(878, 569));
}

TEST(DialogUnits, MulDivRoundsHalfAwayFromZero) {
  EXPECT_EQ(mul_div(3, 6, 4), 5);     // 4.5
  EXPECT_EQ(mul_div(-3, 6, 4), -5);   // -4.5
  EXPECT_EQ(mul_div(3, 6, -4), -5);   // -4.5
  EXPECT_EQ(mul_div(5, 13, 8), 8);    // 8.125
  EXPECT_EQ(mul_div(7, 13, 8), 11);   // 11.375
  EXPECT_EQ(mul_div(11, 13, 8), 18);  // 17.875
  EXPECT_EQ(mul_div(1, 1, 0), 0);
}

}  // namespace
}  // namespace quorvane
