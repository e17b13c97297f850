// The update window: shows that a check runs, then its outcome, with a Download button for a newer version.
#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

#include "ui/layout/dialog_layout.h"
#include "ui/updates/update_check.h"

namespace quorvane {

class http_client;

/// Runs one update check when shown through `start` and presents its outcome. "Download" opens the release's
/// download address with the desktop's browser and closes the window; "Close" and Escape close it.
class CUpdateDialog : public QDialog {
 public:
  /// Control ids of the window's table.
  enum : int {
    id_close = 2,
    id_heading = 1001,
    id_detail = 1002,
    id_busy = 1003,
    id_notes = 1004,
    id_notes_link = 1005,
    id_download = 1006,
  };

  /// Opens an address outside the console; false when nothing could open it.
  using url_opener = std::function<bool(const QUrl& url)>;

  /// The window in its "checking" state; the check runs over `client`, which must outlive the window.
  explicit CUpdateDialog(http_client& client, QWidget* parent = nullptr);

  /// Starts a check (again), showing the "checking" state until it ends.
  void start();

  /// Replaces how addresses are opened (the desktop's browser by default; a test's stand-in).
  void set_url_opener(url_opener open) { open_ = std::move(open); }

  /// The outcome shown; `kind::failed` with an empty message while the check runs.
  const update_outcome& outcome() const { return outcome_; }
  /// True while a check runs.
  bool checking() const { return checking_; }
  /// The window's controls by id.
  const dialog_layout& controls() const { return layout_; }

 private:
  /// Shows `texts` and the controls they call for.
  void show_texts(const update_texts& texts);
  /// Opens `url`, saying so in the window when that fails; true when it opened.
  bool open_url(const QUrl& url);

  update_checker checker_;
  dialog_layout layout_;
  update_outcome outcome_;
  bool checking_ = false;
  url_opener open_;
};

/// The "Check For Updates..." command: shows the update window over `parent` (raising the one already open
/// instead of opening a second) and starts a check over the console's HTTP client. The window deletes itself
/// when closed. Returns it.
CUpdateDialog* check_for_updates(QWidget* parent = nullptr);

}  // namespace quorvane
