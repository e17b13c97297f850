#include "ui/controls/numeric.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

const char* name_of(key_verdict v) {
  switch (v) {
    case key_verdict::pass:
      return "pass";
    case key_verdict::refuse:
      return "refuse";
    case key_verdict::refuse_with_beep:
      return "refuse_with_beep";
  }
  return "?";
}

struct key_case {
  const char* name;
  numeric_key key;
  const char* text;
  int start;
  int end;
  key_verdict want;
};

using nk = numeric_key;
using kv = key_verdict;

TEST(NumericInput, KeysFollowTheTypingRules) {
  numeric_format format;  // ".", "-", negatives, 6 places
  const key_case cases[] = {
      // digits
      {"digit into empty text", nk::digit, "", 0, 0, kv::pass},
      {"digit in the integer part", nk::digit, "12.5", 1, 1, kv::pass},
      {"seventh decimal place", nk::digit, "1.123456", 8, 8, kv::refuse_with_beep},
      {"sixth decimal place", nk::digit, "1.12345", 7, 7, kv::pass},
      {"digit before full decimals but left of the separator", nk::digit, "1.123456", 1, 1, kv::pass},
      {"digit over a selection in full decimals", nk::digit, "1.123456", 7, 8, kv::pass},
      {"digit before the sign", nk::digit, "-5", 0, 0, kv::refuse_with_beep},
      {"digit over the selected sign", nk::digit, "-5", 0, 1, kv::pass},
      // decimal separator
      {"separator into digits", nk::decimal, "12", 1, 1, kv::pass},
      {"second separator", nk::decimal, "1.2", 3, 3, kv::refuse_with_beep},
      {"second separator right before the first", nk::decimal, "1.2", 1, 1, kv::refuse_with_beep},
      {"separator over the selected separator", nk::decimal, "1.2", 1, 2, kv::pass},
      {"separator before the sign", nk::decimal, "-1", 0, 0, kv::refuse_with_beep},
      {"separator leaving seven places", nk::decimal, "1234567", 0, 0, kv::refuse_with_beep},
      // minus
      {"minus into empty text", nk::minus, "", 0, 0, kv::pass},
      {"minus at the start", nk::minus, "12", 0, 0, kv::pass},
      {"minus in the middle", nk::minus, "12", 1, 1, kv::refuse_with_beep},
      {"minus at the end", nk::minus, "12", 2, 2, kv::refuse_with_beep},
      {"second minus", nk::minus, "-12", 0, 0, kv::refuse_with_beep},
      {"minus before a separator", nk::minus, ".5", 0, 0, kv::refuse_with_beep},
      {"minus over a selection from the start", nk::minus, ".5", 0, 1, kv::pass},
      {"minus over the selected sign", nk::minus, "-12", 0, 1, kv::pass},
      // the rest
      {"space", nk::space, "1", 1, 1, kv::refuse_with_beep},
      {"letter", nk::refused_silently, "1", 1, 1, kv::refuse},
      {"navigation", nk::other, "1", 1, 1, kv::pass},
  };
  for (const key_case& c : cases) {
    const key_verdict got = judge_key(format, c.key, QString::fromLatin1(c.text), c.start, c.end);
    EXPECT_EQ(got, c.want) << c.name << ": got " << name_of(got) << ", want " << name_of(c.want);
  }
}

TEST(NumericInput, NoNegativesAndNoDecimalsRefuseTheirKeys) {
  numeric_format format;
  format.negatives_allowed = false;
  format.max_decimal_places = 0;
  EXPECT_EQ(judge_key(format, nk::minus, "", 0, 0), kv::refuse_with_beep);
  EXPECT_EQ(judge_key(format, nk::minus, "5", 0, 0), kv::refuse_with_beep);
  EXPECT_EQ(judge_key(format, nk::decimal, "5", 1, 1), kv::refuse_with_beep);
}

struct classify_case {
  const char* name;
  int key;
  Qt::KeyboardModifiers modifiers;
  const char* typed;
  numeric_key want;
};

