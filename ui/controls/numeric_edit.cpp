#include "ui/controls/numeric_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

namespace quorvane {

CNumericEdit::CNumericEdit(QWidget* parent) : QLineEdit(parent), format_(locale_format()) {
  // Dropped text would bypass the rules.
  setAcceptDrops(false);
}

const numeric_format& CNumericEdit::locale_format() {
  static const numeric_format format = numeric_format::from_locale(QLocale());
  return format;
}

void CNumericEdit::pasteNumber(const QString& clipboard_text) {
  if (isReadOnly()) return;
  const int start = hasSelectedText() ? selectionStart() : cursorPosition();
  const int end = hasSelectedText() ? selectionEnd() : cursorPosition();
  const paste_result result = paste_number(format_, text(), start, end, clipboard_text);
  if (result.beep) QApplication::beep();
  if (!result.changed) return;
  // Through the edit's own editing path, so that undo and textEdited keep working.
  selectAll();
  insert(result.text);
  setCursorPosition(result.caret);
}

void CNumericEdit::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    pasteNumber(QApplication::clipboard()->text(QClipboard::Clipboard));
    return;
  }
  const numeric_key key = classify_key(format_, event->key(), event->modifiers(), event->text());
  if (key == numeric_key::other || isReadOnly()) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  const int start = hasSelectedText() ? selectionStart() : cursorPosition();
  const int end = hasSelectedText() ? selectionEnd() : cursorPosition();
  switch (judge_key(format_, key, text(), start, end)) {
    case key_verdict::refuse_with_beep:
      QApplication::beep();
      [[fallthrough]];
    case key_verdict::refuse:
      event->accept();
      return;
    case key_verdict::pass:
      break;
  }
  // The keypad's decimal and minus keys type the locale's characters, whatever the keyboard layout says.
  if (key == numeric_key::decimal) {
    insert(QString(format_.decimal_separator));
  } else if (key == numeric_key::minus) {
    insert(QString(format_.negative_sign));
  } else {
    QLineEdit::keyPressEvent(event);
  }
}

void CNumericEdit::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton && QApplication::clipboard()->supportsSelection()) {
    setCursorPosition(cursorPositionAt(event->position().toPoint()));
    pasteNumber(QApplication::clipboard()->text(QClipboard::Selection));
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void CNumericEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (QAction* action : menu->actions()) {
    if (action->objectName() == QLatin1String("edit-paste")) {
      action->disconnect();
      connect(action, &QAction::triggered, this,
              [this] { pasteNumber(QApplication::clipboard()->text(QClipboard::Clipboard)); });
    }
  }
  menu->popup(event->globalPos());
}

void CNumericEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (event->commitString().isEmpty()) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  const QString committed = event->commitString();
  QInputMethodEvent without_commit(event->preeditString(), event->attributes());
  QLineEdit::inputMethodEvent(&without_commit);
  pasteNumber(committed);
}

}  // namespace quorvane
