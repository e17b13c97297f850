// The typing and pasting rules of the numeric edit, kept apart from the widget so that they can be checked
// without a screen.
#pragma once

#include <QChar>
#include <QLocale>
#include <QString>

namespace quorvane {

/// What a numeric field accepts.
struct numeric_format {
  QChar decimal_separator = QLatin1Char('.');
  QChar negative_sign = QLatin1Char('-');
  bool negatives_allowed = true;
  int max_decimal_places = 6;

  /// The separator and sign of `locale` (each its first character; "." and "-" when the locale gives none),
  /// negatives allowed, six decimal places.
  static numeric_format from_locale(const QLocale& locale);
};

/// The class of a pressed key, as the rules see it.
enum class numeric_key {
  digit,             ///< 0-9 on the main keyboard or the keypad
  decimal,           ///< the keypad's decimal key, or the separator's character on the main keyboard
  minus,             ///< the keypad's minus key, or the negative sign's character on the main keyboard
  space,             ///< the space bar
  refused_silently,  ///< any other character: letters, punctuation, keypad *, + and separator
  other,             ///< keys that type no character: control, navigation, function keys, Ctrl+C/V/X
};

/// What happens to a pressed key.
enum class key_verdict { pass, refuse, refuse_with_beep };

/// The class of a key from its Qt key code, modifiers and the text it would type.
numeric_key classify_key(const numeric_format& format, int key, Qt::KeyboardModifiers modifiers,
                         const QString& typed);

/// Whether a key of class `key` may change `text` whose selection runs from `start` to `end` (equal when
/// nothing is selected, the caret being there).
key_verdict judge_key(const numeric_format& format, numeric_key key, const QString& text, int start, int end);

/// The result of pasting into a numeric field.
struct paste_result {
  bool changed = false;  ///< false: the text stays as it was
  bool beep = false;     ///< the paste was refused audibly
  QString text;          ///< the new text (the old one when unchanged)
  int caret = 0;         ///< the caret after the inserted part
};

/// Pastes the number found at the start of `clipboard` over the selection `start`..`end` of `text`: leading
/// spaces and tabs skipped, an optional negative sign, then digits and at most one decimal separator up to
/// the first other character. The sign must land at the very start of a text that has none (otherwise a
/// beep and nothing pasted; nothing either when negatives are not allowed); a separator where the text
/// keeps one is dropped with everything pasted after it; decimal places beyond the maximum are cut.
paste_result paste_number(const numeric_format& format, const QString& text, int start, int end,
                          const QString& clipboard);

}  // namespace quorvane
