// The white panel with a black border behind the main window's connecting view.
#pragma once

#include <QWidget>

namespace quorvane {

/// Paints its whole area opaque white with a one-pixel black border; nothing under it shows through.
class CBackground : public QWidget {
  Q_OBJECT

 public:
  /// A panel on `parent`.
  explicit CBackground(QWidget* parent = nullptr);

 protected:
  /// Fills white and draws the border along the edges.
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quorvane
