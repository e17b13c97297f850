// An edit control that takes only a decimal number.
#pragma once

#include <QLineEdit>

#include "ui/controls/numeric.h"

namespace quorvane {

/// A line edit that refuses keys which cannot be part of a decimal number (letters silently, misplaced
/// signs, separators and surplus decimal places with a beep), and pastes only the number at the start of
/// the clipboard's text. The owner reads `text()`.
class CNumericEdit : public QLineEdit {
  Q_OBJECT

 public:
  /// An empty edit with the process's locale format: negatives allowed, six decimal places.
  explicit CNumericEdit(QWidget* parent = nullptr);

  /// The rules in force.
  const numeric_format& format() const { return format_; }
  /// Replaces the rules (separator, sign, negatives, decimal places).
  void setFormat(const numeric_format& format) { format_ = format; }

  /// Pastes the number at the start of `clipboard_text` over the selection, as Ctrl+V does.
  void pasteNumber(const QString& clipboard_text);

  /// The separator and sign of the user's locale, read once for the process.
  static const numeric_format& locale_format();

 protected:
  /// Filters typed keys before the edit sees them; routes the paste shortcuts to `pasteNumber`.
  void keyPressEvent(QKeyEvent* event) override;
  /// Pastes the primary selection with the middle button through `pasteNumber`.
  void mouseReleaseEvent(QMouseEvent* event) override;
  /// The edit's context menu with its Paste entry going through `pasteNumber`.
  void contextMenuEvent(QContextMenuEvent* event) override;
  /// Input methods may commit only text that the paste rules keep.
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  numeric_format format_;
};

}  // namespace quorvane
