// The real print service as the fuzz targets run it in their own process: in a data folder of its own (in
// memory where /dev/shm exists), with its IPP printers on a loopback port of the kernel's choice and nothing
// advertised, silent, asking no CUPS scheduler.
#pragma once

#include <memory>
#include <string>

#include "net/poll_runloop.h"
#include "print_service/local_service.h"

namespace quorvane::fuzz {

/// One service after another on the same run loop.
class fuzzed_service {
 public:
  /// Silences the log and keeps the services off CUPS and the system bus (for the whole process).
  fuzzed_service();
  /// Stops the service and removes its folder.
  ~fuzzed_service();
  fuzzed_service(const fuzzed_service&) = delete;
  fuzzed_service& operator=(const fuzzed_service&) = delete;

  /// Stops the running service, if any, removes its folder and starts a new one on `loop` in a new folder.
  /// Aborts the process when the service cannot start: every later input would fail alike.
  void restart(poll_runloop& loop);

  /// Stops the running service, if any, and removes its folder.
  void stop();

  /// The running service.
  print_service::local_service& service() { return *service_; }

  /// The port of the running service's IPP printers.
  uint16_t ipp_port() const { return ipp_port_; }

 private:
  std::string folder_;
  std::unique_ptr<print_service::local_service> service_;
  uint16_t ipp_port_ = 0;
};

}  // namespace quorvane::fuzz
