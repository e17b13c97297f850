// The white panel with a black border behind the main window's connecting view (on a dark theme, the
// theme's base colour with a border in its text colour).
#pragma once

#include <QWidget>

namespace quorvane {

/// Paints its whole area opaque white with a one-pixel black border (on a dark palette: base colour, border
/// in the text colour); nothing under it shows through.
class CBackground : public QWidget {
  Q_OBJECT

 public:
  /// A panel on `parent`.
  explicit CBackground(QWidget* parent = nullptr);

 protected:
  /// Fills the panel and draws the border along the edges.
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quorvane
