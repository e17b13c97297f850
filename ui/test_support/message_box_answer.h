// Answers the next message box a test's code opens (the box runs its own event loop, so the answer comes
// from a timer), keeping what it said.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTimer>

namespace quorvane::testing {

/// Once armed, clicks `answer` on the first QMessageBox that becomes the active modal window, after reading
/// its caption and text.
struct message_box_answer {
  QMessageBox::StandardButton answer = QMessageBox::Ok;
  QString caption;
  QString text;

  /// Starts looking for the box, every 10 ms for at most `tries` times (so that a box that never comes
  /// leaves no timer behind once the test has ended; the object must live that long).
  void arm(int tries = 300) {
    QTimer::singleShot(10, [this, tries] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) {
        if (tries > 1) arm(tries - 1);
        return;
      }
      caption = box->windowTitle();
      text = box->text();
      if (QAbstractButton* button = box->button(answer))
        button->click();
      else
        box->accept();
    });
  }
};

}  // namespace quorvane::testing
