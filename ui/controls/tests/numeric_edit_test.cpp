#include "ui/controls/numeric_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

class NumericEdit : public testing::Test {
 protected:
  void SetUp() override {
    numeric_format format;  // a fixed "." and "-", whatever the machine's locale
    edit.setFormat(format);
    edit.show();
  }
  CNumericEdit edit;
};

TEST_F(NumericEdit, StartsWithTheLocaleFormat) {
  CNumericEdit fresh;
  EXPECT_EQ(fresh.format().decimal_separator, numeric_format::from_locale(QLocale()).decimal_separator);
  EXPECT_TRUE(fresh.format().negatives_allowed);
  EXPECT_EQ(fresh.format().max_decimal_places, 6);
}

TEST_F(NumericEdit, TypingKeepsDigitsSeparatorAndSignOnly) {
  QTest::keyClicks(&edit, "1a2 b");
  EXPECT_EQ(edit.text(), QStringLiteral("12"));
  QTest::keyClick(&edit, Qt::Key_Period, Qt::KeypadModifier);
  QTest::keyClicks(&edit, "5.");
  EXPECT_EQ(edit.text(), QStringLiteral("12.5")) << "a second separator is refused";
  edit.setCursorPosition(1);
  QTest::keyClick(&edit, Qt::Key_Minus, Qt::KeypadModifier);
  EXPECT_EQ(edit.text(), QStringLiteral("12.5")) << "a minus in the middle is refused";
  edit.setCursorPosition(0);
  QTest::keyClick(&edit, Qt::Key_Minus, Qt::KeypadModifier);
  EXPECT_EQ(edit.text(), QStringLiteral("-12.5"));
  QTest::keyClick(&edit, Qt::Key_End);
  QTest::keyClick(&edit, Qt::Key_Backspace);
  EXPECT_EQ(edit.text(), QStringLiteral("-12.")) << "editing keys pass";
}

TEST_F(NumericEdit, ALetterChangesNothingAndEmitsNoEdit) {
  edit.setText(QStringLiteral("42"));
  QSignalSpy edited(&edit, &QLineEdit::textEdited);
  QTest::keyClick(&edit, Qt::Key_Q);
  EXPECT_EQ(edit.text(), QStringLiteral("42"));
  EXPECT_EQ(edited.count(), 0);
}

TEST_F(NumericEdit, CtrlVPastesOnlyTheNumber) {
  QApplication::clipboard()->setText(QStringLiteral("  123abc"));
  QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit.text(), QStringLiteral("123"));
  EXPECT_EQ(edit.cursorPosition(), 3);
  QApplication::clipboard()->setText(QStringLiteral("-1.2.3"));
  edit.selectAll();
  QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit.text(), QStringLiteral("-1.2"));
}

TEST_F(NumericEdit, AReadOnlyEditTakesNoPaste) {
  edit.setText(QStringLiteral("80"));
  edit.setReadOnly(true);
  edit.pasteNumber(QStringLiteral("8080"));
  EXPECT_EQ(edit.text(), QStringLiteral("80"));
}

}  // namespace
}  // namespace quorvane
