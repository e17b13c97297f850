// The console's session with the local print service: connecting and reconnecting, the session's first
// requests, the first run's printers, and what the service sends (printer notifications, print requests).
#pragma once

#include <QTimer>

#include <cstdint>
#include <functional>
#include <list>
#include <vector>

#include <json/value.h>

#include "service_link/server_stub.h"
#include "spooler/delivered_jobs.h"
#include "ui/session/printer_list_controller.h"

namespace quorvane {

/// The print service's port when nothing else is said.
inline constexpr uint16_t default_service_port = 6631;

/// The period of the connection attempts while the service cannot be reached, in milliseconds.
inline constexpr int connect_retry_ms = 3000;

/// The service's port: QUORVANE_SERVICE_PORT when it holds a number from 1 to 65535, else 6631 (an invalid
/// value is logged).
uint16_t service_port();

/// How phones reach the service's IPP printers, as its "attributes" said (port 0: not said yet).
struct ipp_reach {
  uint16_t port = 0;
  bool loopback_only = false;  // the service runs with --ipp-listen loopback
  bool dnssd = true;           // the printers are advertised
};

/// Drives the connection to the service on 127.0.0.1 and the session on it; receives the service's
/// notifications and print requests. Lives on the thread of the main run loop, which must be set before
/// `start`.
///
/// Views: connecting (initial) until "observe" succeeded on a connection, then connected until that
/// connection closes; every close returns to connecting and makes a new attempt at once; a failed attempt is
/// repeated every 3000 ms.
class service_session final : public server::delegate {
 public:
  /// Delivers one job; the completion answers the service.
  using print_function = std::function<void(model::printer_ptr, model::job_ptr, print_completion)>;

  /// A session on `port` feeding `list` (not owned). Nothing is sent before `start`.
  service_session(printer_list_controller& list, uint16_t port);
  /// Closes the connection without reconnecting.
  ~service_session();
  service_session(const service_session&) = delete;
  service_session& operator=(const service_session&) = delete;

  /// Enters the connecting view, which makes the first connection attempt.
  void start();
  /// One connection attempt (also timer 1's handler): nothing when connected; on success "authenticate" is
  /// sent; on failure the timer is (re)started with 3000 ms.
  void attempt();

  /// True while the connecting view is shown.
  bool connecting() const { return connecting_; }
  /// True while timer 1 is armed.
  bool retry_pending() const { return retry_timer_.isActive(); }
  /// Timer 1's period in milliseconds.
  int retry_interval_ms() const { return retry_timer_.interval(); }
  /// The service's "filenameGenerationFlags" as last received or set; 0 at first.
  int32_t filename_flags() const { return filename_flags_; }
  /// Sets the file-name flags kept for the preferences (the caller sends "saveAttributes").
  void set_filename_flags(int32_t flags) { filename_flags_ = flags; }
  /// How phones reach the IPP printers, from the last "attributes" answer.
  const ipp_reach& ipp() const { return ipp_; }
  /// The port the session connects to.
  uint16_t port() const { return port_; }
  /// The connection attempts that failed since the last one that connected (or since the start).
  int failed_attempts() const { return failed_attempts_; }

  /// Sends "updatePrinter"; `done` (may be empty) hears the status.
  void updatePrinter(model::printer_ptr printer, server::status_callback done = {});
  /// Sends "removePrinter"; `done` (may be empty) hears the status.
  void removePrinter(model::printer_ptr printer, server::status_callback done = {});
  /// Sends "saveAttributes"; `done` (may be empty) hears the status.
  void saveAttributes(const Json::Value& attributes, server::status_callback done = {});

  /// Replaces the delivery of print requests (the spooler component's `print` by default); a job delivered
  /// before, by this console or an earlier run of it, is answered from the record of delivered jobs
  /// without reaching it.
  void set_print_function(print_function deliver) { deliver_ = std::move(deliver); }
  /// Adds a handler called with true on entering the connected view, false on entering the connecting view
  /// (the window and the tray icon each have one).
  void on_view_changed(std::function<void(bool connected)> handler) {
    view_handlers_.push_back(std::move(handler));
  }
  /// Called after every failed connection attempt with the number of attempts that failed in a row.
  void on_attempt_failed(std::function<void(int failed_attempts)> handler) {
    attempt_failed_handler_ = std::move(handler);
  }
  /// Called once a job this console delivered (not one answered from the record of delivered jobs) has its
  /// outcome, after the service was answered: with the printer, the job and the status.
  void on_arrival(std::function<void(const model::printer&, const model::job&, int32_t status)> handler) {
    arrival_handler_ = std::move(handler);
  }

  /// The JSON-RPC client of the service.
  server_stub& stub();
  /// The record of the jobs this console delivered.
  delivered_jobs& delivered() { return *delivered_; }

  // ---- server::delegate

  /// Merges the printers into the list and the stored records.
  void printersWereUpdated(std::list<smart_ptr<model::printer>>& printers) override;
  /// Deletes the printers' rows.
  void printersWereRemoved(std::list<smart_ptr<model::printer>>& printers) override;
  /// Ignored.
  void devicesWereUpdated(std::list<smart_ptr<model::device>>&) override {}
  /// Ignored.
  void devicesWereRemoved(std::list<smart_ptr<model::device>>&) override {}
  /// Hands the request to the delivery function unchanged, once per job: a repeat is answered as the first
  /// delivery was.
  void print(smart_ptr<model::printer>& printer, smart_ptr<model::job>& job,
             print_completion completion) override;

 private:
  class stub_impl;

  /// Enters the connecting view and makes an attempt (unless inside one).
  void enter_connecting();
  /// Enters the connected view, runs the first run's set-up and sends every stored printer.
  void make_ready();
  /// The connection closed under the session.
  void connection_closed();
  /// A callback of the session's requests runs only for the connection it was sent on.
  bool current(uint64_t generation) const { return generation == generation_ && !stopping_; }

  printer_list_controller& list_;
  uint16_t port_;
  smart_ptr<stub_impl> stub_;
  QTimer retry_timer_;
  print_function deliver_;
  smart_ptr<delivered_jobs> delivered_ = make_counted<delivered_jobs>();
  std::vector<std::function<void(bool)>> view_handlers_;
  std::function<void(const model::printer&, const model::job&, int32_t status)> arrival_handler_;
  std::function<void(int)> attempt_failed_handler_;
  int failed_attempts_ = 0;
  int32_t filename_flags_ = 0;
  ipp_reach ipp_;
  bool connecting_ = true;
  bool in_attempt_ = false;
  bool stopping_ = false;
  uint64_t generation_ = 0;  // rises with every successful connect
};

}  // namespace quorvane
