#include "ui/controls/bitmap_resource.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(BitmapResource, LoadsAConsoleImageWithItsSizeAndAlpha) {
  CGdiPlusBitmapResource bitmap;
  ASSERT_TRUE(bitmap.Load(QStringLiteral("IDI_LOCK")));
  EXPECT_FALSE(bitmap.isNull());
  EXPECT_EQ(bitmap.image().size(), QSize(16, 16));
  EXPECT_TRUE(bitmap.image().hasAlphaChannel());
  EXPECT_EQ(bitmap.pixmap().size(), QSize(16, 16));
}

TEST(BitmapResource, AFailedLoadLeavesTheObjectEmpty) {
  // Each name fails for its own reason; the bitmap held before is dropped every time.
  const char* const names[] = {
      "IDI_NO_SUCH_IMAGE",   // no resource of that name
      "NOT_A_PNG",           // a resource whose bytes are not a PNG image (test resource)
      "EMPTY_IMAGE",         // an empty resource (test resource)
      "",                    // no name at all
      "../images/IDI_LOCK",  // a path, not a resource name
      "9IDI_LOCK",           // an identifier does not begin with a digit
      "IDI LOCK",            // nor holds a space
      ("IDI_L\xC3\x96"
       "CK"),  // nor a letter outside ASCII (split: C is a hex digit)
  };
  for (const char* name : names) {
    CGdiPlusBitmapResource bitmap(QStringLiteral("IDI_CHECKED"));
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_FALSE(bitmap.Load(QString::fromUtf8(name))) << name;
    EXPECT_TRUE(bitmap.isNull()) << name;
    EXPECT_TRUE(bitmap.pixmap().isNull()) << name;
  }
}

}  // namespace
}  // namespace quorvane
