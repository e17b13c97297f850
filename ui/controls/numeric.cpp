#include "ui/controls/numeric.h"

#include <algorithm>

namespace quorvane {
namespace {

// The text with the selection start..end taken out.
QString without_selection(const QString& text, int start, int end) {
  return text.left(start) + text.mid(end);
}

}  // namespace

numeric_format numeric_format::from_locale(const QLocale& locale) {
  numeric_format format;
  const QString separator = locale.decimalPoint();
  const QString sign = locale.negativeSign();
  if (!separator.isEmpty()) format.decimal_separator = separator.front();
  if (!sign.isEmpty()) format.negative_sign = sign.front();
  return format;
}

numeric_key classify_key(const numeric_format& format, int key, Qt::KeyboardModifiers modifiers,
                         const QString& typed) {
  const bool keypad = modifiers & Qt::KeypadModifier;
  if (key >= Qt::Key_0 && key <= Qt::Key_9 && !(modifiers & (Qt::ControlModifier | Qt::AltModifier)))
    return numeric_key::digit;
  if (keypad && (key == Qt::Key_Period || key == Qt::Key_Comma)) return numeric_key::decimal;
  if (keypad && key == Qt::Key_Minus) return numeric_key::minus;
  if (key == Qt::Key_Space) return numeric_key::space;
  // Keys that type nothing printable (Backspace, arrows, Ctrl+letter, F-keys) are left to the edit.
  if (typed.isEmpty() || !typed.front().isPrint()) return numeric_key::other;
  // A keyboard without a keypad still has the separator and the minus sign on its main part.
  if (typed.size() == 1 && typed.front() == format.decimal_separator) return numeric_key::decimal;
  if (typed.size() == 1 && typed.front() == format.negative_sign) return numeric_key::minus;
  return numeric_key::refused_silently;
}

key_verdict judge_key(const numeric_format& format, numeric_key key, const QString& text, int start,
                      int end) {
  const bool nothing_selected = start == end;
  const bool before_sign = start == 0 && end == 0 && text.startsWith(format.negative_sign);
  switch (key) {
    case numeric_key::digit: {
      if (text.isEmpty()) return key_verdict::pass;
      const int separator = text.indexOf(format.decimal_separator);
      if (nothing_selected && separator >= 0 && separator < start &&
          text.size() - separator - 1 >= format.max_decimal_places)
        return key_verdict::refuse_with_beep;
      if (before_sign) return key_verdict::refuse_with_beep;
      return key_verdict::pass;
    }
    case numeric_key::decimal: {
      if (format.max_decimal_places <= 0) return key_verdict::refuse_with_beep;
      // One separator in the whole text: a selected separator may be typed over, any other one stays.
      const QString kept = without_selection(text, start, end);
      if (kept.contains(format.decimal_separator)) return key_verdict::refuse_with_beep;
      if (before_sign) return key_verdict::refuse_with_beep;
      if (kept.size() - start > format.max_decimal_places) return key_verdict::refuse_with_beep;
      return key_verdict::pass;
    }
    case numeric_key::minus: {
      if (!format.negatives_allowed) return key_verdict::refuse_with_beep;
      if (text.isEmpty()) return key_verdict::pass;
      if (start == 0 && (!nothing_selected || !(text.startsWith(format.decimal_separator) ||
                                                text.startsWith(format.negative_sign)))) {
        // A selection from 0 is replaced by the sign; what follows it must not be a sign already.
        if (!text.mid(end).startsWith(format.negative_sign)) return key_verdict::pass;
      }
      return key_verdict::refuse_with_beep;
    }
    case numeric_key::space:
      return key_verdict::refuse_with_beep;
    case numeric_key::refused_silently:
      return key_verdict::refuse;
    case numeric_key::other:
      break;
  }
  return key_verdict::pass;
}

paste_result paste_number(const numeric_format& format, const QString& text, int start, int end,
                          const QString& clipboard) {
  paste_result result;
  result.text = text;
  result.caret = end;

  // The number at the start of the clipboard text.
  int at = 0;
  while (at < clipboard.size() && (clipboard[at] == QLatin1Char(' ') || clipboard[at] == QLatin1Char('\t')))
    ++at;
  QString number;
  if (at < clipboard.size() && clipboard[at] == format.negative_sign) {
    if (!format.negatives_allowed) return result;
    number += format.negative_sign;
    ++at;
  }
  bool has_separator = false;
  for (; at < clipboard.size(); ++at) {
    const QChar c = clipboard[at];
    if (c.isDigit() && c.unicode() < 128) {
      number += c;
    } else if (c == format.decimal_separator && !has_separator) {
      has_separator = true;
      number += c;
    } else {
      break;
    }
  }
  if (number.isEmpty()) return result;

  const QString before = text.left(start);
  const QString after = text.mid(end);
  // A sign only at the very start, once: pasting before a sign or a sign after the start is refused.
  const bool pasted_sign = number.startsWith(format.negative_sign);
  if ((pasted_sign && start != 0) || (start == 0 && after.startsWith(format.negative_sign))) {
    result.beep = true;
    return result;
  }
  // One separator in the whole text: a second one and what was pasted after it are dropped.
  if ((before + after).contains(format.decimal_separator)) {
    const int separator = number.indexOf(format.decimal_separator);
    if (separator >= 0) number.truncate(separator);
  }
  // At most the maximum number of decimal places; the pasted part gives way.
  const QString joined = before + number + after;
  const int separator = joined.indexOf(format.decimal_separator);
  if (separator >= 0) {
    const int excess = int(joined.size() - separator - 1) - format.max_decimal_places;
    if (excess > 0) {
      const int own_separator = number.indexOf(format.decimal_separator);
      const int removable = own_separator >= 0 ? int(number.size()) - own_separator - 1
                                               : (separator < before.size() ? int(number.size()) : 0);
      number.chop(std::min(excess, removable));
      // Places still over the maximum that come from the text itself: the pasted separator goes too.
      if (excess > removable && own_separator >= 0) number.truncate(own_separator);
    }
  }
  if (number.isEmpty()) return result;

  result.changed = true;
  result.text = before + number + after;
  result.caret = int(before.size() + number.size());
  return result;
}

}  // namespace quorvane
