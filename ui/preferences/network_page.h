// The Network page of the preferences: the HTTP proxy, from the system or configured by hand.
#pragma once

#include <QWidget>

#include <cstdint>

#include "ui/layout/dialog_layout.h"
#include "ui/preferences/links.h"
#include "ui/preferences/network.h"

namespace quorvane {

/// Shows the proxy the console uses; with "Configure Manually" ticked its four fields are editable. The
/// system's answer arrives without blocking and fills the fields while they are not configured by hand.
class CPreferencesNetwork : public QWidget {
  Q_OBJECT

 public:
  /// Control ids of the page's table.
  enum : int { id_manual = 1033, id_host = 1006, id_port = 1023, id_user = 1045, id_password = 1046 };

  /// The page over the stored record; unless configured by hand, the system is asked at once.
  CPreferencesNetwork(const preferences_links& links, QWidget* parent = nullptr);

  /// The page's working values.
  const network_preferences& values() const { return values_; }
  /// The page's controls by id.
  const dialog_layout& controls() const { return layout_; }

  /// The port check run when the page is left: shows the refusal and returns false when the port text is
  /// not an integer from 1 to 65535.
  bool check_leaving();
  /// Stores the values (the dialog closes).
  void store();

 private:
  /// "Configure Manually" was clicked.
  void manual_clicked(bool ticked);
  /// Asks the system for its proxy; an answer to an earlier question is dropped.
  void ask_system();
  /// Shows the working values in the edits.
  void show_values();
  /// Enables the edits exactly in manual mode.
  void update_enabled();

  preferences_links links_;
  network_preferences values_;
  dialog_layout layout_;
  uint64_t question_ = 0;  // the system question whose answer is awaited
};

}  // namespace quorvane
