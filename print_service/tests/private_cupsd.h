// A cupsd of a test's own: its configuration, queues and logs in a temporary folder and its own port on
// 127.0.0.1, so that a test may stop and start it, or refuse subscriptions, without disturbing the shared
// scheduler other tests use.
#pragma once

#include <string>
#include <vector>

#include "service_process.h"

namespace quorvane::print_service::testing {

/// One private scheduler, reached through CUPS_SERVER=`server()`.
class private_cupsd {
 public:
  /// A scheduler keeping everything under `folder`; with `refuse_subscriptions` it allows one subscription
  /// only and another client holds it, so that it refuses every Create-Printer-Subscriptions (as a busy
  /// scheduler at its limit does).
  explicit private_cupsd(std::string folder, bool refuse_subscriptions = false);
  /// Stops the scheduler if it runs.
  ~private_cupsd();
  private_cupsd(const private_cupsd&) = delete;
  private_cupsd& operator=(const private_cupsd&) = delete;

  /// Makes later first starts take their backends, filters and helpers from `folder` (ServerBin) instead of
  /// the system's.
  void set_server_bin(std::string folder) { server_bin_ = std::move(folder); }

  /// Starts the scheduler (writing its configuration and picking a port on the first call; later calls
  /// keep both) and waits until it answers. False with `reason()` set when it cannot run here.
  bool start();
  /// Stops the scheduler with SIGTERM and waits for it.
  void stop();

  /// "127.0.0.1:PORT", the value for CUPS_SERVER.
  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
  /// Why the last start failed.
  const std::string& reason() const { return reason_; }

  /// Runs a CUPS tool (lpadmin, cupsdisable, ...) against this scheduler and waits for it. Returns its exit
  /// status; its output is appended to `output` when given.
  int run_tool(const std::vector<std::string>& argv, std::string* output = nullptr) const;

 private:
  /// Creates the one subscription the scheduler allows, for another user. False with `reason_` set.
  bool take_the_only_subscription();

  std::string folder_;
  bool refuse_subscriptions_;
  int port_ = 0;
  std::string reason_;
  std::string server_bin_;
  child_process process_;
};

/// The path of a program found in PATH or the usual system folders; "" when there is none.
std::string find_program(const std::string& name);

/// Runs the CUPS tool `argv` (its name looked up with `find_program`) with `environment` added, its output
/// appended to `output_file`, and waits for it (30 s at most). Returns its exit status, 127 when it cannot
/// be started.
int run_cups_tool(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                  const std::string& output_file);

}  // namespace quorvane::print_service::testing
