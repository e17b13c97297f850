// The General page of the preferences: start hidden in the notification area, notify arrivals.
#pragma once

#include <QWidget>

#include "ui/layout/dialog_layout.h"

namespace quorvane {

/// "Start Minimized" and "Show a notification when a document arrives", each written to its preference
/// ("StartMinimized", "NotifyArrivals") at every click.
class CPreferencesGeneral : public QWidget {
  Q_OBJECT

 public:
  /// Control ids of the check boxes.
  enum : int { id_start_minimized = 1033, id_notify_arrivals = 1034 };

  /// The page, its check box ticked as stored.
  explicit CPreferencesGeneral(QWidget* parent = nullptr);

  /// The page's controls by id.
  const dialog_layout& controls() const { return layout_; }

 private:
  dialog_layout layout_;
};

}  // namespace quorvane