TEST(NumericInput, KeysAreClassifiedByKeyAndLocale) {
  numeric_format comma;
  comma.decimal_separator = QLatin1Char(',');
  const classify_case cases[] = {
      {"top-row digit", Qt::Key_7, Qt::NoModifier, "7", nk::digit},
      {"keypad digit", Qt::Key_7, Qt::KeypadModifier, "7", nk::digit},
      {"keypad decimal as period", Qt::Key_Period, Qt::KeypadModifier, ".", nk::decimal},
      {"keypad decimal as comma", Qt::Key_Comma, Qt::KeypadModifier, ",", nk::decimal},
      {"keypad minus", Qt::Key_Minus, Qt::KeypadModifier, "-", nk::minus},
      {"main-keyboard minus", Qt::Key_Minus, Qt::NoModifier, "-", nk::minus},
      {"main-keyboard separator of the locale", Qt::Key_Comma, Qt::NoModifier, ",", nk::decimal},
      {"main-keyboard full stop in a comma locale", Qt::Key_Period, Qt::NoModifier, ".",
       nk::refused_silently},
      {"letter", Qt::Key_A, Qt::NoModifier, "a", nk::refused_silently},
      {"keypad plus", Qt::Key_Plus, Qt::KeypadModifier, "+", nk::refused_silently},
      {"keypad multiply", Qt::Key_Asterisk, Qt::KeypadModifier, "*", nk::refused_silently},
      {"space", Qt::Key_Space, Qt::NoModifier, " ", nk::space},
      {"backspace", Qt::Key_Backspace, Qt::NoModifier, "\b", nk::other},
      {"left arrow", Qt::Key_Left, Qt::NoModifier, "", nk::other},
      {"Ctrl+C", Qt::Key_C, Qt::ControlModifier, "\x03", nk::other},
      {"Ctrl+X", Qt::Key_X, Qt::ControlModifier, "\x18", nk::other},
      {"F5", Qt::Key_F5, Qt::NoModifier, "", nk::other},
  };
  for (const classify_case& c : cases) {
    EXPECT_EQ(classify_key(comma, c.key, c.modifiers, QString::fromLatin1(c.typed)), c.want) << c.name;
  }
}

TEST(NumericInput, TheLocaleGivesSeparatorAndSign) {
  const numeric_format german = numeric_format::from_locale(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(german.decimal_separator, QLatin1Char(','));
  EXPECT_EQ(german.negative_sign, QLatin1Char('-'));
  const numeric_format c = numeric_format::from_locale(QLocale::c());
  EXPECT_EQ(c.decimal_separator, QLatin1Char('.'));
  EXPECT_TRUE(c.negatives_allowed);
  EXPECT_EQ(c.max_decimal_places, 6);
}

struct paste_case {
  const char* name;
  const char* text;
  int start;
  int end;
  const char* clipboard;
  bool changed;
  bool beep;
  const char* want;
  int caret;
};

TEST(NumericInput, PastingKeepsTheNumberAtTheStartOfTheClipboard) {
  numeric_format format;
  const paste_case cases[] = {
      // the number is cut out of the clipboard text
      {"spaces, digits, letters", "", 0, 0, "  123abc", true, false, "123", 3},
      {"tab before a decimal", "", 0, 0, "\t4.25 kg", true, false, "4.25", 4},
      {"negative with two separators", "", 0, 0, "-1.5.7", true, false, "-1.5", 4},
      {"nothing numeric", "12", 1, 1, "abc", false, false, "12", 1},
      // merged with the text under the typing rules
      {"into the middle", "19", 1, 1, "234", true, false, "12349", 4},
      {"over a selection", "1999", 1, 3, "0", true, false, "109", 2},
      {"second separator dropped with what follows", "1.5", 3, 3, "2.75", true, false, "1.52", 4},
      {"separator replaced through the selection", "1.5", 1, 2, ".25", true, false, "1.255", 4},
      {"decimal places cut", "1.1234", 6, 6, "56789", true, false, "1.123456", 8},
      {"no room left for decimals", "1.123456", 8, 8, "7", false, false, "1.123456", 8},
      {"pasted decimals beyond the maximum", "", 0, 0, "3.14159265", true, false, "3.141592", 8},
      {"sign at the start", "12", 0, 0, "-3", true, false, "-312", 2},
      {"sign elsewhere", "12", 1, 1, "-3", false, true, "12", 1},
      {"before an existing sign", "-12", 0, 0, "3", false, true, "-12", 0},
      {"sign over the selected sign", "-12", 0, 1, "-9", true, false, "-912", 2},
  };
  for (const paste_case& c : cases) {
    const paste_result got =
        paste_number(format, QString::fromLatin1(c.text), c.start, c.end, QString::fromLatin1(c.clipboard));
    EXPECT_EQ(got.changed, c.changed) << c.name;
    EXPECT_EQ(got.beep, c.beep) << c.name;
    EXPECT_EQ(got.text.toStdString(), c.want)
        << c.name << ": got " << got.text.toStdString() << ", want " << c.want;
    EXPECT_EQ(got.caret, c.caret) << c.name;
  }
}

TEST(NumericInput, PastingANegativeWhereNegativesAreRefusedInsertsNothing) {
  numeric_format format;
  format.negatives_allowed = false;
  const paste_result got = paste_number(format, "5", 0, 0, "-3");
  EXPECT_FALSE(got.changed);
  EXPECT_FALSE(got.beep);
  EXPECT_EQ(got.text, QStringLiteral("5"));
}

}  // namespace
}  // namespace quorvane
