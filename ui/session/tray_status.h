// What the tray icon's tooltip says: whether the print service is connected, and the last document that
// arrived ("Last document: report.pdf from 192.168.1.23, 2 minutes ago"). No widgets.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "ui/session/arrival_notices.h"

namespace quorvane {

/// The state the tooltip tells.
class tray_status {
 public:
  /// The print service connected (true) or not.
  void set_connected(bool connected) { connected_ = connected; }
  /// `a` arrived at `when` (a steady clock in milliseconds).
  void arrived(const arrival& a, std::chrono::milliseconds when);

  /// The tooltip at `now`: "Quorvane", the service's state, and the last document with how long ago.
  std::string tooltip(std::chrono::milliseconds now) const;

 private:
  bool connected_ = false;
  std::optional<arrival> last_;
  std::chrono::milliseconds last_time_{0};
};

/// How long ago `elapsed` was, in words: "just now" (under a minute), "1 minute ago", "N minutes ago",
/// "1 hour ago", "N hours ago", "N days ago".
std::string time_ago(std::chrono::milliseconds elapsed);

}  // namespace quorvane
