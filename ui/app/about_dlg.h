// The about box: the console's version, copyright and the libraries it is built with.
#pragma once

#include <QDialog>

#include <span>

#include "ui/layout/dialog_layout.h"

namespace quorvane {

/// The version text of the about box.
inline constexpr const char* console_version_text = "Quorvane 2.2.0.609";

/// The about box's layout (235 x 100 dialog units); the icon (id 1) is a custom row.
std::span<const dialog_control> about_box_controls();

/// "About Quorvane": modal, closed with OK or Escape.
class CAboutDlg final : public QDialog {
 public:
  /// The control id of the OK button.
  static constexpr int id_ok = 1;
  /// The control id of the icon.
  static constexpr int id_icon = 2;

  /// The box over `parent`.
  explicit CAboutDlg(QWidget* parent = nullptr);

  /// The box's controls by id.
  const dialog_layout& controls() const { return layout_; }

 private:
  dialog_layout layout_;
};

}  // namespace quorvane
