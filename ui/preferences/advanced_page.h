// The Advanced page of the preferences: which parts the service puts into print-job file names, and the
// logging level.
#pragma once

#include <QWidget>

#include <optional>

#include "ui/layout/dialog_layout.h"
#include "ui/preferences/advanced.h"
#include "ui/preferences/links.h"

class QMenu;

namespace quorvane {

/// Three file-name check boxes, each click sending {"filenameGenerationFlags": flags} and updating the
/// sample; the "Logging:" button, whose arrow opens the levels' menu: the chosen level (or "None" when the
/// menu closed without a choice, or when the face was clicked) sets the console's log level and is sent as
/// {"logLevel": level}.
class CPreferencesAdvanced : public QWidget {
  Q_OBJECT

 public:
  /// Control ids of the page's table.
  enum : int {
    id_sample = 1052,
    id_device_user = 1033,
    id_device_ip = 1080,
    id_device_ethernet = 1090,
    id_logging = 1020,
  };

  /// The page with the main window's flags and the console's log level.
  CPreferencesAdvanced(const preferences_links& links, QWidget* parent = nullptr);

  /// The page's working values.
  const advanced_preferences& values() const { return values_; }
  /// The page's controls by id.
  const dialog_layout& controls() const { return layout_; }
  /// The logging button's menu.
  QMenu* logging_menu() const { return menu_; }

  /// Applies a level chosen from the menu (its command id), or no choice: sets the button's text and the
  /// console's log level, and sends {"logLevel": level}.
  void choose_level(std::optional<int> command);

 protected:
  /// Shows the sample and the current log level's name each time the page is shown.
  void showEvent(QShowEvent* event) override;

 private:
  /// One of the three check boxes was clicked.
  void flag_clicked(int32_t bit, bool ticked);
  /// Sends a "saveAttributes" object, ignoring the result.
  void send(const Json::Value& attributes);

  preferences_links links_;
  advanced_preferences values_;
  dialog_layout layout_;
  QMenu* menu_ = nullptr;
  std::optional<int> chosen_;  // the entry chosen while the menu was open
};

}  // namespace quorvane
