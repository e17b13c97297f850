// The "Quorvane Preferences" dialog: the General, Network and Advanced pages.
#pragma once

#include <QDialog>

#include "ui/layout/dialog_layout.h"
#include "ui/preferences/links.h"

class QTabWidget;

namespace quorvane {

class CPreferencesAdvanced;
class CPreferencesGeneral;
class CPreferencesNetwork;

/// The console's preferences, run modally with `exec()`. Every choice takes effect when it is made; there is
/// no Cancel (Escape and "OK" both close). Leaving the Network page, or closing, with a port that is not an
/// integer from 1 to 65535 shows why and keeps the Network page. Closing stores the proxy settings.
class PreferencesDlg : public QDialog {
  Q_OBJECT

 public:
  /// Control ids of the dialog's table.
  enum : int { id_ok = 1, id_page_frame = 1049 };

  /// The dialog over `parent` with its three pages, talking to the console through `links`.
  PreferencesDlg(QWidget* parent, const preferences_links& links);
  /// Stores the proxy settings when the dialog goes away without having been closed.
  ~PreferencesDlg() override;

  /// The page holder (tabs "General", "Network", "Advanced").
  QTabWidget* pages() const { return pages_; }
  /// The General page.
  CPreferencesGeneral* general() const { return general_; }
  /// The Network page.
  CPreferencesNetwork* network() const { return network_; }
  /// The Advanced page.
  CPreferencesAdvanced* advanced() const { return advanced_; }
  /// The dialog's own controls by id.
  const dialog_layout& controls() const { return layout_; }

  /// Closes unless the Network page refuses its port; then stores the proxy settings.
  void done(int result) override;

 private:
  /// The page holder changed pages: leaving the Network page needs a valid port.
  void page_changed(int index);

  dialog_layout layout_;
  QTabWidget* pages_ = nullptr;
  CPreferencesGeneral* general_ = nullptr;
  CPreferencesNetwork* network_ = nullptr;
  CPreferencesAdvanced* advanced_ = nullptr;
  int current_page_ = 0;
  bool stored_ = false;
};

}  // namespace quorvane
