// The General page of the preferences: start hidden in the notification area.
#pragma once

#include <QWidget>

#include "ui/layout/dialog_layout.h"

namespace quorvane {

/// "Start Minimized", written to the preference "StartMinimized" at every click.
class CPreferencesGeneral : public QWidget {
  Q_OBJECT

 public:
  /// Control id of the check box.
  enum : int { id_start_minimized = 1033 };

  /// The page, its check box ticked as stored.
  explicit CPreferencesGeneral(QWidget* parent = nullptr);

  /// The page's controls by id.
  const dialog_layout& controls() const { return layout_; }

 private:
  dialog_layout layout_;
};

}  // namespace quorvane
